#pragma once

// What the histogram's passes over 32- and 64-bit voxels share between the
// plain loops and the AVX2 lanes.
#include "data/HistogramParts.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

// The bodies of the hot loops go whole into each clone that calls them, so that the
// AVX2 clone is AVX2 code throughout.
#if defined(__GNUC__)
#define ZANDREL_HISTOGRAM_INLINE inline __attribute__((always_inline))
#else
#define ZANDREL_HISTOGRAM_INLINE inline
#endif

namespace histogram {

// What one pass learns of the values besides their bins, in the values' own
// type E: the stored type of the wide types, as the lanes read them.
template <typename E> struct TTally {
  int64_t Finite = 0;
  int64_t Under = 0;
  int64_t Over = 0;
  int64_t NaN = 0;
  int64_t PlusInfinity = 0;
  int64_t MinusInfinity = 0;
  E Low = std::numeric_limits<E>::has_infinity ? std::numeric_limits<E>::infinity()
                                               : std::numeric_limits<E>::max();
  E High = std::numeric_limits<E>::has_infinity ? -std::numeric_limits<E>::infinity()
                                                : std::numeric_limits<E>::lowest();
};

// The window's ends as values of E: v < UnderBelow exactly when v is below
// the window's minimum, v > OverAbove exactly when above its maximum. Floats
// round the ends inward; an unsigned type below a negative maximum is all over.
template <typename E> struct TEnds {
  E UnderBelow;
  E OverAbove;
  bool AllOver = false;

  TEnds(int32_t WindowMin, int32_t WindowMax) {
    if constexpr (std::is_floating_point_v<E>) {
      UnderBelow = static_cast<E>(WindowMin);
      if (UnderBelow < WindowMin)
        UnderBelow = std::nextafter(UnderBelow, std::numeric_limits<E>::infinity());
      OverAbove = static_cast<E>(WindowMax);
      if (OverAbove > WindowMax)
        OverAbove = std::nextafter(OverAbove, -std::numeric_limits<E>::infinity());
    } else if constexpr (std::is_unsigned_v<E>) {
      UnderBelow = static_cast<E>(std::max(WindowMin, 0));
      AllOver = WindowMax < 0;
      OverAbove = static_cast<E>(std::max(WindowMax, 0));
    } else {
      UnderBelow = static_cast<E>(WindowMin);
      OverAbove = static_cast<E>(WindowMax);
    }
  }
};

// A float's bits as a signed integer in the float's order (-0 just below
// +0): integer minima vectorise where float minima, which must mind NaNs, do not.
template <typename TKey> TKey OrderedBits(TKey Bits) {
  return Bits ^ ((Bits >> (8 * sizeof(TKey) - 1)) & std::numeric_limits<TKey>::max());
}

// Branch-free; the compiler still leaves it scalar, which is why the lanes exist.
template <typename E>
ZANDREL_HISTOGRAM_INLINE void TallyBody(const E* Values, int32_t Count, const TEnds<E>& Ends,
                                        TTally<E>& Tally) {
  // Counters as wide as the values keep every lane of a vector the same width.
  using TCount = std::conditional_t<sizeof(E) == 8, int64_t, int32_t>;
  TCount under = 0, over = 0, nan = 0, plus = 0, minus = 0, finite = 0;
  const E underBelow = Ends.UnderBelow, overAbove = Ends.OverAbove;
  if constexpr (std::is_floating_point_v<E>) {
    // All in integers: the window's ends and the values as ordered bits,
    // with -0 as +0 so that it compares equal to it.
    using TKey = TCount;
    constexpr TKey exponent = std::bit_cast<TKey>(std::numeric_limits<E>::infinity());
    constexpr TKey magnitude = std::numeric_limits<TKey>::max();
    const auto keyOf = [](TKey Bits) {
      const TKey key = OrderedBits(Bits);
      return key == -1 ? 0 : key;
    };
    const TKey underKey = keyOf(std::bit_cast<TKey>(underBelow));
    const TKey overKey = keyOf(std::bit_cast<TKey>(overAbove));
    TKey low = keyOf(std::bit_cast<TKey>(Tally.Low));
    TKey high = keyOf(std::bit_cast<TKey>(Tally.High));
    const auto* bitsOf = reinterpret_cast<const uint8_t*>(Values);
    for (int32_t i = 0; i < Count; ++i) {
      TKey bits;
      std::memcpy(&bits, bitsOf + i * sizeof(E), sizeof bits);
      const bool isNaN = (bits & magnitude) > exponent;
      const bool isFinite = (bits & exponent) != exponent;
      const TKey key = keyOf(bits);
      // A NaN counts neither under nor over the window.
      under += !isNaN & (key < underKey);
      over += !isNaN & (key > overKey);
      nan += isNaN;
      plus += bits == exponent;
      minus += bits == (exponent | ~magnitude);
      finite += isFinite;
      low = std::min(low, isFinite ? key : std::numeric_limits<TKey>::max());
      high = std::max(high, isFinite ? key : std::numeric_limits<TKey>::min());
    }
    Tally.Low = std::bit_cast<E>(OrderedBits(low));
    Tally.High = std::bit_cast<E>(OrderedBits(high));
  } else {
    E low = Tally.Low, high = Tally.High;
    for (int32_t i = 0; i < Count; ++i) {
      const E v = Values[i];
      under += v < underBelow;
      over += v > overAbove;
      low = std::min(low, v);
      high = std::max(high, v);
    }
    finite = Count;
    Tally.Low = low, Tally.High = high;
  }
  if (Ends.AllOver)
    over = Count;
  Tally.Under += under, Tally.Over += over, Tally.NaN += nan;
  Tally.PlusInfinity += plus, Tally.MinusInfinity += minus, Tally.Finite += finite;
}

// Four tables taken in turn: a smooth image puts run after run of voxels
// into one bin, and four counters keep those increments from waiting on each other.
using TBinTables = std::array<std::array<int64_t, WideBins>, 4>;

// Estimates within this much of a whole number are settled against the
// exact edges; the estimate itself is never off by more than 2^-40.
constexpr double Slack = 0x1p-30;

} // namespace histogram
