#pragma once

#include <cstdint>
#include <vector>

#include "data/Bitmap24.h"
#include "data/IntensityWindow.h"
#include "data/VoxelTypes.h"

// The raw bytes of one view as read from the file.
struct TViewSource {
  const uint8_t* Bytes = nullptr;
  int64_t VoxelCount = 0; // voxels that came from the file; the rest is painted light blue
  TVoxelType Type = vtByte;
  TByteOrder Order = boLittleEndian;
  int32_t Width = 0;
  int32_t Height = 0;
};

// Smallest and largest value met, in the order the pixels are painted.
struct TValueRange {
  float Min;
  float Max;
};

// Paints views into bitmaps. Keeps the colour table of 8- and 16-bit values
// between renders: it only changes with the window or the voxel type.
class TViewPainter {
public:
  // The bitmap must already be Width x Height. When Range is given it takes in
  // every value of the view except NaNs, positions beyond the file as 0.
  void Paint(const TViewSource& Source, const TIntensityWindow& Window, TBitmap24& Bitmap,
             TValueRange* Range);
  // Paints every pixel of the bitmap in one colour.
  static void Fill(TBitmap24& Bitmap, uint32_t Colour);

private:
  const std::vector<uint32_t>& TableFor(TVoxelType Type, const TIntensityWindow& Window);

  std::vector<uint32_t> FTable;
  TVoxelType FTableType = vtByte;
  TIntensityWindow FTableWindow{0, 0, false};
};
