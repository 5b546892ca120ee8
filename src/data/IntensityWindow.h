#pragma once

#include <cmath>
#include <cstdint>

// Pixel colours packed as 0x00RRGGBB.
namespace colour {
inline constexpr uint32_t LightBlue = 0x00FFFF; // beyond the end of the file
inline constexpr uint32_t Green = 0x00FF00;     // under the window
inline constexpr uint32_t Red = 0xFF0000;       // over the window
inline constexpr uint32_t Yellow = 0xFFFF00;    // a number that cannot be mapped
constexpr uint32_t Grey(int32_t Level) {
  return static_cast<uint32_t>(Level) * 0x010101u;
}
} // namespace colour

// Maps voxel values to colours through the intensity window. Values are taken
// as singles; the subtraction and scaling are defined in extended precision,
// which the mapping reproduces bit for bit whatever the compiler or CPU.
class TIntensityWindow {
public:
  static constexpr int32_t BadLevel = -1;

  TIntensityWindow(int32_t IntensityMin, int32_t IntensityMax, bool FlagOverUnder);

  int32_t IntensityMin() const { return FIntensityMin; }
  int32_t IntensityMax() const { return FIntensityMax; }
  bool FlagOverUnder() const { return FFlagOverUnder; }
  float MinF() const { return FMinF; }
  float Width() const { return FWidth; }
  float Scale() const { return FScale; }

  // Grey level 0..255 of V, or BadLevel for a NaN or a mapped level beyond the single range.
  inline int32_t Level(float V) const;
  // The same through the software extended arithmetic alone: the reference the
  // fast path falls back to whenever it cannot be sure.
  int32_t ExactLevel(float V) const;
  // Colour of a voxel that lies in the file.
  inline uint32_t ColourOf(float V) const;

  bool operator==(const TIntensityWindow& Other) const = default;

private:
  int32_t FIntensityMin;
  int32_t FIntensityMax;
  bool FFlagOverUnder;
  float FMinF;
  float FWidth;
  float FScale;
  double FMinD;
  double FScaleD;
};

// The fast paths map in double or single arithmetic, which can put m one or
// two units in the last place away from the defined extended result. That
// only changes the grey level when m lies that close to a half level or to the
// single overflow threshold; such values take the exact path. The bands are
// where a fast path must not decide.
// The whole number nearest to a level V in 0 .. 2^23, ties to even: adding
// 2^23 leaves the single no fraction bits, so the sum itself rounds that way.
// Branch-free, so that rows of levels vectorise.
inline float RoundLevel(float V) {
  return (V + 0x1p23f) - 0x1p23f;
}

// The whole number nearest to V, ties to even, in the rounding mode the
// program never leaves.
inline double RoundHalfEven(double V) {
  return std::nearbyint(V);
}

namespace guardband {
// Double arithmetic errs by under one unit: under 2^-15 below level 256.
inline constexpr float DoubleNearHalf = 0x1p-14f;
inline constexpr double DoubleNearOverflow = 0x1p127;
// Single arithmetic errs by at most 1.5 units: under 2^-14 below level 256.
inline constexpr float SingleNearHalf = 0x1p-13f;
inline constexpr float SingleNearOverflow = 0x1p126f;
} // namespace guardband

// Double arithmetic rounds the difference and the product to 53 bits instead
// of 64; values in its guard bands take the exact path, the rest are right.
int32_t TIntensityWindow::Level(float V) const {
  if (std::isnan(V))
    return BadLevel;
  const double product = (static_cast<double>(V) - FMinD) * FScaleD;
  if (std::fabs(product) >= guardband::DoubleNearOverflow && !std::isinf(product))
    return ExactLevel(V);
  const float m = static_cast<float>(product);
  const float clamped = m > 255.0f ? 255.0f : (m < 0.0f ? 0.0f : m);
  const float rounded = RoundLevel(clamped);
  if (std::fabs(clamped - rounded) > 0.5f - guardband::DoubleNearHalf)
    return ExactLevel(V);
  return static_cast<int32_t>(rounded);
}

uint32_t TIntensityWindow::ColourOf(float V) const {
  if (std::isnan(V))
    return colour::Yellow;
  const bool under = FFlagOverUnder && static_cast<double>(FIntensityMin) > V;
  const bool over = FFlagOverUnder && static_cast<double>(FIntensityMax) < V;
  const int32_t level = Level(V);
  if (level == BadLevel)
    return colour::Yellow;
  if (over)
    return colour::Red;
  if (under)
    return colour::Green;
  return colour::Grey(level);
}
