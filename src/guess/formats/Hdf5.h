#pragma once

#include "guess/formats/ByteSource.h"
#include "guess/formats/StatedLayout.h"

namespace guess {

// Reads an HDF5 file's metadata through Source, never its data: one layout
// per contiguous, unfiltered dataset of plain integers or IEEE floats, the
// largest first. A superblock after a user block (512, 1024, 2048, ... bytes)
// counts as well.
TContainerReading ReadHdf5(TByteSource& Source);

} // namespace guess
