#include "ui/NumberText.h"

#include <QLocale>
#include <cmath>

namespace {

QString PrintedText(double Value, int Decimals, int Width, bool Scientific) {
  QString text;
  if (std::isnan(Value))
    text = QStringLiteral("NAN");
  else if (std::isinf(Value))
    text = Value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
  else
    text = (Scientific ? QString::asprintf("%.*e", Decimals, Value)
                       : QString::asprintf("%.*f", Decimals, Value))
               .replace(QLatin1Char('.'), QLocale().decimalPoint());
  return text.rightJustified(Width, QLatin1Char(' '));
}

} // namespace

QString FixedText(double Value, int Decimals, int Width) {
  return PrintedText(Value, Decimals, Width, false);
}

QString ScientificText(double Value, int Decimals, int Width) {
  return PrintedText(Value, Decimals, Width, true);
}

QString WholeText(int64_t Number, int Width) {
  return QString::number(Number).rightJustified(Width, QLatin1Char(' '));
}

QString WholeText(uint64_t Number, int Width) {
  return QString::number(Number).rightJustified(Width, QLatin1Char(' '));
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
