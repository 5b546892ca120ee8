#include "ui/FileNote.h"

#include <cstdio>

std::string SizeText(int64_t Bytes) {
  if (Bytes < 1000)
    return std::to_string(Bytes) + (Bytes == 1 ? " byte" : " bytes");
  static const char* const Units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(Bytes) / 1000.0;
  size_t unit = 0;
  // 999.95 would print as 1000.0 of the smaller unit.
  while (value >= 999.95 && unit + 1 < std::size(Units)) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, Units[unit]);
  return text;
}

std::string CompressionNote(platform::TCompression Kind, const platform::TDecodeState& State) {
  if (Kind == platform::TCompression::None)
    return {};
  std::string note = std::string(" (") + platform::CompressionName(Kind) + ", " +
                     SizeText(State.DecompressedOffset) + " decompressed";
  const std::string trouble = platform::DecodeTrouble(State);
  if (!trouble.empty())
    note += ", " + trouble;
  return note + ")";
}
