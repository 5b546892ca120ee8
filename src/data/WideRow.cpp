#include "data/WideRow.h"

#include "data/IntensityWindow.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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

bool HasAvx512() {
#if ZANDREL_WIDE_ROW
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512dq");
#else
  return false;
#endif
}

bool& Switch512() {
  static bool on = HasAvx512();
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

bool Wider() {
  return Switch() && Switch512();
}

void SetWider(bool On) {
  Switch512() = On && HasAvx512();
}

#if ZANDREL_WIDE_ROW
namespace {

using rowclassifier::CodeCheck;
using rowclassifier::CodeOver;
using rowclassifier::CodeUnder;
using rowclassifier::TParams;

enum class TSource { Int32, UInt32, Float32, Int64, UInt64, Float64 };

template <bool Swap>
__attribute__((target("avx2"), always_inline)) inline __m256i Load32(const uint8_t* At) {
  const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(At));
  if constexpr (!Swap)
    return raw;
  return _mm256_shuffle_epi8(raw, _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13,
                                                   12, 3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14,
                                                   13, 12));
}

template <bool Swap>
__attribute__((target("avx2"), always_inline)) inline __m256i Load64(const uint8_t* At) {
  const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(At));
  if constexpr (!Swap)
    return raw;
  return _mm256_shuffle_epi8(raw, _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10,
                                                   9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11,
                                                   10, 9, 8));
}

// Four 64-bit voxels as singles. A double holds every integer below 2^52
// exactly, so converting through it rounds once, as the scalar conversion
// does; the integer lands in a double's fraction by adding the bits of a
// power of two and then taking that power off. Larger integers are rare and
// are converted one by one.
template <TSource Source, bool Swap>
__attribute__((target("avx2"), always_inline)) inline __m128 LoadFour(const uint8_t* At) {
  const __m256i raw = Load64<Swap>(At);
  if constexpr (Source == TSource::Float64) {
    return _mm256_cvtpd_ps(_mm256_castsi256_pd(raw));
  } else {
    constexpr bool isSigned = Source == TSource::Int64;
    // Signed integers are biased by 2^51 so that the range test is one of bits.
    const __m256i biased =
        isSigned ? _mm256_add_epi64(raw, _mm256_set1_epi64x(int64_t{1} << 51)) : raw;
    const __m256i high = _mm256_srli_epi64(biased, 52);
    if (!_mm256_testz_si256(high, high)) [[unlikely]] {
      alignas(16) float singles[4];
      for (int lane = 0; lane < 4; ++lane) {
        uint64_t bits;
        std::memcpy(&bits, At + 8 * lane, sizeof bits);
        if constexpr (Swap)
          bits = __builtin_bswap64(bits);
        singles[lane] =
            isSigned ? static_cast<float>(static_cast<int64_t>(bits)) : static_cast<float>(bits);
      }
      return _mm_load_ps(singles);
    }
    // 2^52 + 2^51 + v for a signed v, 2^52 + v for an unsigned one.
    const __m256d power = _mm256_set1_pd(isSigned ? 0x1.8p52 : 0x1p52);
    const __m256d exact = _mm256_sub_pd(
        _mm256_castsi256_pd(_mm256_add_epi64(raw, _mm256_castpd_si256(power))), power);
    return _mm256_cvtpd_ps(exact);
  }
}

// Eight voxels as singles, rounded to nearest as the scalar conversions are.
template <TSource Source, bool Swap>
__attribute__((target("avx2"), always_inline)) inline __m256 LoadSingles(const uint8_t* Bytes,
                                                                         int32_t x) {
  if constexpr (Source == TSource::Int64 || Source == TSource::UInt64 ||
                Source == TSource::Float64) {
    const uint8_t* at = Bytes + 8 * int64_t{x};
    return _mm256_set_m128(LoadFour<Source, Swap>(at + 32), LoadFour<Source, Swap>(at));
  } else {
    const __m256i raw = Load32<Swap>(Bytes + 4 * int64_t{x});
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

__attribute__((target("avx2"), always_inline)) inline void Store24(uint8_t* Target,
                                                                   __m256i Packed) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(Target), _mm256_castsi256_si128(Packed));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(Target + 16), _mm256_extracti128_si256(Packed, 1));
}

// The packed pixels of two blocks of eight (24 bytes each) as three 16-byte parts.
__attribute__((target("avx2"), always_inline)) inline void Join48(__m256i First, __m256i Second,
                                                                  __m128i* Parts) {
  const __m128i secondLow = _mm256_castsi256_si128(Second);
  Parts[0] = _mm256_castsi256_si128(First);
  Parts[1] = _mm_unpacklo_epi64(_mm256_extracti128_si256(First, 1), secondLow);
  Parts[2] = _mm_alignr_epi8(_mm256_extracti128_si256(Second, 1), secondLow, 8);
}

// A bitmap larger than the caches is written once and read by no one before
// the paint ends, so whole lines go straight to memory: streaming stores skip
// reading each line in first, which costs as much as the writing. They need
// 16-byte alignment, which sixteen pixels (48 bytes) keep once reached.
// Block(x) gives the packed pixels of voxels x to x + 7; returns the voxels
// done, a multiple of 8.
template <typename TBlock>
__attribute__((target("avx2"), always_inline)) inline int32_t
StreamRow(uint8_t* Row, int32_t Count, bool Stream, TBlock& Block) {
  int32_t x = 0;
  if (Stream && (reinterpret_cast<uintptr_t>(Row) & 15) == 8 && Count >= 8) {
    Store24(Row, Block(0));
    x = 8;
  }
  if (Stream && (reinterpret_cast<uintptr_t>(Row + 3 * int64_t{x}) & 15) == 0) {
    for (; x + 16 <= Count; x += 16) {
      const __m256i first = Block(x);
      __m128i parts[3];
      Join48(first, Block(x + 8), parts);
      auto* target = reinterpret_cast<__m128i*>(Row + 3 * int64_t{x});
      for (int part = 0; part < 3; ++part)
        _mm_stream_si128(target + part, parts[part]);
    }
    _mm_sfence(); // the streamed lines reach memory before anyone reads the row
  }
  // Sixteen pixels in three full stores rather than four split ones: the
  // 8-byte halves cost a store each and took a third of a short row's time.
  for (; x + 16 <= Count; x += 16) {
    const __m256i first = Block(x);
    __m128i parts[3];
    Join48(first, Block(x + 8), parts);
    auto* target = reinterpret_cast<__m128i*>(Row + 3 * int64_t{x});
    for (int part = 0; part < 3; ++part)
      _mm_storeu_si128(target + part, parts[part]);
  }
  for (; x + 8 <= Count; x += 8)
    Store24(Row + 3 * int64_t{x}, Block(x));
  return x;
}

// Pixel words (blue, green, red, spare) of eight pixels packed into 24 bytes.
__attribute__((target("avx2"), always_inline)) inline __m256i PackWords(__m256i Words) {
  const __m256i packBytes =
      _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8,
                       9, 10, 12, 13, 14, -1, -1, -1, -1);
  return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(Words, packBytes),
                                     _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
}

// Eight pixels: the 24 bytes of their colours in the low bytes of the result,
// the exact colour in place for the lanes only the exact path can tell.
template <TSource Source, bool Swap, bool Flag, bool Ranged>
__attribute__((target("avx2"), always_inline)) inline __m256i
MapBlock(const uint8_t* Bytes, int32_t x, const TLaneParams& P, const TExact& Exact, __m256& Low,
         __m256& High) {
  const __m256 v = LoadSingles<Source, Swap>(Bytes, x);
  const __m256 m = _mm256_mul_ps(_mm256_sub_ps(v, P.MinF), P.Scale);
  // max and min return their second operand for a NaN, as std::max(0, m) does.
  const __m256 clamped =
      _mm256_min_ps(_mm256_max_ps(m, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
  const __m256 shift = _mm256_set1_ps(0x1p23f);
  // 2^23 plus the level: the level is the low byte of the sum's bits.
  const __m256 shifted = _mm256_add_ps(clamped, shift);
  const __m256 rounded = _mm256_sub_ps(shifted, shift);
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
  __m256i words = _mm256_shuffle_epi8(_mm256_castps_si256(shifted), greyBytes);
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
  if constexpr (Ranged) {
    Low = _mm256_min_ps(v, Low);
    High = _mm256_max_ps(v, High);
  }
  const __m256i packBytes =
      _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8,
                       9, 10, 12, 13, 14, -1, -1, -1, -1);
  return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, packBytes),
                                     _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
}

template <TSource Source, bool Swap, bool Flag, bool Ranged> struct TMappedBlock {
  const uint8_t* Bytes;
  TLaneParams P;
  const TExact& Exact;
  __m256 Low, High;

  __attribute__((target("avx2"), always_inline)) __m256i operator()(int32_t x) {
    return MapBlock<Source, Swap, Flag, Ranged>(Bytes, x, P, Exact, Low, High);
  }
};

// Ranged: whether the values are taken into Extremes; the kernel is bound by
// its vector instructions, and a view without a range spares two of them.
template <TSource Source, bool Swap, bool Flag, bool Ranged>
__attribute__((target("avx2"))) int32_t
Kernel(const uint8_t* Bytes, int32_t Count, const TParams& Params, uint32_t Under, uint32_t Over,
       uint8_t* Row, bool Stream, const TExact& Exact, TExtremes& Extremes) {
  TMappedBlock<Source, Swap, Flag, Ranged> block{
      Bytes,
      {_mm256_set1_ps(Params.MinF), _mm256_set1_ps(Params.Scale),
       _mm256_set1_ps(Params.LowestInside), _mm256_set1_ps(Params.HighestInside),
       _mm256_set1_epi32(static_cast<int32_t>(Under)),
       _mm256_set1_epi32(static_cast<int32_t>(Over))},
      Exact,
      _mm256_set1_ps(Extremes.Low),
      _mm256_set1_ps(Extremes.High)};
  const int32_t done = StreamRow(Row, Count, Stream, block);
  if constexpr (!Ranged)
    return done;
  alignas(32) float lows[8], highs[8];
  _mm256_store_ps(lows, block.Low);
  _mm256_store_ps(highs, block.High);
  for (int lane = 0; lane < 8; ++lane) {
    Extremes.Low = lows[lane] < Extremes.Low ? lows[lane] : Extremes.Low;
    Extremes.High = highs[lane] > Extremes.High ? highs[lane] : Extremes.High;
  }
  return done;
}

// Voxels of one or two bytes, each through the colour table by its bits.
template <int32_t Size, bool Swap> struct TTableBlock {
  const uint8_t* Bytes;
  const uint32_t* Table;

  __attribute__((target("avx2"), always_inline)) __m256i operator()(int32_t x) {
    __m256i index;
    if constexpr (Size == 1) {
      index = _mm256_cvtepu8_epi32(
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(Bytes + int64_t{x})));
    } else {
      __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Bytes + 2 * int64_t{x}));
      if constexpr (Swap)
        raw = _mm_shuffle_epi8(raw,
                               _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
      index = _mm256_cvtepu16_epi32(raw);
    }
    return PackWords(_mm256_i32gather_epi32(reinterpret_cast<const int*>(Table), index, 4));
  }
};

template <int32_t Size, bool Swap>
__attribute__((target("avx2"))) int32_t
TableKernel(const uint8_t* Bytes, int32_t Count, const uint32_t* Table, uint8_t* Row, bool Stream) {
  TTableBlock<Size, Swap> block{Bytes, Table};
  return StreamRow(Row, Count, Stream, block);
}

// 32-bit integers through a table of the window's values: each voxel is held
// to [Low, High], the table's first and last entry standing for every value
// beyond them, and its entry gathered. The extremes are kept as integers and
// converted once: converting keeps the order, and integers have no signed zeros.
template <bool Unsigned, bool Swap> struct TWindowBlock {
  const uint8_t* Bytes;
  const uint32_t* Table;
  __m256i Low, High, Least, Most;

  __attribute__((target("avx2"), always_inline)) __m256i operator()(int32_t x) {
    const __m256i v = Load32<Swap>(Bytes + 4 * int64_t{x});
    __m256i held;
    if constexpr (Unsigned) {
      held = _mm256_min_epu32(_mm256_max_epu32(v, Low), High);
      Least = _mm256_min_epu32(Least, v);
      Most = _mm256_max_epu32(Most, v);
    } else {
      held = _mm256_min_epi32(_mm256_max_epi32(v, Low), High);
      Least = _mm256_min_epi32(Least, v);
      Most = _mm256_max_epi32(Most, v);
    }
    const __m256i index = _mm256_sub_epi32(held, Low);
    return PackWords(_mm256_i32gather_epi32(reinterpret_cast<const int*>(Table), index, 4));
  }
};

// The same for 64-bit integers, four to a vector; unsigned ones are compared
// with their top bit flipped, as AVX2 compares 64-bit lanes signed only.
template <bool Unsigned, bool Swap> struct TWindowBlock64 {
  const uint8_t* Bytes;
  const uint32_t* Table;
  __m256i Low, High, Least, Most;

  __attribute__((target("avx2"), always_inline)) __m128i Four(const uint8_t* At) {
    __m256i v = Load64<Swap>(At);
    if constexpr (Unsigned)
      v = _mm256_xor_si256(v, _mm256_set1_epi64x(INT64_MIN));
    const __m256i up = _mm256_blendv_epi8(v, Low, _mm256_cmpgt_epi64(Low, v));
    const __m256i held = _mm256_blendv_epi8(up, High, _mm256_cmpgt_epi64(up, High));
    Least = _mm256_blendv_epi8(Least, v, _mm256_cmpgt_epi64(Least, v));
    Most = _mm256_blendv_epi8(Most, v, _mm256_cmpgt_epi64(v, Most));
    return _mm256_i64gather_epi32(reinterpret_cast<const int*>(Table), _mm256_sub_epi64(held, Low),
                                  4);
  }
  __attribute__((target("avx2"), always_inline)) __m256i operator()(int32_t x) {
    const uint8_t* at = Bytes + 8 * int64_t{x};
    return PackWords(_mm256_set_m128i(Four(at + 32), Four(at)));
  }
};

template <bool Unsigned, bool Swap>
__attribute__((target("avx2"))) int32_t WindowKernel(const uint8_t* Bytes, int32_t Count,
                                                     const TWindowTable& Table, uint8_t* Row,
                                                     bool Stream, TExtremes& Extremes) {
  TWindowBlock<Unsigned, Swap> block{Bytes,
                                     Table.Words,
                                     _mm256_set1_epi32(static_cast<int32_t>(Table.Low)),
                                     _mm256_set1_epi32(static_cast<int32_t>(Table.High)),
                                     _mm256_set1_epi32(Unsigned ? -1 : INT32_MAX),
                                     _mm256_set1_epi32(Unsigned ? 0 : INT32_MIN)};
  const int32_t done = StreamRow(Row, Count, Stream, block);
  alignas(32) uint32_t least[8], most[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(least), block.Least);
  _mm256_store_si256(reinterpret_cast<__m256i*>(most), block.Most);
  for (int i = 0; i < 8 && done > 0; ++i) {
    const float low = Unsigned ? static_cast<float>(least[i])
                               : static_cast<float>(static_cast<int32_t>(least[i]));
    const float high =
        Unsigned ? static_cast<float>(most[i]) : static_cast<float>(static_cast<int32_t>(most[i]));
    Extremes.Low = std::min(Extremes.Low, low);
    Extremes.High = std::max(Extremes.High, high);
  }
  return done;
}

template <bool Unsigned, bool Swap>
__attribute__((target("avx2"))) int32_t WindowKernel64(const uint8_t* Bytes, int32_t Count,
                                                       const TWindowTable& Table, uint8_t* Row,
                                                       bool Stream, TExtremes& Extremes) {
  const int64_t bias = Unsigned ? INT64_MIN : 0;
  TWindowBlock64<Unsigned, Swap> block{Bytes,
                                       Table.Words,
                                       _mm256_set1_epi64x(Table.Low ^ bias),
                                       _mm256_set1_epi64x(Table.High ^ bias),
                                       _mm256_set1_epi64x(INT64_MAX),
                                       _mm256_set1_epi64x(INT64_MIN)};
  const int32_t done = StreamRow(Row, Count, Stream, block);
  alignas(32) int64_t least[4], most[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(least), block.Least);
  _mm256_store_si256(reinterpret_cast<__m256i*>(most), block.Most);
  for (int i = 0; i < 4 && done > 0; ++i) {
    const float low = Unsigned ? static_cast<float>(static_cast<uint64_t>(least[i] ^ bias))
                               : static_cast<float>(least[i]);
    const float high = Unsigned ? static_cast<float>(static_cast<uint64_t>(most[i] ^ bias))
                                : static_cast<float>(most[i]);
    Extremes.Low = std::min(Extremes.Low, low);
    Extremes.High = std::max(Extremes.High, high);
  }
  return done;
}

// The 4-byte voxels sixteen to a vector, where AVX-512 is at hand: the
// same single arithmetic as MapBlock, lane for lane, with the flags and
// the pack done in mask registers, so that each voxel costs half the
// vector instructions. Streamed bitmaps keep to the AVX2 kernel.
// GCC 12's AVX-512 intrinsics start from _mm512_undefined_*, which its flow
// analysis takes for an uninitialised read.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"

template <TSource Source, bool Swap>
__attribute__((target("avx512f,avx512bw,avx512dq"), always_inline)) inline __m512
LoadSixteen(const uint8_t* Bytes, int32_t x) {
  __m512i raw = _mm512_loadu_si512(Bytes + 4 * int64_t{x});
  if constexpr (Swap)
    raw = _mm512_shuffle_epi8(raw, _mm512_broadcast_i32x4(_mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11,
                                                                        10, 9, 8, 15, 14, 13, 12)));
  if constexpr (Source == TSource::Int32)
    return _mm512_cvtepi32_ps(raw);
  else if constexpr (Source == TSource::UInt32)
    return _mm512_cvtepu32_ps(raw); // rounded once, as the scalar conversion is
  else
    return _mm512_castsi512_ps(raw);
}

struct TLaneParams512 {
  __m512 MinF, Scale, Lowest, Highest;
  __m512i Under, Over;
};

template <TSource Source, bool Swap, bool Flag, bool Ranged>
__attribute__((target("avx512f,avx512bw,avx512dq"), always_inline)) inline __m512i
MapSixteen(const uint8_t* Bytes, int32_t x, const TLaneParams512& P, const TExact& Exact,
           __m512& Low, __m512& High) {
  const __m512 v = LoadSixteen<Source, Swap>(Bytes, x);
  const __m512 m = _mm512_mul_ps(_mm512_sub_ps(v, P.MinF), P.Scale);
  // max and min return their second operand for a NaN, as in MapBlock.
  const __m512 clamped =
      _mm512_min_ps(_mm512_max_ps(m, _mm512_setzero_ps()), _mm512_set1_ps(255.0f));
  const __m512 shifted = _mm512_add_ps(clamped, _mm512_set1_ps(0x1p23f));
  // The level's distance from the nearest whole number, ties to even, in
  // one instruction: clamped less its rounding, as MapBlock subtracts.
  const __m512 fraction = _mm512_reduce_ps(clamped, _MM_FROUND_TO_NEAREST_INT);
  const __m512i magnitude = _mm512_set1_epi32(0x7FFFFFFF);
  const __m512 offHalf =
      _mm512_castsi512_ps(_mm512_and_si512(_mm512_castps_si512(fraction), magnitude));
  const __m512 size = _mm512_castsi512_ps(_mm512_and_si512(_mm512_castps_si512(m), magnitude));
  const __mmask16 nearHalf =
      _mm512_cmp_ps_mask(offHalf, _mm512_set1_ps(0.5f - guardband::SingleNearHalf), _CMP_GT_OQ);
  const __mmask16 nearOverflow =
      _mm512_cmp_ps_mask(size, _mm512_set1_ps(guardband::SingleNearOverflow), _CMP_NLT_UQ);
  const __m512i greyBytes =
      _mm512_broadcast_i32x4(_mm_setr_epi8(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12));
  __m512i words = _mm512_shuffle_epi8(_mm512_castps_si512(shifted), greyBytes);
  if constexpr (Flag) {
    words = _mm512_mask_mov_epi32(words, _mm512_cmp_ps_mask(v, P.Lowest, _CMP_LT_OQ), P.Under);
    words = _mm512_mask_mov_epi32(words, _mm512_cmp_ps_mask(v, P.Highest, _CMP_GT_OQ), P.Over);
  }
  if (!_kortestz_mask16_u8(nearHalf, nearOverflow)) [[unlikely]] {
    const unsigned unsure = _kor_mask16(nearHalf, nearOverflow);
    alignas(64) uint32_t exact[16];
    _mm512_store_si512(exact, words);
    for (int lane = 0; lane < 16; ++lane)
      if (unsure & (1u << lane))
        exact[lane] = Exact.Word(Exact.Context, x + lane);
    words = _mm512_load_si512(exact);
  }
  if constexpr (Ranged) {
    Low = _mm512_min_ps(v, Low);
    High = _mm512_max_ps(v, High);
  }
  // Three bytes of each word, twelve to a 128-bit lane, then the lanes joined.
  const __m512i packed =
      _mm512_shuffle_epi8(words, _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10,
                                                                      12, 13, 14, -1, -1, -1, -1)));
  return _mm512_permutexvar_epi32(
      _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15), packed);
}

template <TSource Source, bool Swap, bool Flag, bool Ranged>
__attribute__((target("avx512f,avx512bw,avx512dq"))) int32_t
Kernel512(const uint8_t* Bytes, int32_t Count, const TParams& Params, uint32_t Under, uint32_t Over,
          uint8_t* Row, const TExact& Exact, TExtremes& Extremes) {
  const TLaneParams512 p{_mm512_set1_ps(Params.MinF),
                         _mm512_set1_ps(Params.Scale),
                         _mm512_set1_ps(Params.LowestInside),
                         _mm512_set1_ps(Params.HighestInside),
                         _mm512_set1_epi32(static_cast<int32_t>(Under)),
                         _mm512_set1_epi32(static_cast<int32_t>(Over))};
  __m512 low = _mm512_set1_ps(Extremes.Low), high = _mm512_set1_ps(Extremes.High);
  int32_t x = 0;
  for (; x + 16 <= Count; x += 16) // 48 bytes of pixels, not a byte more
    _mm512_mask_storeu_epi32(Row + 3 * int64_t{x}, 0x0FFF,
                             MapSixteen<Source, Swap, Flag, Ranged>(Bytes, x, p, Exact, low, high));
  if constexpr (Ranged) {
    alignas(64) float lows[16], highs[16];
    _mm512_store_ps(lows, low);
    _mm512_store_ps(highs, high);
    for (int lane = 0; lane < 16; ++lane) {
      Extremes.Low = lows[lane] < Extremes.Low ? lows[lane] : Extremes.Low;
      Extremes.High = highs[lane] > Extremes.High ? highs[lane] : Extremes.High;
    }
  }
  return x;
}

#pragma GCC diagnostic pop

template <TSource Source, bool Swap, bool Flag, bool Ranged>
int32_t PickKernel(const uint8_t* Bytes, int32_t Count, const TParams& Params, uint32_t Under,
                   uint32_t Over, uint8_t* Row, bool Stream, const TExact& Exact,
                   TExtremes& Extremes) {
  if constexpr (Source == TSource::Int32 || Source == TSource::UInt32 || Source == TSource::Float32)
    if (!Stream && Wider())
      return Kernel512<Source, Swap, Flag, Ranged>(Bytes, Count, Params, Under, Over, Row, Exact,
                                                   Extremes);
  return Kernel<Source, Swap, Flag, Ranged>(Bytes, Count, Params, Under, Over, Row, Stream, Exact,
                                            Extremes);
}

template <TSource Source, bool Swap, bool Flag>
int32_t WithRange(const uint8_t* Bytes, int32_t Count, const TParams& Params, uint32_t Under,
                  uint32_t Over, uint8_t* Row, bool Stream, const TExact& Exact,
                  TExtremes* Extremes) {
  TExtremes unused{};
  if (Extremes)
    return PickKernel<Source, Swap, Flag, true>(Bytes, Count, Params, Under, Over, Row, Stream,
                                                Exact, *Extremes);
  return PickKernel<Source, Swap, Flag, false>(Bytes, Count, Params, Under, Over, Row, Stream,
                                               Exact, unused);
}

template <TSource Source, bool Swap>
int32_t Flagged(const uint8_t* Bytes, int32_t Count, const TParams& Params, uint32_t Under,
                uint32_t Over, uint8_t* Row, bool Stream, const TExact& Exact,
                TExtremes* Extremes) {
  if (Params.Flag)
    return WithRange<Source, Swap, true>(Bytes, Count, Params, Under, Over, Row, Stream, Exact,
                                         Extremes);
  return WithRange<Source, Swap, false>(Bytes, Count, Params, Under, Over, Row, Stream, Exact,
                                        Extremes);
}

template <TSource Source>
int32_t Swapped(const uint8_t* Bytes, int32_t Count, const TParams& Params, uint32_t Under,
                uint32_t Over, uint8_t* Row, bool Stream, const TExact& Exact,
                TExtremes* Extremes) {
  if (Params.Swap)
    return Flagged<Source, true>(Bytes, Count, Params, Under, Over, Row, Stream, Exact, Extremes);
  return Flagged<Source, false>(Bytes, Count, Params, Under, Over, Row, Stream, Exact, Extremes);
}

} // namespace

int32_t MapRow(const uint8_t* Bytes, int32_t Count, const TParams& Params, uint32_t Under,
               uint32_t Over, uint8_t* Row, bool Stream, const TExact& Exact, TExtremes* Extremes) {
  switch (Params.Type) {
  case vtInt32:
    return Swapped<TSource::Int32>(Bytes, Count, Params, Under, Over, Row, Stream, Exact, Extremes);
  case vtUInt32:
    return Swapped<TSource::UInt32>(Bytes, Count, Params, Under, Over, Row, Stream, Exact,
                                    Extremes);
  case vtFloat32:
    return Swapped<TSource::Float32>(Bytes, Count, Params, Under, Over, Row, Stream, Exact,
                                     Extremes);
  case vtInt64:
    return Swapped<TSource::Int64>(Bytes, Count, Params, Under, Over, Row, Stream, Exact, Extremes);
  case vtUInt64:
    return Swapped<TSource::UInt64>(Bytes, Count, Params, Under, Over, Row, Stream, Exact,
                                    Extremes);
  case vtFloat64:
    return Swapped<TSource::Float64>(Bytes, Count, Params, Under, Over, Row, Stream, Exact,
                                     Extremes);
  default:
    return 0;
  }
}

int32_t TableRow(const uint8_t* Bytes, int32_t Count, int32_t BytesPerVoxel, bool Swap,
                 const uint32_t* Table, uint8_t* Row, bool Stream) {
  if (BytesPerVoxel == 1)
    return TableKernel<1, false>(Bytes, Count, Table, Row, Stream);
  if (Swap)
    return TableKernel<2, true>(Bytes, Count, Table, Row, Stream);
  return TableKernel<2, false>(Bytes, Count, Table, Row, Stream);
}

int32_t WindowRow(const uint8_t* Bytes, int32_t Count, TVoxelType Type, bool Swap,
                  const TWindowTable& Table, uint8_t* Row, bool Stream, TExtremes& Extremes) {
  switch (Type) {
  case vtInt32:
    return Swap ? WindowKernel<false, true>(Bytes, Count, Table, Row, Stream, Extremes)
                : WindowKernel<false, false>(Bytes, Count, Table, Row, Stream, Extremes);
  case vtUInt32:
    return Swap ? WindowKernel<true, true>(Bytes, Count, Table, Row, Stream, Extremes)
                : WindowKernel<true, false>(Bytes, Count, Table, Row, Stream, Extremes);
  case vtInt64:
    return Swap ? WindowKernel64<false, true>(Bytes, Count, Table, Row, Stream, Extremes)
                : WindowKernel64<false, false>(Bytes, Count, Table, Row, Stream, Extremes);
  case vtUInt64:
    return Swap ? WindowKernel64<true, true>(Bytes, Count, Table, Row, Stream, Extremes)
                : WindowKernel64<true, false>(Bytes, Count, Table, Row, Stream, Extremes);
  default:
    return 0;
  }
}

#else

int32_t WindowRow(const uint8_t*, int32_t, TVoxelType, bool, const TWindowTable&, uint8_t*, bool,
                  TExtremes&) {
  return 0;
}

int32_t TableRow(const uint8_t*, int32_t, int32_t, bool, const uint32_t*, uint8_t*, bool) {
  return 0;
}

int32_t MapRow(const uint8_t*, int32_t, const rowclassifier::TParams&, uint32_t, uint32_t, uint8_t*,
               bool, const TExact&, TExtremes*) {
  return 0;
}

#endif

} // namespace widerow
