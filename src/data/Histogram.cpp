#include "data/Histogram.h"

#include "data/HistogramParts.h"
#include "data/WideRow.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

// The bodies of the hot loops go whole into each clone below, so that the
// AVX2 clone is AVX2 code throughout.
#if defined(__GNUC__)
#define ZANDREL_HISTOGRAM_INLINE inline __attribute__((always_inline))
#else
#define ZANDREL_HISTOGRAM_INLINE inline
#endif

using namespace histogram;

namespace {

template <typename V> TVoxelValue VoxelValueOf(TVoxelType Type, V Value) {
  TVoxelValue value = voxeldecoder::ZeroOf(Type);
  switch (value.Kind) {
  case TVoxelValue::Signed:
    value.SignedValue = static_cast<int64_t>(Value);
    break;
  case TVoxelValue::Unsigned:
    value.UnsignedValue = static_cast<uint64_t>(Value);
    break;
  case TVoxelValue::Real:
    value.RealValue = static_cast<double>(Value);
    break;
  }
  return value;
}

// What one pass learns of the values besides their bins, in the values' own
// type E: the stored type of the wide types, so that the loop vectorises.
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

// Branch-free, so that the loop vectorises.
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

} // namespace

// The hot loops, built for AVX2 too where the machine has it; the arithmetic is the same.
namespace histogramblock {

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define ZANDREL_HISTOGRAM_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZANDREL_HISTOGRAM_CLONES
#endif

#define ZANDREL_TALLY(E)                                                                           \
  ZANDREL_HISTOGRAM_CLONES void Tally(const E* Values, int32_t Count, const TEnds<E>& Ends,        \
                                      TTally<E>& Result) {                                         \
    TallyBody(Values, Count, Ends, Result);                                                        \
  }
ZANDREL_TALLY(int32_t)
ZANDREL_TALLY(uint32_t)
ZANDREL_TALLY(int64_t)
ZANDREL_TALLY(uint64_t)
ZANDREL_TALLY(float)
ZANDREL_TALLY(double)
#undef ZANDREL_TALLY

} // namespace histogramblock

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define ZANDREL_HISTOGRAM_WIDE 1
#else
#define ZANDREL_HISTOGRAM_WIDE 0
#endif

#if ZANDREL_HISTOGRAM_WIDE
namespace {

// A float's bits as TallyBody orders them, -0 as +0.
template <typename TKey> TKey KeyOfBits(TKey Bits) {
  const TKey key = OrderedBits(Bits);
  return key == -1 ? 0 : key;
}

// The same tally as TallyBody in explicit 32-byte lanes, which the compiler
// does not find worth making of the scalar loop on its own; the lanes count
// with masks (-1 for true), so subtracting a mask adds one.
template <typename E>
__attribute__((target("avx2"))) void TallyLanes(const uint8_t* Bytes, int32_t Count,
                                                const TEnds<E>& Ends, TTally<E>& Tally) {
  using TLane = std::conditional_t<sizeof(E) == 8, int64_t, int32_t>;
  typedef TLane VLane __attribute__((vector_size(32)));
  constexpr int lanes = 32 / sizeof(E);
  const int32_t done = Count - Count % lanes;
  VLane under{}, over{}, nan{}, plus{}, minus{}, finite{};
  constexpr TLane most = std::numeric_limits<TLane>::max();
  constexpr TLane least = std::numeric_limits<TLane>::min();
  const uint8_t* bytes = Bytes;
  if constexpr (std::is_floating_point_v<E>) {
    constexpr TLane exponent = std::bit_cast<TLane>(std::numeric_limits<E>::infinity());
    constexpr TLane minusInfinity = exponent | ~most;
    const VLane underKey = VLane{} + KeyOfBits(std::bit_cast<TLane>(Ends.UnderBelow));
    const VLane overKey = VLane{} + KeyOfBits(std::bit_cast<TLane>(Ends.OverAbove));
    VLane low = VLane{} + most, high = VLane{} + least;
    for (int32_t i = 0; i < done; i += lanes) {
      VLane bits;
      std::memcpy(&bits, bytes + i * sizeof(E), sizeof bits);
      const VLane isNaN = (bits & most) > exponent;
      const VLane isFinite = (bits & exponent) != exponent;
      VLane key = bits ^ ((bits >> (8 * sizeof(TLane) - 1)) & most);
      key &= ~(key == -1);
      under -= ~isNaN & (key < underKey);
      over -= ~isNaN & (key > overKey);
      nan -= isNaN;
      plus -= bits == exponent;
      minus -= bits == minusInfinity;
      finite -= isFinite;
      const VLane lowCandidate = (key & isFinite) | (most & ~isFinite);
      const VLane highCandidate = (key & isFinite) | (least & ~isFinite);
      low = lowCandidate < low ? lowCandidate : low;
      high = highCandidate > high ? highCandidate : high;
    }
    TLane lowest = most, highest = least;
    for (int k = 0; k < lanes; ++k) {
      lowest = std::min(lowest, low[k]), highest = std::max(highest, high[k]);
      Tally.NaN += nan[k], Tally.PlusInfinity += plus[k], Tally.MinusInfinity += minus[k];
      Tally.Finite += finite[k], Tally.Under += under[k], Tally.Over += over[k];
    }
    // Keys of finite values only: the sentinels stand for no value met.
    if (lowest != most)
      Tally.Low = std::min(Tally.Low, std::bit_cast<E>(OrderedBits(lowest)));
    if (highest != least)
      Tally.High = std::max(Tally.High, std::bit_cast<E>(OrderedBits(highest)));
  } else {
    typedef E VValue __attribute__((vector_size(32)));
    const VValue underBelow = VValue{} + Ends.UnderBelow, overAbove = VValue{} + Ends.OverAbove;
    VValue low = VValue{} + Tally.Low, high = VValue{} + Tally.High;
    for (int32_t i = 0; i < done; i += lanes) {
      VValue v;
      std::memcpy(&v, bytes + i * sizeof(E), sizeof v);
      under -= reinterpret_cast<VLane>(v < underBelow);
      over -= reinterpret_cast<VLane>(v > overAbove);
      low = v < low ? v : low;
      high = v > high ? v : high;
    }
    for (int k = 0; k < lanes; ++k) {
      Tally.Low = std::min(Tally.Low, low[k]), Tally.High = std::max(Tally.High, high[k]);
      Tally.Under += under[k], Tally.Over += Ends.AllOver ? 0 : over[k];
    }
    Tally.Over += Ends.AllOver ? done : 0;
    Tally.Finite += done;
  }
  E rest[lanes];
  std::memcpy(rest, Bytes + done * sizeof(E), (Count - done) * sizeof(E));
  TallyBody(rest, Count - done, Ends, Tally);
}

} // namespace
#endif

template <typename E>
void TallyBlock(const uint8_t* Bytes, int32_t Count, const TEnds<E>& Ends, TTally<E>& Tally) {
#if ZANDREL_HISTOGRAM_WIDE
  if (widerow::Enabled())
    return TallyLanes<E>(Bytes, Count, Ends, Tally);
#endif
  histogramblock::Tally(reinterpret_cast<const E*>(Bytes), Count, Ends, Tally);
}

namespace {

// Four tables taken in turn: a smooth image puts run after run of voxels
// into one bin, and four counters keep those increments from waiting on each other.
using TBinTables = std::array<std::array<int64_t, WideBins>, 4>;

// Estimates within this much of a whole number are settled against the
// exact edges; the estimate itself is never off by more than 2^-40.
constexpr double Slack = 0x1p-30;

// First every estimate of a block, in a loop that vectorises, with a mark
// where one lies too near an edge to be sure; then the counting, where only
// the marked values (and non-finite ones) take the exact path.
template <typename E, typename V>
ZANDREL_HISTOGRAM_INLINE void BinBody(const E* Values, int32_t Count, const TBinner<V>& Binner,
                                      TBinTables& Bins) {
  uint16_t estimate[Block];
  uint8_t doubtful[Block];
  const double scale = Binner.Scale();
  const double factor = Binner.Factor();
  const double lowScaled = Binner.LowScaled();
  const V low = Binner.Edge(0);
  for (int32_t i = 0; i < Count; ++i) {
    double t;
    if constexpr (std::is_floating_point_v<E>) {
      t = (static_cast<double>(Values[i]) * factor - lowScaled) * scale;
    } else if constexpr (sizeof(E) == 4) {
      // Unsigned 32 bits through the signed conversion, which vectorises.
      const uint32_t offset = static_cast<uint32_t>(Values[i]) - static_cast<uint32_t>(low);
      t = (static_cast<double>(static_cast<int32_t>(offset ^ 0x8000'0000u)) + 0x1p31) * scale;
    } else {
      t = static_cast<double>(static_cast<uint64_t>(Values[i]) - static_cast<uint64_t>(low)) *
          scale;
    }
    const double clamped = t >= 0.0 ? (t < LastBin ? t : LastBin) : 0.0;
    const int bin = static_cast<int>(clamped);
    const double fraction = t - bin;
    estimate[i] = static_cast<uint16_t>(bin);
    doubtful[i] = !(fraction > Slack && fraction < 1.0 - Slack);
  }
  for (int32_t i = 0; i < Count; ++i) {
    int bin = estimate[i];
    if (doubtful[i]) {
      if constexpr (std::is_floating_point_v<E>)
        if (!(std::fabs(Values[i]) < std::numeric_limits<E>::infinity()))
          continue;
      bin = Binner.BinOf(static_cast<V>(Values[i]));
    }
    ++Bins[i & 3][bin];
  }
}

#if ZANDREL_HISTOGRAM_WIDE

// Marks an estimate the exact edges must settle.
constexpr uint16_t Doubtful = 0x8000;

// The counting after the lanes' estimates: only the marked values (and the
// non-finite ones among them) take the exact path. Count is a multiple of
// four, and each of four voxels goes to its own table.
template <typename E, typename V>
ZANDREL_HISTOGRAM_INLINE void CountEstimates(const uint8_t* Bytes, const uint16_t* Estimates,
                                             int32_t Count, const TBinner<V>& Binner,
                                             TBinTables& Bins) {
  const auto exact = [&](int32_t At) {
    E value;
    std::memcpy(&value, Bytes + At * sizeof(E), sizeof value);
    if constexpr (std::is_floating_point_v<E>)
      if (!(std::fabs(value) < std::numeric_limits<E>::infinity()))
        return;
    ++Bins[At & 3][Binner.BinOf(static_cast<V>(value))];
  };
  for (int32_t i = 0; i < Count; i += 4) {
    uint64_t four;
    std::memcpy(&four, Estimates + i, sizeof four);
    if (four & 0x8000'8000'8000'8000u) {
      for (int32_t k = i; k < i + 4; ++k)
        if (Estimates[k] & Doubtful)
          exact(k);
        else
          ++Bins[k & 3][Estimates[k]];
      continue;
    }
    ++Bins[0][four & 0xFFFF];
    ++Bins[1][(four >> 16) & 0xFFFF];
    ++Bins[2][(four >> 32) & 0xFFFF];
    ++Bins[3][four >> 48];
  }
}

// The estimates of 32-bit values in eight single lanes. The offset from Low,
// its conversion and the product by the scale each round once, by 2^-24 at
// most, so on a scale of 512 the estimate is within 2^-13 of the exact
// quotient; one within 2^-12 of a whole number is marked.
// Doubles and 64-bit integers take the same way once their offsets from Low
// are in singles: the doubles' offsets round once more, the integers' are
// exact when the range is narrower than 2^32.
struct TSingleScale {
  double Low;       // the floats' smallest value
  uint64_t LowBits; // the integers' smallest, as unsigned bits
  float Scale;      // 512 / (High - Low)
};

template <typename E>
__attribute__((target("avx2"))) void EstimateSingles(const uint8_t* Bytes, int32_t Count,
                                                     const TSingleScale& Scale,
                                                     uint16_t* Estimates) {
  typedef float VSingle __attribute__((vector_size(32)));
  typedef int32_t VInt __attribute__((vector_size(32)));
  typedef uint32_t VBits __attribute__((vector_size(32)));
  typedef uint16_t VCode __attribute__((vector_size(16)));
  const uint8_t* bytes = Bytes;
  const VSingle scale = VSingle{} + Scale.Scale, last = VSingle{} + float{LastBin};
  const VSingle slack = VSingle{} + 0x1p-12f, ceiling = VSingle{} + (1.0f - 0x1p-12f);
  typedef double VDouble __attribute__((vector_size(32)));
  typedef uint64_t VWide __attribute__((vector_size(32)));
  typedef float VHalfSingle __attribute__((vector_size(16)));
  typedef uint32_t VHalfBits __attribute__((vector_size(16)));
  for (int32_t i = 0; i + 8 <= Count; i += 8) {
    VSingle t;
    if constexpr (std::is_same_v<E, float>) {
      VSingle v;
      std::memcpy(&v, bytes + i * 4, sizeof v);
      t = (v - static_cast<float>(Scale.Low)) * scale;
    } else if constexpr (std::is_same_v<E, double>) {
      VDouble first, second;
      std::memcpy(&first, bytes + i * 8, sizeof first);
      std::memcpy(&second, bytes + i * 8 + 32, sizeof second);
      const VHalfSingle a = __builtin_convertvector(first - Scale.Low, VHalfSingle);
      const VHalfSingle b = __builtin_convertvector(second - Scale.Low, VHalfSingle);
      t = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7) * scale;
    } else {
      VBits offset;
      if constexpr (sizeof(E) == 4) {
        std::memcpy(&offset, bytes + i * 4, sizeof offset);
        offset -= static_cast<uint32_t>(Scale.LowBits);
      } else {
        VWide first, second;
        std::memcpy(&first, bytes + i * 8, sizeof first);
        std::memcpy(&second, bytes + i * 8 + 32, sizeof second);
        const VHalfBits a = __builtin_convertvector(first - Scale.LowBits, VHalfBits);
        const VHalfBits b = __builtin_convertvector(second - Scale.LowBits, VHalfBits);
        offset = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
      }
      // In two halves, each converted exactly, so only their sum rounds.
      const VSingle high = __builtin_convertvector(reinterpret_cast<VInt>(offset >> 16), VSingle);
      const VSingle low = __builtin_convertvector(reinterpret_cast<VInt>(offset & 0xFFFF), VSingle);
      t = (high * 65536.0f + low) * scale;
    }
    // A NaN fails every comparison: it lands in bin 0, marked.
    const VSingle clamped = t >= 0.0f ? (t < last ? t : last) : VSingle{};
    const VInt bin = __builtin_convertvector(clamped, VInt);
    const VSingle fraction = t - __builtin_convertvector(bin, VSingle);
    const VInt sure = (fraction > slack) & (fraction < ceiling);
    const VCode code = __builtin_convertvector(bin | (~sure & Doubtful), VCode);
    std::memcpy(Estimates + i, &code, sizeof code);
  }
}

// The estimates of 64-bit values in four double lanes, the same arithmetic as BinBody's.
template <typename E, typename V>
__attribute__((target("avx2"))) void EstimateDoubles(const uint8_t* Bytes, int32_t Count,
                                                     const TBinner<V>& Binner,
                                                     uint16_t* Estimates) {
  typedef double VDouble __attribute__((vector_size(32)));
  typedef int64_t VInt __attribute__((vector_size(32)));
  typedef uint64_t VBits __attribute__((vector_size(32)));
  typedef int32_t VBin __attribute__((vector_size(16)));
  typedef uint16_t VCode __attribute__((vector_size(8)));
  const uint8_t* bytes = Bytes;
  const VDouble scale = VDouble{} + Binner.Scale(), last = VDouble{} + double{LastBin};
  const VDouble slack = VDouble{} + Slack, ceiling = VDouble{} + (1.0 - Slack);
  const double factor = Binner.Factor(), lowScaled = Binner.LowScaled();
  const uint64_t lowBits = static_cast<uint64_t>(Binner.Edge(0));
  for (int32_t i = 0; i + 4 <= Count; i += 4) {
    VDouble t;
    if constexpr (std::is_floating_point_v<E>) {
      VDouble v;
      std::memcpy(&v, bytes + i * 8, sizeof v);
      t = (v * factor - lowScaled) * scale;
    } else {
      VBits v;
      std::memcpy(&v, bytes + i * 8, sizeof v);
      // The offset as a double by its halves in the exponent's place: only the sum rounds.
      const VBits offset = v - lowBits;
      const VDouble high =
          reinterpret_cast<VDouble>((offset >> 32) | 0x4530'0000'0000'0000u) - 0x1p84;
      const VDouble low =
          reinterpret_cast<VDouble>((offset & 0xFFFF'FFFFu) | 0x4330'0000'0000'0000u) - 0x1p52;
      t = (high + low) * scale;
    }
    const VDouble clamped = t >= 0.0 ? (t < last ? t : last) : VDouble{};
    const VBin bin = __builtin_convertvector(clamped, VBin);
    const VDouble fraction = t - __builtin_convertvector(bin, VDouble);
    const VInt sure = (fraction > slack) & (fraction < ceiling);
    const VBin doubtful = __builtin_convertvector(~sure & Doubtful, VBin);
    const VCode code = __builtin_convertvector(bin | doubtful, VCode);
    std::memcpy(Estimates + i, &code, sizeof code);
  }
}

#endif

} // namespace

namespace histogramblock {

#define ZANDREL_BIN(E, V)                                                                          \
  ZANDREL_HISTOGRAM_CLONES void Bin(const E* Values, int32_t Count, const TBinner<V>& Binner,      \
                                    TBinTables& Bins) {                                            \
    BinBody(Values, Count, Binner, Bins);                                                          \
  }
ZANDREL_BIN(int32_t, int64_t)
ZANDREL_BIN(uint32_t, uint64_t)
ZANDREL_BIN(int64_t, int64_t)
ZANDREL_BIN(uint64_t, uint64_t)
ZANDREL_BIN(float, double)
ZANDREL_BIN(double, double)
#undef ZANDREL_BIN

} // namespace histogramblock

namespace {

// The bins of a block: through the lanes where the machine has them, the
// few voxels they leave, and every voxel without them, as BinBody puts them.
template <typename E, typename V>
void BinBlock(const uint8_t* Bytes, int32_t Count, const TBinner<V>& Binner, TBinTables& Bins) {
#if ZANDREL_HISTOGRAM_WIDE
  if (widerow::Enabled()) {
    uint16_t estimates[Block];
    int32_t done;
    const double low = static_cast<double>(Binner.Edge(0));
    const double width = static_cast<double>(Binner.Edge(WideBins)) - low;
    const uint64_t lowBits = static_cast<uint64_t>(std::is_integral_v<E> ? Binner.Edge(0) : 0);
    const uint64_t widthBits =
        static_cast<uint64_t>(std::is_integral_v<E> ? Binner.Edge(WideBins) : 0) - lowBits;
    // Singles hold the offsets and the scale only within this range.
    const bool singles = std::is_integral_v<E> ? sizeof(E) == 4 || widthBits < uint64_t{1} << 32
                                               : width >= 0x1p-100 && width <= 0x1p100;
    if (singles) {
      const TSingleScale scale{low, lowBits, static_cast<float>(WideBins / width)};
      EstimateSingles<E>(Bytes, Count, scale, estimates);
      done = Count - Count % 8;
    } else if constexpr (sizeof(E) == 4) {
      return histogramblock::Bin(reinterpret_cast<const E*>(Bytes), Count, Binner, Bins);
    } else {
      EstimateDoubles<E>(Bytes, Count, Binner, estimates);
      done = Count - Count % 4;
    }
    CountEstimates<E>(Bytes, estimates, done, Binner, Bins);
    E rest[8];
    std::memcpy(rest, Bytes + done * sizeof(E), (Count - done) * sizeof(E));
    return histogramblock::Bin(rest, Count - done, Binner, Bins);
  }
#endif
  histogramblock::Bin(reinterpret_cast<const E*>(Bytes), Count, Binner, Bins);
}

template <typename E> void Finish(THistogram& Result, const TTally<E>& Tally) {
  Result.Under = Tally.Under;
  Result.Over = Tally.Over;
  Result.NaN = Tally.NaN;
  Result.PlusInfinity = Tally.PlusInfinity;
  Result.MinusInfinity = Tally.MinusInfinity;
  if (Result.Values == 0)
    Result.Shape = THistogram::NoValues;
  else if (Tally.Finite == 0)
    Result.Shape = THistogram::NoNumbers;
  else if (Tally.Low == Tally.High)
    Result.Shape = THistogram::OneValue;
  else
    Result.Shape = THistogram::Spread;
  if (Tally.Finite > 0) {
    Result.Low = VoxelValueOf(Result.Type, Tally.Low);
    Result.High = VoxelValueOf(Result.Type, Tally.High);
  }
}

template <typename V> void TakeEdges(THistogram& Result, const TBinner<V>& Binner) {
  Result.Edges.resize(WideBins + 1);
  for (int k = 0; k <= WideBins; ++k)
    Result.Edges[k] = VoxelValueOf(Result.Type, Binner.Edge(k));
}

// How often each bit pattern occurs. Neighbouring voxels of a smooth image
// share their pattern, so they go to separate tables in turn, and no
// increment waits on the one before. 32-bit counters suffice: a view holds
// fewer than 2^32 voxels.
template <typename TBits> std::vector<int64_t> CountBits(const THistogramSource& Source) {
  constexpr size_t patterns = size_t{1} << (8 * sizeof(TBits));
  constexpr int tables = sizeof(TBits) == 1 ? 4 : 2;
  std::vector<uint32_t> table(tables * patterns);
  const auto count = [&](const TBits* Bits, int64_t Count) {
    int64_t i = 0;
    for (; i + tables <= Count; i += tables)
      for (int t = 0; t < tables; ++t)
        ++table[t * patterns + Bits[i + t]];
    for (; i < Count; ++i)
      ++table[Bits[i]];
  };
  if constexpr (sizeof(TBits) == 1)
    count(Source.Bytes, Source.Count);
  else
    ForEachStored<TBits>(Source, count);
  std::vector<int64_t> counts(patterns);
  for (int t = 0; t < tables; ++t)
    for (size_t p = 0; p < patterns; ++p)
      counts[p] += table[t * patterns + p];
  return counts;
}

// 8- and 16-bit voxels: every bit pattern is counted first, then each
// pattern met is weighed once.
template <typename T, typename V>
void CountPatterns(THistogram& Result, const THistogramSource& Source, int32_t WindowMin,
                   int32_t WindowMax) {
  using TBits = std::make_unsigned_t<std::conditional_t<std::is_same_v<V, double>, uint16_t, T>>;
  constexpr size_t patterns = size_t{1} << (8 * sizeof(T));
  const std::vector<int64_t> counts = CountBits<TBits>(Source);
  const float* halves = voxeldecoder::HalfSingles();
  const auto valueOf = [&](size_t Pattern) {
    return ValueOf<V>(std::bit_cast<T>(static_cast<TBits>(Pattern)), halves);
  };
  const TEnds<V> ends(WindowMin, WindowMax);
  TTally<V> tally;
  for (size_t p = 0; p < patterns; ++p)
    if (counts[p] > 0) {
      TTally<V> one;
      const V value = valueOf(p);
      TallyBody(&value, 1, ends, one);
      tally.Finite += one.Finite * counts[p];
      tally.Under += one.Under * counts[p];
      tally.Over += one.Over * counts[p];
      tally.NaN += one.NaN * counts[p];
      tally.PlusInfinity += one.PlusInfinity * counts[p];
      tally.MinusInfinity += one.MinusInfinity * counts[p];
      if (one.Finite > 0)
        tally.Low = std::min(tally.Low, value), tally.High = std::max(tally.High, value);
    }
  Finish(Result, tally);
  if constexpr (sizeof(T) == 1) {
    if (tally.Finite == 0)
      return;
    const int lowest = std::is_signed_v<T> ? -128 : 0;
    Result.Bins.assign(THistogram::NarrowBins, 0);
    Result.Edges.resize(THistogram::NarrowBins + 1);
    for (int k = 0; k < THistogram::NarrowBins; ++k) {
      Result.Bins[k] = counts[static_cast<TBits>(lowest + k)];
      Result.Edges[k] = VoxelValueOf(Result.Type, lowest + k);
    }
    Result.Edges.back() = Result.Edges[THistogram::NarrowBins - 1];
  } else {
    if (Result.Shape != THistogram::Spread)
      return;
    const TBinner<V> binner(tally.Low, tally.High);
    Result.Bins.assign(WideBins, 0);
    for (size_t p = 0; p < patterns; ++p) {
      const V value = valueOf(p);
      if (counts[p] > 0 && std::fabs(static_cast<double>(value)) < HUGE_VAL)
        Result.Bins[binner.BinOf(value)] += counts[p];
    }
    TakeEdges(Result, binner);
  }
}

// Calls Body(bytes, n) for every block of the voxels in the file, as the
// stored type's bytes in the machine's order: the lanes read them by bytes.
template <typename T, typename F> void ForEachWide(const THistogramSource& Source, F&& Body) {
  ForEachStored<T>(Source, [&](const T* Stored, int32_t Count) {
    Body(reinterpret_cast<const uint8_t*>(Stored), Count);
  });
}

// 32- and 64-bit voxels: one pass for the range and the counts beside the
// bins, one to bin.
template <typename T, typename V>
void CountWide(THistogram& Result, const THistogramSource& Source, int32_t WindowMin,
               int32_t WindowMax) {
  const TEnds<T> ends(WindowMin, WindowMax);
  TTally<T> tally;
  ForEachWide<T>(Source, [&](const uint8_t* Bytes, int32_t Count) {
    TallyBlock<T>(Bytes, Count, ends, tally);
  });
  Finish(Result, tally);
  if (Result.Shape != THistogram::Spread)
    return;
  const TBinner<V> binner(static_cast<V>(tally.Low), static_cast<V>(tally.High));
  TBinTables bins{};
  ForEachWide<T>(Source, [&](const uint8_t* Bytes, int32_t Count) {
    BinBlock<T>(Bytes, Count, binner, bins);
  });
  Result.Bins.assign(WideBins, 0);
  for (const auto& table : bins)
    for (int k = 0; k < WideBins; ++k)
      Result.Bins[k] += table[k];
  TakeEdges(Result, binner);
}

} // namespace

THistogram ComputeHistogram(const THistogramSource& Source, int32_t WindowMin, int32_t WindowMax) {
  THistogram result;
  result.Type = Source.Type;
  result.Values = Source.Bytes ? std::max<int64_t>(Source.Count, 0) : 0;
  const THistogramSource source{Source.Bytes, result.Values, Source.Type, Source.Order};
  WithTypes(Source.Type, [&]<typename TT>(TT) {
    using T = typename TT::Stored;
    using V = typename TT::Value;
    if constexpr (sizeof(T) <= 2)
      CountPatterns<T, V>(result, source, WindowMin, WindowMax);
    else
      CountWide<T, V>(result, source, WindowMin, WindowMax);
  });
  return result;
}
