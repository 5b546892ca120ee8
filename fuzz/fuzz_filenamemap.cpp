// "FileNameMap" and "FileNameMapW": the last bit of the input picks the width.
#include "FuzzMedium.h"
#include "dragdrop/DragDropFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0)
    return 0;
  const bool wide = (Data[Size - 1] & 1) != 0;
  dragdrop::TFilenameMapClipboardFormat ansi;
  dragdrop::TFilenameMapWClipboardFormat utf16;
  dragdrop::TClipboardFormat& format =
      wide ? static_cast<dragdrop::TClipboardFormat&>(utf16) : ansi;
  fuzzing::FuzzRead(format, Data, Size - 1);
  return 0;
}
