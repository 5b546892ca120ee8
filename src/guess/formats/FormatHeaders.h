#pragma once

#include "guess/LayoutGuess.h"

#include <cstdint>
#include <string>
#include <vector>

namespace guess {

// What self-describing headers say about a file: its own header (NIfTI-1/2,
// MetaImage, NRRD, PGM/PNM), or a header file beside it (Analyze .hdr beside
// .img, .mhd or detached .nhdr naming it). A header is trusted only where what
// it states fits the file.
struct THeaderFinding {
  std::vector<TLayoutCandidate> Candidates; // layouts of this file that a header states
  std::string Note; // when this file is a header for another file: which, for a person
};

// Head holds the first HeadBytes bytes of the file Name (the host's bytes),
// whose size is FileSize.
THeaderFinding ReadFormatHeaders(const std::string& Name, const uint8_t* Head, int64_t HeadBytes,
                                 int64_t FileSize);

} // namespace guess
