#include "platform/TextCodec.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <random>
#include <string>

using platform::BytesToWide;
using platform::WideToBytes;

namespace {

// glibc's converter as the independent reading of valid UTF-8; nullopt-like
// empty result with Valid false when it refuses the bytes.
std::u16string IconvUtf16(const std::string& Bytes, bool& Valid) {
  iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  std::string in = Bytes;
  std::u16string out(Bytes.size() * 2 + 4, u'\0');
  char* inPtr = in.data();
  size_t inLeft = in.size();
  auto* outPtr = reinterpret_cast<char*>(out.data());
  size_t outLeft = out.size() * 2;
  Valid = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  out.resize(out.size() - outLeft / 2);
  return out;
}

bool HasEscape(const std::u16string& Wide) {
  for (char16_t c : Wide)
    if (c >= 0xDC80 && c <= 0xDCFF)
      return true;
  return false;
}

} // namespace

// Random byte strings, biased toward UTF-8 lead and continuation bytes: every
// one comes back byte for byte, and valid ones read as glibc reads them.
TEST(TextCodecTest, EveryByteStringRoundTripsAndValidUtf8DecodesAsGlibc) {
  std::mt19937 random(20261208);
  const uint8_t alphabet[] = {'a',  '/',  0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0,
                              0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0xA0, 0x9F, 0x8F, 0x90};
  int validSeen = 0;
  for (int trial = 0; trial < 200000; ++trial) {
    std::string bytes(random() % 9, '\0');
    for (char& b : bytes)
      b = static_cast<char>(random() % 3 == 0 ? random() % 256
                                              : alphabet[random() % std::size(alphabet)]);
    const std::u16string wide = BytesToWide(bytes);
    ASSERT_EQ(WideToBytes(wide), bytes) << trial;
    bool valid = false;
    const std::u16string reference = IconvUtf16(bytes, valid);
    if (valid) {
      ++validSeen;
      ASSERT_EQ(wide, reference) << trial;
    } else {
      ASSERT_TRUE(HasEscape(wide)) << trial;
    }
  }
  EXPECT_GT(validSeen, 10000);
}

TEST(TextCodecTest, InvalidBytesBecomeEscapesAndOtherLoneSurrogatesBecomeReplacement) {
  EXPECT_EQ(BytesToWide("/\xFF\xFE.raw"), u"/\xDCFF\xDCFE.raw");
  EXPECT_EQ(BytesToWide("\xED\xA0\x80"), u"\xDCED\xDCA0\xDC80"); // an encoded surrogate
  EXPECT_EQ(BytesToWide("\xC0\xAF"), u"\xDCC0\xDCAF");           // an overlong "/"
  EXPECT_EQ(WideToBytes(u"a\xD800z"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(WideToBytes(u"\xDC41"), "\xEF\xBF\xBD"); // no byte below 0x80 is ever escaped
  EXPECT_EQ(WideToBytes(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
}
