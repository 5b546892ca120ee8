// The DICOM reader over a file held in memory. The first byte picks the
// budget, so that the paths where the budget runs out mid-walk run too.
#include "guess/formats/Dicom.h"

#include <cstdint>
#include <span>

using namespace guess;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0)
    return 0;
  const int64_t budgets[] = {TByteSource::DefaultBudget, 200, 1000, 4096};
  const int64_t budget = budgets[Data[0] % 4];
  TByteSource source(std::span<const uint8_t>(Data + 1, Size - 1), budget);
  const TContainerReading reading = ReadDicom(source);
  if (source.Spent() > budget)
    __builtin_trap();
  if ((!reading.Layouts.empty() || !reading.NoRawVoxels.empty()) && reading.Format != "DICOM")
    __builtin_trap();
  for (const TStatedLayout& l : reading.Layouts) {
    int64_t bytes = BytesPerVoxel[l.VoxelType % VoxelTypeCount];
    for (const int64_t d : l.Dims) {
      if (d < 1 || bytes > source.Size() / d)
        __builtin_trap();
      bytes *= d;
    }
    if (l.Dims.size() != 3 || l.DataStart < 0 || l.DataStart + bytes > source.Size())
      __builtin_trap();
  }
  return 0;
}
