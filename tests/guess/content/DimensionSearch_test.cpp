#include "guess/SmoothVolume.h"
#include "guess/content/DimensionSearch.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using namespace guess;

namespace {

std::vector<float> Singles(const std::vector<double>& Values) {
  return {Values.begin(), Values.end()};
}

TEST(DimensionSearch, FindsTheRowLengthAndTheSliceHeight) {
  struct TCase {
    int32_t Width, Height, Slices;
  };
  for (const TCase& c : {TCase{37, 29, 60}, TCase{181, 217, 8}, TCase{256, 256, 4},
                         TCase{999, 40, 12}, TCase{64, 64, 30}}) {
    const std::vector<float> values = Singles(testfiles::SmoothVolume(c.Width, c.Height, c.Slices));
    const std::vector<TPeriod> rows =
        FindPeriods(LagDifferences(values, 1, MaxDimension, 4096), 4, 3);
    ASSERT_FALSE(rows.empty());
    // A slanting edge may put the deepest point a voxel or two aside.
    EXPECT_NEAR(rows[0].Count, c.Width, 2);
    EXPECT_GT(rows[0].Dip, 0.3);
    const std::vector<TPeriod> slices =
        FindPeriods(LagDifferences(values, c.Width, MaxDimension, 512), 2, 3);
    ASSERT_FALSE(slices.empty()) << c.Width;
    EXPECT_NEAR(slices[0].Count, c.Height, 1) << c.Width;
  }
}

// A wrong reading as floats spans the whole range of a float, whose
// neighbours then differ by more than a float holds: no dip may come out as
// a number that is none, which would leave the candidates unordered.
TEST(DimensionSearch, DipsStayNumbersWhereTheValuesSpanAFloatsRange) {
  std::vector<float> values;
  for (double v : testfiles::SmoothVolume(64, 48, 4))
    values.push_back(static_cast<float>((v / 450 - 1) * 3e38));
  const std::vector<double> lags = LagDifferences(values, 1, MaxDimension, 4096);
  for (const TPeriod& period : FindPeriods(lags, 4, 8))
    EXPECT_TRUE(std::isfinite(period.Dip)) << period.Count;
  for (const int64_t k : {8, 63, 64, 65, 200})
    EXPECT_TRUE(std::isfinite(DipOf(lags, k))) << k;
}

// A series of tiny volumes repeats whole volumes far more faithfully than rows
// or slices: the row and the slice still have to come first.
TEST(DimensionSearch, FindsRowsAndSlicesOfASeriesOfTinyVolumes) {
  struct TCase {
    int32_t Width, Height, Slices;
  };
  for (const TCase& c : {TCase{17, 21, 3}, TCase{17, 3, 21}, TCase{13, 19, 2}, TCase{10, 10, 10}}) {
    const std::vector<double> volume = testfiles::SmoothVolume(c.Width, c.Height, c.Slices);
    std::vector<float> series;
    uint32_t state = 7;
    for (int32_t t = 0; t < 60; ++t)
      for (double v : volume) {
        state = state * 1664525u + 1013904223u;
        series.push_back(static_cast<float>(v + (state >> 28)));
      }
    const std::vector<TPeriod> rows =
        FindPeriods(LagDifferences(series, 1, MaxDimension, 4096), 4, 3);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].Count, c.Width) << c.Width << "x" << c.Height << "x" << c.Slices;
    const std::vector<TPeriod> slices =
        FindPeriods(LagDifferences(series, c.Width, MaxDimension, 512), 2, 3);
    ASSERT_FALSE(slices.empty());
    EXPECT_EQ(slices[0].Count, c.Height) << c.Width << "x" << c.Height << "x" << c.Slices;
  }
}

// Rings about the centre over stripes that repeat twice a row agree a little
// half a row apart, but a row apart they agree many times better: half the
// row is no period.
TEST(DimensionSearch, HalfARowThatDipsALittleIsNoRow) {
  for (const int32_t width : {120, 180, 256}) {
    std::vector<float> values;
    for (int32_t y = 0; y < width; ++y)
      for (int32_t x = 0; x < width; ++x)
        values.push_back(static_cast<float>(
            128 + 100 * std::cos(std::hypot(x - width / 2 + 0.5, y - width / 2 + 0.5) / 20) +
            100 * std::cos(4 * M_PI * x / width)));
    const std::vector<TPeriod> rows =
        FindPeriods(LagDifferences(values, 1, MaxDimension, 4096), 4, 3);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].Count, width);
    for (const TPeriod& period : rows) // not with the strength of the row's own multiples
      EXPECT_FALSE(period.Count == width / 2 && period.Dip > 0.5) << width << ": " << period.Dip;
  }
}

TEST(DimensionSearch, TooFewValuesOrNoDipGiveNothing) {
  EXPECT_TRUE(LagDifferences(std::vector<float>(3, 1.0f), 1, 100, 64).empty());
  EXPECT_TRUE(LagDifferences(std::vector<float>(1000, 1.0f), 600, 100, 64).empty());
  std::vector<double> rising;
  for (int k = 0; k < 500; ++k)
    rising.push_back(k);
  EXPECT_TRUE(FindPeriods(rising, 2, 3).empty());
}

} // namespace
