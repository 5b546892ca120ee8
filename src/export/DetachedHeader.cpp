#include "export/DetachedHeader.h"

#include <algorithm>
#include <array>

namespace layoutexport {
namespace {

// ASCII letters only: names are bytes, whatever the locale says of them.
std::string WithCase(std::string Text, bool Upper) {
  for (char& c : Text)
    if (Upper ? (c >= 'a' && c <= 'z') : (c >= 'A' && c <= 'Z'))
      c = static_cast<char>(c + (Upper ? 'A' - 'a' : 'a' - 'A'));
  return Text;
}

bool EndsWith(const std::string& Text, const char* Tail) {
  const std::string tail(Tail);
  return Text.size() >= tail.size() &&
         Text.compare(Text.size() - tail.size(), tail.size(), tail) == 0;
}

// Each format's word for each voxel type (TVoxelType order); null where the
// format has none.
struct TTypeWords {
  const char* Nrrd;
  const char* Meta;
  const char* Envi;
  const char* Numpy;
};

constexpr std::array<TTypeWords, VoxelTypeCount> TypeWords = {{
    {"uint8", "MET_UCHAR", "1", "u1"},
    {"int16", "MET_SHORT", "2", "i2"},
    {"int32", "MET_INT", "3", "i4"},
    {"float", "MET_FLOAT", "4", "f4"},
    {"uint16", "MET_USHORT", "12", "u2"},
    {"int8", "MET_CHAR", nullptr, "i1"},
    {"uint32", "MET_UINT", "13", "u4"},
    {"int64", "MET_LONG_LONG", nullptr, "i8"},
    {"uint64", "MET_ULONG_LONG", nullptr, "u8"},
    {nullptr, nullptr, nullptr, "f2"},
    {"double", "MET_DOUBLE", "5", "f8"},
}};

const char* TypeWord(THeaderFormat Format, TVoxelType Type) {
  const TTypeWords& words = TypeWords.at(Type);
  switch (Format) {
  case THeaderFormat::Nrrd:
    return words.Nrrd;
  case THeaderFormat::MetaImage:
    return words.Meta;
  case THeaderFormat::Envi:
    return words.Envi;
  }
  return nullptr;
}

bool BigEndian(const TLayout& Layout) {
  return Layout.ByteOrder == boBigEndian && BytesPerVoxel.at(Layout.VoxelType) > 1;
}

std::string Joined(const std::vector<int64_t>& Sizes) {
  std::string text;
  for (const int64_t size : Sizes)
    text.append(text.empty() ? "" : " ").append(std::to_string(size));
  return text;
}

bool IsInteger(const std::string& Word) {
  const size_t digits = Word.find_first_not_of("+-") == 1 ? 1 : 0;
  return Word.size() > digits && Word.find_first_not_of("0123456789", digits) == std::string::npos;
}

std::vector<std::string> Words(const std::string& Text) {
  std::vector<std::string> words;
  size_t at = 0;
  while ((at = Text.find_first_not_of(' ', at)) != std::string::npos) {
    const size_t end = std::min(Text.find(' ', at), Text.size());
    words.push_back(Text.substr(at, end - at));
    at = end;
  }
  return words;
}

// Why a reference cannot be the value of a header line, or the empty text.
// Readers trim the value and end it at the line break; NRRD takes "LIST" and
// a name followed by three numbers for lists and patterns of files, and
// MetaImage takes "LOCAL", "LIST" and a '%' likewise.
std::string ReferenceProblem(THeaderFormat Format, const std::string& Reference) {
  if (std::any_of(Reference.begin(), Reference.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7F'; }))
    return "its name holds a line break or another control character";
  if (Reference.empty() || Reference.front() == ' ' || Reference.back() == ' ')
    return "its name starts or ends with a blank, which readers drop";
  const std::string upper = WithCase(Reference, true);
  if (Format == THeaderFormat::Nrrd) {
    const std::vector<std::string> words = Words(Reference);
    if (upper.starts_with("LIST") ||
        (words.size() >= 4 && IsInteger(words[1]) && IsInteger(words[2]) && IsInteger(words[3])))
      return "NRRD would read its name as a list or a numbered pattern of files";
  }
  if (Format == THeaderFormat::MetaImage &&
      (upper == "LOCAL" || upper.starts_with("LIST") || Reference.find('%') != std::string::npos))
    return "MetaImage would read its name as a list or a numbered pattern of files";
  return {};
}

std::string NrrdText(const TLayout& Layout, const TExtent& Extent, const std::string& Reference,
                     bool Gzip) {
  std::string text = "NRRD0004\n";
  text.append("type: ").append(TypeWord(THeaderFormat::Nrrd, Layout.VoxelType)).append("\n");
  text.append("dimension: ").append(std::to_string(Extent.Sizes.size())).append("\n");
  text.append("sizes: ").append(Joined(Extent.Sizes)).append("\n");
  if (BytesPerVoxel.at(Layout.VoxelType) > 1)
    text.append("endian: ").append(BigEndian(Layout) ? "big" : "little").append("\n");
  // With a compressed encoding the byte skip counts decompressed bytes, as here.
  text.append(Gzip ? "encoding: gzip\n" : "encoding: raw\n");
  text.append("byte skip: ").append(std::to_string(Layout.HeaderBytes)).append("\n");
  return text.append("data file: ").append(Reference).append("\n");
}

std::string MetaText(const TLayout& Layout, const TExtent& Extent, const std::string& Reference) {
  std::string text = "ObjectType = Image\n";
  text.append("NDims = ").append(std::to_string(Extent.Sizes.size())).append("\n");
  text.append("DimSize = ").append(Joined(Extent.Sizes)).append("\n");
  text.append("ElementType = ")
      .append(TypeWord(THeaderFormat::MetaImage, Layout.VoxelType))
      .append("\n");
  text.append("BinaryData = True\n");
  text.append("BinaryDataByteOrderMSB = ")
      .append(BigEndian(Layout) ? "True" : "False")
      .append("\n");
  text.append("HeaderSize = ").append(std::to_string(Layout.HeaderBytes)).append("\n");
  return text.append("ElementDataFile = ").append(Reference).append("\n");
}

// ENVI knows bands, not volumes: the volumes' slices follow one another as
// bands, which the description says.
std::string EnviText(const TLayout& Layout, const TExtent& Extent) {
  const std::vector<int64_t>& sizes = Extent.Sizes;
  const int64_t bands = sizes.size() > 3 ? sizes[2] * sizes[3] : sizes[2];
  std::string text = "ENVI\n";
  if (sizes.size() > 3)
    text.append("description = {")
        .append(std::to_string(sizes[3]))
        .append(" volumes of ")
        .append(std::to_string(sizes[2]))
        .append(" slices}\n");
  text.append("samples = ").append(std::to_string(sizes[0])).append("\n");
  text.append("lines = ").append(std::to_string(sizes[1])).append("\n");
  text.append("bands = ").append(std::to_string(bands)).append("\n");
  text.append("header offset = ").append(std::to_string(Layout.HeaderBytes)).append("\n");
  text.append("file type = ENVI Standard\n");
  text.append("data type = ").append(TypeWord(THeaderFormat::Envi, Layout.VoxelType)).append("\n");
  text.append("interleave = bsq\n");
  return text.append("byte order = ").append(BigEndian(Layout) ? "1" : "0").append("\n");
}

std::string TypeProblem(THeaderFormat Format, TVoxelType Type) {
  if (TypeWord(Format, Type))
    return {};
  if (Type == vtFloat16)
    return std::string(FormatName(Format)) + " has no float16 voxels.";
  if (Type == vtInt8)
    return std::string(FormatName(Format)) + " has no int8 voxels.";
  return std::string(FormatName(Format)) + " has no 64-bit integer voxels.";
}

// Printable ASCII stands as it is in a Python string; other UTF-8 too, but
// bytes that are not UTF-8 can only be said in a bytes literal, which
// numpy.memmap takes as a file name just the same.
bool IsUtf8(const std::string& Text) {
  for (size_t i = 0; i < Text.size();) {
    const auto lead = static_cast<unsigned char>(Text[i]);
    const int more = lead < 0x80   ? 0
                     : lead < 0xC2 ? -1
                     : lead < 0xE0 ? 1
                     : lead < 0xF0 ? 2
                     : lead < 0xF5 ? 3
                                   : -1;
    if (more < 0 || (more > 0 && i + static_cast<size_t>(more) >= Text.size()))
      return false;
    uint32_t point = more == 0 ? lead : lead & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
      const auto next = static_cast<unsigned char>(Text[i + static_cast<size_t>(k)]);
      if ((next >> 6) != 2)
        return false;
      point = point << 6 | (next & 0x3F);
    }
    constexpr uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (point < least[more] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000))
      return false;
    i += static_cast<size_t>(more) + 1;
  }
  return true;
}

std::string PythonLiteral(const std::string& Text) {
  const bool bytes = !IsUtf8(Text);
  std::string literal = bytes ? "b\"" : "\"";
  constexpr char hex[] = "0123456789abcdef";
  for (const char c : Text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\')
      literal.append(1, '\\').append(1, c);
    else if (u < 0x20 || u == 0x7F || (bytes && u >= 0x80))
      literal.append("\\x").append(1, hex[u >> 4]).append(1, hex[u & 15]);
    else
      literal.append(1, c);
  }
  return literal.append("\"");
}

} // namespace

std::optional<THeaderFormat> HeaderFormatOf(const std::string& Name) {
  const std::string lower = WithCase(Name, false);
  for (const THeaderFormat format :
       {THeaderFormat::Nrrd, THeaderFormat::MetaImage, THeaderFormat::Envi})
    if (EndsWith(lower, ExtensionOf(format)))
      return format;
  return std::nullopt;
}

const char* ExtensionOf(THeaderFormat Format) {
  switch (Format) {
  case THeaderFormat::Nrrd:
    return ".nhdr";
  case THeaderFormat::MetaImage:
    return ".mhd";
  case THeaderFormat::Envi:
    return ".hdr";
  }
  return "";
}

const char* FormatName(THeaderFormat Format) {
  switch (Format) {
  case THeaderFormat::Nrrd:
    return "NRRD";
  case THeaderFormat::MetaImage:
    return "MetaImage";
  case THeaderFormat::Envi:
    return "ENVI";
  }
  return "";
}

TExtent ExtentOf(const TLayout& Layout, int64_t FileBytes) {
  TExtent extent;
  const int64_t sliceBytes =
      int64_t{Layout.VoxelsPerRow} * Layout.RowsPerSlice * BytesPerVoxel.at(Layout.VoxelType);
  const int64_t slices = sliceBytes > 0 && FileBytes > Layout.HeaderBytes
                             ? (FileBytes - Layout.HeaderBytes) / sliceBytes
                             : 0;
  if (slices < 1) {
    extent.Why = "The file holds no whole slice of this layout.";
    return extent;
  }
  const int64_t perVolume = Layout.SlicesPerVolume;
  extent.Sizes = {Layout.VoxelsPerRow, Layout.RowsPerSlice, std::min(slices, perVolume)};
  if (slices / perVolume > 1)
    extent.Sizes.push_back(slices / perVolume);
  return extent;
}

namespace {

std::string CompressionProblem(THeaderFormat Format, platform::TCompression Compression) {
  if (Compression == platform::TCompression::None ||
      (Format == THeaderFormat::Nrrd && Compression == platform::TCompression::Gzip))
    return {};
  const std::string kind = platform::CompressionName(Compression);
  if (Format == THeaderFormat::Nrrd)
    return "NRRD can describe a gzip data file only; this one is compressed with " + kind + ".";
  return std::string(FormatName(Format)) + " cannot describe a data file compressed with " + kind +
         ".";
}

} // namespace

TText HeaderText(THeaderFormat Format, const TLayout& Layout, const TExtent& Extent,
                 const std::string& DataFileReference, platform::TCompression Compression) {
  TText result;
  if (!(result.Why = CompressionProblem(Format, Compression)).empty())
    return result;
  if (!Extent.Why.empty() || Extent.Sizes.size() < 3) {
    result.Why = Extent.Why.empty() ? "The file holds no whole slice of this layout." : Extent.Why;
    return result;
  }
  if ((result.Why = TypeProblem(Format, Layout.VoxelType)).empty() &&
      Format != THeaderFormat::Envi) {
    const std::string problem = ReferenceProblem(Format, DataFileReference);
    if (!problem.empty())
      result.Why = "The data file cannot be named in a header line: " + problem + ".";
  }
  if (!result.Why.empty())
    return result;
  switch (Format) {
  case THeaderFormat::Nrrd:
    result.Text =
        NrrdText(Layout, Extent, DataFileReference, Compression == platform::TCompression::Gzip);
    break;
  case THeaderFormat::MetaImage:
    result.Text = MetaText(Layout, Extent, DataFileReference);
    break;
  case THeaderFormat::Envi:
    result.Text = EnviText(Layout, Extent);
    break;
  }
  return result;
}

std::string NumpyLine(const std::string& FileName, const TLayout& Layout, const TExtent& Extent) {
  const char* order = BytesPerVoxel.at(Layout.VoxelType) == 1 ? "|" : BigEndian(Layout) ? ">" : "<";
  std::string shape;
  for (auto size = Extent.Sizes.rbegin(); size != Extent.Sizes.rend(); ++size)
    shape.append(shape.empty() ? "" : ", ").append(std::to_string(*size));
  std::string line = "numpy.memmap(" + PythonLiteral(FileName) + ", dtype=\"" + order;
  line.append(TypeWords.at(Layout.VoxelType).Numpy).append("\", mode=\"r\", offset=");
  return line.append(std::to_string(Layout.HeaderBytes)).append(", shape=(" + shape + "))");
}

} // namespace layoutexport
