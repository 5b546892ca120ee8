#pragma once

#include "data/Bitmap24.h"

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

// How large the views are shown. A view is always painted one pixel per
// voxel; a zoom step only says how that picture is put on the screen.
namespace zoom {

// Up screen pixels per voxel in each direction, or one screen pixel per Down
// voxels; one of the two is always 1.
struct TZoomStep {
  int32_t Up;
  int32_t Down;
};

inline constexpr TZoomStep ZoomSteps[] = {{1, 8}, {1, 4}, {1, 2}, {1, 1},  {2, 1}, {3, 1},
                                          {4, 1}, {6, 1}, {8, 1}, {12, 1}, {16, 1}};
inline constexpr int ZoomStepCount = static_cast<int>(std::size(ZoomSteps));
inline constexpr int ActualSize = 3;

// Steps are named by their index in ZoomSteps; an index out of range counts
// as the nearest end.
int ClampedStep(int Step);
int StepIn(int Step);
int StepOut(int Step);

// "1/4", "1", "12": the text by which the command line takes a step.
std::string StepName(int Step);
std::optional<int> ParseStep(std::string_view Text);
// All the names, separated by ", ".
std::string StepNames();

// Screen pixels of Voxels voxels. Shrunk, the last pixel shows the voxel at
// its left or top edge, so a part of a block still takes a pixel.
int64_t ZoomedLength(int32_t Voxels, int Step);
// The voxel whose square holds the screen pixel; shrunk, the voxel at the
// pixel's top-left corner. Negative pixels (a pointer held outside the image)
// keep their direction.
int32_t VoxelAt(int32_t Pixel, int Step);

// A picture of Width x Height voxels shown at Step fits in 2^31 bytes as a
// 24-bit bitmap, and a row of it in 2^31 - 1.
bool Fits(int32_t Width, int32_t Height, int Step);
// Step, or the largest step below it at which the picture fits.
int LargestFitting(int32_t Width, int32_t Height, int Step);

// Writes the screen pixels Left..Left+Width-1, Top..Top+Height-1 of Source
// shown at Step into Target (rows of TargetStride bytes, blue, green, red).
// The rectangle must lie within the zoomed size of Source.
void PaintZoomed(const TBitmap24& Source, int Step, int32_t Left, int32_t Top, int32_t Width,
                 int32_t Height, uint8_t* Target, int64_t TargetStride);
// The whole of Source shown at Step. Throws std::bad_alloc when the picture
// does not fit.
void Zoomed(const TBitmap24& Source, int Step, TBitmap24& Target);

} // namespace zoom
