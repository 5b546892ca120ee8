#pragma once

#include "data/VoxelTypes.h"

#include <cstdint>
#include <vector>

namespace guess {

// Which voxel type and byte order make a run of bytes look like an image.

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

// Whether A and B are an integer and a float type of the same width and
// byte order.
bool OtherKind(const TTypeGuess& A, const TTypeGuess& B);

// The readings of Ranked (as RankVoxelTypes gives them) worth laying out: the
// best, then the best of the other kind, then the next best, each at least
// half as good as the best (a quarter for the other kind). Read as a float,
// an integer image stays smooth, and the other way round, so smoothness
// alone tells the two kinds apart only weakly.
std::vector<TTypeGuess> ReadingsToLayOut(const std::vector<TTypeGuess>& Ranked);

// Pulls values beyond the central 99 % in to its bounds and makes non-finite
// values 0, so that a few wild values cannot outweigh all the others.
template <typename T> void ClampOutliers(std::vector<T>& Values);

// The short name of a type as the command line writes it, such as "float32".
const char* VoxelTypeName(TVoxelType Type);

// The value of the voxel at Bytes as Type stores it, widened to a double.
double VoxelValue(const uint8_t* Bytes, TVoxelType Type, TByteOrder Order);

} // namespace guess
