// The FITS reader, with cfitsio behind it, over a file held in memory. An input
// whose last byte is odd (never a FITS fill byte) gets a budget smaller than
// two headers, so that reads cut short by the budget run as well as those cut
// short by the end of the file.
#include "ContainerChecks.h"
#include "guess/formats/Fits.h"

#include <cstdint>
#include <span>

using namespace guess;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const int64_t budget = Size > 0 && Data[Size - 1] % 2 == 1 ? 4000 : TByteSource::DefaultBudget;
  TByteSource source(std::span<const uint8_t>(Data, Size), budget);
  const TContainerReading reading = ReadFits(source);
  CheckReading(reading, source, budget, static_cast<int64_t>(Size));
  if (!reading.Layouts.empty() && !reading.NoRawVoxels.empty())
    __builtin_trap();
  return 0;
}
