#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// The one rule by which the window reads a number typed into an edit: leading
// blanks, then a signed decimal number within 32 bits, or "$", "x", "X", "0x"
// or "0X" followed by up to eight significant hexadecimal digits taken as a
// 32-bit two's-complement pattern ("$FFFFFFFF" is -1). Nothing may follow the
// digits. Anything else, the empty text included, has no value.
std::optional<int32_t> IntegerTextValue(const QString& Text);
