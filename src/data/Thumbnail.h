#pragma once

#include "data/Bitmap24.h"
#include "data/Layout.h"

#include <cstdint>
#include <functional>

namespace platform {
class TFileStream;
}

// Reads up to Count bytes at Offset into Buffer and returns how many arrived,
// as TFileStream::ReadAt does.
using TThumbnailReader = std::function<int64_t(int64_t Offset, void* Buffer, int64_t Count)>;

// The side the Guess Layout dialog gives its pictures.
inline constexpr int32_t ThumbnailSide = 96;

// Paints a small picture of the middle slice of Layout's first volume, so
// that a person can tell a right layout from a wrong one at a glance. The
// larger side becomes MaxSide, the other keeps the aspect, each pixel the
// nearest voxel; an image that already fits is shown 1:1, never enlarged, so
// that no voxel is shown twice. Colours are the views' own: grey through an
// intensity window, light blue past the end of the file, yellow where a value
// cannot be mapped, no over/under flags. Reads only the voxels it shows, so a
// huge file costs what a small one does. A layout outside the window's ranges
// or a MaxSide below 1 leaves the picture empty.
void PaintThumbnail(const TThumbnailReader& Read, const TLayout& Layout, int32_t MaxSide,
                    TBitmap24& Picture);
void PaintThumbnail(platform::TFileStream& Stream, const TLayout& Layout, int32_t MaxSide,
                    TBitmap24& Picture);
