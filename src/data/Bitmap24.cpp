#include "data/Bitmap24.h"

#include <algorithm>
#include <new>

int32_t TBitmap24::StrideFor(int32_t Width) {
  return static_cast<int32_t>((std::max<int64_t>(Width, 0) * 3 + 3) / 4 * 4);
}

void TBitmap24::SetSize(int32_t Width, int32_t Height) {
  Width = std::max(Width, 0);
  Height = std::max(Height, 0);
  const int64_t stride = (static_cast<int64_t>(Width) * 3 + 3) / 4 * 4;
  const int64_t bytes = stride * Height;
  FWidth = FHeight = FStride = 0;
  if (stride > INT32_MAX)
    throw std::bad_alloc();
  if (static_cast<uint64_t>(bytes) > FPixels.size())
    FPixels.resize(static_cast<size_t>(bytes));
  FWidth = Width;
  FHeight = Height;
  FStride = static_cast<int32_t>(stride);
}
