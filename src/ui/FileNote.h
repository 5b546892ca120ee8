#pragma once

#include "platform/Decompress.h"

#include <cstdint>
#include <string>

// What the file-name strip says after the name of a compressed file, e.g.
// " (gzip, 1.2 GB decompressed)", and that it is truncated or where the damage
// is, or where a part starts that needs too large a window; empty for a file
// read as it is.
std::string CompressionNote(platform::TCompression Kind, const platform::TDecodeState& State);

// A byte count for a person: "850 bytes", "1.2 GB" (units of 1000).
std::string SizeText(int64_t Bytes);
