#include "guess/content/ContentGuess.h"

#include "data/VoxelDecoder.h"
#include "guess/content/DataBounds.h"
#include "guess/content/DimensionSearch.h"
#include "guess/content/HeaderFields.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace guess {

namespace {

// The start of the first line before End that is long or has no blank, '='
// or ':' in it, or End.
int64_t HeaderLinesEnd(const uint8_t* Head, int64_t End) {
  constexpr int64_t longest = 200;
  for (int64_t start = 0; start < End;) {
    const auto* stop = std::find(Head + start, Head + End, '\n');
    const std::string_view line(reinterpret_cast<const char*>(Head + start),
                                static_cast<size_t>(stop - (Head + start)));
    if (start > 0 && (std::ssize(line) > longest || line.find_first_of(" =:\t") == line.npos))
      return start;
    start += std::ssize(line) + 1;
  }
  return End;
}

} // namespace

TPreamble ReadPreamble(const uint8_t* Head, int64_t Count) {
  const auto isText = [](uint8_t C) {
    return (C >= 0x20 && C < 0x7F) || C == '\t' || C == '\n' || C == '\r' || C == '\f';
  };
  TPreamble preamble;
  int64_t end = 0, letters = 0, spaces = 0, alternating = 0;
  while (end < Count && isText(Head[end])) {
    if (Head[end] == '\n' || Head[end] == '\r' || Head[end] == '\f')
      preamble.LineEnd = end + 1;
    letters += std::isalnum(Head[end]) != 0;
    spaces += Head[end] == ' ' || Head[end] == '\n';
    alternating += end >= 2 && Head[end] == Head[end - 2] && Head[end] != Head[end - 1];
    ++end;
  }
  // Words and numbers make a header; a run of bytes that happen to be printable (a dark
  // background of 13s, a bright ramp) does not, nor does text longer than any
  // header. Nor do 16-bit values whose two bytes both happen to be printable:
  // every second byte then repeats the one two before, which text seldom does.
  preamble.Text = end >= 8 && end <= MaxContentHeaderBytes && end < Count && letters >= 6 &&
                  spaces > 0 && (letters * 16 >= end || preamble.LineEnd > 0) &&
                  alternating * 4 < end;
  if (preamble.Text) {
    preamble.TextEnd = end;
    if (preamble.LineEnd == 0)
      preamble.LineEnd = end;
    preamble.LinesEnd = HeaderLinesEnd(Head, preamble.LineEnd);
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

int64_t PositiveMod(int64_t A, int64_t M) {
  return ((A % M) + M) % M;
}

struct THeight {
  int64_t Rows = 0; // 0: one image fills the file after the header
  double Score = 0.0;
  std::string Why;
};

bool FitsSlices(int64_t FileSize, int64_t SliceBytes) {
  return FileSize >= SliceBytes && FileSize % SliceBytes <= MaxContentHeaderBytes;
}

// Whether whole slices fill the file after a header that ends no earlier
// than the fields stating them.
bool FitsStatedSlices(int64_t FileSize, int64_t SliceBytes, int64_t FieldsEnd) {
  if (SliceBytes < 1 || FileSize - FieldsEnd < SliceBytes)
    return false;
  int64_t header = FileSize % SliceBytes;
  while (header < FieldsEnd)
    header += SliceBytes;
  return header <= MaxContentHeaderBytes && header + SliceBytes <= FileSize;
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
                             int64_t FileSize, const std::vector<TStatedShape>& Shapes) {
  std::vector<THeight> heights;
  for (const TStatedShape& shape : Shapes)
    if (shape.Width == RowVoxels && FitsSlices(FileSize, RowBytes * shape.Height) &&
        std::none_of(heights.begin(), heights.end(),
                     [&](const THeight& H) { return H.Rows == shape.Height; }))
      heights.push_back({shape.Height, 0.7, "slices of " + std::to_string(shape.Height) + " rows"});
  const std::vector<double> differences =
      LagDifferences(Values, static_cast<int32_t>(RowVoxels), MaxDimension, 512);
  bool fitted = false;
  const std::vector<TPeriod> periods = FindPeriods(differences, 2, 3);
  for (const TPeriod& period : periods)
    fitted = AddRefined(differences, period, RowVoxels, RowBytes, FileSize, heights) || fitted;
  // Frames that pan or change show no period of like rows, but where they
  // meet; where slices repeat at a divisor of it, the seams are volumes'.
  const int64_t seam = SeamPeriod(Values, static_cast<int32_t>(RowVoxels));
  const auto divides = [seam](const TPeriod& P) { return P.Count < seam && seam % P.Count == 0; };
  if (seam > 0 && FitsSlices(FileSize, RowBytes * seam) &&
      std::none_of(periods.begin(), periods.end(), divides) &&
      std::none_of(heights.begin(), heights.end(),
                   [&](const THeight& H) { return H.Rows == seam; })) {
    heights.push_back({seam, 0.7, "frames meet every " + std::to_string(seam) + " rows"});
    fitted = true;
  }
  if (FitsSlices(FileSize, RowBytes * RowVoxels) &&
      std::none_of(heights.begin(), heights.end(),
                   [&](const THeight& H) { return H.Rows == RowVoxels; }))
    heights.push_back({RowVoxels, 0.3, "square slices"});
  if (FileSize / RowBytes <= MaxDimension + 1)
    heights.push_back({0, fitted ? 0.2 : 0.45, "one image fills the file"});
  return heights;
}

// Slices per volume: all the rest of the file, or the largest count within
// the control's range that divides it.
int64_t SliceCount(int64_t Slices) {
  for (int64_t count = std::min<int64_t>(Slices, MaxDimension); count > 1; --count)
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
  std::vector<TTypeGuess> Types; // the readings to lay out, best first
  double BestTypeScore = 1.0;    // of the smoothest reading of all
  std::vector<float> Values;     // the sample as the best type reads it
  int64_t ValuesAt = 0;          // where the first of them lies in the file
  TPreamble Preamble;
  int64_t JunkEnd = -1;
  int64_t JunkSlack = 0; // bytes either side of JunkEnd where the data may start
  int64_t SmoothEnd = 0; // the file reads as smooth as the data from its start to here
  int64_t FileSize = 0;
  TTail Tail;
  std::vector<TStatedShape> Shapes; // widths and heights the opening bytes may state
};

// HeaderFrom: the fewest header bytes to try; a width read from the opening
// bytes is a stated one only where they are header.
void AddCandidates(const TContentFacts& Facts, const TPeriod& Width,
                   std::vector<TLayoutCandidate>& Candidates, int64_t HeaderFrom = 0) {
  const TTypeGuess& best = Facts.Types.front();
  const int64_t rowBytes = int64_t{Width.Count} * BytesPerVoxel[best.Type];
  const TOtherImage other = OtherImage(Facts.Values, Width.Count);
  const TImageAfter after = {other.Row < 0 ? -1 : Facts.ValuesAt + other.Row * rowBytes,
                             int64_t{other.Width} * BytesPerVoxel[best.Type]};
  for (const THeight& height :
       Heights(Facts.Values, Width.Count, rowBytes, Facts.FileSize, Facts.Shapes)) {
    const int64_t sliceBytes = rowBytes * std::max<int64_t>(1, height.Rows);
    for (const THeaderOption& header :
         HeaderOptions(Facts.Preamble, Facts.JunkEnd, Facts.JunkSlack, Facts.SmoothEnd, Facts.Tail,
                       after, rowBytes, sliceBytes)) {
      if (header.Bytes < HeaderFrom)
        continue;
      const int64_t data = header.End - header.Bytes;
      const int64_t rows = height.Rows > 0 ? height.Rows : data / rowBytes;
      const int64_t slices = height.Rows > 0 ? data / sliceBytes : 1;
      if (slices < 1 || rows > MaxDimension)
        continue;
      for (const TTypeGuess& type : Facts.Types) {
        const int32_t width = BytesPerVoxel[type.Type];
        if (rowBytes % width != 0 || rowBytes / width > MaxDimension)
          continue;
        TLayoutCandidate candidate;
        candidate.Layout = {static_cast<int32_t>(header.Bytes),
                            static_cast<int32_t>(rowBytes / width),
                            static_cast<int32_t>(rows),
                            static_cast<int32_t>(SliceCount(slices)),
                            type.Type,
                            width == 1 ? boLittleEndian : type.Order};
        // Rows left over after the last whole slice are rarer than a header,
        // and an image of two or three rows rarer than a narrower one.
        const double leftover = (data % sliceBytes != 0 ? 0.9 : 1.0) * (rows <= 3 ? 0.85 : 1.0);
        // A reading far less smooth than the best one measures its rows in
        // values whose dips may be its own distortion's.
        const double rough = 0.75 + 0.25 * std::min(1.0, type.Score / Facts.BestTypeScore);
        candidate.Score =
            rough * leftover *
            (0.3 * type.Score + 0.3 * Width.Dip + 0.2 * height.Score + 0.2 * header.Evidence);
        candidate.Reason = "rows repeat every " + std::to_string(rowBytes / width) + " voxels; " +
                           height.Why + "; " + TypeWhy(type) + "; " + header.Why;
        // Numbers in the header that match the width and height by chance
        // are rare; instrument formats write them there on purpose.
        if (header.Marked && StatesShape(Facts.Shapes, header.Bytes, rowBytes / width, rows)) {
          candidate.Score = std::min(0.98, candidate.Score + 0.15);
          candidate.Reason += "; the header states " + std::to_string(rowBytes / width) + " x " +
                              std::to_string(rows);
        }
        // Zeros that end the file may pad one image to a block size as well
        // as be its own dark rows: both readings go forward.
        const int64_t padded = height.Rows == 0 && header.End == Facts.Tail.FileSize &&
                                       Facts.Tail.ZeroStart > header.Bytes
                                   ? (Facts.Tail.ZeroStart - header.Bytes + rowBytes - 1) / rowBytes
                                   : rows;
        const auto addCut = [&](int64_t Rows, double Factor, const char* Why) {
          TLayoutCandidate cut = candidate;
          cut.Layout.RowsPerSlice = static_cast<int32_t>(Rows);
          cut.Score = std::min(0.98, cut.Score * Factor);
          cut.Reason += Why;
          Candidates.push_back(std::move(cut));
        };
        if (padded >= 1 && padded < rows)
          addCut(padded, Facts.Tail.AbruptZeros ? 1.02 : 0.99, "; zeros pad the end");
        // Rows that turn into those of a shorter row are another image's.
        const int64_t seam = (after.At - header.Bytes + rowBytes / 2) / rowBytes;
        const int64_t snapped = SeamOfScaledCopy(seam, data, rowBytes, after.RowBytes);
        const int64_t first = snapped > 0 ? snapped : seam;
        if (height.Rows == 0 && after.At > header.Bytes && first >= 1 && first < rows)
          addCut(first, 1.03, "; another image follows");
        Candidates.push_back(std::move(candidate));
      }
    }
  }
}

// The middle of the sample as Type reads it, at most a couple of million
// voxels: enough for dozens of slices, small enough to stay fast.
std::vector<float> Singles(const uint8_t* Bytes, int64_t Count, const TTypeGuess& Type,
                           int64_t& First) {
  constexpr int64_t maxVoxels = int64_t{1} << 21;
  const int32_t width = BytesPerVoxel[Type.Type];
  const int64_t available = Count / width;
  const int64_t count = std::min(available, maxVoxels);
  // Keeps the voxel boundaries where they were.
  const int64_t first = (available - count) / 2 * width;
  First = first;
  std::vector<float> values(static_cast<size_t>(count));
  voxeldecoder::DecodeSingles(Bytes + first, static_cast<int32_t>(count), Type.Type, Type.Order,
                              values.data());
  ClampOutliers(values);
  return values;
}

// Voxels of the opening bytes read as Type and pulled into the range of the
// sample's values, non-finite ones to its bottom: a field or a filler voxel
// far outside it must not count as a step larger than the image's contrast.
class TClampedVoxels {
public:
  TClampedVoxels(const std::vector<uint8_t>& Head, const TTypeGuess& Type,
                 const std::vector<float>& Values)
      : Head(Head)
      , Type(Type) {
    if (Values.empty())
      return;
    const auto range = std::minmax_element(Values.begin(), Values.end());
    Lo = *range.first, Hi = *range.second;
  }
  // 0 where the sample is empty or flat.
  double Scale() const { return Hi - Lo; }
  int32_t Width() const { return BytesPerVoxel[Type.Type]; }
  double At(int64_t Offset) const {
    const double v = std::clamp(VoxelValue(Head.data() + Offset, Type.Type, Type.Order), Lo, Hi);
    return std::isfinite(v) ? v : Lo;
  }

private:
  const std::vector<uint8_t>& Head;
  TTypeGuess Type;
  double Lo = 0.0, Hi = 0.0;
};

// Filler looks like noise down to its bytes: most byte values turn up in
// the bytes before End.
bool NoiseLikeBefore(const std::vector<uint8_t>& Head, int64_t End) {
  std::array<bool, 256> seen{};
  int32_t distinct = 0;
  for (int64_t i = std::max<int64_t>(0, End - 256); i < End; ++i)
    distinct += !std::exchange(seen[Head[static_cast<size_t>(i)]], true);
  return distinct >= 96;
}

// Where a preamble of noise-like bytes (random filler, compressed fields)
// gives way to data as smooth as the sample, read as Type: the voxel boundary
// with the roughest run before it and the smoothest after it, or -1. Found to
// within a few voxels: a filler voxel can pass for data.
int64_t JunkEnd(const std::vector<uint8_t>& Head, int64_t FileSize, const TTypeGuess& Type,
                const std::vector<float>& Values) {
  constexpr int64_t run = 32;
  const TClampedVoxels voxels(Head, Type, Values);
  const double scale = voxels.Scale();
  const int32_t width = voxels.Width();
  const int64_t phase = PositiveMod(FileSize, width);
  const int64_t limit = std::min<int64_t>(static_cast<int64_t>(Head.size()),
                                          MaxContentHeaderBytes + (run + 1) * width);
  const int64_t count = (limit - phase) / width;
  if (scale <= 0.0 || count < 2 * run + 2)
    return -1;
  std::vector<double> prefix(static_cast<size_t>(count), 0.0); // summed steps up to voxel i
  double last = 0.0;
  for (int64_t i = 0; i < count; ++i) {
    const double value = voxels.At(phase + i * width);
    if (i > 0)
      prefix[i] = prefix[i - 1] + std::fabs(value - last) / scale;
    last = value;
  }
  int64_t best = -1;
  double bestJump = 0.0;
  for (int64_t j = run; j + run < count; ++j) {
    const double before = (prefix[j - 1] - prefix[j - run]) / (run - 1);
    const double after = (prefix[j + run - 1] - prefix[j]) / (run - 1);
    if (before > 0.25 && after < 0.1 && before - after > bestJump)
      bestJump = before - after, best = j;
  }
  if (best < 0)
    return -1;
  // Filler read as a wide type can look smooth for a few voxels (tiny
  // floats, clamped huge ones): the data start after its last wild jump.
  for (int64_t i = best + 1; i < best + run / 2; ++i)
    if (prefix[i] - prefix[i - 1] > 0.25)
      best = i;
  const int64_t end = phase + best * width;
  return NoiseLikeBefore(Head, end) ? end : -1;
}

// How likely each byte of a voxel is in the data, lane by lane, against
// bytes that take any value alike: in data each byte of a voxel keeps to
// values of its own (the high bytes of small numbers, a float's exponent).
// Sample holds voxels that end at Anchor's phase.
class TByteOdds {
public:
  TByteOdds(int32_t Width, int64_t Anchor, const uint8_t* Sample, int64_t SampleCount)
      : FWidth(Width)
      , FPhase(PositiveMod(Anchor, Width))
      , FLogOdds(static_cast<size_t>(Width)) {
    const int64_t voxels = SampleCount / Width;
    FKnown = voxels >= 1024;
    for (int32_t lane = 0; lane < Width; ++lane) {
      std::array<int64_t, 256> counts{};
      for (int64_t i = 0; i < voxels; ++i)
        ++counts[Sample[i * Width + lane]];
      for (int32_t b = 0; b < 256; ++b) {
        FLogOdds[lane][b] = std::log(256.0 * (counts[b] + 0.5) / (voxels + 128.0));
        FTypical += FKnown ? FLogOdds[lane][b] * counts[b] / voxels : 0.0;
      }
    }
  }
  bool Known() const { return FKnown; }
  int32_t Width() const { return FWidth; }
  int64_t Phase() const { return FPhase; }
  // What a voxel of the data scores on average: how far its bytes keep to
  // their own values.
  double Typical() const { return FTypical; }
  // Summed log odds of the opening voxels, from the phase to Limit: element i
  // holds the first i voxels'.
  std::vector<double> Prefix(const std::vector<uint8_t>& Head, int64_t Limit) const {
    const int64_t count = std::max<int64_t>(0, (Limit - FPhase) / FWidth);
    std::vector<double> prefix(static_cast<size_t>(count + 1), 0.0);
    for (int64_t i = 0; i < count; ++i) {
      double odds = 0.0;
      for (int32_t lane = 0; lane < FWidth; ++lane)
        odds += FLogOdds[lane][Head[static_cast<size_t>(FPhase + i * FWidth + lane)]];
      prefix[i + 1] = prefix[i] + odds;
    }
    return prefix;
  }

private:
  int32_t FWidth;
  int64_t FPhase;
  std::vector<std::array<double, 256>> FLogOdds;
  bool FKnown = false;
  double FTypical = 0.0;
};

// Where random filler gives way to data too noisy to read as smooth, told by
// the bytes of each voxel rather than its value: the voxel boundary before
// which the opening voxels read least like the sample's, or -1 where the
// bytes tell filler and data apart too weakly.
int64_t FillerEnd(const std::vector<uint8_t>& Head, const TByteOdds& Odds) {
  constexpr int64_t run = 32;
  const int64_t limit =
      std::min<int64_t>(std::ssize(Head), MaxContentHeaderBytes + run * Odds.Width());
  const std::vector<double> prefix = Odds.Prefix(Head, limit);
  if (!Odds.Known() || std::ssize(prefix) <= 2 * run)
    return -1;
  const auto lowest = std::min_element(prefix.begin() + run, prefix.end() - run);
  const int64_t best = lowest - prefix.begin();
  const double before = (prefix[best] - prefix[best - run]) / run;
  const double after = (prefix[best + run] - prefix[best]) / run;
  const int64_t end = Odds.Phase() + best * Odds.Width();
  return before <= -2.0 && after >= 2.0 && NoiseLikeBefore(Head, end) ? end : -1;
}

// How far the file's bytes read as the data's from its first byte on: run
// after run of voxels whose bytes keep to the data's values about as well as
// the data's own, and that are not mostly zeros, which headers are padded
// with. 0 where the first run does not, or where the data's bytes take any
// value.
int64_t DataLikeEnd(const std::vector<uint8_t>& Head, const TByteOdds& Odds) {
  constexpr int64_t run = 32;
  const int32_t width = Odds.Width();
  // Voxels that end the file off the phase of byte 0 cannot start there.
  if (!Odds.Known() || Odds.Typical() < 1.0 || Odds.Phase() != 0)
    return 0;
  const std::vector<double> prefix = Odds.Prefix(Head, std::ssize(Head));
  const auto zeros = [&](int64_t First) {
    const auto begin = Head.begin() + First * width;
    return std::count(begin, begin + run * width, uint8_t{0}) * 4 >= 3 * run * width;
  };
  int64_t end = 0;
  for (; end + run < std::ssize(prefix); end += run)
    if ((prefix[end + run] - prefix[end]) / run < Odds.Typical() / 2 || zeros(end))
      break;
  return end * width;
}

// How far the file reads as smooth as the data from its first byte, read as
// Type from there: run after run of voxels that change from one to the next
// by as little as an image's. 0 where the first run does not; fields amid
// zeros, and zeros, mostly do not change.
int64_t SmoothEnd(const std::vector<uint8_t>& Head, const TTypeGuess& Type,
                  const std::vector<float>& Values) {
  constexpr int64_t run = 32;
  const TClampedVoxels voxels(Head, Type, Values);
  const double scale = voxels.Scale();
  const int32_t width = voxels.Width();
  const int64_t count = std::ssize(Head) / width;
  if (scale <= 0.0)
    return 0;
  const auto valueAt = [&](int64_t I) { return voxels.At(I * width); };
  int64_t end = 0;
  for (; end + run <= count; end += run) {
    double steps = 0.0;
    int64_t still = 0;
    for (int64_t i = end + 1; i < end + run; ++i) {
      steps += std::fabs(valueAt(i) - valueAt(i - 1)) / scale;
      still += std::memcmp(Head.data() + i * width, Head.data() + (i - 1) * width, width) == 0;
    }
    if (steps / (run - 1) >= 0.1 || 4 * still >= 3 * (run - 1))
      break;
  }
  return end * width;
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

// The first voxel boundary of every width at or after Offset, if voxels of
// every width start or end at Anchor.
int64_t Aligned(int64_t Offset, int64_t Anchor) {
  return Offset + PositiveMod(Anchor - Offset, 8);
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
  int64_t ChunkAt = 0; // where the chunk starts in the file
};
TSample ReadSample(platform::TFileStream& Stream, int64_t From, int64_t End, int64_t Anchor) {
  constexpr int64_t pieceBytes = 32768, pieceCount = 8;
  // With the head the caller read, well within what a guess may read.
  static_assert(ChunkBytes + pieceBytes * pieceCount <= MaxGuessSampleBytes / 2);
  TSample sample;
  const int64_t start = Aligned(From, Anchor);
  if (End - start <= ChunkBytes) {
    sample.Chunk = ReadBytes(Stream, start, End - start);
    sample.ChunkAt = start;
    return sample;
  }
  sample.Pieces = {std::unique_ptr<uint8_t[]>(new uint8_t[pieceBytes * pieceCount]), 0};
  int64_t busiest = start, most = -1;
  for (int64_t p = 0; p < pieceCount; ++p) {
    const int64_t offset = Aligned(start + (End - start - 2 * pieceBytes) * p / 7, Anchor);
    uint8_t* piece = sample.Pieces.Data.get() + p * pieceBytes;
    const int64_t got = Stream.ReadAt(offset, piece, pieceBytes);
    std::fill(piece + got, piece + pieceBytes, uint8_t{0});
    const int64_t activity = Activity(piece, got);
    if (activity > most)
      most = activity, busiest = offset + pieceBytes / 2;
  }
  sample.Pieces.Count = pieceBytes * pieceCount;
  const int64_t chunkStart = std::clamp(busiest - ChunkBytes / 2, start, End - ChunkBytes - 8);
  sample.ChunkAt = Aligned(chunkStart, Anchor);
  sample.Chunk = ReadBytes(Stream, sample.ChunkAt, ChunkBytes);
  return sample;
}

// Whether text that ends at TextEnd is padded with zeros to a header size
// that formats use, after which voxels of every width would end the file: the
// data then start there, not an odd number of bytes after the text.
bool PaddedToTheFileEnd(const std::vector<uint8_t>& Head, int64_t TextEnd, int64_t FileSize) {
  for (const int64_t size : CommonHeaderSizes)
    if (size >= TextEnd && size <= std::ssize(Head) && PositiveMod(FileSize - size, 8) == 0 &&
        std::all_of(Head.begin() + TextEnd, Head.begin() + size, [](uint8_t B) { return B == 0; }))
      return true;
  return false;
}

// Candidates for the rows that the values of Facts repeat in.
void AddLayouts(const TContentFacts& Facts, std::vector<TLayoutCandidate>& Candidates) {
  const std::vector<double> differences = LagDifferences(Facts.Values, 1, MaxDimension, 4096);
  std::vector<int32_t> tried;
  const std::vector<TPeriod> widths = FindPeriods(differences, 4, 3);
  for (const TPeriod& width : widths) {
    // A slanting edge can put the dip a voxel or two beside the row length;
    // neighbours almost as alike get their chance with the slices and the size.
    const int32_t first = std::max(4, width.Count - 2);
    const int32_t last = std::min(width.Count + 2, static_cast<int32_t>(differences.size()) - 1);
    // Where one of them wraps its rows in one place, the image's edges meet
    // there: that one is the row length, however the slant lies.
    std::vector<double> wraps;
    for (int32_t w = first; w <= last; ++w)
      wraps.push_back(WrapContrast(Facts.Values, w));
    const double clearest = wraps.empty() ? 0.0 : *std::max_element(wraps.begin(), wraps.end());
    for (int32_t w = first; w <= last; ++w) {
      const bool seam = clearest >= 2.0 && wraps[static_cast<size_t>(w - first)] == clearest;
      const double closeness = differences[static_cast<size_t>(width.Count)] /
                               std::max(differences[static_cast<size_t>(w)], 1e-300);
      if ((closeness < 0.8 && !seam) || std::find(tried.begin(), tried.end(), w) != tried.end())
        continue;
      tried.push_back(w);
      const double dip = seam              ? width.Dip
                         : clearest >= 2.0 ? 0.9 * width.Dip * std::min(1.0, closeness * closeness)
                                           : width.Dip * std::min(1.0, closeness * closeness);
      AddCandidates(Facts, {w, dip}, Candidates);
    }
  }
  // Where the rows hardly dip (dark, sparse or noisy frames), a width the
  // header states still gets its chance where its slices fit the file; where
  // they do, a number that happens to fit does not outrank them.
  const double floor =
      0.4 * std::max(0.0, 1.0 - (widths.empty() ? 0.0 : widths.front().Dip) / 0.25);
  std::vector<std::pair<TPeriod, int64_t>> stated; // and where the fields end
  for (const TStatedShape& shape : Facts.Shapes) {
    const double dip = DipOf(differences, shape.Width);
    const int64_t sliceBytes =
        int64_t{shape.Width} * shape.Height * BytesPerVoxel[Facts.Types.front().Type];
    if (std::find(tried.begin(), tried.end(), shape.Width) == tried.end() &&
        FitsStatedSlices(Facts.FileSize, sliceBytes, shape.End)) {
      stated.push_back({{shape.Width, std::max(dip, floor)}, shape.End});
      tried.push_back(shape.Width);
    }
  }
  std::stable_sort(stated.begin(), stated.end(),
                   [](const auto& A, const auto& B) { return A.first.Dip > B.first.Dip; });
  for (size_t i = 0; i < std::min<size_t>(stated.size(), 4); ++i)
    AddCandidates(Facts, stated[i].first, Candidates, stated[i].second);
}

} // namespace

std::vector<TLayoutCandidate> GuessFromContent(platform::TFileStream& Stream, int64_t FileSize,
                                               const std::vector<uint8_t>& Head) {
  TContentFacts facts;
  facts.FileSize = FileSize;
  facts.Tail = ReadTail(Stream, FileSize);
  facts.Preamble = ReadPreamble(Head.data(), static_cast<int64_t>(Head.size()));
  // A text header writes its numbers as digits; binary fields read from it
  // are letters and blanks.
  if (!facts.Preamble.Text)
    facts.Shapes = StatedShapes(DimensionFields(Head.data(), std::ssize(Head)));
  // Past the text, past the zeros after binary fields, or past where any
  // other header must end.
  int64_t from = facts.Preamble.Text ? facts.Preamble.TextEnd
                                     : std::min(FileSize / 8, MaxContentHeaderBytes + int64_t{1});
  if (facts.Preamble.Binary && facts.Preamble.ZeroEnd < FileSize - 1024)
    from = std::max(from, facts.Preamble.ZeroEnd);
  if (FileSize - from < 64)
    return {};
  // Voxels most often end the file, or a text trailer; they start where a
  // text header ends. Where the two disagree, the text header's end holds
  // unless its reading looks clearly less like an image: a reading one byte
  // off can look as smooth as the right one.
  const int64_t anchor = facts.Tail.TextStart > from ? facts.Tail.TextStart : FileSize;
  // Nor are the words of a trailer a sample of the voxels.
  const bool prose = facts.Tail.Prose && facts.Tail.TextStart - from >= 64;
  const TSample sample = ReadSample(Stream, from, prose ? facts.Tail.TextStart : FileSize, anchor);
  const TBytes& chunk = sample.Chunk;
  const TBytes& pieces = sample.Pieces.Count > 0 ? sample.Pieces : sample.Chunk;
  std::vector<TTypeGuess> ranked = RankVoxelTypes(pieces.Data.get(), pieces.Count);
  int64_t shift = 0;
  if (facts.Preamble.Text && !PaddedToTheFileEnd(Head, facts.Preamble.TextEnd, FileSize)) {
    // The text ends at its last line end, or where its printable bytes stop;
    // a first voxel may happen to be printable. Read at the printable end,
    // small values of one byte order pass for those of the other.
    std::vector<TTypeGuess> textRanked;
    int64_t textShift = -1;
    for (const int64_t end : {facts.Preamble.LineEnd, facts.Preamble.TextEnd}) {
      const int64_t other = PositiveMod(end - anchor, 8);
      if (other == textShift)
        continue;
      std::vector<TTypeGuess> shifted =
          other == 0 ? ranked : RankVoxelTypes(pieces.Data.get() + other, pieces.Count - other);
      if (!shifted.empty() &&
          (textRanked.empty() || shifted.front().Score > textRanked.front().Score / 0.98))
        textRanked = std::move(shifted), textShift = other;
    }
    if (!textRanked.empty() &&
        (ranked.empty() || textRanked.front().Score > 0.8 * ranked.front().Score))
      ranked = std::move(textRanked), shift = textShift;
  }
  if (ranked.empty() || ranked.front().Score < 0.1)
    return {};
  std::vector<TLayoutCandidate> candidates;
  // The reading of the other kind measures rows and slices in its own
  // values: the best one's can blur the dips that it would show. The rest
  // share the best one's.
  const std::vector<TTypeGuess> readings = ReadingsToLayOut(ranked);
  std::vector<std::vector<TTypeGuess>> groups(1);
  for (const TTypeGuess& reading : readings)
    (OtherKind(reading, readings.front()) ? groups.emplace_back() : groups.front())
        .push_back(reading);
  for (const std::vector<TTypeGuess>& group : groups) {
    facts.Types = group;
    facts.BestTypeScore = std::max(readings.front().Score, 1e-9);
    int64_t first = 0;
    facts.Values = Singles(chunk.Data.get() + shift, chunk.Count - shift, group.front(), first);
    facts.ValuesAt = sample.ChunkAt + shift + first;
    const TByteOdds odds(BytesPerVoxel[group.front().Type], anchor, pieces.Data.get(),
                         pieces.Count);
    facts.JunkEnd = FillerEnd(Head, odds);
    facts.JunkSlack = 2 * BytesPerVoxel[group.front().Type];
    if (facts.JunkEnd < 0) {
      facts.JunkEnd = JunkEnd(Head, FileSize, group.front(), facts.Values);
      facts.JunkSlack = 6 * BytesPerVoxel[group.front().Type];
    }
    facts.SmoothEnd = facts.Preamble.Text ? 0
                                          : std::max(SmoothEnd(Head, group.front(), facts.Values),
                                                     DataLikeEnd(Head, odds));
    // In a small file the sample may start in the filler: its noise would
    // blur the rows' dips, so the rows are measured past it.
    const int32_t width = BytesPerVoxel[group.front().Type];
    const int64_t past = facts.JunkEnd + facts.JunkSlack - (sample.ChunkAt + shift);
    const int64_t skip = (past + width - 1) / width * width;
    if (facts.JunkEnd > facts.ValuesAt && chunk.Count - shift - skip >= 256 * width) {
      facts.Values = Singles(chunk.Data.get() + shift + skip, chunk.Count - shift - skip,
                             group.front(), first);
      facts.ValuesAt = sample.ChunkAt + shift + skip + first;
    }
    AddLayouts(facts, candidates);
  }
  return candidates;
}

} // namespace guess
