#pragma once

#include <cstdint>
#include <string>

// Version records in the Windows VS_VERSIONINFO layout, read from the program
// file that carries them, and the user's default language.
//
// The record is the ANSI (byte-string) flavour of the layout, little-endian:
// every block is
//   uint16 wLength       bytes of the block and its children, without trailing padding
//   uint16 wValueLength  bytes of the value
//   char   szKey[]       zero-terminated, then padding to a multiple of 4
//   value                then padding to a multiple of 4
//   children             each starting on a multiple of 4
// with the root "VS_VERSION_INFO" holding VS_FIXEDFILEINFO, "StringFileInfo"
// holding string tables named like "040904E4" that hold the strings, and
// "VarFileInfo" holding "Translation", an array of (language, code page) words.
//
// On this host the record lives in the ELF section ".zandrel_version" of the
// program file; a file without that section has no record.
namespace platform {

inline constexpr const char* VersionSectionName = ".zandrel_version";

struct VS_FIXEDFILEINFO {
  uint32_t dwSignature;
  uint32_t dwStrucVersion;
  uint32_t dwFileVersionMS;
  uint32_t dwFileVersionLS;
  uint32_t dwProductVersionMS;
  uint32_t dwProductVersionLS;
  uint32_t dwFileFlagsMask;
  uint32_t dwFileFlags;
  uint32_t dwFileOS;
  uint32_t dwFileType;
  uint32_t dwFileSubtype;
  uint32_t dwFileDateMS;
  uint32_t dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

inline constexpr uint32_t VS_FFI_SIGNATURE = 0xFEEF04BD;
inline constexpr uint32_t VS_FFI_STRUCVERSION = 0x00010000;
inline constexpr uint32_t VFT_APP = 1;
// Windows spells it VOS__WINDOWS32; a double underscore is reserved in C++.
inline constexpr uint32_t VOS_WINDOWS32 = 4;

// Size in bytes of the version record in FileName, 0 when the file has none or
// cannot be read. *Handle is set to 0 (the host has no use for it).
uint32_t GetFileVersionInfoSizeA(const char* FileName, uint32_t* Handle);

// Copies the version record of FileName into Data (Len bytes). A Len smaller
// than the record keeps its first Len bytes and shortens the root's length to
// match, so that queries stay inside Data. Non-zero on success.
int GetFileVersionInfoA(const char* FileName, uint32_t Handle, uint32_t Len, void* Data);

// Looks up SubBlock in the record at Block (components separated by "\",
// compared without regard to case):
//   "\"                                  the VS_FIXEDFILEINFO, *Len = its size in bytes
//   "\VarFileInfo\Translation"           the translation array, *Len in bytes
//   "\StringFileInfo\<table>\<key>"      the string, *Len in characters including its
//                                        terminator; an empty value has *Len = 0 and
//                                        *Buffer points at an empty string
// *Buffer points into Block. Non-zero on success; 0 when the path is not found
// or the record is malformed along the way (then *Buffer = nullptr, *Len = 0).
int VerQueryValueA(const void* Block, const char* SubBlock, void** Buffer, uint32_t* Len);

// The language of the user's locale (LC_ALL, else LC_MESSAGES, else LANG) as a
// Windows language identifier: "de_AT" gives 0x0C07, a bare "de" the German of
// Germany 0x0407. "C", "POSIX", no locale at all and languages the table does
// not know give US English 0x0409.
uint16_t GetSystemDefaultLangID();

// The path of the running program's file (GetModuleFileName of the program),
// empty when the host does not tell it.
std::string RunningProgramPath();

} // namespace platform
