#pragma once

#include "data/Bitmap24.h"
#include "data/IntensityWindow.h"
#include "data/VoxelTypes.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

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

// Where a slice's range starts, 2^31 and -2^31: a slice without pixels keeps
// it, so Apply then writes the 32-bit limits reversed.
inline constexpr TValueRange EmptySliceRange{2147483648.0f, -2147483648.0f};

// Paints views into bitmaps. Keeps the colour table of 8- and 16-bit voxels
// (over all their bit patterns) between renders: it only changes with the
// window or the voxel type.
class TViewPainter {
public:
  TViewPainter();
  // The bitmap must already be Width x Height. When Range is given it takes in
  // every value of the view except NaNs, positions beyond the file as 0.
  void Paint(const TViewSource& Source, const TIntensityWindow& Window, TBitmap24& Bitmap,
             TValueRange* Range);
  // Paint in steps, for a view whose bytes are still arriving: Prepare once,
  // then PaintRows for consecutive runs of rows, top to bottom, each row only
  // once every voxel it shows has arrived or Source.VoxelCount is final.
  void Prepare(const TViewSource& Source, const TIntensityWindow& Window);
  void PaintRows(const TViewSource& Source, const TIntensityWindow& Window, TBitmap24& Bitmap,
                 TValueRange* Range, int32_t FirstRow, int32_t EndRow);
  // Paints every pixel of the bitmap in one colour.
  static void Fill(TBitmap24& Bitmap, uint32_t Colour);

private:
  static bool IsTabled(TVoxelType Type);
  static bool IsWindowTabled(TVoxelType Type);
  const std::vector<uint32_t>& TableFor(TVoxelType Type, const TIntensityWindow& Window);
  void WindowTableFor(TVoxelType Type, const TIntensityWindow& Window);
  void PrepareMapped(const TViewSource& Source);
  // Rows of up to this many voxels in all are painted as one (see PaintRows).
  static constexpr int32_t JoinedVoxels = 4096;
  void PaintTableRow(uint8_t* Row, const TViewSource& Source, const uint8_t* Bytes, int32_t Count,
                     int32_t RowWidth, bool Swap);
  void TakeInTabled(TValueRange& Range, const TViewSource& Source, const uint8_t* Bytes,
                    int32_t Count, bool Swap);
  uint32_t CheckedWord(float V, const TIntensityWindow& Window);
  template <typename TValueAt>
  void PaintChecks(uint8_t* Row, const int32_t* Codes, TValueAt ValueAt, int32_t Count,
                   const TIntensityWindow& Window);
  void PaintMappedRow(uint8_t* Row, const TViewSource& Source, const uint8_t* Bytes, int32_t Count,
                      int32_t RowWidth, bool Swap, const TIntensityWindow& Window,
                      TValueRange* Range);

  std::vector<uint32_t> FTable;
  TVoxelType FTableType = vtByte;
  TIntensityWindow FTableWindow{0, 0, false};
  // Scratch of one row: the voxels as singles and their classification.
  std::vector<float> FValues;
  std::vector<int32_t> FCodes;
  // 32- and 64-bit integers of a narrow window through a table of its values, the
  // first and last entry standing for all beyond (see WindowTableFor).
  struct TWindowTable {
    std::vector<uint32_t> Words;
    int64_t Low = 0, High = -1;
    bool Valid = false;
    TVoxelType Type = vtByte;
    TIntensityWindow Window{0, 0, false};
  } FWindowTable;
  std::vector<uint32_t> FCodeWords;
  bool FStreamPixels = false;
  // The pixel words of values that took the exact path in this paint, by
  // their bits: a smooth image meets the same such value again and again.
  struct TCheckedWords {
    std::array<uint32_t, 256> Bits{};
    std::array<uint32_t, 256> Words{};
    std::bitset<256> Held;
  } FChecked;
};
