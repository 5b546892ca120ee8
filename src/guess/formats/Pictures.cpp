#include "guess/formats/Pictures.h"

#include "guess/formats/LittleEndian.h"

#include <array>
#include <cstring>
#include <string_view>

namespace guess {

namespace {

struct TCompressedPicture {
  std::string_view Magic;
  int64_t At;
  const char* Name;
};

// Magic numbers of the picture formats whose pixels are always compressed.
constexpr std::array<TCompressedPicture, 8> CompressedPictures = {{
    {"\x89PNG\r\n\x1a\n", 0, "PNG"},
    {"\xFF\xD8\xFF", 0, "JPEG"},
    {"GIF87a", 0, "GIF"},
    {"GIF89a", 0, "GIF"},
    {"WEBP", 8, "WebP"},
    {std::string_view("\x00\x00\x00\x0CjP  \r\n", 10), 0, "JPEG 2000"},
    {"\xFF\x0A", 0, "JPEG XL"},
    {std::string_view("\x00\x00\x00\x0CJXL \r\n", 10), 0, "JPEG XL"},
}};

// A signed field of a bitmap's header: a bottom-up bitmap's height is negative.
int64_t Field(const std::vector<uint8_t>& Bytes, size_t At, int Count) {
  const uint64_t value = Little(Bytes, At, Count);
  return Count == 4 ? static_cast<int32_t>(value) : static_cast<int64_t>(value);
}

// A Windows bitmap with a BITMAPINFOHEADER or a later one. Rows of 8, 16 and
// 32 bits per pixel read as bytes, 16-bit and 32-bit values; 24-bit rows
// read as bytes three times as long, as a PPM does.
TContainerReading ReadBmp(const std::vector<uint8_t>& Head, int64_t FileSize) {
  TContainerReading reading;
  reading.Format = "BMP";
  const int64_t dataStart = Field(Head, 10, 4);
  const int64_t infoSize = Field(Head, 14, 4);
  const int64_t width = Field(Head, 18, 4);
  const int64_t height = Field(Head, 22, 4);
  const int64_t planes = Field(Head, 26, 2);
  const int64_t bits = Field(Head, 28, 2);
  const int64_t compression = Field(Head, 30, 4);
  if (infoSize < 40 || planes != 1 || width < 1 || height == 0 || width > (int64_t{1} << 24) ||
      height < -(int64_t{1} << 24) || height > (int64_t{1} << 24) || dataStart < 14 + infoSize ||
      dataStart > FileSize) {
    reading.Format.clear(); // two letters and numbers that make no bitmap
    return reading;
  }
  // BI_RGB, or BI_BITFIELDS for 16 and 32 bits, whose masks only say which
  // bits are which colour: the bytes are raw either way.
  const bool raw = compression == 0 || (compression == 3 && (bits == 16 || bits == 32));
  if (!raw || (bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
    reading.NoRawVoxels = raw ? "BMP with " + std::to_string(bits) +
                                    "-bit pixels packed within bytes: the file holds no raw voxels"
                              : "BMP with compressed pixels: the file holds no raw voxels";
    return reading;
  }
  const int64_t rowBytes = (width * bits / 8 + 3) / 4 * 4;
  const int64_t rows = height < 0 ? -height : height;
  if (dataStart + rowBytes * rows > FileSize) {
    reading.Format.clear(); // cut short or lying: the content may still tell
    return reading;
  }
  const int64_t sample = bits == 24 ? 1 : bits / 8;
  TStatedLayout layout;
  layout.Dims = {rowBytes / sample, rows};
  layout.VoxelType = sample == 1 ? vtByte : sample == 2 ? vtUInt16 : vtUInt32;
  layout.DataStart = dataStart;
  // Padding and colour samples make the picture a fair view, not the image.
  layout.Score = rowBytes / sample == width ? 0.99 : 0.9;
  layout.Note = "BMP image, " + std::to_string(bits) + " bits per pixel" +
                (height > 0 ? ", rows bottom up" : "") +
                (rowBytes != width * bits / 8 ? ", rows padded to four bytes" : "");
  reading.Layouts.push_back(std::move(layout));
  return reading;
}

} // namespace

TContainerReading ReadPicture(TByteSource& Source) {
  const std::vector<uint8_t> head = Source.Read(0, 64);
  const auto holds = [&head](std::string_view Magic, int64_t At) {
    return std::ssize(head) >= At + std::ssize(Magic) &&
           std::memcmp(head.data() + At, Magic.data(), Magic.size()) == 0;
  };
  for (const TCompressedPicture& picture : CompressedPictures)
    if (holds(picture.Magic, picture.At) && (picture.At == 0 || holds("RIFF", 0))) {
      TContainerReading reading;
      reading.Format = picture.Name;
      reading.NoRawVoxels = std::string(picture.Name) +
                            " picture with compressed pixels: the file holds no raw voxels";
      return reading;
    }
  if (holds("BM", 0) && head.size() >= 54)
    return ReadBmp(head, Source.Size());
  return {};
}

} // namespace guess
