// "Shell IDList Array": offsets to item-id lists, then each list turned into a path.
#include "FuzzMedium.h"
#include "dragdrop/DragDropPIDL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  dragdrop::TPIDLClipboardFormat format;
  bool read = fuzzing::FuzzRead(format, Data, Size);
  if (read != (format.PIDLs.Count() > 1))
    __builtin_trap();
  for (int i = 0; i < format.Filenames.Count(); ++i)
    format.Filenames.Get(i);
  return 0;
}
