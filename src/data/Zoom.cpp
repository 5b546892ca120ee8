#include "data/Zoom.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace zoom {

namespace {

constexpr int64_t MaxPictureBytes = int64_t{1} << 31;

} // namespace

int ClampedStep(int Step) {
  return std::clamp(Step, 0, ZoomStepCount - 1);
}

int StepIn(int Step) {
  return ClampedStep(ClampedStep(Step) + 1);
}

int StepOut(int Step) {
  return ClampedStep(ClampedStep(Step) - 1);
}

std::string StepName(int Step) {
  const TZoomStep step = ZoomSteps[ClampedStep(Step)];
  return step.Down > 1 ? "1/" + std::to_string(step.Down) : std::to_string(step.Up);
}

std::optional<int> ParseStep(std::string_view Text) {
  for (int step = 0; step < ZoomStepCount; ++step)
    if (Text == StepName(step))
      return step;
  return std::nullopt;
}

std::string StepNames() {
  std::string names;
  for (int step = 0; step < ZoomStepCount; ++step)
    names += (step > 0 ? ", " : "") + StepName(step);
  return names;
}

int64_t ZoomedLength(int32_t Voxels, int Step) {
  const TZoomStep step = ZoomSteps[ClampedStep(Step)];
  const int64_t voxels = std::max(Voxels, 0);
  return (voxels * step.Up + step.Down - 1) / step.Down;
}

int32_t VoxelAt(int32_t Pixel, int Step) {
  const TZoomStep step = ZoomSteps[ClampedStep(Step)];
  if (step.Down > 1)
    return static_cast<int32_t>(
        std::clamp<int64_t>(int64_t{Pixel} * step.Down, INT32_MIN, INT32_MAX));
  // Division that rounds down, so that pixel -1 lies in voxel -1.
  return Pixel >= 0 ? Pixel / step.Up : -((-int64_t{Pixel} + step.Up - 1) / step.Up);
}

bool Fits(int32_t Width, int32_t Height, int Step) {
  const int64_t width = ZoomedLength(Width, Step);
  const int64_t height = ZoomedLength(Height, Step);
  const int64_t stride = (width * 3 + 3) / 4 * 4;
  return stride <= INT32_MAX && (height == 0 || stride <= MaxPictureBytes / height);
}

int LargestFitting(int32_t Width, int32_t Height, int Step) {
  Step = ClampedStep(Step);
  while (Step > 0 && !Fits(Width, Height, Step))
    --Step;
  return Step;
}

// Each target row copies the pixels of one source row through a table of
// source columns; rows that show the same source row are copied whole.
void PaintZoomed(const TBitmap24& Source, int Step, int32_t Left, int32_t Top, int32_t Width,
                 int32_t Height, uint8_t* Target, int64_t TargetStride) {
  if (Width <= 0 || Height <= 0)
    return;
  std::vector<int32_t> columns(static_cast<size_t>(Width));
  for (int32_t x = 0; x < Width; ++x)
    columns[static_cast<size_t>(x)] = VoxelAt(Left + x, Step) * 3;
  const size_t rowBytes = static_cast<size_t>(Width) * 3;
  int32_t shownRow = -1;
  for (int32_t y = 0; y < Height; ++y) {
    uint8_t* out = Target + y * TargetStride;
    const int32_t row = VoxelAt(Top + y, Step);
    if (row == shownRow) {
      std::memcpy(out, out - TargetStride, rowBytes);
      continue;
    }
    const uint8_t* in = Source.ScanLine(row);
    for (const int32_t column : columns) {
      std::memcpy(out, in + column, 3);
      out += 3;
    }
    shownRow = row;
  }
}

void Zoomed(const TBitmap24& Source, int Step, TBitmap24& Target) {
  if (!Fits(Source.Width(), Source.Height(), Step))
    throw std::bad_alloc();
  const auto width = static_cast<int32_t>(ZoomedLength(Source.Width(), Step));
  const auto height = static_cast<int32_t>(ZoomedLength(Source.Height(), Step));
  Target.SetSize(width, height);
  if (height > 0)
    PaintZoomed(Source, Step, 0, 0, width, height, Target.ScanLine(0), Target.Stride());
}

} // namespace zoom
