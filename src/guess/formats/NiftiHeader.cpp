#include "guess/formats/NiftiHeader.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace guess {

namespace {

constexpr int64_t Nifti1Bytes = 348;
constexpr int64_t Nifti2Bytes = 540;

// The header's own byte order, since the format has no field for it beyond
// sizeof_hdr reading right one way round.
class TFields {
public:
  TFields(const uint8_t* Head, bool BigEndian)
      : FHead(Head)
      , FBig(BigEndian) {}

  uint64_t Unsigned(int64_t Offset, int Size) const {
    uint64_t value = 0;
    for (int i = 0; i < Size; ++i) {
      const int shift = 8 * (FBig ? Size - 1 - i : i);
      value |= uint64_t{FHead[Offset + i]} << shift;
    }
    return value;
  }
  int16_t Int16(int64_t Offset) const { return static_cast<int16_t>(Unsigned(Offset, 2)); }
  int32_t Int32(int64_t Offset) const { return static_cast<int32_t>(Unsigned(Offset, 4)); }
  int64_t Int64(int64_t Offset) const { return static_cast<int64_t>(Unsigned(Offset, 8)); }
  float Single(int64_t Offset) const {
    return std::bit_cast<float>(static_cast<uint32_t>(Unsigned(Offset, 4)));
  }
  bool Big() const { return FBig; }
  bool Magic(int64_t Offset, const char (&Text)[4]) const {
    return std::memcmp(FHead + Offset, Text, 4) == 0;
  }

private:
  const uint8_t* FHead;
  bool FBig;
};

// Analyze knows only the first five of these codes; NIfTI added the rest.
// Complex, RGB and the 128-bit types have no single-channel voxel here.
std::optional<TVoxelType> TypeOfCode(int64_t Code, bool Analyze) {
  switch (Code) {
  case 2:
    return vtByte;
  case 4:
    return vtInt16;
  case 8:
    return vtInt32;
  case 16:
    return vtFloat32;
  case 64:
    return vtFloat64;
  default:
    break;
  }
  if (Analyze)
    return std::nullopt;
  switch (Code) {
  case 256:
    return vtInt8;
  case 512:
    return vtUInt16;
  case 768:
    return vtUInt32;
  case 1024:
    return vtInt64;
  case 1280:
    return vtUInt64;
  default:
    return std::nullopt;
  }
}

// The fields both versions share, read into one shape. Dims are as stated;
// the caller's fit checks them against the file.
std::optional<TStatedLayout> StatedLayout(int64_t DimCount, const int64_t* Dims, int64_t TypeCode,
                                          int64_t BitsPerVoxel, bool Analyze, bool BigEndian) {
  if (DimCount < 2 || DimCount > 7)
    return std::nullopt;
  const std::optional<TVoxelType> type = TypeOfCode(TypeCode, Analyze);
  // Some writers leave bitpix 0; any other disagreement is a damaged header.
  if (!type || (BitsPerVoxel != 0 && BitsPerVoxel != 8 * BytesPerVoxel[*type]))
    return std::nullopt;
  TStatedLayout layout;
  layout.Dims.assign(Dims, Dims + DimCount);
  layout.VoxelType = *type;
  layout.ByteOrder = BigEndian && BytesPerVoxel[*type] > 1 ? boBigEndian : boLittleEndian;
  return layout;
}

THeaderReading ReadNifti1(const TFields& Fields) {
  THeaderReading reading;
  const bool single = Fields.Magic(344, "n+1");
  const bool analyze = !single && !Fields.Magic(344, "ni1");
  reading.Format = analyze ? "Analyze 7.5" : "NIfTI-1";
  reading.Detail = Fields.Big() ? " (big-endian)" : "";
  reading.Detached = !single;
  int64_t dims[7] = {};
  const int64_t dimCount = Fields.Int16(40);
  for (int i = 0; i < 7; ++i)
    dims[i] = Fields.Int16(42 + 2 * i);
  reading.Layout =
      StatedLayout(dimCount, dims, Fields.Int16(70), Fields.Int16(72), analyze, Fields.Big());
  if (!reading.Layout || analyze) // Analyze's voxels start the .img
    return reading;
  // vox_offset is a float; only a whole, sane number of bytes is a place.
  const float offset = Fields.Single(108);
  const int64_t least = single ? Nifti1Bytes : 0;
  if (!std::isfinite(offset) || offset != std::floor(offset) || offset < float(least) ||
      offset > 1e9f)
    reading.Layout.reset();
  else
    reading.Layout->DataStart = static_cast<int64_t>(offset);
  return reading;
}

THeaderReading ReadNifti2(const TFields& Fields) {
  const bool single = Fields.Magic(4, "n+2");
  if (!single && !Fields.Magic(4, "ni2"))
    return {};
  THeaderReading reading;
  reading.Format = "NIfTI-2";
  reading.Detail = Fields.Big() ? " (big-endian)" : "";
  reading.Detached = !single;
  int64_t dims[7] = {};
  const int64_t dimCount = Fields.Int64(16);
  for (int i = 0; i < 7; ++i)
    dims[i] = Fields.Int64(24 + 8 * i);
  reading.Layout =
      StatedLayout(dimCount, dims, Fields.Int16(12), Fields.Int16(14), false, Fields.Big());
  const int64_t offset = Fields.Int64(168);
  if (reading.Layout && offset >= (single ? Nifti2Bytes : 0))
    reading.Layout->DataStart = offset;
  else
    reading.Layout.reset();
  return reading;
}

} // namespace

THeaderReading ReadNiftiHeader(const uint8_t* Head, int64_t HeadBytes) {
  for (bool big : {false, true}) {
    const TFields fields(Head, big);
    if (HeadBytes >= Nifti1Bytes && fields.Int32(0) == Nifti1Bytes)
      return ReadNifti1(fields);
    if (HeadBytes >= Nifti2Bytes && fields.Int32(0) == Nifti2Bytes)
      return ReadNifti2(fields);
  }
  return {};
}

} // namespace guess
