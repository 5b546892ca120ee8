#include "guess/SmoothVolume.h"
#include "guess/content/VoxelStatistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

using namespace guess;

namespace {

using testfiles::EncodeVolume;
using testfiles::ReadsTheSame;
using testfiles::SmoothVolume;

bool HoldsNegatives(TVoxelType Type) {
  return Type != vtByte && Type != vtUInt16 && Type != vtUInt32 && Type != vtUInt64;
}

TEST(VoxelStatistics, RanksTheStoredTypeAndOrderFirst) {
  // Shifted down, about half of the values fall below zero, as in data
  // centred on zero; shifted up, unsigned 16-bit values all lie above 32767,
  // as behind a camera's offset.
  for (const double shift : {0.0, 450.0, -40000.0})
    for (int t = 0; t < VoxelTypeCount; ++t)
      for (TByteOrder order : {boLittleEndian, boBigEndian}) {
        const auto type = static_cast<TVoxelType>(t);
        if ((shift > 0.0 && !HoldsNegatives(type)) || (shift < 0.0 && type != vtUInt16))
          continue;
        std::vector<double> volume = SmoothVolume(93, 71, 6);
        for (double& v : volume)
          v -= shift;
        const std::vector<uint8_t> bytes = EncodeVolume(volume, type, order);
        const std::vector<TTypeGuess> ranked =
            RankVoxelTypes(bytes.data(), static_cast<int64_t>(bytes.size()));
        ASSERT_FALSE(ranked.empty());
        const TLayout truth = {0, 1, 1, 1, type, order};
        const TLayout best = {0, 1, 1, 1, ranked[0].Type, ranked[0].Order};
        EXPECT_TRUE(ReadsTheSame(best, truth))
            << VoxelTypeName(type) << " " << order << " ranked " << VoxelTypeName(ranked[0].Type)
            << " " << ranked[0].Order << " first";
        if (shift != 0.0) { // values beyond the signed range read differently as the twin
          EXPECT_EQ(ranked[0].Type, type) << VoxelTypeName(ranked[0].Type);
        }
        for (size_t i = 1; i < ranked.size(); ++i)
          EXPECT_LE(ranked[i].Score, ranked[i - 1].Score);
      }
}

// Counts of 10 to 14 bits in 16-bit words, as they are or shifted to the
// top, scaled up from 256 levels as 8-bit pictures are, or from a few dozen
// as a dim one's, over the whole depth or a band in its middle (a disc of
// sky): read in the wrong order they hold steady bits amid changing ones,
// and their low bytes repeat with every level; read as halves, shifted
// counts leave the low bits of every fraction clear.
TEST(VoxelStatistics, RanksCountsInSixteenBitWordsInTheirOwnOrder) {
  const std::vector<double> volume = SmoothVolume(93, 71, 6);
  for (const double levels : {256.0, 64.0})
    for (const double band : {1.0, 0.4})
      for (const int bits : {10, 12, 14})
        for (const int shift : {0, 16 - bits})
          for (TByteOrder order : {boLittleEndian, boBigEndian}) {
            std::vector<uint8_t> bytes;
            for (double v : volume) {
              const double level = std::round(v / 1000 * (levels - 1)) / (levels - 1);
              const double share = 0.5 - band / 2 + band * level;
              testfiles::AppendVoxel(
                  bytes, vtUInt16, order,
                  std::ldexp(std::round(share * (std::ldexp(1.0, bits) - 1)), shift));
            }
            const std::vector<TTypeGuess> ranked =
                RankVoxelTypes(bytes.data(), static_cast<int64_t>(bytes.size()));
            ASSERT_FALSE(ranked.empty());
            const std::string what = std::to_string(bits) + "-bit counts << " +
                                     std::to_string(shift) + " of " + std::to_string(levels) +
                                     " levels over " + std::to_string(band);
            const TLayout truth = {0, 1, 1, 1, vtUInt16, order};
            EXPECT_TRUE(ReadsTheSame({0, 1, 1, 1, ranked[0].Type, ranked[0].Order}, truth))
                << what << ": " << VoxelTypeName(ranked[0].Type) << " " << int{ranked[0].Order};
          }
}

// Counts shifted to the top bits, dim but for specks clipped at the highest
// level: read as signed, the specks are small negatives beside the dark and
// look the smoother reading.
TEST(VoxelStatistics, CountsClippedAtTheTopOfTheirBitsReadAsUnsigned) {
  const std::vector<double> volume = SmoothVolume(93, 71, 6);
  for (const int bits : {10, 12})
    for (TByteOrder order : {boLittleEndian, boBigEndian}) {
      const double top = std::ldexp(1.0, bits) - 1;
      std::vector<uint8_t> bytes;
      for (size_t i = 0; i < volume.size(); ++i) {
        const bool speck = i % 89 == 0 || i % 89 == 1;
        const double count = speck ? top : std::round(volume[i] / 1000 * top / 8);
        testfiles::AppendVoxel(bytes, vtUInt16, order, std::ldexp(count, 16 - bits));
      }
      const std::vector<TTypeGuess> ranked =
          RankVoxelTypes(bytes.data(), static_cast<int64_t>(bytes.size()));
      ASSERT_FALSE(ranked.empty());
      EXPECT_EQ(ranked[0].Type, vtUInt16) << bits << ": " << VoxelTypeName(ranked[0].Type);
      EXPECT_EQ(ranked[0].Order, order) << bits;
    }
}

// Signed data scaled to fill their range lie mostly far from zero, as the
// unsigned reading's do (here a dark field at the bottom of the range with
// bright spots), but pass through zero, where the unsigned reading wraps.
TEST(VoxelStatistics, SignedDataScaledToFillTheirRangeReadAsSigned) {
  const auto Spot = [](int32_t X, int32_t Y) {
    const double dx = X % 50 - 25, dy = Y % 60 - 30;
    return (dx * dx + dy * dy) / 60.0;
  };
  for (TByteOrder order : {boLittleEndian, boBigEndian}) {
    std::vector<uint8_t> bytes;
    for (int32_t y = 0; y < 300; ++y)
      for (int32_t x = 0; x < 200; ++x)
        testfiles::AppendVoxel(
            bytes, vtInt16, order,
            std::round(-30000 + 60000 * std::exp(-Spot(x, y)) + ((x * 7 + y * 13) % 11) * 20));
    const std::vector<TTypeGuess> ranked =
        RankVoxelTypes(bytes.data(), static_cast<int64_t>(bytes.size()));
    ASSERT_FALSE(ranked.empty());
    EXPECT_EQ(ranked[0].Type, vtInt16) << VoxelTypeName(ranked[0].Type);
    EXPECT_EQ(ranked[0].Order, order);
  }
}

// A bright scene or an offset keeps every value in the upper half: read as
// signed, all of them would be negative.
TEST(VoxelStatistics, UnsignedValuesInTheUpperHalfReadAsUnsigned) {
  const std::vector<double> volume = SmoothVolume(93, 71, 6);
  for (TByteOrder order : {boLittleEndian, boBigEndian}) {
    std::vector<uint8_t> bytes;
    for (double v : volume)
      testfiles::AppendVoxel(bytes, vtUInt16, order, std::min(65535.0, 32768 + 40 * v));
    const std::vector<TTypeGuess> ranked =
        RankVoxelTypes(bytes.data(), static_cast<int64_t>(bytes.size()));
    ASSERT_FALSE(ranked.empty());
    EXPECT_EQ(ranked[0].Type, vtUInt16) << VoxelTypeName(ranked[0].Type);
    EXPECT_EQ(ranked[0].Order, order);
  }
}

// An 8-bit picture scaled by 256 into a wide word keeps its low byte clear
// in either byte order's reading: that cannot condemn them both.
TEST(VoxelStatistics, EightBitLevelsInTheSecondByteOfAWideWordReadAsIntegers) {
  const std::vector<double> volume = SmoothVolume(93, 71, 6);
  for (const TVoxelType type : {vtUInt32, vtUInt64})
    for (TByteOrder order : {boLittleEndian, boBigEndian}) {
      std::vector<uint8_t> bytes;
      for (double v : volume)
        testfiles::AppendVoxel(bytes, type, order, 256 * std::clamp(std::round(v / 3), 0.0, 255.0));
      const std::vector<TTypeGuess> ranked =
          RankVoxelTypes(bytes.data(), static_cast<int64_t>(bytes.size()));
      ASSERT_FALSE(ranked.empty());
      EXPECT_GT(ranked[0].Score, 0.5) << VoxelTypeName(type) << " " << int{order};
      EXPECT_EQ(BytesPerVoxel[ranked[0].Type], BytesPerVoxel[type]) << VoxelTypeName(type);
      EXPECT_FALSE(FactsOf(ranked[0].Type).Float) << VoxelTypeName(ranked[0].Type);
    }
}

// A dim scene on black inside a white ring, as lettering or a mask draws it:
// read as signed, 255 and 0 are the neighbours -1 and 0, so the ring's outer
// edge looks smoother so read.
TEST(VoxelStatistics, BytesAtBothEndsOfTheRangeReadAsUnsigned) {
  const std::vector<double> volume = SmoothVolume(93, 71, 6);
  std::vector<uint8_t> bytes;
  for (double v : volume)
    bytes.push_back(static_cast<uint8_t>(v >= 890.0 ? 255.0 : std::round(v / 8)));
  const std::vector<TTypeGuess> ranked =
      RankVoxelTypes(bytes.data(), static_cast<int64_t>(bytes.size()));
  const auto score = [&ranked](TVoxelType Type) {
    for (const TTypeGuess& guess : ranked)
      if (guess.Type == Type)
        return guess.Score;
    return 0.0;
  };
  EXPECT_GT(score(vtByte), score(vtInt8));
}

// A noisy signal whose sign changes only between regions: read as unsigned,
// the halves of each value fall in two tight clusters (zeros beside small
// positives, all ones beside small negatives) that look smoother than the
// noisy values themselves.
TEST(VoxelStatistics, NoisyNegativeValuesReadAsSigned) {
  std::vector<double> volume = SmoothVolume(93, 71, 6);
  uint32_t state = 5;
  for (double& v : volume) {
    state = state * 1664525u + 1013904223u;
    v = (v - 100.0) * 40.0 * ((state >> 8) / 16777216.0);
  }
  for (TByteOrder order : {boLittleEndian, boBigEndian}) {
    const std::vector<uint8_t> bytes = EncodeVolume(volume, vtInt32, order);
    const std::vector<TTypeGuess> ranked =
        RankVoxelTypes(bytes.data(), static_cast<int64_t>(bytes.size()));
    ASSERT_FALSE(ranked.empty());
    EXPECT_EQ(ranked[0].Type, vtInt32) << VoxelTypeName(ranked[0].Type);
    EXPECT_EQ(ranked[0].Order, order);
  }
}

TEST(VoxelStatistics, LaysOutTheOtherKindOfTheBestWidthBesideTheNextBest) {
  struct TCase {
    std::vector<TTypeGuess> Ranked;
    std::vector<TVoxelType> Expected;
  };
  const TByteOrder big = boBigEndian, little = boLittleEndian;
  const std::vector<TCase> cases = {
      {{{vtFloat16, big, 0.72}, {vtInt32, big, 0.35}, {vtInt16, big, 0.22}, {vtInt16, little, 0.2}},
       {vtFloat16, vtInt16}},
      {{{vtByte, little, 0.48}, {vtInt16, little, 0.33}, {vtInt32, little, 0.28}},
       {vtByte, vtInt16, vtInt32}},
      {{{vtInt16, big, 0.85}, {vtFloat16, big, 0.6}, {vtByte, little, 0.36}}, {vtInt16, vtFloat16}},
      {{{vtFloat32, little, 0.9}, {vtInt32, big, 0.5}, {vtInt32, little, 0.1}},
       {vtFloat32, vtInt32}},
      {{}, {}},
  };
  for (const TCase& c : cases) {
    std::vector<TVoxelType> got;
    for (const TTypeGuess& reading : ReadingsToLayOut(c.Ranked))
      got.push_back(reading.Type);
    EXPECT_EQ(got, c.Expected) << (c.Ranked.empty() ? "none" : VoxelTypeName(c.Ranked[0].Type));
  }
}

TEST(VoxelStatistics, ConstantOrRandomBytesLookLikeNoImage) {
  std::vector<uint8_t> random(1 << 16);
  uint64_t state = 99;
  for (uint8_t& b : random) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    b = static_cast<uint8_t>(state >> 56);
  }
  for (const auto& bytes : {std::vector<uint8_t>(1 << 16, 0), random})
    for (const TTypeGuess& guess : RankVoxelTypes(bytes.data(), static_cast<int64_t>(bytes.size())))
      EXPECT_LT(guess.Score, 0.3) << VoxelTypeName(guess.Type);
}

TEST(VoxelStatistics, WildValuesArePulledInAndNonFiniteOnesBecomeZero) {
  std::vector<double> values;
  for (int i = 0; i < 1000; ++i)
    values.push_back(i);
  values.push_back(1e300);
  values.push_back(-1e300);
  values.push_back(std::numeric_limits<double>::quiet_NaN());
  values.push_back(-std::numeric_limits<double>::infinity());
  ClampOutliers(values);
  for (size_t i = 0; i < 1000; i += 100)
    EXPECT_EQ(values[i + 50], static_cast<double>(i + 50));
  EXPECT_LE(values[1000], 1000.0);
  EXPECT_GE(values[1001], 0.0);
  EXPECT_EQ(values[1002], 0.0);
  EXPECT_EQ(values[1003], 0.0);
}

} // namespace
