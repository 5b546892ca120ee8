#pragma once

#include "data/VoxelTypes.h"

#include <cstdint>

// Where the voxels of a file lie and how they are stored: the values of the
// window's layout controls, as the guesser proposes them and the command line
// states them.
struct TLayout {
  int32_t HeaderBytes = 0;     // 0 .. MaxHeaderBytes
  int32_t VoxelsPerRow = 1;    // 1 .. MaxDimension
  int32_t RowsPerSlice = 1;    // 1 .. MaxDimension
  int32_t SlicesPerVolume = 1; // 1 .. MaxDimension
  TVoxelType VoxelType = vtByte;
  TByteOrder ByteOrder = boLittleEndian; // boLittleEndian for the 1-byte types
  bool operator==(const TLayout&) const = default;
};

// The ends of the window's ranges: headers of any size a 32-bit count holds
// (instrument files keep their data well past 32 KiB), dimensions as shown.
inline constexpr int32_t MaxHeaderBytes = 2147483647;
inline constexpr int32_t MaxDimension = 10000;

// Whether every field of Layout is within what the controls hold.
constexpr bool WithinRanges(const TLayout& Layout) {
  const auto dimension = [](int32_t N) { return N >= 1 && N <= MaxDimension; };
  return Layout.HeaderBytes >= 0 && dimension(Layout.VoxelsPerRow) &&
         dimension(Layout.RowsPerSlice) && dimension(Layout.SlicesPerVolume) &&
         Layout.VoxelType < VoxelTypeCount &&
         (Layout.ByteOrder == boLittleEndian || Layout.ByteOrder == boBigEndian);
}
