// The NumPy reader over the input as a whole file, .npy or .npz. Every layout it
// gives must be one the file holds, found within the budget.
#include "ContainerChecks.h"
#include "guess/formats/Numpy.h"

#include <cstdint>
#include <span>

using namespace guess;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  // A small budget as well as the whole one, so that reads cut short are met.
  for (int64_t budget : {TByteSource::DefaultBudget, int64_t{700}}) {
    TByteSource source(std::span<const uint8_t>(Data, Size), budget);
    const TContainerReading reading = ReadNumpy(source);
    CheckReading(reading, source, budget, static_cast<int64_t>(Size));
  }
  return 0;
}
