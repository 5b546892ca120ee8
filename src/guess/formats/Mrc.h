#pragma once

#include "guess/formats/ByteSource.h"
#include "guess/formats/StatedLayout.h"

namespace guess {

// An MRC or CCP4 map: a 1024-byte header, an extended header of NSYMBT bytes,
// then the voxels. Files with "MAP " at 208 say their byte order in the
// machine stamp; older ones are taken in the order in which the header makes
// sense and the voxels fit the file.
TContainerReading ReadMrc(TByteSource& Source);

} // namespace guess
