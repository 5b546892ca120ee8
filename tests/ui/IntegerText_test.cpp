#include "QtPrinters.h"
#include "ui/IntegerText.h"

#include <gtest/gtest.h>

namespace {

struct TCase {
  const char16_t* Text;
  std::optional<int32_t> Value;
};

void ExpectCases(const std::initializer_list<TCase>& cases) {
  for (const TCase& c : cases) {
    const QString text = QString::fromUtf16(c.Text);
    EXPECT_EQ(IntegerTextValue(text), c.Value) << '"' << text.toStdString() << '"';
  }
}

constexpr std::nullopt_t kInvalid = std::nullopt;

TEST(IntegerText, DecimalNumbers) {
  ExpectCases({
      {u"0", 0},
      {u"7", 7},
      {u"256", 256},
      {u"+0", 0},
      {u"-0", 0},
      {u"+12", 12},
      {u"-5", -5},
      {u"-1", -1},
      {u"007", 7},
      {u"-007", -7},
      {u"0000000000000000000000012", 12},
      {u"32767", 32767},
      {u"40000", 40000},
  });
}

TEST(IntegerText, DecimalLimitsAre32Bit) {
  ExpectCases({
      {u"2147483647", 2147483647},
      {u"+2147483647", 2147483647},
      {u"2147483648", kInvalid},
      {u"-2147483648", INT32_MIN},
      {u"-2147483649", kInvalid},
      {u"4294967295", kInvalid},
      {u"4294967296", kInvalid}, // would wrap to 0 in 32 bits
      {u"99999999999999999999", kInvalid},
      {u"00000000002147483647", 2147483647},
  });
}

TEST(IntegerText, HexadecimalNumbers) {
  ExpectCases({
      {u"$0", 0},
      {u"$1F", 31},
      {u"$1f", 31},
      {u"x1F", 31},
      {u"X1f", 31},
      {u"0x1F", 31},
      {u"0X1F", 31},
      {u"$7FFFFFFF", 2147483647},
      {u"$80000000", INT32_MIN},
      {u"$FFFFFFFF", -1},
      {u"0xfffffffe", -2},
      {u"$12345678", 0x12345678},
      {u"$aBcDeF", 0xABCDEF},
  });
}

TEST(IntegerText, LeadingZerosAreNotSignificantHexDigits) {
  ExpectCases({
      {u"0X00000000000FF", 255},
      {u"$000000000", 0},
      {u"$0000000FFFFFFFF", -1},
      {u"$100000000", kInvalid},
      {u"$00100000000", kInvalid},
      {u"0x123456789", kInvalid},
  });
}

TEST(IntegerText, LeadingSpacesOnly) {
  ExpectCases({
      {u" 12", 12},
      {u"    -12", -12},
      {u"  $10", 16},
      {u"   0x10", 16},
      {u"12 ", kInvalid},
      {u" 12 ", kInvalid},
      {u"\t12", kInvalid},
      {u"\n12", kInvalid},
      {u"\u00A012", kInvalid}, // no-break space is not a space here
      {u"- 12", kInvalid},
      {u"$ 10", kInvalid},
      {u"0x 10", kInvalid},
  });
}

TEST(IntegerText, NotIntegerText) {
  ExpectCases({
      {u"", kInvalid},
      {u" ", kInvalid},
      {u"   ", kInvalid},
      {u"-", kInvalid},
      {u"+", kInvalid},
      {u"  -", kInvalid},
      {u"--1", kInvalid},
      {u"+-1", kInvalid},
      {u"$", kInvalid},
      {u"x", kInvalid},
      {u"0x", kInvalid},
      {u"0X", kInvalid},
      {u"$G", kInvalid},
      {u"0x1G", kInvalid},
      {u"-$10", kInvalid}, // hexadecimal numbers carry no sign
      {u"+0x10", kInvalid},
      {u"$$10", kInvalid},
      {u"0xx10", kInvalid},
      {u"00x10", kInvalid},
      {u"1,000", kInvalid},
      {u"1.5", kInvalid},
      {u"1e3", kInvalid},
      {u"12a", kInvalid},
      {u"a12", kInvalid},
      {u"abc", kInvalid},
      {u"10h", kInvalid},
      {u"\u0661\u0662", kInvalid}, // Arabic-Indic digits are digits, but not ours
      {u"\uFF11\uFF12", kInvalid}, // full-width digits
  });
}

} // namespace
