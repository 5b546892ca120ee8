#include "guess/content/DataBounds.h"

#include "guess/content/DimensionSearch.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace guess {

namespace {

struct TDataEnd {
  int64_t At = 0;
  double Cost = 0.0; // taken off the header's evidence
  std::string Why;
};

// The ends of data of whole slices (or, failing that, whole rows) after a
// header of X bytes, best first. Marked: a text header ends at X; Bare: the
// data start the file or where a preamble ends, where zeros at the file's end
// most likely pad it.
std::vector<TDataEnd> DataEnds(const TTail& Tail, const TImageAfter& After, int64_t X,
                               bool Trailers, bool Marked, bool Bare, int64_t RowBytes,
                               int64_t SliceBytes) {
  // Voxels rarely read as words: where a trailer does, the data end before
  // it, or a few bytes into it where the last voxels happen to be printable.
  if (Tail.Prose && Tail.TextStart > X) {
    const int64_t at = X + (Tail.TextStart - X + RowBytes - 1) / RowBytes * RowBytes;
    return {{at - Tail.TextStart < 16 ? at : Tail.TextStart, 0.0, "; a text trailer follows"},
            {Tail.FileSize, 0.25, ""}};
  }
  std::vector<TDataEnd> ends = {{Tail.FileSize, 0.0, ""}};
  // A preview after the image need not fill whole rows of the image's.
  if (After.At > X) {
    const int64_t rows = SeamOfScaledCopy((After.At - X + RowBytes / 2) / RowBytes,
                                          Tail.FileSize - X, RowBytes, After.RowBytes);
    if (rows > 0 && X + rows * RowBytes < Tail.FileSize)
      ends.push_back({X + rows * RowBytes, 0.1, "; another image follows"});
  }
  if (!Trailers)
    return ends;
  if (Tail.TextStart > X)
    ends.push_back({Tail.TextStart, 0.25, "; a text trailer follows"});
  for (const int64_t unit : {SliceBytes, RowBytes})
    if ((Marked || Bare) && Tail.ZeroStart > X) {
      const int64_t at = X + (Tail.ZeroStart - X + unit - 1) / unit * unit;
      // Padding starts where the data end; an image's own dark voxels rarely
      // fill most of its last row.
      const double dark = std::min(1.0, static_cast<double>(at - Tail.ZeroStart) / RowBytes);
      if (at < Tail.FileSize)
        ends.push_back({at, 0.3 + 0.1 * dark, "; zeros pad the end"});
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
                                         int64_t JunkSlack, int64_t SmoothEnd, const TTail& Tail,
                                         const TImageAfter& After, int64_t RowBytes,
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
  places.insert(places.end(), CommonHeaderSizes.begin(), CommonHeaderSizes.end());
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
        std::find(CommonHeaderSizes.begin(), CommonHeaderSizes.end(), x) != CommonHeaderSizes.end();
    const bool marked = text || zeros || junk;
    // Only a text header ends exactly where it seems to: noise and zeros may
    // run on into the data.
    std::vector<TDataEnd> ends =
        DataEnds(Tail, After, x, Trailers, text, x == 0 || marked, RowBytes, SliceBytes);
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
    // Nor does a header end amid what reads as the data from the first byte on.
    if (!marked && x > 0 && x < SmoothEnd)
      evidence -= 0.5;
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

} // namespace

TTail ReadTail(platform::TFileStream& Stream, int64_t FileSize) {
  constexpr int64_t tailBytes = int64_t{64} << 10, minRun = 16;
  TTail tail;
  tail.FileSize = FileSize;
  const int64_t from = std::max<int64_t>(0, FileSize - tailBytes);
  std::vector<uint8_t> bytes(static_cast<size_t>(FileSize - from));
  const int64_t got = std::max<int64_t>(0, Stream.ReadAt(from, bytes.data(), std::ssize(bytes)));
  const uint8_t* begin = bytes.data();
  const uint8_t* end = begin + got;
  const uint8_t* zeros = end;
  while (zeros > begin && zeros[-1] == 0)
    --zeros;
  if (end - zeros >= minRun) {
    tail.ZeroStart = from + (zeros - begin);
    // Zero bytes alone say little: small 16-bit values have one in each.
    const uint8_t* before = std::max(begin, zeros - 1024);
    int64_t zeroWords = 0;
    for (const uint8_t* b = before; b + 1 < zeros; ++b)
      zeroWords += b[0] == 0 && b[1] == 0;
    tail.AbruptZeros =
        FileSize % 512 == 0 && zeros - before >= 256 && zeroWords * 16 < zeros - before;
  }
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

std::vector<THeaderOption> HeaderOptions(const TPreamble& Preamble, int64_t JunkEnd,
                                         int64_t JunkSlack, int64_t SmoothEnd, const TTail& Tail,
                                         const TImageAfter& After, int64_t RowBytes,
                                         int64_t SliceBytes) {
  constexpr double convincing = 0.8;
  std::vector<THeaderOption> options = HeaderOptions(Preamble, JunkEnd, JunkSlack, SmoothEnd, Tail,
                                                     After, RowBytes, SliceBytes, false);
  // Where filler visibly ends but no data of whole rows follow it to the
  // file's end, while zeros end the file, the data may end before the
  // padding: a header of a common size is no proof then.
  const bool startUnfit =
      JunkEnd > 0 && Tail.ZeroStart >= 0 &&
      std::none_of(options.begin(), options.end(), [](const THeaderOption& O) { return O.Marked; });
  if (options.empty() || options.front().Evidence < convincing || startUnfit)
    options = HeaderOptions(Preamble, JunkEnd, JunkSlack, SmoothEnd, Tail, After, RowBytes,
                            SliceBytes, true);
  return options;
}

} // namespace guess
