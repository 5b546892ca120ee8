#include "data/ContentGuess.h"

#include "data/DimensionSearch.h"
#include "data/VoxelDecoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>

namespace {

constexpr std::array<const char*, VoxelTypeCount> TypeNames = {
    "byte",   "int16", "int32",  "float32", "uint16", "int8",
    "uint32", "int64", "uint64", "float16", "float64"};

bool IsFloat(TVoxelType Type) {
  return Type == vtFloat16 || Type == vtFloat32 || Type == vtFloat64;
}

// Types that read the same values while the signed one sees no negative
// value: the signed one, and the one of the two that is dropped then.
struct TTwin {
  TVoxelType Signed, Dropped;
};
constexpr std::array<TTwin, 4> Twins = {
    {{vtInt8, vtInt8}, {vtInt16, vtUInt16}, {vtInt32, vtUInt32}, {vtInt64, vtUInt64}}};

uint64_t LoadRaw(const uint8_t* Bytes, int32_t Width, bool Big) {
  uint64_t raw = 0;
  for (int32_t i = 0; i < Width; ++i)
    raw = raw << 8 | Bytes[Big ? i : Width - 1 - i];
  return raw;
}

double ValueOf(uint64_t Raw, TVoxelType Type) {
  switch (Type) {
  case vtByte:
  case vtUInt16:
  case vtUInt32:
  case vtUInt64:
    return static_cast<double>(Raw);
  case vtInt8:
    return static_cast<int8_t>(Raw);
  case vtInt16:
    return static_cast<int16_t>(Raw);
  case vtInt32:
    return static_cast<int32_t>(Raw);
  case vtInt64:
    return static_cast<double>(static_cast<int64_t>(Raw));
  case vtFloat16:
    return voxeldecoder::HalfToSingle(static_cast<uint16_t>(Raw));
  case vtFloat32:
    return std::bit_cast<float>(static_cast<uint32_t>(Raw));
  case vtFloat64:
    return std::bit_cast<double>(Raw);
  }
  return 0.0;
}

struct TValueStats {
  double Near = 0.0, Far = 0.0; // summed |differences| of neighbours and of far pairs
  int64_t NearPairs = 0, FarPairs = 0;
  int64_t Count = 0, NonFinite = 0, NonZero = 0;
  int64_t Tiny = 0, Huge = 0, Integral = 0, LowByteZero = 0, Wide = 0, Narrow = 0;
  std::array<int64_t, 8> ByteChanges{}; // neighbours whose byte k (0: least significant) differs
  bool Negative = false;
};

// Magnitudes that image data of the type rarely has: float values that are
// denormal-small or astronomically large, integers that fill the top bits.
// Narrow: 16-bit images always have some values this small (dark parts,
// edges); floats read as integers have none.
struct TLimits {
  double Tiny = 0.0, Huge = HUGE_VAL, Wide = HUGE_VAL, Narrow = 0.0;
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
    return {0.0, HUGE_VAL, 16384.0, 2048.0};
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
    Stats.Narrow += magnitude < limits.Narrow;
    Stats.Integral += isFloat && v == std::nearbyint(v);
    Stats.LowByteZero += !isFloat && BytesPerVoxel[Type] > 1 && (Raw[i] & 0xFF) == 0;
  }
  for (size_t i = 1; i < Raw.size(); ++i) {
    const uint64_t changed = Raw[i] ^ Raw[i - 1];
    for (int32_t k = 0; k < BytesPerVoxel[Type]; ++k)
      Stats.ByteChanges[k] += (changed >> (8 * k) & 0xFF) != 0;
  }
}

} // namespace

// Values beyond the central 99 % (a stray header field, a few wild values)
// would outweigh every other difference: they are pulled in to its bounds,
// and non-finite values count as 0.
template <typename T> void ClampOutliers(std::vector<T>& Values) {
  std::vector<T> finite;
  const size_t step = Values.size() / 65536 + 1;
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
  const T lo = at(0.005), hi = at(0.995);
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
  for (size_t i = 0; i + 1 < Values.size(); ++i)
    Stats.Near += std::fabs(Values[i + 1] - Values[i]);
  Stats.NearPairs += static_cast<int64_t>(Values.size()) - 1;
  const size_t far = std::min(Values.size(), Other.size());
  for (size_t i = 0; i < far; ++i)
    Stats.Far += std::fabs(Values[i] - Other[i]);
  Stats.FarPairs += static_cast<int64_t>(far);
}

double Share(int64_t Part, int64_t Whole) {
  return Whole > 0 ? static_cast<double>(Part) / static_cast<double>(Whole) : 0.0;
}

double ScoreOf(const TValueStats& Stats, TVoxelType Type) {
  if (Stats.NearPairs == 0 || Stats.FarPairs == 0 || Stats.Far <= 0.0)
    return 0.0;
  const double ratio = (Stats.Near / static_cast<double>(Stats.NearPairs)) /
                       (Stats.Far / static_cast<double>(Stats.FarPairs));
  double score = std::clamp(1.0 - ratio, 0.0, 1.0);
  score *= std::max(0.0, 1.0 - 10.0 * Share(Stats.NonFinite, Stats.Count));
  score *= 1.0 - Share(Stats.Tiny, Stats.NonZero);
  score *= 1.0 - Share(Stats.Huge, Stats.NonZero);
  score *= 1.0 - 0.6 * std::sqrt(Share(Stats.Wide, Stats.NonZero));
  if (Type == vtInt16 || Type == vtUInt16)
    score *= std::min(1.0, 0.3 + 1000.0 * Share(Stats.Narrow, Stats.NonZero));
  score *= 1.0 - Share(Stats.LowByteZero, Stats.NonZero);
  if (!IsFloat(Type) && BytesPerVoxel[Type] > 1) {
    // Whenever a higher byte of an integer changes, its low byte almost always
    // does too; the other way round is a float or a wrong byte order.
    const int64_t upper = *std::max_element(Stats.ByteChanges.begin() + 1, Stats.ByteChanges.end());
    score *= std::min(1.0, static_cast<double>(Stats.ByteChanges[0] + 1) /
                               static_cast<double>(upper + 1));
  }
  if (IsFloat(Type)) // integers stored as floats are common; noise-like floats less so
    score *= 0.9 + 0.1 * Share(Stats.Integral, Stats.NonZero);
  return score;
}

// Up to eight pieces spread over the bytes, each a multiple of 8 bytes long
// and starting a multiple of 8 bytes in.
std::vector<std::pair<int64_t, int64_t>> Pieces(int64_t Count) {
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
  return pieces;
}

TValueStats StatsOf(const uint8_t* Bytes, int64_t Count, TVoxelType Type, TByteOrder Order) {
  const int32_t width = BytesPerVoxel[Type];
  const auto pieces = Pieces(Count);
  std::vector<std::vector<double>> values(pieces.size());
  TValueStats stats;
  for (size_t p = 0; p < pieces.size(); ++p) {
    const int64_t n = pieces[p].second / width;
    std::vector<uint64_t> raw(static_cast<size_t>(n));
    values[p].resize(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
      raw[i] = LoadRaw(Bytes + pieces[p].first + i * width, width, Order == boBigEndian);
      values[p][i] = ValueOf(raw[i], Type);
    }
    AddValues(values[p], raw, Type, stats);
  }
  std::vector<double> all;
  for (const auto& piece : values)
    all.insert(all.end(), piece.begin(), piece.end());
  ClampOutliers(all);
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
  return TypeNames[Type];
}

std::vector<TTypeGuess> RankVoxelTypes(const uint8_t* Bytes, int64_t Count) {
  std::vector<TTypeGuess> guesses;
  std::array<std::array<bool, 2>, VoxelTypeCount> negative{};
  for (int t = 0; t < VoxelTypeCount; ++t) {
    const auto type = static_cast<TVoxelType>(t);
    for (TByteOrder order : {boLittleEndian, boBigEndian}) {
      if (BytesPerVoxel[type] == 1 && order == boBigEndian)
        continue;
      const TValueStats stats = StatsOf(Bytes, Count, type, order);
      negative[t][order] = stats.Negative;
      guesses.push_back({type, order, ScoreOf(stats, type)});
    }
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

TPreamble ReadPreamble(const uint8_t* Head, int64_t Count) {
  const auto isText = [](uint8_t C) {
    return (C >= 0x20 && C < 0x7F) || C == '\t' || C == '\n' || C == '\r' || C == '\f';
  };
  TPreamble preamble;
  int64_t end = 0, letters = 0, spaces = 0;
  while (end < Count && isText(Head[end])) {
    if (Head[end] == '\n' || Head[end] == '\r' || Head[end] == '\f')
      preamble.LineEnd = end + 1;
    letters += std::isalnum(Head[end]) != 0;
    spaces += Head[end] == ' ' || Head[end] == '\n';
    ++end;
  }
  // Words and numbers make a header; a run of bytes that happen to be printable (a dark
  // background of 13s, a bright ramp) does not, nor does text longer than any
  // header.
  preamble.Text = end >= 8 && end <= MaxGuessHeaderBytes && end < Count && letters >= 6 &&
                  spaces > 0 && (letters * 16 >= end || preamble.LineEnd > 0);
  if (preamble.Text) {
    preamble.TextEnd = end;
    if (preamble.LineEnd == 0)
      preamble.LineEnd = end;
  } else {
    end = preamble.LineEnd = 0;
    // A binary header: a few fields, then a long run of zeros.
    int64_t run = 0, i = 0;
    for (; i < std::min<int64_t>(Count, 1024) && run < 64; ++i)
      run = Head[i] == 0 ? run + 1 : 0;
    const auto fields =
        std::count_if(Head, Head + std::min<int64_t>(Count, 16), [](uint8_t C) { return C != 0; });
    preamble.Binary = run >= 64 && fields >= 2;
    if (preamble.Binary)
      end = i;
  }
  while (end < Count && Head[end] == 0)
    ++end;
  // Zeros to the end of what was read say nothing about where they stop.
  preamble.ZeroEnd = end < Count ? end : preamble.TextEnd;
  return preamble;
}

namespace {

constexpr int64_t ChunkBytes = int64_t{4} << 20;
constexpr std::array<int64_t, 8> CommonHeaders = {348, 352, 512, 1024, 2048, 4096, 8192, 16384};

int64_t PositiveMod(int64_t A, int64_t M) {
  return ((A % M) + M) % M;
}

struct THeaderOption {
  int64_t Bytes = 0;
  double Evidence = 0.0; // 0 .. 1
  std::string Why;
};

// Headers after which whole rows fill the file, with what speaks for each:
// whole slices after it, the end of a text or zero preamble, a common size.
std::vector<THeaderOption> HeaderOptions(const TPreamble& Preamble, int64_t JunkEnd,
                                         int64_t JunkSlack, int64_t FileSize, int64_t RowBytes,
                                         int64_t SliceBytes) {
  std::vector<int64_t> places = {0, Preamble.LineEnd, Preamble.TextEnd};
  for (int64_t x = FileSize % SliceBytes; x <= MaxGuessHeaderBytes && places.size() < 8;
       x += SliceBytes)
    places.push_back(x);
  for (int64_t back = 0; back < 8; ++back)
    places.push_back(Preamble.ZeroEnd - back);
  for (int64_t off = -JunkSlack; JunkEnd > 0 && off <= JunkSlack; ++off)
    places.push_back(JunkEnd + off);
  places.insert(places.end(), CommonHeaders.begin(), CommonHeaders.end());
  std::sort(places.begin(), places.end());
  places.erase(std::unique(places.begin(), places.end()), places.end());

  std::vector<THeaderOption> options;
  for (int64_t x : places) {
    if (x < 0 || x > MaxGuessHeaderBytes || FileSize - x < RowBytes ||
        (FileSize - x) % RowBytes != 0)
      continue;
    const bool slices = (FileSize - x) % SliceBytes == 0;
    const bool text = Preamble.Text && (x == Preamble.LineEnd || x == Preamble.TextEnd);
    const bool zeros =
        Preamble.ZeroEnd > Preamble.TextEnd && x <= Preamble.ZeroEnd && x > Preamble.ZeroEnd - 8;
    const bool junk = JunkEnd > 0 && std::abs(x - JunkEnd) <= JunkSlack;
    const bool common =
        std::find(CommonHeaders.begin(), CommonHeaders.end(), x) != CommonHeaders.end();
    // Whole slices are needed; beyond that, a header has to be where the
    // preamble ends or of a size that formats use.
    double evidence = (slices ? 0.4 : 0.1) + (text ? 0.4 : 0.0) + (zeros || junk ? 0.3 : 0.0) +
                      (common ? 0.3 : 0.0) + (x == 0 ? 0.3 : 0.0) +
                      0.15 * (1.0 - static_cast<double>(x) / MaxGuessHeaderBytes) +
                      // Where the preamble ends and whole slices begin: two
                      // cues that agree by chance only rarely.
                      (slices && (text || zeros || junk) ? 0.2 : 0.0);
    if ((Preamble.Text && x < Preamble.LineEnd) || (Preamble.Binary && x == 0) ||
        (JunkEnd > 0 && x < JunkEnd - JunkSlack))
      evidence -= 0.6; // the data would start inside the header
    std::string why = x == 0   ? "no header"
                      : text   ? std::to_string(x) + "-byte text header"
                      : junk   ? std::to_string(x) + "-byte header ends where the data turn smooth"
                      : slices ? std::to_string(x) + "-byte header fits the file size"
                               : std::to_string(x) + "-byte header";
    options.push_back({x, std::clamp(evidence, 0.0, 1.0), why});
  }
  std::stable_sort(options.begin(), options.end(),
                   [](const auto& A, const auto& B) { return A.Evidence > B.Evidence; });
  if (options.size() > 2)
    options.resize(2);
  return options;
}

struct THeight {
  int64_t Rows = 0; // 0: one image fills the file after the header
  double Score = 0.0;
  std::string Why;
};

bool FitsSlices(int64_t FileSize, int64_t SliceBytes) {
  return FileSize >= SliceBytes && FileSize % SliceBytes <= MaxGuessHeaderBytes;
}

// Near a dip of the slice differences, the heights after which whole slices
// fill the file: the dip itself may sit a row or two off where the anatomy
// shifts from slice to slice. The further the differences rise from the dip,
// the lower the score.
bool AddRefined(const std::vector<double>& Differences, const TPeriod& Period, int64_t RowVoxels,
                int64_t RowBytes, int64_t FileSize, std::vector<THeight>& Heights) {
  const int64_t reach = std::max(2, Period.Count / 32);
  const double bottom = Differences[static_cast<size_t>(Period.Count)];
  bool fitted = false;
  for (int64_t k = std::max<int64_t>(1, Period.Count - reach);
       k <= Period.Count + reach && k < static_cast<int64_t>(Differences.size()); ++k) {
    const double here = Differences[static_cast<size_t>(k)];
    if (!FitsSlices(FileSize, k * RowBytes) || here <= 0.0 ||
        std::any_of(Heights.begin(), Heights.end(), [k](const THeight& H) { return H.Rows == k; }))
      continue;
    // Square slices are the commonest kind: a square height a little off the
    // deepest point is as good as that point.
    const double closeness = k == RowVoxels ? std::max(0.95, std::min(1.0, bottom / here))
                                            : std::min(1.0, bottom / here);
    // Slices of two or three rows are far more often rows of half the length.
    const double thin = k <= 3 ? 0.3 : 1.0;
    Heights.push_back(
        {k, thin * Period.Dip * closeness, "slices of " + std::to_string(k) + " rows repeat"});
    fitted = true;
  }
  if (!fitted)
    Heights.push_back({Period.Count, 0.3 * Period.Dip,
                       "slices of " + std::to_string(Period.Count) + " rows repeat"});
  return fitted;
}

// Slice heights for rows of RowVoxels: where rows one slice apart agree, a
// square slice, and one image filling the file.
std::vector<THeight> Heights(const std::vector<float>& Values, int64_t RowVoxels, int64_t RowBytes,
                             int64_t FileSize) {
  std::vector<THeight> heights;
  const std::vector<double> differences =
      LagDifferences(Values, static_cast<int32_t>(RowVoxels), MaxGuessDimension, 512);
  bool fitted = false;
  for (const TPeriod& period : FindPeriods(differences, 2, 3))
    fitted = AddRefined(differences, period, RowVoxels, RowBytes, FileSize, heights) || fitted;
  if (FitsSlices(FileSize, RowBytes * RowVoxels) &&
      std::none_of(heights.begin(), heights.end(),
                   [&](const THeight& H) { return H.Rows == RowVoxels; }))
    heights.push_back({RowVoxels, 0.25, "square slices"});
  if (FileSize / RowBytes <= MaxGuessDimension + 1)
    heights.push_back({0, fitted ? 0.2 : 0.45, "one image fills the file"});
  return heights;
}

// Slices per volume: all the rest of the file, or the largest count within
// the control's range that divides it.
int64_t SliceCount(int64_t Slices) {
  for (int64_t count = std::min<int64_t>(Slices, MaxGuessDimension); count > 1; --count)
    if (Slices % count == 0)
      return count;
  return 1;
}

std::string TypeWhy(const TTypeGuess& Type) {
  std::string why = VoxelTypeName(Type.Type);
  if (BytesPerVoxel[Type.Type] > 1)
    why += Type.Order == boBigEndian ? " big-endian" : " little-endian";
  return why + " values are smooth";
}

struct TContentFacts {
  std::vector<TTypeGuess> Types;
  std::vector<float> Values; // the sample as the best type reads it
  TPreamble Preamble;
  int64_t JunkEnd = -1;
  int64_t JunkSlack = 0; // bytes either side of JunkEnd where the data may start
  int64_t FileSize = 0;
};

void AddCandidates(const TContentFacts& Facts, const TPeriod& Width,
                   std::vector<TLayoutCandidate>& Candidates) {
  const TTypeGuess& best = Facts.Types.front();
  const int64_t rowBytes = int64_t{Width.Count} * BytesPerVoxel[best.Type];
  for (const THeight& height : Heights(Facts.Values, Width.Count, rowBytes, Facts.FileSize)) {
    const int64_t sliceBytes = rowBytes * std::max<int64_t>(1, height.Rows);
    for (const THeaderOption& header : HeaderOptions(Facts.Preamble, Facts.JunkEnd, Facts.JunkSlack,
                                                     Facts.FileSize, rowBytes, sliceBytes)) {
      const int64_t rows =
          height.Rows > 0 ? height.Rows : (Facts.FileSize - header.Bytes) / rowBytes;
      const int64_t slices = height.Rows > 0 ? (Facts.FileSize - header.Bytes) / sliceBytes : 1;
      if (slices < 1 || rows > MaxGuessDimension)
        continue;
      for (size_t t = 0; t < Facts.Types.size() && t < 3; ++t) {
        const TTypeGuess& type = Facts.Types[t];
        const int32_t width = BytesPerVoxel[type.Type];
        if (rowBytes % width != 0 || type.Score < 0.5 * best.Score ||
            rowBytes / width > MaxGuessDimension)
          continue;
        TLayoutCandidate candidate;
        candidate.Layout = {static_cast<int32_t>(header.Bytes),
                            static_cast<int32_t>(rowBytes / width),
                            static_cast<int32_t>(rows),
                            static_cast<int32_t>(SliceCount(slices)),
                            type.Type,
                            width == 1 ? boLittleEndian : type.Order};
        candidate.Score =
            0.3 * type.Score + 0.3 * Width.Dip + 0.2 * height.Score + 0.2 * header.Evidence;
        candidate.Reason = "rows repeat every " + std::to_string(rowBytes / width) + " voxels; " +
                           height.Why + "; " + TypeWhy(type) + "; " + header.Why;
        Candidates.push_back(std::move(candidate));
      }
    }
  }
}

// The middle of the sample as Type reads it, at most a couple of million
// voxels: enough for dozens of slices, small enough to stay fast.
std::vector<float> Singles(const uint8_t* Bytes, int64_t Count, const TTypeGuess& Type) {
  constexpr int64_t maxVoxels = int64_t{1} << 21;
  const int32_t width = BytesPerVoxel[Type.Type];
  const int64_t available = Count / width;
  const int64_t count = std::min(available, maxVoxels);
  // Keeps the voxel boundaries where they were.
  const int64_t first = (available - count) / 2 * width;
  std::vector<float> values(static_cast<size_t>(count));
  voxeldecoder::DecodeSingles(Bytes + first, static_cast<int32_t>(count), Type.Type, Type.Order,
                              values.data());
  ClampOutliers(values);
  return values;
}

// Where a preamble of noise-like bytes (random filler, compressed fields)
// gives way to data as smooth as the sample, read as Type: the voxel boundary
// with the roughest run before it and the smoothest after it, or -1. Found to
// within a few voxels: a filler voxel can pass for data.
int64_t JunkEnd(const std::vector<uint8_t>& Head, int64_t FileSize, const TTypeGuess& Type,
                const std::vector<float>& Values) {
  constexpr int64_t run = 32;
  if (Values.empty())
    return -1;
  const auto [lo, hi] = std::minmax_element(Values.begin(), Values.end());
  const double scale = static_cast<double>(*hi) - *lo;
  const int32_t width = BytesPerVoxel[Type.Type];
  const int64_t phase = PositiveMod(FileSize, width);
  const int64_t limit =
      std::min<int64_t>(static_cast<int64_t>(Head.size()), MaxGuessHeaderBytes + (run + 1) * width);
  const int64_t count = (limit - phase) / width;
  if (scale <= 0.0 || count < 2 * run + 2)
    return -1;
  std::vector<double> prefix(static_cast<size_t>(count), 0.0); // summed steps up to voxel i
  double last = 0.0;
  for (int64_t i = 0; i < count; ++i) {
    const uint64_t raw = LoadRaw(Head.data() + phase + i * width, width, Type.Order == boBigEndian);
    const double v =
        std::clamp(ValueOf(raw, Type.Type), static_cast<double>(*lo), static_cast<double>(*hi));
    const double value = std::isfinite(v) ? v : *lo;
    if (i > 0)
      prefix[i] = prefix[i - 1] + std::fabs(value - last) / scale;
    last = value;
  }
  // Filler looks like noise down to its bytes: most byte values turn up in it.
  const auto noiseLike = [&Head](int64_t End) {
    std::array<bool, 256> seen{};
    int32_t distinct = 0;
    for (int64_t i = std::max<int64_t>(0, End - 256); i < End; ++i)
      distinct += !std::exchange(seen[Head[static_cast<size_t>(i)]], true);
    return distinct >= 96;
  };
  int64_t best = -1;
  double bestJump = 0.0;
  for (int64_t j = run; j + run < count; ++j) {
    const double before = (prefix[j - 1] - prefix[j - run]) / (run - 1);
    const double after = (prefix[j + run - 1] - prefix[j]) / (run - 1);
    if (before > 0.25 && after < 0.1 && before - after > bestJump)
      bestJump = before - after, best = phase + j * width;
  }
  return best >= 0 && noiseLike(best) ? best : -1;
}

struct TBytes {
  std::unique_ptr<uint8_t[]> Data;
  int64_t Count = 0;
};

// Left uninitialised: the read fills what is used.
TBytes ReadBytes(platform::TFileStream& Stream, int64_t Offset, int64_t Count) {
  TBytes bytes{std::unique_ptr<uint8_t[]>(new uint8_t[static_cast<size_t>(Count)]), 0};
  bytes.Count = Stream.ReadAt(Offset, bytes.Data.get(), Count);
  return bytes;
}

// The first voxel boundary of every width at or after Offset, if whole voxels
// run to the end of the file.
int64_t Aligned(int64_t Offset, int64_t FileSize) {
  return Offset + PositiveMod(FileSize - Offset, 8);
}

// How much goes on in Bytes: neighbours that differ.
int64_t Activity(const uint8_t* Bytes, int64_t Count) {
  int64_t changes = 0;
  for (int64_t i = 1; i < Count; ++i)
    changes += Bytes[i] != Bytes[i - 1];
  return changes;
}

// Eight pieces spread over the data, to tell the type by, and one chunk
// around the busiest of them, where the object is, to measure rows and
// slices in. A file that fits in the chunk is read whole, as the chunk.
struct TSample {
  TBytes Pieces, Chunk;
};
TSample ReadSample(platform::TFileStream& Stream, int64_t From, int64_t FileSize) {
  constexpr int64_t pieceBytes = 32768, pieceCount = 8;
  TSample sample;
  const int64_t start = Aligned(From, FileSize);
  if (FileSize - start <= ChunkBytes) {
    sample.Chunk = ReadBytes(Stream, start, FileSize - start);
    return sample;
  }
  sample.Pieces = {std::unique_ptr<uint8_t[]>(new uint8_t[pieceBytes * pieceCount]), 0};
  int64_t busiest = start, most = -1;
  for (int64_t p = 0; p < pieceCount; ++p) {
    const int64_t offset = Aligned(start + (FileSize - start - 2 * pieceBytes) * p / 7, FileSize);
    uint8_t* piece = sample.Pieces.Data.get() + p * pieceBytes;
    const int64_t got = Stream.ReadAt(offset, piece, pieceBytes);
    std::fill(piece + got, piece + pieceBytes, uint8_t{0});
    const int64_t activity = Activity(piece, got);
    if (activity > most)
      most = activity, busiest = offset + pieceBytes / 2;
  }
  sample.Pieces.Count = pieceBytes * pieceCount;
  const int64_t chunkStart = std::clamp(busiest - ChunkBytes / 2, start, FileSize - ChunkBytes - 8);
  sample.Chunk = ReadBytes(Stream, Aligned(chunkStart, FileSize), ChunkBytes);
  return sample;
}

} // namespace

std::vector<TLayoutCandidate> GuessFromContent(platform::TFileStream& Stream, int64_t FileSize,
                                               const std::vector<uint8_t>& Head) {
  TContentFacts facts;
  facts.FileSize = FileSize;
  facts.Preamble = ReadPreamble(Head.data(), static_cast<int64_t>(Head.size()));
  // Past the text, or past where any binary header must end.
  const int64_t from = facts.Preamble.Text
                           ? facts.Preamble.TextEnd
                           : std::min(FileSize / 8, MaxGuessHeaderBytes + int64_t{1});
  if (FileSize - from < 64)
    return {};
  const TSample sample = ReadSample(Stream, from, FileSize);
  const TBytes& chunk = sample.Chunk;
  const TBytes& pieces = sample.Pieces.Count > 0 ? sample.Pieces : sample.Chunk;
  facts.Types = RankVoxelTypes(pieces.Data.get(), pieces.Count);
  if (facts.Types.empty() || facts.Types.front().Score < 0.1)
    return {};
  facts.Values = Singles(chunk.Data.get(), chunk.Count, facts.Types.front());
  facts.JunkEnd = JunkEnd(Head, FileSize, facts.Types.front(), facts.Values);
  facts.JunkSlack = 6 * BytesPerVoxel[facts.Types.front().Type];
  std::vector<TLayoutCandidate> candidates;
  const std::vector<double> differences = LagDifferences(facts.Values, 1, MaxGuessDimension, 4096);
  std::vector<int32_t> tried;
  for (const TPeriod& width : FindPeriods(differences, 4, 3))
    // A slanting edge can put the dip a voxel or two beside the row length;
    // neighbours almost as alike get their chance with the slices and the size.
    for (int32_t w = std::max(4, width.Count - 2);
         w <= width.Count + 2 && w < static_cast<int32_t>(differences.size()); ++w) {
      const double closeness = differences[static_cast<size_t>(width.Count)] /
                               std::max(differences[static_cast<size_t>(w)], 1e-300);
      if (closeness < 0.8 || std::find(tried.begin(), tried.end(), w) != tried.end())
        continue;
      tried.push_back(w);
      AddCandidates(facts, {w, width.Dip * std::min(1.0, closeness * closeness)}, candidates);
    }
  return candidates;
}
