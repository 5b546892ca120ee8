#pragma once

// The pieces that the histogram and its percentile window share: how each
// type's voxels are walked, the order of doubles as integers, and the exact
// wide bins.
#include "data/Histogram.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <type_traits>

namespace histogram {

__extension__ typedef unsigned __int128 uint128;

// Voxels are decoded a block at a time into buffers that stay in the first-level cache.
constexpr int32_t Block = 2048;
constexpr int WideBins = THistogram::WideBins;
constexpr int LastBin = WideBins - 1;

// The stored type of a voxel type and the type its values are handled in:
// every integer exactly as a 64-bit integer, every float exactly as a double.
template <typename TStored, typename TValue> struct TTypes {
  using Stored = TStored;
  using Value = TValue;
};

template <typename F> decltype(auto) WithTypes(TVoxelType Type, F&& Body) {
  switch (Type) {
  case vtByte:
    return Body(TTypes<uint8_t, int64_t>{});
  case vtInt8:
    return Body(TTypes<int8_t, int64_t>{});
  case vtInt16:
    return Body(TTypes<int16_t, int64_t>{});
  case vtUInt16:
    return Body(TTypes<uint16_t, int64_t>{});
  case vtFloat16:
    return Body(TTypes<uint16_t, double>{});
  case vtInt32:
    return Body(TTypes<int32_t, int64_t>{});
  case vtUInt32:
    return Body(TTypes<uint32_t, uint64_t>{});
  case vtInt64:
    return Body(TTypes<int64_t, int64_t>{});
  case vtUInt64:
    return Body(TTypes<uint64_t, uint64_t>{});
  case vtFloat32:
    return Body(TTypes<float, double>{});
  case vtFloat64:
    break;
  }
  return Body(TTypes<double, double>{});
}

// A stored voxel as its value; a half is the only stored type read as bits.
template <typename V, typename T> V ValueOf(T Stored, const float* Halves) {
  if constexpr (std::is_same_v<V, double> && std::is_same_v<T, uint16_t>)
    return Halves[Stored];
  else
    return static_cast<V>(Stored);
}

// Calls Body(stored, n) for every block of the voxels in the file.
template <typename T, typename F> void ForEachStored(const THistogramSource& Source, F&& Body) {
  T stored[Block];
  for (int64_t first = 0; first < Source.Count; first += Block) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(Block, Source.Count - first));
    voxeldecoder::DecodeStored(Source.Bytes, first, n, Source.Order, stored);
    Body(static_cast<const T*>(stored), n);
  }
}

// The same with the values.
template <typename T, typename V, typename F>
void ForEachBlock(const THistogramSource& Source, F&& Body) {
  const float* halves = voxeldecoder::HalfSingles();
  V values[Block];
  ForEachStored<T>(Source, [&](const T* Stored, int32_t Count) {
    for (int32_t i = 0; i < Count; ++i)
      values[i] = ValueOf<V>(Stored[i], halves);
    Body(static_cast<const V*>(values), Count);
  });
}

// The order of doubles as the order of unsigned integers.
inline uint64_t KeyOf(double Value) {
  const auto bits = std::bit_cast<uint64_t>(Value);
  return bits >> 63 ? ~bits : bits | uint64_t{1} << 63;
}
inline double DoubleOfKey(uint64_t Key) {
  return std::bit_cast<double>(Key >> 63 ? Key & ~(uint64_t{1} << 63) : ~Key);
}

// The smallest double at which bin Bin (1 .. 511) of Low .. High begins,
// searched from Guess.
double EdgeOfDoubles(int Bin, double Low, double High, double Guess);

// Puts values into the wide bins. A quick estimate in doubles is off by at
// most one bin; the exact edges then decide.
template <typename V> class TBinner {
public:
  TBinner(V Low, V High)
      : FLow(Low) {
    if constexpr (std::is_floating_point_v<V>) {
      // Scaled by a power of two, which is exact, so that neither High - Low
      // nor its reciprocal overflows.
      const double width = High - Low;
      FFactor = !std::isfinite(width) ? 0.5 : width < 0x1p-900 ? 0x1p600 : 1.0;
      FLowScaled = Low * FFactor;
      FScale = WideBins / (High * FFactor - FLowScaled);
      FEdges[0] = Low;
      FEdges[WideBins] = High;
      for (int k = 1; k < WideBins; ++k) {
        const double guess =
            (FLowScaled + k * ((High * FFactor - FLowScaled) / WideBins)) / FFactor;
        FEdges[k] = EdgeOfDoubles(k, Low, High, std::isnan(guess) ? Low : guess);
      }
    } else {
      const uint64_t width = static_cast<uint64_t>(High) - static_cast<uint64_t>(Low);
      FScale = WideBins / static_cast<double>(width);
      for (int k = 0; k <= WideBins; ++k) {
        const auto offset = static_cast<uint64_t>((uint128{width} * k + LastBin) / WideBins);
        FEdges[k] = static_cast<V>(static_cast<uint64_t>(Low) + offset);
      }
    }
  }

  // The estimate's relative error is a few units of a double's last place,
  // so on a scale of 512 it is never a whole bin off: one step up and one
  // down settle it.
  int BinOf(V Value) const {
    int bin = Estimate(Value);
    bin += bin < LastBin && !(Value < FEdges[bin + 1]);
    bin -= bin > 0 && Value < FEdges[bin];
    return bin;
  }
  V Edge(int Bin) const { return FEdges[Bin]; }
  double Scale() const { return FScale; }
  double Factor() const { return FFactor; }
  double LowScaled() const { return FLowScaled; }

private:
  int Estimate(V Value) const {
    double t;
    if constexpr (std::is_floating_point_v<V>)
      t = (Value * FFactor - FLowScaled) * FScale;
    else
      t = static_cast<double>(static_cast<uint64_t>(Value) - static_cast<uint64_t>(FLow)) * FScale;
    return t >= 0.0 ? (t < LastBin ? static_cast<int>(t) : LastBin) : 0;
  }

  V FLow;
  double FFactor = 1.0;
  double FLowScaled = 0.0;
  double FScale = 0.0;
  std::array<V, WideBins + 1> FEdges{};
};

} // namespace histogram
