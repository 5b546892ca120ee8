#pragma once

#include "data/TestFiles.h"
#include "guess/LayoutGuess.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace testfiles {

// A head-like volume as a scanner would give it: a dark background, a bright
// rim, a softly varying inside and a little noise. Values span about 0..1000.
inline std::vector<double> SmoothVolume(int32_t Width, int32_t Height, int32_t Slices) {
  std::vector<double> values;
  values.reserve(static_cast<size_t>(Width) * Height * Slices);
  for (int32_t z = 0; z < Slices; ++z)
    for (int32_t y = 0; y < Height; ++y)
      for (int32_t x = 0; x < Width; ++x) {
        const double dx = (x + 0.5) / Width * 2 - 1, dy = (y + 0.5) / Height * 2 - 1;
        const double dz = (z + 0.5) / Slices * 2 - 1;
        const double r = std::sqrt(dx * dx / 0.7 + dy * dy / 0.85 + dz * dz / 0.9);
        uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
                     static_cast<uint32_t>(z) * 83492791u;
        h = (h ^ h >> 13) * 0x5bd1e995u;
        const double noise = static_cast<double>((h ^ h >> 15) % 21) - 10;
        double v = 0;
        if (r < 0.9)
          v = 450 + 250 * std::cos(3 * dx) * std::cos(2 * dy + dz) + noise;
        else if (r < 1.0)
          v = 900 + noise;
        values.push_back(v);
      }
  return values;
}

// Values stored as Type holds them: bytes and 8-bit integers scaled into their
// range, floats given a fraction, the rest as they are.
inline double StoredValue(double V, TVoxelType Type) {
  switch (Type) {
  case vtByte:
    return std::round(V / 4);
  case vtInt8:
    return std::round(V / 8);
  case vtFloat16:
    return std::round(V * 2) / 4;
  case vtFloat32:
  case vtFloat64:
    return V * 0.37 + 0.125;
  default:
    return V;
  }
}

inline std::vector<uint8_t> EncodeVolume(const std::vector<double>& Values, TVoxelType Type,
                                         TByteOrder Order) {
  std::vector<uint8_t> bytes;
  for (double v : Values)
    AppendVoxel(bytes, Type, Order, StoredValue(v, Type));
  return bytes;
}

// Whether Guessed reads the voxels of True the same: the same type up to a
// signed/unsigned twin on values that never need the sign, the same order
// where the type has more than one byte.
inline bool ReadsTheSame(const TLayout& Guessed, const TLayout& True) {
  const auto twin = [](TVoxelType T) {
    switch (T) {
    case vtUInt16:
      return vtInt16;
    case vtUInt32:
      return vtInt32;
    case vtUInt64:
      return vtInt64;
    case vtInt8:
      return vtByte;
    default:
      return T;
    }
  };
  const bool sameOrder = BytesPerVoxel[True.VoxelType] == 1 || Guessed.ByteOrder == True.ByteOrder;
  // The volumes here keep int8 values below 128 and others non-negative.
  return Guessed.HeaderBytes == True.HeaderBytes && Guessed.VoxelsPerRow == True.VoxelsPerRow &&
         Guessed.RowsPerSlice == True.RowsPerSlice &&
         twin(Guessed.VoxelType) == twin(True.VoxelType) && sameOrder;
}

} // namespace testfiles
