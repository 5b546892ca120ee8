#include "platform/VersionRecord.h"

#include "platform/VersionInfo.h"

#include <stdexcept>
#include <string_view>

namespace platform {
namespace {

class TRecordWriter {
public:
  // Starts a block at the next multiple of 4 and returns where it begins.
  size_t Open(std::string_view Key, size_t ValueLength) {
    Pad();
    CheckText(Key);
    const size_t start = FBytes.size();
    Word(0); // patched by Close
    Word(Fit16(ValueLength, Key));
    FBytes.insert(FBytes.end(), Key.begin(), Key.end());
    FBytes.push_back(0);
    Pad();
    return start;
  }

  void Close(size_t Start, std::string_view Key) {
    const uint16_t length = Fit16(FBytes.size() - Start, Key);
    FBytes[Start] = static_cast<uint8_t>(length);
    FBytes[Start + 1] = static_cast<uint8_t>(length >> 8);
  }

  void Word(uint32_t Value) {
    FBytes.push_back(static_cast<uint8_t>(Value));
    FBytes.push_back(static_cast<uint8_t>(Value >> 8));
  }

  void DWord(uint32_t Value) {
    Word(Value & 0xFFFF);
    Word(Value >> 16);
  }

  void Text(std::string_view Value) {
    CheckText(Value);
    FBytes.insert(FBytes.end(), Value.begin(), Value.end());
    FBytes.push_back(0);
  }

  std::vector<uint8_t> Take() { return std::move(FBytes); }

private:
  void Pad() {
    while (FBytes.size() % 4 != 0)
      FBytes.push_back(0);
  }

  static uint16_t Fit16(size_t Value, std::string_view Key) {
    if (Value > 0xFFFF)
      throw std::length_error("version record block '" + std::string(Key) + "' is too long");
    return static_cast<uint16_t>(Value);
  }

  static void CheckText(std::string_view Text) {
    if (Text.find('\0') != std::string_view::npos)
      throw std::invalid_argument("version record text holds a zero byte");
  }

  std::vector<uint8_t> FBytes;
};

uint32_t High(const std::array<uint16_t, 4>& Version) {
  return uint32_t{Version[0]} << 16 | Version[1];
}

uint32_t Low(const std::array<uint16_t, 4>& Version) {
  return uint32_t{Version[2]} << 16 | Version[3];
}

void WriteFixedInfo(TRecordWriter& Writer, const TVersionRecordContents& Contents) {
  for (const uint32_t value :
       {VS_FFI_SIGNATURE, VS_FFI_STRUCVERSION, High(Contents.FileVersion),
        Low(Contents.FileVersion), High(Contents.ProductVersion), Low(Contents.ProductVersion),
        Contents.FileFlagsMask, Contents.FileFlags, Contents.FileOS, Contents.FileType,
        Contents.FileSubtype, 0u, 0u})
    Writer.DWord(value);
}

void WriteStringTable(TRecordWriter& Writer, const TVersionStringTable& Table) {
  const size_t table = Writer.Open(Table.Block, 0);
  for (const auto& [key, value] : Table.Strings) {
    const size_t valueLength = value.empty() ? 0 : value.size() + 1;
    const size_t entry = Writer.Open(key, valueLength);
    if (valueLength > 0)
      Writer.Text(value);
    Writer.Close(entry, key);
  }
  Writer.Close(table, Table.Block);
}

void WriteStringFileInfo(TRecordWriter& Writer, const TVersionRecordContents& Contents) {
  if (Contents.StringTables.empty())
    return;
  const size_t info = Writer.Open("StringFileInfo", 0);
  for (const TVersionStringTable& table : Contents.StringTables)
    WriteStringTable(Writer, table);
  Writer.Close(info, "StringFileInfo");
}

void WriteVarFileInfo(TRecordWriter& Writer, const TVersionRecordContents& Contents) {
  if (Contents.Translations.empty())
    return;
  const size_t info = Writer.Open("VarFileInfo", 0);
  const size_t var = Writer.Open("Translation", 4 * Contents.Translations.size());
  for (const TVersionTranslation& translation : Contents.Translations) {
    Writer.Word(translation.Language);
    Writer.Word(translation.CodePage);
  }
  Writer.Close(var, "Translation");
  Writer.Close(info, "VarFileInfo");
}

} // namespace

std::vector<uint8_t> BuildVersionRecord(const TVersionRecordContents& Contents) {
  TRecordWriter writer;
  const size_t root = writer.Open("VS_VERSION_INFO", sizeof(VS_FIXEDFILEINFO));
  WriteFixedInfo(writer, Contents);
  WriteStringFileInfo(writer, Contents);
  WriteVarFileInfo(writer, Contents);
  writer.Close(root, "VS_VERSION_INFO");
  return writer.Take();
}

} // namespace platform
