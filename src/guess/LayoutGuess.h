#pragma once

#include "data/Layout.h"
#include "platform/Decompress.h"

#include <cstdint>
#include <string>
#include <vector>

namespace guess {

struct TLayoutCandidate {
  TLayout Layout;
  double Score = 0.0; // 0 .. 1, higher is likelier
  std::string Reason; // one line for a person, such as "NIfTI-1 header"
};

struct TLayoutGuess {
  std::vector<TLayoutCandidate> Candidates; // best first, at most MaxLayoutCandidates
  std::string Why;                          // when there is no candidate: why not, for a person
  // The file the candidates describe when it is not the one guessed: the data
  // file that a detached header names.
  std::string DataFile;
};

inline constexpr int MaxLayoutCandidates = 10;
// The content alone places a header no further in than this; a container
// that states its data offset may place it anywhere up to MaxHeaderBytes.
inline constexpr int32_t MaxContentHeaderBytes = 32767;
// Of the file and of any header file beside it, whatever their size.
inline constexpr int64_t MaxGuessSampleBytes = int64_t{16} << 20;

// Proposes layouts for the file Name (the host's bytes), best first. Reads at
// most MaxGuessSampleBytes, never writes, and never waits on a pipe or device:
// such a file, an empty one or one that cannot be read gives no candidate.
// Progress hears of a compressed file read through (one not open already);
// when it cancels, platform::EOpenCancelled comes out.
TLayoutGuess GuessLayout(const std::string& Name, const platform::TIndexProgress& Progress = {});

} // namespace guess
