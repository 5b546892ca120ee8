#include "data/ViewPainter.h"

#include "data/PixelRow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Codes of the per-pixel classification of 32-bit values; below these, the grey level.
constexpr int32_t CodeUnder = 256;
constexpr int32_t CodeOver = 257;
constexpr int32_t CodeCheck = 258;

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

void TakeInSingles(TValueRange& Range, const float* Values, int32_t Count) {
  float low = Range.Min;
  float high = Range.Max;
  for (int32_t x = 0; x < Count; ++x) {
    low = Values[x] < low ? Values[x] : low;
    high = Values[x] > high ? Values[x] : high;
  }
  Range = {low, high};
}

// The fast classification needs the window's ends as the singles between
// which a value is inside: a single compares below the integer IntensityMin
// exactly when it lies below the least single not below it.
struct TSingleBounds {
  float LowestInside;
  float HighestInside;
};

TSingleBounds BoundsOf(int32_t IntensityMin, int32_t IntensityMax) {
  auto lowest = static_cast<float>(IntensityMin);
  if (static_cast<double>(lowest) < IntensityMin)
    lowest = std::nextafter(lowest, INFINITY);
  auto highest = static_cast<float>(IntensityMax);
  if (static_cast<double>(highest) > IntensityMax)
    highest = std::nextafter(highest, -INFINITY);
  return {lowest, highest};
}

// Single-precision estimate of every level of a row, in a loop the compiler
// can vectorise. Singles err by at most 1.5 units in the last place against
// the defined arithmetic, under 2^-14 for levels below 256; whatever lies within
// 2^-13 of a half level, is huge, infinite or NaN is left to the exact path.
template <bool Flag>
void Classify(const float* Values, int32_t* Codes, int32_t Count, float MinF, float Scale,
              TSingleBounds Bounds) {
  // Every step is a select on 32-bit lanes, so that the loop vectorises.
  for (int32_t x = 0; x < Count; ++x) {
    const float v = Values[x];
    const float m = (v - MinF) * Scale;
    const float clamped = std::min(255.0f, std::max(0.0f, m)); // a NaN becomes 0
    const float rounded = (clamped + 0x1p23f) - 0x1p23f;
    auto code = static_cast<int32_t>(rounded);
    if (Flag) {
      code = v < Bounds.LowestInside ? CodeUnder : code;
      code = v > Bounds.HighestInside ? CodeOver : code;
    }
    code = std::fabs(clamped - rounded) > 0.5f - 0x1p-13f ? CodeCheck : code;
    code = std::fabs(m) < 0x1p126f ? code : CodeCheck; // also NaN
    Codes[x] = code;
  }
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
  if (Source.Type == vtInt32) {
    for (int32_t x = 0; x < Count; ++x)
      values[x] = static_cast<float>(pixelrow::Load<int32_t>(Bytes, x, Swap));
    if (Range)
      TakeInIntegers<int32_t>(*Range, Bytes, Count, Swap);
  } else {
    for (int32_t x = 0; x < Count; ++x)
      values[x] = pixelrow::Load<float>(Bytes, x, Swap);
    if (Range)
      TakeInSingles(*Range, values, Count);
  }
  const TSingleBounds bounds = BoundsOf(Window.IntensityMin(), Window.IntensityMax());
  if (Window.FlagOverUnder())
    Classify<true>(values, codes, Count, Window.MinF(), Window.Scale(), bounds);
  else
    Classify<false>(values, codes, Count, Window.MinF(), Window.Scale(), bounds);
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
