#pragma once

#include "guess/formats/StatedLayout.h"

#include <cstdint>

namespace guess {

// Reads a NIfTI-1, NIfTI-2 or Analyze 7.5 header from the first HeadBytes
// bytes at Head, in either byte order. A .hdr of a pair (Analyze, "ni1",
// "ni2") reads as detached with no DataFile: its voxels are in the .img.
THeaderReading ReadNiftiHeader(const uint8_t* Head, int64_t HeadBytes);

} // namespace guess
