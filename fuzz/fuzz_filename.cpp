// "FileName": one 8-bit name cut at its first zero.
#include "FuzzMedium.h"
#include "dragdrop/DragDropFile.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  dragdrop::TFilenameClipboardFormat format;
  fuzzing::FuzzRead(format, Data, Size);
  if (std::memchr(format.Data.data(), '\0', format.Data.size()))
    __builtin_trap();
  return 0;
}
