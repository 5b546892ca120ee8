#include "guess/formats/Dicom.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <gdcmDataSet.h>
#include <gdcmExplicitDataElement.h>
#include <gdcmImplicitDataElement.h>
#include <gdcmSwapper.h>
#include <gdcmTrace.h>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace guess {
namespace {

constexpr uint32_t UndefinedLength = 0xFFFFFFFFu;
// A bare data set opens with a short element (character set, image type).
constexpr uint32_t FirstValueBelow = 64 * 1024;
constexpr int MaxDepth = 8;

struct TSyntax {
  bool Explicit = true;
  bool BigEndian = false;
};

struct THead {
  uint16_t Group = 0;
  uint16_t Element = 0;
  std::string Vr; // empty: implicit VR, or an item or delimiter
  uint32_t Length = 0;
  int64_t Start = 0;      // offset of the tag
  int64_t ValueStart = 0; // offset of the value
};

bool IsKnownVr(std::string_view Vr) {
  static constexpr std::string_view Known[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD",
                                               "IS", "LO", "LT", "OB", "OD", "OF", "OL", "OV", "OW",
                                               "PN", "SH", "SL", "SQ", "SS", "ST", "SV", "TM", "UC",
                                               "UI", "UL", "UN", "UR", "US", "UT", "UV"};
  return std::find(std::begin(Known), std::end(Known), Vr) != std::end(Known);
}

bool HasLongLength(std::string_view Vr) {
  static constexpr std::string_view Long[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                                              "SV", "UC", "UN", "UR", "UT", "UV"};
  return std::find(std::begin(Long), std::end(Long), Vr) != std::end(Long);
}

uint16_t U16(const uint8_t* P, bool BigEndian) {
  return BigEndian ? static_cast<uint16_t>(P[0] << 8 | P[1])
                   : static_cast<uint16_t>(P[1] << 8 | P[0]);
}

uint32_t U32(const uint8_t* P, bool BigEndian) {
  return BigEndian ? uint32_t{U16(P, true)} << 16 | U16(P + 2, true)
                   : uint32_t{U16(P + 2, false)} << 16 | U16(P, false);
}

bool IsDelimiter(const THead& Head) {
  return Head.Group == 0xFFFE;
}
bool IsPixelTag(uint16_t Group, uint16_t Element) {
  return Group == 0x7FE0 && (Element == 0x0008 || Element == 0x0009 || Element == 0x0010);
}

// Checks every element of a data set up to its pixel data, so that a file
// whose lengths run past their container or the file is not taken for DICOM,
// and finds the pixel data and the image attributes without reading values.
class TWalker {
public:
  explicit TWalker(TByteSource& Source)
      : FSource(Source) {}

  bool ReadHead(int64_t At, TSyntax Syntax, THead& Head) {
    uint8_t b[12];
    if (FSource.ReadAt(At, b, 8) != 8)
      return false;
    Head = {};
    Head.Start = At;
    Head.Group = U16(b, Syntax.BigEndian);
    Head.Element = U16(b + 2, Syntax.BigEndian);
    if (Head.Group == 0xFFFE || !Syntax.Explicit) {
      Head.Length = U32(b + 4, Syntax.BigEndian);
      Head.ValueStart = At + 8;
      return true;
    }
    Head.Vr.assign(reinterpret_cast<const char*>(b + 4), 2);
    if (!IsKnownVr(Head.Vr))
      return false;
    if (!HasLongLength(Head.Vr)) {
      Head.Length = U16(b + 6, Syntax.BigEndian);
      Head.ValueStart = At + 8;
      return true;
    }
    if (FSource.ReadAt(At + 8, b + 8, 4) != 4 || b[6] != 0 || b[7] != 0)
      return false;
    Head.Length = U32(b + 8, Syntax.BigEndian);
    Head.ValueStart = At + 12;
    return true;
  }

  // The end of the value of Head, which must lie within End; a sequence is
  // walked item by item.
  bool SkipValue(const THead& Head, TSyntax Syntax, int64_t End, int Depth, int64_t& After) {
    const TSyntax inner = Head.Vr == "UN" ? TSyntax{false, false} : Syntax;
    if (Head.Length == UndefinedLength) {
      if (Syntax.Explicit && Head.Vr != "SQ" && Head.Vr != "UN")
        return false;
      return WalkItems(Head.ValueStart, -1, inner, End, Depth + 1, After);
    }
    const int64_t valueEnd = Head.ValueStart + Head.Length;
    if (valueEnd > End)
      return false;
    if (Head.Vr == "SQ" || ((Head.Vr.empty() || Head.Vr == "UN") && StartsWithItem(Head, inner))) {
      int64_t itemsEnd = 0;
      if (!WalkItems(Head.ValueStart, valueEnd, inner, End, Depth + 1, itemsEnd) ||
          itemsEnd != valueEnd)
        return false;
    }
    After = valueEnd;
    return true;
  }

private:
  // A value of unknown VR that starts with an item tag is a sequence, whose
  // items must hold together like any other.
  bool StartsWithItem(const THead& Head, TSyntax Syntax) {
    uint8_t b[4];
    if (Head.Length < 8 || FSource.ReadAt(Head.ValueStart, b, 4) != 4)
      return false;
    return U16(b, Syntax.BigEndian) == 0xFFFE && U16(b + 2, Syntax.BigEndian) == 0xE000;
  }

  // Items from Begin to Stop (or, with Stop < 0, to a sequence delimiter).
  bool WalkItems(int64_t Begin, int64_t Stop, TSyntax Syntax, int64_t End, int Depth,
                 int64_t& After) {
    if (Depth > MaxDepth)
      return false;
    const int64_t limit = Stop >= 0 ? Stop : End;
    int64_t pos = Begin;
    THead head;
    while (Stop < 0 || pos < Stop) {
      if (!ReadHead(pos, Syntax, head) || head.Group != 0xFFFE || head.ValueStart > limit)
        return false;
      if (head.Element == 0xE0DD) {
        After = head.ValueStart;
        return Stop < 0;
      }
      if (head.Element != 0xE000)
        return false;
      if (head.Length == UndefinedLength) {
        if (!WalkElements(head.ValueStart, -1, Syntax, limit, Depth, pos))
          return false;
      } else {
        const int64_t itemEnd = head.ValueStart + head.Length;
        if (itemEnd > limit || !WalkElements(head.ValueStart, itemEnd, Syntax, limit, Depth, pos))
          return false;
      }
    }
    After = pos;
    return pos == Stop;
  }

  // Elements from Begin to Stop (or, with Stop < 0, to an item delimiter).
  bool WalkElements(int64_t Begin, int64_t Stop, TSyntax Syntax, int64_t End, int Depth,
                    int64_t& After) {
    const int64_t limit = Stop >= 0 ? Stop : End;
    int64_t pos = Begin;
    THead head;
    while (Stop < 0 || pos < Stop) {
      if (!ReadHead(pos, Syntax, head) || head.ValueStart > limit)
        return false;
      if (IsDelimiter(head)) {
        if (head.Element != 0xE00D || Stop >= 0)
          return false;
        After = head.ValueStart;
        return true;
      }
      if (!SkipValue(head, Syntax, limit, Depth, pos))
        return false;
    }
    After = pos;
    return pos == Stop;
  }

  TByteSource& FSource;
};

struct TDataSetWalk {
  THead Pixel;                   // the top-level pixel data element
  std::vector<THead> Attributes; // the top-level image attributes of group 0028
};

bool IsImageAttribute(const THead& Head) {
  static constexpr uint16_t Elements[] = {0x0002, 0x0008, 0x0010, 0x0011, 0x0100, 0x0103};
  return Head.Group == 0x0028 &&
         std::find(std::begin(Elements), std::end(Elements), Head.Element) != std::end(Elements);
}

// The top-level elements from Start up to the pixel data. Only element
// headers are read: the values in between are passed by, however large.
std::optional<TDataSetWalk> WalkDataSet(TByteSource& Source, int64_t Start, TSyntax Syntax) {
  TWalker walker(Source);
  TDataSetWalk walk;
  int64_t pos = Start;
  THead head;
  while (walker.ReadHead(pos, Syntax, head) && head.ValueStart <= Source.Size() &&
         !IsDelimiter(head)) {
    if (head.Group > 0x7FE0 || (head.Group == 0x7FE0 && head.Element >= 0x0008)) {
      if (!IsPixelTag(head.Group, head.Element))
        return std::nullopt;
      walk.Pixel = head;
      return walk;
    }
    int64_t after = 0;
    if (!walker.SkipValue(head, Syntax, Source.Size(), 0, after))
      return std::nullopt;
    if (IsImageAttribute(head))
      walk.Attributes.push_back(head);
    pos = after;
  }
  return std::nullopt;
}

// The syntax of a data set that no meta group names, from its first element:
// a plausible first group (0008, or 0002 for a meta group without preamble)
// in either byte order, with a known VR or else a short implicit length.
std::optional<TSyntax> SyntaxOfFirstElement(TByteSource& Source, int64_t Start) {
  uint8_t b[8];
  if (Source.ReadAt(Start, b, 8) != 8)
    return std::nullopt;
  TSyntax syntax;
  if (U16(b, false) == 0x0008 || U16(b, false) == 0x0002)
    syntax.BigEndian = false;
  else if (U16(b, true) == 0x0008)
    syntax.BigEndian = true;
  else
    return std::nullopt;
  syntax.Explicit = IsKnownVr(std::string_view(reinterpret_cast<const char*>(b + 4), 2));
  if (!syntax.Explicit && (syntax.BigEndian || U32(b + 4, false) >= FirstValueBelow))
    return std::nullopt;
  return syntax;
}

struct TMeta {
  int64_t End = 0;
  std::string TransferSyntax;
};

// The file meta group (always explicit VR little endian) from Start.
std::optional<TMeta> ReadMeta(TByteSource& Source, int64_t Start) {
  TWalker walker(Source);
  TMeta meta;
  int64_t pos = Start;
  THead head;
  while (walker.ReadHead(pos, {}, head) && head.Group == 0x0002) {
    int64_t after = 0;
    if (head.Length == UndefinedLength || !walker.SkipValue(head, {}, Source.Size(), 0, after))
      return std::nullopt;
    if (head.Element == 0x0010 && head.Length <= 64) {
      const std::vector<uint8_t> uid = Source.Read(head.ValueStart, head.Length);
      meta.TransferSyntax.assign(uid.begin(), uid.end());
      while (!meta.TransferSyntax.empty() &&
             (meta.TransferSyntax.back() == '\0' || meta.TransferSyntax.back() == ' '))
        meta.TransferSyntax.pop_back();
    }
    pos = after;
  }
  if (pos == Start)
    return std::nullopt;
  meta.End = pos;
  return meta;
}

// The compression a transfer syntax names, or empty for a native one.
std::string CompressionOf(const std::string& Uid) {
  if (Uid == "1.2.840.10008.1.2.1.99")
    return "a deflate-compressed data set";
  if (Uid == "1.2.840.10008.1.2.5")
    return "RLE-compressed pixel data";
  const std::string_view prefix = "1.2.840.10008.1.2.4.";
  if (Uid.starts_with(prefix)) {
    int n = 0;
    const char* first = Uid.data() + prefix.size();
    std::from_chars(first, Uid.data() + Uid.size(), n);
    if (n >= 50 && n <= 79)
      return "JPEG-compressed pixel data";
    if (n == 80 || n == 81)
      return "JPEG-LS-compressed pixel data";
    if (n >= 90 && n <= 93)
      return "JPEG 2000-compressed pixel data";
    if (n == 94 || n == 95)
      return "JPIP-referenced pixel data";
    if (n >= 100 && n <= 106)
      return "MPEG-compressed pixel data";
    if (n == 107 || n == 108)
      return "HEVC-compressed pixel data";
    if (n >= 201 && n <= 203)
      return "High-Throughput JPEG 2000-compressed pixel data";
    return "compressed pixel data";
  }
  if (Uid == "1.2.840.10008.1.2.1.98")
    return "encapsulated pixel data";
  return {};
}

std::optional<TSyntax> NativeSyntax(const std::string& Uid) {
  if (Uid == "1.2.840.10008.1.2")
    return TSyntax{false, false};
  if (Uid == "1.2.840.10008.1.2.1")
    return TSyntax{true, false};
  if (Uid == "1.2.840.10008.1.2.2")
    return TSyntax{true, true};
  return std::nullopt;
}

std::string SyntaxName(TSyntax Syntax) {
  if (!Syntax.Explicit)
    return "implicit VR little endian";
  return Syntax.BigEndian ? "explicit VR big endian" : "explicit VR little endian";
}

void SilenceGdcm() {
  static const bool silenced = [] {
    gdcm::Trace::DebugOff();
    gdcm::Trace::WarningOff();
    gdcm::Trace::ErrorOff();
    return true;
  }();
  (void)silenced;
}

// GDCM has already turned binary values into this machine's byte order.
std::optional<uint16_t> UShortOf(const gdcm::DataSet& DataSet, uint16_t Group, uint16_t Element) {
  const gdcm::Tag tag(Group, Element);
  if (!DataSet.FindDataElement(tag))
    return std::nullopt;
  const gdcm::ByteValue* value = DataSet.GetDataElement(tag).GetByteValue();
  if (value == nullptr || value->GetLength() < 2)
    return std::nullopt;
  uint16_t v = 0;
  std::memcpy(&v, value->GetPointer(), 2);
  return v;
}

// NumberOfFrames is an integer string; absent or empty it means one frame.
std::optional<int64_t> FramesOf(const gdcm::DataSet& DataSet) {
  const gdcm::Tag tag(0x0028, 0x0008);
  if (!DataSet.FindDataElement(tag))
    return 1;
  const gdcm::ByteValue* value = DataSet.GetDataElement(tag).GetByteValue();
  if (value == nullptr || value->GetLength() == 0)
    return 1;
  std::string text(value->GetPointer(), std::min<uint32_t>(value->GetLength(), 16));
  const size_t first = text.find_first_not_of(" \0+", 0, 3);
  const size_t last = text.find_last_not_of(std::string_view(" \0", 2));
  if (first == std::string::npos)
    return 1;
  int64_t frames = 0;
  const char* end = text.data() + last + 1;
  const auto [ptr, ec] = std::from_chars(text.data() + first, end, frames);
  if (ec != std::errc() || ptr != end || frames < 1)
    return std::nullopt;
  return frames;
}

struct TPixelFacts {
  TVoxelType Type = vtByte;
  std::string Problem; // why the pixels are not raw voxels of one sample
};

TPixelFacts TypeOf(uint16_t PixelElement, uint16_t BitsAllocated, uint16_t Representation) {
  TPixelFacts facts;
  if (PixelElement == 0x0008 || PixelElement == 0x0009) {
    const uint16_t bits = PixelElement == 0x0008 ? 32 : 64;
    if (BitsAllocated != bits)
      facts.Problem = "float pixel data of " + std::to_string(BitsAllocated) + " bits";
    facts.Type = bits == 32 ? vtFloat32 : vtFloat64;
    return facts;
  }
  const bool isSigned = Representation == 1;
  switch (BitsAllocated) {
  case 8:
    facts.Type = isSigned ? vtInt8 : vtByte;
    break;
  case 16:
    facts.Type = isSigned ? vtInt16 : vtUInt16;
    break;
  case 32:
    facts.Type = isSigned ? vtInt32 : vtUInt32;
    break;
  case 64:
    facts.Type = isSigned ? vtInt64 : vtUInt64;
    break;
  case 1:
  case 12:
    facts.Problem = std::to_string(BitsAllocated) + "-bit packed pixel data";
    break;
  default:
    facts.Problem = std::to_string(BitsAllocated) + "-bit pixel data";
    break;
  }
  return facts;
}

// Big-endian OB and OW are swapped in bytes and words, not in voxels: only
// a voxel of that size keeps its order.
bool OrderHolds(TSyntax Syntax, const THead& Pixel, TVoxelType Type) {
  if (!Syntax.BigEndian || Pixel.Element != 0x0010)
    return true;
  const int32_t bytes = BytesPerVoxel[Type];
  return (Pixel.Vr == "OB" && bytes == 1) || (Pixel.Vr == "OW" && bytes == 2);
}

bool ProductWithin(std::initializer_list<int64_t> Factors, int64_t Limit, int64_t& Product) {
  Product = 1;
  for (const int64_t f : Factors) {
    if (f < 1 || Product > Limit / f)
      return false;
    Product *= f;
  }
  return true;
}

// GDCM decodes each image attribute from exactly the bytes the walk vetted.
// Its reader is not let loose on the whole file: Debian builds it with its
// assertions on, and on a damaged file its repair heuristics leave the vetted
// elements and abort the process when the bytes end.
bool ReadAttributes(TByteSource& Source, TSyntax Syntax, const std::vector<THead>& Attributes,
                    gdcm::DataSet& DataSet) {
  for (const THead& head : Attributes) {
    // Only the plain forms: GDCM would read anything else as a sequence.
    const std::string_view expected = head.Element == 0x0008 ? "IS" : "US";
    if (head.Length > 16 || (Syntax.Explicit && head.Vr != expected))
      return false;
    const std::vector<uint8_t> bytes =
        Source.Read(head.Start, head.ValueStart + head.Length - head.Start);
    if (std::ssize(bytes) != head.ValueStart + head.Length - head.Start ||
        (head.Length >= 4 && U16(&bytes[8], Syntax.BigEndian) == 0xFFFE))
      return false;
    std::istringstream stream(std::string(bytes.begin(), bytes.end()));
    gdcm::DataElement element;
    try {
      if (!Syntax.Explicit)
        element.Read<gdcm::ImplicitDataElement, gdcm::SwapperNoOp>(stream);
      else if (Syntax.BigEndian)
        element.Read<gdcm::ExplicitDataElement, gdcm::SwapperDoOp>(stream);
      else
        element.Read<gdcm::ExplicitDataElement, gdcm::SwapperNoOp>(stream);
    } catch (...) {
      return false;
    }
    if (stream.fail() || element.GetTag() != gdcm::Tag(head.Group, head.Element))
      return false;
    DataSet.Replace(element);
  }
  return true;
}

void ReadImage(TByteSource& Source, TSyntax Syntax, const TDataSetWalk& Walk,
               TContainerReading& Reading) {
  const THead& pixel = Walk.Pixel;
  if (pixel.Length == UndefinedLength) {
    Reading.NoRawVoxels = "DICOM with encapsulated pixel data: the file holds no raw voxels";
    return;
  }
  if (pixel.ValueStart + int64_t{pixel.Length} > Source.Size())
    return;
  gdcm::DataSet dataSet;
  if (!ReadAttributes(Source, Syntax, Walk.Attributes, dataSet))
    return;
  const auto rows = UShortOf(dataSet, 0x0028, 0x0010);
  const auto columns = UShortOf(dataSet, 0x0028, 0x0011);
  const auto bits = UShortOf(dataSet, 0x0028, 0x0100);
  const auto samples = UShortOf(dataSet, 0x0028, 0x0002).value_or(1);
  const auto representation = UShortOf(dataSet, 0x0028, 0x0103).value_or(0);
  const auto frames = FramesOf(dataSet);
  if (!rows || !columns || !bits || !frames)
    return;
  if (samples != 1) {
    Reading.NoRawVoxels = "DICOM with " + std::to_string(samples) +
                          " samples per pixel: the file holds no single-sample voxels";
    return;
  }
  const TPixelFacts facts = TypeOf(pixel.Element, *bits, representation);
  if (!facts.Problem.empty()) {
    Reading.NoRawVoxels = "DICOM with " + facts.Problem + ": the file holds no raw voxels";
    return;
  }
  if (!OrderHolds(Syntax, pixel, facts.Type))
    return;
  int64_t bytes = 0;
  if (!ProductWithin({*columns, *rows, *frames, BytesPerVoxel[facts.Type]},
                     std::min<int64_t>(pixel.Length, Source.Size() - pixel.ValueStart), bytes))
    return;
  TStatedLayout layout;
  layout.Dims = {*columns, *rows, *frames};
  layout.VoxelType = facts.Type;
  layout.ByteOrder =
      Syntax.BigEndian && BytesPerVoxel[facts.Type] > 1 ? boBigEndian : boLittleEndian;
  layout.DataStart = pixel.ValueStart;
  layout.Note = "DICOM pixel data, " + SyntaxName(Syntax);
  Reading.Layouts.push_back(layout);
}

} // namespace

TContainerReading ReadDicom(TByteSource& Source) {
  SilenceGdcm();
  TContainerReading reading;
  uint8_t magic[4];
  const bool part10 = Source.ReadAt(128, magic, 4) == 4 && std::memcmp(magic, "DICM", 4) == 0;
  int64_t start = part10 ? 132 : 0;
  std::optional<TSyntax> syntax;
  if (!part10 && !SyntaxOfFirstElement(Source, 0))
    return reading;
  uint8_t group[2];
  if (Source.ReadAt(start, group, 2) == 2 && U16(group, false) == 0x0002) {
    const std::optional<TMeta> meta = ReadMeta(Source, start);
    if (!meta)
      return part10 ? TContainerReading{"DICOM", {}, {}} : reading;
    start = meta->End;
    if (const std::string compression = CompressionOf(meta->TransferSyntax); !compression.empty()) {
      reading.Format = "DICOM";
      reading.NoRawVoxels = "DICOM with " + compression + ": the file holds no raw voxels";
      return reading;
    }
    syntax = NativeSyntax(meta->TransferSyntax);
    if (!syntax && !meta->TransferSyntax.empty()) {
      reading.Format = "DICOM";
      reading.NoRawVoxels = "DICOM with transfer syntax " + meta->TransferSyntax +
                            ", which this program does not read: the file holds no raw voxels";
      return reading;
    }
  }
  if (!syntax)
    syntax = SyntaxOfFirstElement(Source, start);
  const std::optional<TDataSetWalk> walk =
      syntax ? WalkDataSet(Source, start, *syntax) : std::nullopt;
  if (!walk)
    return part10 ? TContainerReading{"DICOM", {}, {}} : reading;
  reading.Format = "DICOM";
  ReadImage(Source, *syntax, *walk, reading);
  return reading;
}

} // namespace guess
