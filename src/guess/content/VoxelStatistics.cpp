#include "guess/content/VoxelStatistics.h"

#include "data/VoxelDecoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <utility>

namespace guess {

namespace {

bool IsFloat(TVoxelType Type) {
  return FactsOf(Type).Float;
}

// Types that read the same values while the signed one sees no negative
// value: the signed one, and the one of the two that is dropped then.
struct TTwin {
  TVoxelType Signed, Dropped;
};
constexpr std::array<TTwin, 4> Twins = {
    {{vtInt8, vtInt8}, {vtInt16, vtUInt16}, {vtInt32, vtUInt32}, {vtInt64, vtUInt64}}};

// The stored bits as one number, for the statistics of which bytes change.
uint64_t LoadRaw(const uint8_t* Bytes, int32_t Width, bool Big) {
  uint64_t raw = 0;
  for (int32_t i = 0; i < Width; ++i)
    raw = raw << 8 | Bytes[Big ? i : Width - 1 - i];
  return raw;
}

// The value as the views decode it, widened to a double.
double ValueOf(const uint8_t* Bytes, TVoxelType Type, TByteOrder Order) {
  return voxeldecoder::DecodeVoxel(Bytes, 0, Type, Order).AsDouble();
}

bool IsWideUnsigned(TVoxelType Type) {
  return Type == vtUInt16 || Type == vtUInt32 || Type == vtUInt64;
}

struct TValueStats {
  double Near = 0.0, Far = 0.0; // summed |differences| of neighbours and of far pairs
  int64_t NearPairs = 0, FarPairs = 0;
  int64_t Count = 0, NonFinite = 0, NonZero = 0;
  int64_t Tiny = 0, Huge = 0, Integral = 0, LowByteZero = 0, Wide = 0;
  int64_t UpperHalf = 0; // unsigned 16-bit values of 32768 and more
  int64_t Negatives = 0;
  int64_t NearZero = 0;    // 16-bit integers: non-zero values within 1024 of zero
  int64_t TopByteFull = 0; // unsigned values whose top byte is all ones
  uint64_t MaxRaw = 0;     // unsigned 16-bit: the highest value, and how many hold it
  int64_t AtMaxRaw = 0;
  std::array<int64_t, 8> ByteChanges{}; // neighbours whose byte k (0: least significant) differs
  bool Negative = false;
  // Neighbours more than half the type's range apart: an integer image read
  // with the wrong signedness jumps so wherever it crosses the wrap point.
  int64_t WrapJumps = 0;
  // Summed |differences| 1, 2, 4 and 8 voxels apart: a reading narrower than
  // the data splits each value into unlike parts, so that voxels one value
  // apart agree better than neighbours do.
  std::array<double, 4> Lags{};
  double Density = 0.0;  // integers: distinct values over the span of the central values
  double Distinct = 0.0; // integers: distinct central values, or the count where the span is vast
  uint64_t ChangedBits = 0; // every bit in which some neighbours differ
  // Bytes: the bits in which voxels two apart differ, at even and at odd places.
  std::array<uint64_t, 2> PhaseBits{};
  double Span = 0.0; // of the central values
  // Bytes: how many hold each of the three lowest and the three highest patterns.
  std::array<int64_t, 6> EndPatterns{};
};

// Magnitudes that image data of the type rarely has: float values that are
// denormal-small or astronomically large, integers that fill the top bits.
// (Bright 16-bit images may lack small values as much as half floats read as
// integers do, so their absence tells nothing.)
struct TLimits {
  double Tiny = 0.0, Huge = HUGE_VAL, Wide = HUGE_VAL;
};
TLimits LimitsOf(TVoxelType Type) {
  switch (Type) {
  case vtFloat16:
    return {1.0 / 1024, HUGE_VAL, HUGE_VAL};
  case vtFloat32:
  case vtFloat64:
    return {1e-10, 1e9, HUGE_VAL};
  case vtInt16:
  case vtUInt16:
    return {0.0, HUGE_VAL, 16384.0};
  case vtInt32:
  case vtUInt32:
    return {0.0, HUGE_VAL, 16777216.0};
  case vtInt64:
  case vtUInt64:
    return {0.0, HUGE_VAL, 1099511627776.0};
  default:
    return {};
  }
}

void AddValues(const std::vector<double>& Values, const std::vector<uint64_t>& Raw, TVoxelType Type,
               TValueStats& Stats) {
  const TLimits limits = LimitsOf(Type);
  const bool isFloat = IsFloat(Type);
  for (size_t i = 0; i < Values.size(); ++i) {
    const double v = Values[i];
    ++Stats.Count;
    if (!std::isfinite(v)) {
      ++Stats.NonFinite;
      continue;
    }
    Stats.Negative |= v < 0.0;
    if (v == 0.0)
      continue;
    ++Stats.NonZero;
    const double magnitude = std::fabs(v);
    Stats.Tiny += magnitude < limits.Tiny;
    Stats.Huge += magnitude > limits.Huge;
    Stats.Wide += magnitude >= limits.Wide;
    Stats.UpperHalf += Type == vtUInt16 && v >= 32768.0;
    Stats.Negatives += v < 0.0;
    Stats.NearZero += BytesPerVoxel[Type] == 2 && !isFloat && magnitude < 1024.0;
    Stats.Integral += isFloat && v == std::nearbyint(v);
    Stats.LowByteZero += !isFloat && BytesPerVoxel[Type] > 1 && (Raw[i] & 0xFF) == 0;
    Stats.TopByteFull += IsWideUnsigned(Type) && Raw[i] >> (8 * BytesPerVoxel[Type] - 8) == 0xFF;
    if (Type == vtUInt16 && Raw[i] >= Stats.MaxRaw)
      Stats.AtMaxRaw = Raw[i] > Stats.MaxRaw ? 1 : Stats.AtMaxRaw + 1, Stats.MaxRaw = Raw[i];
  }
  if (!isFloat) {
    const double half = std::ldexp(1.0, 8 * BytesPerVoxel[Type] - 1);
    for (size_t i = 1; i < Values.size(); ++i)
      Stats.WrapJumps += std::fabs(Values[i] - Values[i - 1]) > half;
  }
  if (BytesPerVoxel[Type] == 1)
    for (const uint64_t raw : Raw) {
      if (raw < 3)
        ++Stats.EndPatterns[raw];
      else if (raw > 252)
        ++Stats.EndPatterns[raw - 250];
    }
  for (size_t i = 1; i < Raw.size(); ++i) {
    const uint64_t changed = Raw[i] ^ Raw[i - 1];
    Stats.ChangedBits |= changed;
    if (BytesPerVoxel[Type] == 1 && i >= 2)
      Stats.PhaseBits[i & 1] |= Raw[i] ^ Raw[i - 2];
    for (int32_t k = 0; k < BytesPerVoxel[Type]; ++k)
      Stats.ByteChanges[k] += (changed >> (8 * k) & 0xFF) != 0;
  }
}

// Bytes piled up on 0 and on 255 while the patterns next to them are rare:
// black and white at the ends of an unsigned range (a clipped scene, an info
// bar's lettering). Read as signed, 255 and 0 are -1 and 0, neighbours, so
// such an image looks smoother so read, yet signed data near zero would fill
// -2 and -3 about as often as -1.
bool SaturatesBothEnds(const TValueStats& Stats) {
  const auto& [zero, one, two, high2, high1, top] = Stats.EndPatterns;
  const auto piled = [&Stats](int64_t End, int64_t Next) {
    return End * 1000 >= Stats.Count && End > 4 * Next;
  };
  return piled(zero, one + two) && piled(top, high1 + high2);
}

} // namespace

// Values beyond the central 99 % (a stray header field, a few wild values)
// would outweigh every other difference: they are pulled in to its bounds,
// and non-finite values count as 0.
template <typename T> void ClampOutliers(std::vector<T>& Values) {
  std::vector<T> finite;
  // An odd step: an even one would sample only one half of every pair of
  // narrower values that a wide type splits into, such as only the sign
  // halves of 32-bit integers read as 16-bit ones.
  const size_t step = (Values.size() / 65536 + 1) | 1;
  for (size_t i = 0; i < Values.size(); i += step)
    if (std::isfinite(Values[i]))
      finite.push_back(Values[i]);
  if (finite.empty()) {
    std::fill(Values.begin(), Values.end(), T{0});
    return;
  }
  const auto at = [&finite](double Share) {
    auto place =
        finite.begin() + static_cast<ptrdiff_t>(Share * static_cast<double>(finite.size() - 1));
    std::nth_element(finite.begin(), place, finite.end());
    return *place;
  };
  T lo = at(0.005), hi = at(0.995);
  // A sparse frame (a few spots on an empty field) is all background at
  // both ends; its spots are the image, so the ends come from them instead.
  if (lo == hi) {
    const T background = lo;
    std::erase(finite, background);
    if (!finite.empty()) {
      lo = std::min(background, at(0.005));
      hi = std::max(background, at(0.995));
    }
  }
  for (T& v : Values)
    v = std::isfinite(v) ? std::clamp(v, lo, hi) : T{0};
}
template void ClampOutliers(std::vector<float>&);
template void ClampOutliers(std::vector<double>&);

namespace {

// Neighbours differ little in an image, pairs far apart differ as much as the
// image's contrast.
void AddDifferences(const std::vector<double>& Values, const std::vector<double>& Other,
                    TValueStats& Stats) {
  for (size_t i = 0; i + 8 < Values.size(); ++i)
    for (size_t k = 0; k < Stats.Lags.size(); ++k)
      Stats.Lags[k] += std::fabs(Values[i + (size_t{1} << k)] - Values[i]);
  for (size_t i = 0; i + 1 < Values.size(); ++i)
    Stats.Near += std::fabs(Values[i + 1] - Values[i]);
  Stats.NearPairs += static_cast<int64_t>(Values.size()) - 1;
  const size_t far = std::min(Values.size(), Other.size());
  for (size_t i = 0; i < far; ++i)
    Stats.Far += std::fabs(Values[i] - Other[i]);
  Stats.FarPairs += static_cast<int64_t>(far);
}

// How densely integer values of Type fill the span they cover, 0 .. 1: noise
// around a sky level, or any image, uses most values between its darkest and
// its brightest; read in a wrong byte order or width, the same bytes scatter
// over a span hundreds of times wider. Random bytes fill every span densely,
// but span the whole range of the type, which an image rarely does.
double DensityOf(const std::vector<double>& Values, TVoxelType Type, double& Distinct) {
  Distinct = static_cast<double>(Values.size());
  if (Values.size() < 2)
    return 0.0;
  const auto [lo, hi] = std::minmax_element(Values.begin(), Values.end());
  const double span = *hi - *lo;
  const double range = std::ldexp(1.0, 8 * BytesPerVoxel[Type]);
  const double compact = std::max(0.0, 1.0 - span / range);
  // Fewer values than a sixty-fourth of the span fill it too thinly to
  // matter; otherwise one mark per value of the span counts them.
  if (span + 1.0 > 64.0 * static_cast<double>(Values.size()))
    return std::min(1.0, static_cast<double>(Values.size()) / (span + 1.0)) * compact;
  std::vector<bool> seen(static_cast<size_t>(span) + 1, false);
  Distinct = 0.0;
  for (double v : Values) {
    const auto at = static_cast<size_t>(v - *lo);
    Distinct += !seen[at];
    seen[at] = true;
  }
  return std::min(1.0, Distinct / (span + 1.0)) * compact;
}

double Share(int64_t Part, int64_t Whole) {
  return Whole > 0 ? static_cast<double>(Part) / static_cast<double>(Whole) : 0.0;
}

// Fewer distinct values than this may be labels, which leave bits clear.
constexpr double FewValues = 32.0;

// Bits that never change between the lowest and the highest that do. Counts
// of any depth change in every bit up from their lowest (an offset only
// fixes the bits above them, a shift those below); read in the wrong byte
// order, the fixed bits above their depth land amid the changing ones.
int32_t SteadyBitsAmid(uint64_t Changed) {
  if (Changed == 0)
    return 0;
  const int32_t low = std::countr_zero(Changed), high = 63 - std::countl_zero(Changed);
  return high - low + 1 - std::popcount(Changed);
}

// Unsigned 16-bit counts shifted to the top bits, clipped at the highest
// level they can hold: a camera's saturated white. Read as signed, the white
// turns into the level just below zero, which beside a dark field reads as
// smooth as the dark field itself.
bool ClippedAtTheTop(const TValueStats& Stats) {
  const int32_t clear = Stats.ChangedBits != 0 ? std::countr_zero(Stats.ChangedBits) : 0;
  return clear >= 2 && Stats.MaxRaw == (0xFFFFu & ~((uint64_t{1} << clear) - 1)) &&
         Stats.AtMaxRaw * 1000 >= Stats.NonZero;
}

// SpareLowByte: the low byte is zero in both byte orders' readings, so it
// cannot tell them apart (8-bit values shifted up by 8 bits in a 32-bit word).
double ScoreOf(const TValueStats& Stats, TVoxelType Type, bool SpareLowByte) {
  if (Stats.NearPairs == 0 || Stats.FarPairs == 0 || Stats.Far <= 0.0)
    return 0.0;
  const double ratio = (Stats.Near / static_cast<double>(Stats.NearPairs)) /
                       (Stats.Far / static_cast<double>(Stats.FarPairs));
  if (!std::isfinite(ratio)) // differences beyond the doubles
    return 0.0;
  double score = std::clamp(1.0 - ratio, 0.0, 1.0);
  // Noise-dominated frames (sky, dark fluorescence) are not smooth in any
  // reading; how densely the values lie then tells the readings apart.
  score = std::max(score, 0.3 * Stats.Density);
  for (size_t k = 1; BytesPerVoxel[Type] << k <= 8 && Stats.Lags[0] > 0.0; ++k)
    score *= std::min(1.0, Stats.Lags[k] / Stats.Lags[0] / 0.5);

  score *= std::max(0.0, 1.0 - 10.0 * Share(Stats.NonFinite, Stats.Count));
  score *= 1.0 - Share(Stats.Tiny, Stats.NonZero);
  score *= 1.0 - Share(Stats.Huge, Stats.NonZero);
  // Unsigned data lifted into the upper half (an offset, a bright scene), or
  // spread over more than half the range (counts shifted to the top bits, a
  // scaled image), fill the top bits and may have no small values; floats
  // read so would all be negative, or their halves would not be smooth.
  // Shifted counts keep their lowest bits clear, wherever the scene lies.
  const bool shifted = Stats.ChangedBits != 0 && std::countr_zero(Stats.ChangedBits) >= 2;
  const bool lifted = Type == vtUInt16 && (Share(Stats.UpperHalf, Stats.NonZero) > 0.9 ||
                                           Stats.Span > 32768.0 || shifted);
  // So do signed data scaled to fill their range, from far below zero to
  // far above it, passing through zero; half floats read as integers leave
  // a gap about zero, where only the tiniest floats would lie.
  const bool scaled =
      Type == vtInt16 && Stats.Span > 32768.0 && !shifted && Stats.NearZero * 1000 >= Stats.NonZero;
  if (!lifted && !scaled)
    score *= 1.0 - 0.6 * std::sqrt(Share(Stats.Wide, Stats.NonZero));
  if (!SpareLowByte)
    score *= 1.0 - Share(Stats.LowByteZero, Stats.NonZero);
  // The low and the high bytes of shifted counts, read as bytes: the low ones
  // keep their lowest bits clear, the high ones do not.
  if (BytesPerVoxel[Type] == 1 && Stats.PhaseBits[0] != 0 && Stats.PhaseBits[1] != 0 &&
      std::abs(std::countr_zero(Stats.PhaseBits[0]) - std::countr_zero(Stats.PhaseBits[1])) >= 2)
    score *= 0.5;
  // A few labels (a mask of 0 and 1000) may leave bits clear; many values do not.
  if (!IsFloat(Type) && BytesPerVoxel[Type] > 1 && Stats.Distinct >= FewValues &&
      SteadyBitsAmid(Stats.ChangedBits) >= 2)
    score *= 0.5;
  // Unsigned values crowding the very top of the range are negative numbers
  // of a signed type; read as unsigned, pairs of a narrower width (all ones
  // beside a small negative, zeros beside a small positive) look smooth.
  if (!(Type == vtUInt16 && ClippedAtTheTop(Stats)))
    score *= std::max(0.0, 1.0 - 2.0 * Share(Stats.TopByteFull, Stats.NonZero));
  if ((!IsFloat(Type) || Type == vtFloat16) && BytesPerVoxel[Type] > 1 && Stats.Distinct > 256.0) {
    // Whenever a higher byte of an integer changes, its low byte almost always
    // does too; the other way round is a float or a wrong byte order. Not so
    // for a few levels spread over the range (8-bit data scaled up), whose
    // low bytes repeat with every step.
    const int64_t upper = *std::max_element(Stats.ByteChanges.begin() + 1, Stats.ByteChanges.end());
    score *= std::min(1.0, static_cast<double>(Stats.ByteChanges[0] + 1) /
                               static_cast<double>(upper + 1));
  }
  // Floats that are all negative are rare; integers lifted into the upper
  // half of their range read so.
  if (IsFloat(Type) && Share(Stats.Negatives, Stats.NonZero) > 0.95)
    score *= 0.6;
  // So are signed images without a positive value: unsigned data kept in the
  // upper half of their range (an offset, a bright scene) read so.
  if (!IsFloat(Type) && BytesPerVoxel[Type] > 1 && FactsOf(Type).Signed &&
      Share(Stats.Negatives, Stats.NonZero) > 0.99)
    score *= 0.8;
  if (Type == vtInt8 && SaturatesBothEnds(Stats))
    score *= 0.4;
  if (IsFloat(Type)) // integers stored as floats are common; noise-like floats less so
    score *= 0.9 + 0.1 * Share(Stats.Integral, Stats.NonZero);
  // Half floats are rare in image files, 16-bit integers common; read as the
  // other, a smooth image of either stays smooth where the values keep to one
  // sign (the bits then map monotonically).
  const double negatives = Share(Stats.Negatives, Stats.NonZero);
  if (Type == vtFloat16 && (negatives < 0.05 || negatives > 0.95))
    score *= 0.8;
  return score;
}

// Up to eight pieces spread over the bytes, each a multiple of 8 bytes long
// and starting a multiple of 8 bytes in.
// How many bytes of a piece differ from the byte eight before: a field of
// one value of any width changes nothing.
int64_t ByteChanges(const uint8_t* Bytes, int64_t Count) {
  int64_t changes = 0;
  for (int64_t i = 8; i < Count; ++i)
    changes += Bytes[i] != Bytes[i - 8];
  return changes;
}

std::vector<std::pair<int64_t, int64_t>> Pieces(const uint8_t* Bytes, int64_t Count) {
  constexpr int64_t pieceBytes = 32768;
  const int64_t usable = Count & ~int64_t{7};
  if (usable < 16)
    return {};
  const int64_t length = std::min(pieceBytes, usable / 8 & ~int64_t{7});
  if (length < 64)
    return {{0, usable}};
  std::vector<std::pair<int64_t, int64_t>> pieces;
  for (int64_t p = 0; p < 8; ++p)
    pieces.emplace_back((usable - length) * p / 7 & ~int64_t{7}, length);
  // On a sparse frame, a few spots on an empty field, evenly spread pieces
  // may all miss the spots and tell nothing of the type: empty pieces give
  // way to the busiest stretches of the rest.
  const auto changes = [&](int64_t At) { return ByteChanges(Bytes + At, length); };
  std::vector<std::pair<int64_t, int64_t>> kept, empty;
  for (const auto& piece : pieces)
    (changes(piece.first) >= length / 64 ? kept : empty).push_back(piece);
  if (empty.empty())
    return kept;
  std::vector<std::pair<int64_t, int64_t>> busy; // changes, offset
  for (int64_t at = 0; at + length <= usable; at += length)
    busy.emplace_back(changes(at), at);
  std::sort(busy.begin(), busy.end(), std::greater<>());
  const auto taken = [&kept](int64_t At) {
    return std::any_of(kept.begin(), kept.end(),
                       [At](const auto& P) { return std::abs(P.first - At) < P.second; });
  };
  for (auto next = busy.begin(); next != busy.end() && !empty.empty() && next->first > 0; ++next)
    if (!taken(next->second)) {
      kept.emplace_back(next->second, length);
      empty.pop_back();
    }
  kept.insert(kept.end(), empty.begin(), empty.end());
  std::sort(kept.begin(), kept.end());
  return kept;
}

using TPieces = std::vector<std::pair<int64_t, int64_t>>; // offset, length

// How many bit patterns the half floats of the pieces take.
double DistinctHalves(const uint8_t* Bytes, const TPieces& Pieces, TByteOrder Order) {
  std::vector<bool> seen(65536, false);
  double distinct = 0.0;
  for (const auto& [offset, length] : Pieces)
    for (int64_t i = offset; i + 1 < offset + length; i += 2) {
      const auto bits = static_cast<size_t>(LoadRaw(Bytes + i, 2, Order == boBigEndian));
      distinct += !seen[bits];
      seen[bits] = true;
    }
  return distinct;
}

TValueStats StatsOf(const uint8_t* Bytes, const TPieces& pieces, TVoxelType Type,
                    TByteOrder Order) {
  const int32_t width = BytesPerVoxel[Type];
  std::vector<std::vector<double>> values(pieces.size());
  TValueStats stats;
  for (size_t p = 0; p < pieces.size(); ++p) {
    const int64_t n = pieces[p].second / width;
    std::vector<uint64_t> raw(static_cast<size_t>(n));
    values[p].resize(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
      const uint8_t* voxel = Bytes + pieces[p].first + i * width;
      raw[i] = LoadRaw(voxel, width, Order == boBigEndian);
      values[p][i] = ValueOf(voxel, Type, Order);
    }
    AddValues(values[p], raw, Type, stats);
  }
  std::vector<double> all;
  for (const auto& piece : values)
    all.insert(all.end(), piece.begin(), piece.end());
  ClampOutliers(all);
  if (!IsFloat(Type))
    stats.Density = DensityOf(all, Type, stats.Distinct);
  else if (Type == vtFloat16)
    stats.Distinct = DistinctHalves(Bytes, pieces, Order);
  if (!all.empty()) {
    const auto [lo, hi] = std::minmax_element(all.begin(), all.end());
    stats.Span = *hi - *lo;
  }
  for (size_t p = 0, at = 0; p < values.size(); at += values[p].size(), ++p)
    std::copy_n(all.begin() + static_cast<ptrdiff_t>(at), values[p].size(), values[p].begin());
  for (size_t p = 0; p < values.size(); ++p) {
    if (values.size() > 1) {
      AddDifferences(values[p], values[(p + 1) % values.size()], stats);
    } else {
      const auto half = static_cast<ptrdiff_t>(values[p].size() / 2);
      AddDifferences(values[p], std::vector<double>(values[p].begin() + half, values[p].end()),
                     stats);
    }
  }
  return stats;
}

} // namespace

const char* VoxelTypeName(TVoxelType Type) {
  return FactsOf(Type).Name;
}

double VoxelValue(const uint8_t* Bytes, TVoxelType Type, TByteOrder Order) {
  return ValueOf(Bytes, Type, Order);
}

std::vector<TTypeGuess> RankVoxelTypes(const uint8_t* Bytes, int64_t Count) {
  std::vector<TTypeGuess> guesses;
  const TPieces pieces = Pieces(Bytes, Count);
  std::array<std::array<bool, 2>, VoxelTypeCount> negative{};
  std::array<std::array<double, 2>, VoxelTypeCount> wraps{};
  std::array<std::array<int32_t, 2>, VoxelTypeCount> steady{};
  std::array<std::array<double, 2>, VoxelTypeCount> distinct{};
  std::array<bool, 2> clipped{};
  for (int t = 0; t < VoxelTypeCount; ++t) {
    const auto type = static_cast<TVoxelType>(t);
    const int orders = BytesPerVoxel[type] == 1 ? 1 : 2;
    std::array<TValueStats, 2> stats;
    for (int order = 0; order < orders; ++order)
      stats[order] = StatsOf(Bytes, pieces, type, static_cast<TByteOrder>(order));
    const bool lowBytesClear =
        orders == 2 && std::all_of(stats.begin(), stats.end(), [](const TValueStats& S) {
          return S.NonZero > 0 && Share(S.LowByteZero, S.NonZero) > 0.9;
        });
    for (int order = 0; order < orders; ++order) {
      negative[t][order] = stats[order].Negative;
      wraps[t][order] = Share(stats[order].WrapJumps, stats[order].NearPairs);
      steady[t][order] = SteadyBitsAmid(stats[order].ChangedBits);
      distinct[t][order] = stats[order].Distinct;
      clipped[order] |= type == vtUInt16 && ClippedAtTheTop(stats[order]);
      guesses.push_back(
          {type, static_cast<TByteOrder>(order), ScoreOf(stats[order], type, lowBytesClear)});
    }
  }
  // Of a signed and an unsigned reading, the one whose neighbours jump across
  // the wrap point more often has the signedness wrong: a sharp edge jumps
  // as far in both.
  for (TTypeGuess& guess : guesses)
    for (const TTwin& twin : Twins) {
      const TVoxelType unsignedType = twin.Signed == vtInt8 ? vtByte : twin.Dropped;
      const TVoxelType other = guess.Type == twin.Signed    ? unsignedType
                               : guess.Type == unsignedType ? twin.Signed
                                                            : guess.Type;
      const double excess = wraps[guess.Type][guess.Order] - wraps[other][guess.Order];
      if (other != guess.Type && excess > 0.0 && !(guess.Type == vtUInt16 && clipped[guess.Order]))
        guess.Score *= std::max(0.0, 1.0 - 20.0 * excess);
    }
  for (TTypeGuess& guess : guesses)
    if (guess.Type == vtInt16 && clipped[guess.Order])
      guess.Score *= 0.5;
  // Too few values for steady bits amid changing ones to condemn a reading
  // alone (labels leave bits clear) still condemn it beside the other byte
  // order's, whose bits change from their lowest up as counts' do: a dim
  // picture's few dozen levels, scaled up to 10 to 14 bits.
  for (TTypeGuess& guess : guesses) {
    const auto order = guess.Order, other = order == boBigEndian ? boLittleEndian : boBigEndian;
    if (!IsFloat(guess.Type) && BytesPerVoxel[guess.Type] > 1 && steady[guess.Type][order] >= 2 &&
        steady[guess.Type][other] == 0 && distinct[guess.Type][order] >= 8.0 &&
        distinct[guess.Type][order] < FewValues)
      guess.Score *= 0.5;
  }
  // Of two types that read exactly the same values, one is enough.
  std::erase_if(guesses, [&negative](const TTypeGuess& G) {
    return std::any_of(Twins.begin(), Twins.end(), [&](const TTwin& Twin) {
      return Twin.Dropped == G.Type && !negative[Twin.Signed][G.Order];
    });
  });
  std::stable_sort(guesses.begin(), guesses.end(),
                   [](const TTypeGuess& A, const TTypeGuess& B) { return A.Score > B.Score; });
  return guesses;
}

bool OtherKind(const TTypeGuess& A, const TTypeGuess& B) {
  return BytesPerVoxel[A.Type] == BytesPerVoxel[B.Type] && A.Order == B.Order &&
         IsFloat(A.Type) != IsFloat(B.Type);
}

std::vector<TTypeGuess> ReadingsToLayOut(const std::vector<TTypeGuess>& Ranked) {
  if (Ranked.empty())
    return {};
  const TTypeGuess& best = Ranked.front();
  std::vector<TTypeGuess> readings = {best};
  const auto otherKind = std::find_if(Ranked.begin() + 1, Ranked.end(),
                                      [&](const TTypeGuess& T) { return OtherKind(T, best); });
  if (otherKind != Ranked.end() && otherKind->Score >= 0.25 * best.Score)
    readings.push_back(*otherKind);
  for (auto t = Ranked.begin() + 1; t != Ranked.end() && readings.size() < 3; ++t)
    if (t != otherKind && t->Score >= 0.5 * best.Score)
      readings.push_back(*t);
  return readings;
}

} // namespace guess
