#include "data/Thumbnail.h"

#include "data/IntensityWindow.h"
#include "data/ViewPainter.h"
#include "data/VoxelDecoder.h"
#include "platform/FileStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// A row up to this long is read in one go, which costs one system call
// instead of one per voxel; a longer one is read voxel by voxel, so that no
// sampled row costs more than this whatever the layout.
constexpr int64_t WholeRowBytes = 16 * 1024;

struct TSize {
  int32_t Width;
  int32_t Height;
};

TSize ThumbnailSize(int32_t Width, int32_t Height, int32_t MaxSide) {
  const int64_t larger = std::max(Width, Height);
  if (larger <= MaxSide)
    return {Width, Height};
  // Rounded to nearest, so the larger side comes out at MaxSide exactly.
  const auto scaled = [&](int32_t Side) {
    return static_cast<int32_t>(
        std::max<int64_t>(1, (int64_t{Side} * MaxSide * 2 + larger) / (2 * larger)));
  };
  return {scaled(Width), scaled(Height)};
}

// The voxel under the centre of pixel I of the N pixels across Count voxels.
int64_t NearestVoxel(int32_t I, int32_t N, int32_t Count) {
  return (int64_t{2} * I + 1) * Count / (int64_t{2} * N);
}

// Copies the voxels shown into Bytes in pixel order and returns how many came
// from the file. Their offsets grow with the pixel order, so the end of the
// file leaves a tail of missing voxels, which the painter shows as beyond the
// file; reading stops at the first one.
int64_t GatherVoxels(const TThumbnailReader& Read, const TLayout& Layout, TSize Size,
                     std::vector<uint8_t>& Bytes) {
  const int64_t voxelBytes = BytesPerVoxel[Layout.VoxelType];
  const int64_t rowBytes = Layout.VoxelsPerRow * voxelBytes;
  const int64_t middle = Layout.SlicesPerVolume / 2;
  const int64_t sliceStart = Layout.HeaderBytes + middle * Layout.RowsPerSlice * rowBytes;
  std::vector<uint8_t> row(rowBytes <= WholeRowBytes ? rowBytes : 0);
  int64_t count = 0;
  for (int32_t j = 0; j < Size.Height; ++j) {
    const int64_t rowStart =
        sliceStart + NearestVoxel(j, Size.Height, Layout.RowsPerSlice) * rowBytes;
    const int64_t rowArrived = row.empty() ? 0 : Read(rowStart, row.data(), rowBytes);
    for (int32_t i = 0; i < Size.Width; ++i) {
      const int64_t at = NearestVoxel(i, Size.Width, Layout.VoxelsPerRow) * voxelBytes;
      uint8_t* voxel = Bytes.data() + count * voxelBytes;
      if (row.empty()) {
        if (Read(rowStart + at, voxel, voxelBytes) != voxelBytes)
          return count;
      } else {
        if (at + voxelBytes > rowArrived)
          return count;
        std::memcpy(voxel, row.data() + at, static_cast<size_t>(voxelBytes));
      }
      ++count;
    }
  }
  return count;
}

// The window spans the smallest and largest finite value among the voxels
// shown, widened to the whole numbers a window holds, so the picture uses the
// whole grey ramp whatever the file's range. Infinities and NaNs stay out:
// an infinite end would leave every finite value at one grey.
TIntensityWindow WindowOver(const std::vector<uint8_t>& Bytes, int64_t Count,
                            const TLayout& Layout) {
  float low = std::numeric_limits<float>::infinity();
  float high = -low;
  for (int64_t p = 0; p < Count; ++p) {
    const float v = voxeldecoder::DecodeSingle(Bytes.data(), p, Layout.VoxelType, Layout.ByteOrder);
    if (std::isfinite(v)) {
      low = std::min(low, v);
      high = std::max(high, v);
    }
  }
  if (low > high)
    return {0, 0, false};
  const auto whole = [](double V) {
    return static_cast<int32_t>(std::clamp(V, double{INT32_MIN}, double{INT32_MAX}));
  };
  return {whole(std::floor(low)), whole(std::ceil(high)), false};
}

} // namespace

void PaintThumbnail(const TThumbnailReader& Read, const TLayout& Layout, int32_t MaxSide,
                    TBitmap24& Picture) {
  if (!WithinRanges(Layout) || MaxSide < 1) {
    Picture.SetSize(0, 0);
    return;
  }
  const TSize size = ThumbnailSize(Layout.VoxelsPerRow, Layout.RowsPerSlice, MaxSide);
  std::vector<uint8_t> bytes(
      static_cast<size_t>(int64_t{size.Width} * size.Height * BytesPerVoxel[Layout.VoxelType]));
  const int64_t count = GatherVoxels(Read, Layout, size, bytes);
  Picture.SetSize(size.Width, size.Height);
  const TViewSource source{bytes.data(),     count,      Layout.VoxelType,
                           Layout.ByteOrder, size.Width, size.Height};
  TViewPainter painter;
  painter.Paint(source, WindowOver(bytes, count, Layout), Picture, nullptr);
}

void PaintThumbnail(platform::TFileStream& Stream, const TLayout& Layout, int32_t MaxSide,
                    TBitmap24& Picture) {
  PaintThumbnail([&Stream](int64_t Offset, void* Buffer,
                           int64_t Count) { return Stream.ReadAt(Offset, Buffer, Count); },
                 Layout, MaxSide, Picture);
}
