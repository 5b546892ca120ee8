#include "data/Histogram.h"

#include "data/HistogramLanes.h"
#include "data/HistogramParts.h"
#include "data/PixelRow.h"
#include "data/WideRow.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>

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

} // namespace

// The hot loops, built for AVX2 too where the machine has it; the arithmetic is the same.
namespace histogramblock {

// The clones' resolver runs while the program is loaded, before the thread
// sanitizer is ready to see its instrumented entry.
#if defined(__SANITIZE_THREAD__)
#define ZANDREL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZANDREL_THREAD_SANITIZER 1
#endif
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__) &&                  \
    !defined(ZANDREL_THREAD_SANITIZER)
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

namespace {

// Voxels [From, To) of a block as values of E for the plain loops: the
// bytes may be the view's own, which are not E objects.
template <typename E>
std::array<E, Block> PlainValues(const uint8_t* Bytes, int32_t From, int32_t To) {
  std::array<E, Block> values;
  std::memcpy(values.data(), Bytes + From * sizeof(E), (To - From) * sizeof(E));
  return values;
}

// A block's tally: through the lanes where the machine has them, and the
// few voxels they leave, or every voxel, through the plain loop.
template <typename E>
void TallyBlock(const uint8_t* Bytes, int32_t Count, const TEnds<E>& Ends, TTally<E>& Tally) {
  int32_t done = 0;
#if ZANDREL_HISTOGRAM_WIDE
  if (widerow::Enabled())
    done = histogramlanes::Tally<E>(Bytes, Count, Ends, Tally);
#endif
  if (done < Count)
    histogramblock::Tally(PlainValues<E>(Bytes, done, Count).data(), Count - done, Ends, Tally);
}

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

// The bins of a block, the same way.
template <typename E, typename V>
void BinBlock(const uint8_t* Bytes, int32_t Count, const TBinner<V>& Binner, TBinTables& Bins) {
  int32_t done = 0;
#if ZANDREL_HISTOGRAM_WIDE
  if (widerow::Enabled())
    done = histogramlanes::Bin<E>(Bytes, Count, Binner, Bins);
#endif
  if (done < Count)
    histogramblock::Bin(PlainValues<E>(Bytes, done, Count).data(), Count - done, Binner, Bins);
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

// Calls Run(first, count) for each run of whole blocks a render has made
// final, as soon as it is, and for the rest once the render has ended; then
// takes the render's count. False when it ended with fewer voxels than it
// had already given.
template <typename F> bool FollowRuns(THistogramSource& Source, F&& Run) {
  int64_t done = 0;
  for (;;) {
    const TReadProgress::TState now = Source.Progress->Await(done + Block);
    const int64_t final = std::min(now.Voxels, Source.Count);
    if (final < done)
      return false;
    const int64_t end = now.Ended ? final : final / Block * Block;
    Run(done, end - done);
    done = end;
    if (now.Ended) {
      Source.Count = final;
      return true;
    }
  }
}

// How often each bit pattern occurs. Neighbouring voxels of a smooth image
// share their pattern, so they go to separate tables in turn, and no
// increment waits on the one before. 32-bit counters suffice: a view holds
// fewer than 2^32 voxels.
template <typename TBits, typename F>
bool CountBits(const THistogramSource& Source, F&& Runs, std::vector<int64_t>& Counts) {
  constexpr size_t patterns = size_t{1} << (8 * sizeof(TBits));
  constexpr int tables = sizeof(TBits) == 1 ? 4 : 2;
  std::vector<uint32_t> table(tables * patterns);
  // The patterns as stored, read where they lie; a swapped order is undone
  // once per pattern at the end instead of once per voxel.
  const auto bitsAt = [&](int64_t At) {
    TBits bits;
    std::memcpy(&bits, Source.Bytes + At * static_cast<int64_t>(sizeof bits), sizeof bits);
    return bits;
  };
  const bool whole = Runs([&](int64_t First, int64_t Count) {
    const int64_t end = First + Count;
    int64_t i = First;
    for (; i + tables <= end; i += tables)
      for (int t = 0; t < tables; ++t)
        ++table[t * patterns + bitsAt(i + t)];
    for (; i < end; ++i)
      ++table[bitsAt(i)];
  });
  if (!whole)
    return false;
  const bool swapped = sizeof(TBits) > 1 && pixelrow::NeedsSwap(Source.Order);
  Counts.assign(patterns, 0);
  for (int t = 0; t < tables; ++t)
    for (size_t p = 0; p < patterns; ++p) {
      const auto bits = static_cast<size_t>(p);
      Counts[swapped ? ((bits >> 8) | (bits << 8)) & 0xFFFF : bits] += table[t * patterns + p];
    }
  return true;
}

// 8- and 16-bit voxels: every bit pattern is counted first, in the runs of
// voxels Runs gives (false when a render took some back), then each pattern
// met is weighed once.
template <typename T, typename V, typename F>
bool CountPatterns(THistogram& Result, const THistogramSource& Source, int32_t WindowMin,
                   int32_t WindowMax, F&& Runs) {
  using TBits = std::make_unsigned_t<std::conditional_t<std::is_same_v<V, double>, uint16_t, T>>;
  constexpr size_t patterns = size_t{1} << (8 * sizeof(T));
  std::vector<int64_t> counts;
  if (!CountBits<TBits>(Source, Runs, counts))
    return false;
  Result.Values = Source.Count;
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
      return true;
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
      return true;
    const TBinner<V> binner(tally.Low, tally.High);
    Result.Bins.assign(WideBins, 0);
    for (size_t p = 0; p < patterns; ++p) {
      const V value = valueOf(p);
      if (counts[p] > 0 && std::fabs(static_cast<double>(value)) < HUGE_VAL)
        Result.Bins[binner.BinOf(value)] += counts[p];
    }
    TakeEdges(Result, binner);
  }
  return true;
}

// Calls Body(bytes, n) for voxels [First, First + Count) a block at a time,
// in order: stored values in the machine's order, which the lanes read as
// bytes, read where they lie when they already are.
template <typename T, typename F>
void ForRun(const THistogramSource& Source, int64_t First, int64_t Count, F&& Body) {
  THistogramSource run = Source;
  run.Bytes += First * static_cast<int64_t>(sizeof(T));
  run.Count = Count;
  if (!pixelrow::NeedsSwap(Source.Order)) {
    for (int64_t first = 0; first < run.Count; first += Block)
      Body(run.Bytes + first * static_cast<int64_t>(sizeof(T)),
           static_cast<int32_t>(std::min<int64_t>(Block, run.Count - first)));
    return;
  }
  ForEachStored<T>(run, [&](const T* Stored, int32_t StoredCount) {
    Body(reinterpret_cast<const uint8_t*>(Stored), StoredCount);
  });
}

// Calls Body(bytes, n) for every block of the voxels in the file: a block of
// stored values in the machine's order, which the lanes read as bytes. Bytes
// already in that order are read where they lie, without a copy.
template <typename T, typename F> void ForEachWide(const THistogramSource& Source, F&& Body) {
  if (!pixelrow::NeedsSwap(Source.Order)) {
    // From the end, where the render has just been, so that what of the view
    // is still in the cache is read before the count itself pushes it out.
    for (int64_t first = (Source.Count - 1) / Block * Block; first >= 0; first -= Block)
      Body(Source.Bytes + first * static_cast<int64_t>(sizeof(T)),
           static_cast<int32_t>(std::min<int64_t>(Block, Source.Count - first)));
    return;
  }
  ForRun<T>(Source, 0, Source.Count, Body);
}

// Integers whose range is narrower than this, and than the view, are binned
// through a table of every value of the range.
constexpr uint64_t NarrowRange = uint64_t{1} << 16;

// Puts the values of blocks into the bins of a range: integers of a range
// narrower than NarrowRange and than the view by their offset from Low in a
// table, two taken in turn as in CountBits, each bin then the run of the
// table between its integer edges; everything else through BinBlock. Values
// outside the range, which a wrong guess lets in, never reach past a table.
template <typename T, typename V> class TWideBins {
public:
  TWideBins(const TBinner<V>& Binner, int64_t Count)
      : FBinner(Binner) {
    if constexpr (std::is_integral_v<T>) {
      FLow = static_cast<uint64_t>(Binner.Edge(0));
      const uint64_t width = static_cast<uint64_t>(Binner.Edge(WideBins)) - FLow;
      if (width < NarrowRange && width < static_cast<uint64_t>(Count)) {
        FWidth = static_cast<size_t>(width) + 1;
        FOffsets.assign(2 * (FWidth + 1), 0); // each table's last slot takes what lies outside
      }
    }
  }

  void Add(const uint8_t* Bytes, int32_t Count) {
    if (FOffsets.empty()) {
      BinBlock<T>(Bytes, Count, FBinner, FBins);
      return;
    }
    uint32_t* first = FOffsets.data();
    uint32_t* second = first + FWidth + 1;
    const auto offsetOf = [&](int32_t At) {
      T value;
      std::memcpy(&value, Bytes + At * sizeof(T), sizeof value);
      return std::min(static_cast<size_t>(static_cast<uint64_t>(value) - FLow), FWidth);
    };
    int32_t i = 0;
    for (; i + 2 <= Count; i += 2) {
      ++first[offsetOf(i)];
      ++second[offsetOf(i + 1)];
    }
    if (i < Count)
      ++first[offsetOf(i)];
  }

  // Whether the table took every value: then it holds everything the tally would find.
  bool TableHoldsAll() const {
    return !FOffsets.empty() && FOffsets[FWidth] == 0 && FOffsets[2 * FWidth + 1] == 0;
  }
  // The tally from the table alone.
  TTally<T> TallyOfTable(const TEnds<T>& Ends) const {
    TTally<T> tally;
    for (size_t offset = 0; offset < FWidth; ++offset) {
      const int64_t count = int64_t{FOffsets[offset]} + FOffsets[FWidth + 1 + offset];
      if (count == 0)
        continue;
      const auto value = static_cast<T>(FLow + offset);
      tally.Finite += count;
      tally.Under += value < Ends.UnderBelow ? count : 0;
      tally.Over += Ends.AllOver || value > Ends.OverAbove ? count : 0;
      tally.Low = std::min(tally.Low, value);
      tally.High = std::max(tally.High, value);
    }
    return tally;
  }

  // Binner is this one's, or for a table any whose range lies within the table's.
  void TakeBins(THistogram& Result, const TBinner<V>& Binner) const {
    Result.Bins.assign(WideBins, 0);
    if (FOffsets.empty()) {
      for (const auto& table : FBins)
        for (int k = 0; k < WideBins; ++k)
          Result.Bins[k] += table[k];
    } else {
      const uint32_t* first = FOffsets.data();
      const uint32_t* second = first + FWidth + 1;
      const auto offsetOf = [&](int k) {
        const auto edge = static_cast<uint64_t>(Binner.Edge(k)) - FLow;
        return static_cast<size_t>(k == WideBins ? edge + 1 : edge);
      };
      for (int k = 0; k < WideBins; ++k)
        for (size_t offset = offsetOf(k); offset < offsetOf(k + 1); ++offset)
          Result.Bins[k] += int64_t{first[offset]} + second[offset];
    }
    TakeEdges(Result, Binner);
  }
  void TakeBins(THistogram& Result) const { TakeBins(Result, FBinner); }

  bool HasTable() const { return !FOffsets.empty(); }

  // Adds what another's blocks put into the bins of the same range.
  void Merge(const TWideBins& Other) {
    for (size_t i = 0; i < FOffsets.size(); ++i)
      FOffsets[i] += Other.FOffsets[i];
    for (size_t t = 0; t < FBins.size(); ++t)
      for (int k = 0; k < WideBins; ++k)
        FBins[t][k] += Other.FBins[t][k];
  }

private:
  const TBinner<V>& FBinner;
  uint64_t FLow = 0;
  size_t FWidth = 0;
  std::vector<uint32_t> FOffsets;
  TBinTables FBins{};
};

// Calls Body(bytes, n) for blocks [First, End) of the voxels in the file, as ForEachWide does.
template <typename T, typename F>
void ForBlocks(const THistogramSource& Source, int64_t First, int64_t End, F&& Body) {
  ForRun<T>(Source, First * Block, std::min(Source.Count, End * Block) - First * Block, Body);
}

// Views at least this large are binned on two threads once the range is
// known: by then the render that the first pass followed has ended, and its
// core is free for the view's second reading from memory.
constexpr int64_t SharedPassVoxels = int64_t{1} << 18;
constexpr int64_t BlocksPerClaim = 16;

// Only where a core beyond the render's and the count's is sure to be free:
// on two, the window still paints its other views as the second reading
// starts, and the helper only takes turns with it.
bool& SecondThread() {
  static bool on = std::thread::hardware_concurrency() > 2;
  return on;
}

// Puts every voxel into Bins, with a second thread taking runs of blocks
// into bins of its own, made by MakeBins, merged at the end.
template <typename T, typename TBins, typename FMake>
void BinOnTwoThreads(const THistogramSource& Source, TBins& Bins, FMake&& MakeBins) {
  if (Source.Count < SharedPassVoxels || !SecondThread()) {
    ForEachWide<T>(Source, [&](const uint8_t* Bytes, int32_t Count) { Bins.Add(Bytes, Count); });
    return;
  }
  const int64_t blocks = (Source.Count + Block - 1) / Block;
  std::atomic<int64_t> claimed{0};
  const auto takeRuns = [&](TBins& Into) {
    for (;;) {
      const int64_t first = claimed.fetch_add(BlocksPerClaim, std::memory_order_relaxed);
      if (first >= blocks)
        return;
      ForBlocks<T>(Source, first, std::min(blocks, first + BlocksPerClaim),
                   [&](const uint8_t* Bytes, int32_t Count) { Into.Add(Bytes, Count); });
    }
  };
  TBins other = MakeBins();
  std::optional<std::thread> helper;
  try {
    helper.emplace([&] { takeRuns(other); });
  } catch (const std::system_error&) {
    // No thread to be had: this one takes every run.
  }
  takeRuns(Bins);
  if (helper) {
    helper->join();
    Bins.Merge(other);
  }
}

// The source's guess of the finite range as values of V, when it is one: a
// spread that T can hold.
template <typename T, typename V>
std::optional<std::pair<V, V>> GuessOf(const THistogramSource& Source) {
  // -0 as +0, as the tally gives it.
  const double low = Source.GuessLow + 0.0, high = Source.GuessHigh + 0.0;
  if (!(low < high) || !std::isfinite(low) || !std::isfinite(high))
    return std::nullopt;
  if constexpr (std::is_integral_v<T>) {
    // Exact bounds of T as doubles: its lowest, and its largest plus one.
    constexpr double least = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double beyond = 2.0 * (static_cast<double>(std::numeric_limits<T>::max() / 2) + 1.0);
    if (low < least || high >= beyond || low != std::floor(low) || high != std::floor(high))
      return std::nullopt;
  } else if (static_cast<double>(static_cast<T>(low)) != low ||
             static_cast<double>(static_cast<T>(high)) != high) {
    return std::nullopt;
  }
  return std::pair{static_cast<V>(static_cast<T>(low)), static_cast<V>(static_cast<T>(high))};
}

// 32- and 64-bit voxels: a pass for the range and the counts beside the
// bins, and one to bin. With a guess of the range, each block is binned
// against it right after its tally, while in the cache, and when the tally
// finds the guess right, the second pass is saved: the view is read from
// memory once.
//
// The first pass goes through First, which may follow a render and settles
// Source.Count; it returns false when the render ended with fewer voxels than
// it had already given, and then nothing of Result holds.
template <typename T, typename V, typename F>
bool CountWide(THistogram& Result, THistogramSource& Source, int32_t WindowMin, int32_t WindowMax,
               F&& First) {
  const TEnds<T> ends(WindowMin, WindowMax);
  TTally<T> tally;
  bool firstDone = false;
  const auto forEach = [&](auto&& Body) {
    if (std::exchange(firstDone, true))
      ForEachWide<T>(Source, Body);
    else if (!First(Body))
      return false;
    Result.Values = Source.Count;
    return true;
  };
  if (const std::optional<std::pair<V, V>> guess = GuessOf<T, V>(Source)) {
    const TBinner<V> binner(guess->first, guess->second);
    TWideBins<T, V> bins(binner, Source.Count);
    // A table of integers that takes every value needs no tally beside it.
    if (bins.HasTable()) {
      if (!forEach([&](const uint8_t* Bytes, int32_t Count) { bins.Add(Bytes, Count); }))
        return false;
      if (bins.TableHoldsAll()) {
        tally = bins.TallyOfTable(ends);
        Finish(Result, tally);
        if (Result.Shape == THistogram::Spread)
          bins.TakeBins(Result, TBinner<V>(static_cast<V>(tally.Low), static_cast<V>(tally.High)));
        return true;
      }
    }
    // Once a value beyond the guess is met, the bins against it are lost work.
    bool guessStands = true;
    if (!forEach([&](const uint8_t* Bytes, int32_t Count) {
          TallyBlock<T>(Bytes, Count, ends, tally);
          guessStands = guessStands && !(static_cast<V>(tally.Low) < guess->first) &&
                        !(static_cast<V>(tally.High) > guess->second);
          if (!bins.HasTable() && guessStands)
            bins.Add(Bytes, Count);
        }))
      return false;
    Finish(Result, tally);
    if (Result.Shape == THistogram::Spread && !bins.HasTable() &&
        static_cast<V>(tally.Low) == guess->first && static_cast<V>(tally.High) == guess->second)
      bins.TakeBins(Result);
    if (Result.Shape != THistogram::Spread || !Result.Bins.empty())
      return true;
  } else {
    if (!forEach(
            [&](const uint8_t* Bytes, int32_t Count) { TallyBlock<T>(Bytes, Count, ends, tally); }))
      return false;
    Finish(Result, tally);
    if (Result.Shape != THistogram::Spread)
      return true;
  }
  const TBinner<V> binner(static_cast<V>(tally.Low), static_cast<V>(tally.High));
  TWideBins<T, V> bins(binner, Source.Count);
  BinOnTwoThreads<T>(Source, bins, [&] { return TWideBins<T, V>(binner, Source.Count); });
  bins.TakeBins(Result);
  return true;
}

// The first pass beside a render. Blocks start where they would in a pass
// over the whole view, so every block is the same.
template <typename T, typename F> bool FollowRender(THistogramSource& Source, F&& Body) {
  return FollowRuns(Source,
                    [&](int64_t First, int64_t Count) { ForRun<T>(Source, First, Count, Body); });
}

} // namespace

THistogram ComputeHistogram(const THistogramSource& Source, int32_t WindowMin, int32_t WindowMax) {
  THistogram result;
  result.Type = Source.Type;
  THistogramSource source = Source;
  source.Count = Source.Bytes ? std::max<int64_t>(Source.Count, 0) : 0;
  const bool followed =
      source.Progress && WithTypes(Source.Type, [&]<typename TT>(TT) {
        using T = typename TT::Stored;
        using V = typename TT::Value;
        if constexpr (sizeof(T) <= 2)
          return CountPatterns<T, V>(result, source, WindowMin, WindowMax,
                                     [&](auto&& Run) { return FollowRuns(source, Run); });
        else
          return CountWide<T, V>(result, source, WindowMin, WindowMax,
                                 [&](auto&& Body) { return FollowRender<T>(source, Body); });
      });
  if (followed)
    return result;
  // A render that took back voxels it had given: counted again once it has ended.
  if (source.Progress)
    source.Count = std::min(
        source.Count,
        std::max<int64_t>(source.Progress->Await(std::numeric_limits<int64_t>::max()).Voxels, 0));
  source.Progress = nullptr;
  result = THistogram{};
  result.Type = Source.Type;
  result.Values = source.Count;
  WithTypes(Source.Type, [&]<typename TT>(TT) {
    using T = typename TT::Stored;
    using V = typename TT::Value;
    if constexpr (sizeof(T) <= 2)
      CountPatterns<T, V>(result, source, WindowMin, WindowMax, [&](auto&& Run) {
        Run(0, source.Count);
        return true;
      });
    else
      CountWide<T, V>(result, source, WindowMin, WindowMax, [&](auto&& Body) {
        ForEachWide<T>(source, Body);
        return true;
      });
  });
  return result;
}

bool SetHistogramSecondThread(bool On) {
  return std::exchange(SecondThread(), On);
}
