#include "guess/content/ContentGuess.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace guess;

namespace {

TEST(ContentGuess, PreambleEndsWhereTextOrZerosEnd) {
  const std::string text = "title = scan\nsize = 10 x 10\n";
  std::vector<uint8_t> textHeader(text.begin(), text.end());
  textHeader.insert(textHeader.end(), {0, 0, 0, 0, 9, 0, 250});
  std::vector<uint8_t> binary(352, 0);
  binary[0] = 'D', binary[1] = 'Z', binary[5] = 1;
  binary.insert(binary.end(), {5, 0, 7, 1});
  std::vector<uint8_t> longText(40000, 'a');
  longText.push_back(0);
  const std::vector<uint8_t> data = {5, 200, 3, 0, 0, 17};
  std::vector<uint8_t> printableData(40, 13); // a dark background that happens to be printable
  printableData.insert(printableData.end(), {0, 0, 1});
  // Bright 8-bit voxels behind a text header read as letters, with a dark one as a line end.
  std::vector<uint8_t> printableVoxels(text.begin(), text.end());
  printableVoxels.insert(printableVoxels.end(), 300, 'S');
  printableVoxels.insert(printableVoxels.end(), {10, 'R', 'R', 1, 2});

  // Big-endian 12-bit counts shifted up by 4 bits, whose bytes both happen to be printable.
  std::vector<uint8_t> printableWords;
  for (int i = 0; i < 200; ++i)
    printableWords.insert(printableWords.end(), {static_cast<uint8_t>('a' + i / 7 % 5), '`'});
  printableWords.insert(printableWords.end(), {' ', '$', ' ', '\n', 1, 2});

  struct TCase {
    std::vector<uint8_t> Head;
    TPreamble Expected;
  };
  const int64_t end = static_cast<int64_t>(text.size());
  const std::vector<TCase> cases = {
      {textHeader, {true, false, end, end, end + 4, end}},
      {printableVoxels, {true, false, end + 303, end + 301, end + 303, end}},
      {binary, {false, true, 0, 0, 352}},
      {longText, {}},
      {data, {}},
      {printableData, {}},
      {printableWords, {}},
  };
  for (const TCase& c : cases) {
    const TPreamble got = ReadPreamble(c.Head.data(), static_cast<int64_t>(c.Head.size()));
    EXPECT_EQ(got.Text, c.Expected.Text);
    EXPECT_EQ(got.Binary, c.Expected.Binary);
    EXPECT_EQ(got.TextEnd, c.Expected.TextEnd);
    EXPECT_EQ(got.LineEnd, c.Expected.LineEnd);
    EXPECT_EQ(got.ZeroEnd, c.Expected.ZeroEnd);
    EXPECT_EQ(got.LinesEnd, c.Expected.LinesEnd);
  }
}

} // namespace
