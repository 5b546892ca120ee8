#include "data/MappingModel.h"
#include "data/TestFiles.h"
#include "data/Thumbnail.h"
#include "platform/FileStream.h"

#include <cmath>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <unistd.h>

namespace {

using testfiles::PixelAt;

struct TCase {
  const char* What;
  TLayout Layout;
  std::function<double(int64_t X, int64_t Y, int64_t Z)> Value;
  int64_t Cut = 0; // bytes taken off the end of the file
  int32_t Width;   // of the picture, with MaxSide 96
  int32_t Height;
};

// Pixel I of N across Count voxels shows the voxel under its centre.
int64_t Sampled(int64_t I, int64_t N, int64_t Count) {
  return static_cast<int64_t>(std::floor((I + 0.5) * static_cast<double>(Count) / N));
}

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

const TCase Cases[] = {
    {"int16 big-endian, 1:1",
     {7, 6, 5, 3, vtInt16, boBigEndian},
     [](int64_t x, int64_t y, int64_t z) { return 37.0 * x - 53.0 * y + 1000.0 * z - 90.0; },
     0,
     6,
     5},
    {"bytes, wide, scaled down",
     {0, 300, 120, 4, vtByte, boLittleEndian},
     [](int64_t x, int64_t y, int64_t z) { return double((x * 7 + y * 13 + z) % 256); },
     0,
     96,
     38},
    {"float32, tall, a NaN and an infinity shown",
     {3, 10, 200, 1, vtFloat32, boLittleEndian},
     [](int64_t x, int64_t y, int64_t) {
       return x == 3 && y == 5 ? NaN : (x == 5 && y == 9 ? Inf : 0.25 * x + 1.5 * y - 40.0);
     },
     0,
     5,
     96},
    {"float64, rows longer than one read",
     {0, 3000, 2, 3, vtFloat64, boBigEndian},
     [](int64_t x, int64_t y, int64_t z) { return x * 0.5 - y * 7.0 + z - 1000.0; },
     0,
     96,
     1},
    {"bytes, the middle slice runs past the end",
     {0, 4, 4, 3, vtByte, boLittleEndian},
     [](int64_t x, int64_t y, int64_t) { return double(10 * y + x); },
     16 + 10,
     4,
     4},
    {"uint16, the middle slice wholly past the end",
     {100, 200, 150, 2, vtUInt16, boLittleEndian},
     [](int64_t x, int64_t, int64_t) { return double(x); },
     200 * 150 * 2 + 1,
     96,
     72},
};

// What the picture must show, worked out from the file's own values: the
// window spans the finite values shown, widened to whole numbers.
std::vector<uint32_t> ExpectedPixels(const TCase& Test, int64_t FileSize) {
  const TLayout& l = Test.Layout;
  const int64_t bytes = BytesPerVoxel[l.VoxelType];
  const int64_t z = l.SlicesPerVolume / 2;
  std::vector<double> values;
  std::vector<bool> inFile;
  double low = Inf, high = -Inf;
  for (int64_t j = 0; j < Test.Height; ++j)
    for (int64_t i = 0; i < Test.Width; ++i) {
      const int64_t x = Sampled(i, Test.Width, l.VoxelsPerRow);
      const int64_t y = Sampled(j, Test.Height, l.RowsPerSlice);
      const int64_t offset =
          l.HeaderBytes + ((z * l.RowsPerSlice + y) * l.VoxelsPerRow + x) * bytes;
      const double v = static_cast<float>(Test.Value(x, y, z));
      values.push_back(v);
      inFile.push_back(offset + bytes <= FileSize);
      if (inFile.back() && std::isfinite(v)) {
        low = std::min(low, v);
        high = std::max(high, v);
      }
    }
  const mappingmodel::TModel model =
      low <= high ? mappingmodel::MakeModel(static_cast<int32_t>(std::floor(low)),
                                            static_cast<int32_t>(std::ceil(high)), false)
                  : mappingmodel::MakeModel(0, 0, false);
  std::vector<uint32_t> pixels;
  for (size_t p = 0; p < values.size(); ++p)
    pixels.push_back(inFile[p] ? mappingmodel::ModelColour(model, static_cast<float>(values[p]))
                               : testfiles::LightBlue);
  return pixels;
}

std::vector<uint8_t> VolumeBytes(const TCase& Test) {
  const TLayout& l = Test.Layout;
  std::vector<uint8_t> bytes(static_cast<size_t>(l.HeaderBytes), 0xA5);
  for (int64_t z = 0; z < l.SlicesPerVolume; ++z)
    for (int64_t y = 0; y < l.RowsPerSlice; ++y)
      for (int64_t x = 0; x < l.VoxelsPerRow; ++x)
        testfiles::AppendVoxel(bytes, l.VoxelType, l.ByteOrder, Test.Value(x, y, z));
  bytes.resize(bytes.size() - static_cast<size_t>(Test.Cut));
  return bytes;
}

TEST(Thumbnail, ShowsTheMiddleSliceByNearestVoxelInTheViewsColours) {
  testfiles::TTempDir dir;
  for (const TCase& test : Cases) {
    const std::vector<uint8_t> bytes = VolumeBytes(test);
    platform::TFileStream stream(dir.MakeFile("volume.raw", bytes));
    TBitmap24 picture;
    PaintThumbnail(stream, test.Layout, ThumbnailSide, picture);
    ASSERT_EQ(picture.Width(), test.Width) << test.What;
    ASSERT_EQ(picture.Height(), test.Height) << test.What;
    const std::vector<uint32_t> expected = ExpectedPixels(test, std::ssize(bytes));
    testfiles::ExpectPixels(
        picture, [&](int64_t p) { return expected[static_cast<size_t>(p)]; }, test.What);
  }
}

// A 4 GiB file, sparse, with 10000 x 10000 slices: reading a whole slice would
// take 100 MB and more; the picture must cost what a small file's does.
TEST(Thumbnail, AHugeFileIsReadOnlyWhereThePictureLooks) {
  testfiles::TTempDir dir;
  const std::string path = dir.MakeFile("huge.raw", {});
  const int handle = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(handle, 0);
  ASSERT_EQ(::ftruncate(handle, int64_t{4} << 30), 0);
  ::close(handle);
  platform::TFileStream stream(path);
  const TLayout layouts[] = {{0, 10000, 10000, 40, vtByte, boLittleEndian},
                             {2147483647, 10000, 10000, 10, vtInt16, boBigEndian},
                             {0, 10000, 10000, 5, vtFloat64, boLittleEndian}};
  for (const TLayout& layout : layouts) {
    int64_t bytesRead = 0;
    int64_t reads = 0;
    const TThumbnailReader counting = [&](int64_t Offset, void* Buffer, int64_t Count) {
      ++reads;
      const int64_t arrived = stream.ReadAt(Offset, Buffer, Count);
      bytesRead += arrived;
      return arrived;
    };
    TBitmap24 picture;
    PaintThumbnail(counting, layout, ThumbnailSide, picture);
    const std::string what = std::to_string(layout.HeaderBytes) + " + type " +
                             std::to_string(static_cast<int>(layout.VoxelType));
    EXPECT_LE(bytesRead, int64_t{1} << 20) << what;
    EXPECT_LE(reads, ThumbnailSide * ThumbnailSide) << what;
    ASSERT_EQ(picture.Width(), ThumbnailSide) << what;
    ASSERT_EQ(picture.Height(), ThumbnailSide) << what;
    testfiles::ExpectPixels(
        picture, [](int64_t) { return testfiles::Grey(0); }, what); // all zeros, one grey
  }
}

TEST(Thumbnail, ALayoutOutsideTheRangesPaintsNothing) {
  TBitmap24 picture;
  picture.SetSize(3, 3);
  const TThumbnailReader none = [](int64_t, void*, int64_t) -> int64_t {
    ADD_FAILURE() << "read";
    return 0;
  };
  PaintThumbnail(none, {0, 0, 5, 5, vtByte, boLittleEndian}, ThumbnailSide, picture);
  EXPECT_EQ(picture.Width(), 0);
  PaintThumbnail(none, {0, 5, 5, 5, vtByte, boLittleEndian}, 0, picture);
  EXPECT_EQ(picture.Height(), 0);
}

} // namespace
