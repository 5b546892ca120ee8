#include "data/ExtendedFloat.h"
#include "data/MappingModel.h"

#include <bit>
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

// The software arithmetic is checked against the x87 extended format, which on
// x86-64 is what long double is: same 64-bit mantissa, same rounding to nearest
// even, and an exponent range no float sum or product can leave. Every case
// therefore has an exact hardware answer to compare with.

namespace {

using extended::TExtended;
using extended::TKind;
using extended::TSingle;
using mappingmodel::CaseDivisor;
using mappingmodel::HardwareExtended;

constexpr int Cases(int Release) {
  return Release / CaseDivisor;
}

#define REQUIRE_HARDWARE_EXTENDED()                                                                \
  if constexpr (!HardwareExtended) {                                                               \
    GTEST_SKIP() << "long double is not the x87 extended format here";                             \
  }

// ---- conversions between TExtended and long double (both exact) ----

long double ToLongDouble(const TExtended& A) {
  const long double sign = A.Negative ? -1.0L : 1.0L;
  switch (A.Kind) {
  case TKind::Zero:
    return sign * 0.0L;
  case TKind::Infinite:
    return sign * std::numeric_limits<long double>::infinity();
  case TKind::NaN:
    return std::numeric_limits<long double>::quiet_NaN();
  case TKind::Finite:
    break;
  }
  return sign * std::ldexp(static_cast<long double>(A.Mantissa), A.Exponent);
}

TExtended FromLongDouble(long double X) {
  TExtended result;
  result.Negative = std::signbit(X);
  if (std::isnan(X)) {
    result.Kind = TKind::NaN;
  } else if (std::isinf(X)) {
    result.Kind = TKind::Infinite;
  } else if (X == 0.0L) {
    result.Kind = TKind::Zero;
  } else {
    int exponent = 0;
    const long double fraction = std::frexp(std::fabs(X), &exponent); // in [0.5, 1)
    result.Kind = TKind::Finite;
    result.Mantissa = static_cast<uint64_t>(std::ldexp(fraction, 64));
    result.Exponent = exponent - 64;
  }
  return result;
}

TExtended MakeFinite(bool Negative, uint64_t Mantissa, int32_t Exponent) {
  TExtended result;
  result.Kind = TKind::Finite;
  result.Negative = Negative;
  result.Mantissa = Mantissa;
  result.Exponent = Exponent;
  return result;
}

// ---- reporting ----

std::string FloatText(float F) {
  char text[64];
  std::snprintf(text, sizeof text, "0x%08" PRIX32 " (%a)", std::bit_cast<uint32_t>(F),
                static_cast<double>(F));
  return text;
}

std::string ExtendedText(const TExtended& A) {
  static const char* const kinds[] = {"Zero", "Finite", "Infinite", "NaN"};
  char text[128];
  std::snprintf(text, sizeof text, "{%s %c mantissa 0x%016" PRIX64 " exponent %" PRId32 "}",
                kinds[static_cast<int>(A.Kind) & 3], A.Negative ? '-' : '+', A.Mantissa,
                A.Exponent);
  return text;
}

std::string LongText(long double X) {
  char text[64];
  std::snprintf(text, sizeof text, "%La", X);
  return text;
}

// Counts disagreements and reports the first few in full, so that a broken
// rounding rule shows its inputs without flooding the log.
class TMismatches {
public:
  void Add(const std::string& What) {
    if (++FCount <= MaxReported) {
      ADD_FAILURE() << What;
    }
  }
  int Count() const { return FCount; }

private:
  static constexpr int MaxReported = 5;
  int FCount = 0;
};

// Why Got is not the extended value Want, or empty when it is. Zeros compare
// by value here; their signs have a test of their own.
std::string ExtendedMismatch(const TExtended& Got, long double Want) {
  if (std::isnan(Want)) {
    return Got.Kind == TKind::NaN ? "" : "expected NaN";
  }
  if (std::isinf(Want)) {
    const bool ok = Got.Kind == TKind::Infinite && Got.Negative == std::signbit(Want);
    return ok ? "" : "expected " + LongText(Want);
  }
  if (Want == 0.0L) {
    return Got.Kind == TKind::Zero ? "" : "expected zero";
  }
  if (Got.Kind != TKind::Finite) {
    return "expected finite " + LongText(Want);
  }
  if ((Got.Mantissa >> 63) == 0) {
    return "mantissa not normalised";
  }
  return ToLongDouble(Got) == Want ? "" : "expected " + LongText(Want);
}

std::string SingleMismatch(const TSingle& Got, long double Input) {
  const float want = static_cast<float>(Input);
  const bool wantOverflow = std::isfinite(Input) && std::isinf(want);
  const bool sameValue = std::isnan(want) ? std::isnan(Got.Value) : Got.Value == want;
  if (sameValue && Got.Overflow == wantOverflow) {
    return "";
  }
  return "expected " + FloatText(want) + (wantOverflow ? " overflow" : "");
}

// ---- inputs ----

class TFloatSource {
public:
  explicit TFloatSource(uint64_t Seed)
      : FRandom(Seed) {}

  uint64_t Bits64() { return FRandom(); }
  uint32_t Below(uint32_t Limit) { return static_cast<uint32_t>(FRandom() % Limit); }
  bool Coin() { return (FRandom() & 1) != 0; }

  // Any 32-bit pattern: NaNs, infinities, subnormals and zeros included.
  float AnyBits() { return std::bit_cast<float>(static_cast<uint32_t>(FRandom())); }

  // Finite, with the binade chosen uniformly (so tiny and huge values are as
  // common as ordinary ones); powers of two and full mantissas are favoured.
  float AnyBinade() { return WithExponent(Below(255)); }

  float WithExponent(uint32_t BiasedExponent) {
    uint32_t fraction = static_cast<uint32_t>(FRandom()) & 0x7FFFFFu;
    switch (Below(8)) {
    case 0:
      fraction = 0;
      break;
    case 1:
      fraction = 0x7FFFFFu;
      break;
    default:
      break;
    }
    const uint32_t sign = Coin() ? 0x80000000u : 0u;
    return std::bit_cast<float>(sign | (BiasedExponent << 23) | fraction);
  }

  float Special() {
    static const uint32_t patterns[] = {
        0x00000000, 0x80000000, 0x7F800000, 0xFF800000, 0x7F7FFFFF, 0xFF7FFFFF, 0x00800000,
        0x80800000, 0x00000001, 0x80000001, 0x007FFFFF, 0x807FFFFF, 0x3F800000, 0xBF800000,
        0x3F800001, 0x3F7FFFFF, 0x4B800000, 0x4B7FFFFF, 0x7FC00000, 0x7F800001, 0xFFA00000};
    return std::bit_cast<float>(patterns[Below(std::size(patterns))]);
  }

  float Mixed() {
    switch (Below(6)) {
    case 0:
      return AnyBits();
    case 1:
      return Special();
    default:
      return AnyBinade();
    }
  }

private:
  std::mt19937_64 FRandom;
};

float StepUlps(float F, int32_t Steps) {
  return std::bit_cast<float>(static_cast<uint32_t>(std::bit_cast<uint32_t>(F) + Steps));
}

struct TFloatPair {
  float A;
  float B;
};

// Operand pairs where a subtraction is most likely to round wrongly.
TFloatPair HardDifferencePair(TFloatSource& Source) {
  switch (Source.Below(4)) {
  case 0: { // near-cancellation, and negated the matching near-doubling sums
    const float a = Source.AnyBinade();
    float b = StepUlps(a, static_cast<int32_t>(Source.Below(9)) - 4);
    if (Source.Below(4) == 0) {
      b = -b;
    }
    return {a, std::isfinite(b) ? b : a};
  }
  case 1: { // exponent gaps around the 64-bit mantissa width, where sticky bits matter
    const uint32_t ea = 1 + Source.Below(254);
    const uint32_t gap = Source.Below(100);
    const float b = Source.WithExponent(ea > gap ? ea - gap : 0);
    const float a = Source.WithExponent(ea);
    return Source.Coin() ? TFloatPair{a, b} : TFloatPair{b, a};
  }
  case 2: // huge gaps: largest against smallest
    return {Source.WithExponent(200 + Source.Below(55)), Source.WithExponent(Source.Below(30))};
  default:
    return {Source.Mixed(), Source.Mixed()};
  }
}

// An extended factor whose product with a float of odd significand lies
// exactly halfway between two 64-bit values, or one unit beside that.
TExtended ProductTieFactor(TFloatSource& Source) {
  const uint64_t lowBits = Source.Coin() ? 0x800000u : 0x400000u;
  uint64_t mantissa = (Source.Bits64() | (uint64_t{1} << 63)) & ~uint64_t{0xFFFFFF};
  mantissa |= lowBits;
  mantissa += static_cast<uint64_t>(static_cast<int64_t>(Source.Below(3)) - 1);
  const int32_t exponent = static_cast<int32_t>(Source.Below(200)) - 163;
  return MakeFinite(Source.Coin(), mantissa | (uint64_t{1} << 63), exponent);
}

float OddSignificandFloat(TFloatSource& Source) {
  float b = Source.WithExponent(1 + Source.Below(253));
  return std::bit_cast<float>(std::bit_cast<uint32_t>(b) | 1u);
}

TExtended RandomExtended(TFloatSource& Source, int32_t LowExponent, int32_t HighExponent) {
  const uint32_t span = static_cast<uint32_t>(HighExponent - LowExponent + 1);
  uint64_t mantissa = Source.Bits64() | (uint64_t{1} << 63);
  if (Source.Below(8) == 0) {
    mantissa = uint64_t{1} << 63;
  }
  return MakeFinite(Source.Coin(), mantissa,
                    LowExponent + static_cast<int32_t>(Source.Below(span)));
}

// Extended values around the single rounding boundaries: halfway points of
// normal and subnormal singles, the overflow threshold and the underflow to zero.
TExtended SingleBoundary(TFloatSource& Source) {
  const uint64_t nudge = static_cast<uint64_t>(static_cast<int64_t>(Source.Below(3)) - 1);
  const bool negative = Source.Coin();
  switch (Source.Below(4)) {
  case 0: { // halfway between two normal singles
    uint64_t mantissa = (Source.Bits64() | (uint64_t{1} << 63)) & ~((uint64_t{1} << 40) - 1);
    mantissa |= uint64_t{1} << 39;
    const int32_t exponent = static_cast<int32_t>(Source.Below(252)) - 125 - 63;
    return MakeFinite(negative, mantissa + nudge, exponent);
  }
  case 1: { // (k + 1/2) * 2^-149: halfway between two subnormals (or to the smallest normal)
    const uint64_t odd = 2 * (Source.Bits64() & 0x7FFFFF) + 1;
    const int shift = std::countl_zero(odd);
    return MakeFinite(negative, ((odd << shift) + nudge) | (uint64_t{1} << 63), -150 - shift);
  }
  case 2: { // half an ulp above the largest single: rounds to infinity
    const uint64_t mantissa = ((uint64_t{1} << 25) - 1) << 39;
    return MakeFinite(negative, mantissa + nudge, 64);
  }
  default: { // at and around 2^-150 and 2^-151: round to zero or to the smallest subnormal
    const uint64_t mantissas[] = {uint64_t{1} << 63, (uint64_t{1} << 63) + 1, ~uint64_t{0}};
    return MakeFinite(negative, mantissas[Source.Below(3)],
                      -150 - 63 - static_cast<int32_t>(Source.Below(2)));
  }
  }
}

// ---- checks ----

void CheckDifference(float A, float B, TMismatches& Mismatches) {
  const long double want = static_cast<long double>(A) - static_cast<long double>(B);
  const TExtended got = extended::Difference(A, B);
  const std::string why = ExtendedMismatch(got, want);
  if (!why.empty()) {
    Mismatches.Add("Difference(" + FloatText(A) + ", " + FloatText(B) + ") = " + ExtendedText(got) +
                   ": " + why);
  }
}

void CheckProduct(const TExtended& A, float B, TMismatches& Mismatches) {
  const long double want = ToLongDouble(A) * static_cast<long double>(B);
  const TExtended got = extended::Product(A, B);
  const std::string why = ExtendedMismatch(got, want);
  if (!why.empty()) {
    Mismatches.Add("Product(" + ExtendedText(A) + ", " + FloatText(B) + ") = " + ExtendedText(got) +
                   ": " + why);
  }
}

void CheckToSingle(const TExtended& A, TMismatches& Mismatches) {
  const TSingle got = extended::ToSingle(A);
  const std::string why = SingleMismatch(got, ToLongDouble(A));
  if (!why.empty()) {
    Mismatches.Add("ToSingle(" + ExtendedText(A) + ") = " + FloatText(got.Value) +
                   (got.Overflow ? " overflow" : "") + ": " + why);
  }
}

TEST(ExtendedFloatTest, ConversionHelpersRoundTrip) {
  REQUIRE_HARDWARE_EXTENDED();
  // The harness's own converters must be exact, or every comparison below is moot.
  const long double values[] = {1.0L, -0.75L, 0x1.fffffffffffffffep+127L, 0x1p-149L,
                                0x1.8000000000000002p+300L};
  for (const long double value : values) {
    EXPECT_EQ(ToLongDouble(FromLongDouble(value)), value) << LongText(value);
  }
  EXPECT_EQ(FromLongDouble(1.0L).Mantissa, uint64_t{1} << 63);
  EXPECT_EQ(FromLongDouble(1.0L).Exponent, -63);
}

TEST(ExtendedFloatTest, DifferenceMatchesHardwareOnEdgeCases) {
  REQUIRE_HARDWARE_EXTENDED();
  struct TCase {
    float A;
    float B;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const TCase cases[] = {{1.0f, 0x1p-64f},
                         {1.0f, 0x1p-65f},
                         {1.0f, 0x1.000002p-65f},
                         {1.0f, 0x1p-66f},
                         {1.0f, -0x1p-64f},
                         {1.0f, -0x1p-63f},
                         {-1.0f, 0x1p-64f},
                         {0x1p127f, 0x1p-149f},
                         {-0x1p127f, 0x1p-149f},
                         {0x1p-149f, 0x1p-148f},
                         {0x1.fffffep127f, -0x1.fffffep127f},
                         {0x1p-126f, 0x1.fffffcp-127f},
                         {16777216.0f, -1.0f},
                         {2147483648.0f, 35.0f},
                         {35.0f, -1412376960.0f},
                         {inf, 1.0f},
                         {1.0f, inf},
                         {inf, inf},
                         {-inf, -inf},
                         {inf, -inf},
                         {std::nanf(""), 0.0f},
                         {0.0f, -0.0f},
                         {3.0f, 3.0f}};
  TMismatches mismatches;
  for (const TCase& c : cases) {
    CheckDifference(c.A, c.B, mismatches);
  }
  EXPECT_EQ(mismatches.Count(), 0);
}

TEST(ExtendedFloatTest, DifferenceMatchesHardwareOnRandomPairs) {
  REQUIRE_HARDWARE_EXTENDED();
  TFloatSource source(0x5EED0001);
  TMismatches mismatches;
  const int count = Cases(1500000);
  for (int i = 0; i < count; ++i) {
    const TFloatPair pair = HardDifferencePair(source);
    CheckDifference(pair.A, pair.B, mismatches);
  }
  EXPECT_EQ(mismatches.Count(), 0) << "of " << count << " pairs";
}

TEST(ExtendedFloatTest, ProductMatchesHardwareOnSpecialOperands) {
  REQUIRE_HARDWARE_EXTENDED();
  const float inf = std::numeric_limits<float>::infinity();
  const float factors[] = {0.0f, -0.0f,   inf,       -inf,           std::nanf(""),
                           1.0f, -255.0f, 0x1p-149f, 0x1.fffffep127f};
  TExtended zero;
  TExtended negativeInfinity;
  negativeInfinity.Kind = TKind::Infinite;
  negativeInfinity.Negative = true;
  TExtended nan;
  nan.Kind = TKind::NaN;
  const TExtended operands[] = {zero,
                                negativeInfinity,
                                nan,
                                FromLongDouble(1.0L),
                                FromLongDouble(-0x1.fffffffffffffffep+1000L),
                                FromLongDouble(0x1p-1000L)};
  TMismatches mismatches;
  for (const TExtended& a : operands) {
    for (const float b : factors) {
      CheckProduct(a, b, mismatches);
    }
  }
  EXPECT_EQ(mismatches.Count(), 0);
}

TEST(ExtendedFloatTest, ProductMatchesHardwareOnRandomOperands) {
  REQUIRE_HARDWARE_EXTENDED();
  TFloatSource source(0x5EED0002);
  TMismatches mismatches;
  const int count = Cases(1500000);
  for (int i = 0; i < count; ++i) {
    switch (i % 4) {
    case 0: { // the shape the intensity mapping produces: a rounded difference times a float
      const TFloatPair pair = HardDifferencePair(source);
      CheckProduct(extended::Difference(pair.A, pair.B), source.Mixed(), mismatches);
      break;
    }
    case 1: // 88-bit products exactly halfway between 64-bit values, or one unit off
      CheckProduct(ProductTieFactor(source), OddSignificandFloat(source), mismatches);
      break;
    case 2:
      CheckProduct(RandomExtended(source, -400, 300), source.AnyBinade(), mismatches);
      break;
    default:
      CheckProduct(FromLongDouble(static_cast<long double>(source.AnyBinade())), source.Mixed(),
                   mismatches);
      break;
    }
  }
  EXPECT_EQ(mismatches.Count(), 0) << "of " << count << " products";
}

TEST(ExtendedFloatTest, ToSingleMatchesHardwareOnEdgeCases) {
  REQUIRE_HARDWARE_EXTENDED();
  const long double values[] = {0x1.fffffep127L,
                                0x1.fffffefffffffffep127L,
                                0x1.ffffffp127L,
                                0x1p128L,
                                -0x1.ffffffp127L,
                                0x1p-149L,
                                0x1p-150L,
                                0x1.0000000000000002p-150L,
                                0x1.fffffffffffffffep-151L,
                                0x1.8p-149L,
                                0x1.4p-148L,
                                0x1.fffffep-127L,
                                0x1.ffffffp-127L,
                                0x1.000001p0L,
                                0x1.000003p0L,
                                0x1.0000010000000002p0L,
                                167.4999923706054687L,
                                0x1p-600L,
                                0x1p600L,
                                -0x1p600L};
  TMismatches mismatches;
  for (const long double value : values) {
    CheckToSingle(FromLongDouble(value), mismatches);
  }
  TExtended infinity;
  infinity.Kind = TKind::Infinite;
  TExtended nan;
  nan.Kind = TKind::NaN;
  CheckToSingle(infinity, mismatches);
  CheckToSingle(nan, mismatches);
  CheckToSingle(TExtended{}, mismatches);
  EXPECT_EQ(mismatches.Count(), 0);
}

TEST(ExtendedFloatTest, ToSingleMatchesHardwareOnRandomValues) {
  REQUIRE_HARDWARE_EXTENDED();
  TFloatSource source(0x5EED0004);
  TMismatches mismatches;
  const int count = Cases(1000000);
  for (int i = 0; i < count; ++i) {
    switch (i % 3) {
    case 0:
      CheckToSingle(SingleBoundary(source), mismatches);
      break;
    case 1:
      CheckToSingle(RandomExtended(source, -170 - 63, 130 - 63), mismatches);
      break;
    default: {
      const TFloatPair pair = HardDifferencePair(source);
      const TExtended product =
          extended::Product(extended::Difference(pair.A, pair.B), source.Mixed());
      CheckToSingle(product, mismatches);
      break;
    }
    }
  }
  EXPECT_EQ(mismatches.Count(), 0) << "of " << count << " values";
}

// IEEE 754 signs of exact zeros in round to nearest: x - x is +0, (-0) - (+0)
// is -0, and products and roundings keep the sign of the exact result.
TEST(ExtendedFloatTest, ZeroSignsFollowIeee) {
  REQUIRE_HARDWARE_EXTENDED();
  struct TCase {
    float A;
    float B;
  };
  const TCase differences[] = {{3.0f, 3.0f},  {-3.0f, -3.0f}, {0.0f, 0.0f},
                               {-0.0f, 0.0f}, {0.0f, -0.0f},  {-0.0f, -0.0f}};
  for (const TCase& c : differences) {
    const long double want = static_cast<long double>(c.A) - static_cast<long double>(c.B);
    const TExtended got = extended::Difference(c.A, c.B);
    EXPECT_EQ(got.Kind, TKind::Zero) << FloatText(c.A) << " - " << FloatText(c.B);
    EXPECT_EQ(got.Negative, std::signbit(want)) << FloatText(c.A) << " - " << FloatText(c.B);
  }
  const TExtended plusZero = extended::Difference(1.0f, 1.0f);
  EXPECT_TRUE(extended::Product(plusZero, -2.0f).Negative);
  EXPECT_FALSE(extended::Product(FromLongDouble(-1.0L), -0.0f).Negative);
  EXPECT_TRUE(std::signbit(extended::ToSingle(FromLongDouble(-0x1p-200L)).Value));
  EXPECT_EQ(extended::ToSingle(FromLongDouble(-0x1p-200L)).Value, 0.0f);
}

} // namespace
