#include "guess/formats/TextHeaders.h"

#include <charconv>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>

namespace guess {

namespace {

// Far more than any real header has; random bytes give up long before.
constexpr int MaxHeaderLines = 4096;
constexpr int64_t MaxDimensions = 16;

using TFields = std::map<std::string, std::string, std::less<>>;

bool IsBlank(char C) {
  return C == ' ' || C == '\t' || C == '\r' || C == '\n' || C == '\v' || C == '\f';
}

std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && IsBlank(Text.front()))
    Text.remove_prefix(1);
  while (!Text.empty() && IsBlank(Text.back()))
    Text.remove_suffix(1);
  return Text;
}

std::string Lower(std::string_view Text) {
  std::string lower(Text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

struct TLine {
  std::string_view Text; // without its line break
  int64_t Next = 0;      // where the following line starts
  bool Ended = false;    // false when the bytes ran out before a line break
};

// At must lie before HeadBytes.
TLine LineAt(const uint8_t* Head, int64_t HeadBytes, int64_t At) {
  const char* begin = reinterpret_cast<const char*>(Head) + At;
  const auto rest = static_cast<size_t>(HeadBytes - At);
  const auto* lineBreak = static_cast<const char*>(std::memchr(begin, '\n', rest));
  TLine line;
  line.Ended = lineBreak != nullptr;
  const size_t length = line.Ended ? static_cast<size_t>(lineBreak - begin) : rest;
  line.Text = std::string_view(begin, length);
  line.Next = At + static_cast<int64_t>(length) + (line.Ended ? 1 : 0);
  if (!line.Text.empty() && line.Text.back() == '\r')
    line.Text.remove_suffix(1);
  return line;
}

// Blank-separated decimal integers with nothing else among them.
std::optional<std::vector<int64_t>> Integers(std::string_view Text) {
  std::vector<int64_t> values;
  Text = Trim(Text);
  while (!Text.empty() && values.size() <= MaxDimensions) {
    size_t end = 0;
    while (end < Text.size() && !IsBlank(Text[end]))
      ++end;
    std::string_view word = Text.substr(0, end);
    if (word.size() > 1 && word.front() == '+')
      word.remove_prefix(1);
    int64_t value = 0;
    const auto [stop, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || stop != word.data() + word.size())
      return std::nullopt;
    values.push_back(value);
    Text = Trim(Text.substr(end));
  }
  if (!Text.empty())
    return std::nullopt;
  return values;
}

std::optional<int64_t> Integer(std::string_view Text) {
  const std::optional<std::vector<int64_t>> values = Integers(Text);
  if (!values || values->size() != 1)
    return std::nullopt;
  return values->front();
}

std::optional<std::string_view> Field(const TFields& Fields, std::string_view Key) {
  const auto found = Fields.find(Key);
  if (found == Fields.end())
    return std::nullopt;
  return std::string_view(found->second);
}

// A field's integer, Default when it is absent, nothing when it is not one.
std::optional<int64_t> IntegerField(const TFields& Fields, std::string_view Key, int64_t Default) {
  const std::optional<std::string_view> text = Field(Fields, Key);
  return text ? Integer(*text) : Default;
}

std::optional<std::vector<int64_t>> Dimensions(const TFields& Fields, std::string_view CountKey,
                                               std::string_view SizesKey) {
  const std::optional<int64_t> count = IntegerField(Fields, CountKey, 0);
  const std::optional<std::string_view> sizes = Field(Fields, SizesKey);
  if (!count || *count < 1 || *count > MaxDimensions || !sizes)
    return std::nullopt;
  std::optional<std::vector<int64_t>> dims = Integers(*sizes);
  if (!dims || static_cast<int64_t>(dims->size()) != *count)
    return std::nullopt;
  return dims;
}

// The type's ordinal, or -1 for a name not in the table.
template <size_t Count>
int Lookup(const std::pair<std::string_view, TVoxelType> (&Table)[Count],
           const std::optional<std::string_view>& Name) {
  if (Name)
    for (const auto& [name, type] : Table)
      if (name == Lower(*Name))
        return type;
  return -1;
}

// MET_LONG and MET_ULONG are 32 bits in MetaImage, whatever C says.
constexpr std::pair<std::string_view, TVoxelType> MetaTypes[] = {
    {"met_uchar", vtByte},        {"met_char", vtInt8},     {"met_short", vtInt16},
    {"met_ushort", vtUInt16},     {"met_int", vtInt32},     {"met_uint", vtUInt32},
    {"met_long", vtInt32},        {"met_ulong", vtUInt32},  {"met_long_long", vtInt64},
    {"met_ulong_long", vtUInt64}, {"met_float", vtFloat32}, {"met_double", vtFloat64}};

constexpr std::pair<std::string_view, TVoxelType> NrrdTypes[] = {
    {"signed char", vtInt8},
    {"int8", vtInt8},
    {"int8_t", vtInt8},
    {"uchar", vtByte},
    {"unsigned char", vtByte},
    {"uint8", vtByte},
    {"uint8_t", vtByte},
    {"short", vtInt16},
    {"short int", vtInt16},
    {"signed short", vtInt16},
    {"signed short int", vtInt16},
    {"int16", vtInt16},
    {"int16_t", vtInt16},
    {"ushort", vtUInt16},
    {"unsigned short", vtUInt16},
    {"unsigned short int", vtUInt16},
    {"uint16", vtUInt16},
    {"uint16_t", vtUInt16},
    {"int", vtInt32},
    {"signed int", vtInt32},
    {"int32", vtInt32},
    {"int32_t", vtInt32},
    {"uint", vtUInt32},
    {"unsigned int", vtUInt32},
    {"uint32", vtUInt32},
    {"uint32_t", vtUInt32},
    {"longlong", vtInt64},
    {"long long", vtInt64},
    {"long long int", vtInt64},
    {"signed long long", vtInt64},
    {"signed long long int", vtInt64},
    {"int64", vtInt64},
    {"int64_t", vtInt64},
    {"ulonglong", vtUInt64},
    {"unsigned long long", vtUInt64},
    {"unsigned long long int", vtUInt64},
    {"uint64", vtUInt64},
    {"uint64_t", vtUInt64},
    {"float", vtFloat32},
    {"double", vtFloat64}};

std::optional<bool> Truth(std::string_view Text) {
  const std::string lower = Lower(Text);
  if (lower == "true" || lower == "1")
    return true;
  if (lower == "false" || lower == "0")
    return false;
  return std::nullopt;
}

std::optional<bool> TruthField(const TFields& Fields, std::string_view Key, bool Default) {
  const std::optional<std::string_view> text = Field(Fields, Key);
  return text ? Truth(*text) : Default;
}

bool IsKey(std::string_view Key) {
  if (Key.empty())
    return false;
  for (char c : Key)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  return true;
}

// A list or a numbered pattern of files rather than one file.
bool NamesSeveralFiles(std::string_view Value) {
  const std::string lower = Lower(Value);
  const bool list = lower.starts_with("list") && (lower.size() == 4 || IsBlank(lower[4]));
  return list || Value.find('%') != std::string_view::npos;
}

std::optional<TStatedLayout> MetaImageLayout(const TFields& Fields) {
  const std::optional<std::vector<int64_t>> dims = Dimensions(Fields, "ndims", "dimsize");
  const std::optional<std::string_view> typeName = Field(Fields, "elementtype");
  const int typeIndex = Lookup(MetaTypes, typeName);
  const std::optional<bool> compressed = TruthField(Fields, "compresseddata", false);
  const std::optional<bool> binary = TruthField(Fields, "binarydata", true);
  const std::optional<int64_t> channels = IntegerField(Fields, "elementnumberofchannels", 1);
  const std::optional<bool> msb = TruthField(Fields, "elementbyteordermsb", false);
  const std::optional<bool> dataMsb = TruthField(Fields, "binarydatabyteordermsb", false);
  const std::optional<int64_t> skip = IntegerField(Fields, "headersize", 0);
  if (!dims || typeIndex < 0 || compressed != false || binary != true || channels != 1 || !msb ||
      !dataMsb || !skip || *skip < -1)
    return std::nullopt;
  const auto type = static_cast<TVoxelType>(typeIndex);
  TStatedLayout layout;
  layout.Dims = *dims;
  layout.VoxelType = type;
  layout.ByteOrder = (*msb || *dataMsb) && BytesPerVoxel[type] > 1 ? boBigEndian : boLittleEndian;
  layout.DataAtEnd = *skip == -1;
  layout.ByteSkip = *skip == -1 ? 0 : *skip;
  return layout;
}

std::optional<TStatedLayout> NrrdLayout(const TFields& Fields) {
  const std::optional<std::vector<int64_t>> dims = Dimensions(Fields, "dimension", "sizes");
  const std::optional<std::string_view> typeName = Field(Fields, "type");
  const int typeIndex = Lookup(NrrdTypes, typeName);
  const std::optional<std::string_view> encoding = Field(Fields, "encoding");
  const std::optional<std::string_view> endian = Field(Fields, "endian");
  const std::optional<int64_t> lineSkip =
      IntegerField(Fields, "line skip", IntegerField(Fields, "lineskip", 0).value_or(-1));
  const std::optional<int64_t> byteSkip =
      IntegerField(Fields, "byte skip", IntegerField(Fields, "byteskip", 0).value_or(-2));
  if (!dims || typeIndex < 0 || !encoding || Lower(*encoding) != "raw" || !lineSkip ||
      *lineSkip < 0 || !byteSkip || *byteSkip < -1)
    return std::nullopt;
  const auto type = static_cast<TVoxelType>(typeIndex);
  TStatedLayout layout;
  layout.Dims = *dims;
  layout.VoxelType = type;
  if (BytesPerVoxel[type] > 1) {
    // Raw data wider than a byte is unreadable without its byte order.
    const std::string order = endian ? Lower(*endian) : std::string();
    if (order != "little" && order != "big")
      return std::nullopt;
    layout.ByteOrder = order == "big" ? boBigEndian : boLittleEndian;
  }
  layout.LineSkip = *lineSkip;
  layout.DataAtEnd = *byteSkip == -1;
  layout.ByteSkip = *byteSkip == -1 ? 0 : *byteSkip;
  return layout;
}

// As teem reads a NRRD data-file value: "LIST", or a file-name pattern
// followed by three numbers, names several files; any other value, blanks
// and '%' included, is one file's name.
bool NrrdNamesSeveralFiles(std::string_view Value) {
  if (Lower(Value.substr(0, 4)) == "list")
    return true;
  std::vector<std::string_view> words;
  for (size_t at = 0; (at = Value.find_first_not_of(" \t", at)) != std::string_view::npos;) {
    const size_t end = std::min(Value.find_first_of(" \t", at), Value.size());
    words.push_back(Value.substr(at, end - at));
    at = end;
  }
  const auto integer = [](std::string_view Word) {
    const size_t digits = !Word.empty() && (Word[0] == '-' || Word[0] == '+') ? 1 : 0;
    return Word.size() > digits &&
           Word.find_first_not_of("0123456789", digits) == std::string_view::npos;
  };
  return words.size() >= 4 && integer(words[1]) && integer(words[2]) && integer(words[3]);
}

// Records where a header says its voxels are, by its data-file value.
void NameDataFile(THeaderReading& Reading, std::string_view Value, bool Nrrd) {
  Reading.Detached = true;
  if (Nrrd ? NrrdNamesSeveralFiles(Value) : NamesSeveralFiles(Value))
    Reading.SeveralDataFiles = true;
  else
    Reading.DataFile = std::string(Value);
}

// Whitespace and comments from At; where the next token starts.
int64_t SkipBlanks(const uint8_t* Head, int64_t HeadBytes, int64_t At) {
  while (At < HeadBytes) {
    if (Head[At] == '#') {
      while (At < HeadBytes && Head[At] != '\n')
        ++At;
    } else if (IsBlank(static_cast<char>(Head[At]))) {
      ++At;
    } else {
      break;
    }
  }
  return At;
}

// Gives a text header's reading its layout. Voxels in the header's own file
// start after the line break that ends the header (HeaderEnd), which the head
// must hold; a detached header's voxels start where its layout says.
THeaderReading WithLayout(THeaderReading Reading, std::optional<TStatedLayout> Layout,
                          int64_t HeaderEnd) {
  if (!Reading.Detached && HeaderEnd < 0)
    return Reading;
  Reading.Layout = std::move(Layout);
  if (Reading.Layout && !Reading.Detached)
    Reading.Layout->DataStart = HeaderEnd;
  return Reading;
}

} // namespace

THeaderReading ReadMetaImageHeader(const uint8_t* Head, int64_t HeadBytes) {
  TFields fields;
  std::string_view dataFile;
  int64_t at = 0;
  int64_t headerEnd = -1;
  for (int count = 0; at < HeadBytes && count < MaxHeaderLines; ++count) {
    const TLine line = LineAt(Head, HeadBytes, at);
    at = line.Next;
    const std::string_view text = Trim(line.Text);
    if (text.empty())
      continue;
    const size_t equals = text.find('=');
    const std::string key =
        equals == std::string_view::npos ? std::string() : Lower(Trim(text.substr(0, equals)));
    if (!IsKey(key))
      return {};
    const std::string_view value = Trim(text.substr(equals + 1));
    if (key == "elementdatafile") { // always the last key; the voxels follow it
      dataFile = value;
      headerEnd = line.Ended ? at : -1;
      break;
    }
    fields[key] = std::string(value);
  }
  if (dataFile.empty() || !fields.contains("ndims"))
    return {};
  THeaderReading reading;
  reading.Format = "MetaImage";
  if (Lower(dataFile) != "local")
    NameDataFile(reading, dataFile, false);
  return WithLayout(reading, MetaImageLayout(fields), headerEnd);
}

THeaderReading ReadNrrdHeader(const uint8_t* Head, int64_t HeadBytes) {
  if (HeadBytes < 8 || std::memcmp(Head, "NRRD000", 7) != 0 || Head[7] < '1' || Head[7] > '9' ||
      LineAt(Head, HeadBytes, 0).Text.size() != 8)
    return {};
  THeaderReading reading;
  reading.Format = "NRRD";
  TFields fields;
  bool wellFormed = true;
  int64_t at = LineAt(Head, HeadBytes, 0).Next;
  int64_t headerEnd = -1;
  for (int count = 0; at < HeadBytes && count < MaxHeaderLines; ++count) {
    const TLine line = LineAt(Head, HeadBytes, at);
    at = line.Next;
    if (line.Text.empty()) {
      headerEnd = line.Ended ? at : -1;
      break;
    }
    if (line.Text.front() == '#')
      continue;
    const size_t colon = line.Text.find(':');
    if (colon == std::string_view::npos) {
      wellFormed = false;
      break;
    }
    if (colon + 1 < line.Text.size() && line.Text[colon + 1] == '=')
      continue; // a key/value comment of the writer's own
    fields[Lower(Trim(line.Text.substr(0, colon)))] =
        std::string(Trim(line.Text.substr(colon + 1)));
  }
  std::optional<std::string_view> dataFile = Field(fields, "data file");
  if (!dataFile)
    dataFile = Field(fields, "datafile");
  if (dataFile)
    NameDataFile(reading, *dataFile, true);
  if (!wellFormed)
    return reading;
  return WithLayout(reading, NrrdLayout(fields), headerEnd);
}

namespace {

// A portable float map: "PF" (three samples a pixel) or "Pf", the width, the
// height and a scale whose sign says the byte order, then single floats.
THeaderReading ReadPfmHeader(const uint8_t* Head, int64_t HeadBytes) {
  const bool colour = Head[1] == 'F';
  THeaderReading reading;
  reading.Format = "PFM";
  reading.Detail = colour ? " (RGB: three samples per pixel, rows bottom up)" : " (rows bottom up)";
  int64_t at = 2, values[2] = {};
  for (int64_t& value : values) {
    at = SkipBlanks(Head, HeadBytes, at);
    const int64_t start = at;
    while (at < HeadBytes && at - start < 9 && Head[at] >= '0' && Head[at] <= '9')
      value = value * 10 + (Head[at++] - '0');
    if (at == start || at >= HeadBytes || !IsBlank(static_cast<char>(Head[at])))
      return reading;
  }
  at = SkipBlanks(Head, HeadBytes, at);
  const int64_t scaleStart = at;
  while (at < HeadBytes && at - scaleStart < 32 && !IsBlank(static_cast<char>(Head[at])))
    ++at;
  if (at == scaleStart || at >= HeadBytes)
    return reading;
  const bool little = Head[scaleStart] == '-';
  const auto [width, height] = values;
  if (width < 1 || height < 1)
    return reading;
  TStatedLayout layout;
  layout.Dims = {width * (colour ? 3 : 1), height};
  layout.VoxelType = vtFloat32;
  layout.ByteOrder = little ? boLittleEndian : boBigEndian;
  layout.DataStart = at + 1;
  layout.Score = colour ? 0.9 : 0.99;
  reading.Layout = layout;
  return reading;
}

} // namespace

THeaderReading ReadPnmHeader(const uint8_t* Head, int64_t HeadBytes) {
  if (HeadBytes >= 3 && Head[0] == 'P' && (Head[1] == 'F' || Head[1] == 'f') &&
      IsBlank(static_cast<char>(Head[2])))
    return ReadPfmHeader(Head, HeadBytes);
  if (HeadBytes < 3 || Head[0] != 'P' || (Head[1] != '5' && Head[1] != '6') ||
      !IsBlank(static_cast<char>(Head[2])))
    return {};
  const bool colour = Head[1] == '6';
  THeaderReading reading;
  reading.Format = colour ? "PPM" : "PGM";
  if (colour)
    reading.Detail = " (RGB: three samples per pixel)";
  int64_t values[3] = {}; // width, height, maxval
  int64_t at = 2;
  for (int64_t& value : values) {
    at = SkipBlanks(Head, HeadBytes, at);
    const int64_t start = at;
    while (at < HeadBytes && at - start < 9 && Head[at] >= '0' && Head[at] <= '9')
      value = value * 10 + (Head[at++] - '0');
    // A token ends at one blank; after the maxval that blank ends the header.
    if (at == start || at >= HeadBytes || !IsBlank(static_cast<char>(Head[at])))
      return reading;
  }
  const auto [width, height, maxValue] = values;
  if (width < 1 || height < 1 || maxValue < 1 || maxValue > 65535)
    return reading;
  TStatedLayout layout;
  const bool wide = maxValue > 255;
  layout.Dims = {width * (colour ? 3 : 1), height};
  layout.VoxelType = wide ? vtUInt16 : vtByte;
  layout.ByteOrder = wide ? boBigEndian : boLittleEndian;
  layout.DataStart = at + 1;
  // A colour image seen one sample at a time is a fair view, not the picture.
  layout.Score = colour ? 0.9 : 0.99;
  reading.Layout = layout;
  return reading;
}

} // namespace guess
