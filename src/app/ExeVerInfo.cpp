#include "app/ExeVerInfo.h"

#include "platform/VersionInfo.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

// Made on the first call, which main makes before any window, so that the
// record is read when the program runs and not while it is being loaded.
// Never destroyed.
TAppVerInfo& AppVerInfo() {
  static TAppVerInfo& info = *new TAppVerInfo;
  return info;
}

namespace {

// The file name without its folder, cut before its first ".".
std::string BaseNameOf(const std::string& Path) {
  const size_t slash = Path.find_last_of('/');
  const std::string name = slash == std::string::npos ? Path : Path.substr(slash + 1);
  return name.substr(0, name.find('.'));
}

// Language and code page as a string-table name, e.g. 0x0409, 0x04E4 -> "040904E4".
std::string BlockName(uint16_t Language, uint16_t CodePage) {
  char name[9];
  std::snprintf(name, sizeof name, "%04X%04X", Language, CodePage);
  return name;
}

} // namespace

TVersionInfoApi TVersionInfoApi::Host() {
  return {platform::GetFileVersionInfoSizeA, platform::GetFileVersionInfoA,
          platform::VerQueryValueA, platform::GetSystemDefaultLangID};
}

TAppVerInfo::TAppVerInfo()
    : TAppVerInfo(platform::RunningProgramPath()) {}

TAppVerInfo::TAppVerInfo(const std::string& ProgramPath, TVersionInfoApi Api)
    : ExePath(ProgramPath)
    , ExeBaseName(BaseNameOf(ProgramPath))
    , FApi(std::move(Api)) {
  ReadVersionInfo();
}

void TAppVerInfo::ReadVersionInfo() {
  InfoSize = FApi.GetFileVersionInfoSizeA(ExePath.c_str(), &InfoHandle);
  if (InfoSize == 0)
    return;
  // The vector releases the record however this ends.
  std::vector<uint8_t> infoBuffer(InfoSize);
  if (FApi.GetFileVersionInfoA(ExePath.c_str(), 0, InfoSize, infoBuffer.data()) == 0)
    return;
  const std::pair<const char*, std::string*> keys[] = {{"CompanyName", &CompanyName},
                                                       {"FileDescription", &FileDescription},
                                                       {"FileVersion", &FileVersion},
                                                       {"LegalCopyright", &LegalCopyright},
                                                       {"OriginalFilename", &OriginalFilename},
                                                       {"ProductName", &ProductName},
                                                       {"Comments", &Comments}};
  for (const auto& [key, field] : keys) {
    std::string value;
    QueryValue(infoBuffer.data(), key, value);
    *field = std::move(value);
  }
}

// The record's block for the user's language first; when that block lacks the
// key, the block its first translation entry names, so that a program with a
// single-language record still has its texts on every system.
void TAppVerInfo::QueryValue(const void* InfoBuffer, const std::string& Key,
                             std::string& Value) const {
  const std::string block = BlockName(FApi.GetSystemDefaultLangID(), 0x04E4);
  if (QueryBlock(InfoBuffer, block, Key, Value))
    return;
  const std::string ownBlock = TranslationBlock(InfoBuffer);
  if (!ownBlock.empty() && ownBlock != block)
    QueryBlock(InfoBuffer, ownBlock, Key, Value);
}

// True when the block holds the key; Value changes only for a non-empty text.
bool TAppVerInfo::QueryBlock(const void* InfoBuffer, const std::string& Block,
                             const std::string& Key, std::string& Value) const {
  const std::string path = "\\StringFileInfo\\" + Block + "\\" + Key;
  void* valuePtr = nullptr;
  uint32_t valueLen = 0;
  if (FApi.VerQueryValueA(InfoBuffer, path.c_str(), &valuePtr, &valueLen) == 0)
    return false;
  if (valueLen > 0) {
    const auto* text = static_cast<const char*>(valuePtr);
    Value.assign(text, strnlen(text, valueLen));
  }
  return true;
}

// The string-table name of the record's first translation entry, empty without one.
std::string TAppVerInfo::TranslationBlock(const void* InfoBuffer) const {
  void* entries = nullptr;
  uint32_t length = 0;
  if (FApi.VerQueryValueA(InfoBuffer, "\\VarFileInfo\\Translation", &entries, &length) == 0 ||
      length < 4)
    return {};
  const auto* bytes = static_cast<const uint8_t*>(entries);
  return BlockName(static_cast<uint16_t>(bytes[0] | bytes[1] << 8),
                   static_cast<uint16_t>(bytes[2] | bytes[3] << 8));
}
