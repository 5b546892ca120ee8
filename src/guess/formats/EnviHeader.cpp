#include "guess/formats/EnviHeader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

namespace guess {

namespace {

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

// Lower case with runs of blanks as one space: "Header  Offset" is "header offset".
std::string KeyOf(std::string_view Text) {
  std::string key;
  for (char c : Trim(Text)) {
    if (IsBlank(c)) {
      if (key.back() != ' ')
        key += ' ';
    } else {
      key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
  }
  return key;
}

// The fields after the "ENVI" line. A value that opens a brace runs to the
// closing one, across lines; a line without "=" is skipped, as ENVI does.
TFields FieldsOf(std::string_view Text) {
  TFields fields;
  size_t at = Text.find('\n');
  while (at != std::string_view::npos && at < Text.size()) {
    const size_t lineEnd = std::min(Text.find('\n', at + 1), Text.size());
    const std::string_view line = Text.substr(at + 1, lineEnd - at - 1);
    const size_t equals = line.find('=');
    at = lineEnd;
    if (equals == std::string_view::npos)
      continue;
    std::string_view value = Trim(line.substr(equals + 1));
    if (value.starts_with('{')) {
      const size_t valueAt = static_cast<size_t>(value.data() - Text.data());
      const size_t close = Text.find('}', valueAt);
      const size_t end = close == std::string_view::npos ? Text.size() : close + 1;
      value = Text.substr(valueAt, end - valueAt);
      at = std::min(Text.find('\n', end == 0 ? 0 : end - 1), Text.size());
    }
    fields.emplace(KeyOf(line.substr(0, equals)), std::string(value));
  }
  return fields;
}

// A field's whole non-negative number, Default when absent, nothing when it is
// not one.
std::optional<int64_t> Number(const TFields& Fields, std::string_view Key,
                              std::optional<int64_t> Default) {
  const auto found = Fields.find(Key);
  if (found == Fields.end())
    return Default;
  const std::string_view text = Trim(found->second);
  int64_t value = 0;
  const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || stop != text.data() + text.size() || value < 0)
    return std::nullopt;
  return value;
}

// Complex (6, 9) and anything unknown have no voxel type.
std::optional<TVoxelType> TypeOf(int64_t Code) {
  switch (Code) {
  case 1:
    return vtByte;
  case 2:
    return vtInt16;
  case 3:
    return vtInt32;
  case 4:
    return vtFloat32;
  case 5:
    return vtFloat64;
  case 12:
    return vtUInt16;
  case 13:
    return vtUInt32;
  case 14:
    return vtInt64;
  case 15:
    return vtUInt64;
  default:
    return std::nullopt;
  }
}

std::optional<TStatedLayout> LayoutOf(const TFields& Fields) {
  const std::optional<int64_t> samples = Number(Fields, "samples", std::nullopt);
  const std::optional<int64_t> lines = Number(Fields, "lines", std::nullopt);
  const std::optional<int64_t> bands = Number(Fields, "bands", 1);
  const std::optional<int64_t> offset = Number(Fields, "header offset", 0);
  const std::optional<int64_t> code = Number(Fields, "data type", std::nullopt);
  const std::optional<int64_t> order = Number(Fields, "byte order", 0);
  if (!samples || !lines || !bands || !offset || !code || !order || *order > 1 || *samples < 1 ||
      *lines < 1 || *bands < 1)
    return std::nullopt;
  const std::optional<TVoxelType> type = TypeOf(*code);
  if (!type)
    return std::nullopt;
  // Band interleaving by line or by pixel puts no one band's voxels together;
  // with one band every interleave is the same.
  const auto interleave = Fields.find("interleave");
  const std::string kind =
      interleave == Fields.end() ? std::string("bsq") : KeyOf(interleave->second);
  if (kind != "bsq" && kind != "bil" && kind != "bip")
    return std::nullopt;
  if (kind != "bsq" && *bands > 1)
    return std::nullopt;
  TStatedLayout layout;
  layout.Dims = {*samples, *lines, *bands};
  layout.VoxelType = *type;
  layout.ByteOrder = *order == 1 && BytesPerVoxel[*type] > 1 ? boBigEndian : boLittleEndian;
  layout.DataStart = *offset;
  return layout;
}

} // namespace

THeaderReading ReadEnviHeader(const uint8_t* Head, int64_t HeadBytes) {
  if (Head == nullptr || HeadBytes < 4 || std::memcmp(Head, "ENVI", 4) != 0)
    return {};
  const std::string_view text(reinterpret_cast<const char*>(Head), static_cast<size_t>(HeadBytes));
  // The first line is the word alone; "ENVIRONMENT=..." is some other text.
  const std::string_view first = Trim(text.substr(0, std::min(text.find('\n'), text.size())));
  if (first != "ENVI")
    return {};
  THeaderReading reading;
  reading.Format = "ENVI";
  reading.Detached = true;
  reading.Layout = LayoutOf(FieldsOf(text));
  return reading;
}

} // namespace guess
