#include "data/ViewPainter.h"

#include "data/PixelRow.h"
#include "data/RowClassifier.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using rowclassifier::CodeCheck;
using rowclassifier::CodeOver;
using rowclassifier::CodeUnder;

// Sequential min/max exactly as the values are met: the first of equal values
// (say -0.0 before 0.0) is kept, and NaNs never compare.
void TakeIn(TValueRange& Range, float V) {
  if (Range.Min > V)
    Range.Min = V;
  if (Range.Max < V)
    Range.Max = V;
}

template <typename T>
void TakeInIntegers(TValueRange& Range, const uint8_t* Bytes, int32_t Count, bool Swap) {
  if (Count <= 0)
    return;
  T low = std::numeric_limits<T>::max();
  T high = std::numeric_limits<T>::min();
  for (int32_t x = 0; x < Count; ++x) {
    const T v = pixelrow::Load<T>(Bytes, x, Swap);
    low = v < low ? v : low;
    high = v > high ? v : high;
  }
  // Integers have no signed zeros, so the order in which they are met does not matter.
  TakeIn(Range, static_cast<float>(low));
  TakeIn(Range, static_cast<float>(high));
}

// Keeps the sign of a zero extreme as the sequential scan would: the first
// value met that equals it wins, the incoming extreme counting as met first.
float FirstEqual(float Incoming, float Extreme, const float* Values, int32_t Count) {
  if (Extreme != 0.0f || Incoming == 0.0f)
    return Incoming == Extreme ? Incoming : Extreme;
  for (int32_t x = 0; x < Count; ++x)
    if (Values[x] == 0.0f)
      return Values[x];
  return Extreme;
}

// The sequential min/max over singles, in vector lanes so that the loop is
// not bound by the latency of one compare chain; NaNs never compare.
void TakeInSingles(TValueRange& Range, const float* Values, int32_t Count) {
  typedef float TLanes __attribute__((vector_size(16)));
  TLanes low = {Range.Min, Range.Min, Range.Min, Range.Min};
  TLanes high = {Range.Max, Range.Max, Range.Max, Range.Max};
  int32_t x = 0;
  for (; x + 4 <= Count; x += 4) {
    TLanes v;
    std::memcpy(&v, Values + x, sizeof v);
    low = v < low ? v : low;
    high = v > high ? v : high;
  }
  for (; x < Count; ++x) {
    low[0] = Values[x] < low[0] ? Values[x] : low[0];
    high[0] = Values[x] > high[0] ? Values[x] : high[0];
  }
  const float lowest = std::min({low[0], low[1], low[2], low[3]});
  const float highest = std::max({high[0], high[1], high[2], high[3]});
  Range = {FirstEqual(Range.Min, lowest, Values, Count),
           FirstEqual(Range.Max, highest, Values, Count)};
}

} // namespace

TViewPainter::TViewPainter()
    : FCodeWords(CodeCheck) {}

void TViewPainter::Fill(TBitmap24& Bitmap, uint32_t Colour) {
  const uint32_t word = pixelrow::PixelWord(Colour);
  for (int32_t y = 0; y < Bitmap.Height(); ++y)
    pixelrow::Write(Bitmap.ScanLine(y), 0, Bitmap.Width(), Bitmap.Width(),
                    [word](int32_t) { return word; });
}

const std::vector<uint32_t>& TViewPainter::TableFor(TVoxelType Type,
                                                    const TIntensityWindow& Window) {
  const size_t entries = Type == vtByte ? 256 : 65536;
  if (FTable.size() == entries && FTableType == Type && FTableWindow == Window)
    return FTable;
  FTable.resize(entries);
  for (size_t i = 0; i < entries; ++i) {
    const int32_t value =
        Type == vtByte ? static_cast<int32_t>(i) : static_cast<int16_t>(static_cast<uint16_t>(i));
    FTable[i] = pixelrow::PixelWord(Window.ColourOf(static_cast<float>(value)));
  }
  FTableType = Type;
  FTableWindow = Window;
  return FTable;
}

void TViewPainter::PaintTableRow(uint8_t* Row, const TViewSource& Source, const uint8_t* Bytes,
                                 int32_t Count, bool Swap) {
  const uint32_t* table = FTable.data();
  if (Source.Type == vtByte)
    pixelrow::Write(Row, 0, Count, Source.Width, [&](int32_t x) { return table[Bytes[x]]; });
  else
    pixelrow::Write(Row, 0, Count, Source.Width, [&](int32_t x) {
      return table[static_cast<uint16_t>(pixelrow::Load<int16_t>(Bytes, x, Swap))];
    });
}

void TViewPainter::PaintMappedRow(uint8_t* Row, const TViewSource& Source, const uint8_t* Bytes,
                                  int32_t Count, bool Swap, const TIntensityWindow& Window,
                                  TValueRange* Range) {
  float* values = FValues.data();
  int32_t* codes = FCodes.data();
  rowclassifier::ClassifyRow(Bytes, Count, rowclassifier::ParamsFor(Source.Type, Swap, Window),
                             values, codes);
  // Converting integers to singles keeps their order, so the range of the
  // converted values is the converted range.
  if (Range)
    TakeInSingles(*Range, values, Count);
  const uint32_t* words = FCodeWords.data();
  pixelrow::Write(Row, 0, Count, Source.Width, [&](int32_t x) {
    return codes[x] < CodeCheck ? words[codes[x]] : pixelrow::PixelWord(Window.ColourOf(values[x]));
  });
}

void TViewPainter::PrepareMapped(const TViewSource& Source) {
  if (static_cast<int32_t>(FValues.size()) < Source.Width) {
    FValues.resize(Source.Width);
    FCodes.resize(Source.Width);
  }
  for (int32_t level = 0; level < 256; ++level)
    FCodeWords[level] = pixelrow::PixelWord(colour::Grey(level));
  FCodeWords[CodeUnder] = pixelrow::PixelWord(colour::Green);
  FCodeWords[CodeOver] = pixelrow::PixelWord(colour::Red);
}

void TViewPainter::Paint(const TViewSource& Source, const TIntensityWindow& Window,
                         TBitmap24& Bitmap, TValueRange* Range) {
  const int32_t width = Source.Width;
  const int64_t bytesPerVoxel = BytesPerVoxel[Source.Type];
  const bool swap = pixelrow::NeedsSwap(Source.Order);
  const bool tabled = Source.Type == vtByte || Source.Type == vtInt16;
  if (tabled)
    TableFor(Source.Type, Window);
  else
    PrepareMapped(Source);
  const uint32_t beyond = pixelrow::PixelWord(colour::LightBlue);

  for (int32_t y = 0; y < Source.Height; ++y) {
    uint8_t* row = Bitmap.ScanLine(y);
    const int64_t first = static_cast<int64_t>(y) * width;
    const auto inFile =
        static_cast<int32_t>(std::clamp<int64_t>(Source.VoxelCount - first, 0, width));
    const uint8_t* bytes = Source.Bytes + first * bytesPerVoxel;
    if (tabled) {
      PaintTableRow(row, Source, bytes, inFile, swap);
      if (Range && Source.Type == vtByte)
        TakeInIntegers<uint8_t>(*Range, bytes, inFile, swap);
      else if (Range)
        TakeInIntegers<int16_t>(*Range, bytes, inFile, swap);
    } else {
      PaintMappedRow(row, Source, bytes, inFile, swap, Window, Range);
    }
    pixelrow::Write(row, inFile, width - inFile, width, [beyond](int32_t) { return beyond; });
    if (Range && inFile < width)
      TakeIn(*Range, 0.0f);
  }
}
