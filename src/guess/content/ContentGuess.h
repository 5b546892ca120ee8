#pragma once

#include "guess/LayoutGuess.h"
#include "guess/content/VoxelStatistics.h"
#include "platform/FileStream.h"

#include <cstdint>
#include <vector>

namespace guess {

// Guessing a layout from the bytes alone: where the data start, and how long
// rows and slices are, once the voxel type is known.

// Where the opening bytes of a file may end: the end of a run of text, the
// end of its last line, and the end of the zeros after it.
struct TPreamble {
  bool Text = false;   // the file opens with a run of text that looks like a header
  bool Binary = false; // the file opens with a few binary fields and then zeros
  int64_t TextEnd = 0;
  int64_t LineEnd = 0;
  int64_t ZeroEnd = 0;
  // Where lines stop reading as a header's (short, with blanks or '=' or
  // ':'): printable voxels after the header run on as one long "line".
  int64_t LinesEnd = 0;
};
TPreamble ReadPreamble(const uint8_t* Head, int64_t Count);

// Layouts that the content of the file suggests, best first, each within the
// window's control ranges. Head holds the file's first bytes; reads at most
// MaxGuessSampleBytes - Head.size() more.
std::vector<TLayoutCandidate> GuessFromContent(platform::TFileStream& Stream, int64_t FileSize,
                                               const std::vector<uint8_t>& Head);

} // namespace guess
