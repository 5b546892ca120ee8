#include "ui/NumberText.h"

#include <QLocale>
#include <cmath>

QString FixedText(double Value, int Decimals, int Width) {
  QString text;
  if (std::isnan(Value))
    text = QStringLiteral("NAN");
  else if (std::isinf(Value))
    text = Value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
  else
    text = QString::asprintf("%.*f", Decimals, Value)
               .replace(QLatin1Char('.'), QLocale().decimalPoint());
  return text.rightJustified(Width, QLatin1Char(' '));
}

// Only the separator comes from the locale: its digits may be native ones and
// its grouping other than threes (en_IN), while the indices beside these
// numbers are always ASCII and the readout's columns must line up.
QString GroupedText(int64_t Number, int Width) {
  const QString digits = QString::number(Number).remove(QLatin1Char('-'));
  const QString separator = QLocale().groupSeparator();
  QString text = Number < 0 ? QStringLiteral("-") : QString();
  for (qsizetype at = 0; at < digits.size(); ++at) {
    if (at > 0 && (digits.size() - at) % 3 == 0)
      text += separator;
    text += digits[at];
  }
  return text.rightJustified(Width, QLatin1Char(' '));
}
