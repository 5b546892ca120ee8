#include "GzipFile.h"
#include "TempDir.h"
#include "guess/LayoutGuess.h"
#include "guess/SmoothVolume.h"
#include "guess/content/VoxelStatistics.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace guess;

namespace {

using testfiles::EncodeVolume;
using testfiles::ReadsTheSame;
using testfiles::SmoothVolume;

// Every proposal must be one the window's controls can hold.
void ExpectWithinRanges(const TLayoutGuess& Guess, const std::string& What) {
  EXPECT_LE(Guess.Candidates.size(), static_cast<size_t>(MaxLayoutCandidates)) << What;
  for (const TLayoutCandidate& c : Guess.Candidates) {
    const TLayout& l = c.Layout;
    EXPECT_TRUE(l.HeaderBytes >= 0 && l.HeaderBytes <= MaxHeaderBytes) << What;
    for (int32_t n : {l.VoxelsPerRow, l.RowsPerSlice, l.SlicesPerVolume})
      EXPECT_TRUE(n >= 1 && n <= MaxDimension) << What;
    EXPECT_TRUE(c.Score >= 0.0 && c.Score <= 1.0) << What;
    EXPECT_FALSE(c.Reason.empty()) << What;
    EXPECT_LE(c.Score, Guess.Candidates.front().Score) << What; // best first
  }
  EXPECT_EQ(Guess.Candidates.empty(), !Guess.Why.empty()) << What;
  // The first three are alternatives, not one reading with the header or the
  // slice height nudged.
  const size_t top = std::min<size_t>(3, Guess.Candidates.size());
  for (size_t i = 0; i < top; ++i)
    for (size_t j = i + 1; j < top; ++j) {
      const TLayout& a = Guess.Candidates[i].Layout;
      const TLayout& b = Guess.Candidates[j].Layout;
      const int64_t rowBytes = int64_t{a.VoxelsPerRow} * BytesPerVoxel[a.VoxelType];
      const bool sameReading = a.VoxelsPerRow == b.VoxelsPerRow && a.VoxelType == b.VoxelType &&
                               a.ByteOrder == b.ByteOrder;
      // One image ending sooner behind the same header ends before padding.
      const bool images =
          a.SlicesPerVolume == 1 && b.SlicesPerVolume == 1 && a.HeaderBytes == b.HeaderBytes;
      const bool nudged =
          a.RowsPerSlice == b.RowsPerSlice ||
          (std::abs(a.RowsPerSlice - b.RowsPerSlice) <= 2 &&
           std::abs(int64_t{a.HeaderBytes} - b.HeaderBytes) <= 2 * rowBytes && !images);
      EXPECT_FALSE(sameReading && nudged) << What << ": places " << i << " and " << j;
    }
}

std::vector<uint8_t> Header(int Kind) {
  switch (Kind) {
  case 0:
    return {};
  case 1: { // a few binary fields padded with zeros
    std::vector<uint8_t> header(352, 0);
    for (int i = 0; i < 12; ++i)
      header[i] = static_cast<uint8_t>(0x41 + 7 * i);
    return header;
  }
  case 2:
    return std::vector<uint8_t>(4096, 0);
  case 3: { // filler that looks like noise, of an odd length
    std::vector<uint8_t> header(777);
    uint64_t state = 777;
    for (uint8_t& b : header) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      b = static_cast<uint8_t>(state >> 56);
    }
    return header;
  }
  case 5: { // a line of text of odd length, padded with zeros to a round size
    const std::string text = "sample volume: 93 x 71 x 20, voxel type as stored\n";
    std::vector<uint8_t> header(text.begin(), text.end());
    header.resize(352, 0);
    return header;
  }
  default: { // "key = value" lines of no particular length
    std::string text;
    for (int i = 0; text.size() < 290; ++i)
      text += "field" + std::to_string(i) + " = " + std::to_string(i * 37) + "\n";
    return {text.begin(), text.end()};
  }
  }
}

TEST(LayoutGuess, FindsTheLayoutOfASmoothVolumeInEveryTypeOrderAndHeader) {
  testfiles::TTempDir dir;
  constexpr int32_t width = 93, height = 71, slices = 20;
  const std::vector<double> volume = SmoothVolume(width, height, slices);
  int cases = 0, best = 0;
  for (int t = 0; t < VoxelTypeCount; ++t)
    for (TByteOrder order : {boLittleEndian, boBigEndian}) {
      const auto type = static_cast<TVoxelType>(t);
      if (BytesPerVoxel[type] == 1 && order == boBigEndian)
        continue;
      std::vector<uint8_t> bytes = Header(cases % 5);
      const TLayout truth = {
          static_cast<int32_t>(bytes.size()), width, height, slices, type, order};
      const std::vector<uint8_t> data = EncodeVolume(volume, type, order);
      bytes.insert(bytes.end(), data.begin(), data.end());
      const std::string name = dir.MakeFile("volume" + std::to_string(cases) + ".raw", bytes);
      const TLayoutGuess guess = GuessLayout(name);
      const std::string what = "type " + std::to_string(t) + " order " + std::to_string(order) +
                               " header " + std::to_string(truth.HeaderBytes);
      ExpectWithinRanges(guess, what);
      ++cases;
      bool found = false;
      for (size_t i = 0; i < guess.Candidates.size() && i < 3 && !found; ++i)
        found = ReadsTheSame(guess.Candidates[i].Layout, truth);
      EXPECT_TRUE(found) << what << ": best is "
                         << (guess.Candidates.empty() ? guess.Why : guess.Candidates[0].Reason);
      const bool bestRight =
          !guess.Candidates.empty() && ReadsTheSame(guess.Candidates[0].Layout, truth);
      best += bestRight;
    }
  EXPECT_GE(best, cases - 2) << "best candidate right for " << best << " of " << cases;
}

// A text of odd length padded with zeros, as the sample volume has: the data
// start where the zeros end, not an odd number of bytes after the text.
TEST(LayoutGuess, DataBehindTextPaddedWithZerosKeepTheirByteOrder) {
  testfiles::TTempDir dir;
  const std::vector<double> volume = SmoothVolume(93, 71, 20);
  for (const TVoxelType type : {vtInt16, vtFloat32})
    for (const TByteOrder order : {boLittleEndian, boBigEndian}) {
      std::vector<uint8_t> bytes = Header(5);
      const TLayout truth = {352, 93, 71, 20, type, order};
      const std::vector<uint8_t> data = EncodeVolume(volume, type, order);
      bytes.insert(bytes.end(), data.begin(), data.end());
      const TLayoutGuess guess = GuessLayout(dir.MakeFile("padded text.raw", bytes));
      ASSERT_FALSE(guess.Candidates.empty()) << guess.Why;
      EXPECT_TRUE(ReadsTheSame(guess.Candidates[0].Layout, truth))
          << VoxelTypeName(type) << " " << order << ": best is " << guess.Candidates[0].Reason;
    }
}

// A first voxel whose low byte is printable lengthens the text by a byte;
// read from there in the other byte order, small values look the same.
TEST(LayoutGuess, DataBehindTextWhoseFirstByteIsPrintableStartAtTheLineEnd) {
  testfiles::TTempDir dir;
  std::vector<double> image = SmoothVolume(171, 120, 1);
  for (size_t i = 0; i < image.size(); ++i) // first voxel 'A', then a zero byte
    image[i] = 65 + std::round(image[i] / 8) + static_cast<double>(i % 171 / 4);
  for (const TVoxelType type : {vtInt16, vtInt64}) {
    const std::string text = "title = t1 axial\nnote = none\n";
    std::vector<uint8_t> bytes(text.begin(), text.end());
    const TLayout truth = {static_cast<int32_t>(bytes.size()), 171, 120, 1, type, boLittleEndian};
    const std::vector<uint8_t> data = EncodeVolume(image, type, boLittleEndian);
    bytes.insert(bytes.end(), data.begin(), data.end());
    const TLayoutGuess guess = GuessLayout(dir.MakeFile("printable.raw", bytes));
    ASSERT_FALSE(guess.Candidates.empty()) << guess.Why;
    EXPECT_TRUE(ReadsTheSame(guess.Candidates[0].Layout, truth))
        << VoxelTypeName(type) << ": best is " << guess.Candidates[0].Reason;
  }
}

// A NIfTI file is shipped gzipped: the guess reads its header and data decompressed.
TEST(LayoutGuess, AGzippedNiftiFileIsRecognisedAsNifti) {
  testfiles::TTempDir dir;
  constexpr int32_t width = 64, height = 48, slices = 12;
  std::vector<uint8_t> bytes(352, 0);
  const auto put16 = [&bytes](size_t At, int Value) {
    bytes[At] = static_cast<uint8_t>(Value);
    bytes[At + 1] = static_cast<uint8_t>(Value >> 8);
  };
  bytes[0] = 92; // sizeof_hdr 348, little-endian
  bytes[1] = 1;
  for (const auto& [at, value] :
       {std::pair{40, 3}, {42, width}, {44, height}, {46, slices}, {70, 4 /* int16 */}, {72, 16}})
    put16(static_cast<size_t>(at), value);
  const float offset = 352;
  std::memcpy(bytes.data() + 108, &offset, sizeof offset);
  std::memcpy(bytes.data() + 344, "n+1", 4);
  const std::vector<uint8_t> data =
      EncodeVolume(SmoothVolume(width, height, slices), vtInt16, boLittleEndian);
  bytes.insert(bytes.end(), data.begin(), data.end());
  const TLayoutGuess guess = GuessLayout(dir.MakeFile("brain.nii.gz", testfiles::Gzipped(bytes)));
  ASSERT_FALSE(guess.Candidates.empty()) << guess.Why;
  const TLayoutCandidate& best = guess.Candidates.front();
  EXPECT_EQ(best.Layout, (TLayout{352, width, height, slices, vtInt16, boLittleEndian}));
  EXPECT_NE(best.Reason.find("NIfTI-1"), std::string::npos) << best.Reason;
}

// Scaled up so that no value is small, integers read almost as smoothly as
// 16-bit floats: whichever reading wins, the other has to be offered too, and
// measured in its own values (a series of tiny volumes shows its slices only
// in the right reading).
TEST(LayoutGuess, OffersBothTheIntegerAndTheFloatReadingOfBrightImages) {
  testfiles::TTempDir dir;
  struct TCase {
    int32_t Width, Height, Slices, Volumes;
  };
  for (const TCase& c : {TCase{168, 206, 1, 1}, TCase{17, 21, 3, 40}})
    for (TByteOrder order : {boLittleEndian, boBigEndian}) {
      std::vector<double> series;
      uint32_t state = 3;
      for (int32_t t = 0; t < c.Volumes; ++t)
        for (double v : SmoothVolume(c.Width, c.Height, c.Slices)) {
          state = state * 1664525u + 1013904223u;
          series.push_back(v > 0.0 ? 5000.0 + 15.0 * v + (state >> 26) : 0.0);
        }
      std::vector<uint8_t> bytes(512, 0);
      bytes[0] = 0x5C, bytes[4] = 0x17, bytes[9] = 0x03;
      const std::vector<uint8_t> data = EncodeVolume(series, vtInt16, order);
      bytes.insert(bytes.end(), data.begin(), data.end());
      const TLayout truth = {512, c.Width, c.Height, c.Slices, vtInt16, order};
      const TLayoutGuess guess = GuessLayout(
          dir.MakeFile("bright" + std::to_string(c.Width) + std::to_string(order), bytes));
      bool found = false;
      for (size_t i = 0; i < guess.Candidates.size() && i < 3; ++i)
        found = found || ReadsTheSame(guess.Candidates[i].Layout, truth);
      EXPECT_TRUE(found) << c.Width << " " << static_cast<int>(order);
    }
}

// A single image holds no repeating slice: a chance dip of the rows must not
// cut it into slices that leave rows over.
TEST(LayoutGuess, ASingleImageIsOneSlice) {
  testfiles::TTempDir dir;
  struct TCase {
    int32_t Width, Height;
    TVoxelType Type;
  };
  for (const TCase& c :
       {TCase{168, 206, vtInt16}, TCase{145, 187, vtFloat32}, TCase{181, 217, vtUInt16},
        TCase{96, 96, vtFloat64}, TCase{33, 41, vtInt32}, TCase{256, 170, vtByte}}) {
    std::vector<uint8_t> bytes = Header(4);
    const TLayout truth = {
        static_cast<int32_t>(bytes.size()), c.Width, c.Height, 1, c.Type, boBigEndian};
    const std::vector<uint8_t> data =
        EncodeVolume(SmoothVolume(c.Width, c.Height, 1), c.Type, boBigEndian);
    bytes.insert(bytes.end(), data.begin(), data.end());
    const TLayoutGuess guess =
        GuessLayout(dir.MakeFile("image" + std::to_string(c.Width) + ".raw", bytes));
    ASSERT_FALSE(guess.Candidates.empty()) << c.Width;
    EXPECT_TRUE(ReadsTheSame(guess.Candidates[0].Layout, truth))
        << c.Width << "x" << c.Height << ": best is " << guess.Candidates[0].Reason;
  }
}

// A camera or telescope frame: noise about a dark sky level and a few sharp
// stars, so that neither rows nor slices stand out in the values.
std::vector<double> SparseFrame(int32_t Width, int32_t Height, uint64_t Seed) {
  std::vector<double> frame(static_cast<size_t>(Width) * Height);
  uint64_t state = Seed;
  const auto next = [&state] {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  };
  for (double& v : frame)
    v = std::round(20 + 4.5 * (next() + next() + next() + next() - 2.0) * 1.7);
  for (int star = 0; star < 12; ++star) {
    const double cx = next() * Width, cy = next() * Height;
    for (int32_t y = 0; y < Height; ++y)
      for (int32_t x = 0; x < Width; ++x) {
        const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (r2 < 64)
          frame[static_cast<size_t>(y) * Width + x] += std::round(3000 * std::exp(-r2 / 4.5));
      }
  }
  return frame;
}

TEST(LayoutGuess, FindsDarkSparseFramesBehindAHeaderThatStatesTheirSize) {
  testfiles::TTempDir dir;
  const struct {
    int32_t Width, Height, FieldBytes;
    TByteOrder Order;
  } cases[] = {{300, 200, 4, boLittleEndian},
               {512, 384, 2, boBigEndian},
               {640, 480, 4, boBigEndian},
               {97, 61, 2, boLittleEndian}};
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = {'C', 'A', 'M', '1', 0, 0, 0, 0};
    for (int32_t n : {c.Width, c.Height})
      testfiles::AppendVoxel(bytes, c.FieldBytes == 2 ? vtUInt16 : vtUInt32, c.Order, n);
    bytes.resize(256, 0);
    const std::vector<uint8_t> data =
        EncodeVolume(SparseFrame(c.Width, c.Height, c.Width), vtUInt16, c.Order);
    bytes.insert(bytes.end(), data.begin(), data.end());
    const std::string what = std::to_string(c.Width) + "x" + std::to_string(c.Height);
    const TLayoutGuess guess = GuessLayout(dir.MakeFile(what + ".raw", bytes));
    ExpectWithinRanges(guess, what);
    ASSERT_FALSE(guess.Candidates.empty()) << what << ": " << guess.Why;
    EXPECT_TRUE(
        ReadsTheSame(guess.Candidates[0].Layout, {256, c.Width, c.Height, 1, vtUInt16, c.Order}))
        << what << ": best is " << guess.Candidates[0].Reason;
  }
}

// One spot on an empty field: evenly spread samples all miss it, and the
// quantiles that tame hot pixels are all background.
TEST(LayoutGuess, FindsAFrameOfOneSpotOnAnEmptyField) {
  testfiles::TTempDir dir;
  constexpr int32_t width = 672, height = 508;
  std::vector<double> frame(static_cast<size_t>(width) * height, 0.0);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const double r2 = (x - 350.0) * (x - 350.0) + (y - 270.0) * (y - 270.0);
      frame[static_cast<size_t>(y) * width + x] = std::floor(1000 * std::exp(-r2 / 60));
    }
  // A bright spot on a dark field, and a dark one on a bright field.
  const struct {
    int Header;
    bool Dark;
  } cases[] = {{0, false}, {2, false}, {2, true}};
  for (const auto& [kind, dark] : cases) {
    std::vector<uint8_t> bytes = Header(kind);
    const TLayout truth = {
        static_cast<int32_t>(bytes.size()), width, height, 1, vtUInt16, boLittleEndian};
    std::vector<double> values = frame;
    for (double& v : values)
      v = dark ? 1000 - v : v;
    const std::vector<uint8_t> data = EncodeVolume(values, vtUInt16, boLittleEndian);
    bytes.insert(bytes.end(), data.begin(), data.end());
    const TLayoutGuess guess = GuessLayout(dir.MakeFile("spot.raw", bytes));
    const auto top =
        guess.Candidates.begin() + std::min<ptrdiff_t>(3, std::ssize(guess.Candidates));
    EXPECT_TRUE(
        std::any_of(guess.Candidates.begin(), top,
                    [&](const TLayoutCandidate& C) { return ReadsTheSame(C.Layout, truth); }))
        << "header " << kind << (dark ? " dark: " : ": ") << guess.Why;
  }
}

// Stripes at 45 degrees make voxels a row less one apart the most alike; the
// seam where each row's bright right end meets the next row's dark left end
// stays in one column only at the true row length.
TEST(LayoutGuess, ARowLengthBesideADiagonalTextureIsNoRowLength) {
  testfiles::TTempDir dir;
  constexpr int32_t width = 300, height = 240;
  std::vector<double> image;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      image.push_back(std::round(400 + 200 * std::sin((x + y) * (x + y) * 4e-4) + 2.0 * x));
  const std::vector<uint8_t> bytes = EncodeVolume(image, vtInt16, boLittleEndian);
  const TLayoutGuess guess = GuessLayout(dir.MakeFile("stripes.raw", bytes));
  ASSERT_FALSE(guess.Candidates.empty()) << guess.Why;
  EXPECT_EQ(guess.Candidates[0].Layout.VoxelsPerRow, width) << guess.Candidates[0].Reason;
}

// A small image behind filler: in a file this small the sample starts in
// the filler, whose noise must not hide the rows.
TEST(LayoutGuess, ASmallImageBehindFillerKeepsItsRows) {
  testfiles::TTempDir dir;
  const std::vector<double> whole = SmoothVolume(120, 160, 1);
  for (const auto& [width, height] : {std::pair{37, 53}, std::pair{150, 12}}) {
    std::vector<double> crop;
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x)
        crop.push_back(whole[static_cast<size_t>(y + 60) * 120 + x + (width < 100 ? 40 : 0)]);
    std::vector<uint8_t> bytes = Header(3);
    const std::vector<uint8_t> data = EncodeVolume(crop, vtInt16, boLittleEndian);
    bytes.insert(bytes.end(), data.begin(), data.end());
    const std::string what = std::to_string(width) + "x" + std::to_string(height);
    const TLayoutGuess guess = GuessLayout(dir.MakeFile(what + ".raw", bytes));
    ASSERT_FALSE(guess.Candidates.empty()) << what << ": " << guess.Why;
    EXPECT_TRUE(
        ReadsTheSame(guess.Candidates[0].Layout, {777, width, height, 1, vtInt16, boLittleEndian}))
        << what << ": best is " << guess.Candidates[0].Reason;
  }
}

// An image as noisy as electron counts, which never reads as smooth.
std::vector<double> NoisyImage(int32_t Width, int32_t Height) {
  std::vector<double> noisy;
  uint64_t state = 5;
  for (double v : SmoothVolume(Width, Height, 1)) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    noisy.push_back(std::round((v + static_cast<double>(state >> 54)) / 8)); // noise of 0..1023
  }
  return noisy;
}

// Where noisy data start shows in their bytes, which keep to values of their
// own where random filler's take any: behind filler, the data start where it
// ends; from the first byte on, no header ends amid them, even where one of
// a common size would leave whole rows to the padding at the file's end.
TEST(LayoutGuess, NoisyDataStartWhereTheirBytesChangeKind) {
  testfiles::TTempDir dir;
  struct TCase {
    int32_t Width, Height, Header, Padding;
    TVoxelType Type;
    TByteOrder Order;
  };
  for (const TCase& c : {TCase{301, 200, 777, 0, vtInt16, boLittleEndian},
                         TCase{301, 200, 777, 0, vtFloat32, boBigEndian},
                         TCase{301, 200, 777, 0, vtUInt32, boLittleEndian},
                         TCase{256, 256, 0, 4096, vtUInt16, boLittleEndian}}) {
    std::vector<uint8_t> bytes = c.Header > 0 ? Header(3) : std::vector<uint8_t>{};
    for (double v : NoisyImage(c.Width, c.Height))
      testfiles::AppendVoxel(bytes, c.Type, c.Order, v);
    bytes.resize(bytes.size() + static_cast<size_t>(c.Padding), 0);
    const std::string what = std::string(VoxelTypeTable[c.Type].Name) + " behind " +
                             std::to_string(c.Header) + " padded by " + std::to_string(c.Padding);
    const TLayoutGuess guess = GuessLayout(dir.MakeFile(what + ".raw", bytes));
    ASSERT_FALSE(guess.Candidates.empty()) << what << ": " << guess.Why;
    EXPECT_TRUE(
        ReadsTheSame(guess.Candidates[0].Layout, {c.Header, c.Width, c.Height, 1, c.Type, c.Order}))
        << what << ": best is " << guess.Candidates[0].Layout.HeaderBytes << " bytes, "
        << guess.Candidates[0].Reason;
  }
}

// A picture padded with zeros to a block, from the first byte on or behind
// a block of filler: a header of another common size that leaves whole rows
// to the file's end would end amid what reads as the picture itself, or
// after the filler has visibly ended.
TEST(LayoutGuess, APicturePaddedToABlockKeepsItsStart) {
  testfiles::TTempDir dir;
  constexpr int32_t width = 1024, height = 192;
  std::vector<double> image = SmoothVolume(width, height, 1);
  uint32_t state = 11;
  for (double& v : image) { // with the grain of a photograph
    state = state * 1664525u + 1013904223u;
    v = v / 5 + 20 + static_cast<double>(state >> 29);
  }
  // No header, and filler; padding of a part of a row, and of whole rows.
  for (const auto& [kind, type, block] :
       {std::tuple{0, vtByte, 512}, {0, vtUInt16, 512}, {3, vtUInt16, 512}, {0, vtByte, 4096}}) {
    std::vector<uint8_t> bytes = Header(kind);
    bytes.resize(std::min<size_t>(bytes.size(), 512));
    const auto header = static_cast<int32_t>(bytes.size());
    const std::vector<uint8_t> data = EncodeVolume(image, type, boLittleEndian);
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.resize((bytes.size() / block + 1) * block);
    const std::string what = std::string(FactsOf(type).Name) + " behind " + std::to_string(header) +
                             " to " + std::to_string(block);
    const TLayoutGuess guess = GuessLayout(dir.MakeFile(what + ".raw", bytes));
    ASSERT_FALSE(guess.Candidates.empty()) << guess.Why;
    EXPECT_TRUE(
        ReadsTheSame(guess.Candidates[0].Layout, {header, width, height, 1, type, boLittleEndian}))
        << what << ": best is " << guess.Candidates[0].Reason;
  }
}

// A noisy frame of a few levels with no header: its first values, read as
// fields, name a small width whose slices fit the file, yet the rows repeat.
TEST(LayoutGuess, TheFirstVoxelsOfAHeaderlessFrameStateNoWidth) {
  testfiles::TTempDir dir;
  constexpr int32_t width = 400, height = 300;
  std::vector<double> image;
  uint32_t state = 7;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const double noise = static_cast<double>(state >> 24) - 128.0;
      const double v = 130 + 60 * std::sin(x / 23.0) * std::cos(y / 17.0) + 0.3 * noise;
      image.push_back(std::clamp(36 * std::round(v / 36), 0.0, 252.0));
    }
  image[0] = 20, image[1] = 15;
  const std::vector<uint8_t> bytes = EncodeVolume(image, vtUInt16, boLittleEndian);
  const TLayoutGuess guess = GuessLayout(dir.MakeFile("levels.raw", bytes));
  ASSERT_FALSE(guess.Candidates.empty()) << guess.Why;
  EXPECT_EQ(guess.Candidates[0].Layout.VoxelsPerRow, width) << guess.Candidates[0].Reason;
}

TEST(LayoutGuess, DataFollowedByTrailingBytesKeepTheirHeaderAndShape) {
  testfiles::TTempDir dir;
  constexpr int32_t width = 93, height = 71, slices = 6;
  const std::vector<double> volume = SmoothVolume(width, height, slices);
  const std::vector<uint8_t> noise = Header(3);
  const std::string footer =
      "\nacquired 2026-12-10 by the camera of bench 4, gain 2, exposure 30 ms\n";
  const struct {
    const char* What;
    int Header;          // a kind of Header()
    std::string Trailer; // after the data
  } cases[] = {
      {"none", 4, ""},
      {"text footer", 4, footer},
      {"text footer behind no header", 0, footer},
      {"text footer behind binary fields", 1, footer + footer},
      {"text header and noise after", 4, std::string(noise.begin(), noise.end())},
  };
  for (const auto& c : cases)
    for (TVoxelType type : {vtInt16, vtFloat32}) {
      std::vector<uint8_t> bytes = Header(c.Header);
      const TLayout truth = {
          static_cast<int32_t>(bytes.size()), width, height, slices, type, boLittleEndian};
      const std::vector<uint8_t> data = EncodeVolume(volume, type, boLittleEndian);
      bytes.insert(bytes.end(), data.begin(), data.end());
      bytes.insert(bytes.end(), c.Trailer.begin(), c.Trailer.end());
      const std::string what = std::string(c.What) + " " + VoxelTypeName(type);
      const TLayoutGuess guess = GuessLayout(dir.MakeFile("trailer.raw", bytes));
      ExpectWithinRanges(guess, what);
      ASSERT_FALSE(guess.Candidates.empty()) << what << ": " << guess.Why;
      EXPECT_TRUE(ReadsTheSame(guess.Candidates[0].Layout, truth))
          << what << ": best is " << guess.Candidates[0].Reason;
    }
}

// A smaller copy after an image, as a preview: its rows are half as long,
// so the rows of the image's length turn into pairs of its rows.
TEST(LayoutGuess, AnImageFollowedByASmallerOneEndsWhereTheOtherBegins) {
  testfiles::TTempDir dir;
  // Even and odd sizes: a preview of every second row and column of an odd
  // height has one row more than half. The last two previews do not fill
  // whole rows of the first image.
  for (const auto& [width, height] :
       {std::pair{400, 300}, std::pair{128, 128}, std::pair{150, 179}, std::pair{302, 155},
        std::pair{301, 200}, std::pair{495, 498}}) {
    std::vector<double> image = SmoothVolume(width, height, 1);
    for (size_t i = 0; i < image.size(); ++i) // no dark rows, which either image could own
      image[i] += 100 + static_cast<double>(i / static_cast<size_t>(width));
    std::vector<double> both = image;
    for (int32_t y = 0; y < height; y += 2)
      for (int32_t x = 0; x < width; x += 2)
        both.push_back(image[static_cast<size_t>(y) * width + x]);
    std::vector<uint8_t> bytes = Header(1);
    const TLayout truth = {
        static_cast<int32_t>(bytes.size()), width, height, 1, vtInt16, boLittleEndian};
    const std::vector<uint8_t> data = EncodeVolume(both, vtInt16, boLittleEndian);
    bytes.insert(bytes.end(), data.begin(), data.end());
    const std::string what = std::to_string(width) + "x" + std::to_string(height);
    const TLayoutGuess guess = GuessLayout(dir.MakeFile(what + ".raw", bytes));
    ASSERT_FALSE(guess.Candidates.empty()) << what << ": " << guess.Why;
    EXPECT_TRUE(ReadsTheSame(guess.Candidates[0].Layout, truth))
        << what << ": best is " << guess.Candidates[0].Layout.VoxelsPerRow << " x "
        << guess.Candidates[0].Layout.RowsPerSlice << ", " << guess.Candidates[0].Reason;
  }
}

// Frames of a camera panning across a scene: rows one frame apart show other
// parts of it, so no period of like rows tells the frames' height, but the
// step where one frame's last row meets the next one's first does.
TEST(LayoutGuess, PanningFramesAreToldByWhereTheyMeet) {
  testfiles::TTempDir dir;
  constexpr int32_t sceneWidth = 300, sceneHeight = 260, width = 220, height = 120, frames = 6;
  std::vector<double> scene = SmoothVolume(sceneWidth, sceneHeight, 1);
  for (size_t i = 0; i < scene.size(); ++i) // a lit background, brighter towards the bottom
    scene[i] += 100 + static_cast<double>(i / sceneWidth);
  std::vector<double> stack;
  for (int32_t f = 0; f < frames; ++f)
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x)
        stack.push_back(scene[static_cast<size_t>(y + 25 * f) * sceneWidth + x + 14 * f]);
  const TLayout truth = {0, width, height, frames, vtUInt16, boLittleEndian};
  const TLayoutGuess guess =
      GuessLayout(dir.MakeFile("frames.raw", EncodeVolume(stack, vtUInt16, boLittleEndian)));
  ASSERT_FALSE(guess.Candidates.empty()) << guess.Why;
  const TLayout& best = guess.Candidates[0].Layout;
  EXPECT_TRUE(ReadsTheSame(best, truth))
      << best.VoxelsPerRow << " x " << best.RowsPerSlice << " x " << best.SlicesPerVolume << ", "
      << guess.Candidates[0].Reason;
}

// Zeros that pad an image to a block size could be its own dark rows: behind
// no header, the image without them is one of the first three.
TEST(LayoutGuess, AnImagePaddedWithZerosIsOfferedWithoutThem) {
  testfiles::TTempDir dir;
  constexpr int32_t width = 150, height = 97;
  std::vector<double> image = SmoothVolume(width, height, 1);
  for (double& v : image) // a bright background: no zeros of its own
    v += 100;
  std::vector<uint8_t> bytes = EncodeVolume(image, vtUInt16, boLittleEndian);
  bytes.resize((bytes.size() / 65536 + 1) * 65536, 0);
  const TLayout truth = {0, width, height, 1, vtUInt16, boLittleEndian};
  const TLayoutGuess guess = GuessLayout(dir.MakeFile("padded.raw", bytes));
  ExpectWithinRanges(guess, "padded");
  const auto top = guess.Candidates.begin() + std::min<ptrdiff_t>(3, std::ssize(guess.Candidates));
  EXPECT_TRUE(std::any_of(guess.Candidates.begin(), top,
                          [&](const TLayoutCandidate& C) { return ReadsTheSame(C.Layout, truth); }))
      << "best is " << guess.Candidates.at(0).Reason;
}

// A FITS header block: 80-character cards, padded with blanks to 2880 bytes.
std::vector<uint8_t> FitsHeader(const std::vector<std::string>& Cards) {
  std::string text;
  for (const std::string& card : Cards)
    text += card + std::string(80 - card.size(), ' ');
  text += "END" + std::string(77, ' ');
  text.resize((text.size() + 2879) / 2880 * 2880, ' ');
  return {text.begin(), text.end()};
}

TEST(LayoutGuess, AContainerOfTwoImagesProposesBothTheLargerFirst) {
  testfiles::TTempDir dir;
  std::vector<uint8_t> bytes =
      FitsHeader({"SIMPLE  =                    T", "BITPIX  =                   16",
                  "NAXIS   =                    2", "NAXIS1  =                   40",
                  "NAXIS2  =                   30", "EXTEND  =                    T"});
  const std::vector<uint8_t> primary = EncodeVolume(SmoothVolume(40, 30, 1), vtInt16, boBigEndian);
  bytes.insert(bytes.end(), primary.begin(), primary.end());
  bytes.resize(2880 * 2, 0);
  const std::vector<uint8_t> extension = FitsHeader(
      {"XTENSION= 'IMAGE   '", "BITPIX  =                  -32", "NAXIS   =                    2",
       "NAXIS1  =                    8", "NAXIS2  =                    6",
       "PCOUNT  =                    0", "GCOUNT  =                    1"});
  bytes.insert(bytes.end(), extension.begin(), extension.end());
  bytes.resize(2880 * 3 + 8 * 6 * 4, 0); // the last block unpadded, as some writers leave it
  const TLayoutGuess guess = GuessLayout(dir.MakeFile("two.fits", bytes));
  ExpectWithinRanges(guess, "two images");
  ASSERT_GE(guess.Candidates.size(), 2u) << guess.Why;
  EXPECT_EQ(guess.Candidates[0].Layout, (TLayout{2880, 40, 30, 1, vtInt16, boBigEndian}));
  EXPECT_EQ(guess.Candidates[1].Layout, (TLayout{2880 * 3, 8, 6, 1, vtFloat32, boBigEndian}));
  EXPECT_EQ(guess.Candidates[0].Score, guess.Candidates[1].Score);
}

TEST(LayoutGuess, FilesWithoutAnImageGiveNoCandidateAndSayWhy) {
  testfiles::TTempDir dir;
  const std::string fifo = dir.Path("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::string> names = {fifo,        "/proc/self/status",
                                    "/dev/zero", dir.Path("missing.raw"),
                                    dir.Root(),  dir.MakeFile("empty.raw", {})};
  for (int size = 1; size <= 16; ++size)
    names.push_back(dir.MakeFile("tiny" + std::to_string(size), std::vector<uint8_t>(size, 7)));
  for (const std::string& name : names) {
    const TLayoutGuess guess = GuessLayout(name);
    EXPECT_TRUE(guess.Candidates.empty()) << name;
    EXPECT_FALSE(guess.Why.empty()) << name;
  }
  EXPECT_EQ(GuessLayout(dir.Root()).Why, "This is a folder, not a file");
  EXPECT_EQ(GuessLayout(dir.Path("empty.raw")).Why, "The file is empty");
  EXPECT_TRUE(GuessLayout("/proc/self/status").Why.starts_with("The file states no size"));
  // A gzip file cut off after its first few bytes decompress.
  std::vector<uint8_t> cut = testfiles::Gzipped(std::vector<uint8_t>(100000, 9));
  cut.resize(40);
  EXPECT_TRUE(GuessLayout(dir.MakeFile("cut.raw.gz", cut))
                  .Why.ends_with("bytes of this gzip file decompress (truncated)"));
  // One zstd frame asking for a 256 MiB window: nothing decompresses, yet the
  // file is not empty.
  const std::string wide = dir.MakeFile(
      "wide.raw.zst", {0x28, 0xB5, 0x2F, 0xFD, 0x00, 18 << 3, 1 | 4 << 3, 0, 0, 1, 2, 3, 4});
  EXPECT_EQ(GuessLayout(wide).Why, "Nothing of this zstd file decompresses (the frame at byte 0 "
                                   "of the file needs a window over 128 MiB)");
}

TEST(LayoutGuess, RandomBytesScoreLow) {
  testfiles::TTempDir dir;
  std::vector<uint8_t> bytes(1 << 20);
  uint64_t state = 12345;
  for (uint8_t& b : bytes) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    b = static_cast<uint8_t>(state >> 56);
  }
  const TLayoutGuess guess = GuessLayout(dir.MakeFile("noise.raw", bytes));
  ExpectWithinRanges(guess, "noise");
  for (const TLayoutCandidate& c : guess.Candidates)
    EXPECT_LT(c.Score, 0.5) << c.Reason;
}

TEST(LayoutGuess, AHugeSparseFileTakesBoundedTime) {
  testfiles::TTempDir dir;
  const std::string name = dir.MakeFile("sparse.raw", {});
  ASSERT_EQ(::truncate(name.c_str(), int64_t{100} << 30), 0);
  const auto start = std::chrono::steady_clock::now();
  const TLayoutGuess guess = GuessLayout(name);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ExpectWithinRanges(guess, "sparse");
  EXPECT_LT(seconds, 2.0); // generous: the machine is shared; the work is bounded
}

TEST(LayoutGuess, ANameThatIsNotUtf8WorksLikeAnyOther) {
  testfiles::TTempDir dir;
  const std::vector<uint8_t> data = EncodeVolume(SmoothVolume(64, 50, 12), vtInt16, boLittleEndian);
  const std::string name = dir.MakeFile("vol\xff\xfe.raw", data);
  const TLayoutGuess guess = GuessLayout(name);
  ASSERT_FALSE(guess.Candidates.empty()) << guess.Why;
  EXPECT_TRUE(ReadsTheSame(guess.Candidates[0].Layout, {0, 64, 50, 12, vtInt16, boLittleEndian}))
      << guess.Candidates[0].Reason;
}

} // namespace
