#include "TempDir.h"
#include "guess/content/DataBounds.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace guess;

namespace {

// What ends a file of smooth voxels: words, printable voxels, zeros.
TEST(DataBounds, TheTailTellsATrailerOfWordsFromPrintableVoxelsAndZeros) {
  std::vector<uint8_t> voxels;
  for (int i = 0; i < 4000; ++i)
    voxels.push_back(static_cast<uint8_t>(150 + i % 50)); // not printable
  const std::string words = "\nend of frame 12\nexposure = 1.5 s, gain 2\n";
  const std::string grey(200, 'S'); // bright 8-bit voxels read as letters
  struct TCase {
    const char* What;
    std::string Tail;
    int64_t TextStart; // from the end of the voxels; -1: none
    bool Prose;
    int64_t ZeroStart; // likewise
  };
  const TCase cases[] = {
      {"nothing", "", -1, false, -1},
      {"words", words, 0, true, -1},
      // The last voxels happen to be printable: the trailer opens its line after them.
      {"words after printable voxels", "AB" + words, 2, true, -1},
      {"printable voxels", grey + " " + grey, -1, false, -1},
      {"zeros", std::string(4096, '\0'), -1, false, 0},
      {"a few zeros", std::string(8, '\0'), -1, false, -1},
  };
  testfiles::TTempDir dir;
  for (const TCase& c : cases) {
    std::vector<uint8_t> bytes = voxels;
    bytes.insert(bytes.end(), c.Tail.begin(), c.Tail.end());
    platform::TFileStream stream(dir.MakeFile("tail.raw", bytes));
    const TTail tail = ReadTail(stream, std::ssize(bytes));
    const auto at = [&](int64_t FromVoxels) {
      return FromVoxels < 0 ? -1 : std::ssize(voxels) + FromVoxels;
    };
    EXPECT_EQ(tail.FileSize, std::ssize(bytes)) << c.What;
    if (c.Prose || c.TextStart >= 0) {
      EXPECT_EQ(tail.TextStart, at(c.TextStart)) << c.What;
    }
    EXPECT_EQ(tail.Prose, c.Prose) << c.What;
    EXPECT_EQ(tail.ZeroStart, at(c.ZeroStart)) << c.What;
  }
}

} // namespace
