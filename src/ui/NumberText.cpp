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
