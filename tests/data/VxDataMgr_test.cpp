#include "GzipFile.h"
#include "data/TestFiles.h"
#include "data/VxDataMgr.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <iterator>
#include <limits>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

using testfiles::ExpectPixels;
using testfiles::Green;
using testfiles::Grey;
using testfiles::LightBlue;
using testfiles::PixelAt;
using testfiles::Red;
using testfiles::TTempDir;
using testfiles::TTestImage;
using testfiles::Yellow;

// Exact reference arithmetic for voxel numbers and offsets.
__extension__ typedef __int128 TWide;

constexpr float NoMin = 2147483648.0f;
constexpr float NoMax = -2147483648.0f;
constexpr TViewKind AllViews[] = {vkSlice, vkNextSlice, vkCrossSlice, vkOtherVolume};
constexpr TVoxelType AllTypes[] = {vtByte,   vtInt16, vtInt32,  vtFloat32, vtUInt16, vtInt8,
                                   vtUInt32, vtInt64, vtUInt64, vtFloat16, vtFloat64};

std::vector<uint8_t> VoxelBytes(TVoxelType Type, TByteOrder Order,
                                const std::vector<double>& Values) {
  std::vector<uint8_t> bytes;
  for (double v : Values)
    testfiles::AppendVoxel(bytes, Type, Order, v);
  return bytes;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> A, const std::vector<uint8_t>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

// A data manager with a folder for its files and one image per view.
class VxDataMgrTest : public ::testing::Test {
protected:
  std::string Make(const std::vector<uint8_t>& Bytes, const std::string& Name = "volume.raw") {
    return Dir.MakeFile(Name, Bytes);
  }
  void Set(int32_t Header, int32_t D0, int32_t D1, int32_t D2, TVoxelType Type,
           TByteOrder Order = boLittleEndian, int32_t Min = 0, int32_t Max = 255,
           bool Flag = false) {
    Mgr.SetParameters(Header, D0, D1, D2, Type, Order, Min, Max, Flag);
  }
  TTestImage& ImageOf(TViewKind View) { return Images[View]; }
  // Renders and checks that the image was asked to repaint exactly once.
  TBitmap24& Render(int32_t Volume, int32_t Index, TViewKind View) {
    TTestImage& image = ImageOf(View);
    const int before = image.RepaintCount;
    Mgr.RenderView(Volume, Index, View, image);
    EXPECT_EQ(image.RepaintCount, before + 1) << "view " << int(View);
    return image.Bitmap;
  }

  TTempDir Dir;
  TVxDataMgr Mgr;
  TTestImage Images[4];
};

TEST(VxDataMgrState, StartsWithDefaultDimsAndNothingElse) {
  const TVxDataMgr mgr;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(mgr.Dims(i), 256) << i;
    EXPECT_EQ(mgr.Strides(i), 0) << i;
  }
  EXPECT_EQ(mgr.FileName(), "");
  EXPECT_EQ(mgr.ErrorText(), "");
  EXPECT_FALSE(mgr.IsOpen());
  EXPECT_EQ(mgr.HeaderBytes(), 0);
  EXPECT_EQ(mgr.VoxelType(), vtByte);
  EXPECT_EQ(mgr.ByteOrder(), boLittleEndian);
  EXPECT_EQ(mgr.IntensityMin(), 0);
  EXPECT_EQ(mgr.IntensityMax(), 0);
  EXPECT_FALSE(mgr.FlagOverUnder());
  EXPECT_EQ(mgr.SliceMin(), 0.0f);
  EXPECT_EQ(mgr.SliceMax(), 0.0f);
  for (TViewKind view : AllViews) {
    EXPECT_EQ(mgr.ViewVoxelCount(view), 0);
    const auto& buffer = mgr.ViewBuffer(view);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; }));
    for (const auto& xy : {std::array{0, 0}, std::array{5, 7}, std::array{255, 255}})
      EXPECT_EQ(mgr.ProbeValue(view, xy[0], xy[1]), 0.0);
  }
}

TEST(VxDataMgrState, TheGlobalManagerExistsWithTheDefaults) {
  EXPECT_EQ(DataMgr.Dims(0), 256);
  EXPECT_EQ(DataMgr.Dims(2), 256);
  EXPECT_FALSE(DataMgr.IsOpen());
  EXPECT_EQ(DataMgr.FileName(), "");
}

TEST(VxDataMgrArithmetic, HeadScanWithHeader) {
  TVxDataMgr mgr;
  mgr.SetParameters(352, 256, 256, 124, vtInt16, boLittleEndian, 0, 0, false);
  EXPECT_EQ(mgr.Strides(0), 256);
  EXPECT_EQ(mgr.Strides(1), 65536);
  EXPECT_EQ(mgr.Strides(2), 8126464);
  EXPECT_EQ(mgr.VoxelIndex(10, 20, 30, 0), 1971210);
  EXPECT_EQ(mgr.VoxelFileOffset(10, 20, 30, 0), 3942772);
  EXPECT_EQ(mgr.VoxelFileOffset(10, 20, 30, 0), 0x3C2974);
}

// The voxel number and offset of a case, computed exactly in 128 bits.
struct TIndexCase {
  int32_t Header, D0, D1, D2;
  TVoxelType Type;
  int32_t I0, I1, I2, I3;
};

TWide ExactIndex(const TIndexCase& C) {
  const TWide s0 = C.D0, s1 = s0 * C.D1, s2 = s1 * C.D2;
  return C.I0 + C.I1 * s0 + C.I2 * s1 + C.I3 * s2;
}

TWide ExactOffset(const TIndexCase& C) {
  return ExactIndex(C) * BytesPerVoxel[C.Type] + C.Header;
}

bool FitsInt64(TWide V) {
  return V >= INT64_MIN && V <= INT64_MAX;
}

TEST(VxDataMgrArithmetic, IndexAndOffsetTable) {
  const TIndexCase cases[] = {
      {0, 256, 256, 124, vtByte, 0, 0, 0, 0},
      {7, 256, 256, 124, vtFloat32, 255, 255, 123, 0},
      // Indices are never bounded by the dimensions.
      {0, 10, 20, 30, vtInt16, 10, 0, 0, 0},
      {0, 10, 20, 30, vtInt16, 0, 0, 30, 0},
      {5, 10, 20, 30, vtInt32, 123, 456, 789, 3},
      {0, 1, 1, 1, vtByte, 9, 9, 9, 9},
      // A zero dimension makes the strides above it 0.
      {0, 10, 0, 5, vtInt16, 1, 2, 3, 4},
      {0, 0, 7, 9, vtInt32, 5, 6, 7, 8},
      {3, 4, 5, 0, vtByte, 1, 1, 1, 1000},
      // Negative indices address before the voxel; nothing is clamped.
      {352, 256, 256, 124, vtInt16, -1, 0, 0, 0},
      {0, 16, 16, 16, vtFloat32, 0, -3, 2, -1},
      {0, 16, 16, 16, vtByte, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN},
      // Negative dimensions are plain factors of the strides.
      {0, -3, 4, 5, vtInt16, 1, 2, 3, 4},
      {11, 6, -2, 3, vtInt32, -5, 7, 1, 2},
      // Beyond 32 bits: volumes of the window's largest dimensions.
      {32767, 10000, 10000, 10000, vtFloat32, 9999, 9999, 9999, 10000},
      {32767, 10000, 10000, 10000, vtInt16, 0, 0, 0, 1},
      {0, 10000, 10000, 10000, vtFloat32, INT32_MAX, INT32_MAX, INT32_MAX, 1000},
      {0, 2048, 2048, 1000, vtInt32, 0, 0, 999, 600},
      {0, INT32_MAX, INT32_MAX, 1, vtByte, 0, 1, 1, 0},
  };
  for (const TIndexCase& c : cases) {
    ASSERT_TRUE(FitsInt64(ExactOffset(c)));
    TVxDataMgr mgr;
    mgr.SetParameters(c.Header, c.D0, c.D1, c.D2, c.Type, boBigEndian, 0, 0, false);
    const TWide s0 = c.D0, s1 = s0 * c.D1, s2 = s1 * c.D2;
    EXPECT_EQ(mgr.Strides(0), static_cast<int64_t>(s0));
    EXPECT_EQ(mgr.Strides(1), static_cast<int64_t>(s1));
    EXPECT_EQ(mgr.Strides(2), static_cast<int64_t>(s2));
    EXPECT_EQ(mgr.VoxelIndex(c.I0, c.I1, c.I2, c.I3), static_cast<int64_t>(ExactIndex(c)))
        << c.D0 << "x" << c.D1 << "x" << c.D2 << " (" << c.I0 << ", " << c.I1 << ", " << c.I2
        << ", " << c.I3 << ")";
    EXPECT_EQ(mgr.VoxelFileOffset(c.I0, c.I1, c.I2, c.I3), static_cast<int64_t>(ExactOffset(c)))
        << c.D0 << "x" << c.D1 << "x" << c.D2 << " (" << c.I0 << ", " << c.I1 << ", " << c.I2
        << ", " << c.I3 << ")";
  }
}

TEST(VxDataMgrArithmetic, LargeOffsetsAreExact) {
  // By hand: 9999 + 9999 x 10^4 + 9999 x 10^8 + 10000 x 10^12, then x 4 + 32767.
  TVxDataMgr mgr;
  mgr.SetParameters(32767, 10000, 10000, 10000, vtFloat32, boLittleEndian, 0, 0, false);
  EXPECT_EQ(mgr.Strides(2), 1'000'000'000'000);
  EXPECT_EQ(mgr.VoxelIndex(9999, 9999, 9999, 10000), 10'000'999'999'999'999);
  EXPECT_EQ(mgr.VoxelFileOffset(9999, 9999, 9999, 10000), 40'004'000'000'032'763);
  // Volume 1 of a 4 GiB int16 volume starts past 2^32.
  mgr.SetParameters(0, 2048, 2048, 512, vtInt16, boLittleEndian, 0, 0, false);
  EXPECT_EQ(mgr.VoxelFileOffset(0, 0, 0, 1), 4'294'967'296);
  EXPECT_EQ(mgr.VoxelFileOffset(1, 0, 0, 1), 4'294'967'298);
}

TEST(VxDataMgrArithmetic, SaturatesInsteadOfOverflowing) {
  struct TCase {
    TIndexCase Case;
    bool CheckStrides;
  };
  const TCase cases[] = {
      {{0, INT32_MAX, INT32_MAX, INT32_MAX, vtFloat32, 0, 0, 0, 1}, true},
      {{0, INT32_MAX, INT32_MAX, INT32_MAX, vtFloat32, 0, 0, 3, 0}, true},
      {{0, INT32_MAX, INT32_MAX, INT32_MAX, vtFloat32, 0, 0, 2, 0}, true},
      {{352, 10000, 10000, 10000, vtInt32, 0, 0, 0, INT32_MAX}, false},
      {{0, 10000, 10000, 10000, vtInt32, 0, 0, 0, INT32_MIN}, false},
      {{0, 10000, 10000, 10000, vtByte, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}, false},
      {{32767, INT32_MAX, INT32_MAX, 2, vtInt16, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
       false},
  };
  for (const TCase& t : cases) {
    const TIndexCase& c = t.Case;
    TVxDataMgr mgr;
    mgr.SetParameters(c.Header, c.D0, c.D1, c.D2, c.Type, boLittleEndian, 0, 0, false);
    const auto saturate = [](TWide v) {
      return static_cast<int64_t>(std::clamp<TWide>(v, INT64_MIN, INT64_MAX));
    };
    const TWide s2 = TWide{c.D0} * c.D1 * c.D2;
    if (t.CheckStrides) {
      EXPECT_EQ(mgr.Strides(2), saturate(s2));
    }
    EXPECT_EQ(mgr.VoxelIndex(c.I0, c.I1, c.I2, c.I3), saturate(ExactIndex(c)))
        << c.D0 << "x" << c.D1 << "x" << c.D2 << " (" << c.I0 << ", " << c.I1 << ", " << c.I2
        << ", " << c.I3 << ")";
    EXPECT_EQ(mgr.VoxelFileOffset(c.I0, c.I1, c.I2, c.I3), saturate(ExactOffset(c)))
        << c.D0 << "x" << c.D1 << "x" << c.D2 << " (" << c.I0 << ", " << c.I1 << ", " << c.I2
        << ", " << c.I3 << ")";
  }
}

TEST(VxDataMgrArithmetic, ParametersAreStoredUnvalidated) {
  TVxDataMgr mgr;
  mgr.SetParameters(-5, -1, 0, 70000, vtFloat32, boBigEndian, 300, -300, true);
  EXPECT_EQ(mgr.HeaderBytes(), -5);
  EXPECT_EQ(mgr.Dims(0), -1);
  EXPECT_EQ(mgr.Dims(1), 0);
  EXPECT_EQ(mgr.Dims(2), 70000);
  EXPECT_EQ(mgr.Strides(0), -1);
  EXPECT_EQ(mgr.Strides(1), 0);
  EXPECT_EQ(mgr.Strides(2), 0);
  EXPECT_EQ(mgr.VoxelType(), vtFloat32);
  EXPECT_EQ(mgr.ByteOrder(), boBigEndian);
  EXPECT_EQ(mgr.IntensityMin(), 300);
  EXPECT_EQ(mgr.IntensityMax(), -300);
  EXPECT_TRUE(mgr.FlagOverUnder());
}

TEST_F(VxDataMgrTest, OpenAndCloseStateTable) {
  const std::string good = Make({1, 2, 3, 4}, "good.raw");
  const std::string other = Make({5, 6}, "other.raw");
  const std::string missing = Dir.Path("missing.raw");
  struct TStep {
    std::string Action; // "open <name>" or "close"
    std::string Name;
    std::string FileName;
    std::string ErrorText;
  };
  const std::string noFile = "File does not exist";
  const TStep steps[] = {
      {"close", "", "", ""},
      {"open", missing, "", noFile},
      {"close", "", "", noFile},
      {"close", "", "", noFile},
      {"open", good, good, ""},
      {"open", good, good, ""}, // the same file again: closed and reopened
      {"open", missing, "", noFile},
      {"open", other, other, ""},
      {"open", Dir.Root(), "", noFile},
      {"open", good, good, ""},
      {"open", "", "", noFile},
      {"open", Dir.Path("no/such/dir/file.raw"), "", noFile},
      {"open", other, other, ""},
      {"close", "", "", ""},
      {"close", "", "", ""},
  };
  int number = 0;
  for (const TStep& step : steps) {
    if (step.Action == "open")
      Mgr.OpenFile(step.Name);
    else
      Mgr.CloseFile();
    EXPECT_EQ(Mgr.FileName(), step.FileName) << "step " << number;
    EXPECT_EQ(Mgr.ErrorText(), step.ErrorText) << "step " << number;
    EXPECT_EQ(Mgr.IsOpen(), !step.FileName.empty()) << "step " << number;
    ++number;
  }
}

// Every view of a gzipped file, whole or cut short, paints as the plain file
// of its decompressed bytes does, past-the-end colour included.
TEST_F(VxDataMgrTest, AGzippedFilePaintsAsItsDecompressedBytes) {
  std::vector<double> values;
  for (int i = 0; i < 96 * 80 * 40 * 2; ++i)
    values.push_back((i * 37 + i / 97) % 251);
  const std::vector<uint8_t> bytes =
      Concat(std::vector<uint8_t>(100, 7), VoxelBytes(vtUInt16, boLittleEndian, values));
  const std::vector<uint8_t> packed = testfiles::Gzipped(bytes);
  for (const size_t kept : {packed.size(), packed.size() * 2 / 3}) {
    Mgr.OpenFile(Make(
        std::vector<uint8_t>(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(kept)),
        "v.raw.gz"));
    ASSERT_TRUE(Mgr.ErrorText().empty()) << Mgr.ErrorText();
    Set(100, 96, 80, 40, vtUInt16, boLittleEndian, 0, 200, true);
    std::vector<TBitmap24> compressed;
    for (const TViewKind view : AllViews)
      compressed.push_back(Render(1, 21, view));
    const int64_t size = Mgr.FileSize();
    EXPECT_EQ(size == std::ssize(bytes), kept == packed.size());
    Mgr.OpenFile(Make(std::vector<uint8_t>(bytes.begin(), bytes.begin() + size), "v.raw"));
    for (const TViewKind view : AllViews) {
      const TBitmap24& plain = Render(1, 21, view);
      const TBitmap24& other = compressed[static_cast<size_t>(view)];
      ASSERT_EQ(plain.Height(), other.Height());
      for (int32_t row = 0; row < plain.Height(); ++row)
        ASSERT_EQ(std::memcmp(plain.ScanLine(row), other.ScanLine(row),
                              static_cast<size_t>(plain.Stride())),
                  0)
            << "view " << int(view) << " row " << row << " kept " << kept;
    }
  }
}

TEST_F(VxDataMgrTest, ReopeningTheSameFileReadsItAfresh) {
  const std::string path = Make({10, 20, 30, 40});
  Set(0, 4, 1, 1, vtByte);
  Mgr.OpenFile(path);
  Render(0, 0, vkSlice);
  // A new file under the old name: only a real reopen can see it.
  ASSERT_EQ(std::rename(Make({50, 60, 70, 80}, "replacement.raw").c_str(), path.c_str()), 0);
  Render(0, 0, vkSlice);
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 0, 0), 10.0);
  Mgr.OpenFile(path);
  ASSERT_TRUE(Mgr.IsOpen());
  Render(0, 0, vkSlice);
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 0, 0), 50.0);
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 3, 0), 80.0);
}

TEST_F(VxDataMgrTest, AnEntryThatCannotBeOpenedGivesTheRuntimeMessage) {
  const std::string previous = Make({1});
  const std::string socketPath = Dir.Path("sock");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);

  Mgr.OpenFile(previous);
  ASSERT_TRUE(Mgr.IsOpen());
  Mgr.OpenFile(socketPath);
  EXPECT_EQ(Mgr.ErrorText(), "Cannot open file " + socketPath);
  EXPECT_EQ(Mgr.FileName(), "");
  EXPECT_FALSE(Mgr.IsOpen());
  Mgr.CloseFile();
  EXPECT_EQ(Mgr.ErrorText(), "Cannot open file " + socketPath);
  Mgr.OpenFile(previous);
  EXPECT_EQ(Mgr.ErrorText(), "");
}

TEST_F(VxDataMgrTest, AFileWithoutReadPermissionCannotBeOpened) {
  if (::geteuid() == 0)
    GTEST_SKIP() << "root reads every file";
  const std::string path = Make({1, 2});
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  Mgr.OpenFile(path);
  EXPECT_EQ(Mgr.ErrorText(), "Cannot open file " + path);
  EXPECT_FALSE(Mgr.IsOpen());
  EXPECT_EQ(Mgr.FileName(), "");
}

TEST_F(VxDataMgrTest, ParametersSurviveOpenAndClose) {
  const std::string path = Make({1, 2, 3});
  Set(17, 3, 5, 7, vtInt32, boBigEndian, -40, 90, true);
  Mgr.OpenFile(path);
  Mgr.CloseFile();
  Mgr.OpenFile(Dir.Path("missing"));
  Mgr.OpenFile(path);
  EXPECT_EQ(Mgr.HeaderBytes(), 17);
  EXPECT_EQ(Mgr.Dims(0), 3);
  EXPECT_EQ(Mgr.Dims(1), 5);
  EXPECT_EQ(Mgr.Dims(2), 7);
  EXPECT_EQ(Mgr.Strides(2), 105);
  EXPECT_EQ(Mgr.VoxelType(), vtInt32);
  EXPECT_EQ(Mgr.ByteOrder(), boBigEndian);
  EXPECT_EQ(Mgr.IntensityMin(), -40);
  EXPECT_EQ(Mgr.IntensityMax(), 90);
  EXPECT_TRUE(Mgr.FlagOverUnder());
}

TEST(VxDataMgrDecode, DecodersFollowTheByteOrder) {
  const uint8_t bytes[] = {0x01, 0x02, 0xFF, 0xFE, 0x01, 0x02, 0x03, 0x04,
                           0xFF, 0xFF, 0xFF, 0xFE, 0x00, 0x00, 0x80, 0x3F};
  TVxDataMgr mgr;
  mgr.SetParameters(0, 1, 1, 1, vtInt16, boLittleEndian, 0, 0, false);
  EXPECT_EQ(mgr.DecodeInt16(0, bytes), 513);
  EXPECT_EQ(mgr.DecodeInt16(1, bytes), -257);
  EXPECT_EQ(mgr.DecodeInt32(1, bytes), 67305985);
  EXPECT_EQ(mgr.DecodeInt32(2, bytes), -16777217);
  EXPECT_EQ(mgr.DecodeFloat32(3, bytes), 1.0f);
  // The decoders look at the byte order every time, whatever the voxel type.
  mgr.SetParameters(0, 1, 1, 1, vtByte, boBigEndian, 0, 0, false);
  EXPECT_EQ(mgr.DecodeInt16(0, bytes), 258);
  EXPECT_EQ(mgr.DecodeInt16(1, bytes), -2);
  EXPECT_EQ(mgr.DecodeInt32(1, bytes), 16909060);
  EXPECT_EQ(mgr.DecodeInt32(2, bytes), -2);
  EXPECT_EQ(mgr.DecodeFloat32(3, bytes), std::bit_cast<float>(0x0000803Fu));
  EXPECT_EQ(mgr.DecodeFloat32(0, bytes), std::bit_cast<float>(0x0102FFFEu));
}

TEST_F(VxDataMgrTest, ByteVoxelsIgnoreTheByteOrder) {
  Mgr.OpenFile(Make({0x01, 0x02, 0xFF, 0xFE}));
  for (TByteOrder order : {boLittleEndian, boBigEndian}) {
    Set(0, 4, 1, 1, vtByte, order);
    const TBitmap24& bitmap = Render(0, 0, vkSlice);
    const double values[] = {1, 2, 255, 254};
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(Mgr.ProbeValue(vkSlice, x, 0), values[x]);
      EXPECT_EQ(PixelAt(bitmap, x, 0), Grey(static_cast<int>(values[x])));
    }
  }
}

TEST_F(VxDataMgrTest, ProbeAfterATypeChangeDecodesTheOldBytes) {
  Mgr.OpenFile(Make({0x00, 0x00, 0x80, 0x3F, 0x01, 0x02, 0xFF, 0xFE}));
  Set(0, 8, 1, 1, vtByte);
  Render(0, 0, vkSlice);
  ASSERT_EQ(Mgr.ViewVoxelCount(vkSlice), 8);
  struct TCase {
    TVoxelType Type;
    TByteOrder Order;
    double Expected[4];
  };
  // The count stays 8 voxels of the old type; positions whose bytes were never
  // read give 0.
  const TCase cases[] = {
      {vtInt16, boLittleEndian, {0, 16256, 513, -257}},
      {vtInt16, boBigEndian, {0, -32705, 258, -2}},
      {vtInt32, boLittleEndian, {1065353216, -16842239, 0, 0}},
      {vtInt32, boBigEndian, {32831, 16973822, 0, 0}},
      {vtFloat32,
       boLittleEndian,
       {1.0, static_cast<double>(std::bit_cast<float>(0xFEFF0201u)), 0, 0}},
      {vtFloat32,
       boBigEndian,
       {static_cast<double>(std::bit_cast<float>(0x0000803Fu)),
        static_cast<double>(std::bit_cast<float>(0x0102FFFEu)), 0, 0}},
  };
  for (const TCase& c : cases) {
    Set(0, 8, 1, 1, c.Type, c.Order);
    EXPECT_EQ(Mgr.ViewVoxelCount(vkSlice), 8);
    for (int p = 0; p < 4; ++p)
      EXPECT_EQ(Mgr.ProbeValue(vkSlice, p, 0), c.Expected[p])
          << "type " << int(c.Type) << " order " << int(c.Order) << " p " << p;
    for (int p = 4; p < 10; ++p)
      EXPECT_EQ(Mgr.ProbeValue(vkSlice, p, 0), 0.0) << "type " << int(c.Type) << " p " << p;
  }
}

TEST_F(VxDataMgrTest, ProbeGivesZeroOutsideTheViewAndForSignallingNaNs) {
  const uint32_t bits[] = {0x7F800001, 0x7FC00000, 0xFFBFFFFF, 0x7FFFFFFF,
                           0x3FC00000, 0xFF800000, 0x00000001, 0xC2C70000};
  std::vector<uint8_t> bytes;
  for (uint32_t b : bits)
    testfiles::AppendFloatBits(bytes, b, boBigEndian);
  Mgr.OpenFile(Make(bytes));
  Set(0, 4, 2, 1, vtFloat32, boBigEndian);
  Render(0, 0, vkSlice);
  ASSERT_EQ(Mgr.ViewVoxelCount(vkSlice), 8);
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 0, 0), 0.0);          // signalling NaN
  EXPECT_TRUE(std::isnan(Mgr.ProbeValue(vkSlice, 1, 0))); // quiet NaN
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 2, 0), 0.0);          // negative signalling NaN
  EXPECT_TRUE(std::isnan(Mgr.ProbeValue(vkSlice, 3, 0))); // quiet NaN, all payload bits
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 0, 1), 1.5);
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 1, 1), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 2, 1), static_cast<double>(std::bit_cast<float>(1u)));
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 3, 1), -99.5);
  // p = Y x Dims[0] + X, whatever X and Y are on their own.
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, -1, 2), -99.5);
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 5, 0), -std::numeric_limits<double>::infinity());
  const int32_t outside[][2] = {{-1, 0},
                                {8, 0},
                                {0, 2},
                                {0, -1},
                                {INT32_MAX, 0},
                                {0, INT32_MAX},
                                {INT32_MIN, 0},
                                {INT32_MAX, INT32_MAX},
                                {INT32_MIN, INT32_MIN},
                                {-9, 1}};
  for (const auto& xy : outside)
    EXPECT_EQ(Mgr.ProbeValue(vkSlice, xy[0], xy[1]), 0.0) << xy[0] << ", " << xy[1];
  // Other views were never rendered.
  EXPECT_EQ(Mgr.ProbeValue(vkNextSlice, 0, 1), 0.0);
}

// Integers come back whole however wide, never through a double; floats come
// back exactly, a signalling NaN as 0; a position past the file as the type's 0.
TEST_F(VxDataMgrTest, ProbeVoxelGivesTheStoredValueExactly) {
  constexpr auto S = TVoxelValue::Signed, U = TVoxelValue::Unsigned, R = TVoxelValue::Real;
  constexpr double Nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double Inf = std::numeric_limits<double>::infinity();
  struct TCase {
    TVoxelType Type;
    uint64_t Bits;
    TVoxelValue::TKind Kind;
    int64_t Signed;
    uint64_t Unsigned;
    double Real;
  };
  const TCase cases[] = {
      {vtByte, 0xFF, S, 255, 0, 0},
      {vtInt8, 0x80, S, -128, 0, 0},
      {vtInt8, 0x7F, S, 127, 0, 0},
      {vtInt16, 0x8000, S, -32768, 0, 0},
      {vtUInt16, 0xFFFF, U, 0, 65535, 0},
      {vtInt32, 0x80000000, S, INT32_MIN, 0, 0},
      {vtUInt32, 0xFFFFFFFF, U, 0, 4294967295u, 0},
      {vtInt64, 0x7FFFFFFFFFFFFFFF, S, INT64_MAX, 0, 0},
      {vtInt64, 0x8000000000000000, S, INT64_MIN, 0, 0},
      {vtInt64, 9007199254740993, S, 9007199254740993, 0, 0},
      {vtInt64, static_cast<uint64_t>(-9007199254740993), S, -9007199254740993, 0, 0},
      {vtUInt64, 0xFFFFFFFFFFFFFFFF, U, 0, UINT64_MAX, 0},
      {vtUInt64, 9007199254740993, U, 0, 9007199254740993u, 0},
      {vtFloat16, 0x3C01, R, 0, 0, 1.0 + 0x1p-10},
      {vtFloat16, 0x0001, R, 0, 0, 0x1p-24},
      {vtFloat16, 0xFBFF, R, 0, 0, -65504.0},
      {vtFloat16, 0xFC00, R, 0, 0, -Inf},
      {vtFloat16, 0x7E01, R, 0, 0, Nan},
      {vtFloat16, 0x7D00, R, 0, 0, 0.0}, // signalling
      {vtFloat32, 0x7F800001, R, 0, 0, 0.0},
      {vtFloat32, 0x33800001, R, 0, 0, 0x1p-24 + 0x1p-47},
      {vtFloat64, 0x3FF0000000000001, R, 0, 0, 1.0 + 0x1p-52},
      {vtFloat64, 0x0000000000000001, R, 0, 0, 0x1p-1074},
      {vtFloat64, 0x47EFFFFFF0000000, R, 0, 0, 0x1.ffffffp+127}, // FLT_MAX + half an ulp
      {vtFloat64, 0x7FF8000000000001, R, 0, 0, Nan},
      {vtFloat64, 0xFFF0000000000001, R, 0, 0, 0.0}, // signalling
  };
  const auto expectValue = [](const TVoxelValue& Got, const TCase& Want, const std::string& What) {
    EXPECT_EQ(Got.Kind, Want.Kind) << What;
    EXPECT_EQ(Got.SignedValue, Want.Signed) << What;
    EXPECT_EQ(Got.UnsignedValue, Want.Unsigned) << What;
    if (std::isnan(Want.Real))
      EXPECT_TRUE(std::isnan(Got.RealValue)) << What;
    else
      EXPECT_EQ(std::bit_cast<uint64_t>(Got.RealValue), std::bit_cast<uint64_t>(Want.Real)) << What;
  };
  for (TByteOrder order : {boLittleEndian, boBigEndian})
    for (const TCase& c : cases) {
      const std::string what = "type " + std::to_string(c.Type) + " bits " +
                               std::to_string(c.Bits) + " order " + std::to_string(order);
      std::vector<uint8_t> bytes;
      testfiles::AppendBytes(bytes, c.Bits, BytesPerVoxel[c.Type], order);
      Mgr.OpenFile(Make(bytes));
      Set(0, 2, 1, 1, c.Type, order);
      Render(0, 0, vkSlice);
      expectValue(Mgr.ProbeVoxel(vkSlice, 0, 0), c, what);
      const double widened = c.Kind == S   ? static_cast<double>(c.Signed)
                             : c.Kind == U ? static_cast<double>(c.Unsigned)
                                           : c.Real;
      const double probed = Mgr.ProbeValue(vkSlice, 0, 0);
      EXPECT_TRUE(probed == widened || (std::isnan(probed) && std::isnan(widened))) << what;
      expectValue(Mgr.ProbeVoxel(vkSlice, 1, 0), TCase{c.Type, 0, c.Kind, 0, 0, 0.0},
                  what + " past the file");
    }
}

TEST_F(VxDataMgrTest, ProbeWidensInt32Exactly) {
  Mgr.OpenFile(Make(VoxelBytes(vtInt32, boLittleEndian, {16777217, -2147483648.0, 2147483647})));
  Set(0, 3, 1, 1, vtInt32);
  Render(0, 0, vkSlice);
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 0, 0), 16777217.0);
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 1, 0), -2147483648.0);
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 2, 0), 2147483647.0);
}

// A small file of two volumes, 5 x 3 x 7 each, behind a 13-byte header of
// non-zero bytes; the last slice of volume 1 ends 7 voxels early. Voxel i holds
// a value that changes from each voxel to the next.
constexpr int32_t D0 = 5, D1 = 3, D2 = 7, Header = 13;
constexpr int64_t VoxelsInFile = 2 * D0 * D1 * D2 - 7;

double ValueOfVoxel(int64_t I) {
  return static_cast<double>((I * 37 + 11) % 256);
}

std::vector<uint8_t> TwoVolumeFile(TVoxelType Type, TByteOrder Order) {
  std::vector<uint8_t> bytes(Header, 0xEE);
  for (int64_t i = 0; i < VoxelsInFile; ++i)
    testfiles::AppendVoxel(bytes, Type, Order, ValueOfVoxel(i));
  return bytes;
}

struct TViewCase {
  TViewKind View;
  int32_t Volume;
  int32_t Index;
};

// The voxel number shown at (X, Y) of a view, by the layout of the four views.
int64_t VoxelShownAt(const TViewCase& C, int64_t X, int64_t Y) {
  const int64_t slice = D0 * D1, volume = slice * D2;
  if (C.View == vkCrossSlice)
    return X + C.Index * D0 + Y * slice + C.Volume * volume;
  return X + Y * D0 + C.Index * slice + C.Volume * volume;
}

TEST_F(VxDataMgrTest, EachViewReadsItsOwnVoxels) {
  const TViewCase views[] = {
      {vkSlice, 0, 2},       {vkNextSlice, 0, 7}, // slice 7 of volume 0 is slice 0 of volume 1
      {vkCrossSlice, 1, 2},  {vkOtherVolume, 1, 3}, {vkCrossSlice, 0, 1},
      {vkOtherVolume, 1, 6}, // partly in the file
      {vkNextSlice, 0, 14},  // past the end
      {vkSlice, 2, 0},       {vkSlice, 1, 6},       {vkCrossSlice, 1, 1},
  };
  const std::pair<TVoxelType, TByteOrder> layouts[] = {
      {vtByte, boLittleEndian},   {vtByte, boBigEndian},       {vtInt16, boBigEndian},
      {vtInt16, boLittleEndian},  {vtInt32, boBigEndian},      {vtInt32, boLittleEndian},
      {vtFloat32, boBigEndian},   {vtFloat32, boLittleEndian}, {vtUInt16, boBigEndian},
      {vtUInt32, boLittleEndian}, {vtInt64, boBigEndian},      {vtUInt64, boLittleEndian},
      {vtFloat16, boBigEndian},   {vtFloat64, boLittleEndian}, {vtFloat64, boBigEndian}};
  // int8 cannot hold the values up to 255.
  for (const auto& [type, order] : layouts) {
    Mgr.OpenFile(Make(TwoVolumeFile(type, order)));
    Set(Header, D0, D1, D2, type, order);
    for (const TViewCase& c : views) {
      const std::string what = "type " + std::to_string(type) + " order " + std::to_string(order) +
                               " view " + std::to_string(c.View) + " volume " +
                               std::to_string(c.Volume) + " index " + std::to_string(c.Index);
      const TBitmap24& bitmap = Render(c.Volume, c.Index, c.View);
      const int32_t height = c.View == vkCrossSlice ? D2 : D1;
      ASSERT_EQ(bitmap.Width(), D0) << what;
      ASSERT_EQ(bitmap.Height(), height) << what;
      int64_t inFile = 0;
      float low = NoMin, high = NoMax;
      for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < D0; ++x) {
          const int64_t voxel = VoxelShownAt(c, x, y);
          const bool there = voxel < VoxelsInFile;
          const double value = there ? ValueOfVoxel(voxel) : 0.0;
          inFile += there;
          low = std::min(low, static_cast<float>(value));
          high = std::max(high, static_cast<float>(value));
          EXPECT_EQ(PixelAt(bitmap, x, y), there ? Grey(static_cast<int>(value)) : LightBlue)
              << what << " at " << x << ", " << y;
          EXPECT_EQ(Mgr.ProbeValue(c.View, x, y), value) << what << " at " << x << ", " << y;
        }
      EXPECT_EQ(Mgr.ViewVoxelCount(c.View), inFile) << what;
      // Nothing of an earlier render of the view may linger past the count.
      const auto& buffer = Mgr.ViewBuffer(c.View);
      ASSERT_GE(buffer.size(), static_cast<size_t>(inFile * BytesPerVoxel[type])) << what;
      EXPECT_TRUE(std::all_of(buffer.begin() + inFile * BytesPerVoxel[type], buffer.end(),
                              [](uint8_t b) { return b == 0; }))
          << what;
      if (c.View == vkSlice) {
        EXPECT_EQ(Mgr.SliceMin(), low) << what;
        EXPECT_EQ(Mgr.SliceMax(), high) << what;
      }
    }
  }
}

TEST_F(VxDataMgrTest, NegativeIndicesAddressBeforeTheFirstVoxel) {
  std::vector<uint8_t> bytes(256);
  for (int i = 0; i < 256; ++i)
    bytes[i] = static_cast<uint8_t>(i);
  Mgr.OpenFile(Make(Concat(bytes, std::vector<uint8_t>(64, 7))));
  Set(256, 16, 1, 4, vtByte);
  // Slice -1 is the last 16 bytes of the header; volume -1 starts 64 bytes earlier.
  ExpectPixels(
      Render(0, -1, vkSlice), [](int64_t p) { return Grey(static_cast<int>(240 + p)); },
      "slice -1");
  ExpectPixels(
      Render(-1, 0, vkOtherVolume), [](int64_t p) { return Grey(static_cast<int>(192 + p)); },
      "volume -1");
  // Before the start of the file the seek fails: nothing is read.
  ExpectPixels(
      Render(0, -17, vkNextSlice), [](int64_t) { return LightBlue; }, "slice -17");
  EXPECT_EQ(Mgr.ViewVoxelCount(vkNextSlice), 0);
  ExpectPixels(
      Render(INT32_MIN, INT32_MIN, vkSlice), [](int64_t) { return LightBlue; }, "most negative");
  EXPECT_EQ(Mgr.SliceMin(), 0.0f);
  EXPECT_EQ(Mgr.SliceMax(), 0.0f);
  // Row -1 of slice 0 lies in the header, rows of later slices in the data.
  ExpectPixels(
      Render(0, -1, vkCrossSlice),
      [](int64_t p) { return p < 16 ? Grey(static_cast<int>(240 + p)) : Grey(7); }, "cross row -1");
  EXPECT_EQ(Mgr.ViewVoxelCount(vkCrossSlice), 64);
}

TEST_F(VxDataMgrTest, AFileShorterThanTheView) {
  std::vector<uint8_t> data;
  for (int i = 0; i < 100; ++i)
    data.push_back(static_cast<uint8_t>(20 + i * 7 % 200));
  const std::string path = Make(Concat(std::vector<uint8_t>(9, 0xFF), data));
  Mgr.OpenFile(path);
  Set(9, 16, 16, 1, vtByte);
  ExpectPixels(
      Render(0, 0, vkSlice), [&](int64_t p) { return p < 100 ? Grey(data[p]) : LightBlue; },
      "byte");
  EXPECT_EQ(Mgr.ViewVoxelCount(vkSlice), 100);
  // The positions beyond the file take part as 0; every value in the file is at least 20.
  EXPECT_EQ(Mgr.SliceMin(), 0.0f);
  EXPECT_EQ(Mgr.SliceMax(), static_cast<float>(*std::max_element(data.begin(), data.end())));
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 4, 6), 0.0);
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, 3, 5), data[83]);

  for (int extra : {0, 1}) {
    Make(Concat(std::vector<uint8_t>(9, 0xFF), Concat(data, std::vector<uint8_t>(extra, 0xAB))));
    Set(9, 16, 16, 1, vtInt16);
    const auto int16At = [&](int64_t p) {
      return static_cast<int16_t>(data[2 * p] | data[2 * p + 1] << 8);
    };
    ExpectPixels(
        Render(0, 0, vkSlice),
        [&](int64_t p) { return p < 50 ? Grey(std::clamp<int>(int16At(p), 0, 255)) : LightBlue; },
        "int16 with " + std::to_string(extra) + " extra");
    EXPECT_EQ(Mgr.ViewVoxelCount(vkSlice), 50);
    for (int p = 0; p < 50; ++p)
      EXPECT_EQ(Mgr.ProbeValue(vkSlice, p % 16, p / 16), int16At(p)) << p;
    EXPECT_EQ(Mgr.ProbeValue(vkSlice, 50 % 16, 50 / 16), 0.0);
    // The bytes of a trailing half voxel are not kept.
    const auto& buffer = Mgr.ViewBuffer(vkSlice);
    ASSERT_GT(buffer.size(), 100u);
    EXPECT_TRUE(std::all_of(buffer.begin() + 100, buffer.end(), [](uint8_t b) { return b == 0; }));
  }
}

TEST_F(VxDataMgrTest, NoFileMeansLightBlueAndAZeroSliceRange) {
  Set(0, 16, 16, 4, vtInt16, boLittleEndian, 10, 20, true);
  for (TViewKind view : AllViews) {
    const TBitmap24& bitmap = Render(0, 0, view);
    EXPECT_EQ(bitmap.Width(), 16);
    EXPECT_EQ(bitmap.Height(), view == vkCrossSlice ? 4 : 16);
    ExpectPixels(
        bitmap, [](int64_t) { return LightBlue; }, "view " + std::to_string(view));
    EXPECT_EQ(Mgr.ViewVoxelCount(view), 0);
  }
  EXPECT_EQ(Mgr.SliceMin(), 0.0f);
  EXPECT_EQ(Mgr.SliceMax(), 0.0f);

  // Also once a file has been open and was closed.
  Mgr.OpenFile(Make(std::vector<uint8_t>(2048, 0x11)));
  Render(0, 0, vkSlice);
  EXPECT_EQ(Mgr.SliceMin(), 4369.0f);
  Mgr.CloseFile();
  ExpectPixels(
      Render(0, 0, vkSlice), [](int64_t) { return LightBlue; }, "after close");
  EXPECT_EQ(Mgr.SliceMin(), 0.0f);
  EXPECT_EQ(Mgr.SliceMax(), 0.0f);
}

TEST_F(VxDataMgrTest, AnEmptyImageMeetsNoValue) {
  Mgr.OpenFile(Make(std::vector<uint8_t>(4096, 0x30)));
  struct TCase {
    int32_t D0, D1, D2;
    TViewKind View;
    int32_t Width, Height;
  };
  const TCase cases[] = {{0, 16, 4, vkSlice, 0, 16},      {16, 0, 4, vkSlice, 16, 0},
                         {0, 0, 0, vkSlice, 0, 0},        {16, 4, 0, vkCrossSlice, 16, 0},
                         {0, 4, 9, vkCrossSlice, 0, 9},   {16, 0, 4, vkNextSlice, 16, 0},
                         {0, 16, 4, vkOtherVolume, 0, 16}};
  for (const TCase& c : cases) {
    Set(0, 4, 4, 4, vtByte);
    Render(0, 0, vkSlice); // leaves a range of its own
    Set(0, c.D0, c.D1, c.D2, vtByte);
    const TBitmap24& bitmap = Render(0, 0, c.View);
    EXPECT_EQ(bitmap.Width(), c.Width);
    EXPECT_EQ(bitmap.Height(), c.Height);
    if (c.View == vkSlice) {
      EXPECT_EQ(Mgr.SliceMin(), NoMin) << c.D0 << "x" << c.D1;
      EXPECT_EQ(Mgr.SliceMax(), NoMax) << c.D0 << "x" << c.D1;
    } else {
      EXPECT_EQ(Mgr.SliceMin(), 48.0f) << "only vkSlice keeps the range";
    }
  }
}

TEST_F(VxDataMgrTest, OutOfWindowFlags) {
  const std::vector<double> values = {9, 10, 20, 21, 15, 0, 255};
  struct TCase {
    int32_t Min, Max;
    bool Flag;
    std::vector<uint32_t> Expected;
  };
  // Window 10..20: Scale 25.5, so 15 maps to 127.5 and paints the even 128.
  const TCase cases[] = {
      {10, 20, true, {Green, Grey(0), Grey(255), Red, Grey(128), Green, Red}},
      {10, 20, false, {Grey(0), Grey(0), Grey(255), Grey(255), Grey(128), Grey(0), Grey(255)}},
      // Reversed: everything strictly between is both under and over, and over wins.
      {20, 10, true, {Green, Green, Red, Red, Red, Green, Red}},
      {20, 10, false, {Grey(255), Grey(255), Grey(0), Grey(0), Grey(128), Grey(255), Grey(0)}},
  };
  Mgr.OpenFile(Make(VoxelBytes(vtByte, boLittleEndian, values)));
  for (const TCase& c : cases) {
    // The second row lies beyond the file: light blue although 0 would be flagged.
    Set(0, 7, 2, 1, vtByte, boBigEndian, c.Min, c.Max, c.Flag);
    ExpectPixels(
        Render(0, 0, vkSlice), [&](int64_t p) { return p < 7 ? c.Expected[p] : LightBlue; },
        "window " + std::to_string(c.Min) + ".." + std::to_string(c.Max) +
            (c.Flag ? " flagged" : ""));
  }
}

TEST_F(VxDataMgrTest, GreyLevelsOfKnownValues) {
  struct TCase {
    int32_t Min, Max;
    std::vector<double> Values;
    std::vector<int> Levels;
  };
  const TCase cases[] = {
      {0, 510, {1, 3, 5, 509, 510}, {0, 2, 2, 254, 255}},
      {0, 1000, {2, 10}, {1, 3}},
      {INT32_MIN, INT32_MAX, {0, -2147483648.0, 2147483647}, {128, 0, 255}},
      {100, 100, {100, 101, 50, -5, 30000}, {0, 255, 0, 0, 255}},
      // Double arithmetic would paint 168 here.
      {-1412376960, 737809024, {35}, {167}},
  };
  for (const TCase& c : cases)
    for (TVoxelType type : {vtInt32, vtFloat32}) {
      Mgr.OpenFile(Make(VoxelBytes(type, boBigEndian, c.Values)));
      Set(0, static_cast<int32_t>(c.Values.size()), 1, 1, type, boBigEndian, c.Min, c.Max);
      ExpectPixels(
          Render(0, 0, vkSlice), [&](int64_t p) { return Grey(c.Levels[p]); },
          "window " + std::to_string(c.Min) + ".." + std::to_string(c.Max) + " type " +
              std::to_string(type));
    }
}

TEST_F(VxDataMgrTest, NaNsAreYellowAndLeftOutOfTheSliceRange) {
  const uint32_t bits[] = {0x7FC00000,
                           std::bit_cast<uint32_t>(5.0f),
                           0x7F800001,
                           std::bit_cast<uint32_t>(-3.0f),
                           0x7FFFFFFF,
                           0xFFC00000,
                           std::bit_cast<uint32_t>(200.0f),
                           std::bit_cast<uint32_t>(0.5f)};
  std::vector<uint8_t> bytes;
  for (uint32_t b : bits)
    testfiles::AppendFloatBits(bytes, b, boLittleEndian);
  Mgr.OpenFile(Make(bytes));
  for (bool flag : {false, true}) {
    Set(0, 4, 2, 1, vtFloat32, boLittleEndian, 0, 255, flag);
    const uint32_t expected[] = {Yellow, Grey(5), Yellow,    flag ? Green : Grey(0),
                                 Yellow, Yellow,  Grey(200), Grey(0)};
    ExpectPixels(
        Render(0, 0, vkSlice), [&](int64_t p) { return expected[p]; },
        flag ? "NaNs flagged" : "NaNs");
    EXPECT_EQ(Mgr.SliceMin(), -3.0f);
    EXPECT_EQ(Mgr.SliceMax(), 200.0f);
  }
}

TEST_F(VxDataMgrTest, InfinitiesAreOrdinaryValues) {
  std::vector<uint8_t> bytes;
  for (uint32_t b :
       {0x7F800000u, 0xFF800000u, std::bit_cast<uint32_t>(1.5f), std::bit_cast<uint32_t>(2.5f)})
    testfiles::AppendFloatBits(bytes, b, boBigEndian);
  Mgr.OpenFile(Make(bytes));
  const std::pair<bool, std::vector<uint32_t>> cases[] = {
      {false, {Grey(255), Grey(0), Grey(2), Grey(2)}}, {true, {Red, Green, Grey(2), Grey(2)}}};
  for (const auto& [flag, colours] : cases) {
    const std::vector<uint32_t>& expected = colours;
    Set(0, 4, 1, 1, vtFloat32, boBigEndian, 0, 255, flag);
    ExpectPixels(
        Render(0, 0, vkSlice), [&](int64_t p) { return expected[p]; },
        flag ? "infinities flagged" : "infinities");
    EXPECT_EQ(Mgr.SliceMin(), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(Mgr.SliceMax(), std::numeric_limits<float>::infinity());
  }
}

TEST_F(VxDataMgrTest, SliceRangeHoldsInt32ValuesAsSingles) {
  struct TCase {
    std::vector<double> Values;
    float Min, Max;
  };
  // 2^24 + 1 rounds down to 2^24, -(2^24 + 3) to the even -(2^24 + 4), 2^31 - 1 up to 2^31.
  const TCase cases[] = {{{16777217, -16777219}, -16777220.0f, 16777216.0f},
                         {{2147483647, -2147483648.0}, -2147483648.0f, 2147483648.0f},
                         {{16777215, 16777216, 16777217}, 16777215.0f, 16777216.0f}};
  for (const TCase& c : cases) {
    Mgr.OpenFile(Make(VoxelBytes(vtInt32, boLittleEndian, c.Values)));
    Set(0, static_cast<int32_t>(c.Values.size()), 1, 1, vtInt32);
    Render(0, 0, vkSlice);
    EXPECT_EQ(Mgr.SliceMin(), c.Min);
    EXPECT_EQ(Mgr.SliceMax(), c.Max);
  }
}

TEST_F(VxDataMgrTest, WritesOnlyThePixelsOfPaddedRowsTopDownBlueFirst) {
  Mgr.OpenFile(Make({0, 255, 9, 21, 15, 10, 20, 12, 13}));
  Set(0, 5, 3, 1, vtByte, boLittleEndian, 10, 20, true);
  TBitmap24& bitmap = ImageOf(vkSlice).Bitmap;
  bitmap.SetSize(5, 3);
  ASSERT_EQ(bitmap.Stride(), 16);
  for (int32_t y = 0; y < 3; ++y)
    std::fill_n(bitmap.ScanLine(y), 16, uint8_t{0xAA});
  Render(0, 0, vkSlice);
  ASSERT_EQ(bitmap.Stride(), 16);
  const uint8_t* bits = bitmap.Bits();
  ASSERT_NE(bits, nullptr);
  // Raw bytes, blue, green, red, row 0 first.
  const uint8_t row0[16] = {0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF,
                            0x00, 0x00, 0x00, 0xFF, 128,  128,  128,  0xAA};
  const uint8_t row1[16] = {0, 0, 0, 255, 255, 255, 51, 51, 51, 76, 76, 76, 0xFF, 0xFF, 0x00, 0xAA};
  EXPECT_EQ(std::vector<uint8_t>(bits, bits + 16), std::vector<uint8_t>(row0, row0 + 16));
  EXPECT_EQ(std::vector<uint8_t>(bits + 16, bits + 32), std::vector<uint8_t>(row1, row1 + 16));
  for (int x = 0; x < 5; ++x)
    EXPECT_EQ(PixelAt(bitmap, x, 2), LightBlue);
  EXPECT_EQ(bits[47], 0xAA);
}

TEST_F(VxDataMgrTest, AViewLargerThanTheFirstBufferIsReadWhole) {
  constexpr int32_t Side = 2048;
  const auto value = [](int64_t i) { return static_cast<int>(i * 7 % 256); };
  std::vector<double> values(int64_t{Side} * Side);
  for (size_t i = 0; i < values.size(); ++i)
    values[i] = value(static_cast<int64_t>(i));
  Mgr.OpenFile(
      Make(Concat(std::vector<uint8_t>(352, 0), VoxelBytes(vtInt16, boBigEndian, values))));
  Set(352, Side, Side, 1, vtInt16, boBigEndian);
  const TBitmap24& bitmap = Render(0, 0, vkSlice);
  ASSERT_EQ(bitmap.Width(), Side);
  ASSERT_EQ(bitmap.Height(), Side);
  EXPECT_EQ(Mgr.ViewVoxelCount(vkSlice), int64_t{Side} * Side);
  EXPECT_EQ(PixelAt(bitmap, Side - 1, Side - 1), Grey(value(int64_t{Side} * Side - 1)));
  EXPECT_EQ(Mgr.ProbeValue(vkSlice, Side - 1, Side - 1), value(int64_t{Side} * Side - 1));
  ExpectPixels(
      bitmap, [&](int64_t p) { return Grey(value(p)); }, "2048 x 2048");
  EXPECT_EQ(Mgr.SliceMin(), 0.0f);
  EXPECT_EQ(Mgr.SliceMax(), 255.0f);

  // A smaller view afterwards: its own voxels, and nothing of the big one left behind.
  Set(352, 16, 16, 1, vtInt16, boBigEndian);
  ExpectPixels(
      Render(0, 3, vkSlice), [&](int64_t p) { return Grey(value(768 + p)); }, "16 x 16");
  EXPECT_EQ(Mgr.ViewVoxelCount(vkSlice), 256);
  const auto& buffer = Mgr.ViewBuffer(vkSlice);
  EXPECT_GE(buffer.size(), size_t{Side} * Side * 2);
  EXPECT_TRUE(std::all_of(buffer.begin() + 512, buffer.end(), [](uint8_t b) { return b == 0; }));

  // The big view again from a file that ends early.
  Mgr.OpenFile(Make(VoxelBytes(vtInt16, boBigEndian, {1, 2, 3}), "short.raw"));
  Set(0, Side, Side, 1, vtInt16, boBigEndian);
  ExpectPixels(
      Render(0, 0, vkSlice), [](int64_t p) { return p < 3 ? Grey(int(p + 1)) : LightBlue; },
      "2048 x 2048, short file");
  EXPECT_TRUE(std::all_of(buffer.begin() + 6, buffer.end(), [](uint8_t b) { return b == 0; }));
}

// A view is read in pieces and each piece painted as it arrives; the result
// must be that of one paint of the whole buffer after one read: pixels, range
// (NaNs and zeros of both signs met in a fixed order) and count, for files that
// end inside a piece, inside a row and inside a voxel, and for cross-slices
// whose later rows lie past the end of the file.
TEST_F(VxDataMgrTest, ViewsPaintedAsTheyArriveMatchOnePaintOfTheWholeBuffer) {
  constexpr int32_t Width = 301, Rows = 700, Slices = 9;
  uint64_t state = 0x2545F4914F6CDD1Dull;
  std::vector<uint8_t> bytes(size_t{Width} * Rows * Slices * 8);
  for (uint8_t& b : bytes) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    b = (state >> 40) % 5 == 0 ? 0x80 * ((state >> 20) & 1) : static_cast<uint8_t>(state);
  }
  for (TVoxelType type : {vtByte, vtUInt16, vtFloat32, vtInt64}) {
    const int64_t size = BytesPerVoxel[type];
    const int64_t slice = int64_t{Width} * Rows * size;
    for (int64_t fileBytes : {3 * slice, slice + slice / 2 + 3, slice - 5 * size - 1}) {
      const std::string name = Make(std::vector<uint8_t>(bytes.begin(), bytes.begin() + fileBytes),
                                    "pieces" + std::to_string(fileBytes) + ".raw");
      Mgr.OpenFile(name);
      Set(0, Width, Rows, Slices, type, boBigEndian, -3, 200, true);
      for (const auto& [view, index] : {std::pair{vkSlice, 1}, {vkSlice, 0}, {vkCrossSlice, 650}}) {
        const TBitmap24& bitmap = Render(0, index, view);
        const TViewSource source{
            Mgr.ViewBuffer(view).data(),         Mgr.ViewVoxelCount(view), type, boBigEndian, Width,
            view == vkCrossSlice ? Slices : Rows};
        TViewPainter painter;
        TBitmap24 whole;
        whole.SetSize(source.Width, source.Height);
        TValueRange range = EmptySliceRange;
        painter.Paint(source, TIntensityWindow(-3, 200, true), whole, &range);
        const std::string what = "type " + std::to_string(type) + ", " + std::to_string(fileBytes) +
                                 " bytes, view " + std::to_string(view) + " at " +
                                 std::to_string(index);
        ExpectPixels(
            bitmap, [&](int64_t p) { return PixelAt(whole, p % Width, p / Width); }, what);
        if (view == vkSlice) {
          EXPECT_EQ(std::bit_cast<uint32_t>(Mgr.SliceMin()), std::bit_cast<uint32_t>(range.Min))
              << what;
          EXPECT_EQ(std::bit_cast<uint32_t>(Mgr.SliceMax()), std::bit_cast<uint32_t>(range.Max))
              << what;
        }
      }
      EXPECT_EQ(Mgr.ViewVoxelCount(vkSlice),
                std::clamp<int64_t>(fileBytes / size, 0, slice / size));
    }
  }
}

TEST_F(VxDataMgrTest, EachViewKeepsItsResultUntilRenderedAgain) {
  Mgr.OpenFile(Make(TwoVolumeFile(vtInt16, boBigEndian)));
  Set(Header, D0, D1, D2, vtInt16, boBigEndian);
  const TViewCase views[] = {
      {vkSlice, 0, 1}, {vkNextSlice, 0, 2}, {vkCrossSlice, 1, 2}, {vkOtherVolume, 1, 6}};
  for (const TViewCase& c : views)
    Render(c.Volume, c.Index, c.View);
  const auto checkProbes = [&](const std::string& When) {
    for (const TViewCase& c : views)
      for (int32_t y = 0; y < (c.View == vkCrossSlice ? D2 : D1); ++y)
        for (int32_t x = 0; x < D0; ++x) {
          const int64_t voxel = VoxelShownAt(c, x, y);
          EXPECT_EQ(Mgr.ProbeValue(c.View, x, y), voxel < VoxelsInFile ? ValueOfVoxel(voxel) : 0)
              << When << ": view " << int(c.View) << " at " << x << ", " << y;
        }
  };
  std::vector<std::vector<uint8_t>> buffers;
  std::vector<int64_t> counts;
  for (TViewKind view : AllViews) {
    buffers.push_back(Mgr.ViewBuffer(view));
    counts.push_back(Mgr.ViewVoxelCount(view));
  }
  const float sliceMin = Mgr.SliceMin(), sliceMax = Mgr.SliceMax();

  Mgr.CloseFile();
  checkProbes("after CloseFile");
  Set(0, 64, 64, 64, vtFloat32, boLittleEndian, -5, 5, true);
  Mgr.RenderView(0, 0, vkNextSlice, ImageOf(vkSlice)); // into another image: still vkNextSlice
  for (TViewKind view : {vkSlice, vkCrossSlice, vkOtherVolume}) {
    EXPECT_EQ(Mgr.ViewVoxelCount(view), counts[view]) << "view " << int(view);
    EXPECT_TRUE(Mgr.ViewBuffer(view) == buffers[view]) << "view " << int(view);
  }
  EXPECT_EQ(Mgr.ViewVoxelCount(vkNextSlice), 0);
  EXPECT_EQ(Mgr.SliceMin(), sliceMin);
  EXPECT_EQ(Mgr.SliceMax(), sliceMax);
  EXPECT_EQ(ImageOf(vkNextSlice).Bitmap.Width(), D0) << "an image not rendered into is untouched";

  Mgr.OpenFile(Make(TwoVolumeFile(vtInt16, boBigEndian)));
  Set(Header, D0, D1, D2, vtInt16, boBigEndian);
  Render(0, 2, vkNextSlice);
  checkProbes("after the other views changed");
}

TEST_F(VxDataMgrTest, AFileChangedWhileOpenShowsWhatIsThere) {
  std::vector<uint8_t> first(256), second(300);
  for (int i = 0; i < 256; ++i)
    first[i] = static_cast<uint8_t>(i * 3 + 1);
  for (int i = 0; i < 300; ++i)
    second[i] = static_cast<uint8_t>(255 - i % 256);
  const std::string path = Make(first);
  Mgr.OpenFile(path);
  Set(0, 16, 16, 2, vtByte);
  ExpectPixels(
      Render(0, 0, vkSlice), [&](int64_t p) { return Grey(first[p]); }, "whole");

  ASSERT_EQ(::truncate(path.c_str(), 100), 0);
  ExpectPixels(
      Render(0, 0, vkSlice), [&](int64_t p) { return p < 100 ? Grey(first[p]) : LightBlue; },
      "truncated");
  EXPECT_EQ(Mgr.ViewVoxelCount(vkSlice), 100);

  ASSERT_EQ(::truncate(path.c_str(), 0), 0);
  ExpectPixels(
      Render(0, 0, vkSlice), [](int64_t) { return LightBlue; }, "emptied");

  {
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
    out.write(reinterpret_cast<const char*>(second.data()),
              static_cast<std::streamsize>(second.size()));
  }
  ExpectPixels(
      Render(0, 0, vkSlice), [&](int64_t p) { return Grey(second[p]); }, "extended");
  ExpectPixels(
      Render(0, 1, vkNextSlice),
      [&](int64_t p) { return p < 44 ? Grey(second[256 + p]) : LightBlue; }, "extended, slice 1");
}

TEST_F(VxDataMgrTest, DevZeroReadsZerosWhereItCanBePositioned) {
  Mgr.OpenFile("/dev/zero");
  ASSERT_TRUE(Mgr.IsOpen());
  EXPECT_EQ(Mgr.ErrorText(), "");
  Set(0, 16, 16, 4, vtInt16);
  ExpectPixels(
      Render(0, 0, vkSlice), [](int64_t) { return Grey(0); }, "slice 0");
  EXPECT_EQ(Mgr.ViewVoxelCount(vkSlice), 256);
  // The device reports position 0 whatever is asked, so no later slice lands.
  ExpectPixels(
      Render(0, 1, vkNextSlice), [](int64_t) { return LightBlue; }, "slice 1");
  ExpectPixels(
      Render(0, 0, vkCrossSlice), [](int64_t p) { return p < 16 ? Grey(0) : LightBlue; },
      "cross-slice");
  Mgr.CloseFile();
  EXPECT_FALSE(Mgr.IsOpen());
}

TEST_F(VxDataMgrTest, ANamedPipeOpensAtOnceAndReadsNothing) {
  const std::string path = Dir.Path("pipe");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  auto opening = std::async(std::launch::async, [&] { Mgr.OpenFile(path); });
  if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Give the blocked open its writer so that the test can end.
    const int writer = ::open(path.c_str(), O_WRONLY);
    opening.wait();
    if (writer >= 0)
      ::close(writer);
    FAIL() << "OpenFile waited for a writer";
  }
  EXPECT_TRUE(Mgr.IsOpen());
  EXPECT_EQ(Mgr.FileName(), path);
  EXPECT_EQ(Mgr.ErrorText(), "");
  Set(0, 8, 8, 3, vtByte);
  for (TViewKind view : AllViews) {
    ExpectPixels(
        Render(0, 0, view), [](int64_t) { return LightBlue; }, "view " + std::to_string(view));
    EXPECT_EQ(Mgr.ViewVoxelCount(view), 0);
  }
}

TEST_F(VxDataMgrTest, TheVolumeFileIsNeverWritten) {
  std::vector<uint8_t> bytes(5000);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(i * 13);
  const std::string path = Make(bytes);
  const timespec times[2] = {{1'000'000'000, 0}, {1'000'000'000, 123'456'789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);

  for (TVoxelType type : AllTypes) {
    Mgr.OpenFile(path);
    Set(10, 16, 16, 4, type);
    for (TViewKind view : AllViews)
      Render(0, 1, view);
    Mgr.CloseFile();
  }
  Mgr.OpenFile(path);
  Mgr.OpenFile(path);

  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_size, static_cast<off_t>(bytes.size()));
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> now((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
  EXPECT_TRUE(now == bytes);
}

TEST_F(VxDataMgrTest, AViewTooLargeToHoldIsEmpty) {
  Mgr.OpenFile(Make(std::vector<uint8_t>(1000, 0x21)));
  struct TCase {
    int32_t D0, D1, D2;
    TVoxelType Type;
    TViewKind View;
  };
  // 20000 x 20000 is 4 x 10^8 voxels; 16385 x 16384 is just beyond 2^28.
  const TCase cases[] = {{20000, 20000, 1, vtByte, vkSlice},
                         {20000, 20000, 1, vtFloat32, vkNextSlice},
                         {20000, 20000, 3, vtInt16, vkOtherVolume},
                         {20000, 1, 20000, vtInt32, vkCrossSlice},
                         {16385, 16384, 1, vtByte, vkSlice},
                         {INT32_MAX, INT32_MAX, INT32_MAX, vtFloat32, vkSlice},
                         {INT32_MAX, 2, INT32_MAX, vtByte, vkCrossSlice}};
  for (const TCase& c : cases) {
    TTestImage& image = ImageOf(c.View);
    image.Bitmap.SetSize(7, 7);
    Set(0, c.D0, c.D1, c.D2, c.Type);
    Render(0, 0, c.View);
    EXPECT_EQ(Mgr.ViewVoxelCount(c.View), 0) << c.D0 << "x" << c.D1 << "x" << c.D2;
    EXPECT_EQ(image.Bitmap.Width(), 0) << c.D0 << "x" << c.D1 << "x" << c.D2;
    EXPECT_EQ(image.Bitmap.Height(), 0) << c.D0 << "x" << c.D1 << "x" << c.D2;
    EXPECT_EQ(Mgr.ProbeValue(c.View, 0, 0), 0.0);
  }
  EXPECT_EQ(Mgr.SliceMin(), NoMin);
  EXPECT_EQ(Mgr.SliceMax(), NoMax);
  // Nothing is lost for the next, ordinary view.
  Set(0, 10, 10, 1, vtByte);
  ExpectPixels(
      Render(0, 0, vkSlice), [](int64_t) { return Grey(0x21); }, "after");
}

// The bad-input sweep opens a 64-byte file of 0x40 bytes, so every voxel read
// from it has one value per type, whatever offset it came from.
constexpr int64_t SweepFileBytes = 64;

double SweepValue(TVoxelType Type) {
  switch (Type) {
  case vtByte:
    return 0x40;
  case vtInt16:
    return 0x4040;
  case vtInt32:
    return 0x40404040;
  case vtFloat32:
    return static_cast<double>(std::bit_cast<float>(0x40404040u)); // 3.0039...
  case vtUInt16:
    return 0x4040;
  case vtInt8:
    return 0x40;
  case vtUInt32:
    return 0x40404040;
  case vtInt64:
  case vtUInt64:
    return static_cast<double>(0x4040404040404040); // beyond 2^53: rounded as a double
  case vtFloat16:
    return 2.125; // 0x4040
  case vtFloat64:
    return std::bit_cast<double>(0x4040404040404040u); // 32.5...
  }
  return 0;
}

// The window is 0..255 with Scale 1, and no sweep value lies near a half.
uint32_t SweepColour(TVoxelType Type) {
  return Grey(static_cast<int>(std::min(std::lround(SweepValue(Type)), 255L)));
}

using TDims = std::array<int32_t, 3>;

// Which voxels of a view come from the sweep file. A read lands when its offset
// lies in 0..file size and brings the whole voxels up to the end of the file;
// the count adds up every read, so a cross-slice of rows that all land on the
// same bytes counts more voxels than its first rows hold.
struct TSweepModel {
  int64_t Count = 0;
  std::vector<int64_t> ReadInRow; // voxels at the start of each image row that hold file data
};

TSweepModel ModelSweepView(TViewKind View, const TDims& D, TVoxelType Type, int32_t Volume,
                           int32_t Index) {
  const TWide b = BytesPerVoxel[Type], s0 = D[0], s1 = s0 * D[1], s2 = s1 * D[2];
  const auto voxelsAt = [&](TWide Offset, TWide Voxels) -> int64_t {
    if (Offset < 0 || Voxels <= 0 || Offset >= SweepFileBytes)
      return 0;
    return static_cast<int64_t>(std::min<TWide>(Voxels * b, SweepFileBytes - Offset) / b);
  };
  const int64_t width = std::max(D[0], 0);
  const int32_t height = std::max(View == vkCrossSlice ? D[2] : D[1], 0);
  TSweepModel model;
  model.ReadInRow.resize(static_cast<size_t>(height));
  if (View == vkCrossSlice) {
    for (int32_t k = 0; k < height; ++k) {
      model.ReadInRow[k] = voxelsAt((Index * s0 + k * s1 + Volume * s2) * b, s0);
      model.Count += model.ReadInRow[k];
    }
  } else {
    model.Count = voxelsAt((Index * s1 + Volume * s2) * b, s1);
    for (int32_t y = 0; y < height; ++y)
      model.ReadInRow[y] = std::clamp<int64_t>(model.Count - y * width, 0, width);
  }
  return model;
}

void CheckSweepRender(const TVxDataMgr& Mgr, const TBitmap24& Bitmap, TViewKind View,
                      const TDims& D, TVoxelType Type, int32_t Volume, int32_t Index) {
  const std::string what = "type " + std::to_string(Type) + " dims " + std::to_string(D[0]) + "x" +
                           std::to_string(D[1]) + "x" + std::to_string(D[2]) + " view " +
                           std::to_string(View) + " volume " + std::to_string(Volume) + " index " +
                           std::to_string(Index);
  const int32_t width = std::max(D[0], 0);
  const int32_t height = std::max(View == vkCrossSlice ? D[2] : D[1], 0);
  ASSERT_EQ(Bitmap.Width(), width) << what;
  ASSERT_EQ(Bitmap.Height(), height) << what;
  const int64_t area = int64_t{width} * height;
  const TSweepModel model = ModelSweepView(View, D, Type, Volume, Index);
  const int64_t count = Mgr.ViewVoxelCount(View);
  // With negative dimensions and no pixel the amount read is left open.
  const bool negative = D[0] < 0 || D[1] < 0 || D[2] < 0;
  if (!negative || area > 0) {
    EXPECT_EQ(count, model.Count) << what;
  }
  // Positions below the count that no read filled hold zero bytes: grey 0.
  const auto expected = [&](int32_t X, int32_t Y) {
    const int64_t p = int64_t{Y} * width + X;
    return p >= count ? LightBlue : X < model.ReadInRow[Y] ? SweepColour(Type) : Grey(0);
  };
  const auto probed = [&](int32_t X, int32_t Y) {
    const int64_t p = int64_t{Y} * width + X;
    return p < count && X < model.ReadInRow[Y] ? SweepValue(Type) : 0.0;
  };
  // Whole rows at the top, in the middle and at the bottom.
  for (int32_t y : {0, 1, height / 2, height - 1}) {
    if (y < 0 || y >= height)
      continue;
    for (int32_t x = 0; x < width; ++x)
      if (PixelAt(Bitmap, x, y) != expected(x, y)) {
        ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") is " << std::hex
                      << PixelAt(Bitmap, x, y) << ", expected " << expected(x, y);
        break;
      }
    for (int32_t x : {0, width / 2, width - 1}) {
      if (x >= 0 && x < width) {
        EXPECT_EQ(Mgr.ProbeValue(View, x, y), probed(x, y)) << what << " probe " << x << ", " << y;
      }
    }
  }
  if (View == vkSlice) {
    const float value = static_cast<float>(SweepValue(Type));
    // The range starts at -2^31..2^31, so values beyond it leave one end there.
    EXPECT_EQ(Mgr.SliceMin(), area == 0            ? NoMin
                              : model.Count < area ? 0.0f
                                                   : std::min(value, NoMin))
        << what;
    EXPECT_EQ(Mgr.SliceMax(), area == 0 ? NoMax : model.Count > 0 ? value : 0.0f) << what;
  }
}

TEST(VxDataMgrBadInput, EveryTypeAndDimensionCombination) {
  TTempDir dir;
  const std::string path = dir.MakeFile("sweep.raw", std::vector<uint8_t>(SweepFileBytes, 0x40));
  std::vector<TDims> dims;
  for (int32_t d0 : {0, 1, 10000})
    for (int32_t d1 : {0, 1, 10000})
      for (int32_t d2 : {0, 1, 10000})
        dims.push_back({d0, d1, d2});
  for (const TDims& d : {TDims{-1, 5, 5}, TDims{5, -1, 5}, TDims{5, 5, -1}, TDims{-3, -4, 2},
                         TDims{3, -4, -2}, TDims{INT32_MIN, 1, 1}})
    dims.push_back(d);
  const std::pair<int32_t, int32_t> places[] = {{0, 0}, {10000, 10000}};
  // One manager throughout, as the program has one. Its buffers grow once, so
  // the widest type goes first. One type of each width and way of painting.
  TVxDataMgr mgr;
  mgr.OpenFile(path);
  ASSERT_TRUE(mgr.IsOpen());
  TTestImage image;
  for (TVoxelType type : {vtUInt64, vtFloat64, vtFloat32, vtInt32, vtInt16, vtFloat16, vtByte}) {
    for (const TDims& d : dims) {
      mgr.SetParameters(0, d[0], d[1], d[2], type, boLittleEndian, 0, 255, false);
      for (TViewKind view : AllViews)
        for (const auto& [volume, index] : places) {
          const int before = image.RepaintCount;
          mgr.RenderView(volume, index, view, image);
          EXPECT_EQ(image.RepaintCount, before + 1);
          CheckSweepRender(mgr, image.Bitmap, view, d, type, volume, index);
        }
    }
  }
}

} // namespace
