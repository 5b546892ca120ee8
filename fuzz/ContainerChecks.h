#pragma once

#include "guess/formats/ByteSource.h"
#include "guess/formats/StatedLayout.h"

#include <cstdint>

// What every container reading must hold, whatever the bytes: no more read
// than the budget, no layout without a format, and every layout whole and
// within the file of Size bytes. A broken promise stops the fuzzer.
inline void CheckReading(const guess::TContainerReading& Reading, const guess::TByteSource& Source,
                         int64_t Budget, int64_t Size) {
  if (Source.Spent() > Budget || (Reading.Format.empty() && !Reading.Layouts.empty()))
    __builtin_trap();
  for (const guess::TStatedLayout& layout : Reading.Layouts) {
    int64_t bytes = BytesPerVoxel[layout.VoxelType % VoxelTypeCount];
    for (int64_t dim : layout.Dims)
      if (dim < 1 || __builtin_mul_overflow(bytes, dim, &bytes))
        __builtin_trap();
    if (layout.Dims.empty() || layout.DataStart < 0 || layout.DataStart > Size - bytes ||
        layout.Note.empty())
      __builtin_trap();
  }
}
