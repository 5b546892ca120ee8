#include "data/Bitmap24.h"

#include <climits>
#include <gtest/gtest.h>
#include <new>

namespace {

TEST(Bitmap24, StrideIsThreeBytesPerPixelPaddedToFour) {
  struct TCase {
    int32_t Width;
    int32_t Stride;
  };
  // 3 x Width rounded up to a multiple of 4, as Windows lays out 24-bit DIB rows.
  const TCase cases[] = {{0, 0},         {1, 4},       {2, 8},         {3, 12},
                         {4, 12},        {5, 16},      {7, 24},        {8, 24},
                         {1365, 4096},   {1366, 4100}, {1367, 4104},   {2048, 6144},
                         {10000, 30000}, {-1, 0},      {INT32_MIN, 0}, {715827881, 2147483644}};
  for (const TCase& c : cases)
    EXPECT_EQ(TBitmap24::StrideFor(c.Width), c.Stride) << "width " << c.Width;
}

TEST(Bitmap24, StartsEmpty) {
  TBitmap24 bitmap;
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(bitmap.Height(), 0);
  EXPECT_EQ(bitmap.Stride(), 0);
  EXPECT_EQ(bitmap.Bits(), nullptr);
}

TEST(Bitmap24, NegativeSizesCountAsZero) {
  struct TCase {
    int32_t Width, Height;
    int32_t ExpectWidth, ExpectHeight, ExpectStride;
  };
  const TCase cases[] = {{-5, 3, 0, 3, 0},  {4, -1, 4, 0, 12},
                         {-1, -1, 0, 0, 0}, {INT32_MIN, INT32_MIN, 0, 0, 0},
                         {0, 7, 0, 7, 0},   {5, 0, 5, 0, 16}};
  for (const TCase& c : cases) {
    TBitmap24 bitmap;
    bitmap.SetSize(10, 10);
    bitmap.SetSize(c.Width, c.Height);
    EXPECT_EQ(bitmap.Width(), c.ExpectWidth) << c.Width << " x " << c.Height;
    EXPECT_EQ(bitmap.Height(), c.ExpectHeight) << c.Width << " x " << c.Height;
    EXPECT_EQ(bitmap.Stride(), c.ExpectStride) << c.Width << " x " << c.Height;
    EXPECT_EQ(bitmap.Bits(), nullptr) << c.Width << " x " << c.Height;
  }
}

TEST(Bitmap24, RowsFollowEachOtherStrideApartTopDown) {
  TBitmap24 bitmap;
  bitmap.SetSize(5, 4);
  ASSERT_EQ(bitmap.Stride(), 16);
  const uint8_t* base = bitmap.Bits();
  ASSERT_NE(base, nullptr);
  const TBitmap24& constBitmap = bitmap;
  for (int32_t row = 0; row < 4; ++row) {
    EXPECT_EQ(bitmap.ScanLine(row), base + 16 * row) << "row " << row;
    EXPECT_EQ(constBitmap.ScanLine(row), base + 16 * row) << "row " << row;
  }
  // Every byte of every row, padding included, is writable storage of the bitmap.
  for (int32_t row = 0; row < 4; ++row)
    for (int32_t i = 0; i < 16; ++i)
      bitmap.ScanLine(row)[i] = static_cast<uint8_t>(row * 16 + i);
  for (int32_t i = 0; i < 64; ++i)
    EXPECT_EQ(base[i], i);
}

TEST(Bitmap24, KeepsItsStorageWhenItShrinksAndGrowsBackWithinIt) {
  TBitmap24 bitmap;
  bitmap.SetSize(100, 100);
  const uint8_t* storage = bitmap.Bits();
  ASSERT_NE(storage, nullptr);
  const int32_t sizes[][2] = {{10, 10}, {100, 1}, {1, 100}, {99, 100}, {100, 100}, {60, 166}};
  for (const auto& size : sizes) {
    bitmap.SetSize(size[0], size[1]);
    EXPECT_EQ(bitmap.Bits(), storage) << size[0] << " x " << size[1];
    EXPECT_EQ(bitmap.Width(), size[0]);
    EXPECT_EQ(bitmap.Height(), size[1]);
  }
  // Empty sizes report no bits but must not give the storage away either.
  bitmap.SetSize(0, 0);
  EXPECT_EQ(bitmap.Bits(), nullptr);
  bitmap.SetSize(100, 100);
  EXPECT_EQ(bitmap.Bits(), storage);
}

TEST(Bitmap24, GrowingBeyondTheStorageGivesRoomForEveryRow) {
  TBitmap24 bitmap;
  bitmap.SetSize(2, 2);
  bitmap.SetSize(300, 200);
  ASSERT_EQ(bitmap.Stride(), 900);
  // Touching the last byte of the last row must stay inside the storage.
  bitmap.ScanLine(199)[899] = 0x5A;
  EXPECT_EQ(bitmap.Bits()[199 * 900 + 899], 0x5A);
}

TEST(Bitmap24, UnaddressableWidthThrowsAndLeavesAnEmptyBitmap) {
  TBitmap24 bitmap;
  bitmap.SetSize(8, 8);
  // 3 x INT32_MAX bytes per row cannot be addressed with a 32-bit stride.
  EXPECT_THROW(bitmap.SetSize(INT32_MAX, 1), std::bad_alloc);
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(bitmap.Height(), 0);
  EXPECT_EQ(bitmap.Bits(), nullptr);
  bitmap.SetSize(3, 2);
  EXPECT_EQ(bitmap.Stride(), 12);
  EXPECT_NE(bitmap.Bits(), nullptr);
}

} // namespace
