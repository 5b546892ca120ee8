#include "data/WideRow.h"

#include "data/IntensityWindow.h"

#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define ZANDREL_WIDE_ROW 1
#include <immintrin.h>
#else
#define ZANDREL_WIDE_ROW 0
#endif

namespace widerow {
namespace {

bool& Switch() {
#if ZANDREL_WIDE_ROW
  static bool on = __builtin_cpu_supports("avx2");
#else
  static bool on = false;
#endif
  return on;
}

} // namespace

bool Enabled() {
  return Switch();
}

void SetEnabled(bool On) {
#if ZANDREL_WIDE_ROW
  Switch() = On && __builtin_cpu_supports("avx2");
#else
  (void)On;
#endif
}

#if ZANDREL_WIDE_ROW
namespace {

using rowclassifier::CodeCheck;
using rowclassifier::CodeOver;
using rowclassifier::CodeUnder;
using rowclassifier::TParams;

enum class TSource { Int32, UInt32, Float32, Singles };

// Eight voxels as singles, rounded to nearest as the scalar conversions are.
template <TSource Source, bool Swap>
__attribute__((target("avx2"), always_inline)) inline __m256 LoadSingles(const uint8_t* Bytes,
                                                                         int32_t x) {
  if constexpr (Source == TSource::Singles) {
    return _mm256_loadu_ps(reinterpret_cast<const float*>(Bytes) + x);
  } else {
    __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Bytes + 4 * int64_t{x}));
    if constexpr (Swap)
      raw = _mm256_shuffle_epi8(raw, _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14,
                                                      13, 12, 3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8,
                                                      15, 14, 13, 12));
    if constexpr (Source == TSource::Int32)
      return _mm256_cvtepi32_ps(raw);
    if constexpr (Source == TSource::Float32)
      return _mm256_castsi256_ps(raw);
    // AVX2 converts only signed words: both 16-bit halves are exact as
    // singles, and so is the high one times 2^16, so the one rounding left
    // is that of their sum, as the scalar conversion rounds.
    const __m256 high =
        _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(raw, 16)), _mm256_set1_ps(65536.0f));
    const __m256 low = _mm256_cvtepi32_ps(_mm256_and_si256(raw, _mm256_set1_epi32(0xFFFF)));
    return _mm256_add_ps(high, low);
  }
}

// The constants of one row's mapping, in lanes.
struct TLaneParams {
  __m256 MinF, Scale, Lowest, Highest;
  __m256i Under, Over;
};

// Eight pixels: the 24 bytes of their colours in the low bytes of the result,
// the exact colour in place for the lanes only the exact path can tell.
template <TSource Source, bool Swap, bool Flag>
__attribute__((target("avx2"), always_inline)) inline __m256i
MapBlock(const uint8_t* Bytes, int32_t x, const TLaneParams& P, const TExact& Exact, __m256& Low,
         __m256& High) {
  const __m256 v = LoadSingles<Source, Swap>(Bytes, x);
  const __m256 m = _mm256_mul_ps(_mm256_sub_ps(v, P.MinF), P.Scale);
  // max and min return their second operand for a NaN, as std::max(0, m) does.
  const __m256 clamped =
      _mm256_min_ps(_mm256_max_ps(m, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
  const __m256 shift = _mm256_set1_ps(0x1p23f);
  const __m256 rounded = _mm256_sub_ps(_mm256_add_ps(clamped, shift), shift);
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const __m256 offHalf = _mm256_and_ps(_mm256_sub_ps(clamped, rounded), magnitude);
  const __m256 unsure = _mm256_or_ps(
      _mm256_cmp_ps(offHalf, _mm256_set1_ps(0.5f - guardband::SingleNearHalf), _CMP_GT_OQ),
      _mm256_cmp_ps(_mm256_and_ps(m, magnitude), _mm256_set1_ps(guardband::SingleNearOverflow),
                    _CMP_NLT_UQ)); // also a NaN
  // A grey level's low byte thrice per pixel, four pixels packed into the
  // first twelve bytes of each half, then the halves joined.
  const __m256i greyBytes = _mm256_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 0,
                                             0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12);
  __m256i words = _mm256_shuffle_epi8(_mm256_cvttps_epi32(rounded), greyBytes);
  if constexpr (Flag) {
    words = _mm256_blendv_epi8(words, P.Under,
                               _mm256_castps_si256(_mm256_cmp_ps(v, P.Lowest, _CMP_LT_OQ)));
    words = _mm256_blendv_epi8(words, P.Over,
                               _mm256_castps_si256(_mm256_cmp_ps(v, P.Highest, _CMP_GT_OQ)));
  }
  if (const int lanes = _mm256_movemask_ps(unsure)) [[unlikely]] {
    alignas(32) uint32_t exact[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(exact), words);
    for (int lane = 0; lane < 8; ++lane)
      if (lanes & (1 << lane))
        exact[lane] = Exact.Word(Exact.Context, x + lane);
    words = _mm256_load_si256(reinterpret_cast<const __m256i*>(exact));
  }
  // As v < low ? v : low and v > high ? v : high: a NaN never replaces an extreme.
  Low = _mm256_min_ps(v, Low);
  High = _mm256_max_ps(v, High);
  const __m256i packBytes =
      _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8,
                       9, 10, 12, 13, 14, -1, -1, -1, -1);
  return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, packBytes),
                                     _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
}

__attribute__((target("avx2"), always_inline)) inline void Store24(uint8_t* Target,
                                                                   __m256i Packed) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(Target), _mm256_castsi256_si128(Packed));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(Target + 16), _mm256_extracti128_si256(Packed, 1));
}

// The bitmap is written once and read by no one before the paint ends, so
// whole lines go straight to memory: streaming stores skip reading each line
// in first, which costs as much as the writing. They need 16-byte alignment,
// which sixteen pixels (48 bytes) keep once reached.
template <TSource Source, bool Swap, bool Flag>
__attribute__((target("avx2"))) int32_t
Kernel(const uint8_t* Bytes, int32_t Count, const TParams& Params, uint32_t Under, uint32_t Over,
       uint8_t* Row, const TExact& Exact, TExtremes& Extremes) {
  const TLaneParams p{_mm256_set1_ps(Params.MinF),
                      _mm256_set1_ps(Params.Scale),
                      _mm256_set1_ps(Params.LowestInside),
                      _mm256_set1_ps(Params.HighestInside),
                      _mm256_set1_epi32(static_cast<int32_t>(Under)),
                      _mm256_set1_epi32(static_cast<int32_t>(Over))};
  __m256 low = _mm256_set1_ps(Extremes.Low);
  __m256 high = _mm256_set1_ps(Extremes.High);
  int32_t x = 0;
  if ((reinterpret_cast<uintptr_t>(Row) & 15) == 8 && Count >= 8) {
    Store24(Row, MapBlock<Source, Swap, Flag>(Bytes, 0, p, Exact, low, high));
    x = 8;
  }
  if ((reinterpret_cast<uintptr_t>(Row + 3 * int64_t{x}) & 15) == 0) {
    for (; x + 16 <= Count; x += 16) {
      const __m256i first = MapBlock<Source, Swap, Flag>(Bytes, x, p, Exact, low, high);
      const __m256i second = MapBlock<Source, Swap, Flag>(Bytes, x + 8, p, Exact, low, high);
      const __m128i secondLow = _mm256_castsi256_si128(second);
      auto* target = reinterpret_cast<__m128i*>(Row + 3 * int64_t{x});
      _mm_stream_si128(target, _mm256_castsi256_si128(first));
      _mm_stream_si128(target + 1,
                       _mm_unpacklo_epi64(_mm256_extracti128_si256(first, 1), secondLow));
      _mm_stream_si128(target + 2,
                       _mm_alignr_epi8(_mm256_extracti128_si256(second, 1), secondLow, 8));
    }
    _mm_sfence(); // the streamed lines reach memory before anyone reads the row
  }
  for (; x + 8 <= Count; x += 8)
    Store24(Row + 3 * int64_t{x}, MapBlock<Source, Swap, Flag>(Bytes, x, p, Exact, low, high));
  alignas(32) float lows[8], highs[8];
  _mm256_store_ps(lows, low);
  _mm256_store_ps(highs, high);
  for (int lane = 0; lane < 8; ++lane) {
    Extremes.Low = lows[lane] < Extremes.Low ? lows[lane] : Extremes.Low;
    Extremes.High = highs[lane] > Extremes.High ? highs[lane] : Extremes.High;
  }
  return x;
}

template <TSource Source, bool Swap>
int32_t Flagged(const uint8_t* Bytes, int32_t Count, const TParams& Params, uint32_t Under,
                uint32_t Over, uint8_t* Row, const TExact& Exact, TExtremes& Extremes) {
  if (Params.Flag)
    return Kernel<Source, Swap, true>(Bytes, Count, Params, Under, Over, Row, Exact, Extremes);
  return Kernel<Source, Swap, false>(Bytes, Count, Params, Under, Over, Row, Exact, Extremes);
}

template <TSource Source>
int32_t Swapped(const uint8_t* Bytes, int32_t Count, const TParams& Params, uint32_t Under,
                uint32_t Over, uint8_t* Row, const TExact& Exact, TExtremes& Extremes) {
  if (Params.Swap)
    return Flagged<Source, true>(Bytes, Count, Params, Under, Over, Row, Exact, Extremes);
  return Flagged<Source, false>(Bytes, Count, Params, Under, Over, Row, Exact, Extremes);
}

} // namespace

int32_t MapRow(const uint8_t* Bytes, int32_t Count, const TParams& Params, uint32_t Under,
               uint32_t Over, uint8_t* Row, const TExact& Exact, TExtremes& Extremes) {
  switch (Params.Type) {
  case vtInt32:
    return Swapped<TSource::Int32>(Bytes, Count, Params, Under, Over, Row, Exact, Extremes);
  case vtUInt32:
    return Swapped<TSource::UInt32>(Bytes, Count, Params, Under, Over, Row, Exact, Extremes);
  default:
    return Swapped<TSource::Float32>(Bytes, Count, Params, Under, Over, Row, Exact, Extremes);
  }
}

int32_t MapSingles(const float* Values, int32_t Count, const TParams& Params, uint32_t Under,
                   uint32_t Over, uint8_t* Row, const TExact& Exact, TExtremes& Extremes) {
  return Flagged<TSource::Singles, false>(reinterpret_cast<const uint8_t*>(Values), Count, Params,
                                          Under, Over, Row, Exact, Extremes);
}

#else

int32_t MapRow(const uint8_t*, int32_t, const rowclassifier::TParams&, uint32_t, uint32_t, uint8_t*,
               const TExact&, TExtremes&) {
  return 0;
}

int32_t MapSingles(const float*, int32_t, const rowclassifier::TParams&, uint32_t, uint32_t,
                   uint8_t*, const TExact&, TExtremes&) {
  return 0;
}

#endif

} // namespace widerow
