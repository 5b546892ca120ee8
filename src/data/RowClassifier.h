#pragma once

#include "data/IntensityWindow.h"
#include "data/VoxelTypes.h"

#include <cstdint>

// First pass over a row of 32-bit voxels: decode each one to a single and
// classify it in single precision, branch-free so that it vectorises.
namespace rowclassifier {

// Codes below CodeUnder are grey levels.
inline constexpr int32_t CodeUnder = 256;
inline constexpr int32_t CodeOver = 257;
inline constexpr int32_t CodeCheck = 258; // only the exact path can tell

struct TParams {
  bool Int32 = false; // else float32
  bool Swap = false;
  bool Flag = false;
  float MinF = 0.0f;
  float Scale = 1.0f;
  float LowestInside = 0.0f;  // the least single not below IntensityMin
  float HighestInside = 0.0f; // the greatest single not above IntensityMax
};

TParams ParamsFor(TVoxelType Type, bool Swap, const TIntensityWindow& Window);

// Fills Values[0..Count) and Codes[0..Count) from the voxels at Bytes.
void ClassifyRow(const uint8_t* Bytes, int32_t Count, const TParams& Params, float* Values,
                 int32_t* Codes);

} // namespace rowclassifier
