#pragma once

#include "guess/content/ContentGuess.h"
#include "platform/FileStream.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace guess {

// Where the data of a raw file may start and end: after which header bytes,
// and before which trailer, with what speaks for each.

// Header sizes that formats use: Analyze and NIfTI, and round sizes.
inline constexpr std::array<int64_t, 8> CommonHeaderSizes = {348,  352,  512,  1024,
                                                             2048, 4096, 8192, 16384};

struct THeaderOption {
  int64_t Bytes = 0;
  int64_t End = 0;       // where the data end: the file's end, or before a trailer
  double Evidence = 0.0; // 0 .. 1
  std::string Why;
  // The header ends where the opening bytes stop looking like a header (text,
  // fields and zeros, noise), not merely where whole slices fill the rest or
  // at a common size, either of which may put it inside the data.
  bool Marked = false;
  bool SizeOnly = false; // nothing but the file size speaks for it
};

// Where the data may end: at the end of the file, before a text trailer,
// somewhere in a run of zeros that pads the file (to a block size, say), or,
// behind a header whose end is clear, after the last whole slice, whatever
// follows it.
struct TTail {
  int64_t FileSize = 0;
  int64_t TextStart = -1; // a printable trailer starts here
  bool Prose = false;     // the trailer reads as words, not as bytes that happen to be printable
  int64_t ZeroStart = -1; // the file ends in zeros from here
  // The zeros pad the file to a block, and the bytes just before them hold
  // few zeros of their own: the data stop there abruptly, as they do where
  // padding follows, not fade into an image's own dark background.
  bool AbruptZeros = false;
};

// Another image, of rows of RowBytes, that starts near At (a preview after
// the first image), as the rows of one row length show it: the data may end
// where it begins.
struct TImageAfter {
  int64_t At = -1;
  int64_t RowBytes = 0;
};

// How the file ends: in a printable trailer, or in zeros. A run of a few
// bytes says nothing; an image's own dark rows may end in zeros too, which
// is why the end of the file stays the first choice.
TTail ReadTail(platform::TFileStream& Stream, int64_t FileSize);

// Headers after which the data fill the file, or, where none is convincing,
// after which they end before a trailer; at most two, likeliest first.
// SmoothEnd: the file's first bytes read as smooth as the data up to there
// (0 where they do not), so that no header ends before it.
std::vector<THeaderOption> HeaderOptions(const TPreamble& Preamble, int64_t JunkEnd,
                                         int64_t JunkSlack, int64_t SmoothEnd, const TTail& Tail,
                                         const TImageAfter& After, int64_t RowBytes,
                                         int64_t SliceBytes);

} // namespace guess
