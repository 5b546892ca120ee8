#include "guess/content/HeaderFields.h"

#include "data/Layout.h"

#include <algorithm>
#include <array>
#include <utility>

namespace guess {

namespace {

constexpr int64_t MinStatedWidth = 8;
constexpr int64_t MinStatedHeight = 4;
constexpr int32_t MaxFieldByteValues = 96;

int64_t Load(const uint8_t* Bytes, int32_t Count, TByteOrder Order) {
  uint64_t value = 0;
  for (int32_t i = 0; i < Count; ++i)
    value = value << 8 | Bytes[Order == boBigEndian ? i : Count - 1 - i];
  return static_cast<int64_t>(value);
}

} // namespace

std::vector<THeaderField> DimensionFields(const uint8_t* Head, int64_t Count) {
  std::vector<THeaderField> fields;
  const int64_t end = std::min(Count, FieldSearchBytes);
  // Noise-like bytes (random filler, compressed or encrypted fields) hold
  // small numbers by the dozen, by chance; a header of fields uses few
  // distinct byte values.
  std::array<bool, 256> seen{};
  int32_t distinct = 0;
  for (int64_t i = 0; i < end; ++i)
    distinct += !std::exchange(seen[Head[i]], true);
  if (distinct > MaxFieldByteValues)
    return fields;
  for (int32_t bytes : {2, 4})
    for (TByteOrder order : {boLittleEndian, boBigEndian})
      for (int64_t at = 0; at + bytes <= end; at += bytes) {
        const int64_t value = Load(Head + at, bytes, order);
        if (value >= 2 && value <= MaxDimension)
          fields.push_back({at, bytes, order, value});
      }
  return fields;
}

std::vector<TStatedShape> StatedShapes(const std::vector<THeaderField>& Fields) {
  std::vector<TStatedShape> shapes;
  // DimensionFields lists the fields by size, order and offset, so the
  // heights that may follow a width come right after it.
  for (size_t w = 0; w < Fields.size(); ++w)
    for (size_t h = w + 1; h < Fields.size(); ++h) {
      const THeaderField& width = Fields[w];
      const THeaderField& height = Fields[h];
      if (height.Bytes != width.Bytes || height.Order != width.Order ||
          height.Offset - width.Offset > 3 * width.Bytes)
        break;
      // A row of a few voxels, or an image of a few rows, is more likely two
      // small numbers of some other meaning.
      if (width.Value >= MinStatedWidth && height.Value >= MinStatedHeight)
        shapes.push_back({static_cast<int32_t>(width.Value), static_cast<int32_t>(height.Value),
                          height.Offset + height.Bytes});
    }
  return shapes;
}

bool StatesShape(const std::vector<TStatedShape>& Shapes, int64_t DataStart, int64_t Width,
                 int64_t Height) {
  return std::any_of(Shapes.begin(), Shapes.end(), [&](const TStatedShape& S) {
    return S.Width == Width && S.Height == Height && S.End <= DataStart;
  });
}

} // namespace guess
