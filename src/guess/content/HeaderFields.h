#pragma once

#include "data/VoxelTypes.h"

#include <cstdint>
#include <vector>

namespace guess {

// Integers near the start of a file that could be an image's dimensions:
// many instrument formats store the width, the height and the data size
// there as 16- or 32-bit numbers, in either byte order.
struct THeaderField {
  int64_t Offset = 0;
  int32_t Bytes = 2; // 2 or 4
  TByteOrder Order = boLittleEndian;
  int64_t Value = 0;
};

// A width and a height that a header states in neighbouring fields.
struct TStatedShape {
  int32_t Width = 0, Height = 0;
  int64_t End = 0; // where the later field ends: the data start no earlier
};

// The fields in the first bytes of Head (at most FieldSearchBytes) whose value
// lies in 2 .. MaxDimension, each at a multiple of its size; none where those
// bytes look like noise.
inline constexpr int64_t FieldSearchBytes = 1024;
std::vector<THeaderField> DimensionFields(const uint8_t* Head, int64_t Count);

// Widths and heights in fields of one size and byte order (as DimensionFields
// gives them), the height at most two fields after the width.
std::vector<TStatedShape> StatedShapes(const std::vector<THeaderField>& Fields);

// Whether Shapes hold Width and Height in fields that end before DataStart.
bool StatesShape(const std::vector<TStatedShape>& Shapes, int64_t DataStart, int64_t Width,
                 int64_t Height);

} // namespace guess
