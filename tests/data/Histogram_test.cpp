#include "TestFiles.h"
#include "data/Histogram.h"
#include "data/VxDataMgr.h"
#include "data/WideRow.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace {

using namespace testfiles;
__extension__ typedef __int128 int128;

constexpr int32_t WindowMin = -100;
constexpr int32_t WindowMax = 1000;

// The values a file holds, as the model knows them: each finite one is
// exactly Scaled x 2^Exponent, so every question about it is integer arithmetic.
struct TModel {
  int Exponent = 0;
  std::vector<int128> Finite;
  int64_t NaN = 0;
  int64_t PlusInfinity = 0;
  int64_t MinusInfinity = 0;

  double ValueOf(int128 Scaled) const { return std::ldexp(static_cast<double>(Scaled), Exponent); }
  bool Below(int128 Scaled, int32_t End) const {
    return Exponent == 0 ? Scaled < End : ValueOf(Scaled) < End;
  }
  bool Above(int128 Scaled, int32_t End) const {
    return Exponent == 0 ? Scaled > End : ValueOf(Scaled) > End;
  }
};

int128 Floor(int128 A, int128 B) {
  const int128 q = A / B;
  return (A % B != 0 && (A < 0) != (B < 0)) ? q - 1 : q;
}

// X x 2^(9 - Exponent), floored: on that scale every bin's lowest edge, Low +
// k (High - Low) / 512, is an integer.
int128 EdgeScaled(const TVoxelValue& X, int Exponent) {
  switch (X.Kind) {
  case TVoxelValue::Signed:
    return int128{X.SignedValue} * 512;
  case TVoxelValue::Unsigned:
    return int128{X.UnsignedValue} * 512;
  case TVoxelValue::Real:
    break;
  }
  return static_cast<int128>(std::floor(std::ldexp(X.RealValue, 9 - Exponent)));
}

TVoxelValue Previous(TVoxelValue X) {
  switch (X.Kind) {
  case TVoxelValue::Signed:
    --X.SignedValue;
    break;
  case TVoxelValue::Unsigned:
    --X.UnsignedValue;
    break;
  case TVoxelValue::Real:
    X.RealValue = std::nextafter(X.RealValue, -HUGE_VAL);
    break;
  }
  return X;
}

int128 ScaledOf(const TVoxelValue& X, int Exponent) {
  switch (X.Kind) {
  case TVoxelValue::Signed:
    return X.SignedValue;
  case TVoxelValue::Unsigned:
    return X.UnsignedValue;
  case TVoxelValue::Real:
    break;
  }
  return static_cast<int128>(std::ldexp(X.RealValue, -Exponent));
}

int32_t Clamp32(int128 V) {
  return static_cast<int32_t>(std::clamp<int128>(V, INT32_MIN, INT32_MAX));
}

// The floor of V x 2^Exponent, as far as a 32-bit window can tell.
int128 FloorOf(int128 V, int Exponent) {
  if (Exponent >= 0)
    return V << std::min(Exponent, 40);
  if (Exponent <= -100)
    return V < 0 ? -1 : 0;
  return V >> -Exponent; // an arithmetic shift floors
}

// Everything the histogram says, against the model's own count.
void ExpectModel(const THistogram& Histogram, const std::optional<TWindowEnds>& Window,
                 const TModel& Model, const std::string& What) {
  SCOPED_TRACE(What);
  const auto finite = static_cast<int64_t>(Model.Finite.size());
  EXPECT_EQ(Histogram.Values, finite + Model.NaN + Model.PlusInfinity + Model.MinusInfinity);
  EXPECT_EQ(Histogram.NaN, Model.NaN);
  EXPECT_EQ(Histogram.PlusInfinity, Model.PlusInfinity);
  EXPECT_EQ(Histogram.MinusInfinity, Model.MinusInfinity);
  int64_t under = Model.MinusInfinity, over = Model.PlusInfinity;
  for (const int128 v : Model.Finite)
    under += Model.Below(v, WindowMin), over += Model.Above(v, WindowMax);
  EXPECT_EQ(Histogram.Under, under);
  EXPECT_EQ(Histogram.Over, over);
  ASSERT_EQ(Histogram.Shape, THistogram::Spread);

  std::vector<int128> sorted = Model.Finite;
  std::sort(sorted.begin(), sorted.end());
  const int128 low = sorted.front(), high = sorted.back();
  EXPECT_TRUE(ScaledOf(Histogram.Low, Model.Exponent) == low);
  EXPECT_TRUE(ScaledOf(Histogram.High, Model.Exponent) == high);

  std::vector<int64_t> bins(static_cast<size_t>(Histogram.BinCount()));
  for (const int128 v : Model.Finite) {
    const int128 bin = Histogram.OnePerValue()
                           ? v - ScaledOf(Histogram.Edges[0], 0)
                           : std::min<int128>(Floor((v - low) * 512, high - low), 511);
    ++bins.at(static_cast<size_t>(bin));
  }
  EXPECT_EQ(Histogram.Bins, bins);

  // Each wide bin opens at the smallest value that the floor puts into it.
  if (!Histogram.OnePerValue())
    for (int k = 1; k < THistogram::WideBins; ++k) {
      const int128 threshold = low * 512 + k * (high - low);
      const TVoxelValue& edge = Histogram.Edges[k];
      EXPECT_GE(EdgeScaled(edge, Model.Exponent), threshold) << "edge " << k;
      EXPECT_LT(EdgeScaled(Previous(edge), Model.Exponent), threshold) << "edge " << k;
    }

  const int64_t cut = finite / 200;
  ASSERT_TRUE(Window.has_value());
  EXPECT_EQ(Window->Min, Clamp32(FloorOf(sorted[cut], Model.Exponent)));
  EXPECT_EQ(Window->Max, Clamp32(-FloorOf(-sorted[finite - 1 - cut], Model.Exponent)));
}

// Stored bits of a finite model value, or of a NaN or an infinity.
uint64_t BitsOf(TVoxelType Type, double Value) {
  switch (Type) {
  case vtFloat16:
    return HalfBits(Value);
  case vtFloat32:
    return std::bit_cast<uint32_t>(static_cast<float>(Value));
  default:
    break;
  }
  return std::bit_cast<uint64_t>(Value);
}

struct TTypeCase {
  TVoxelType Type;
  int128 Least; // the range drawn from, as model integers
  int128 Most;
  int Exponent; // 0 for the integer types
};

// Every type through the data manager, as the window reads the first view:
// a file that ends inside the slice, values drawn over the type's range
// with its extremes, and NaNs and infinities among the floats.
TEST(Histogram, CountsEveryTypeAsAnIndependentCount) {
  const TTypeCase cases[] = {
      {vtByte, 0, 255, 0},
      {vtInt8, -128, 127, 0},
      {vtInt16, INT16_MIN, INT16_MAX, 0},
      {vtUInt16, 0, UINT16_MAX, 0},
      {vtInt32, INT32_MIN, INT32_MAX, 0},
      {vtUInt32, 0, UINT32_MAX, 0},
      {vtInt64, INT64_MIN, INT64_MAX, 0},
      {vtUInt64, 0, UINT64_MAX, 0},
      {vtFloat16, -1000, 1000, -4},
      {vtFloat32, -(int128{1} << 20), int128{1} << 20, -4},
      {vtFloat64, -(int128{1} << 40), int128{1} << 40, -4},
  };
  TTempDir dir;
  std::mt19937_64 random(20);
  for (const TTypeCase& c : cases) {
    const TVoxelTypeFacts& facts = FactsOf(c.Type);
    const TByteOrder order = c.Type % 2 ? boBigEndian : boLittleEndian;
    TModel model;
    model.Exponent = c.Exponent;
    std::vector<uint8_t> bytes = {1, 2, 3}; // a header
    const auto append = [&](uint64_t Bits) { AppendBytes(bytes, Bits, facts.Bytes, order); };
    for (int i = 0; i < 3001; ++i) {
      int128 v = c.Least + static_cast<int128>(random() % static_cast<uint64_t>(c.Most - c.Least));
      if (i < 2)
        v = i == 0 ? c.Least : c.Most;
      else if (i % 7 == 0)
        v = std::clamp<int128>(static_cast<int128>(random() % 3000) - 500, c.Least, c.Most);
      if (facts.Float && i % 97 == 5) {
        const double special = i % 3 == 0 ? NAN : i % 3 == 1 ? HUGE_VAL : -HUGE_VAL;
        ++(i % 3 == 0 ? model.NaN : i % 3 == 1 ? model.PlusInfinity : model.MinusInfinity);
        append(BitsOf(c.Type, special));
        continue;
      }
      model.Finite.push_back(v);
      append(facts.Float ? BitsOf(c.Type, model.ValueOf(v)) : static_cast<uint64_t>(v));
    }
    if (c.Type == vtFloat32) { // a signalling NaN is a NaN too
      ++model.NaN;
      AppendBytes(bytes, 0x7F800001u, 4, order);
    }
    if (facts.Bytes > 1)
      bytes.push_back(0xEE); // part of a voxel: not in the file as a whole one
    TVxDataMgr mgr;
    mgr.OpenFile(dir.MakeFile(facts.Name, bytes));
    mgr.SetParameters(3, 64, 64, 1, c.Type, order, WindowMin, WindowMax, false);
    TTestImage image;
    mgr.RenderView(0, 0, vkSlice, image);
    const THistogramSource source{mgr.ViewBuffer(vkSlice).data(), mgr.ViewVoxelCount(vkSlice),
                                  c.Type, order};
    ExpectModel(ComputeHistogram(source, WindowMin, WindowMax), PercentileWindow(source), model,
                facts.Name);
  }
}

// Integers of a range narrower than the view are binned through a table of
// their offsets: ranges narrower than the bins, on both sides of the table's
// limit of 2^16 values, at both ends of each type and in both byte orders.
TEST(Histogram, NarrowIntegerRangesAsAnIndependentCount) {
  const struct {
    TVoxelType Type;
    int128 Least;
  } types[] = {{vtInt32, INT32_MIN},
               {vtUInt32, UINT32_MAX - 70000},
               {vtInt64, -700},
               {vtUInt64, UINT64_MAX - 65536}};
  std::mt19937_64 random(16);
  for (const auto& t : types)
    for (const int128 width : {int128{37}, int128{1999}, int128{65535}, int128{65536}}) {
      TModel model;
      std::vector<uint8_t> bytes;
      const TByteOrder order = width % 2 ? boBigEndian : boLittleEndian;
      const int count = 70'001;
      for (int i = 0; i < count; ++i) {
        const int128 v = i < 2 ? t.Least + i * width
                               : t.Least + static_cast<int128>(random() % uint64_t(width + 1));
        model.Finite.push_back(v);
        AppendBytes(bytes, static_cast<uint64_t>(v), BytesPerVoxel[t.Type], order);
      }
      const THistogramSource source{bytes.data(), count, t.Type, order};
      ExpectModel(ComputeHistogram(source, WindowMin, WindowMax), PercentileWindow(source), model,
                  std::string(FactsOf(t.Type).Name) + " over " + std::to_string(int64_t(width)));
    }
}

// A view large enough to be binned on two threads once its range is known,
// whose end is not a whole block: on two threads and on one, the runs
// together count every voxel once, without a guess and against a wrong one.
TEST(Histogram, ALargeViewAsAnIndependentCount) {
  const bool wasShared = SetHistogramSecondThread(true);
  const struct {
    TVoxelType Type;
    int Exponent;
  } types[] = {{vtInt32, 0}, {vtUInt64, 0}, {vtFloat32, -4}, {vtFloat64, -4}};
  std::mt19937_64 random(30);
  for (const auto& t : types) {
    const TByteOrder order =
        t.Type == vtUInt64 || t.Type == vtFloat32 ? boBigEndian : boLittleEndian;
    TModel model;
    model.Exponent = t.Exponent;
    std::vector<uint8_t> bytes;
    const int count = (1 << 18) + 12'345;
    for (int i = 0; i < count; ++i) {
      const auto v = static_cast<int128>(random() % 2'000'000) - (t.Type == vtUInt64 ? 0 : 999'999);
      model.Finite.push_back(v);
      const uint64_t bits =
          t.Exponent ? BitsOf(t.Type, model.ValueOf(v)) : static_cast<uint64_t>(v);
      AppendBytes(bytes, bits, BytesPerVoxel[t.Type], order);
    }
    for (const bool shared : {true, false}) {
      SetHistogramSecondThread(shared);
      const std::string name = std::string(FactsOf(t.Type).Name) + (shared ? " shared" : "");
      THistogramSource source{bytes.data(), count, t.Type, order};
      ExpectModel(ComputeHistogram(source, WindowMin, WindowMax), PercentileWindow(source), model,
                  name);
      source.GuessLow = model.ValueOf(-999'999) - 1, source.GuessHigh = model.ValueOf(1'000'000);
      ExpectModel(ComputeHistogram(source, WindowMin, WindowMax), PercentileWindow(source), model,
                  name + " against a wrong guess");
    }
  }
  SetHistogramSecondThread(wasShared);
}

// A guess of the range, right or wrong, changes nothing of the count: every
// wide type, narrow and wide ranges, NaNs and infinities among the floats,
// against the count without a guess.
TEST(Histogram, AGuessOfTheRangeNeverChangesTheCount) {
  const auto same = [](const TVoxelValue& A, const TVoxelValue& B) {
    return A.Kind == B.Kind && A.SignedValue == B.SignedValue &&
           A.UnsignedValue == B.UnsignedValue &&
           std::bit_cast<uint64_t>(A.RealValue) == std::bit_cast<uint64_t>(B.RealValue);
  };
  std::mt19937_64 random(7);
  for (const TVoxelType type : {vtInt32, vtUInt32, vtInt64, vtUInt64, vtFloat32, vtFloat64})
    for (const double spread : {900.0, 1e6}) {
      const TVoxelTypeFacts& facts = FactsOf(type);
      std::vector<uint8_t> bytes;
      for (int i = 0; i < 5000; ++i) {
        // Across an end of the window: the counts under and over come from the table too.
        double v = std::floor(static_cast<double>(random() % 1'000'000) / 1e6 * spread) +
                   (facts.Signed ? -400 : 600);
        if (i == 0 && !facts.Signed)
          v = 0; // over a window below zero only as everything unsigned is
        if (facts.Float)
          v = i % 301 == 7 ? (i % 2 ? NAN : -HUGE_VAL) : v / 4 - spread / 16;
        AppendVoxel(bytes, type, boLittleEndian, v);
      }
      THistogramSource source{bytes.data(), 5000, type, boLittleEndian};
      // The second window lies wholly below zero: every unsigned value is over it.
      for (const auto& [min, max] : {std::pair{WindowMin, WindowMax}, std::pair{-50, -10}}) {
        source.GuessLow = source.GuessHigh = NAN;
        const THistogram plain = ComputeHistogram(source, min, max);
        ASSERT_EQ(plain.Shape, THistogram::Spread);
        const double low = plain.Low.AsDouble(), high = plain.High.AsDouble();
        const double guesses[][2] = {{low, high},     {low - 1, high}, {low, high - 1},
                                     {low + 1, high}, {low, high + 1}, {-0.0, high},
                                     {high, low},     {low, NAN},      {-1e300, 1e300}};
        for (const auto& guess : guesses) {
          SCOPED_TRACE(std::string(facts.Name) + " over " + std::to_string(spread) + ", guess " +
                       std::to_string(guess[0]) + " to " + std::to_string(guess[1]) +
                       ", window to " + std::to_string(max));
          source.GuessLow = guess[0], source.GuessHigh = guess[1];
          const THistogram guessed = ComputeHistogram(source, min, max);
          EXPECT_EQ(guessed.Bins, plain.Bins);
          EXPECT_TRUE(same(guessed.Low, plain.Low) && same(guessed.High, plain.High));
          EXPECT_TRUE(std::equal(guessed.Edges.begin(), guessed.Edges.end(), plain.Edges.begin(),
                                 plain.Edges.end(), same));
          EXPECT_EQ(std::tuple(guessed.Under, guessed.Over, guessed.NaN, guessed.MinusInfinity),
                    std::tuple(plain.Under, plain.Over, plain.NaN, plain.MinusInfinity));
        }
      }
    }
}

// A count on the data manager's worker reads the first view as its render
// left it: rendering that view again, closing the file and the manager's end
// each wait for the count before they go on.
TEST(Histogram, ACountAsideEndsBeforeTheViewChanges) {
  TTempDir dir;
  std::vector<uint8_t> bytes;
  for (int v = 0; v < 2 * 128 * 128; ++v)
    AppendBytes(bytes, static_cast<uint64_t>(v < 128 * 128 ? v % 900 : 3000 + v % 77), 2,
                boLittleEndian);
  const std::string name = dir.MakeFile("two-slices.raw", bytes);
  for (const char* next : {"render", "close", "end"}) {
    SCOPED_TRACE(next);
    auto mgr = std::make_unique<TVxDataMgr>();
    mgr->OpenFile(name);
    mgr->SetParameters(0, 128, 128, 2, vtUInt16, boLittleEndian, WindowMin, WindowMax, false);
    TTestImage image;
    mgr->RenderView(0, 0, vkSlice, image);
    const THistogramSource source{mgr->ViewBuffer(vkSlice).data(), mgr->ViewVoxelCount(vkSlice),
                                  vtUInt16, boLittleEndian};
    const THistogram direct = ComputeHistogram(source, WindowMin, WindowMax);
    std::atomic<bool> go = false, done = false;
    THistogram aside;
    mgr->ReadViewAside(vkSlice, [&] {
      while (!go)
        std::this_thread::yield();
      for (int round = 0; round < 20; ++round)
        aside = ComputeHistogram(source, WindowMin, WindowMax);
      done = true;
    });
    go = true;
    if (next[0] == 'r')
      mgr->RenderView(0, 1, vkSlice, image);
    else if (next[0] == 'c')
      mgr->CloseFile();
    else
      mgr.reset();
    ASSERT_TRUE(done);
    EXPECT_EQ(aside.Bins, direct.Bins);
    EXPECT_EQ(aside.High.UnsignedValue, 899u);
  }
  TVxDataMgr mgr;
  mgr.ReadViewAside(vkSlice, [] { throw std::runtime_error("failed aside"); });
  EXPECT_THROW(mgr.WaitForReadAside(), std::runtime_error);
  EXPECT_NO_THROW(mgr.WaitForReadAside());
}

bool SameCount(const THistogram& A, const THistogram& B) {
  const auto same = [](const TVoxelValue& X, const TVoxelValue& Y) {
    return X.Kind == Y.Kind && X.SignedValue == Y.SignedValue &&
           X.UnsignedValue == Y.UnsignedValue &&
           std::bit_cast<uint64_t>(X.RealValue) == std::bit_cast<uint64_t>(Y.RealValue);
  };
  const bool finite = A.Shape == THistogram::OneValue || A.Shape == THistogram::Spread;
  return std::tuple(A.Shape, A.Values, A.Under, A.Over, A.NaN, A.PlusInfinity, A.MinusInfinity,
                    A.Bins) == std::tuple(B.Shape, B.Values, B.Under, B.Over, B.NaN, B.PlusInfinity,
                                          B.MinusInfinity, B.Bins) &&
         (!finite || (same(A.Low, B.Low) && same(A.High, B.High))) &&
         std::equal(A.Edges.begin(), A.Edges.end(), B.Edges.begin(), B.Edges.end(), same);
}

// A count along the render, piece by piece as the render reads them, equals
// the count of the same bytes after it: every type in both orders, narrow and
// wide ranges, a whole slice and one the file cuts short inside a voxel, the
// guess right, wrong or missing; a view too large to render, and a render
// that takes back voxels it had told final, are counted as they end.
TEST(Histogram, ACountAlongTheRenderEqualsTheCountAfterIt) {
  TTempDir dir;
  std::mt19937_64 random(11);
  constexpr int32_t width = 500, rows = 300;
  for (int t = 0; t < VoxelTypeCount; ++t)
    for (const TByteOrder order : {boLittleEndian, boBigEndian})
      for (const bool narrow : {true, false}) {
        const auto type = static_cast<TVoxelType>(t);
        std::vector<uint8_t> bytes;
        for (int i = 0; i < width * rows; ++i)
          if (narrow) // within every type's range, bytes too
            AppendVoxel(bytes, type, order, static_cast<double>(random() % 200));
          else
            AppendBytes(bytes, random(), BytesPerVoxel[type], order);
        const int64_t cut = static_cast<int64_t>(bytes.size()) * 5 / 7 + 1;
        for (const int64_t size : {static_cast<int64_t>(bytes.size()), cut}) {
          const std::string name =
              dir.MakeFile("v.raw", std::vector<uint8_t>(bytes.begin(), bytes.begin() + size));
          TVxDataMgr mgr;
          mgr.OpenFile(name);
          mgr.SetParameters(0, width, rows, 1, type, order, WindowMin, WindowMax, false);
          TTestImage image;
          mgr.RenderView(0, 0, vkSlice, image);
          const THistogramSource after{mgr.ViewBuffer(vkSlice).data(), mgr.ViewVoxelCount(vkSlice),
                                       type, order};
          const THistogram plain = ComputeHistogram(after, WindowMin, WindowMax);
          const double low = plain.Low.AsDouble(), high = plain.High.AsDouble();
          for (const auto& guess : {std::pair{low, high}, std::pair{low - 1, high},
                                    std::pair{double{NAN}, double{NAN}}}) {
            const double guessLow = guess.first, guessHigh = guess.second;
            SCOPED_TRACE(std::string(FactsOf(type).Name) + (order ? " big" : " little") +
                         (narrow ? " narrow " : " wide ") + std::to_string(size) +
                         " bytes, guess " + std::to_string(guessLow));
            mgr.RenderView(0, 1, vkSlice, image); // past the end: the buffer is cleared
            THistogram along;
            mgr.ReadViewAlongRender(vkSlice, [&](const TVxDataMgr::TViewAsRead& View) {
              const THistogramSource source{View.Bytes,
                                            View.Size / BytesPerVoxel[type],
                                            type,
                                            order,
                                            guessLow,
                                            guessHigh,
                                            View.Progress.get()};
              along = ComputeHistogram(source, WindowMin, WindowMax);
            });
            mgr.RenderView(0, 0, vkSlice, image);
            mgr.WaitForReadAside();
            EXPECT_EQ(along.Values, size / BytesPerVoxel[type]);
            EXPECT_TRUE(SameCount(along, plain));
          }
        }
      }
  // Too large to render: nothing lies in the view, and the count still ends.
  TVxDataMgr mgr;
  mgr.SetParameters(0, 1 << 20, 1 << 20, 1, vtFloat32, boLittleEndian, WindowMin, WindowMax, false);
  THistogram along;
  along.Values = -1;
  mgr.ReadViewAlongRender(vkSlice, [&](const TVxDataMgr::TViewAsRead& View) {
    along = ComputeHistogram(
        {View.Bytes, View.Size / 4, vtFloat32, boLittleEndian, NAN, NAN, View.Progress.get()},
        WindowMin, WindowMax);
  });
  TTestImage image;
  mgr.RenderView(0, 0, vkSlice, image);
  mgr.WaitForReadAside();
  EXPECT_EQ(along.Values, 0);
  EXPECT_EQ(along.Shape, THistogram::NoValues);
  // A render that told 30000 voxels final and ended with 7000.
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 30000; ++i)
    AppendVoxel(bytes, vtFloat64, boLittleEndian, i % 7 == 0 ? 5000.0 - i : i * 0.25);
  for (const TVoxelType type : {vtFloat64, vtInt16}) {
    const int64_t most = static_cast<int64_t>(bytes.size()) / BytesPerVoxel[type];
    TReadProgress progress;
    THistogram taken;
    std::thread count([&] {
      taken = ComputeHistogram({bytes.data(), most, type, boLittleEndian, 0.25, 7499.75, &progress},
                               WindowMin, WindowMax);
    });
    progress.Publish(10000);
    progress.Publish(30000);
    progress.End(7000);
    count.join();
    EXPECT_TRUE(SameCount(
        taken, ComputeHistogram({bytes.data(), 7000, type, boLittleEndian}, WindowMin, WindowMax)));
  }
}

// Doubles whose range overflows, and subnormals whose range has no
// reciprocal: the edges stay exact at both ends of the exponent range.
TEST(Histogram, DoubleBinsAtTheEndsOfTheExponentRange) {
  for (const int exponent : {1013, -1074}) {
    TModel model;
    model.Exponent = exponent;
    std::vector<uint8_t> bytes;
    std::mt19937_64 random(exponent);
    for (int i = 0; i < 1000; ++i) {
      const int128 v = exponent > 0 ? static_cast<int128>(random() % 2047) - 1023
                                    : static_cast<int128>(random() % 1001);
      model.Finite.push_back(v);
      AppendBytes(bytes, std::bit_cast<uint64_t>(model.ValueOf(v)), 8, boLittleEndian);
    }
    const THistogramSource source{bytes.data(), 1000, vtFloat64, boLittleEndian};
    ExpectModel(ComputeHistogram(source, WindowMin, WindowMax), PercentileWindow(source), model,
                "2^" + std::to_string(exponent));
  }
}

// What the window must put in words rather than bins.
TEST(Histogram, SlicesWithoutARange) {
  struct TCase {
    const char* What;
    TVoxelType Type;
    std::vector<double> Values;
    int64_t Count; // -1: all of them
    THistogram::TShape Shape;
    std::optional<std::pair<int32_t, int32_t>> Window;
  };
  const TCase cases[] = {
      {"all NaN", vtFloat32, {NAN, NAN, NAN}, -1, THistogram::NoNumbers, std::nullopt},
      {"only infinities",
       vtFloat64,
       {HUGE_VAL, -HUGE_VAL},
       -1,
       THistogram::NoNumbers,
       std::nullopt},
      {"one int16 value", vtInt16, {7, 7, 7, 7}, -1, THistogram::OneValue, {{7, 7}}},
      {"one float value and a NaN",
       vtFloat32,
       {-2.5, NAN, -2.5},
       -1,
       THistogram::OneValue,
       {{-3, -2}}},
      {"one byte value", vtByte, {200, 200}, -1, THistogram::OneValue, {{200, 200}}},
      {"one int64 value", vtInt64, {-5}, -1, THistogram::OneValue, {{-5, -5}}},
      {"nothing in the file", vtUInt16, {1, 2}, 0, THistogram::NoValues, std::nullopt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    std::vector<uint8_t> bytes;
    for (const double v : c.Values)
      AppendVoxel(bytes, c.Type, boLittleEndian, v);
    const int64_t count = c.Count < 0 ? static_cast<int64_t>(c.Values.size()) : c.Count;
    const THistogramSource source{bytes.data(), count, c.Type, boLittleEndian};
    const THistogram histogram = ComputeHistogram(source, 0, 0);
    EXPECT_EQ(histogram.Shape, c.Shape);
    EXPECT_EQ(histogram.Values, count);
    if (c.Shape != THistogram::OneValue) {
      EXPECT_TRUE(histogram.Bins.empty());
    } else {
      EXPECT_EQ(histogram.Low.AsDouble(), histogram.High.AsDouble());
    }
    const std::optional<TWindowEnds> window = PercentileWindow(source);
    ASSERT_EQ(window.has_value(), c.Window.has_value());
    if (window) {
      EXPECT_EQ(std::make_pair(window->Min, window->Max), *c.Window);
    }
  }
  EXPECT_EQ(ComputeHistogram({nullptr, 10, vtFloat64, boLittleEndian}, 0, 0).Shape,
            THistogram::NoValues);
  // -0 is 0: one value, and neither under nor over a window that ends at 0.
  for (const TVoxelType type : {vtFloat16, vtFloat32, vtFloat64}) {
    std::vector<uint8_t> zeros;
    for (const double zero : {-0.0, 0.0, -0.0})
      AppendVoxel(zeros, type, boLittleEndian, zero);
    const THistogram histogram = ComputeHistogram({zeros.data(), 3, type, boLittleEndian}, 0, 0);
    EXPECT_EQ(histogram.Shape, THistogram::OneValue) << FactsOf(type).Name;
    EXPECT_EQ(histogram.Under + histogram.Over, 0) << FactsOf(type).Name;
  }
}

// The stored bits of a wide bin edge, as the file holds them.
uint64_t StoredBits(TVoxelType Type, const TVoxelValue& Value) {
  switch (Value.Kind) {
  case TVoxelValue::Signed:
    return static_cast<uint64_t>(Value.SignedValue);
  case TVoxelValue::Unsigned:
    return Value.UnsignedValue;
  case TVoxelValue::Real:
    break;
  }
  if (Type != vtFloat32)
    return BitsOf(Type, Value.RealValue);
  // The edges of singles are doubles: the edge a file can hold is the next single up.
  float single = static_cast<float>(Value.RealValue);
  if (single < Value.RealValue)
    single = std::nextafter(single, HUGE_VALF);
  return std::bit_cast<uint32_t>(single);
}

// The AVX2 lanes against the plain loops, on the values they find hardest:
// every edge and its two neighbours in the stored bits, in both byte orders,
// with a count that leaves a part of a lane over.
TEST(Histogram, LanesAndPlainLoopsAgreeOnEveryEdge) {
  struct TRange {
    TVoxelType Type;
    double Low, High; // for the integers, a range a double holds exactly
  };
  const TRange ranges[] = {
      {vtInt32, -1000, 1000037},         {vtInt32, INT32_MIN, INT32_MAX}, {vtUInt32, 7, 4e9},
      {vtInt64, -0x1p62, 0x1p62 + 4096}, {vtUInt64, 3, 0x1p40 + 3},       {vtFloat32, -3.7, 1e6},
      {vtFloat32, -3e38, 3e38},          {vtFloat32, 1e-40, 3e-40},       {vtFloat64, -1e-3, 5e300},
      {vtFloat64, 0x1p-1060, 0x1p-1050}, {vtFloat64, -3.7, 1e6},          {vtInt64, -5000, 4e9},
      {vtUInt64, 0x1p63, 0x1p63 + 4e9},
  };
  const bool wasEnabled = widerow::Enabled();
  for (const TRange& r : ranges)
    for (const TByteOrder order : {boLittleEndian, boBigEndian}) {
      const int size = FactsOf(r.Type).Bytes;
      std::vector<uint8_t> ends;
      AppendVoxel(ends, r.Type, boLittleEndian, r.Low);
      AppendVoxel(ends, r.Type, boLittleEndian, r.High);
      widerow::SetEnabled(false);
      const THistogram span = ComputeHistogram({ends.data(), 2, r.Type, boLittleEndian}, 0, 0);
      ASSERT_EQ(span.Shape, THistogram::Spread) << FactsOf(r.Type).Name;
      std::vector<uint8_t> bytes;
      for (int k = 0; k <= THistogram::WideBins; ++k) {
        const uint64_t bits = StoredBits(r.Type, span.Edges[k]);
        for (const uint64_t near : {bits, bits + (k < THistogram::WideBins), bits - (k > 0)})
          AppendBytes(bytes, near, size, order);
      }
      // -0 only where it leaves the range as it is.
      if (FactsOf(r.Type).Float)
        for (const double special : {double{NAN}, HUGE_VAL, -HUGE_VAL, r.Low < 0 ? -0.0 : NAN})
          AppendVoxel(bytes, r.Type, order, special);
      const auto count = static_cast<int64_t>(bytes.size()) / size;
      const THistogram plain = ComputeHistogram({bytes.data(), count, r.Type, order}, -5, 70);
      widerow::SetEnabled(true);
      const THistogram lanes = ComputeHistogram({bytes.data(), count, r.Type, order}, -5, 70);
      const std::string name = std::string(FactsOf(r.Type).Name) + (order ? " big " : " little ") +
                               std::to_string(r.Low);
      EXPECT_EQ(lanes.Bins, plain.Bins) << name;
      EXPECT_EQ(std::vector(
                    {lanes.Under, lanes.Over, lanes.NaN, lanes.PlusInfinity, lanes.MinusInfinity}),
                std::vector(
                    {plain.Under, plain.Over, plain.NaN, plain.PlusInfinity, plain.MinusInfinity}))
          << name;
      // Each edge opens its bin; each bin holds its edge and the value above it.
      for (int k = 1; k < THistogram::WideBins; ++k)
        EXPECT_GE(plain.Bins[k], 2) << name << " bin " << k;
    }
  widerow::SetEnabled(wasEnabled);
}

} // namespace
