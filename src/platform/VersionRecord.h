#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Writes version records in the layout that platform/VersionInfo.h reads.
namespace platform {

struct TVersionStringTable {
  std::string Block; // e.g. "040904E4": language and code page in hexadecimal
  std::vector<std::pair<std::string, std::string>> Strings; // key, value; kept in this order
};

struct TVersionTranslation {
  uint16_t Language;
  uint16_t CodePage;
};

struct TVersionRecordContents {
  std::array<uint16_t, 4> FileVersion{};    // major, minor, release, build
  std::array<uint16_t, 4> ProductVersion{}; // major, minor, release, build
  uint32_t FileFlagsMask = 0;
  uint32_t FileFlags = 0;
  uint32_t FileOS = 0;
  uint32_t FileType = 0;
  uint32_t FileSubtype = 0;
  std::vector<TVersionStringTable> StringTables; // no "StringFileInfo" block when empty
  std::vector<TVersionTranslation> Translations; // no "VarFileInfo" block when empty
};

// The record's bytes. An empty string value is written with length 0 and no
// bytes, any other with its terminator. Throws std::length_error when a block
// would not fit its 16-bit length, std::invalid_argument for a key or value
// holding a zero byte.
std::vector<uint8_t> BuildVersionRecord(const TVersionRecordContents& Contents);

} // namespace platform
