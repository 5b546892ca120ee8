#include "guess/formats/Mrc.h"

#include <cstdint>
#include <cstring>
#include <optional>

namespace guess {

namespace {

constexpr int64_t HeaderBytes = 1024;
// Old files without "MAP " must look like a map in every field we read;
// sides this long are already far beyond what microscopes record.
constexpr int32_t MaxOldSide = 1 << 16;

class THeader {
public:
  THeader(const uint8_t* Bytes, bool Big)
      : FBytes(Bytes)
      , FBig(Big) {}

  int32_t Int32(int Offset) const {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
      value |= uint32_t{FBytes[Offset + i]} << (8 * (FBig ? 3 - i : i));
    return static_cast<int32_t>(value);
  }
  bool Big() const { return FBig; }

private:
  const uint8_t* FBytes;
  bool FBig;
};

struct TMode {
  int32_t Code;
  std::optional<TVoxelType> Type; // absent: no voxel type shows it
  const char* What;
};

constexpr TMode Modes[] = {
    {0, vtInt8, "signed bytes as MRC2014 reads them"},
    {1, vtInt16, "16-bit integers"},
    {2, vtFloat32, "32-bit floats"},
    {3, std::nullopt, "complex 16-bit integers"},
    {4, std::nullopt, "complex 32-bit floats"},
    {6, vtUInt16, "unsigned 16-bit integers"},
    {12, vtFloat16, "16-bit floats"},
    {101, std::nullopt, "4-bit integers"},
};

const TMode* ModeOf(int32_t Code) {
  for (const TMode& mode : Modes)
    if (mode.Code == Code)
      return &mode;
  return nullptr;
}

// The byte order the machine stamp states, when it states one.
std::optional<bool> StampedBig(const uint8_t* Stamp) {
  if (Stamp[0] == 0x44 && (Stamp[1] == 0x44 || Stamp[1] == 0x41))
    return false;
  if (Stamp[0] == 0x11 && Stamp[1] == 0x11)
    return true;
  return std::nullopt;
}

bool Dimensioned(const THeader& Header, int32_t MaxSide) {
  for (int offset : {0, 4, 8}) {
    const int32_t side = Header.Int32(offset);
    if (side < 1 || side > MaxSide)
      return false;
  }
  return ModeOf(Header.Int32(12)) != nullptr && Header.Int32(92) >= 0;
}

// MAPC, MAPR, MAPS name the axes 1, 2 and 3 in some order in every map.
bool AxesNamed(const THeader& Header) {
  int seen = 0;
  for (int offset : {64, 68, 72}) {
    const int32_t axis = Header.Int32(offset);
    if (axis < 1 || axis > 3)
      return false;
    seen |= 1 << axis;
  }
  return seen == 0b1110;
}

// The voxel bytes the header states, or nothing when they overflow.
std::optional<int64_t> VoxelBytes(const THeader& Header, int32_t Bytes) {
  int64_t total = Bytes;
  for (int offset : {0, 4, 8})
    if (__builtin_mul_overflow(total, int64_t{Header.Int32(offset)}, &total))
      return std::nullopt;
  return total;
}

bool Fits(const THeader& Header, int64_t FileSize) {
  const TMode* mode = ModeOf(Header.Int32(12));
  // The types with no voxel here still take room: complex two of its parts,
  // a 4-bit voxel half a byte (counted as none, which only loosens the check).
  const int32_t bytes = mode->Type        ? BytesPerVoxel[*mode->Type]
                        : mode->Code == 3 ? 4
                        : mode->Code == 4 ? 8
                                          : 0;
  const std::optional<int64_t> voxels = VoxelBytes(Header, bytes);
  const int64_t start = HeaderBytes + Header.Int32(92);
  return voxels && *voxels <= FileSize - start;
}

TContainerReading Reading(const THeader& Header, int64_t FileSize, bool HasMap) {
  TContainerReading reading;
  reading.Format = "MRC";
  const TMode* mode = ModeOf(Header.Int32(12));
  const std::string order = Header.Big() ? "big-endian" : "little-endian";
  if (!Dimensioned(Header, INT32_MAX) || mode == nullptr) {
    reading.NoRawVoxels = "MRC header with no usable size or mode (" +
                          std::to_string(Header.Int32(12)) + "): the file holds no raw voxels";
    return reading;
  }
  if (!mode->Type) {
    reading.NoRawVoxels = "MRC map of " + std::string(mode->What) + " (mode " +
                          std::to_string(mode->Code) + "): the file holds no raw voxels";
    return reading;
  }
  if (!Fits(Header, FileSize)) {
    reading.NoRawVoxels = "MRC header states more voxels than the file holds";
    return reading;
  }
  TStatedLayout layout;
  layout.Dims = {Header.Int32(0), Header.Int32(4), Header.Int32(8)};
  layout.VoxelType = *mode->Type;
  layout.ByteOrder = Header.Big() && BytesPerVoxel[*mode->Type] > 1 ? boBigEndian : boLittleEndian;
  layout.DataStart = HeaderBytes + Header.Int32(92);
  const std::string where = std::string(HasMap ? "MRC header" : "MRC header (old style)") +
                            ", mode " + std::to_string(mode->Code);
  layout.Note = where + ", " + mode->What + (BytesPerVoxel[*mode->Type] > 1 ? ", " + order : "");
  reading.Layouts.push_back(layout);
  if (mode->Code == 0) {
    // Signed since MRC2014; many older writers meant unsigned bytes.
    layout.VoxelType = vtByte;
    layout.Score = 0.97;
    layout.Note = where + ", read as unsigned bytes as older writers meant it";
    reading.Layouts.push_back(layout);
  }
  return reading;
}

} // namespace

TContainerReading ReadMrc(TByteSource& Source) {
  uint8_t bytes[HeaderBytes] = {};
  if (Source.ReadAt(0, bytes, HeaderBytes) < HeaderBytes)
    return {};
  if (std::memcmp(bytes + 208, "MAP ", 4) == 0) {
    // A stamp that says nothing (some writers leave it zero) leaves the
    // order in which the sizes make sense.
    std::optional<bool> big = StampedBig(bytes + 212);
    if (!big) {
      auto plausible = [&](bool Big) {
        const THeader header(bytes, Big);
        return Dimensioned(header, MaxOldSide) && Fits(header, Source.Size());
      };
      big = !plausible(false) && plausible(true);
    }
    return Reading(THeader(bytes, *big), Source.Size(), true);
  }
  for (bool big : {false, true}) {
    const THeader header(bytes, big);
    if (Dimensioned(header, MaxOldSide) && AxesNamed(header) && Fits(header, Source.Size()))
      return Reading(header, Source.Size(), false);
  }
  return {};
}

} // namespace guess
