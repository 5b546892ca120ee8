// The picture reader over the input as a whole file. Every layout it
// gives must be one the file holds, found within the budget.
#include "guess/formats/Pictures.h"

#include <cstdint>
#include <span>

using namespace guess;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  // A small budget as well as the whole one, so that reads cut short are met.
  for (int64_t budget : {TByteSource::DefaultBudget, int64_t{700}}) {
    TByteSource source(std::span<const uint8_t>(Data, Size), budget);
    const TContainerReading reading = ReadPicture(source);
    if (source.Spent() > budget || (reading.Format.empty() && !reading.Layouts.empty()))
      __builtin_trap();
    for (const TStatedLayout& layout : reading.Layouts) {
      int64_t bytes = BytesPerVoxel[layout.VoxelType % VoxelTypeCount];
      for (int64_t dim : layout.Dims)
        if (dim < 1 || __builtin_mul_overflow(bytes, dim, &bytes))
          __builtin_trap();
      if (layout.Dims.empty() || layout.DataStart < 0 ||
          layout.DataStart + bytes > static_cast<int64_t>(Size) || layout.Note.empty())
        __builtin_trap();
    }
  }
  return 0;
}
