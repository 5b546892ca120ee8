// CF_HDROP: a DROPFILES header and its list of 8-bit or UTF-16 names.
#include "FuzzMedium.h"
#include "dragdrop/DragDropFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  dragdrop::TFileClipboardFormat format;
  if (fuzzing::FuzzRead(format, Data, Size) != format.HasData())
    __builtin_trap();
  return 0;
}
