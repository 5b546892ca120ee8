#pragma once

#include "platform/Ole.h"

#include <cstdint>

// The shell's item-id lists and its allocator.
//
// An item-id list on this host is a run of items ended by a 2-byte zero:
//   uint16 cb    bytes of the item, cb itself included (little-endian)
//   uint8  kind  ITEMKIND_FILESYSTEM or ITEMKIND_OTHER
//   char   name  cb - 3 bytes of UTF-8, neither empty nor holding '/' or a zero byte
// The path of a list is "/" followed by its names joined with "/"; the empty list
// is the root "/". A list holding an item of any other kind has no path.
namespace platform {

inline constexpr uint8_t ITEMKIND_OTHER = 0;
inline constexpr uint8_t ITEMKIND_FILESYSTEM = 1;
inline constexpr int MAX_PATH = 260;

#pragma pack(push, 1)
struct SHITEMID {
  uint16_t cb;
  uint8_t abID[1];
};
struct ITEMIDLIST {
  SHITEMID mkid;
};
#pragma pack(pop)
using LPCITEMIDLIST = const ITEMIDLIST*;

// The header of a CF_HDROP block; the zero-terminated names start pFiles bytes
// from its start, UTF-16 when fWide is set.
struct DROPFILES {
  DWORD pFiles;
  POINTL pt;
  BOOL fNC;
  BOOL fWide;
};
static_assert(sizeof(DROPFILES) == 20);

// Writes the path of List into Path (MAX_PATH characters with the terminator)
// and returns non-zero; returns 0 with Path empty when the list has no path,
// is malformed or its path does not fit. List must end with its terminator.
BOOL SHGetPathFromIDListA(LPCITEMIDLIST List, char* Path);
inline BOOL SHGetPathFromIDList(LPCITEMIDLIST List, char* Path) {
  return SHGetPathFromIDListA(List, Path);
}

// The shell's task allocator, the same object as CoGetMalloc's.
HRESULT SHGetMalloc(IMalloc** Malloc);

} // namespace platform
