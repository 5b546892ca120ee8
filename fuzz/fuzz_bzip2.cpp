// The bzip2 decoder and its seek index.
#include "DecompressFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzing::FuzzDecompress(platform::TCompression::Bzip2, Data, Size);
  return 0;
}
