#pragma once

#include <QString>
#include <cstdint>

// Fixed-point text as the window writes numbers ("%W.Df"): the locale's
// decimal separator, no grouping, NaN and infinities as "NAN", "INF" and
// "-INF", padded on the left with blanks to at least Width characters.
QString FixedText(double Value, int Decimals, int Width);

// Scientific text ("%W.De"): one digit before the locale's decimal separator,
// Decimals after it and the exponent with its sign, padded on the left with
// blanks to at least Width characters; NaN and infinities as FixedText has them.
QString ScientificText(double Value, int Decimals, int Width);

// A whole number as "%W.0f" would show it, taken from the integer itself so
// that 64-bit values beyond 2^53 keep every digit.
QString WholeText(int64_t Number, int Width);
QString WholeText(uint64_t Number, int Width);

// A whole number as the readout writes it ("%W.0n"): ASCII digits in groups
// of three joined by the locale's group separator, padded on the left with
// blanks to at least Width characters.
QString GroupedText(int64_t Number, int Width);
