#include "guess/content/ContentGuess.h"

#include "data/VoxelDecoder.h"
#include "guess/content/DimensionSearch.h"
#include "guess/content/HeaderFields.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstddef>
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
  preamble.Text = end >= 8 && end <= MaxContentHeaderBytes && end < Count && letters >= 6 &&
                  spaces > 0 && (letters * 16 >= end || preamble.LineEnd > 0);
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
constexpr std::array<int64_t, 8> CommonHeaders = {348, 352, 512, 1024, 2048, 4096, 8192, 16384};

int64_t PositiveMod(int64_t A, int64_t M) {
  return ((A % M) + M) % M;
}

struct THeaderOption {
  int64_t Bytes = 0;
  int64_t End = 0;       // where the data end: the file's end, or before a trailer
  double Evidence = 0.0; // 0 .. 1
  std::string Why;
  // The header ends where the opening bytes stop looking like a header (text,
  // fields and zeros, noise), not merely where whole slices fill the rest or
  // at a common size, either of which may put it inside the data.
  bool Marked = false;
  bool SizeOnly = false; // nothing but the file size speaks for it
};

// Where the data may end: at the end of the file, before a text trailer,
// somewhere in a run of zeros that pads the file (to a block size, say), or,
// behind a header whose end is clear, after the last whole slice, whatever
// follows it.
struct TTail {
  int64_t FileSize = 0;
  int64_t TextStart = -1; // a printable trailer starts here
  bool Prose = false;     // the trailer reads as words, not as bytes that happen to be printable
  int64_t ZeroStart = -1; // the file ends in zeros from here
};

struct TDataEnd {
  int64_t At = 0;
  double Cost = 0.0; // taken off the header's evidence
  std::string Why;
};

// The ends of data of whole slices (or, failing that, whole rows) after a
// header of X bytes, best first. Marked: a text header ends at X; Bare: the
// data start the file, where zeros at its end most likely pad it.
std::vector<TDataEnd> DataEnds(const TTail& Tail, int64_t X, bool Trailers, bool Marked, bool Bare,
                               int64_t RowBytes, int64_t SliceBytes) {
  // Voxels rarely read as words: where a trailer does, the data end before
  // it, or a few bytes into it where the last voxels happen to be printable.
  if (Tail.Prose && Tail.TextStart > X) {
    const int64_t at = X + (Tail.TextStart - X + RowBytes - 1) / RowBytes * RowBytes;
    return {{at - Tail.TextStart < 16 ? at : Tail.TextStart, 0.0, "; a text trailer follows"},
            {Tail.FileSize, 0.25, ""}};
  }
  std::vector<TDataEnd> ends = {{Tail.FileSize, 0.0, ""}};
  if (!Trailers)
    return ends;
  if (Tail.TextStart > X)
    ends.push_back({Tail.TextStart, 0.25, "; a text trailer follows"});
  for (const int64_t unit : {SliceBytes, RowBytes})
    if ((Marked || Bare) && Tail.ZeroStart > X) {
      const int64_t at = X + (Tail.ZeroStart - X + unit - 1) / unit * unit;
      if (at < Tail.FileSize)
        ends.push_back({at, 0.35, "; zeros pad the end"});
    }
  if (Marked && Tail.FileSize - X > SliceBytes) {
    const int64_t at = X + (Tail.FileSize - X) / SliceBytes * SliceBytes;
    ends.push_back({at, 0.45, "; " + std::to_string(Tail.FileSize - at) + " bytes follow"});
  }
  return ends;
}

// Headers after which whole rows fill the file (or end before a trailer),
// with what speaks for each: whole slices after it, the end of a text or zero
// preamble, a common size.
std::vector<THeaderOption> HeaderOptions(const TPreamble& Preamble, int64_t JunkEnd,
                                         int64_t JunkSlack, const TTail& Tail, int64_t RowBytes,
                                         int64_t SliceBytes, bool Trailers) {
  const int64_t fileSize = Tail.FileSize;
  std::vector<int64_t> places = {0, Preamble.LineEnd, Preamble.TextEnd, Preamble.LinesEnd};
  for (int64_t x = fileSize % SliceBytes; x <= MaxContentHeaderBytes && places.size() < 8;
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
    if (x < 0 || x > MaxContentHeaderBytes)
      continue;
    const bool text =
        Preamble.Text && (x == Preamble.LineEnd || x == Preamble.TextEnd || x == Preamble.LinesEnd);
    const bool zeros =
        Preamble.ZeroEnd > Preamble.TextEnd && x <= Preamble.ZeroEnd && x > Preamble.ZeroEnd - 8;
    const bool junk = JunkEnd > 0 && std::abs(x - JunkEnd) <= JunkSlack;
    const bool common =
        std::find(CommonHeaders.begin(), CommonHeaders.end(), x) != CommonHeaders.end();
    const bool marked = text || zeros || junk;
    // Only a text header ends exactly where it seems to: noise and zeros may
    // run on into the data.
    std::vector<TDataEnd> ends = DataEnds(Tail, x, Trailers, text, x == 0, RowBytes, SliceBytes);
    std::erase_if(
        ends, [&](const TDataEnd& E) { return E.At - x < RowBytes || (E.At - x) % RowBytes != 0; });
    if (ends.empty())
      continue;
    const TDataEnd& end = ends.front();
    const bool slices = (end.At - x) % SliceBytes == 0;
    // Whole slices are needed; beyond that, a header has to be where the
    // preamble ends or of a size that formats use.
    double evidence = (slices ? 0.4 : 0.1) + (text ? 0.4 : 0.0) + (zeros || junk ? 0.3 : 0.0) +
                      (common ? 0.3 : 0.0) + (x == 0 ? 0.3 : 0.0) +
                      0.15 * (1.0 - static_cast<double>(x) / MaxContentHeaderBytes) +
                      // Where the preamble ends and whole slices begin: two
                      // cues that agree by chance only rarely.
                      (slices && marked ? 0.2 : 0.0) - end.Cost;
    if ((Preamble.Text && x < std::min(Preamble.LineEnd, Preamble.LinesEnd)) ||
        (Preamble.Binary && x == 0) || (JunkEnd > 0 && x < JunkEnd - JunkSlack))
      evidence -= 0.6; // the data would start inside the header
    // Where a row or more of zeros may pad the file, its size says less.
    if (!marked && !common && x != 0 && Tail.ZeroStart >= 0 &&
        Tail.FileSize - Tail.ZeroStart >= RowBytes)
      evidence -= 0.1;
    std::string why = x == 0   ? "no header"
                      : text   ? std::to_string(x) + "-byte text header"
                      : junk   ? std::to_string(x) + "-byte header ends where the data turn smooth"
                      : slices ? std::to_string(x) + "-byte header fits the file size"
                               : std::to_string(x) + "-byte header";
    options.push_back({x, end.At, std::clamp(evidence, 0.0, 1.0), why + end.Why, marked,
                       !marked && !common && x != 0});
  }
  std::stable_sort(options.begin(), options.end(),
                   [](const auto& A, const auto& B) { return A.Evidence > B.Evidence; });
  // Of the headers that only the file size speaks for, a slice apart from one
  // another, the likeliest is the one worth trying.
  std::vector<THeaderOption> kept;
  for (THeaderOption& option : options)
    if (kept.size() < 2 &&
        !(option.SizeOnly &&
          std::any_of(kept.begin(), kept.end(), [](const THeaderOption& K) { return K.SizeOnly; })))
      kept.push_back(std::move(option));
  return kept;
}

// Headers after which the data fill the file, or, where none is convincing,
// after which they end before a trailer.
std::vector<THeaderOption> HeaderOptions(const TPreamble& Preamble, int64_t JunkEnd,
                                         int64_t JunkSlack, const TTail& Tail, int64_t RowBytes,
                                         int64_t SliceBytes) {
  constexpr double convincing = 0.8;
  std::vector<THeaderOption> options =
      HeaderOptions(Preamble, JunkEnd, JunkSlack, Tail, RowBytes, SliceBytes, false);
  if (options.empty() || options.front().Evidence < convincing)
    options = HeaderOptions(Preamble, JunkEnd, JunkSlack, Tail, RowBytes, SliceBytes, true);
  return options;
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
  for (const TPeriod& period : FindPeriods(differences, 2, 3))
    fitted = AddRefined(differences, period, RowVoxels, RowBytes, FileSize, heights) || fitted;
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
  std::vector<float> Values;     // the sample as the best type reads it
  TPreamble Preamble;
  int64_t JunkEnd = -1;
  int64_t JunkSlack = 0; // bytes either side of JunkEnd where the data may start
  int64_t FileSize = 0;
  TTail Tail;
  std::vector<TStatedShape> Shapes; // widths and heights the opening bytes may state
};

void AddCandidates(const TContentFacts& Facts, const TPeriod& Width,
                   std::vector<TLayoutCandidate>& Candidates) {
  const TTypeGuess& best = Facts.Types.front();
  const int64_t rowBytes = int64_t{Width.Count} * BytesPerVoxel[best.Type];
  for (const THeight& height :
       Heights(Facts.Values, Width.Count, rowBytes, Facts.FileSize, Facts.Shapes)) {
    const int64_t sliceBytes = rowBytes * std::max<int64_t>(1, height.Rows);
    for (const THeaderOption& header : HeaderOptions(Facts.Preamble, Facts.JunkEnd, Facts.JunkSlack,
                                                     Facts.Tail, rowBytes, sliceBytes)) {
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
        // Rows left over after the last whole slice are rarer than a header.
        const double leftover = data % sliceBytes != 0 ? 0.9 : 1.0;
        candidate.Score = leftover * (0.3 * type.Score + 0.3 * Width.Dip + 0.2 * height.Score +
                                      0.2 * header.Evidence);
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
        const TTail& tail = Facts.Tail;
        const int64_t padded =
            height.Rows == 0 && header.End == tail.FileSize && tail.ZeroStart > header.Bytes
                ? (tail.ZeroStart - header.Bytes + rowBytes - 1) / rowBytes
                : rows;
        if (padded >= 1 && padded < rows) {
          TLayoutCandidate cut = candidate;
          cut.Layout.RowsPerSlice = static_cast<int32_t>(padded);
          cut.Score *= 0.99;
          cut.Reason += "; zeros pad the end";
          Candidates.push_back(std::move(cut));
        }
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
  const int64_t limit = std::min<int64_t>(static_cast<int64_t>(Head.size()),
                                          MaxContentHeaderBytes + (run + 1) * width);
  const int64_t count = (limit - phase) / width;
  if (scale <= 0.0 || count < 2 * run + 2)
    return -1;
  std::vector<double> prefix(static_cast<size_t>(count), 0.0); // summed steps up to voxel i
  double last = 0.0;
  for (int64_t i = 0; i < count; ++i) {
    const double v = std::clamp(VoxelValue(Head.data() + phase + i * width, Type.Type, Type.Order),
                                static_cast<double>(*lo), static_cast<double>(*hi));
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

// Whether printable bytes are words and numbers set apart by blanks, as text
// is: printable voxels (a grey 8-bit background) scatter over brackets and
// signs, and seldom form words.
bool ReadsAsProse(const uint8_t* Begin, const uint8_t* End) {
  int64_t words = 0, blanks = 0, usual = 0, run = 0;
  for (const uint8_t* c = Begin; c < End; ++c) {
    const bool letter = std::isalpha(*c) != 0;
    run = letter ? run + 1 : 0;
    words += run == 3;
    blanks += *c == ' ' || *c == '\n' || *c == '\t' || *c == '\r';
    usual +=
        letter || std::isdigit(*c) != 0 || std::isspace(*c) != 0 ||
        std::string_view("=:.,-_+/()'\"").find(static_cast<char>(*c)) != std::string_view::npos;
  }
  return words >= 3 && blanks * 2 >= words && usual * 10 >= (End - Begin) * 9;
}

// How the file ends: in a printable trailer, or in zeros. A run of a few
// bytes says nothing; an image's own dark rows may end in zeros too, which
// is why the end of the file stays the first choice.
TTail ReadTail(platform::TFileStream& Stream, int64_t FileSize) {
  constexpr int64_t tailBytes = int64_t{64} << 10, minRun = 16;
  TTail tail;
  tail.FileSize = FileSize;
  const int64_t from = std::max<int64_t>(0, FileSize - tailBytes);
  const TBytes bytes = ReadBytes(Stream, from, FileSize - from);
  const uint8_t* begin = bytes.Data.get();
  const uint8_t* end = begin + bytes.Count;
  const uint8_t* zeros = end;
  while (zeros > begin && zeros[-1] == 0)
    --zeros;
  if (end - zeros >= minRun)
    tail.ZeroStart = from + (zeros - begin);
  const uint8_t* text = end;
  int64_t letters = 0, spaces = 0;
  while (text > begin && ((text[-1] >= 0x20 && text[-1] < 0x7F) || text[-1] == '\n' ||
                          text[-1] == '\r' || text[-1] == '\t')) {
    --text;
    letters += std::isalpha(*text) != 0;
    spaces += *text == ' ' || *text == '\n';
  }
  if (end - text >= minRun && letters >= 6 && spaces > 0 && letters * 4 >= end - text &&
      text > begin) {
    tail.TextStart = from + (text - begin);
    tail.Prose = ReadsAsProse(text, end);
    // The last voxels may happen to be printable: a trailer that opens a
    // line within its first few bytes starts there.
    const uint8_t* opening = std::min(end, text + 16);
    if (const uint8_t* line = std::find(text, opening, '\n'); tail.Prose && line != opening)
      tail.TextStart = from + (line - begin);
  }
  return tail;
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
};
TSample ReadSample(platform::TFileStream& Stream, int64_t From, int64_t End, int64_t Anchor) {
  constexpr int64_t pieceBytes = 32768, pieceCount = 8;
  // With the head the caller read, well within what a guess may read.
  static_assert(ChunkBytes + pieceBytes * pieceCount <= MaxGuessSampleBytes / 2);
  TSample sample;
  const int64_t start = Aligned(From, Anchor);
  if (End - start <= ChunkBytes) {
    sample.Chunk = ReadBytes(Stream, start, End - start);
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
  sample.Chunk = ReadBytes(Stream, Aligned(chunkStart, Anchor), ChunkBytes);
  return sample;
}

// Candidates for the rows that the values of Facts repeat in.
void AddLayouts(const TContentFacts& Facts, std::vector<TLayoutCandidate>& Candidates) {
  const std::vector<double> differences = LagDifferences(Facts.Values, 1, MaxDimension, 4096);
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
      AddCandidates(Facts, {w, width.Dip * std::min(1.0, closeness * closeness)}, Candidates);
    }
  // Where the rows hardly dip (dark, sparse or noisy frames), a width the
  // header states still gets its chance where its slices fit the file.
  std::vector<TPeriod> stated;
  for (const TStatedShape& shape : Facts.Shapes) {
    const double dip = DipOf(differences, shape.Width);
    const int64_t sliceBytes =
        int64_t{shape.Width} * shape.Height * BytesPerVoxel[Facts.Types.front().Type];
    if (std::find(tried.begin(), tried.end(), shape.Width) == tried.end() &&
        FitsStatedSlices(Facts.FileSize, sliceBytes, shape.End))
      stated.push_back({shape.Width, std::max(dip, 0.4)}), tried.push_back(shape.Width);
  }
  std::stable_sort(stated.begin(), stated.end(),
                   [](const TPeriod& A, const TPeriod& B) { return A.Dip > B.Dip; });
  for (size_t i = 0; i < std::min<size_t>(stated.size(), 4); ++i)
    AddCandidates(Facts, stated[i], Candidates);
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
  if (facts.Preamble.Text) {
    const int64_t other = PositiveMod(facts.Preamble.TextEnd - anchor, 8);
    std::vector<TTypeGuess> shifted =
        other == 0 ? std::vector<TTypeGuess>()
                   : RankVoxelTypes(pieces.Data.get() + other, pieces.Count - other);
    if (!shifted.empty() && (ranked.empty() || shifted.front().Score > 0.8 * ranked.front().Score))
      ranked = std::move(shifted), shift = other;
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
    facts.Values = Singles(chunk.Data.get() + shift, chunk.Count - shift, group.front());
    facts.JunkEnd = JunkEnd(Head, FileSize, group.front(), facts.Values);
    facts.JunkSlack = 6 * BytesPerVoxel[group.front().Type];
    AddLayouts(facts, candidates);
  }
  return candidates;
}

} // namespace guess
