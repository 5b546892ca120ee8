#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The host services the reader calls. Tests put their own in to see the calls
// or to make one of them fail.
struct TVersionInfoApi {
  std::function<uint32_t(const char* FileName, uint32_t* Handle)> GetFileVersionInfoSizeA;
  std::function<int(const char* FileName, uint32_t Handle, uint32_t Len, void* Data)>
      GetFileVersionInfoA;
  std::function<int(const void* Block, const char* SubBlock, void** Buffer, uint32_t* Len)>
      VerQueryValueA;
  std::function<uint16_t()> GetSystemDefaultLangID;

  // The ones of platform/VersionInfo.
  static TVersionInfoApi Host();
};

// The texts of the program file's own version record, read once at start-up.
// The record itself is held only while it is read. The fields are written by
// the constructor alone; everything else only reads them.
class TAppVerInfo {
public:
  // Reads the record of the running program file.
  TAppVerInfo();
  explicit TAppVerInfo(const std::string& ProgramPath,
                       TVersionInfoApi Api = TVersionInfoApi::Host());

  std::string ExePath;
  std::string ExeBaseName; // file name without folder, cut before its first "."
  uint32_t InfoHandle = 0; // what the size query hands back; not used
  uint32_t InfoSize = 0;   // 0 when the file has no record
  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string LegalCopyright;
  std::string OriginalFilename;
  std::string ProductName;
  std::string Comments;

private:
  void ReadVersionInfo();
  void QueryValue(const void* InfoBuffer, const std::string& Key, std::string& Value) const;
  bool QueryBlock(const void* InfoBuffer, const std::string& Block, const std::string& Key,
                  std::string& Value) const;
  std::string TranslationBlock(const void* InfoBuffer) const;

  TVersionInfoApi FApi;
};

// The running program's record, read on the first call; never destroyed.
TAppVerInfo& AppVerInfo();
