#pragma once

#include "guess/formats/ByteSource.h"
#include "guess/formats/StatedLayout.h"

namespace guess {

// Reads a DICOM file (Part 10, with its 128-byte preamble and "DICM", or a
// bare data set) in any native transfer syntax and states where its pixel
// data lie. A compressed syntax is recognised and says why nothing is offered.
TContainerReading ReadDicom(TByteSource& Source);

} // namespace guess
