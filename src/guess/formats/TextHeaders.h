#pragma once

#include "guess/formats/StatedLayout.h"

#include <cstdint>

namespace guess {

// Readers of the text headers, each given the first HeadBytes bytes at Head
// of the file that may start with one. A header that runs past HeadBytes is
// read as far as it goes.

// MetaImage ("Key = Value" lines up to ElementDataFile; .mha or .mhd).
THeaderReading ReadMetaImageHeader(const uint8_t* Head, int64_t HeadBytes);

// NRRD ("NRRD000x", fields up to a blank line; attached or detached data).
THeaderReading ReadNrrdHeader(const uint8_t* Head, int64_t HeadBytes);

// Binary PGM (P5) and PPM (P6), and PFM (Pf, PF: single floats whose scale's
// sign gives the byte order); three samples per pixel read as one row three
// times as long.
THeaderReading ReadPnmHeader(const uint8_t* Head, int64_t HeadBytes);

} // namespace guess
