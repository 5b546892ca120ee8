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

// The side on which decimal text of the form above lies beyond 32 bits: 1
// above, -1 below, 0 for any other text. The numeric edits clamp such a
// number to their range, as they do any other number outside it, now that a
// header range ends at the 32-bit limit itself.
int DecimalOverflowSign(const QString& Text);
