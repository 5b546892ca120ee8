#include "data/TestFiles.h"
#include "data/VoxelDecoder.h"
#include "guess/formats/Pictures.h"

#include <gtest/gtest.h>
#include <span>
#include <string>
#include <vector>

using namespace guess;

namespace {

using testfiles::AppendBytes;

// A bitmap as its published layout has it: a 14-byte file header, a 40-byte
// BITMAPINFOHEADER, then rows of Bits-per-pixel values, each padded to four
// bytes. Pixel (x, y) of stored row y holds x + 7 * y.
std::vector<uint8_t> Bitmap(int32_t Width, int32_t Height, int32_t Bits, int32_t Compression = 0) {
  const int64_t rowBytes = (int64_t{Width} * Bits / 8 + 3) / 4 * 4;
  const int32_t rows = Height < 0 ? -Height : Height;
  std::vector<uint8_t> bytes = {'B', 'M'};
  AppendBytes(bytes, 54 + rowBytes * rows, 4, boLittleEndian);
  AppendBytes(bytes, 0, 4, boLittleEndian);
  AppendBytes(bytes, 54, 4, boLittleEndian); // where the pixels start
  for (const auto& [value, size] : std::initializer_list<std::pair<int64_t, int>>{{40, 4},
                                                                                  {Width, 4},
                                                                                  {Height, 4},
                                                                                  {1, 2},
                                                                                  {Bits, 2},
                                                                                  {Compression, 4},
                                                                                  {0, 4},
                                                                                  {2835, 4},
                                                                                  {2835, 4},
                                                                                  {0, 4},
                                                                                  {0, 4}})
    AppendBytes(bytes, static_cast<uint64_t>(value), size, boLittleEndian);
  for (int32_t y = 0; y < rows; ++y) {
    const size_t rowStart = bytes.size();
    for (int32_t x = 0; x < Width * (Bits == 24 ? 3 : 1); ++x)
      AppendBytes(bytes, static_cast<uint64_t>(x + 7 * y), Bits == 24 ? 1 : Bits / 8,
                  boLittleEndian);
    bytes.resize(rowStart + static_cast<size_t>(rowBytes), 0);
  }
  return bytes;
}

TContainerReading Read(const std::vector<uint8_t>& Bytes) {
  TByteSource source(std::span<const uint8_t>(Bytes.data(), Bytes.size()));
  return ReadPicture(source);
}

TEST(Pictures, BitmapsGiveTheirRowsAsStoredPaddingIncluded) {
  const struct {
    int32_t Width, Height, Bits;
    int64_t RowVoxels;
    TVoxelType Type;
  } cases[] = {{5, 3, 8, 8, vtByte},   {8, -4, 8, 8, vtByte},   {4, 2, 24, 12, vtByte},
               {5, 2, 24, 16, vtByte}, {3, 3, 16, 4, vtUInt16}, {3, 5, 32, 3, vtUInt32}};
  for (const auto& c : cases) {
    const std::string what =
        std::to_string(c.Width) + "x" + std::to_string(c.Height) + " at " + std::to_string(c.Bits);
    const std::vector<uint8_t> bytes = Bitmap(c.Width, c.Height, c.Bits);
    const TContainerReading reading = Read(bytes);
    EXPECT_EQ(reading.Format, "BMP") << what;
    ASSERT_EQ(reading.Layouts.size(), 1u) << what;
    const TStatedLayout& layout = reading.Layouts[0];
    EXPECT_EQ(layout.Dims, (std::vector<int64_t>{c.RowVoxels, c.Height < 0 ? -c.Height : c.Height}))
        << what;
    EXPECT_EQ(layout.VoxelType, c.Type) << what;
    EXPECT_EQ(layout.DataStart, 54) << what;
    // The first sample of every stored row is 7 times its row number.
    for (int64_t y = 0; y < layout.Dims[1]; ++y) {
      const TVoxelValue first =
          voxeldecoder::DecodeVoxel(bytes.data() + 54, y * c.RowVoxels, c.Type, boLittleEndian);
      EXPECT_EQ(first.Kind == TVoxelValue::Signed ? first.SignedValue
                                                  : static_cast<int64_t>(first.UnsignedValue),
                7 * y)
          << what;
    }
  }
}

TEST(Pictures, CompressedPicturesAndBitmapsSayWhyAndLiesAreNoBitmaps) {
  const struct {
    std::string Bytes, Format, Reason;
  } cases[] = {
      {"\x89PNG\r\n\x1a\n0000IHDR", "PNG", "PNG picture with compressed pixels"},
      {"\xFF\xD8\xFF\xE0", "JPEG", "JPEG picture with compressed pixels"},
      {"GIF89a....", "GIF", "GIF picture with compressed pixels"},
      {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), "WebP", "WebP picture with compressed pixels"},
      {"\xFF\x0A\xFA", "JPEG XL", "JPEG XL picture with compressed pixels"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes(c.Bytes.begin(), c.Bytes.end());
    bytes.resize(200, 0x55);
    const TContainerReading reading = Read(bytes);
    EXPECT_EQ(reading.Format, c.Format);
    EXPECT_EQ(reading.NoRawVoxels.rfind(c.Reason, 0), 0u) << reading.NoRawVoxels;
    EXPECT_TRUE(reading.Layouts.empty());
  }
  EXPECT_EQ(Read(Bitmap(4, 4, 8, 1)).NoRawVoxels,
            "BMP with compressed pixels: the file holds no raw voxels");
  EXPECT_EQ(Read(Bitmap(16, 4, 4)).NoRawVoxels,
            "BMP with 4-bit pixels packed within bytes: the file holds no raw voxels");
  // "BM" and numbers that make no bitmap: a width of 0, pixels past the end.
  std::vector<uint8_t> lie = Bitmap(4, 4, 8);
  lie[18] = lie[19] = lie[20] = lie[21] = 0;
  EXPECT_TRUE(Read(lie).Format.empty());
  lie = Bitmap(4, 4, 8);
  lie[10] = 0xFF, lie[11] = 0xFF;
  EXPECT_TRUE(Read(lie).Format.empty());
  EXPECT_TRUE(Read(std::vector<uint8_t>{'B', 'M', 1, 2}).Format.empty());
}

} // namespace
