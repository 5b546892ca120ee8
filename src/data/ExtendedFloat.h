#pragma once

#include <cstdint>

// Software arithmetic with a 64-bit mantissa, rounding to nearest with ties to
// even: the precision in which the intensity mapping is defined. Hardware
// extended precision is not available everywhere (and not at all in SIMD
// registers), so the reference path is done in integers here.
namespace extended {

enum class TKind : uint8_t { Zero, Finite, Infinite, NaN };

// Value = (Negative ? -1 : 1) * Mantissa * 2^Exponent; a finite Mantissa has bit 63 set.
struct TExtended {
  TKind Kind = TKind::Zero;
  bool Negative = false;
  uint64_t Mantissa = 0;
  int32_t Exponent = 0;
};

// A - B rounded once to 64 mantissa bits.
TExtended Difference(float A, float B);
// A * B rounded once to 64 mantissa bits.
TExtended Product(const TExtended& A, float B);

struct TSingle {
  float Value = 0.0f;
  bool Overflow = false; // a finite A too large for a single; Value is then infinite
};
// Rounds to single precision, subnormals included.
TSingle ToSingle(const TExtended& A);

} // namespace extended
