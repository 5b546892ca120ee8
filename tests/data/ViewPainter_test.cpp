#include "data/MappingModel.h"
#include "data/TestFiles.h"
#include "data/ViewPainter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using testfiles::ExpectPixels;
using testfiles::Green;
using testfiles::Grey;
using testfiles::LightBlue;
using testfiles::PixelAt;
using testfiles::Red;
using testfiles::Yellow;

constexpr float NoMin = 2147483648.0f;
constexpr float NoMax = -2147483648.0f;

// Grey level of a value whose mapped level is exact in double arithmetic:
// clamped to 0..255, then rounded to the nearest integer with halves to even.
int EvenLevel(double Mapped) {
  const double clamped = std::clamp(Mapped, 0.0, 255.0);
  const double down = std::floor(clamped);
  const double rest = clamped - down;
  const int level = static_cast<int>(down);
  if (rest > 0.5 || (rest == 0.5 && level % 2 == 1))
    return level + 1;
  return level;
}

// A view of one row per Width voxels, painted into a bitmap of its own size.
struct TPaintJob {
  std::vector<uint8_t> Bytes;
  TVoxelType Type = vtByte;
  TByteOrder Order = boLittleEndian;
  int32_t Width = 0;
  int32_t Height = 0;
  int64_t Count = -1; // -1: every voxel lies in the file

  TViewSource Source() const {
    return {Bytes.data(), Count < 0 ? int64_t{Width} * Height : Count, Type, Order, Width, Height};
  }
};

TPaintJob JobOf(TVoxelType Type, TByteOrder Order, const std::vector<double>& Values,
                int32_t Width) {
  TPaintJob job;
  job.Type = Type;
  job.Order = Order;
  job.Width = Width;
  job.Height = static_cast<int32_t>(Values.size()) / Width;
  for (double v : Values)
    testfiles::AppendVoxel(job.Bytes, Type, Order, v);
  return job;
}

TValueRange Paint(TViewPainter& Painter, const TPaintJob& Job, const TIntensityWindow& Window,
                  TBitmap24& Bitmap) {
  Bitmap.SetSize(Job.Width, Job.Height);
  TValueRange range{NoMin, NoMax};
  Painter.Paint(Job.Source(), Window, Bitmap, &range);
  return range;
}

// The single each voxel maps through, by another route than the program's:
// long double holds every integer type and every double exactly, so the
// conversion to float rounds once; halves are assembled from their fields.
float ModelSingle(TVoxelType Type, uint64_t Bits) {
  switch (Type) {
  case vtByte:
    return static_cast<uint8_t>(Bits);
  case vtInt8:
    return static_cast<int8_t>(Bits);
  case vtInt16:
    return static_cast<int16_t>(Bits);
  case vtInt32:
    return static_cast<float>(static_cast<long double>(static_cast<int32_t>(Bits)));
  case vtFloat32:
    return std::bit_cast<float>(static_cast<uint32_t>(Bits));
  case vtUInt16:
    return static_cast<uint16_t>(Bits);
  case vtFloat16: {
    const int exponent = static_cast<int>(Bits >> 10) & 31;
    const int fraction = static_cast<int>(Bits) & 1023;
    const float sign = (Bits & 0x8000) != 0 ? -1.0f : 1.0f;
    if (exponent == 31)
      return fraction != 0 ? std::numeric_limits<float>::quiet_NaN() : sign * INFINITY;
    if (exponent == 0)
      return sign * std::ldexp(static_cast<float>(fraction), -24);
    return sign * std::ldexp(static_cast<float>(1024 + fraction), exponent - 25);
  }
  case vtUInt32:
    return static_cast<float>(static_cast<long double>(static_cast<uint32_t>(Bits)));
  case vtInt64:
    return static_cast<float>(static_cast<long double>(static_cast<int64_t>(Bits)));
  case vtUInt64:
    return static_cast<float>(static_cast<long double>(Bits));
  case vtFloat64:
    return static_cast<float>(static_cast<long double>(std::bit_cast<double>(Bits)));
  default:
    ADD_FAILURE() << "no model for type " << int{Type};
  }
  return 0.0f;
}

// Paints the voxels Bits as one view of the given width, the last Missing of
// them beyond the file, and compares every pixel and the range with the model.
void ExpectViewMatchesModel(TViewPainter& Painter, TVoxelType Type, TByteOrder Order,
                            const std::vector<uint64_t>& Bits, int32_t Width, int64_t Missing,
                            const std::array<int32_t, 2>& Ends, bool Flag) {
  TPaintJob job;
  job.Type = Type;
  job.Order = Order;
  job.Width = Width;
  job.Height = static_cast<int32_t>(Bits.size()) / Width;
  job.Count = static_cast<int64_t>(Bits.size()) - Missing;
  std::vector<float> singles;
  for (uint64_t bits : Bits) {
    testfiles::AppendBytes(job.Bytes, bits, BytesPerVoxel[Type], Order);
    singles.push_back(ModelSingle(Type, bits));
  }
  TBitmap24 bitmap;
  const TValueRange range = Paint(Painter, job, TIntensityWindow(Ends[0], Ends[1], Flag), bitmap);
  const auto model = mappingmodel::MakeModel(Ends[0], Ends[1], Flag);
  const std::string what = "type " + std::to_string(Type) + " order " + std::to_string(Order) +
                           " window " + std::to_string(Ends[0]) + ".." + std::to_string(Ends[1]) +
                           " flag " + std::to_string(Flag);
  ExpectPixels(
      bitmap,
      [&](int64_t p) {
        return p < job.Count ? mappingmodel::ModelColour(model, singles[p]) : LightBlue;
      },
      what);
  float low = NoMin, high = NoMax;
  for (int64_t p = 0; p < static_cast<int64_t>(singles.size()); ++p) {
    const float v = p < job.Count ? singles[p] : 0.0f;
    if (low > v)
      low = v;
    if (high < v)
      high = v;
  }
  EXPECT_EQ(std::bit_cast<uint32_t>(range.Min), std::bit_cast<uint32_t>(low)) << what;
  EXPECT_EQ(std::bit_cast<uint32_t>(range.Max), std::bit_cast<uint32_t>(high)) << what;
}

// Windows with both flag settings: ramps up and down, ends on values the
// types hold exactly, the full 32-bit range and a window of width 0.
constexpr std::array<int32_t, 2> ModelWindows[] = {
    {0, 255},        {-128, 127}, {0, 65535},
    {-1, 1},         {10, 20},    {20, 10},
    {-65504, 65504}, {100, 100},  {INT32_MIN, INT32_MAX},
};

TEST(ViewPainterExact, EveryBitPatternOfTheTabledTypesMatchesTheModel) {
  TViewPainter painter; // one throughout, so that a kept table cannot leak
  for (TVoxelType type : {vtInt8, vtUInt16, vtFloat16}) {
    std::vector<uint64_t> patterns(type == vtInt8 ? 256 : 65536);
    for (size_t i = 0; i < patterns.size(); ++i)
      patterns[i] = i;
    const int32_t width = type == vtInt8 ? 16 : 256;
    for (TByteOrder order : {boLittleEndian, boBigEndian})
      for (const auto& ends : ModelWindows)
        for (bool flag : {false, true})
          ExpectViewMatchesModel(painter, type, order, patterns, width, 0, ends, flag);
    // The last row only partly in the file; the range then takes in a 0.
    ExpectViewMatchesModel(painter, type, boBigEndian, patterns, width, 5, {0, 255}, true);
  }
}

TEST(ViewPainterExact, HalfRangeKeepsTheFirstZeroMetAndSkipsNaNs) {
  constexpr uint64_t Zero = 0x0000, MinusZero = 0x8000, One = 0x3C00, MinusOne = 0xBC00,
                     NaN = 0x7E00, MinusNaN = 0xFE01, SignallingNaN = 0x7C01;
  auto row = [](size_t Width, std::initializer_list<std::pair<size_t, uint64_t>> At,
                uint64_t Rest) {
    std::vector<uint64_t> bits(Width, Rest);
    for (const auto& [x, value] : At)
      bits[x] = value;
    return bits;
  };
  struct TCase {
    std::vector<uint64_t> Bits;
    int32_t Width;
  };
  // Zeros of both signs as the extremes, met in the vector part or in the
  // tail of a row, or in different rows; rows of nothing but NaNs.
  const TCase cases[] = {
      {{MinusZero, Zero, One}, 3},
      {{Zero, MinusZero, MinusOne}, 3},
      {{MinusZero, Zero}, 1},
      {{Zero, MinusZero}, 1},
      {{NaN, MinusNaN, SignallingNaN, MinusZero, NaN, One}, 3},
      {{NaN, MinusNaN, SignallingNaN}, 3},
      {row(20, {{9, MinusZero}, {15, Zero}}, One), 20},
      {row(20, {{9, Zero}, {15, MinusZero}, {3, NaN}}, MinusOne), 20},
      {row(20, {{17, Zero}, {18, MinusZero}}, NaN), 20},
      {row(20, {{17, MinusZero}, {19, Zero}, {2, One}, {4, MinusOne}}, SignallingNaN), 20},
  };
  TViewPainter painter;
  for (const TCase& c : cases)
    for (TByteOrder order : {boLittleEndian, boBigEndian})
      ExpectViewMatchesModel(painter, vtFloat16, order, c.Bits, c.Width, 0, {0, 255}, true);
}

TEST(ViewPainterExact, WideValuesRoundToTheNearestSingleWithTiesToEven) {
  constexpr uint64_t Two24 = uint64_t{1} << 24, Two53 = uint64_t{1} << 53,
                     Two63 = uint64_t{1} << 63;
  // Ties and their neighbours where the conversion to single rounds; a route
  // through double would round twice and miss those one above a tie.
  const std::vector<uint64_t> magnitudes = {0,
                                            1,
                                            Two24 - 1,
                                            Two24,
                                            Two24 + 1,
                                            Two24 + 2,
                                            Two24 + 3,
                                            Two24 + 5,
                                            Two53 - 1,
                                            Two53,
                                            Two53 + 1,
                                            Two53 + (uint64_t{1} << 29),
                                            Two53 + (uint64_t{1} << 29) + 1,
                                            Two53 + 3 * (uint64_t{1} << 29),
                                            Two63 - 1,
                                            Two63 - (uint64_t{1} << 38),
                                            Two63 - (uint64_t{1} << 38) - 1,
                                            2147483647,
                                            2147483648u,
                                            2147483649u};
  std::vector<uint64_t> signedBits, unsignedBits;
  for (uint64_t m : magnitudes) {
    signedBits.push_back(m);
    signedBits.push_back(static_cast<uint64_t>(-static_cast<int64_t>(m)));
    unsignedBits.push_back(m);
    unsignedBits.push_back(Two63 + m);
    unsignedBits.push_back(~m); // 2^64 - 1 - m
  }
  signedBits.push_back(Two63); // -2^63
  const std::vector<uint64_t> uint32Bits = {0xFFFFFFFF, 0xFFFFFF80, 0xFFFFFF81, 0xFFFFFF7F,
                                            0xFFFFFE80, 0x80000080, 0x80000180, 0x01000001,
                                            0x01000003, 0x7FFFFFFF, 0,          1};
  const auto bitsOf = [](double V) { return std::bit_cast<uint64_t>(V); };
  const double halfAbove = 0x1.ffffffp+127; // FLT_MAX + half an ulp: a tie that rounds up
  const std::vector<uint64_t> float64Bits = {
      bitsOf(FLT_MAX),
      bitsOf(std::nextafter(static_cast<double>(FLT_MAX), INFINITY)),
      bitsOf(halfAbove),
      bitsOf(std::nextafter(halfAbove, 0.0)),
      bitsOf(std::nextafter(halfAbove, INFINITY)),
      bitsOf(-halfAbove),
      bitsOf(1e39),
      bitsOf(-1e39),
      bitsOf(DBL_MAX),
      bitsOf(INFINITY),
      bitsOf(-INFINITY),
      bitsOf(0x1p-149),
      bitsOf(0x1p-150),
      bitsOf(0x1.8p-150),
      bitsOf(0x1.000001p-150),
      bitsOf(-0x1p-150),
      bitsOf(1e-320),
      bitsOf(-1e-320),
      bitsOf(-0.0),
      bitsOf(0.0),
      bitsOf(0x1.000001p+0),
      bitsOf(127.5),
      bitsOf(128.5),
      bitsOf(16777217.0),
      bitsOf(-2147483648.0),
      bitsOf(2147483647.5),
      0x7FF8000000000000,
      0x7FF8000000000001,
      0xFFFFFFFFFFFFFFFF,
      0x7FF0000000000001,
      0xFFF4000000000000};
  struct TCase {
    TVoxelType Type;
    const std::vector<uint64_t>* Bits;
  };
  const TCase cases[] = {{vtInt64, &signedBits},
                         {vtUInt64, &unsignedBits},
                         {vtUInt32, &uint32Bits},
                         {vtFloat64, &float64Bits}};
  // Windows whose ends sit on the values, so a mis-rounded single changes a
  // flag or a grey level; then each value on its own, for the range.
  constexpr std::array<int32_t, 2> edges[] = {{16777215, 16777216},
                                              {16777216, 16777218},
                                              {16777217, 16777219},
                                              {2147483520, INT32_MAX},
                                              {INT32_MIN, -2147483520},
                                              {-1, 0},
                                              {0, 255},
                                              {INT32_MIN, INT32_MAX}};
  TViewPainter painter;
  for (const TCase& c : cases)
    for (TByteOrder order : {boLittleEndian, boBigEndian}) {
      for (const auto& ends : edges)
        for (bool flag : {false, true})
          ExpectViewMatchesModel(painter, c.Type, order, *c.Bits, 1, 0, ends, flag);
      for (uint64_t bits : *c.Bits)
        ExpectViewMatchesModel(painter, c.Type, order, {bits, bits}, 2, 1, {0, 255}, true);
    }
}

// Bits of every type for rows painted eight voxels at a time: any pattern;
// whole values around the window; singles beside the half levels of the
// window 0..1000 and beside the single overflow of its mapping, which only the
// exact path can settle; zeros of both signs; 64-bit integers around 2^52.
std::vector<uint64_t> MixedBits(TVoxelType Type, size_t Count, std::mt19937_64& Random) {
  const int size = BytesPerVoxel[Type];
  const uint64_t mask = size == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * size)) - 1;
  const bool isFloat = VoxelTypeTable[Type].Float;
  const auto bitsOf = [&](float v) -> uint64_t {
    switch (Type) {
    case vtFloat16:
      return testfiles::HalfBits(std::round(v));
    case vtFloat32:
      return std::bit_cast<uint32_t>(v);
    case vtFloat64:
      return std::bit_cast<uint64_t>(static_cast<double>(v));
    default:
      return static_cast<uint64_t>(static_cast<int64_t>(v)) & mask;
    }
  };
  std::vector<uint64_t> bits(Count);
  for (uint64_t& b : bits) {
    const float whole = static_cast<float>(static_cast<int64_t>(Random() % 1600) - 300);
    const float halfLevel = (static_cast<float>(Random() % 256) + 0.5f) / 0.255f;
    const float edge = 0x1p127f / 0.255f;
    switch (Random() % 7) {
    case 0:
      b = Random() & mask;
      break;
    case 6: // 64-bit integers about where a double stops holding them with room to spare
      b = ((uint64_t{1} << (49 + Random() % 5)) + (Random() >> 14)) * (Random() % 2 ? 1 : -1) &
          mask;
      break;
    case 1:
      b = bitsOf(std::nextafter(halfLevel, Random() % 2 ? INFINITY : 0.0f));
      break;
    case 2:
      b = isFloat ? bitsOf(halfLevel) : bitsOf(whole);
      break;
    case 3:
      b = isFloat && Type != vtFloat16 ? bitsOf(Random() % 2 ? edge : -std::nextafter(edge, 0.0f))
                                       : bitsOf(whole);
      break;
    case 4:
      b = isFloat ? bitsOf(Random() % 2 ? 0.0f : -0.0f) : bitsOf(whole);
      break;
    default:
      b = bitsOf(whole);
    }
  }
  return bits;
}

// The rows the AVX2 kernels paint in blocks of eight, starting at every
// alignment the bitmap's rows can have, with tails, a last row partly in the
// file, and a bitmap large enough to be streamed to memory; each type, both
// byte orders, windows up, down and over the whole 32-bit range.
TEST(ViewPainterExact, RowsPaintedInBlocksMatchTheModel) {
  if (!mappingmodel::HardwareExtended)
    GTEST_SKIP() << "long double is not the x87 extended format here";
  std::mt19937_64 random(21);
  constexpr std::array<int32_t, 2> windows[] = {
      {0, 1000}, {1000, 0}, {-128, 127}, {INT32_MIN, INT32_MAX}};
  TViewPainter painter;
  for (int t = 0; t < VoxelTypeCount; ++t) {
    const auto type = static_cast<TVoxelType>(t);
    const std::vector<uint64_t> small = MixedBits(type, 61 * 13, random);
    for (TByteOrder order : {boLittleEndian, boBigEndian})
      for (const auto& ends : windows)
        for (bool flag : {false, true})
          ExpectViewMatchesModel(painter, type, order, small, 61, 5, ends, flag);
    // Colours cannot tell large values apart, the range can: rows of one value.
    for (uint64_t bits : MixedBits(type, 256, random))
      ExpectViewMatchesModel(painter, type, boLittleEndian, std::vector<uint64_t>(16, bits), 16, 0,
                             {0, 1000}, false);
    // 3000-byte rows start 8 bytes off a 16-byte boundary every other row.
    const std::vector<uint64_t> large =
        MixedBits(type, 1000 * 704 / mappingmodel::CaseDivisor, random);
    ExpectViewMatchesModel(painter, type, boBigEndian, large, 1000, 3, {0, 1000}, true);
  }
}

// Around window ends where singles are 4 apart, a value and the next one below
// it can round to the same single or to either side of the end.
TEST(ViewPainterExact, IntegersBesideCoarseWindowEndsMatchTheModel) {
  if (!mappingmodel::HardwareExtended)
    GTEST_SKIP() << "long double is not the x87 extended format here";
  constexpr int32_t Two25 = 1 << 25;
  constexpr std::array<int32_t, 2> windows[] = {
      {Two25 + 7, Two25 + 9}, {Two25 + 9, Two25 + 7}, {Two25 + 3, Two25 + 3}, {-Two25 - 7, Two25}};
  TViewPainter painter;
  for (TVoxelType type : {vtInt32, vtUInt32, vtInt64, vtUInt64})
    for (const auto& ends : windows) {
      const uint64_t mask = BytesPerVoxel[type] == 4 ? 0xFFFFFFFF : ~uint64_t{0};
      std::vector<uint64_t> bits;
      for (int32_t end : ends)
        for (int64_t v = int64_t{end} - 12; v < int64_t{end} + 12; ++v)
          bits.push_back(static_cast<uint64_t>(v) & mask);
      for (bool flag : {false, true})
        ExpectViewMatchesModel(painter, type, boLittleEndian, bits, 16, 0, ends, flag);
    }
}

TEST(ViewPainter, PositionsFromTheCountOnAreLightBlueEvenMidRow) {
  const TVoxelType types[] = {vtByte, vtInt16, vtInt32, vtFloat32};
  struct TSplit {
    int32_t Width, Height;
    int64_t Count;
  };
  const TSplit splits[] = {{5, 3, 7}, {4, 3, 6}, {4, 3, 0}, {4, 3, 12}, {1, 4, 3}, {7, 1, 6}};
  for (TVoxelType type : types)
    for (const TSplit& split : splits) {
      std::vector<double> values;
      for (int64_t p = 0; p < int64_t{split.Width} * split.Height; ++p)
        values.push_back(p < split.Count ? 10.0 * (p + 1) : 0.0);
      TPaintJob job = JobOf(type, boLittleEndian, values, split.Width);
      job.Count = split.Count;
      TViewPainter painter;
      TBitmap24 bitmap;
      const TValueRange range = Paint(painter, job, TIntensityWindow(0, 255, false), bitmap);
      const std::string what = "type " + std::to_string(type) + ", " + std::to_string(split.Width) +
                               " x " + std::to_string(split.Height) + ", count " +
                               std::to_string(split.Count);
      ExpectPixels(
          bitmap,
          [&](int64_t p) {
            return p < split.Count ? Grey(static_cast<int>(10 * (p + 1))) : LightBlue;
          },
          what);
      const bool allInFile = split.Count == int64_t{split.Width} * split.Height;
      EXPECT_EQ(range.Min, allInFile ? 10.0f : 0.0f) << what;
      EXPECT_EQ(range.Max, static_cast<float>(10 * split.Count)) << what;
    }
}

TEST(ViewPainter, ValuesBeyondTheCountTakePartAsZeroWhateverTheBytes) {
  // The bytes past the count are garbage here; the range must not see them.
  TPaintJob job = JobOf(vtInt16, boLittleEndian, {40, 50, 60, 250, -250, 77}, 3);
  job.Count = 3;
  TViewPainter painter;
  TBitmap24 bitmap;
  const TValueRange range = Paint(painter, job, TIntensityWindow(0, 255, true), bitmap);
  EXPECT_EQ(range.Min, 0.0f);
  EXPECT_EQ(range.Max, 60.0f);
  ExpectPixels(
      bitmap, [](int64_t p) { return p < 3 ? Grey(static_cast<int>(40 + 10 * p)) : LightBlue; },
      "garbage past the count");
}

TEST(ViewPainter, DecodesBigEndianVoxels) {
  // Window -100..155: Scale 1, so a value v paints grey v + 100. Read with the
  // wrong byte order each of these would paint another grey.
  struct TCase {
    TVoxelType Type;
    std::vector<uint8_t> Bytes;
    double Value;
  };
  const TCase cases[] = {
      {vtInt16, {0x00, 0x07}, 7},
      {vtInt16, {0xFF, 0xF9}, -7},
      {vtInt16, {0x00, 0x9B}, 155},
      {vtInt32, {0x00, 0x00, 0x00, 0x2A}, 42},
      {vtInt32, {0xFF, 0xFF, 0xFF, 0xB0}, -80},
      {vtInt32, {0x00, 0x00, 0x00, 0x01}, 1},
      {vtFloat32, {0x41, 0x48, 0x00, 0x00}, 12.5},  // 112.5 paints the even 112
      {vtFloat32, {0xC2, 0xC7, 0x00, 0x00}, -99.5}, // 0.5 paints 0
      {vtFloat32, {0x42, 0x1A, 0x00, 0x00}, 38.5},  // 138.5 paints 138
      {vtFloat32, {0x3F, 0x80, 0x00, 0x00}, 1.0},
  };
  for (const TCase& c : cases) {
    TPaintJob job;
    job.Type = c.Type;
    job.Order = boBigEndian;
    job.Width = 1;
    job.Height = 1;
    job.Bytes = c.Bytes;
    TViewPainter painter;
    TBitmap24 bitmap;
    const TValueRange range = Paint(painter, job, TIntensityWindow(-100, 155, false), bitmap);
    EXPECT_EQ(PixelAt(bitmap, 0, 0), Grey(EvenLevel(c.Value + 100.0)))
        << "type " << int(c.Type) << " value " << c.Value;
    EXPECT_EQ(range.Min, static_cast<float>(c.Value));
    EXPECT_EQ(range.Max, static_cast<float>(c.Value));
  }
}

TEST(ViewPainter, RangeFollowsThePaintOrder) {
  // Minimum and maximum are taken with strict comparisons in paint order, so of
  // two equal zeros the first one met stays.
  TViewPainter painter;
  TBitmap24 bitmap;
  const TIntensityWindow window(0, 255, false);
  const TValueRange negativeFirst =
      Paint(painter, JobOf(vtFloat32, boLittleEndian, {-0.0, 0.0}, 2), window, bitmap);
  EXPECT_TRUE(std::signbit(negativeFirst.Min));
  EXPECT_TRUE(std::signbit(negativeFirst.Max));
  const TValueRange positiveFirst =
      Paint(painter, JobOf(vtFloat32, boLittleEndian, {0.0, -0.0}, 1), window, bitmap);
  EXPECT_FALSE(std::signbit(positiveFirst.Min));
  EXPECT_FALSE(std::signbit(positiveFirst.Max));

  const TValueRange ints =
      Paint(painter, JobOf(vtInt16, boBigEndian, {5, -3, 9, 0, -3, 9}, 3), window, bitmap);
  EXPECT_EQ(ints.Min, -3.0f);
  EXPECT_EQ(ints.Max, 9.0f);
}

TEST(ViewPainter, NaNsAreYellowAndOutsideTheRangeInfinitiesInside) {
  const uint32_t quietNaN = 0x7FC00000, signallingNaN = 0x7F800001, negativeNaN = 0xFFC00001,
                 plusInf = 0x7F800000, minusInf = 0xFF800000;
  TPaintJob job;
  job.Type = vtFloat32;
  job.Width = 4;
  job.Height = 2;
  const uint32_t bits[] = {quietNaN,
                           std::bit_cast<uint32_t>(7.0f),
                           signallingNaN,
                           std::bit_cast<uint32_t>(-3.0f),
                           negativeNaN,
                           0x7FFFFFFF,
                           std::bit_cast<uint32_t>(2.5f),
                           0xFFBFFFFF};
  for (uint32_t b : bits)
    testfiles::AppendFloatBits(job.Bytes, b, boLittleEndian);
  TViewPainter painter;
  TBitmap24 bitmap;
  TValueRange range = Paint(painter, job, TIntensityWindow(0, 255, true), bitmap);
  const uint32_t expected[] = {Yellow, Grey(7), Yellow, Green, Yellow, Yellow, Grey(2), Yellow};
  ExpectPixels(
      bitmap, [&](int64_t p) { return expected[p]; }, "NaNs");
  EXPECT_EQ(range.Min, -3.0f);
  EXPECT_EQ(range.Max, 7.0f);

  job.Bytes.clear();
  for (uint32_t b : {plusInf, minusInf, quietNaN, std::bit_cast<uint32_t>(1.5f)})
    testfiles::AppendFloatBits(job.Bytes, b, boLittleEndian);
  job.Height = 1;
  range = Paint(painter, job, TIntensityWindow(0, 255, false), bitmap);
  ExpectPixels(
      bitmap,
      [](int64_t p) {
        return std::array{Grey(255), Grey(0), Yellow, Grey(2)}[p];
      },
      "infinities");
  EXPECT_EQ(range.Min, -std::numeric_limits<float>::infinity());
  EXPECT_EQ(range.Max, std::numeric_limits<float>::infinity());
}

TEST(ViewPainter, MappedLevelsBeyondTheSingleRangeAreYellow) {
  // Window 0..1: Scale 255, so any value above FLT_MAX / 255 (about 1.33e38)
  // overflows when mapped, while 1e36 still maps to a finite level.
  const std::vector<double> values = {3e38, -3e38, 2e36, 1e36, -1e36, 0.5, 1.0, 1e-45};
  const std::vector<uint32_t> expected = {Yellow,  Yellow,    Yellow,    Grey(255),
                                          Grey(0), Grey(128), Grey(255), Grey(0)};
  TViewPainter painter;
  TBitmap24 bitmap;
  for (bool flag : {false, true}) {
    const TValueRange range = Paint(painter, JobOf(vtFloat32, boLittleEndian, values, 4),
                                    TIntensityWindow(0, 1, flag), bitmap);
    ExpectPixels(
        bitmap,
        [&](int64_t p) {
          if (!flag || expected[p] == Yellow)
            return expected[p];
          return values[p] > 1.0 ? Red : values[p] < 0.0 ? Green : expected[p];
        },
        flag ? "overflow, flagged" : "overflow");
    // Overflowing values were met before they turned out unmappable.
    EXPECT_EQ(range.Min, -3e38f);
    EXPECT_EQ(range.Max, 3e38f);
  }
}

struct TWindowStep {
  TVoxelType Type;
  int32_t Min, Max;
  bool Flag;
};

// The colour of an integer or half-integer value for the simple windows used
// below, computed without the painter's arithmetic.
uint32_t ExpectedColour(const TWindowStep& Step, double V) {
  // Over wins when a reversed window makes a value both under and over.
  if (Step.Flag && V > Step.Max)
    return Red;
  if (Step.Flag && V < Step.Min)
    return Green;
  if (Step.Min == 0 && Step.Max == 255)
    return Grey(EvenLevel(V)); // Scale 1
  if (Step.Min == 0 && Step.Max == 510)
    return Grey(EvenLevel(V / 2)); // Scale 0.5
  if (Step.Min == 255 && Step.Max == 0)
    return Grey(EvenLevel(255 - V)); // Scale -1
  ADD_FAILURE() << "no reference for window " << Step.Min << ".." << Step.Max;
  return 0;
}

TEST(ViewPainter, ColourTableFollowsWindowAndTypeChanges) {
  // One painter through a sequence of windows and types, as the window's
  // redraws would drive it: a table kept from an earlier call must never leak.
  std::vector<double> allInt16, allBytes, someInt32;
  for (int v = -32768; v <= 32767; ++v)
    allInt16.push_back(v);
  for (int v = 0; v <= 255; ++v)
    allBytes.push_back(v);
  for (int v = -700; v < 800; ++v)
    someInt32.push_back(v * 3 % 1000);
  const TPaintJob int16Job = JobOf(vtInt16, boLittleEndian, allInt16, 256);
  const TPaintJob byteJob = JobOf(vtByte, boLittleEndian, allBytes, 16);
  const TPaintJob int32Job = JobOf(vtInt32, boBigEndian, someInt32, 100);
  const TWindowStep steps[] = {
      {vtInt16, 0, 255, false}, {vtInt16, 0, 510, false}, {vtInt16, 0, 255, false},
      {vtByte, 0, 255, false},  {vtInt16, 0, 255, false}, {vtByte, 0, 510, false},
      {vtInt16, 0, 510, false}, {vtInt16, 255, 0, false}, {vtInt16, 0, 255, true},
      {vtInt16, 0, 255, false}, {vtByte, 0, 255, true},   {vtByte, 0, 255, false},
      {vtInt32, 0, 255, false}, {vtInt32, 0, 510, false}, {vtInt16, 0, 510, false},
      {vtByte, 255, 0, false},  {vtInt32, 255, 0, true},  {vtByte, 0, 510, true},
  };
  TViewPainter painter;
  TBitmap24 bitmap;
  int stepNumber = 0;
  for (const TWindowStep& step : steps) {
    const TPaintJob& job = step.Type == vtInt16  ? int16Job
                           : step.Type == vtByte ? byteJob
                                                 : int32Job;
    const std::vector<double>& values = step.Type == vtInt16  ? allInt16
                                        : step.Type == vtByte ? allBytes
                                                              : someInt32;
    Paint(painter, job, TIntensityWindow(step.Min, step.Max, step.Flag), bitmap);
    ExpectPixels(
        bitmap, [&](int64_t p) { return ExpectedColour(step, values[p]); },
        "step " + std::to_string(stepNumber++));
  }
}

TEST(ViewPainter, HalfLevelsRoundToEven) {
  // Float voxels with halves at every level, through windows of scale 1 and 0.5.
  std::vector<double> halves;
  for (int i = -20; i < 1100; ++i)
    halves.push_back(i / 2.0);
  const TPaintJob job = JobOf(vtFloat32, boLittleEndian, halves, 40);
  TViewPainter painter;
  TBitmap24 bitmap;
  for (const TWindowStep& step :
       {TWindowStep{vtFloat32, 0, 255, false}, TWindowStep{vtFloat32, 0, 510, false},
        TWindowStep{vtFloat32, 255, 0, false}}) {
    Paint(painter, job, TIntensityWindow(step.Min, step.Max, false), bitmap);
    ExpectPixels(
        bitmap, [&](int64_t p) { return ExpectedColour(step, halves[p]); },
        "window " + std::to_string(step.Min) + ".." + std::to_string(step.Max));
  }
}

TEST(ViewPainter, RowPaddingStaysUntouched) {
  // Wide stores must stop at the last pixel of a row, whatever the width.
  constexpr uint8_t Marker = 0xAB;
  TViewPainter painter;
  const TIntensityWindow window(10, 20, true); // grey, under and over all occur
  for (TVoxelType type : {vtByte, vtInt16, vtInt32, vtFloat32, vtFloat64})
    for (int32_t width = 1; width <= 13; ++width) {
      std::vector<double> values;
      for (int32_t p = 0; p < 2 * width; ++p)
        values.push_back(std::array{5.0, 15.0, 25.0, 12.0}[p % 4]);
      const TPaintJob job = JobOf(type, boLittleEndian, values, width);
      TBitmap24 bitmap;
      bitmap.SetSize(width, 2);
      std::memset(bitmap.ScanLine(0), Marker, static_cast<size_t>(bitmap.Stride()) * 2);
      painter.Paint(job.Source(), window, bitmap, nullptr);
      for (int32_t y = 0; y < 2; ++y)
        for (int32_t b = 3 * width; b < bitmap.Stride(); ++b)
          EXPECT_EQ(bitmap.ScanLine(y)[b], Marker) << "type " << type << " width " << width;
    }
}

TEST(ViewPainter, PaintsNothingIntoAnEmptyBitmap) {
  TViewPainter painter;
  for (const auto& size : {std::array{0, 5}, std::array{5, 0}, std::array{0, 0}}) {
    TPaintJob job;
    job.Type = vtInt16;
    job.Width = size[0];
    job.Height = size[1];
    TBitmap24 bitmap;
    const TValueRange range = Paint(painter, job, TIntensityWindow(0, 255, false), bitmap);
    EXPECT_EQ(range.Min, NoMin);
    EXPECT_EQ(range.Max, NoMax);
  }
}

TEST(ViewPainter, FillPaintsEveryPixel) {
  for (const uint32_t colour : {Yellow, LightBlue, 0x123456u}) {
    TBitmap24 bitmap;
    bitmap.SetSize(5, 3);
    for (int32_t y = 0; y < 3; ++y)
      std::fill_n(bitmap.ScanLine(y), bitmap.Stride(), uint8_t{0xAA});
    TViewPainter::Fill(bitmap, colour);
    ExpectPixels(
        bitmap, [&](int64_t) { return colour; }, "fill");
    // Blue first in memory.
    EXPECT_EQ(bitmap.ScanLine(2)[12], colour & 0xFF);
    EXPECT_EQ(bitmap.ScanLine(2)[14], colour >> 16);
  }
  TBitmap24 empty;
  empty.SetSize(0, 4);
  TViewPainter::Fill(empty, Yellow);
  EXPECT_EQ(empty.Height(), 4);
}

} // namespace
