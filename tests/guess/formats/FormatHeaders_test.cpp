#include "TempDir.h"
#include "guess/formats/FormatHeaders.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace guess;

namespace {

std::vector<uint8_t> Bytes(const std::string& Text, int64_t Extra) {
  std::vector<uint8_t> bytes(Text.begin(), Text.end());
  bytes.resize(bytes.size() + static_cast<size_t>(Extra), 0x7F);
  return bytes;
}

// The score falls as the file strays from what the header states, and a file
// without one whole volume after the header is not offered at all.
TEST(FormatHeaders, ScoreFollowsHowWellTheFileFits) {
  const std::string header = "NRRD0005\ntype: uint8\ndimension: 4\nsizes: 4 3 2 3\n"
                             "encoding: raw\n\n";
  const int64_t volume = 4 * 3 * 2;
  std::vector<double> scores;
  for (int64_t voxelBytes : {3 * volume, 3 * volume + 1, 3 * volume - 1, volume}) {
    const std::vector<uint8_t> file = Bytes(header, voxelBytes);
    const THeaderFinding found =
        ReadFormatHeaders("a.nrrd", file.data(), std::ssize(file), std::ssize(file));
    ASSERT_EQ(found.Candidates.size(), 1u) << voxelBytes;
    EXPECT_EQ(found.Candidates[0].Layout, (TLayout{static_cast<int32_t>(header.size()), 4, 3, 2}));
    scores.push_back(found.Candidates[0].Score);
  }
  EXPECT_GT(scores[0], scores[1]); // exact, then a trailer
  EXPECT_GT(scores[1], scores[2]); // then volumes missing
  EXPECT_GE(scores[2], scores[3]);
  EXPECT_GT(scores[3], 0.5);
  const std::vector<uint8_t> short_ = Bytes(header, volume - 1);
  EXPECT_TRUE(ReadFormatHeaders("a", short_.data(), std::ssize(short_), std::ssize(short_))
                  .Candidates.empty());
}

// Nothing, a few bytes and noise give no candidate, whatever the name says.
TEST(FormatHeaders, TinyAndRandomHeadsGiveNothing) {
  EXPECT_TRUE(ReadFormatHeaders("x.img", nullptr, 100, 100).Candidates.empty());
  std::mt19937 random(1208);
  std::vector<uint8_t> bytes(64 << 10);
  for (const char* name : {"/no/such/x.img", "/no/such/\xff.raw", "/no/such/x.hdr", "x"}) {
    for (int64_t size = 0; size <= 16; ++size)
      EXPECT_TRUE(ReadFormatHeaders(name, bytes.data(), size, size).Candidates.empty()) << size;
    for (int round = 0; round < 8; ++round) {
      for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
      const THeaderFinding found =
          ReadFormatHeaders(name, bytes.data(), std::ssize(bytes), int64_t{1} << 36);
      EXPECT_TRUE(found.Candidates.empty());
      EXPECT_TRUE(found.Note.empty());
    }
  }
}

// A pipe where a header could be is no header, and reading it must not wait.
TEST(FormatHeaders, PipesBesideTheDataAreNoHeaders) {
  testfiles::TTempDir dir;
  const std::vector<uint8_t> data(7 * 5 * 3 * 2, 0);
  const std::string dataName = dir.MakeFile("p.img", data);
  for (const char* header : {"p.hdr", "p.mhd", "p.nhdr"})
    ASSERT_EQ(::mkfifo(dir.Path(header).c_str(), 0600), 0);
  const THeaderFinding found =
      ReadFormatHeaders(dataName, data.data(), std::ssize(data), std::ssize(data));
  EXPECT_TRUE(found.Candidates.empty());
  EXPECT_TRUE(found.Note.empty());
}

} // namespace
