#pragma once

#include "data/VoxelTypes.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Small helpers for reading voxels and writing pixels of one bitmap row.
namespace pixelrow {

// A colour (0x00RRGGBB) as the four bytes blue, green, red, 0 in memory, so
// that one 4-byte store writes a pixel; the spare byte is overwritten by the next.
inline uint32_t PixelWord(uint32_t Rgb) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(Rgb), static_cast<uint8_t>(Rgb >> 8),
                            static_cast<uint8_t>(Rgb >> 16), 0};
  uint32_t word = 0;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Writes Count pixels WordAt(x) from pixel First on. The last pixel of a row gets
// exactly three bytes so that the row padding and the next row stay untouched.
template <typename TWordAt>
void Write(uint8_t* Row, int32_t First, int32_t Count, int32_t RowWidth, TWordAt WordAt) {
  const int32_t end = First + Count;
  int32_t x = First;
  // Four pixels are exactly twelve bytes: one 8-byte and one 4-byte store
  // instead of four overlapping ones, and no byte beyond the fourth pixel.
  // The words are packed by shifts, which is the byte order only on little-endian.
  for (; std::endian::native == std::endian::little && x + 4 <= end; x += 4) {
    const uint64_t w0 = WordAt(x), w1 = WordAt(x + 1), w2 = WordAt(x + 2);
    const uint32_t w3 = WordAt(x + 3);
    const uint64_t low = w0 | w1 << 24 | w2 << 48;
    const auto high = static_cast<uint32_t>(w2 >> 16) | w3 << 8;
    std::memcpy(Row + 3 * static_cast<int64_t>(x), &low, 8);
    std::memcpy(Row + 3 * static_cast<int64_t>(x) + 8, &high, 4);
  }
  const int32_t wide = std::min(end, RowWidth - 1);
  for (; x < wide; ++x) {
    const uint32_t word = WordAt(x);
    std::memcpy(Row + 3 * static_cast<int64_t>(x), &word, 4);
  }
  if (end == RowWidth && x < end) {
    const uint32_t word = WordAt(end - 1);
    std::memcpy(Row + 3 * static_cast<int64_t>(end - 1), &word, 3);
  }
}

inline bool NeedsSwap(TByteOrder Order) {
  return (Order == boBigEndian) != (std::endian::native == std::endian::big);
}

inline uint8_t ByteSwap(uint8_t V) {
  return V;
}
inline uint16_t ByteSwap(uint16_t V) {
  return static_cast<uint16_t>((V >> 8) | (V << 8));
}
inline uint32_t ByteSwap(uint32_t V) {
  return (V >> 24) | ((V >> 8) & 0xFF00u) | ((V << 8) & 0xFF0000u) | (V << 24);
}
inline uint64_t ByteSwap(uint64_t V) {
  return uint64_t{ByteSwap(static_cast<uint32_t>(V))} << 32 |
         ByteSwap(static_cast<uint32_t>(V >> 32));
}

template <typename T> struct TRawOf { using Type = std::make_unsigned_t<T>; };
template <> struct TRawOf<float> { using Type = uint32_t; };
template <> struct TRawOf<double> { using Type = uint64_t; };

// Voxel p of a buffer of T, its bytes reversed when Swap is set.
template <typename T> T Load(const uint8_t* Bytes, int64_t p, bool Swap) {
  typename TRawOf<T>::Type raw;
  std::memcpy(&raw, Bytes + p * static_cast<int64_t>(sizeof(T)), sizeof raw);
  if (Swap)
    raw = ByteSwap(raw);
  T value;
  std::memcpy(&value, &raw, sizeof value);
  return value;
}

} // namespace pixelrow
