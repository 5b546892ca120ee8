#include "data/MappingModel.h"
#include "data/RowClassifier.h"

#include <array>
#include <bit>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using namespace rowclassifier;
using mappingmodel::MakeModel;
using mappingmodel::ModelColour;

struct TRow {
  std::vector<uint8_t> Bytes;
  std::vector<float> Expected; // the decoded values
};

uint32_t Reverse(uint32_t Bits) {
  return (Bits >> 24) | ((Bits >> 8) & 0xFF00u) | ((Bits << 8) & 0xFF0000u) | (Bits << 24);
}

// The single each 32-bit pattern stands for as a voxel of Type.
float SingleOf(uint32_t Bits, TVoxelType Type) {
  if (Type == vtInt32)
    return static_cast<float>(std::bit_cast<int32_t>(Bits));
  if (Type == vtUInt32)
    return static_cast<float>(Bits);
  return std::bit_cast<float>(Bits);
}

TRow MakeRow(const std::vector<uint32_t>& Bits, TVoxelType Type, bool BigEndian) {
  TRow row;
  for (const uint32_t bits : Bits) {
    const uint32_t stored = BigEndian ? Reverse(bits) : bits;
    uint8_t bytes[4];
    std::memcpy(bytes, &stored, 4); // the tests run on a little-endian host
    row.Bytes.insert(row.Bytes.end(), bytes, bytes + 4);
    row.Expected.push_back(SingleOf(bits, Type));
  }
  return row;
}

// Codes other than CodeCheck are promises: a grey level, under or over must be
// exactly what the defined arithmetic gives.
uint32_t ColourOfCode(int32_t Code) {
  if (Code == CodeUnder)
    return 0x00FF00;
  if (Code == CodeOver)
    return 0xFF0000;
  return static_cast<uint32_t>(Code) * 0x010101u;
}

struct TOutcome {
  int Wrong = 0;
  int Checks = 0;
};

TOutcome Classify(const TRow& Row, TVoxelType Type, bool BigEndian, int32_t Min, int32_t Max,
                  bool Flag) {
  const auto count = static_cast<int32_t>(Row.Expected.size());
  std::vector<float> values(count);
  std::vector<int32_t> codes(count);
  const TIntensityWindow window(Min, Max, Flag);
  const bool anyCheck = ClassifyRow(Row.Bytes.data(), count, ParamsFor(Type, BigEndian, window),
                                    values.data(), codes.data());
  const auto model = MakeModel(Min, Max, Flag);
  TOutcome outcome;
  for (int32_t x = 0; x < count; ++x) {
    EXPECT_EQ(std::bit_cast<uint32_t>(values[x]), std::bit_cast<uint32_t>(Row.Expected[x]));
    if (codes[x] == CodeCheck) {
      ++outcome.Checks;
      continue;
    }
    const uint32_t want = ModelColour(model, Row.Expected[x]);
    if (ColourOfCode(codes[x]) != want && ++outcome.Wrong <= 3)
      ADD_FAILURE() << "value " << Row.Expected[x] << " window " << Min << ".." << Max << " flag "
                    << Flag << ": code " << codes[x] << ", model colour " << std::hex << want;
  }
  EXPECT_EQ(anyCheck, outcome.Checks > 0);
  return outcome;
}

TEST(RowClassifierTest, EveryPromisedCodeMatchesTheModel) {
  if constexpr (!mappingmodel::HardwareExtended)
    GTEST_SKIP() << "long double is not the x87 extended format here";
  std::mt19937_64 random(20261208);
  for (int round = 0; round < 800; ++round) {
    int32_t min = static_cast<int32_t>(random());
    int32_t max = static_cast<int32_t>(random());
    if (round % 3 == 1) {
      min = static_cast<int32_t>(random() % 2000) - 1000;
      max = min + static_cast<int32_t>(random() % 3000) - 200;
    } else if (round % 3 == 2) {
      min = static_cast<int32_t>(random() % 10);
      max = min + static_cast<int32_t>(random() % 3);
    }
    const TVoxelType type =
        std::array{vtInt32, vtFloat32, vtUInt32}[round % 3 == 0 ? 2 : round % 2];
    const bool bigEndian = round % 4 < 2;
    std::vector<uint32_t> bits(333); // an odd count leaves a tail after the vector body
    for (uint32_t& b : bits) {
      const int64_t near = int64_t{min} + static_cast<int64_t>(random() % 4000) - 1000;
      const float nearF = static_cast<float>(near) + (random() % 4) * 0.25f;
      b = random() % 3 == 0   ? static_cast<uint32_t>(random())
          : type == vtFloat32 ? std::bit_cast<uint32_t>(nearF)
                              : static_cast<uint32_t>(static_cast<int32_t>(near));
    }
    const TRow row = MakeRow(bits, type, bigEndian);
    for (const bool flag : {false, true})
      ASSERT_EQ(Classify(row, type, bigEndian, min, max, flag).Wrong, 0);
  }
}

// Single arithmetic errs most visibly right beside a half level; walk a few
// units in the last place around every one of them.
TEST(RowClassifierTest, ValuesBesideHalfLevelsMatchTheModel) {
  if constexpr (!mappingmodel::HardwareExtended)
    GTEST_SKIP() << "long double is not the x87 extended format here";
  const int32_t windows[][2] = {
      {0, 1000}, {-1412376960, 737809024},      {16777217, 16777473},  {-3, 7},
      {1000, 0}, {-2147483647 - 1, 2147483647}, {123456789, 123460000}};
  for (const auto& w : windows) {
    const auto model = MakeModel(w[0], w[1], false);
    std::vector<uint32_t> floats;
    std::vector<uint32_t> ints;
    std::vector<uint32_t> unsignedInts;
    for (int k = 0; k < 256; ++k) {
      const long double half = static_cast<long double>(model.MinF) + (k + 0.5L) / model.Scale;
      float v = static_cast<float>(half);
      for (int step = 0; step < 12; ++step)
        v = std::nextafter(v, -INFINITY);
      for (int step = 0; step < 25; ++step, v = std::nextafter(v, INFINITY))
        floats.push_back(std::bit_cast<uint32_t>(v));
      for (int64_t i = static_cast<int64_t>(half) - 2; i <= static_cast<int64_t>(half) + 2; ++i)
        if (i >= INT32_MIN && i <= INT32_MAX)
          ints.push_back(static_cast<uint32_t>(static_cast<int32_t>(i)));
        else if (i >= 0 && i <= UINT32_MAX)
          unsignedInts.push_back(static_cast<uint32_t>(i));
    }
    EXPECT_EQ(
        Classify(MakeRow(floats, vtFloat32, false), vtFloat32, false, w[0], w[1], false).Wrong, 0);
    for (const TVoxelType type : {vtInt32, vtUInt32}) {
      // Patterns of non-negative ints mean the same number as either type.
      std::vector<uint32_t> patterns = type == vtUInt32 ? unsignedInts : ints;
      if (type == vtUInt32)
        for (uint32_t bits : ints)
          if (static_cast<int32_t>(bits) >= 0)
            patterns.push_back(bits);
      EXPECT_EQ(Classify(MakeRow(patterns, type, true), type, true, w[0], w[1], false).Wrong, 0);
    }
  }
}

TEST(RowClassifierTest, ValuesItCannotVouchForAreLeftToTheExactPath) {
  const std::vector<uint32_t> bits = {0x7FC00000u, 0xFFC00001u, 0x7F800001u, 0xFFA00000u,
                                      0x7F800000u, 0xFF800000u, 0x7F7FFFFFu, 0x7E800000u};
  const TRow row = MakeRow(bits, vtFloat32, false);
  EXPECT_EQ(Classify(row, vtFloat32, false, 0, 1, true).Checks, static_cast<int>(bits.size()));
}

TEST(RowClassifierTest, OrdinaryDataRarelyNeedsTheExactPath) {
  std::vector<uint32_t> bits;
  for (int32_t v = 0; v < 2000; ++v)
    bits.push_back(static_cast<uint32_t>(v));
  // 0.255 * v sits on a half level only for v = 100, 300, ..., 900.
  for (const TVoxelType type : {vtInt32, vtUInt32})
    EXPECT_EQ(Classify(MakeRow(bits, type, false), type, false, 0, 1000, true).Checks, 5);
}

} // namespace
