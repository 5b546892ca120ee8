#include "ui/IntegerText.h"

#include <algorithm>

namespace {

int DecimalDigit(QChar c) {
  const char16_t u = c.unicode();
  return u >= u'0' && u <= u'9' ? u - u'0' : -1;
}

int HexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9')
    return u - u'0';
  if (u >= u'a' && u <= u'f')
    return u - u'a' + 10;
  if (u >= u'A' && u <= u'F')
    return u - u'A' + 10;
  return -1;
}

// Length of the hexadecimal prefix at Pos, or 0 when there is none. "0x" is
// tried before "x" would be, and a lone "0" stays a decimal digit.
qsizetype HexPrefixLength(const QString& text, qsizetype pos) {
  const qsizetype left = text.size() - pos;
  if (left >= 1 && (text[pos] == u'$' || text[pos] == u'x' || text[pos] == u'X'))
    return 1;
  if (left >= 2 && text[pos] == u'0' && (text[pos + 1] == u'x' || text[pos + 1] == u'X'))
    return 2;
  return 0;
}

std::optional<int32_t> HexValue(const QString& text, qsizetype pos) {
  if (pos == text.size())
    return std::nullopt;
  uint32_t value = 0;
  int significant = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = HexDigit(text[pos]);
    if (digit < 0)
      return std::nullopt;
    if (significant > 0 || digit != 0)
      ++significant;
    if (significant > 8)
      return std::nullopt;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return static_cast<int32_t>(value);
}

std::optional<int32_t> DecimalValue(const QString& text, qsizetype pos) {
  bool negative = false;
  if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
    negative = text[pos] == u'-';
    ++pos;
  }
  if (pos == text.size())
    return std::nullopt;
  // Accumulates the magnitude; one more than INT32_MAX is allowed for the minimum.
  const int64_t limit = negative ? int64_t{INT32_MAX} + 1 : int64_t{INT32_MAX};
  int64_t magnitude = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = DecimalDigit(text[pos]);
    if (digit < 0)
      return std::nullopt;
    magnitude = magnitude * 10 + digit;
    if (magnitude > limit)
      return std::nullopt;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

} // namespace

std::optional<int32_t> IntegerTextValue(const QString& Text) {
  qsizetype pos = 0;
  while (pos < Text.size() && Text[pos] == u' ')
    ++pos;
  if (const qsizetype prefix = HexPrefixLength(Text, pos); prefix > 0)
    return HexValue(Text, pos + prefix);
  return DecimalValue(Text, pos);
}

int DecimalOverflowSign(const QString& Text) {
  qsizetype pos = 0;
  while (pos < Text.size() && Text[pos] == u' ')
    ++pos;
  int sign = 1;
  if (pos < Text.size() && (Text[pos] == u'+' || Text[pos] == u'-')) {
    sign = Text[pos] == u'-' ? -1 : 1;
    ++pos;
  }
  if (pos == Text.size())
    return 0;
  // Saturates just past the 32-bit range, so any number of digits fits.
  constexpr int64_t beyond = int64_t{INT32_MAX} + 2;
  int64_t magnitude = 0;
  for (; pos < Text.size(); ++pos) {
    const int digit = DecimalDigit(Text[pos]);
    if (digit < 0)
      return 0;
    magnitude = std::min(magnitude * 10 + digit, beyond);
  }
  const int64_t value = sign * magnitude;
  return value > INT32_MAX ? 1 : (value < INT32_MIN ? -1 : 0);
}
