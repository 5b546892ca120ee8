#pragma once

#include "guess/formats/ByteSource.h"
#include "guess/formats/StatedLayout.h"

namespace guess {

// A FITS file: one layout per raw image HDU (the primary image and IMAGE
// extensions), each at its data start, always big-endian. Tables are passed
// over, and tile-compressed images hold no raw voxels. cfitsio reads the
// headers through Source, so it skips the data without reading them.
TContainerReading ReadFits(TByteSource& Source);

} // namespace guess
