#pragma once

#include "guess/LayoutGuess.h"
#include "guess/formats/StatedLayout.h"

#include <cstdint>
#include <optional>
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
  // When this file is a detached header that names one data file: that file's
  // path (in the header's folder unless the header gives an absolute one), and
  // the layout the header states for it with the reason to give.
  std::string DataFile;
  std::optional<TStatedLayout> DataLayout;
  std::string DataReason;
};

// Head holds the first HeadBytes bytes of the file Name (the host's bytes),
// whose size is FileSize.
THeaderFinding ReadFormatHeaders(const std::string& Name, const uint8_t* Head, int64_t HeadBytes,
                                 int64_t FileSize);

// The candidate a stated layout gives for a data file of FileSize bytes whose
// head is at Head, or nothing when the layout cannot be taken as it stands: a
// dimension outside the controls' range, a header too long for them, or not
// even one whole volume in the file. Reason is the candidate's reason.
std::optional<TLayoutCandidate> FitStated(const TStatedLayout& Stated, const uint8_t* Head,
                                          int64_t HeadBytes, int64_t FileSize, std::string Reason);

} // namespace guess
