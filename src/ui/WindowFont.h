#pragma once

#include <QFont>
#include <QStringList>

// The windows' font: "MS Sans Serif" at 11 pixels where it exists. Elsewhere
// its metric stand-in is wider, so it is narrowed a little to keep the
// captions clear of the controls placed right after them.
inline QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arial")});
  font.setPixelSize(11);
  font.setStretch(QFont::SemiCondensed);
  return font;
}
