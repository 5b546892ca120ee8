// The exact edges of bins over doubles.
#include "data/HistogramParts.h"

#include <limits>

namespace histogram {
namespace {

static_assert(std::numeric_limits<long double>::digits >= 64,
              "the bin edges of doubles need products of a double and a 10-bit count exactly");

struct TTwoSum {
  long double Sum;
  long double Error;
};
// Knuth's error-free sum: Sum + Error is exactly A + B.
TTwoSum TwoSum(long double A, long double B) {
  const long double sum = A + B;
  const long double b = sum - A;
  return {sum, (A - (sum - b)) + (B - b)};
}

// The sign of A + B + C, exactly: the sum is grown as a non-overlapping
// expansion, whose most significant non-zero part carries the sign.
int SignOfSum(long double A, long double B, long double C) {
  const TTwoSum first = TwoSum(B, A);
  const TTwoSum second = TwoSum(C, first.Error);
  const TTwoSum third = TwoSum(second.Sum, first.Sum);
  for (const long double part : {third.Sum, third.Error, second.Error})
    if (part != 0)
      return part > 0 ? 1 : -1;
  return 0;
}

// Whether (X - Low) / (High - Low) x 512 >= Bin, exactly: as
// 512 X - Bin High - (512 - Bin) Low >= 0, whose products are exact in
// extended precision (a double's 53 bits and at most 10 more).
bool ReachesBin(double X, int Bin, double Low, double High) {
  const long double count = WideBins;
  return SignOfSum(count * X, -static_cast<long double>(Bin) * High,
                   -(count - Bin) * static_cast<long double>(Low)) >= 0;
}

} // namespace

// The smallest double at which bin Bin begins (Bin >= 1). Widening steps from
// the estimate bracket it closely; halving on the doubles' order ends it.
double EdgeOfDoubles(int Bin, double Low, double High, double Guess) {
  const auto reaches = [&](uint64_t Key) { return ReachesBin(DoubleOfKey(Key), Bin, Low, High); };
  // The edge lies in (lo, hi]: Low reaches only the first bin, High every bin.
  uint64_t lo = KeyOf(Low);
  uint64_t hi = KeyOf(High);
  const uint64_t guess = std::clamp(KeyOf(Guess), lo, hi);
  if (reaches(guess)) {
    hi = guess;
    for (uint64_t step = 1; hi - lo > step; step <<= 1) {
      if (!reaches(hi - step)) {
        lo = hi - step;
        break;
      }
      hi -= step;
    }
  } else {
    lo = guess;
    for (uint64_t step = 1; hi - lo > step; step <<= 1) {
      if (reaches(lo + step)) {
        hi = lo + step;
        break;
      }
      lo += step;
    }
  }
  while (hi - lo > 1) {
    const uint64_t mid = lo + (hi - lo) / 2;
    (reaches(mid) ? hi : lo) = mid;
  }
  return DoubleOfKey(hi);
}

} // namespace histogram
