#pragma once

#include <QString>
#include <ostream>

// Lets failed expectations show Qt strings as text rather than as bytes.
inline void PrintTo(const QString& Text, std::ostream* Out) {
  *Out << '"' << Text.toStdString() << '"';
}
