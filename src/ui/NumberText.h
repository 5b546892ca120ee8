#pragma once

#include <QString>

// Fixed-point text as the window writes numbers ("%W.Df"): the locale's
// decimal separator, no grouping, NaN and infinities as "NAN", "INF" and
// "-INF", padded on the left with blanks to at least Width characters.
QString FixedText(double Value, int Decimals, int Width);
