// "FileNameW": the block as UTF-16 text, converted to an 8-bit name.
#include "FuzzMedium.h"
#include "dragdrop/DragDropFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  dragdrop::TFilenameWClipboardFormat format;
  if (fuzzing::FuzzRead(format, Data, Size) && Size > 0 && (Data[0] & 1) == 0 &&
      format.WideData.size() != (Size - 1) / 2)
    __builtin_trap();
  dragdrop::TFileDataFormat files(nullptr);
  format.AssignTo(files);
  return 0;
}
