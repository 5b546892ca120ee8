// The TIFF reader on a file held in memory. A third of the inputs run on a
// budget of half their size, so that the budget ends in the middle of a file
// as it does in a large one.
#include "guess/formats/Tiff.h"

#include <cstdint>
#include <span>

using namespace guess;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const auto size = static_cast<int64_t>(Size);
  const int64_t budget = Size % 3 == 0 ? size / 2 : TByteSource::DefaultBudget;
  TByteSource source(std::span<const uint8_t>(Data, Size), budget);
  const TContainerReading reading = ReadTiff(source);
  if (source.Spent() > budget)
    __builtin_trap();
  if (!reading.Format.empty() && reading.Layouts.empty() == reading.NoRawVoxels.empty())
    __builtin_trap();
  // A layout offered must name voxels that lie in the file.
  for (const TStatedLayout& layout : reading.Layouts) {
    if (layout.Dims.size() < 2 || layout.DataStart < 0)
      __builtin_trap();
    int64_t bytes = BytesPerVoxel[layout.VoxelType % VoxelTypeCount];
    for (const int64_t d : layout.Dims)
      if (d < 1 || __builtin_mul_overflow(bytes, d, &bytes))
        __builtin_trap();
    if (layout.DataStart + bytes > size)
      __builtin_trap();
  }
  return 0;
}
