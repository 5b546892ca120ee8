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
  if (State.Kind == platform::TDecodeState::Truncated)
    note += ", truncated";
  else if (State.Kind == platform::TDecodeState::Damaged)
    note += ", damaged at byte " + std::to_string(State.CompressedOffset) + " of the file";
  else if (State.Kind == platform::TDecodeState::TooLarge)
    note += ", the frame at byte " + std::to_string(State.CompressedOffset) +
            " of the file needs a window over " + std::to_string(platform::MaxWindowBytes >> 20) +
            " MiB";
  return note + ")";
}
