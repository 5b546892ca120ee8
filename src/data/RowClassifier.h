#pragma once

#include "data/IntensityWindow.h"
#include "data/VoxelTypes.h"

#include <cstdint>

// First pass over a row of voxels: classify each one's single in single
// precision, branch-free so that it vectorises. 32-bit voxels are decoded on
// the way; wider ones arrive already converted to singles.
namespace rowclassifier {

// Codes below CodeUnder are grey levels.
inline constexpr int32_t CodeUnder = 256;
inline constexpr int32_t CodeOver = 257;
inline constexpr int32_t CodeCheck = 258; // only the exact path can tell

struct TParams {
  TVoxelType Type =
      vtFloat32; // vtInt32, vtUInt32 or vtFloat32; ClassifySingles ignores it and Swap
  bool Swap = false;
  bool Flag = false;
  float MinF = 0.0f;
  float Scale = 1.0f;
  float LowestInside = 0.0f;  // the least single not below IntensityMin
  float HighestInside = 0.0f; // the greatest single not above IntensityMax
};

TParams ParamsFor(TVoxelType Type, bool Swap, const TIntensityWindow& Window);

// Fills Values[0..Count) and Codes[0..Count) from the voxels at Bytes. Both
// return whether any code is CodeCheck, so that rows without one need no search.
bool ClassifyRow(const uint8_t* Bytes, int32_t Count, const TParams& Params, float* Values,
                 int32_t* Codes);

// Fills Codes[0..Count) for singles already decoded.
bool ClassifySingles(const float* Values, int32_t Count, const TParams& Params, int32_t* Codes);

} // namespace rowclassifier
