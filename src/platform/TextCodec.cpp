#include "platform/TextCodec.h"

#include <cstdint>

namespace platform {

namespace {

constexpr char16_t EscapeBase = 0xDC00;

bool IsEscapedByte(char32_t C) {
  return C >= EscapeBase + 0x80 && C <= EscapeBase + 0xFF;
}

void AppendUtf8(std::string& Bytes, char32_t C) {
  if (C < 0x80) {
    Bytes += static_cast<char>(C);
  } else if (C < 0x800) {
    Bytes += static_cast<char>(0xC0 | C >> 6);
    Bytes += static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Bytes += static_cast<char>(0xE0 | C >> 12);
    Bytes += static_cast<char>(0x80 | (C >> 6 & 0x3F));
    Bytes += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    Bytes += static_cast<char>(0xF0 | C >> 18);
    Bytes += static_cast<char>(0x80 | (C >> 12 & 0x3F));
    Bytes += static_cast<char>(0x80 | (C >> 6 & 0x3F));
    Bytes += static_cast<char>(0x80 | (C & 0x3F));
  }
}

// The length of the UTF-8 sequence led by Lead and its payload bits, or 0 for a
// byte that cannot lead one.
int SequenceLength(uint8_t Lead, char32_t& Bits) {
  if (Lead < 0x80)
    return Bits = Lead, 1;
  if (Lead >= 0xC2 && Lead < 0xE0)
    return Bits = Lead & 0x1Fu, 2;
  if (Lead >= 0xE0 && Lead < 0xF0)
    return Bits = Lead & 0x0Fu, 3;
  if (Lead >= 0xF0 && Lead < 0xF5)
    return Bits = Lead & 0x07u, 4;
  return 0;
}

// The code point of the valid sequence at the start of Bytes and its length,
// or a length of 0. Overlong forms, surrogates and values past U+10FFFF are
// not valid: escaping them keeps the round trip exact.
int DecodeOne(std::string_view Bytes, char32_t& C) {
  const int length = SequenceLength(static_cast<uint8_t>(Bytes[0]), C);
  if (length == 0 || Bytes.size() < static_cast<size_t>(length))
    return 0;
  for (int k = 1; k < length; ++k) {
    const auto next = static_cast<uint8_t>(Bytes[static_cast<size_t>(k)]);
    if ((next & 0xC0) != 0x80)
      return 0;
    C = C << 6 | (next & 0x3Fu);
  }
  constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (C < smallest[length] || C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF))
    return 0;
  return length;
}

} // namespace

std::u16string BytesToWide(std::string_view Bytes) {
  std::u16string wide;
  wide.reserve(Bytes.size());
  while (!Bytes.empty()) {
    char32_t c = 0;
    const int length = DecodeOne(Bytes, c);
    if (length == 0) {
      wide += static_cast<char16_t>(EscapeBase + static_cast<uint8_t>(Bytes[0]));
      Bytes.remove_prefix(1);
      continue;
    }
    if (c >= 0x10000) {
      wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<char16_t>(c);
    }
    Bytes.remove_prefix(static_cast<size_t>(length));
  }
  return wide;
}

std::string WideToBytes(std::u16string_view Wide) {
  std::string bytes;
  bytes.reserve(Wide.size());
  for (size_t i = 0; i < Wide.size(); ++i) {
    char32_t c = Wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < Wide.size() && Wide[i + 1] >= 0xDC00 &&
        Wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (Wide[++i] - 0xDC00);
    } else if (IsEscapedByte(c)) {
      bytes += static_cast<char>(c - EscapeBase);
      continue;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(bytes, c);
  }
  return bytes;
}

} // namespace platform
