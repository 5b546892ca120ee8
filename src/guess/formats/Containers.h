#pragma once

#include "guess/formats/ByteSource.h"
#include "guess/formats/StatedLayout.h"

namespace guess {

// The first container that recognises the file behind Source, or an empty
// Format when none does. Each reader reads only through Source, so the whole
// look stays within its budget whatever the file claims.
TContainerReading ReadContainers(TByteSource& Source);

} // namespace guess
