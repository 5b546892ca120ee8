#include "data/TestFiles.h"
#include "data/VoxelDecoder.h"
#include "guess/formats/Mrc.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace guess;

namespace {

using testfiles::AppendBytes;
using testfiles::AppendVoxel;

double Number(const TVoxelValue& V) {
  return V.Kind == TVoxelValue::Signed     ? double(V.SignedValue)
         : V.Kind == TVoxelValue::Unsigned ? double(V.UnsignedValue)
                                           : V.RealValue;
}

double ValueAt(int64_t p, TVoxelType Type) {
  return static_cast<double>(p % 91) - (Type == vtUInt16 ? 0 : 45);
}

// What an MRC header states, written out field by field.
struct TMrc {
  int32_t Sides[3] = {6, 5, 4};
  int32_t Mode = 2;
  TByteOrder Order = boLittleEndian;
  int32_t ExtendedBytes = 0;
  bool Map = true;     // "MAP " at 208 (MRC2014 and CCP4)
  bool Stamped = true; // a machine stamp that says the order
  int32_t Axes[3] = {1, 2, 3};
  int64_t Trailing = 0; // bytes after the voxels
};

struct TFile {
  std::vector<uint8_t> Bytes;
  int64_t VoxelCount = 0;
};

TFile FileOf(const TMrc& M, TVoxelType Type) {
  std::vector<uint8_t> b(1024);
  auto put = [&](size_t At, int32_t Value) {
    std::vector<uint8_t> field;
    AppendBytes(field, static_cast<uint32_t>(Value), 4, M.Order);
    std::memcpy(b.data() + At, field.data(), 4);
  };
  for (int i = 0; i < 3; ++i)
    put(4 * i, M.Sides[i]), put(64 + 4 * i, M.Axes[i]);
  put(12, M.Mode);
  put(92, M.ExtendedBytes);
  if (M.Map)
    std::memcpy(b.data() + 208, "MAP ", 4);
  if (M.Stamped)
    b[212] = M.Order == boBigEndian ? 0x11 : 0x44, b[213] = M.Order == boBigEndian ? 0x11 : 0x41;
  b.resize(b.size() + static_cast<size_t>(std::clamp(M.ExtendedBytes, 0, 4096)), 0xEE);
  TFile file;
  // Only a sane header gets its voxels; the others are cut to a sound file's size.
  const bool sane = std::all_of(std::begin(M.Sides), std::end(M.Sides),
                                [](int32_t Side) { return Side >= 1 && Side <= 100; });
  file.VoxelCount = sane ? int64_t{M.Sides[0]} * M.Sides[1] * M.Sides[2] : 0;
  for (int64_t p = 0; p < file.VoxelCount; ++p)
    AppendVoxel(b, Type, M.Order, ValueAt(p, Type));
  b.resize(b.size() + static_cast<size_t>(M.Trailing), 0x33);
  file.Bytes = std::move(b);
  return file;
}

TContainerReading Read(const std::vector<uint8_t>& Bytes) {
  TByteSource source(Bytes);
  TContainerReading reading = ReadMrc(source);
  EXPECT_LE(source.Spent(), TByteSource::DefaultBudget);
  return reading;
}

struct TModeType {
  int32_t Mode;
  TVoxelType Type;
};
constexpr TModeType ModeTypes[] = {
    {0, vtInt8}, {1, vtInt16}, {2, vtFloat32}, {6, vtUInt16}, {12, vtFloat16}};

TEST(Mrc, EveryModeOrderAndHeaderStyle) {
  for (const TModeType& mt : ModeTypes)
    for (TByteOrder order : {boLittleEndian, boBigEndian})
      for (int style = 0; style < 3; ++style) // stamped, MAP without stamp, old without MAP
        for (int32_t extended : {0, 96})
          for (int64_t trailing : {0, 17}) {
            SCOPED_TRACE(testing::Message()
                         << "mode " << mt.Mode << " order " << int(order) << " style " << style
                         << " ext " << extended << " trailing " << trailing);
            TMrc m;
            m.Mode = mt.Mode, m.Order = order, m.ExtendedBytes = extended, m.Trailing = trailing;
            m.Map = style < 2, m.Stamped = style == 0;
            m.Axes[0] = 2, m.Axes[1] = 1; // any order of the three axes
            const TFile file = FileOf(m, mt.Type);
            const TContainerReading reading = Read(file.Bytes);
            EXPECT_EQ(reading.Format, "MRC");
            ASSERT_EQ(reading.Layouts.size(), mt.Mode == 0 ? 2u : 1u) << reading.NoRawVoxels;
            const TStatedLayout& l = reading.Layouts[0];
            EXPECT_EQ(l.Dims, (std::vector<int64_t>{6, 5, 4}));
            EXPECT_EQ(l.VoxelType, mt.Type);
            EXPECT_EQ(l.ByteOrder, BytesPerVoxel[mt.Type] == 1 ? boLittleEndian : order);
            EXPECT_EQ(l.DataStart, 1024 + extended);
            EXPECT_EQ(l.Score, 0.99);
            for (int64_t p = 0; p < file.VoxelCount; ++p)
              ASSERT_EQ(Number(voxeldecoder::DecodeVoxel(file.Bytes.data() + l.DataStart, p,
                                                         l.VoxelType, l.ByteOrder)),
                        ValueAt(p, l.VoxelType))
                  << p;
            if (mt.Mode != 0)
              continue;
            // The second reading of mode 0: the same bytes as unsigned.
            const TStatedLayout& u = reading.Layouts[1];
            EXPECT_EQ(u.VoxelType, vtByte);
            EXPECT_LT(u.Score, l.Score);
            EXPECT_NE(u.Note.find("unsigned"), std::string::npos) << u.Note;
            EXPECT_EQ(u.DataStart, l.DataStart);
            EXPECT_EQ(u.Dims, l.Dims);
          }
}

TEST(Mrc, ComplexAndFourBitMapsSayWhy) {
  for (int32_t mode : {3, 4, 101}) {
    TMrc m;
    m.Mode = mode;
    const TContainerReading reading = Read(FileOf(m, vtFloat64).Bytes);
    EXPECT_EQ(reading.Format, "MRC");
    EXPECT_TRUE(reading.Layouts.empty());
    EXPECT_NE(reading.NoRawVoxels.find("mode " + std::to_string(mode)), std::string::npos)
        << reading.NoRawVoxels;
  }
}

TEST(Mrc, HostileOrForeignFilesGiveNoLayout) {
  const struct {
    const char* What;
    std::function<void(TMrc&)> Damage;
    bool StillMrc; // "MAP " says MRC, whatever the rest says
  } cases[] = {
      {"huge extended header", [](TMrc& M) { M.ExtendedBytes = 0x7FFFFF00; }, true},
      {"negative extended header", [](TMrc& M) { M.ExtendedBytes = -100; }, true},
      {"negative side", [](TMrc& M) { M.Sides[1] = -5; }, true},
      {"zero side", [](TMrc& M) { M.Sides[2] = 0; }, true},
      {"overflowing product", [](TMrc& M) { M.Sides[0] = M.Sides[1] = M.Sides[2] = 0x7FFFFFFF; },
       true},
      {"lying sides", [](TMrc& M) { M.Sides[2] = 5000; }, true},
      {"unknown mode", [](TMrc& M) { M.Mode = 5; }, true},
      {"old style, too few bytes", [](TMrc& M) { M.Map = M.Stamped = false, M.Sides[2] = 5; },
       false},
      {"old style, axes not named", [](TMrc& M) { M.Map = M.Stamped = false, M.Axes[2] = 0; },
       false},
      {"old style, an axis twice", [](TMrc& M) { M.Map = M.Stamped = false, M.Axes[2] = 1; },
       false},
      {"old style, huge extended header",
       [](TMrc& M) { M.Map = M.Stamped = false, M.ExtendedBytes = 1 << 30; }, false},
      {"old style, unknown mode", [](TMrc& M) { M.Map = M.Stamped = false, M.Mode = 7; }, false},
  };
  for (const auto& c : cases) {
    TMrc m;
    const TFile sound = FileOf(m, vtFloat32);
    c.Damage(m);
    TFile file = FileOf(m, vtFloat32);
    file.Bytes.resize(sound.Bytes.size()); // the voxels of the sound file, whatever is stated
    const TContainerReading reading = Read(file.Bytes);
    EXPECT_TRUE(reading.Layouts.empty()) << c.What;
    EXPECT_EQ(reading.Format.empty(), !c.StillMrc) << c.What;
    EXPECT_EQ(reading.NoRawVoxels.empty(), !c.StillMrc) << c.What << ": " << reading.NoRawVoxels;
  }
  // Every cut of a sound file loses the header or its last voxel.
  const TFile sound = FileOf(TMrc{}, vtFloat32);
  for (size_t cut = 0; cut < sound.Bytes.size(); cut += 7)
    EXPECT_TRUE(Read({sound.Bytes.begin(), sound.Bytes.begin() + cut}).Layouts.empty()) << cut;
  // Noise, zeros and text are no MRC, however long.
  std::mt19937 random(7);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> noise(1024 + random() % 100000);
    for (uint8_t& byte : noise)
      byte = static_cast<uint8_t>(random());
    EXPECT_TRUE(Read(noise).Format.empty()) << trial;
  }
  EXPECT_TRUE(Read(std::vector<uint8_t>(1 << 20)).Format.empty());
  EXPECT_TRUE(Read(std::vector<uint8_t>(4096, ' ')).Format.empty());
}

} // namespace
