#pragma once

#include "guess/formats/ByteSource.h"
#include "guess/formats/StatedLayout.h"

namespace guess {

// A NumPy .npy file (versions 1.0 to 3.0), or an .npz archive whose members
// are .npy files: each member stored uncompressed gives its layout where it
// lies in the archive. Compressed members hold no raw voxels.
TContainerReading ReadNumpy(TByteSource& Source);

} // namespace guess
