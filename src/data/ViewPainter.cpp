#include "data/ViewPainter.h"

#include "data/PixelRow.h"
#include "data/RowClassifier.h"
#include "data/VoxelDecoder.h"
#include "data/WideRow.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

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

// SSE2 has min/max only for unsigned bytes and signed 16-bit words; flipping
// the top bit maps the other signedness onto those and keeps the order.
template <typename T, typename TNative>
void TakeInIntegers(TValueRange& Range, const uint8_t* Bytes, int32_t Count, bool Swap) {
  if (Count <= 0)
    return;
  using TRaw = std::make_unsigned_t<T>;
  constexpr auto flip = static_cast<TRaw>(
      std::is_signed_v<T> == std::is_signed_v<TNative> ? 0 : TRaw{1} << (8 * sizeof(T) - 1));
  TNative low = std::numeric_limits<TNative>::max();
  TNative high = std::numeric_limits<TNative>::min();
  for (int32_t x = 0; x < Count; ++x) {
    const auto v = static_cast<TNative>(pixelrow::Load<TRaw>(Bytes, x, Swap) ^ flip);
    low = v < low ? v : low;
    high = v > high ? v : high;
  }
  // Integers have no signed zeros, so the order in which they are met does not matter.
  TakeIn(Range, static_cast<float>(static_cast<T>(static_cast<TRaw>(low) ^ flip)));
  TakeIn(Range, static_cast<float>(static_cast<T>(static_cast<TRaw>(high) ^ flip)));
}

// The first zero met decides the sign of a zero extreme, as in the sequential scan.
uint16_t HalfOfKey(int32_t Key, const uint8_t* Bytes, int32_t Count, bool Swap) {
  if (Key > 0)
    return static_cast<uint16_t>(Key);
  if (Key < 0)
    return static_cast<uint16_t>(0x8000 | -Key);
  for (int32_t x = 0; x < Count; ++x) {
    const auto bits = pixelrow::Load<uint16_t>(Bytes, x, Swap);
    if ((bits & 0x7FFF) == 0)
      return bits;
  }
  return 0;
}

// Halves order as their sign and magnitude read as a signed key, -0 and 0
// both keying 0, so the range comes from the bits without decoding each half.
void TakeInHalves(TValueRange& Range, const uint8_t* Bytes, int32_t Count, bool Swap) {
  typedef int16_t TKeys __attribute__((vector_size(16)));
  constexpr int16_t nanKeyLow = 0x7FFF, nanKeyHigh = -0x7FFF; // beyond every infinity
  const auto keyOf = [](TKeys bits, TKeys& forLow, TKeys& forHigh) {
    const TKeys magnitude = bits & 0x7FFF;
    const TKeys sign = bits >> 15;
    const TKeys key = (magnitude ^ sign) - sign;
    const TKeys nan = magnitude > 0x7C00;
    forLow = nan ? nanKeyLow : key;
    forHigh = nan ? nanKeyHigh : key;
  };
  TKeys low = TKeys{} + nanKeyLow, high = TKeys{} + nanKeyHigh;
  int32_t x = 0;
  for (; x + 8 <= Count; x += 8) {
    TKeys bits;
    std::memcpy(&bits, Bytes + 2 * static_cast<int64_t>(x), sizeof bits);
    if (Swap)
      bits = (bits << 8) | ((bits >> 8) & 0xFF);
    TKeys forLow, forHigh;
    keyOf(bits, forLow, forHigh);
    low = forLow < low ? forLow : low;
    high = forHigh > high ? forHigh : high;
  }
  for (; x < Count; ++x) {
    TKeys bits = TKeys{} + static_cast<int16_t>(pixelrow::Load<uint16_t>(Bytes, x, Swap));
    TKeys forLow, forHigh;
    keyOf(bits, forLow, forHigh);
    low = forLow < low ? forLow : low;
    high = forHigh > high ? forHigh : high;
  }
  int16_t lowest = nanKeyLow, highest = nanKeyHigh;
  for (int lane = 0; lane < 8; ++lane) {
    lowest = std::min(lowest, low[lane]);
    highest = std::max(highest, high[lane]);
  }
  if (lowest == nanKeyLow) // nothing but NaNs
    return;
  const float lowValue = voxeldecoder::HalfToSingle(HalfOfKey(lowest, Bytes, Count, Swap));
  const float highValue = voxeldecoder::HalfToSingle(HalfOfKey(highest, Bytes, Count, Swap));
  if (Range.Min > lowValue)
    Range.Min = lowValue;
  if (Range.Max < highValue)
    Range.Max = highValue;
}

// Keeps the sign of a zero extreme as the sequential scan would: the first
// value met that equals it wins, the incoming extreme counting as met first.
template <typename TValueAt>
float FirstEqual(float Incoming, float Extreme, TValueAt ValueAt, int32_t Count) {
  if (Extreme != 0.0f || Incoming == 0.0f)
    return Incoming == Extreme ? Incoming : Extreme;
  for (int32_t x = 0; x < Count; ++x)
    if (ValueAt(x) == 0.0f)
      return ValueAt(x);
  return Extreme;
}

// The sequential min/max over singles, in vector lanes and two chains so that
// the loop is not bound by the latency of one compare chain; NaNs never compare.
void TakeInSingles(TValueRange& Range, const float* Values, int32_t Count) {
  typedef float TLanes __attribute__((vector_size(16)));
  TLanes low = {Range.Min, Range.Min, Range.Min, Range.Min};
  TLanes high = {Range.Max, Range.Max, Range.Max, Range.Max};
  TLanes low2 = low, high2 = high;
  int32_t x = 0;
  for (; x + 8 <= Count; x += 8) {
    TLanes v, v2;
    std::memcpy(&v, Values + x, sizeof v);
    std::memcpy(&v2, Values + x + 4, sizeof v2);
    low = v < low ? v : low;
    high = v > high ? v : high;
    low2 = v2 < low2 ? v2 : low2;
    high2 = v2 > high2 ? v2 : high2;
  }
  for (; x < Count; ++x) {
    low[0] = Values[x] < low[0] ? Values[x] : low[0];
    high[0] = Values[x] > high[0] ? Values[x] : high[0];
  }
  const float lowest =
      std::min({low[0], low[1], low[2], low[3], low2[0], low2[1], low2[2], low2[3]});
  const float highest =
      std::max({high[0], high[1], high[2], high[3], high2[0], high2[1], high2[2], high2[3]});
  const auto valueAt = [Values](int32_t x) { return Values[x]; };
  Range = {FirstEqual(Range.Min, lowest, valueAt, Count),
           FirstEqual(Range.Max, highest, valueAt, Count)};
}

// Codes to pixels four at a time in vector lanes: grey levels are computed, the
// warning codes selected, and the spare byte of each word dropped by one
// shuffle. Each 16-byte store reaches into the next two pixels, which are
// written after it, so it stops two pixels before the end; CodeCheck pixels
// get a placeholder that the exact pass paints over. Returns the pixels done.
// Only processors with a byte shuffle instruction gain from it.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
__attribute__((target("avx2"))) int32_t WriteCodedPixelsAvx2(uint8_t* Row, const int32_t* Codes,
                                                             int32_t Count, uint32_t Under,
                                                             uint32_t Over) {
  typedef int32_t TCodes __attribute__((vector_size(16)));
  typedef uint8_t TBytes __attribute__((vector_size(16)));
  int32_t x = 0;
  for (; x + 6 <= Count; x += 4) {
    TCodes codes;
    std::memcpy(&codes, Codes + x, sizeof codes);
    const TCodes grey = codes * 0x010101;
    const TCodes flagged =
        codes == CodeUnder ? static_cast<int32_t>(Under) : static_cast<int32_t>(Over);
    const TCodes words = codes < CodeUnder ? grey : flagged;
    const auto bytes = reinterpret_cast<TBytes>(words);
    const TBytes packed = __builtin_shufflevector(bytes, bytes, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13,
                                                  14, 15, 15, 15, 15);
    std::memcpy(Row + 3 * static_cast<int64_t>(x), &packed, sizeof packed);
  }
  return x;
}

int32_t WriteCodedPixels(uint8_t* Row, const int32_t* Codes, int32_t Count, uint32_t Under,
                         uint32_t Over) {
  return widerow::Enabled() ? WriteCodedPixelsAvx2(Row, Codes, Count, Under, Over) : 0;
}
#else
int32_t WriteCodedPixels(uint8_t*, const int32_t*, int32_t, uint32_t, uint32_t) {
  return 0;
}
#endif

} // namespace

// The exact colour of V as a pixel word, computed once per paint for each
// value kept in the slot its bits pick.
uint32_t TViewPainter::CheckedWord(float V, const TIntensityWindow& Window) {
  const auto bits = std::bit_cast<uint32_t>(V);
  const uint32_t slot = (bits ^ (bits >> 8) ^ (bits >> 16) ^ (bits >> 24)) & 0xFF;
  if (!FChecked.Held[slot] || FChecked.Bits[slot] != bits) {
    FChecked.Bits[slot] = bits;
    FChecked.Words[slot] = pixelrow::PixelWord(Window.ColourOf(V));
    FChecked.Held[slot] = true;
  }
  return FChecked.Words[slot];
}

// Paints the pixels whose code is CodeCheck exactly. Blocks without one are
// passed over by a test that runs in vector lanes.
template <typename TValueAt>
void TViewPainter::PaintChecks(uint8_t* Row, const int32_t* Codes, TValueAt ValueAt, int32_t Count,
                               const TIntensityWindow& Window) {
  constexpr int32_t block = 32;
  for (int32_t first = 0; first < Count; first += block) {
    const int32_t end = std::min(first + block, Count);
    int32_t found = 0;
    for (int32_t x = first; x < end; ++x)
      found |= Codes[x] == CodeCheck;
    for (int32_t x = first; found && x < end; ++x)
      if (Codes[x] == CodeCheck) {
        const uint32_t word = CheckedWord(ValueAt(x), Window);
        std::memcpy(Row + 3 * static_cast<int64_t>(x), &word, 3);
      }
  }
}

TViewPainter::TViewPainter()
    : FCodeWords(CodeCheck + 1) {}

void TViewPainter::Fill(TBitmap24& Bitmap, uint32_t Colour) {
  const uint32_t word = pixelrow::PixelWord(Colour);
  for (int32_t y = 0; y < Bitmap.Height(); ++y)
    pixelrow::Write(Bitmap.ScanLine(y), 0, Bitmap.Width(), Bitmap.Width(),
                    [word](int32_t) { return word; });
}

bool TViewPainter::IsWindowTabled(TVoxelType Type) {
  return Type == vtInt32 || Type == vtUInt32 || Type == vtInt64 || Type == vtUInt64;
}

bool TViewPainter::IsTabled(TVoxelType Type) {
  return BytesPerVoxel[Type] == 1 || Type == vtInt16 || Type == vtUInt16 || Type == vtFloat16;
}

const std::vector<uint32_t>& TViewPainter::TableFor(TVoxelType Type,
                                                    const TIntensityWindow& Window) {
  const size_t entries = BytesPerVoxel[Type] == 1 ? 256 : 65536;
  if (FTable.size() == entries && FTableType == Type && FTableWindow == Window)
    return FTable;
  FTable.resize(entries);
  for (size_t i = 0; i < entries; ++i) {
    // Entries are indexed by the voxel's bits with the byte order already applied.
    const uint8_t pattern[2] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
    const float v = voxeldecoder::DecodeSingle(pattern, 0, Type, boLittleEndian);
    FTable[i] = pixelrow::PixelWord(Window.ColourOf(v));
  }
  FTableType = Type;
  FTableWindow = Window;
  return FTable;
}

// Every colour component of a 32- or 64-bit integer (the flags and the grey
// level; integers never map beyond the single range) is monotone in the value,
// so where the colours at a table end and at the type's limit beyond it agree,
// every value between has that colour too. A window whose ends do not qualify
// keeps to the kernel that maps each value.
void TViewPainter::WindowTableFor(TVoxelType Type, const TIntensityWindow& Window) {
  TWindowTable& table = FWindowTable;
  if (table.Type == Type && table.Window == Window && !table.Words.empty())
    return;
  table.Type = Type;
  table.Window = Window;
  const bool isSigned = VoxelTypeTable[Type].Signed;
  const bool wide = BytesPerVoxel[Type] == 8;
  const int64_t typeMin = !isSigned ? 0 : wide ? INT64_MIN : INT32_MIN;
  const int64_t typeMax = wide ? INT64_MAX : isSigned ? INT32_MAX : UINT32_MAX;
  // The type's limits as the singles they paint as (2^64 for the largest uint64).
  const float lowest = static_cast<float>(typeMin);
  const float highest = Type == vtUInt64 ? 0x1p64f : static_cast<float>(typeMax);
  const int32_t lowEnd = std::min(Window.IntensityMin(), Window.IntensityMax());
  const int32_t highEnd = std::max(Window.IntensityMin(), Window.IntensityMax());
  table.Low = std::max(typeMin, int64_t{lowEnd} - 1);
  table.High = std::min(typeMax, int64_t{highEnd} + 1);
  const int64_t entries = table.High - table.Low + 1;
  const auto wordOf = [&](float v) { return pixelrow::PixelWord(Window.ColourOf(v)); };
  table.Valid = entries > 0 && entries <= 65536 &&
                wordOf(static_cast<float>(table.Low)) == wordOf(lowest) &&
                wordOf(static_cast<float>(table.High)) == wordOf(highest);
  table.Words.resize(table.Valid ? static_cast<size_t>(entries) : 1);
  for (int64_t i = 0; table.Valid && i < entries; ++i)
    table.Words[static_cast<size_t>(i)] = wordOf(static_cast<float>(table.Low + i));
}

void TViewPainter::PaintTableRow(uint8_t* Row, const TViewSource& Source, const uint8_t* Bytes,
                                 int32_t Count, int32_t RowWidth, bool Swap) {
  const uint32_t* table = FTable.data();
  const int32_t bytesPerVoxel = BytesPerVoxel[Source.Type];
  const int32_t done = widerow::Enabled() ? widerow::TableRow(Bytes, Count, bytesPerVoxel, Swap,
                                                              table, Row, FStreamPixels)
                                          : 0;
  if (bytesPerVoxel == 1)
    pixelrow::Write(Row, done, Count - done, RowWidth, [&](int32_t x) { return table[Bytes[x]]; });
  else
    pixelrow::Write(Row, done, Count - done, RowWidth,
                    [&](int32_t x) { return table[pixelrow::Load<uint16_t>(Bytes, x, Swap)]; });
}

void TViewPainter::TakeInTabled(TValueRange& Range, const TViewSource& Source, const uint8_t* Bytes,
                                int32_t Count, bool Swap) {
  switch (Source.Type) {
  case vtByte:
    return TakeInIntegers<uint8_t, uint8_t>(Range, Bytes, Count, Swap);
  case vtInt8:
    return TakeInIntegers<int8_t, uint8_t>(Range, Bytes, Count, Swap);
  case vtInt16:
    return TakeInIntegers<int16_t, int16_t>(Range, Bytes, Count, Swap);
  case vtUInt16:
    return TakeInIntegers<uint16_t, int16_t>(Range, Bytes, Count, Swap);
  default:
    return TakeInHalves(Range, Bytes, Count, Swap);
  }
}

void TViewPainter::PaintMappedRow(uint8_t* Row, const TViewSource& Source, const uint8_t* Bytes,
                                  int32_t Count, int32_t RowWidth, bool Swap,
                                  const TIntensityWindow& Window, TValueRange* Range) {
  float* values = FValues.data();
  int32_t* codes = FCodes.data();
  const rowclassifier::TParams params = rowclassifier::ParamsFor(Source.Type, Swap, Window);
  const uint32_t* words = FCodeWords.data();
  const bool fourBytes = BytesPerVoxel[Source.Type] == 4;
  // The AVX2 kernel paints the row in one pass up to its last few voxels and
  // leaves them undecoded, so the rare exact work decodes them again.
  const auto valueAt = [&](int32_t x) {
    return voxeldecoder::DecodeSingle(Bytes, x, Source.Type, Source.Order);
  };
  widerow::TExtremes extremes{Range ? Range->Min : 0.0f, Range ? Range->Max : 0.0f};
  int32_t done = 0;
  const bool windowTable = IsWindowTabled(Source.Type) && FWindowTable.Valid &&
                           FWindowTable.Type == Source.Type && FWindowTable.Window == Window &&
                           widerow::Enabled();
  if (windowTable) {
    widerow::TExtremes integers{INFINITY, -INFINITY};
    done = widerow::WindowRow(Bytes, Count, Source.Type, Swap,
                              {FWindowTable.Words.data(), FWindowTable.Low, FWindowTable.High}, Row,
                              FStreamPixels, integers);
    // Integers have no signed zeros, so the order in which they are met does not matter.
    if (Range && done > 0) {
      TakeIn(*Range, integers.Low);
      TakeIn(*Range, integers.High);
      extremes = {Range->Min, Range->Max};
    }
  } else if (widerow::Enabled()) {
    struct TContext {
      TViewPainter& Painter;
      const decltype(valueAt)& ValueAt;
      const TIntensityWindow& Window;
    } context{*this, valueAt, Window};
    const widerow::TExact exact{[](void* c, int32_t x) {
                                  auto& on = *static_cast<TContext*>(c);
                                  return on.Painter.CheckedWord(on.ValueAt(x), on.Window);
                                },
                                &context};
    done = widerow::MapRow(Bytes, Count, params, words[CodeUnder], words[CodeOver], Row,
                           FStreamPixels, exact, Range ? &extremes : nullptr);
  }
  const int32_t rest = Count - done;
  const uint8_t* restBytes = Bytes + int64_t{done} * BytesPerVoxel[Source.Type];
  // Wider voxels are rounded to singles first; from there on they are
  // mapped exactly as float32 voxels are.
  if (!fourBytes)
    voxeldecoder::DecodeSingles(restBytes, rest, Source.Type, Source.Order, values + done);
  const bool checks =
      fourBytes ? rowclassifier::ClassifyRow(restBytes, rest, params, values + done, codes + done)
                : rowclassifier::ClassifySingles(values + done, rest, params, codes + done);
  // Converting integers to singles keeps their order, so the range of the
  // converted values is the converted range.
  if (Range) {
    if (done > 0)
      *Range = {FirstEqual(Range->Min, extremes.Low, valueAt, done),
                FirstEqual(Range->Max, extremes.High, valueAt, done)};
    TakeInSingles(*Range, values + done, rest);
  }
  // Every pixel through the table first, without a branch per pixel; the
  // few the classifier could not settle are then painted over exactly.
  const int32_t coded = done + WriteCodedPixels(Row + 3 * int64_t{done}, codes + done, rest,
                                                words[CodeUnder], words[CodeOver]);
  pixelrow::Write(Row, coded, Count - coded, RowWidth, [&](int32_t x) { return words[codes[x]]; });
  if (checks)
    PaintChecks(
        Row + 3 * int64_t{done}, codes + done, [&](int32_t x) { return values[done + x]; }, rest,
        Window);
}

void TViewPainter::PrepareMapped(const TViewSource& Source) {
  const size_t scratch = static_cast<size_t>(std::max(Source.Width, JoinedVoxels));
  if (FValues.size() < scratch) {
    FValues.resize(scratch);
    FCodes.resize(scratch);
  }
  for (int32_t level = 0; level < 256; ++level)
    FCodeWords[level] = pixelrow::PixelWord(colour::Grey(level));
  FCodeWords[CodeUnder] = pixelrow::PixelWord(colour::Green);
  FCodeWords[CodeOver] = pixelrow::PixelWord(colour::Red);
  FChecked.Held.reset(); // the window may have changed since the last paint
  // Pixels of a bitmap that the caches cannot hold are streamed to memory.
  FStreamPixels = int64_t{Source.Width} * Source.Height * 3 > 2 * 1024 * 1024;
}

void TViewPainter::Paint(const TViewSource& Source, const TIntensityWindow& Window,
                         TBitmap24& Bitmap, TValueRange* Range) {
  Prepare(Source, Window);
  PaintRows(Source, Window, Bitmap, Range, 0, Source.Height);
}

void TViewPainter::Prepare(const TViewSource& Source, const TIntensityWindow& Window) {
  if (IsTabled(Source.Type))
    TableFor(Source.Type, Window);
  if (IsWindowTabled(Source.Type) && widerow::Enabled())
    WindowTableFor(Source.Type, Window);
  PrepareMapped(Source);
}

void TViewPainter::PaintRows(const TViewSource& Source, const TIntensityWindow& Window,
                             TBitmap24& Bitmap, TValueRange* Range, int32_t FirstRow,
                             int32_t EndRow) {
  const int32_t width = Source.Width;
  const int64_t bytesPerVoxel = BytesPerVoxel[Source.Type];
  const bool swap = pixelrow::NeedsSwap(Source.Order);
  const bool tabled = IsTabled(Source.Type);
  const uint32_t beyond = pixelrow::PixelWord(colour::LightBlue);

  // Rows without padding lie end to end, and those wholly in the file are
  // painted as one longer row: the setup of a row cost as much as painting
  // the pixels of a short one.
  const int32_t joinable =
      width > 0 && int64_t{Bitmap.Stride()} == 3 * int64_t{width} ? JoinedVoxels / width : 1;
  for (int32_t y = FirstRow; y < EndRow;) {
    uint8_t* row = Bitmap.ScanLine(y);
    const int64_t first = static_cast<int64_t>(y) * width;
    const int64_t wholeRows = std::max<int64_t>(Source.VoxelCount - first, 0) / std::max(width, 1);
    const auto rows = static_cast<int32_t>(
        std::clamp<int64_t>(std::min(wholeRows, int64_t{joinable}), 1, EndRow - y));
    const int32_t span = rows * width;
    const auto inFile =
        static_cast<int32_t>(std::clamp<int64_t>(Source.VoxelCount - first, 0, span));
    const uint8_t* bytes = Source.Bytes + first * bytesPerVoxel;
    if (tabled) {
      PaintTableRow(row, Source, bytes, inFile, span, swap);
      if (Range)
        TakeInTabled(*Range, Source, bytes, inFile, swap);
    } else {
      PaintMappedRow(row, Source, bytes, inFile, span, swap, Window, Range);
    }
    pixelrow::Write(row, inFile, span - inFile, span, [beyond](int32_t) { return beyond; });
    if (Range && inFile < span)
      TakeIn(*Range, 0.0f);
    y += rows;
  }
}
