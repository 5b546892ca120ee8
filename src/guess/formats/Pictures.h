#pragma once

#include "guess/formats/ByteSource.h"
#include "guess/formats/StatedLayout.h"

namespace guess {

// Picture files: a BMP holds its pixels raw (rows bottom up, each padded to
// four bytes, so a row is read as its padded length); PNG, JPEG, GIF, WebP,
// JPEG 2000 and JPEG XL compress theirs, which no layout can show.
TContainerReading ReadPicture(TByteSource& Source);

} // namespace guess
