#include "data/ViewPainter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace {

// A colour as the four bytes blue, green, red, 0 in memory, so that one
// 4-byte store writes a pixel (the spare byte is overwritten by the next one).
uint32_t PixelWord(uint32_t Rgb) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(Rgb), static_cast<uint8_t>(Rgb >> 8),
                            static_cast<uint8_t>(Rgb >> 16), 0};
  uint32_t word = 0;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Writes Count pixels produced by WordAt(x) from pixel First on. The last pixel of a
// row gets exactly three bytes so that the row padding (and the next row) stay untouched.
template <typename TWordAt>
void WritePixels(uint8_t* Row, int32_t First, int32_t Count, int32_t RowWidth, TWordAt WordAt) {
  const int32_t end = First + Count;
  const int32_t wide = std::min(end, RowWidth - 1);
  for (int32_t x = First; x < wide; ++x) {
    const uint32_t word = WordAt(x);
    std::memcpy(Row + 3 * static_cast<int64_t>(x), &word, 4);
  }
  if (end == RowWidth && Count > 0) {
    const uint32_t word = WordAt(end - 1);
    std::memcpy(Row + 3 * static_cast<int64_t>(end - 1), &word, 3);
  }
}

inline uint16_t ByteSwap(uint16_t V) { return static_cast<uint16_t>((V >> 8) | (V << 8)); }
inline uint32_t ByteSwap(uint32_t V) {
  return (V >> 24) | ((V >> 8) & 0xFF00u) | ((V << 8) & 0xFF0000u) | (V << 24);
}

template <typename T> T Load(const uint8_t* Bytes, int64_t p, bool Swap) {
  T value;
  std::memcpy(&value, Bytes + p * static_cast<int64_t>(sizeof(T)), sizeof(T));
  if constexpr (sizeof(T) > 1) {
    using U = std::make_unsigned_t<std::conditional_t<std::is_floating_point_v<T>, int32_t, T>>;
    if (Swap) {
      U raw;
      std::memcpy(&raw, &value, sizeof raw);
      raw = ByteSwap(raw);
      std::memcpy(&value, &raw, sizeof raw);
    }
  }
  return value;
}

bool SwapBytes(TByteOrder Order) {
  const bool bigHost = std::endian::native == std::endian::big;
  return (Order == boBigEndian) != bigHost;
}

// Sequential min/max exactly as the values are met: the first of equal values
// (say -0.0 before 0.0) is kept.
void TakeIn(TValueRange& Range, float V) {
  if (Range.Min > V)
    Range.Min = V;
  if (Range.Max < V)
    Range.Max = V;
}

} // namespace

void TViewPainter::Fill(TBitmap24& Bitmap, uint32_t Colour) {
  const uint32_t word = PixelWord(Colour);
  for (int32_t y = 0; y < Bitmap.Height(); ++y)
    WritePixels(Bitmap.ScanLine(y), 0, Bitmap.Width(), Bitmap.Width(),
                [word](int32_t) { return word; });
}

const std::vector<uint32_t>& TViewPainter::TableFor(TVoxelType Type,
                                                    const TIntensityWindow& Window) {
  const size_t entries = Type == vtByte ? 256 : 65536;
  if (FTable.size() == entries && FTableType == Type && FTableWindow == Window)
    return FTable;
  FTable.resize(entries);
  for (size_t i = 0; i < entries; ++i) {
    const int32_t value = Type == vtByte ? static_cast<int32_t>(i)
                                         : static_cast<int16_t>(static_cast<uint16_t>(i));
    FTable[i] = PixelWord(Window.ColourOf(static_cast<float>(value)));
  }
  FTableType = Type;
  FTableWindow = Window;
  return FTable;
}

void TViewPainter::Paint(const TViewSource& Source, const TIntensityWindow& Window,
                         TBitmap24& Bitmap, TValueRange* Range) {
  const int32_t width = Source.Width;
  const bool swap = SwapBytes(Source.Order);
  const uint32_t beyond = PixelWord(colour::LightBlue);
  const uint32_t* table = nullptr;
  if (Source.Type == vtByte || Source.Type == vtInt16)
    table = TableFor(Source.Type, Window).data();

  for (int32_t y = 0; y < Source.Height; ++y) {
    uint8_t* row = Bitmap.ScanLine(y);
    const int64_t first = static_cast<int64_t>(y) * width;
    const auto inFile = static_cast<int32_t>(std::clamp<int64_t>(Source.VoxelCount - first, 0, width));
    const uint8_t* bytes = Source.Bytes;
    switch (Source.Type) {
    case vtByte:
      WritePixels(row, 0, inFile, width, [&](int32_t x) { return table[bytes[first + x]]; });
      break;
    case vtInt16:
      WritePixels(row, 0, inFile, width, [&](int32_t x) {
        return table[static_cast<uint16_t>(Load<int16_t>(bytes, first + x, swap))];
      });
      break;
    case vtInt32:
      WritePixels(row, 0, inFile, width, [&](int32_t x) {
        const auto v = static_cast<float>(Load<int32_t>(bytes, first + x, swap));
        if (Range)
          TakeIn(*Range, v);
        return PixelWord(Window.ColourOf(v));
      });
      break;
    case vtFloat32:
      WritePixels(row, 0, inFile, width, [&](int32_t x) {
        const float v = Load<float>(bytes, first + x, swap);
        if (Range && !std::isnan(v))
          TakeIn(*Range, v);
        return PixelWord(Window.ColourOf(v));
      });
      break;
    }
    if (Range && (Source.Type == vtByte || Source.Type == vtInt16)) {
      for (int32_t x = 0; x < inFile; ++x)
        TakeIn(*Range, Source.Type == vtByte
                           ? static_cast<float>(bytes[first + x])
                           : static_cast<float>(Load<int16_t>(bytes, first + x, swap)));
    }
    WritePixels(row, inFile, width - inFile, width, [beyond](int32_t) { return beyond; });
    if (Range && inFile < width)
      TakeIn(*Range, 0.0f);
  }
}
