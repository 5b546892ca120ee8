#include "platform/Shell.h"

#include <cstring>

namespace platform {

BOOL SHGetPathFromIDListA(LPCITEMIDLIST List, char* Path) {
  if (!Path)
    return 0;
  *Path = '\0';
  if (!List)
    return 0;
  char path[MAX_PATH] = "/";
  size_t length = 0;
  const auto* item = reinterpret_cast<const uint8_t*>(List);
  for (;;) {
    size_t size = static_cast<size_t>(item[0] | item[1] << 8);
    if (size == 0)
      break;
    if (size < 4 || item[2] != ITEMKIND_FILESYSTEM)
      return 0;
    const uint8_t* name = item + 3;
    size_t nameLength = size - 3;
    if (std::memchr(name, '\0', nameLength) || std::memchr(name, '/', nameLength))
      return 0;
    // The separator, the name and the terminator must fit.
    if (nameLength >= MAX_PATH - length - 1)
      return 0;
    path[length] = '/';
    std::memcpy(path + length + 1, name, nameLength);
    length += nameLength + 1;
    item += size;
  }
  path[length == 0 ? 1 : length] = '\0';
  std::memcpy(Path, path, (length == 0 ? 1 : length) + 1);
  return 1;
}

HRESULT SHGetMalloc(IMalloc** Malloc) {
  return CoGetMalloc(1, Malloc);
}

} // namespace platform
