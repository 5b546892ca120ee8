#pragma once

#include "guess/formats/StatedLayout.h"

#include <cstdint>

namespace guess {

// Reads an ENVI text header (first line "ENVI", then "key = value" lines,
// values in braces may span lines) from the first HeadBytes bytes at Head.
// It always describes another file, the data file beside it, so the reading
// is detached with no DataFile.
THeaderReading ReadEnviHeader(const uint8_t* Head, int64_t HeadBytes);

} // namespace guess
