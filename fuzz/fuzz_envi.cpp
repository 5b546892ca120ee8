// The ENVI header reader over the input as a header file's head.
#include "guess/formats/EnviHeader.h"

#include <cstdint>

using namespace guess;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const THeaderReading reading = ReadEnviHeader(Data, static_cast<int64_t>(Size));
  if (reading.Layout) {
    const TStatedLayout& layout = *reading.Layout;
    if (reading.Format != "ENVI" || !reading.Detached || layout.Dims.size() != 3 ||
        layout.DataStart < 0)
      __builtin_trap();
    for (int64_t dim : layout.Dims)
      if (dim < 1)
        __builtin_trap();
  }
  return 0;
}
