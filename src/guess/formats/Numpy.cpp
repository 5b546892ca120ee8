#include "guess/formats/Numpy.h"

#include "guess/formats/LittleEndian.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace guess {

namespace {

// Real headers are a few hundred bytes; a structured type with many fields
// may take a few KiB. Anything longer is not worth the budget.
constexpr int64_t MaxNpyHeaderBytes = int64_t{64} << 10;
constexpr int MaxShapeRank = 32;
// More members than any archive of arrays has; keeps a hostile directory short.
constexpr int MaxMembers = 256;
constexpr int64_t LocalHeaderBytes = 30;
constexpr int64_t CentralHeaderBytes = 46;
constexpr int64_t EndRecordBytes = 22;
constexpr uint32_t LocalSignature = 0x04034b50;
constexpr uint32_t CentralSignature = 0x02014b50;
constexpr uint32_t EndSignature = 0x06054b50;
constexpr uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr uint32_t Zip64EndSignature = 0x06064b50;
constexpr uint32_t Sized32 = 0xFFFFFFFF; // the size is in the Zip64 extra field
constexpr uint16_t DeferredSizes = 8;    // sizes follow the data and are in the directory

// The .npy header is a Python dict literal; only three of its keys matter.
class TDictParser {
public:
  explicit TDictParser(std::string_view Text)
      : FText(Text) {}

  void SkipBlanks() {
    while (FAt < FText.size() &&
           (FText[FAt] == ' ' || FText[FAt] == '\t' || FText[FAt] == '\n' || FText[FAt] == '\r'))
      ++FAt;
  }
  bool Take(char C) {
    SkipBlanks();
    if (FAt < FText.size() && FText[FAt] == C) {
      ++FAt;
      return true;
    }
    return false;
  }
  std::optional<std::string> String() {
    SkipBlanks();
    if (FAt >= FText.size() || (FText[FAt] != '\'' && FText[FAt] != '"'))
      return std::nullopt;
    const char quote = FText[FAt];
    const size_t end = FText.find(quote, FAt + 1);
    if (end == std::string_view::npos)
      return std::nullopt;
    std::string text(FText.substr(FAt + 1, end - FAt - 1));
    FAt = end + 1;
    return text;
  }
  std::string Word() {
    SkipBlanks();
    const size_t begin = FAt;
    while (FAt < FText.size() && (std::isalnum(static_cast<unsigned char>(FText[FAt])) != 0))
      ++FAt;
    return std::string(FText.substr(begin, FAt - begin));
  }
  // A non-negative integer, with Python 2's long suffix as old files wrote it.
  std::optional<int64_t> Integer() {
    SkipBlanks();
    int64_t value = 0;
    bool any = false;
    while (FAt < FText.size() && FText[FAt] >= '0' && FText[FAt] <= '9') {
      if (__builtin_mul_overflow(value, 10, &value) ||
          __builtin_add_overflow(value, FText[FAt] - '0', &value))
        return std::nullopt;
      any = true;
      ++FAt;
    }
    if (FAt < FText.size() && (FText[FAt] == 'L' || FText[FAt] == 'l'))
      ++FAt;
    return any ? std::optional<int64_t>(value) : std::nullopt;
  }
  // A tuple of integers: "()", "(3,)", "(2, 3, 4)".
  std::optional<std::vector<int64_t>> Shape() {
    if (!Take('('))
      return std::nullopt;
    std::vector<int64_t> shape;
    while (!Take(')')) {
      const std::optional<int64_t> size = Integer();
      if (!size || std::ssize(shape) >= MaxShapeRank)
        return std::nullopt;
      shape.push_back(*size);
      if (!Take(',')) {
        if (!Take(')'))
          return std::nullopt;
        break;
      }
    }
    return shape;
  }
  // Any other value (a structured type's list of fields, say), bracket by
  // bracket; strings inside may hold brackets of their own.
  bool SkipValue() {
    SkipBlanks();
    int depth = 0;
    while (FAt < FText.size()) {
      const char c = FText[FAt];
      if (c == '\'' || c == '"') {
        if (!String())
          return false;
        continue;
      }
      if (depth == 0 && (c == ',' || c == '}'))
        return true;
      if (c == '(' || c == '[' || c == '{')
        ++depth;
      else if (c == ')' || c == ']' || c == '}')
        --depth;
      ++FAt;
    }
    return false;
  }

private:
  std::string_view FText;
  size_t FAt = 0;
};

struct TNpyDict {
  std::optional<std::string> Descr; // absent also when it is not a plain string
  bool StructuredDescr = false;
  std::optional<bool> Fortran;
  std::optional<std::vector<int64_t>> Shape;
};

std::optional<TNpyDict> ParseDict(std::string_view Text) {
  TDictParser parser(Text);
  TNpyDict dict;
  if (!parser.Take('{'))
    return std::nullopt;
  for (int entries = 0; !parser.Take('}'); ++entries) {
    const std::optional<std::string> key = parser.String();
    if (!key || entries > 64 || !parser.Take(':'))
      return std::nullopt;
    if (*key == "descr") {
      dict.Descr = parser.String();
      dict.StructuredDescr = !dict.Descr;
      if (!dict.Descr && !parser.SkipValue())
        return std::nullopt;
    } else if (*key == "fortran_order") {
      const std::string word = parser.Word();
      if (word != "True" && word != "False")
        return std::nullopt;
      dict.Fortran = word == "True";
    } else if (*key == "shape") {
      dict.Shape = parser.Shape();
      if (!dict.Shape)
        return std::nullopt;
    } else if (!parser.SkipValue()) {
      return std::nullopt;
    }
    if (!parser.Take(',')) {
      if (!parser.Take('}'))
        return std::nullopt;
      break;
    }
  }
  if ((!dict.Descr && !dict.StructuredDescr) || !dict.Fortran || !dict.Shape)
    return std::nullopt;
  return dict;
}

struct TDescr {
  TVoxelType Type = vtByte;
  TByteOrder Order = boLittleEndian;
};

std::optional<TDescr> VoxelOf(std::string_view Descr) {
  static constexpr std::pair<std::string_view, TVoxelType> Codes[] = {
      {"u1", vtByte},   {"b1", vtByte},    {"i1", vtInt8},    {"i2", vtInt16},
      {"u2", vtUInt16}, {"i4", vtInt32},   {"u4", vtUInt32},  {"i8", vtInt64},
      {"u8", vtUInt64}, {"f2", vtFloat16}, {"f4", vtFloat32}, {"f8", vtFloat64},
  };
  if (Descr.size() != 3 || std::string_view("<>=|").find(Descr[0]) == std::string_view::npos)
    return std::nullopt;
  for (const auto& [code, type] : Codes)
    if (Descr.substr(1) == code) {
      const bool big = Descr[0] == '>' && BytesPerVoxel[type] > 1;
      return TDescr{type, big ? boBigEndian : boLittleEndian};
    }
  return std::nullopt;
}

// Why a type that is no voxel type is not one, for a person.
std::string KindOf(const TNpyDict& Dict) {
  if (Dict.StructuredDescr)
    return "records of several fields";
  const std::string& descr = *Dict.Descr;
  const char kind =
      descr.find_first_not_of("<>=|") < descr.size() ? descr[descr.find_first_not_of("<>=|")] : '?';
  switch (kind) {
  case 'c':
    return "complex numbers ('" + descr + "')";
  case 'S':
  case 'a':
  case 'U':
    return "strings ('" + descr + "')";
  case 'O':
    return "Python objects";
  case 'V':
    return "raw records ('" + descr + "')";
  case 'M':
  case 'm':
    return "dates or times ('" + descr + "')";
  default:
    return "values of type '" + descr + "'";
  }
}

std::string ShapeText(const std::vector<int64_t>& Shape) {
  std::string text = "(";
  for (size_t i = 0; i < Shape.size(); ++i)
    text += (i > 0 ? ", " : "") + std::to_string(Shape[i]);
  return text + (Shape.size() == 1 ? ",)" : ")");
}

// What one .npy says, read at At and held to the Room bytes it may take.
struct TNpyReading {
  bool IsNpy = false; // the magic is there
  std::optional<TStatedLayout> Layout;
  std::string Why; // when there is no layout: why, for a person
};

TNpyReading ReadNpy(TByteSource& Source, int64_t At, int64_t Room) {
  TNpyReading reading;
  uint8_t preamble[12] = {};
  const int64_t got = Source.ReadAt(At, preamble, sizeof preamble);
  if (got < 10 || std::memcmp(preamble, "\x93NUMPY", 6) != 0)
    return reading;
  reading.IsNpy = true;
  const int major = preamble[6];
  if (major < 1 || major > 3 || (major > 1 && got < 12)) {
    reading.Why = "NumPy file of unknown version " + std::to_string(major) + "." +
                  std::to_string(preamble[7]);
    return reading;
  }
  const int64_t fieldBytes = major == 1 ? 2 : 4;
  const auto headerBytes = static_cast<int64_t>(Little(preamble + 8, static_cast<int>(fieldBytes)));
  const int64_t dataStart = 8 + fieldBytes + headerBytes;
  if (headerBytes > MaxNpyHeaderBytes || dataStart > Room) {
    reading.Why = "NumPy header runs past the end of the file";
    return reading;
  }
  const std::vector<uint8_t> text = Source.Read(At + 8 + fieldBytes, headerBytes);
  const std::optional<TNpyDict> dict =
      std::ssize(text) == headerBytes
          ? ParseDict(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()))
          : std::nullopt;
  if (!dict) {
    reading.Why = "NumPy header that cannot be read";
    return reading;
  }
  const std::optional<TDescr> voxel = dict->StructuredDescr ? std::nullopt : VoxelOf(*dict->Descr);
  if (!voxel) {
    reading.Why = "NumPy array of " + KindOf(*dict) + ": the file holds no raw voxels";
    return reading;
  }
  const std::vector<int64_t>& shape = *dict->Shape;
  int64_t bytes = BytesPerVoxel[voxel->Type];
  for (int64_t size : shape)
    if (__builtin_mul_overflow(bytes, size, &bytes)) {
      reading.Why = "NumPy array of shape " + ShapeText(shape) + " is too large to be a file";
      return reading;
    }
  if (bytes == 0) {
    reading.Why = "NumPy array of shape " + ShapeText(shape) + " holds no voxels";
    return reading;
  }
  if (bytes > Room - dataStart) {
    reading.Why = "NumPy array of shape " + ShapeText(shape) + " needs " + std::to_string(bytes) +
                  " bytes; only " + std::to_string(Room - dataStart) + " follow its header";
    return reading;
  }
  TStatedLayout layout;
  layout.Dims = shape.empty() ? std::vector<int64_t>{1} : shape;
  // C order keeps the last axis fastest.
  if (!*dict->Fortran)
    std::reverse(layout.Dims.begin(), layout.Dims.end());
  layout.VoxelType = voxel->Type;
  layout.ByteOrder = voxel->Order;
  layout.DataStart = At + dataStart;
  reading.Layout = std::move(layout);
  return reading;
}

struct TMember {
  int64_t HeaderAt = 0; // its local header
  uint16_t Method = 0;
  int64_t Size = -1;    // stored bytes; -1 when not known
  bool PastEnd = false; // its stated size runs past the end of the file
  std::string Name;
};

// A 64-bit size or offset; one past what a file can be reads as -2.
int64_t Signed(uint64_t Value) {
  return Value > uint64_t{INT64_MAX} ? -2 : static_cast<int64_t>(Value);
}

// The 64-bit sizes a Zip64 extra field holds, in the order of the 32-bit
// fields that are saturated (a local header holds both whenever it has one).
struct TZip64Sizes {
  std::optional<uint64_t> Uncompressed, Compressed, Offset;
};

TZip64Sizes Zip64Sizes(const std::vector<uint8_t>& Extra, bool Uncompressed, bool Compressed,
                       bool Offset) {
  TZip64Sizes sizes;
  for (size_t at = 0; at + 4 <= Extra.size();) {
    const auto id = Little(Extra, at, 2);
    const auto length = static_cast<size_t>(Little(Extra, at + 2, 2));
    if (id == 1) {
      size_t field = at + 4;
      const size_t end = std::min(at + 4 + length, Extra.size());
      auto next = [&](bool Present, std::optional<uint64_t>& Value) {
        if (Present && field + 8 <= end) {
          Value = Little(Extra, field, 8);
          field += 8;
        }
      };
      next(Uncompressed, sizes.Uncompressed);
      next(Compressed, sizes.Compressed);
      next(Offset, sizes.Offset);
      return sizes;
    }
    at += 4 + length;
  }
  return sizes;
}

// The central directory's stored sizes by local header offset, for members
// whose local headers defer them. Empty when there is no readable directory.
std::unordered_map<int64_t, int64_t> DirectorySizes(TByteSource& Source) {
  std::unordered_map<int64_t, int64_t> sizes;
  const int64_t tailBytes = std::min<int64_t>(Source.Size(), EndRecordBytes + 0xFFFF);
  const int64_t tailAt = Source.Size() - tailBytes;
  const std::vector<uint8_t> tail = Source.Read(tailAt, tailBytes);
  int64_t end = std::ssize(tail) - EndRecordBytes;
  while (end >= 0 && Little(tail, static_cast<size_t>(end), 4) != EndSignature)
    --end;
  if (end < 0)
    return sizes;
  auto endAt = static_cast<size_t>(end);
  int64_t count = static_cast<int64_t>(Little(tail, endAt + 10, 2));
  int64_t directoryAt = static_cast<int64_t>(Little(tail, endAt + 16, 4));
  if (end >= 20 && Little(tail, endAt - 20, 4) == Zip64LocatorSignature) {
    const auto recordAt = static_cast<int64_t>(Little(tail, endAt - 12, 8));
    const std::vector<uint8_t> record = Source.Read(recordAt, 56);
    if (Little(record, 0, 4) == Zip64EndSignature) {
      count = static_cast<int64_t>(Little(record, 32, 8));
      directoryAt = static_cast<int64_t>(Little(record, 48, 8));
    }
  }
  int64_t at = directoryAt;
  for (int64_t i = 0; i < std::min<int64_t>(count, MaxMembers) && at >= 0; ++i) {
    const std::vector<uint8_t> header = Source.Read(at, CentralHeaderBytes);
    if (std::ssize(header) < CentralHeaderBytes || Little(header, 0, 4) != CentralSignature)
      break;
    const int64_t nameBytes = static_cast<int64_t>(Little(header, 28, 2));
    const int64_t extraBytes = static_cast<int64_t>(Little(header, 30, 2));
    const int64_t commentBytes = static_cast<int64_t>(Little(header, 32, 2));
    const uint64_t size = Little(header, 20, 4);
    const uint64_t uncompressed = Little(header, 24, 4);
    const uint64_t offset = Little(header, 42, 4);
    const TZip64Sizes wide =
        Zip64Sizes(Source.Read(at + CentralHeaderBytes + nameBytes, extraBytes),
                   uncompressed == Sized32, size == Sized32, offset == Sized32);
    const int64_t local = Signed(offset == Sized32 ? wide.Offset.value_or(~0ull) : offset);
    if (local >= 0)
      sizes.emplace(local, Signed(size == Sized32 ? wide.Compressed.value_or(~0ull) : size));
    at += CentralHeaderBytes + nameBytes + extraBytes + commentBytes;
  }
  return sizes;
}

// The members in the order of their local headers, each header after the
// last member's data, so that no walk comes back to where it was.
std::vector<TMember> Members(TByteSource& Source) {
  std::vector<TMember> members;
  std::optional<std::unordered_map<int64_t, int64_t>> directory;
  int64_t at = 0;
  while (std::ssize(members) < MaxMembers) {
    const std::vector<uint8_t> header = Source.Read(at, LocalHeaderBytes);
    if (std::ssize(header) < LocalHeaderBytes || Little(header, 0, 4) != LocalSignature)
      break;
    TMember member;
    member.HeaderAt = at;
    member.Method = static_cast<uint16_t>(Little(header, 8, 2));
    const auto flags = static_cast<uint16_t>(Little(header, 6, 2));
    const int64_t nameBytes = static_cast<int64_t>(Little(header, 26, 2));
    const int64_t extraBytes = static_cast<int64_t>(Little(header, 28, 2));
    const std::vector<uint8_t> name = Source.Read(at + LocalHeaderBytes, nameBytes);
    member.Name.assign(name.begin(), name.end());
    const int64_t dataAt = at + LocalHeaderBytes + nameBytes + extraBytes;
    const uint64_t size = Little(header, 18, 4);
    const uint64_t uncompressed = Little(header, 22, 4);
    if ((flags & DeferredSizes) != 0) {
      if (!directory)
        directory = DirectorySizes(Source);
      const auto found = directory->find(at);
      member.Size = found == directory->end() ? -1 : found->second;
    } else if (size == Sized32 || uncompressed == Sized32) {
      const TZip64Sizes wide =
          Zip64Sizes(Source.Read(at + LocalHeaderBytes + nameBytes, extraBytes), true, true, false);
      member.Size = Signed(wide.Compressed.value_or(~0ull));
    } else {
      member.Size = static_cast<int64_t>(size);
    }
    int64_t next = 0;
    member.PastEnd = member.Size < -1 || __builtin_add_overflow(dataAt, member.Size, &next) ||
                     next > Source.Size();
    members.push_back(member);
    if (member.Size < 0 || member.PastEnd || next >= Source.Size())
      break;
    if ((flags & DeferredSizes) != 0) {
      // The descriptor after the data: its signature is optional and its
      // sizes 4 or 8 bytes wide; the next local header says which it was.
      int64_t following = -1;
      for (int64_t descriptor : {16, 12, 24, 20}) {
        const std::vector<uint8_t> signature = Source.Read(next + descriptor, 4);
        if (Little(signature, 0, 4) == LocalSignature) {
          following = next + descriptor;
          break;
        }
      }
      if (following < 0)
        break;
      next = following;
    }
    at = next;
  }
  return members;
}

std::string ArrayName(std::string Name) {
  if (Name.size() > 4 && Name.ends_with(".npy"))
    Name.resize(Name.size() - 4);
  return Name;
}

TContainerReading ReadNpz(TByteSource& Source) {
  TContainerReading reading;
  bool compressed = false;
  std::string firstWhy;
  for (const TMember& member : Members(Source)) {
    const bool named = member.Name.ends_with(".npy");
    if (member.Method != 0) {
      compressed = compressed || named;
      continue;
    }
    const std::vector<uint8_t> header = Source.Read(member.HeaderAt + 26, 4);
    const int64_t dataAt = member.HeaderAt + LocalHeaderBytes +
                           static_cast<int64_t>(Little(header, 0, 2) + Little(header, 2, 2));
    const int64_t room =
        member.Size >= 0 ? std::min(member.Size, Source.Size() - dataAt) : Source.Size() - dataAt;
    TNpyReading npy = ReadNpy(Source, dataAt, room);
    if (!npy.IsNpy)
      continue;
    if (member.PastEnd) {
      npy.Layout.reset();
      npy.Why = "the member runs past the end of the file";
    }
    const std::string where = "NumPy array '" + ArrayName(member.Name) + "' in .npz";
    if (npy.Layout) {
      npy.Layout->Note = where;
      reading.Layouts.push_back(std::move(*npy.Layout));
    } else if (firstWhy.empty()) {
      firstWhy = "Member '" + member.Name + "' of the .npz: " + npy.Why;
    }
  }
  if (reading.Layouts.empty() && (compressed || !firstWhy.empty())) {
    reading.NoRawVoxels = compressed && firstWhy.empty()
                              ? "NumPy .npz with compressed members: the file holds no raw voxels"
                              : firstWhy;
  }
  if (!reading.Layouts.empty() || !reading.NoRawVoxels.empty())
    reading.Format = "NumPy";
  return reading;
}

} // namespace

TContainerReading ReadNumpy(TByteSource& Source) {
  uint8_t magic[6] = {};
  if (Source.ReadAt(0, magic, sizeof magic) < 4)
    return {};
  if (std::memcmp(magic, "PK\x03\x04", 4) == 0)
    return ReadNpz(Source);
  TNpyReading npy = ReadNpy(Source, 0, Source.Size());
  if (!npy.IsNpy)
    return {};
  TContainerReading reading;
  reading.Format = "NumPy";
  if (npy.Layout) {
    npy.Layout->Note = "NumPy array";
    reading.Layouts.push_back(std::move(*npy.Layout));
  } else {
    reading.NoRawVoxels = npy.Why;
  }
  return reading;
}

} // namespace guess
