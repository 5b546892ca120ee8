#pragma once

#include "data/TestFiles.h"

#include <cstdint>
#include <random>
#include <vector>

namespace testfiles {

// A picture at a zoom step, built the other way round from the program: each
// voxel stamped as an Up x Up block, or every Down-th voxel of every Down-th
// row kept, starting at the first.
struct TZoomedModel {
  int64_t Width = 0;
  int64_t Height = 0;
  std::vector<uint32_t> Pixels; // 0x00RRGGBB, row after row

  uint32_t At(int64_t X, int64_t Y) const { return Pixels[static_cast<size_t>(Y * Width + X)]; }
};

inline TZoomedModel ZoomModel(const TBitmap24& Source, int32_t Up, int32_t Down) {
  TZoomedModel model;
  if (Down == 1) {
    model.Width = int64_t{Source.Width()} * Up;
    model.Height = int64_t{Source.Height()} * Up;
    model.Pixels.resize(static_cast<size_t>(model.Width * model.Height));
    for (int32_t vy = 0; vy < Source.Height(); ++vy)
      for (int32_t vx = 0; vx < Source.Width(); ++vx)
        for (int32_t dy = 0; dy < Up; ++dy)
          for (int32_t dx = 0; dx < Up; ++dx)
            model
                .Pixels[static_cast<size_t>((int64_t{vy} * Up + dy) * model.Width + vx * Up + dx)] =
                PixelAt(Source, vx, vy);
    return model;
  }
  for (int32_t vx = 0; vx < Source.Width(); vx += Down)
    ++model.Width;
  for (int32_t vy = 0; vy < Source.Height(); vy += Down, ++model.Height)
    for (int32_t vx = 0; vx < Source.Width(); vx += Down)
      model.Pixels.push_back(PixelAt(Source, vx, vy));
  return model;
}

// Random pixels, so that a pixel taken from the wrong voxel shows.
inline void FillRandom(TBitmap24& Bitmap, int32_t Width, int32_t Height, uint32_t Seed) {
  std::mt19937 random(Seed);
  Bitmap.SetSize(Width, Height);
  for (int32_t y = 0; y < Height; ++y)
    for (int32_t i = 0; i < Bitmap.Stride(); ++i)
      Bitmap.ScanLine(y)[i] = static_cast<uint8_t>(random());
}

} // namespace testfiles
