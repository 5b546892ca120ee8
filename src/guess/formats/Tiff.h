#pragma once

#include "guess/formats/ByteSource.h"
#include "guess/formats/StatedLayout.h"

namespace guess {

// Reads a classic TIFF or a BigTIFF, in either byte order, through libtiff.
// Only uncompressed single-sample pages whose rows lie in order in the file
// can be shown as raw voxels; pages of one size and type that follow one
// another exactly read as the slices of one volume. Planar configuration does
// not matter with one sample per pixel, so both are taken; several planes
// are not.
TContainerReading ReadTiff(TByteSource& Source);

} // namespace guess
