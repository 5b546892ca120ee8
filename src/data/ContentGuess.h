#pragma once

#include "data/LayoutGuess.h"
#include "platform/FileStream.h"

#include <cstdint>
#include <vector>

// Guessing a layout from the bytes alone: which voxel type and byte order make
// the values look like an image, where the data start, and how long rows and
// slices are.

struct TTypeGuess {
  TVoxelType Type = vtByte;
  TByteOrder Order = boLittleEndian;
  double Score = 0.0; // 0 .. 1: smooth, plausible values score high
};

// Every voxel type and byte order that Bytes could hold, best first. Bytes
// start on a voxel boundary of every width (a multiple of 8 bytes from the
// data's start). Of a signed and an unsigned type that read the same values,
// only the first in the type list is kept.
std::vector<TTypeGuess> RankVoxelTypes(const uint8_t* Bytes, int64_t Count);

// Pulls values beyond the central 99 % in to its bounds and makes non-finite
// values 0, so that a few wild values cannot outweigh all the others.
template <typename T> void ClampOutliers(std::vector<T>& Values);

// Where the opening bytes of a file may end: the end of a run of text, the
// end of its last line, and the end of the zeros after it.
struct TPreamble {
  bool Text = false;   // the file opens with a run of text that looks like a header
  bool Binary = false; // the file opens with a few binary fields and then zeros
  int64_t TextEnd = 0;
  int64_t LineEnd = 0;
  int64_t ZeroEnd = 0;
};
TPreamble ReadPreamble(const uint8_t* Head, int64_t Count);

// The short name of a type as the command line writes it, such as "float32".
const char* VoxelTypeName(TVoxelType Type);

// Layouts that the content of the file suggests, best first, each within the
// window's control ranges. Head holds the file's first bytes; reads at most
// MaxGuessSampleBytes - Head.size() more.
std::vector<TLayoutCandidate> GuessFromContent(platform::TFileStream& Stream, int64_t FileSize,
                                               const std::vector<uint8_t>& Head);
