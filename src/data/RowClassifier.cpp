#include "data/RowClassifier.h"

#include "data/PixelRow.h"
#include "data/WideRow.h"

#include <algorithm>
#include <cmath>

namespace rowclassifier {
namespace {

// Where the values come from: 32-bit voxels decoded here, or singles the
// caller has already decoded, which are then only read.
enum class TSource { Int32, UInt32, Float32, Singles };

// A level in the single guard bands (near a half, or a huge or infinite
// mapped value), or a NaN, gets CodeCheck.
template <TSource Source, bool Swap, bool Flag>
inline __attribute__((always_inline)) bool Classify(const uint8_t* Bytes, int32_t Count,
                                                    const TParams& Params, float* Values,
                                                    int32_t* Codes) {
  const float minF = Params.MinF;
  const float scale = Params.Scale;
  const float lowest = Params.LowestInside;
  const float highest = Params.HighestInside;
  int32_t checks = 0;
  for (int32_t x = 0; x < Count; ++x) {
    float v;
    if constexpr (Source == TSource::Int32)
      v = static_cast<float>(pixelrow::Load<int32_t>(Bytes, x, Swap));
    else if constexpr (Source == TSource::UInt32)
      v = static_cast<float>(pixelrow::Load<uint32_t>(Bytes, x, Swap));
    else
      v = pixelrow::Load<float>(Bytes, x, Swap);
    if constexpr (Source != TSource::Singles)
      Values[x] = v;
    const float m = (v - minF) * scale;
    const float clamped = std::min(255.0f, std::max(0.0f, m)); // a NaN becomes 0
    const float rounded = RoundLevel(clamped);
    auto code = static_cast<int32_t>(rounded);
    if constexpr (Flag) {
      code = v < lowest ? CodeUnder : code;
      code = v > highest ? CodeOver : code;
    }
    code = std::fabs(clamped - rounded) > 0.5f - guardband::SingleNearHalf ? CodeCheck : code;
    code = std::fabs(m) < guardband::SingleNearOverflow ? code : CodeCheck; // also NaN
    Codes[x] = code;
    checks |= code == CodeCheck;
  }
  return checks != 0;
}

template <TSource Source, bool Swap>
inline __attribute__((always_inline)) bool ClassifyFlagged(const uint8_t* Bytes, int32_t Count,
                                                           const TParams& Params, float* Values,
                                                           int32_t* Codes) {
  if (Params.Flag)
    return Classify<Source, Swap, true>(Bytes, Count, Params, Values, Codes);
  return Classify<Source, Swap, false>(Bytes, Count, Params, Values, Codes);
}

template <TSource Source>
inline __attribute__((always_inline)) bool ClassifySwapped(const uint8_t* Bytes, int32_t Count,
                                                           const TParams& Params, float* Values,
                                                           int32_t* Codes) {
  if (Params.Swap)
    return ClassifyFlagged<Source, true>(Bytes, Count, Params, Values, Codes);
  return ClassifyFlagged<Source, false>(Bytes, Count, Params, Values, Codes);
}

} // namespace

TParams ParamsFor(TVoxelType Type, bool Swap, const TIntensityWindow& Window) {
  TParams params;
  params.Type = Type;
  params.Swap = Swap;
  params.Flag = Window.FlagOverUnder();
  params.MinF = Window.MinF();
  params.Scale = Window.Scale();
  // A single lies below the integer IntensityMin exactly when it lies below
  // the least single not below it; likewise above IntensityMax.
  params.LowestInside = static_cast<float>(Window.IntensityMin());
  if (static_cast<double>(params.LowestInside) < Window.IntensityMin())
    params.LowestInside = std::nextafter(params.LowestInside, INFINITY);
  params.HighestInside = static_cast<float>(Window.IntensityMax());
  if (static_cast<double>(params.HighestInside) > Window.IntensityMax())
    params.HighestInside = std::nextafter(params.HighestInside, -INFINITY);
  return params;
}

namespace {

template <typename... TArgs>
inline __attribute__((always_inline)) bool ClassifyAny(TVoxelType Type, TArgs... Args) {
  switch (Type) {
  case vtInt32:
    return ClassifySwapped<TSource::Int32>(Args...);
  case vtUInt32:
    return ClassifySwapped<TSource::UInt32>(Args...);
  default:
    return ClassifySwapped<TSource::Float32>(Args...);
  }
}

} // namespace

// Wider vectors where the processor has them and they are not turned off;
// the arithmetic is the same IEEE single arithmetic either way (no fused
// multiply-add is enabled). The choice is made at run time, so that the tests
// can take the other path too.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
namespace {
__attribute__((target("avx2"))) bool ClassifyRowAvx2(const uint8_t* Bytes, int32_t Count,
                                                     const TParams& Params, float* Values,
                                                     int32_t* Codes) {
  return ClassifyAny(Params.Type, Bytes, Count, Params, Values, Codes);
}
__attribute__((target("avx2"))) bool ClassifySinglesAvx2(const float* Values, int32_t Count,
                                                         const TParams& Params, int32_t* Codes) {
  return ClassifyFlagged<TSource::Singles, false>(reinterpret_cast<const uint8_t*>(Values), Count,
                                                  Params, nullptr, Codes);
}
} // namespace
#define ZANDREL_CLASSIFY_AVX2 1
#else
#define ZANDREL_CLASSIFY_AVX2 0
#endif

bool ClassifyRow(const uint8_t* Bytes, int32_t Count, const TParams& Params, float* Values,
                 int32_t* Codes) {
#if ZANDREL_CLASSIFY_AVX2
  if (widerow::Enabled())
    return ClassifyRowAvx2(Bytes, Count, Params, Values, Codes);
#endif
  return ClassifyAny(Params.Type, Bytes, Count, Params, Values, Codes);
}

bool ClassifySingles(const float* Values, int32_t Count, const TParams& Params, int32_t* Codes) {
#if ZANDREL_CLASSIFY_AVX2
  if (widerow::Enabled())
    return ClassifySinglesAvx2(Values, Count, Params, Codes);
#endif
  return ClassifyFlagged<TSource::Singles, false>(reinterpret_cast<const uint8_t*>(Values), Count,
                                                  Params, nullptr, Codes);
}

} // namespace rowclassifier
