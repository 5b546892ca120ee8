#pragma once

#include "data/VoxelTypes.h"

#include <cstdint>
#include <string>
#include <vector>

// A layout of a file, every field within what the window's controls hold, so
// that a proposal can always be applied as it stands.
struct TLayout {
  int32_t HeaderBytes = 0;     // 0 .. MaxGuessHeaderBytes
  int32_t VoxelsPerRow = 1;    // 1 .. MaxGuessDimension
  int32_t RowsPerSlice = 1;    // 1 .. MaxGuessDimension
  int32_t SlicesPerVolume = 1; // 1 .. MaxGuessDimension
  TVoxelType VoxelType = vtByte;
  TByteOrder ByteOrder = boLittleEndian; // boLittleEndian for the 1-byte types
  bool operator==(const TLayout&) const = default;
};

struct TLayoutCandidate {
  TLayout Layout;
  double Score = 0.0; // 0 .. 1, higher is likelier
  std::string Reason; // one line for a person, such as "NIfTI-1 header"
};

struct TLayoutGuess {
  std::vector<TLayoutCandidate> Candidates; // best first, at most MaxLayoutCandidates
  std::string Why;                          // when there is no candidate: why not, for a person
};

inline constexpr int MaxLayoutCandidates = 10;
inline constexpr int32_t MaxGuessHeaderBytes = 32767;
inline constexpr int32_t MaxGuessDimension = 10000;
// Of the file and of any header file beside it, whatever their size.
inline constexpr int64_t MaxGuessSampleBytes = int64_t{16} << 20;

// Proposes layouts for the file Name (the host's bytes), best first. Reads at
// most MaxGuessSampleBytes, never writes, and never waits on a pipe or device:
// such a file, an empty one or one that cannot be read gives no candidate.
TLayoutGuess GuessLayout(const std::string& Name);
