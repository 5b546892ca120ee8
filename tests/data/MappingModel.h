#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

// An independent model of the intensity mapping for the tests: the
// extended-precision steps are done on the x87 unit (long double on x86-64),
// not by the program's own software arithmetic.
namespace mappingmodel {

constexpr bool HardwareExtended =
    LDBL_MANT_DIG == 64 && std::numeric_limits<long double>::max_exponent == 16384;

// Random sweeps run a quarter of their cases under the sanitizers, which are
// many times slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr int CaseDivisor = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int CaseDivisor = 4;
#else
constexpr int CaseDivisor = 1;
#endif
#else
constexpr int CaseDivisor = 1;
#endif

struct TModel {
  int32_t Min;
  int32_t Max;
  bool FlagOverUnder;
  float MinF;
  float Width;
  float Scale;
};

TModel MakeModel(int32_t Min, int32_t Max, bool FlagOverUnder) {
  TModel model{Min, Max, FlagOverUnder, 0.0f, 0.0f, 0.0f};
  // long double holds every int64 exactly, so each conversion below rounds once.
  model.MinF = static_cast<float>(static_cast<long double>(Min));
  const int64_t width = int64_t{Max} - int64_t{Min};
  model.Width = static_cast<float>(static_cast<long double>(width));
  if (model.Width == 0.0f) {
    model.Width = 1.0f;
  }
  // A quotient rounded to 64 bits and then to 24 equals the quotient rounded
  // to 24 bits directly (64 >= 2 * 24 + 2), so this is the single quotient.
  model.Scale = static_cast<float>(255.0L / static_cast<long double>(model.Width));
  return model;
}

int32_t RoundHalfEven(float M) { // M in [0, 255]
  const float whole = std::floor(M);
  const float fraction = M - whole;
  int32_t n = static_cast<int32_t>(whole);
  if (fraction > 0.5f || (fraction == 0.5f && (n & 1) != 0)) {
    ++n;
  }
  return n;
}

constexpr int32_t BadLevel = -1;

int32_t ModelLevel(const TModel& Model, float V) {
  if (std::isnan(V)) {
    return BadLevel;
  }
  const long double difference = static_cast<long double>(V) - static_cast<long double>(Model.MinF);
  const long double product = difference * static_cast<long double>(Model.Scale);
  float m = static_cast<float>(product);
  if (std::isfinite(product) && std::isinf(m)) {
    return BadLevel;
  }
  if (m > 255.0f) {
    m = 255.0f;
  }
  if (m < 0.0f) {
    m = 0.0f;
  }
  return RoundHalfEven(m);
}

uint32_t ModelColour(const TModel& Model, float V) {
  const int32_t level = ModelLevel(Model, V);
  if (level == BadLevel) {
    return 0xFFFF00;
  }
  if (Model.FlagOverUnder) {
    // Both sides are exact in long double, so these compare the true values.
    const long double value = V;
    if (static_cast<long double>(Model.Max) < value) {
      return 0xFF0000;
    }
    if (static_cast<long double>(Model.Min) > value) {
      return 0x00FF00;
    }
  }
  return static_cast<uint32_t>(level) * 0x010101u;
}

} // namespace mappingmodel
