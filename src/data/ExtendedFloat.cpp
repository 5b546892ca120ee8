#include "data/ExtendedFloat.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace extended {
namespace {

__extension__ typedef unsigned __int128 uint128; // GCC and Clang both have it

// A finite single as Magnitude * 2^Exponent with an integer magnitude below 2^24.
struct TSplit {
  bool Negative;
  uint32_t Magnitude;
  int32_t Exponent;
};

TSplit Split(float Value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &Value, sizeof bits);
  const uint32_t biased = (bits >> 23) & 0xFF;
  const uint32_t fraction = bits & 0x7FFFFF;
  if (biased == 0)
    return {(bits >> 31) != 0, fraction, -149};
  return {(bits >> 31) != 0, fraction | 0x800000u, static_cast<int32_t>(biased) - 150};
}

int BitLength(uint128 Value) {
  const auto high = static_cast<uint64_t>(Value >> 64);
  if (high != 0)
    return 128 - std::countl_zero(high);
  return 64 - std::countl_zero(static_cast<uint64_t>(Value));
}

TExtended Special(TKind Kind, bool Negative) {
  return {Kind, Negative, 0, 0};
}

// Magnitude * 2^Exponent, rounded to 64 bits with ties to even.
TExtended Round64(bool Negative, uint128 Magnitude, int32_t Exponent) {
  if (Magnitude == 0)
    return Special(TKind::Zero, Negative);
  const int length = BitLength(Magnitude);
  if (length <= 64) {
    const int shift = 64 - length;
    return {TKind::Finite, Negative, static_cast<uint64_t>(Magnitude << shift), Exponent - shift};
  }
  const int drop = length - 64;
  uint128 kept = Magnitude >> drop;
  const uint128 rest = Magnitude & ((uint128{1} << drop) - 1);
  const uint128 half = uint128{1} << (drop - 1);
  if (rest > half || (rest == half && (kept & 1) != 0))
    ++kept;
  int32_t exponent = Exponent + drop;
  if (kept >> 64 != 0) {
    kept >>= 1;
    ++exponent;
  }
  return {TKind::Finite, Negative, static_cast<uint64_t>(kept), exponent};
}

TExtended Exact(const TSplit& Value) {
  return Round64(Value.Negative, Value.Magnitude, Value.Exponent);
}

// Past this exponent gap the smaller operand lies far below half a unit in the
// last place of the larger one, so it cannot change the rounded result.
constexpr int32_t NegligibleGap = 100;

} // namespace

TExtended Difference(float A, float B) {
  if (std::isnan(A) || std::isnan(B))
    return Special(TKind::NaN, false);
  if (std::isinf(A) && std::isinf(B))
    return std::signbit(A) != std::signbit(B) ? Special(TKind::Infinite, std::signbit(A))
                                              : Special(TKind::NaN, false);
  if (std::isinf(A))
    return Special(TKind::Infinite, std::signbit(A));
  if (std::isinf(B))
    return Special(TKind::Infinite, !std::signbit(B));

  TSplit a = Split(A);
  TSplit b = Split(B);
  b.Negative = !b.Negative; // A - B = A + (-B)
  if (a.Magnitude == 0 && b.Magnitude == 0)
    return Special(TKind::Zero, a.Negative && b.Negative);
  if (b.Magnitude == 0 || (a.Magnitude != 0 && a.Exponent - b.Exponent > NegligibleGap))
    return Exact(a);
  if (a.Magnitude == 0 || b.Exponent - a.Exponent > NegligibleGap)
    return Exact(b);

  const int32_t base = std::min(a.Exponent, b.Exponent);
  const uint128 x = uint128{a.Magnitude} << (a.Exponent - base);
  const uint128 y = uint128{b.Magnitude} << (b.Exponent - base);
  if (a.Negative == b.Negative)
    return Round64(a.Negative, x + y, base);
  if (x == y)
    return Special(TKind::Zero, false);
  return x > y ? Round64(a.Negative, x - y, base) : Round64(b.Negative, y - x, base);
}

TExtended Product(const TExtended& A, float B) {
  const bool negative = A.Negative != std::signbit(B);
  if (A.Kind == TKind::NaN || std::isnan(B))
    return Special(TKind::NaN, false);
  const bool zeroB = B == 0.0f;
  if (A.Kind == TKind::Infinite || std::isinf(B)) {
    if (A.Kind == TKind::Zero || zeroB)
      return Special(TKind::NaN, false);
    return Special(TKind::Infinite, negative);
  }
  if (A.Kind == TKind::Zero || zeroB)
    return Special(TKind::Zero, negative);
  const TSplit b = Split(B);
  return Round64(negative, uint128{A.Mantissa} * b.Magnitude, A.Exponent + b.Exponent);
}

TSingle ToSingle(const TExtended& A) {
  const float sign = A.Negative ? -1.0f : 1.0f;
  switch (A.Kind) {
  case TKind::Zero:
    return {sign * 0.0f, false};
  case TKind::Infinite:
    return {sign * INFINITY, false};
  case TKind::NaN:
    return {NAN, false};
  case TKind::Finite:
    break;
  }
  const int32_t binade = A.Exponent + 63; // value lies in [2^binade, 2^(binade+1))
  if (binade > 127)
    return {sign * INFINITY, true};
  // Spacing of singles at this magnitude: 24 significant bits, or the fixed
  // spacing 2^-149 of the subnormal range.
  const int32_t spacing = std::max(binade - 23, -149);
  const int32_t drop = spacing - A.Exponent;
  uint64_t kept = 0;
  if (drop < 64) {
    kept = A.Mantissa >> drop;
    const uint64_t rest = A.Mantissa & ((uint64_t{1} << drop) - 1);
    const uint64_t half = uint64_t{1} << (drop - 1);
    if (rest > half || (rest == half && (kept & 1) != 0))
      ++kept;
  } else if (drop == 64) {
    kept = A.Mantissa > (uint64_t{1} << 63) ? 1 : 0; // exactly half rounds to even 0
  }
  const float value = std::ldexp(static_cast<float>(kept), spacing);
  return {sign * value, std::isinf(value)};
}

} // namespace extended
