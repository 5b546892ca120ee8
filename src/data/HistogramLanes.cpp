// The histogram's passes over 32- and 64-bit voxels in AVX2 lanes.
#include "data/HistogramLanes.h"

#if ZANDREL_HISTOGRAM_WIDE

using namespace histogram;

namespace {

template <typename VLane> __attribute__((target("avx2"))) bool IsZero(VLane Mask) {
  return __builtin_ia32_ptestz256(
      reinterpret_cast<long long __attribute__((vector_size(32)))>(Mask),
      reinterpret_cast<long long __attribute__((vector_size(32)))>(Mask));
}

// What the float lanes add up: counts as masks (-1 for true), so
// subtracting a mask adds one, and the voxels left to the plain loop.
template <typename E> struct TFloatSums {
  using TLane = std::conditional_t<sizeof(E) == 8, int64_t, int32_t>;
  typedef TLane VLane __attribute__((vector_size(32)));
  typedef E VValue __attribute__((vector_size(32)));
  explicit TFloatSums(const TEnds<E>& Ends)
      : Ends(Ends)
      , UnderBelow(VValue{} + Ends.UnderBelow)
      , OverAbove(VValue{} + Ends.OverAbove) {}
  const TEnds<E>& Ends;
  VValue UnderBelow, OverAbove;
  VLane Under{}, Over{};
  int32_t Special = 0;
};

// One vector of floats. Compared as floats, a NaN is neither under nor over,
// -0 equals +0 and each infinity falls beyond its end. A vector holding a NaN
// or an infinity, which is rare, goes through the plain loop whole, so that
// the lanes need not mind them.
template <typename E>
__attribute__((target("avx2"), always_inline)) inline void
TallyStep(const uint8_t* Bytes, int32_t At, TFloatSums<E>& Sums,
          typename TFloatSums<E>::VValue& Low, typename TFloatSums<E>::VValue& High,
          TTally<E>& Tally) {
  using VLane = typename TFloatSums<E>::VLane;
  using VValue = typename TFloatSums<E>::VValue;
  constexpr auto exponent =
      std::bit_cast<typename TFloatSums<E>::TLane>(std::numeric_limits<E>::infinity());
  constexpr int lanes = 32 / sizeof(E);
  VValue v;
  std::memcpy(&v, Bytes + At * sizeof(E), sizeof v);
  if (!IsZero((reinterpret_cast<VLane>(v) & exponent) == exponent)) {
    TallyBody(reinterpret_cast<const E*>(Bytes + At * sizeof(E)), lanes, Sums.Ends, Tally);
    Sums.Special += lanes;
    return;
  }
  Sums.Under -= reinterpret_cast<VLane>(v < Sums.UnderBelow);
  Sums.Over -= reinterpret_cast<VLane>(v > Sums.OverAbove);
  Low = v < Low ? v : Low;
  High = v > High ? v : High;
}

// The same tally as TallyBody in explicit 32-byte lanes, which the compiler
// does not find worth making of the scalar loop on its own; the lanes count
// with masks (-1 for true), so subtracting a mask adds one.
template <typename E>
__attribute__((target("avx2"))) int32_t TallyLanes(const uint8_t* Bytes, int32_t Count,
                                                   const TEnds<E>& Ends, TTally<E>& Tally) {
  using TLane = std::conditional_t<sizeof(E) == 8, int64_t, int32_t>;
  typedef TLane VLane __attribute__((vector_size(32)));
  constexpr int lanes = 32 / sizeof(E);
  const int32_t done = Count - Count % lanes;
  VLane under{}, over{};
  const uint8_t* bytes = Bytes;
  if constexpr (std::is_floating_point_v<E>) {
    typedef E VValue __attribute__((vector_size(32)));
    VValue low[2], high[2];
    low[0] = low[1] = VValue{} + std::numeric_limits<E>::infinity();
    high[0] = high[1] = VValue{} - std::numeric_limits<E>::infinity();
    TFloatSums<E> sums{Ends};
    // Two sets of extremes, so that each chain of comparisons waits half as long.
    int32_t i = 0;
    for (; i + 2 * lanes <= done; i += 2 * lanes) {
      TallyStep(bytes, i, sums, low[0], high[0], Tally);
      TallyStep(bytes, i + lanes, sums, low[1], high[1], Tally);
    }
    if (i < done)
      TallyStep(bytes, i, sums, low[0], high[0], Tally);
    for (int k = 0; k < lanes; ++k) {
      for (int set = 0; set < 2; ++set) {
        Tally.Low = std::min(Tally.Low, low[set][k]);
        Tally.High = std::max(Tally.High, high[set][k]);
      }
      Tally.Under += sums.Under[k], Tally.Over += sums.Over[k];
    }
    // -0 and +0 are the one value +0, as the plain loop gives it.
    Tally.Low += E{0}, Tally.High += E{0};
    Tally.Finite += done - sums.Special;
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
  return done;
}

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
  // Only 64-bit integers take their offset in bits; a double's lowest edge
  // may not fit an unsigned integer at all.
  const uint64_t lowBits = static_cast<uint64_t>(std::is_integral_v<E> ? Binner.Edge(0) : 0);
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

// The estimates of a block, in singles where they hold the offsets and the
// scale, else in doubles (none for 32-bit types), then the counting.
template <typename E, typename V>
int32_t BinLanes(const uint8_t* Bytes, int32_t Count, const TBinner<V>& Binner, TBinTables& Bins) {
  uint16_t estimates[Block];
  int32_t done;
  const double low = static_cast<double>(Binner.Edge(0));
  const double width = static_cast<double>(Binner.Edge(WideBins)) - low;
  const uint64_t lowBits = static_cast<uint64_t>(std::is_integral_v<E> ? Binner.Edge(0) : 0);
  const uint64_t widthBits =
      static_cast<uint64_t>(std::is_integral_v<E> ? Binner.Edge(WideBins) : 0) - lowBits;
  const bool singles = std::is_integral_v<E> ? sizeof(E) == 4 || widthBits < uint64_t{1} << 32
                                             : width >= 0x1p-100 && width <= 0x1p100;
  if (singles) {
    const TSingleScale scale{low, lowBits, static_cast<float>(WideBins / width)};
    EstimateSingles<E>(Bytes, Count, scale, estimates);
    done = Count - Count % 8;
  } else if constexpr (sizeof(E) == 4) {
    return 0;
  } else {
    EstimateDoubles<E>(Bytes, Count, Binner, estimates);
    done = Count - Count % 4;
  }
  CountEstimates<E>(Bytes, estimates, done, Binner, Bins);
  return done;
}

} // namespace

namespace histogramlanes {

template <typename E>
int32_t Tally(const uint8_t* Bytes, int32_t Count, const TEnds<E>& Ends, TTally<E>& Result) {
  return TallyLanes<E>(Bytes, Count, Ends, Result);
}

template <typename E, typename V>
int32_t Bin(const uint8_t* Bytes, int32_t Count, const TBinner<V>& Binner, TBinTables& Bins) {
  return BinLanes<E>(Bytes, Count, Binner, Bins);
}

#define ZANDREL_LANES(E, V)                                                                        \
  template int32_t Tally(const uint8_t*, int32_t, const TEnds<E>&, TTally<E>&);                    \
  template int32_t Bin<E, V>(const uint8_t*, int32_t, const TBinner<V>&, TBinTables&);
ZANDREL_LANES(int32_t, int64_t)
ZANDREL_LANES(uint32_t, uint64_t)
ZANDREL_LANES(int64_t, int64_t)
ZANDREL_LANES(uint64_t, uint64_t)
ZANDREL_LANES(float, double)
ZANDREL_LANES(double, double)
#undef ZANDREL_LANES

} // namespace histogramlanes

#endif
