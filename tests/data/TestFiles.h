#pragma once

#include "TempDir.h"
#include "data/Bitmap24.h"
#include "data/VoxelTypes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace testfiles {

// An image control that only keeps its bitmap and counts the repaints asked of it.
class TTestImage final : public TImageControl {
public:
  TBitmap24& Picture() override { return Bitmap; }
  void Repaint() override { ++RepaintCount; }

  TBitmap24 Bitmap;
  int RepaintCount = 0;
};

// The pixel at (X, Y) packed as 0x00RRGGBB; the bitmap stores blue, green, red.
inline uint32_t PixelAt(const TBitmap24& Bitmap, int64_t X, int64_t Y) {
  const uint8_t* pixel = Bitmap.ScanLine(static_cast<int32_t>(Y)) + 3 * X;
  return static_cast<uint32_t>(pixel[2]) << 16 | static_cast<uint32_t>(pixel[1]) << 8 | pixel[0];
}

// Compares every pixel with Expected(p), p = y x width + x, and reports the first few that differ.
inline void ExpectPixels(const TBitmap24& Bitmap, const std::function<uint32_t(int64_t)>& Expected,
                         const std::string& What) {
  int mismatches = 0;
  for (int32_t y = 0; y < Bitmap.Height(); ++y)
    for (int32_t x = 0; x < Bitmap.Width(); ++x) {
      const int64_t p = int64_t{y} * Bitmap.Width() + x;
      const uint32_t want = Expected(p);
      const uint32_t got = PixelAt(Bitmap, x, y);
      if (got != want && ++mismatches <= 5)
        ADD_FAILURE() << What << ": pixel (" << x << ", " << y << ") is " << std::hex << got
                      << ", expected " << want;
    }
  EXPECT_EQ(mismatches, 0) << What;
}

inline constexpr uint32_t LightBlue = 0x00FFFF;
inline constexpr uint32_t Green = 0x00FF00;
inline constexpr uint32_t Red = 0xFF0000;
inline constexpr uint32_t Yellow = 0xFFFF00;
constexpr uint32_t Grey(int Level) {
  return static_cast<uint32_t>(Level) * 0x010101u;
}

// Appends the Size low bytes of Value, least significant first unless Order is big-endian.
inline void AppendBytes(std::vector<uint8_t>& Bytes, uint64_t Value, int Size, TByteOrder Order) {
  for (int i = 0; i < Size; ++i) {
    const int shift = 8 * (Order == boBigEndian ? Size - 1 - i : i);
    Bytes.push_back(static_cast<uint8_t>(Value >> shift));
  }
}

// The binary16 bits of Value, which must be a half exactly (or an infinity or NaN).
inline uint16_t HalfBits(double Value) {
  const uint16_t sign = std::signbit(Value) ? 0x8000 : 0;
  const double magnitude = std::fabs(Value);
  if (std::isnan(Value))
    return sign | 0x7E00;
  if (magnitude > 65504.0)
    return sign | 0x7C00;
  int exponent = 0;
  std::frexp(magnitude, &exponent); // magnitude = f x 2^exponent, f in [0.5, 1)
  const int biased = std::max(exponent + 14, 0);
  const double unit = std::ldexp(1.0, std::max(exponent, -13) - 11); // one step of the fraction
  const double steps = magnitude / unit;
  if (steps != std::floor(steps))
    throw std::invalid_argument("HalfBits: not a half");
  const auto fraction = static_cast<uint16_t>(static_cast<uint32_t>(steps) & 0x3FF);
  return static_cast<uint16_t>(sign | (magnitude == 0.0 ? 0 : biased << 10) | fraction);
}

// Appends one voxel of the given type holding Value (a float keeps its bits).
inline void AppendVoxel(std::vector<uint8_t>& Bytes, TVoxelType Type, TByteOrder Order,
                        double Value) {
  switch (Type) {
  case vtByte:
    Bytes.push_back(static_cast<uint8_t>(Value));
    break;
  case vtInt8:
    Bytes.push_back(static_cast<uint8_t>(static_cast<int64_t>(Value))); // wraps, as a file would
    break;
  case vtInt16:
    AppendBytes(Bytes, static_cast<uint16_t>(static_cast<int16_t>(Value)), 2, Order);
    break;
  case vtUInt16:
    AppendBytes(Bytes, static_cast<uint16_t>(static_cast<int64_t>(Value)), 2, Order);
    break;
  case vtInt32:
    AppendBytes(Bytes, static_cast<uint32_t>(static_cast<int32_t>(Value)), 4, Order);
    break;
  case vtUInt32:
    AppendBytes(Bytes, static_cast<uint32_t>(static_cast<int64_t>(Value)), 4, Order);
    break;
  case vtInt64:
    AppendBytes(Bytes, static_cast<uint64_t>(static_cast<int64_t>(Value)), 8, Order);
    break;
  case vtUInt64:
    AppendBytes(Bytes, static_cast<uint64_t>(Value), 8, Order);
    break;
  case vtFloat16:
    AppendBytes(Bytes, HalfBits(Value), 2, Order);
    break;
  case vtFloat32:
    AppendBytes(Bytes, std::bit_cast<uint32_t>(static_cast<float>(Value)), 4, Order);
    break;
  case vtFloat64:
    AppendBytes(Bytes, std::bit_cast<uint64_t>(Value), 8, Order);
    break;
  }
}

inline void AppendFloatBits(std::vector<uint8_t>& Bytes, uint32_t Bits, TByteOrder Order) {
  AppendBytes(Bytes, Bits, 4, Order);
}

} // namespace testfiles
