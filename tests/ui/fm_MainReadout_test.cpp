#include "QtPrinters.h"
#include "data/TestFiles.h"
#include "data/VxDataMgr.h"
#include "ui/ImageWidget.h"
#include "ui/MainWindowFixture.h"
#include "ui/fm_Main.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <climits>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

QString Q(const char* Text) {
  return QString::fromUtf8(Text);
}

class TReadoutTest : public TMainWindowTest {
protected:
  void SetLayout(int Header, int VoxelsPerRow, int RowsPerSlice, int SlicesPerVolume,
                 TVoxelType Type, TByteOrder Order = boLittleEndian) {
    Control<QLineEdit>("ed_SkipHeader")->setText(QString::number(Header));
    Control<QLineEdit>("ed_VoxelsPerRow")->setText(QString::number(VoxelsPerRow));
    Control<QLineEdit>("ed_RowsPerSlice")->setText(QString::number(RowsPerSlice));
    Control<QLineEdit>("ed_SlicesPerVolume")->setText(QString::number(SlicesPerVolume));
    Control<QComboBox>("cb_DataType")->setCurrentIndex(Type);
    Control<QComboBox>("cb_ByteOrder")->setCurrentIndex(Order);
    Window.ComboChanges();
  }

  void ChooseViews(int Slice, int CrossRow, int Volume) {
    Control<QLineEdit>("ed_SliceNumber")->setText(QString::number(Slice));
    Control<QLineEdit>("ed_CrossSliceViewY")->setText(QString::number(CrossRow));
    Control<QLineEdit>("ed_VolumeNumber")->setText(QString::number(Volume));
  }

  TImageWidget* Image(TViewKind View) {
    static const char* const names[] = {"img_Slice", "img_NextSlice", "img_CrossSliceView",
                                        "img_OtherVolume"};
    return Control<TImageWidget>(names[View]);
  }

  void Move(TViewKind View, int X, int Y) { Window.ImageMouseMove(Image(View), X, Y); }

  // A parameter change stands without its redraw, as between two timer ticks.
  void HoldTheRedraw() { Control<QTimer>("Timer1")->stop(); }

  QString Panel(int Index) { return Window.StatusPanelText(Index); }

  testfiles::TTempDir Dir;
};

struct TWorkedCase {
  int Header;
  int Slice;
  int X;
  int Y;
  const char* Indices;
  const char* Place;
};

TEST_F(TReadoutTest, TheWorkedExamplesOnTheSliceView) {
  const TWorkedCase cases[] = {
      {0, 60, 5, 17, "[   5,   17,   60,    0 ]",
       "Voxel:  3,936,517  Byte Offset:  7,873,034 = 0x0078.220A"},
      {352, 30, 10, 20, "[  10,   20,   30,    0 ]",
       "Voxel:  1,971,210  Byte Offset:  3,942,772 = 0x003C.2974"},
  };
  for (const TWorkedCase& c : cases) {
    SetLayout(c.Header, 256, 256, 124, vtInt16);
    ChooseViews(c.Slice, 0, 1);
    RedrawNow();
    Move(vkSlice, c.X, c.Y);
    EXPECT_EQ(Panel(0), Q(c.Indices));
    EXPECT_EQ(Panel(2), Q(c.Place));
    EXPECT_EQ(Panel(1), Q("Intens:          0")); // no file
  }
}

struct TValueCase {
  TVoxelType Type;
  TByteOrder Order;
  std::vector<uint8_t> Voxel; // the bytes of voxel (1, 1)
  const char* Value;
  const char* Zero; // how the zero voxel (0, 0) reads in the same type
};

std::vector<uint8_t> FloatBits(uint32_t Bits, TByteOrder Order = boLittleEndian) {
  std::vector<uint8_t> bytes;
  testfiles::AppendFloatBits(bytes, Bits, Order);
  return bytes;
}

std::vector<uint8_t> VoxelBytes(TVoxelType Type, double Value, TByteOrder Order = boLittleEndian) {
  std::vector<uint8_t> bytes;
  testfiles::AppendVoxel(bytes, Type, Order, Value);
  return bytes;
}

TEST_F(TReadoutTest, TheValueComesFromTheFileAsTheTypeFormatsIt) {
  const char* intZero = "Intens:          0";
  const char* floatZero = "Intens:     0.0000";
  const TValueCase cases[] = {
      {vtInt16, boLittleEndian, VoxelBytes(vtInt16, -123), "Intens:       -123", intZero},
      {vtInt16, boBigEndian, {0xFF, 0xFE}, "Intens:         -2", intZero},
      {vtByte, boLittleEndian, {200}, "Intens:        200", intZero},
      {vtInt32, boLittleEndian, VoxelBytes(vtInt32, 123456789), "Intens:  123456789", intZero},
      {vtInt32, boLittleEndian, VoxelBytes(vtInt32, INT32_MIN), "Intens: -2147483648", intZero},
      {vtFloat32, boLittleEndian, VoxelBytes(vtFloat32, 1.5), "Intens:     1.5000", floatZero},
      {vtFloat32, boBigEndian, VoxelBytes(vtFloat32, 1.5, boBigEndian), "Intens:     1.5000",
       floatZero},
      {vtFloat32, boLittleEndian, VoxelBytes(vtFloat32, -1234567.25), "Intens: -1234567.2500",
       floatZero},
      {vtFloat32, boLittleEndian, FloatBits(0x7FC00000), "Intens:        NAN", floatZero},
      {vtFloat32, boLittleEndian, FloatBits(0xFFC00000), "Intens:        NAN", floatZero},
      {vtFloat32, boLittleEndian, FloatBits(0x7F800000), "Intens:        INF", floatZero},
      {vtFloat32, boLittleEndian, FloatBits(0xFF800000), "Intens:       -INF", floatZero},
      {vtFloat32, boLittleEndian, FloatBits(0x7F800001), "Intens:     0.0000", floatZero},
      {vtFloat32, boLittleEndian, FloatBits(0xFFA00000), "Intens:     0.0000", floatZero},
  };
  int n = 0;
  for (const TValueCase& c : cases) {
    // A 2 x 2 slice: three zero voxels, then the one under test.
    std::vector<uint8_t> bytes(3 * c.Voxel.size(), 0);
    bytes.insert(bytes.end(), c.Voxel.begin(), c.Voxel.end());
    SetLayout(0, 2, 2, 1, c.Type, c.Order);
    Window.OpenFileNamed(Dir.MakeFile(std::to_string(n++) + ".raw", bytes));
    RedrawNow();
    Move(vkSlice, 1, 1);
    EXPECT_EQ(Panel(1), Q(c.Value)) << c.Value;
    Move(vkSlice, 0, 0);
    EXPECT_EQ(Panel(1), Q(c.Zero)) << c.Value;
  }
}

struct TStoredCase {
  TVoxelType Type;
  TByteOrder Order;
  uint64_t Bits; // the stored pattern of voxel (1, 1)
  const char* Value;
};

class TStoredValueTest : public TReadoutTest {
protected:
  QString ReadoutUnderThePointer(TViewKind View, QPoint At) {
    QTest::mouseMove(Image(View), At);
    return Panel(1);
  }

  // A 2 x 2 x 2 layout over one slice of data: three zero voxels, then the one
  // under test. The next slice lies beyond the file.
  void ExpectReadouts(const std::vector<TStoredCase>& Cases, const char* Zero) {
    for (const TStoredCase& c : Cases) {
      const int size = BytesPerVoxel[c.Type];
      std::vector<uint8_t> bytes(3 * static_cast<size_t>(size), 0);
      testfiles::AppendBytes(bytes, c.Bits, size, c.Order);
      SetLayout(0, 2, 2, 2, c.Type, c.Order);
      Window.OpenFileNamed(Dir.MakeFile(std::to_string(Files++) + ".raw", bytes));
      RedrawNow();
      EXPECT_EQ(ReadoutUnderThePointer(vkSlice, {1, 1}), Q(c.Value)) << c.Value;
      ExpectValuePanelShowsItWhole(c.Value);
      EXPECT_EQ(ReadoutUnderThePointer(vkSlice, {0, 0}), Q(Zero)) << c.Value;
      EXPECT_EQ(ReadoutUnderThePointer(vkNextSlice, {1, 1}), Q(Zero)) << c.Value;
    }
  }

  // Its design width, or wider when that would cut the text.
  void ExpectValuePanelShowsItWhole(const char* Value) {
    QCoreApplication::sendPostedEvents();
    const QLabel* panel = Control<QLabel>("StatusBar1Panel1");
    const int advance = panel->fontMetrics().horizontalAdvance(panel->text());
    EXPECT_GE(panel->contentsRect().width(), advance) << Value;
    if (advance <= 150) {
      EXPECT_EQ(panel->width(), 160) << Value;
    }
  }

  int Files = 0;
};

TEST_F(TStoredValueTest, SignedIntegersShowTheStoredNumberExactly) {
  ExpectReadouts({{vtInt8, boLittleEndian, 0x80, "Intens:       -128"},
                  {vtInt8, boBigEndian, 0x7F, "Intens:        127"},
                  {vtInt8, boLittleEndian, 0xFF, "Intens:         -1"},
                  {vtByte, boLittleEndian, 0xFF, "Intens:        255"},
                  {vtInt16, boBigEndian, 0x8000, "Intens:     -32768"},
                  {vtInt32, boLittleEndian, 0x7FFFFFFF, "Intens: 2147483647"},
                  {vtInt64, boLittleEndian, 0x8000000000000000, "Intens: -9223372036854775808"},
                  {vtInt64, boBigEndian, 0x7FFFFFFFFFFFFFFF, "Intens: 9223372036854775807"},
                  {vtInt64, boLittleEndian, 0x0020000000000001, "Intens: 9007199254740993"},
                  {vtInt64, boBigEndian, 0xFFDFFFFFFFFFFFFF, "Intens: -9007199254740993"},
                  {vtInt64, boLittleEndian, 0xFFFFFFFF00000000, "Intens: -4294967296"}},
                 "Intens:          0");
}

TEST_F(TStoredValueTest, UnsignedIntegersShowTheStoredNumberExactly) {
  ExpectReadouts({{vtUInt16, boLittleEndian, 0xFFFF, "Intens:      65535"},
                  {vtUInt16, boBigEndian, 0x1234, "Intens:       4660"},
                  {vtUInt32, boLittleEndian, 0xFFFFFFFF, "Intens: 4294967295"},
                  {vtUInt32, boBigEndian, 0x80000000, "Intens: 2147483648"},
                  {vtUInt64, boLittleEndian, 0xFFFFFFFFFFFFFFFF, "Intens: 18446744073709551615"},
                  {vtUInt64, boBigEndian, 0x8000000000000001, "Intens: 9223372036854775809"},
                  {vtUInt64, boLittleEndian, 0x0020000000000001, "Intens: 9007199254740993"}},
                 "Intens:          0");
}

// Float16 and float64 show as float32 always has; a float64 from 10^15 up
// turns scientific, while a float32 stays in fixed point whatever its size.
TEST_F(TStoredValueTest, FloatsShowFourDecimalsAndHugeDoublesAnExponent) {
  ExpectReadouts(
      {{vtFloat16, boLittleEndian, 0x3E00, "Intens:     1.5000"},
       {vtFloat16, boBigEndian, 0xBE00, "Intens:    -1.5000"},
       {vtFloat16, boLittleEndian, 0x3555, "Intens:     0.3333"},
       {vtFloat16, boLittleEndian, 0x7BFF, "Intens: 65504.0000"},
       {vtFloat16, boBigEndian, 0xFBFF, "Intens: -65504.0000"},
       {vtFloat16, boLittleEndian, 0x03FF, "Intens:     0.0001"}, // largest subnormal
       {vtFloat16, boLittleEndian, 0x8001, "Intens:    -0.0000"},
       {vtFloat16, boLittleEndian, 0x7C00, "Intens:        INF"},
       {vtFloat16, boBigEndian, 0xFC00, "Intens:       -INF"},
       {vtFloat16, boLittleEndian, 0x7E00, "Intens:        NAN"},
       {vtFloat16, boLittleEndian, 0x7D00, "Intens:     0.0000"}, // signalling
       {vtFloat16, boBigEndian, 0xFC01, "Intens:     0.0000"},
       {vtFloat64, boLittleEndian, 0x3FF8000000000000, "Intens:     1.5000"},
       {vtFloat64, boBigEndian, 0xC05EDD2F1A9FBE77, "Intens:  -123.4560"},
       {vtFloat64, boLittleEndian, 0x430C6BF52633FFFF, "Intens: 999999999999999.8750"},
       {vtFloat64, boLittleEndian, 0x430C6BF526340000, "Intens: 1.0000e+15"},
       {vtFloat64, boBigEndian, 0xC3118B54F22AEB00, "Intens: -1.2346e+15"},
       {vtFloat64, boLittleEndian, 0x7FEFFFFFFFFFFFFF, "Intens: 1.7977e+308"},
       {vtFloat64, boLittleEndian, 0x0000000000000001, "Intens:     0.0000"},
       {vtFloat64, boLittleEndian, 0x7FF0000000000000, "Intens:        INF"},
       {vtFloat64, boBigEndian, 0xFFF0000000000000, "Intens:       -INF"},
       {vtFloat64, boLittleEndian, 0xFFF8000000000000, "Intens:        NAN"},
       {vtFloat64, boLittleEndian, 0x7FF0000000000001, "Intens:     0.0000"}, // signalling
       {vtFloat64, boBigEndian, 0x7FF4000000000000, "Intens:     0.0000"},
       {vtFloat32, boLittleEndian, 0x58635FA9, "Intens: 999999986991104.0000"},
       {vtFloat32, boLittleEndian, 0x7F7FFFFF,
        "Intens: 340282346638528859811704183484516925440.0000"}},
      "Intens:     0.0000");
}

TEST_F(TReadoutTest, WithoutAFileTheValueIsARightAlignedZero) {
  const std::pair<TVoxelType, const char*> cases[] = {{vtByte, "Intens:          0"},
                                                      {vtInt32, "Intens:          0"},
                                                      {vtFloat32, "Intens:     0.0000"}};
  for (const auto& [type, text] : cases) {
    SetLayout(0, 4, 4, 4, type);
    RedrawNow();
    Move(vkNextSlice, 3, 2);
    EXPECT_EQ(Panel(1), Q(text));
    EXPECT_EQ(Panel(0), Q("[   3,    2,    1,    0 ]"));
  }
}

struct TMappingCase {
  TViewKind View;
  int X;
  int Y;
  const char* Indices;
  const char* Place;
  const char* Value;
};

// 3 x 2 x 4 bytes per volume, two volumes, after a header of 4 bytes: every
// voxel holds its own number, so the value tells where it was read.
TEST_F(TReadoutTest, EachViewMapsThePointerToItsOwnIndices) {
  std::vector<uint8_t> bytes(4, 0xEE);
  for (int i = 0; i < 48; ++i)
    bytes.push_back(static_cast<uint8_t>(i));
  SetLayout(4, 3, 2, 4, vtByte);
  ChooseViews(1, 1, 1);
  Window.OpenFileNamed(Dir.MakeFile("numbered.raw", bytes));
  RedrawNow();
  ASSERT_EQ(Window.CurSlice(), 1);
  ASSERT_EQ(Window.CurCrossRow(), 1);
  ASSERT_EQ(Window.CurVolume(), 1);
  const TMappingCase cases[] = {
      {vkSlice, 2, 1, "[   2,    1,    1,    0 ]",
       "Voxel:         11  Byte Offset:         15 = 0x0000.000F", "Intens:         11"},
      {vkSlice, 0, 0, "[   0,    0,    1,    0 ]",
       "Voxel:          6  Byte Offset:         10 = 0x0000.000A", "Intens:          6"},
      {vkNextSlice, 2, 1, "[   2,    1,    2,    0 ]",
       "Voxel:         17  Byte Offset:         21 = 0x0000.0015", "Intens:         17"},
      {vkCrossSlice, 2, 3, "[   2,    1,    3,    0 ]",
       "Voxel:         23  Byte Offset:         27 = 0x0000.001B", "Intens:         23"},
      {vkCrossSlice, 0, 0, "[   0,    1,    0,    0 ]",
       "Voxel:          3  Byte Offset:          7 = 0x0000.0007", "Intens:          3"},
      {vkOtherVolume, 2, 1, "[   2,    1,    1,    1 ]",
       "Voxel:         35  Byte Offset:         39 = 0x0000.0027", "Intens:         35"},
  };
  for (const TMappingCase& c : cases) {
    Move(c.View, c.X, c.Y);
    EXPECT_EQ(Panel(0), Q(c.Indices)) << c.View << " " << c.X << "," << c.Y;
    EXPECT_EQ(Panel(2), Q(c.Place)) << c.View << " " << c.X << "," << c.Y;
    EXPECT_EQ(Panel(1), Q(c.Value)) << c.View << " " << c.X << "," << c.Y;
  }
}

TEST_F(TReadoutTest, MovesOverOtherControlsChangeNothing) {
  SetLayout(0, 8, 8, 8, vtByte);
  RedrawNow();
  Move(vkSlice, 1, 2);
  const QStringList before = {Panel(0), Panel(1), Panel(2)};
  for (QWidget* sender :
       {static_cast<QWidget*>(Control<QStatusBar>("StatusBar1")),
        static_cast<QWidget*>(Control<QFrame>("pa_Slice")), static_cast<QWidget*>(nullptr)})
    Window.ImageMouseMove(sender, 5, 6);
  EXPECT_EQ(QStringList({Panel(0), Panel(1), Panel(2)}), before);
  EXPECT_EQ(before[0], Q("[   1,    2,    0,    0 ]"));
}

TEST_F(TReadoutTest, ARealPointerMoveOverTheSliceImage) {
  std::vector<uint8_t> bytes;
  for (int p = 0; p < 64; ++p)
    bytes.push_back(static_cast<uint8_t>(3 * p));
  SetLayout(0, 8, 8, 1, vtByte);
  Window.OpenFileNamed(Dir.MakeFile("ramp.raw", bytes));
  RedrawNow();
  TImageWidget* image = Image(vkSlice);
  ASSERT_EQ(image->size(), QSize(8, 8));
  QTest::mouseMove(image, QPoint(5, 6));
  QTest::qWait(20);
  EXPECT_EQ(Panel(0), Q("[   5,    6,    0,    0 ]"));
  EXPECT_EQ(Panel(1), Q("Intens:        159")); // voxel 53 holds 3 x 53
  EXPECT_EQ(Panel(2), Q("Voxel:         53  Byte Offset:         53 = 0x0000.0035"));
}

TEST_F(TReadoutTest, LargeIndicesAndNumbersAreNotCut) {
  SetLayout(0, 256, 256, 256, vtByte);
  ChooseViews(10000, 0, 1);
  RedrawNow();
  ASSERT_EQ(Window.CurSlice(), 10000);
  Move(vkSlice, 10000, 12345);
  EXPECT_EQ(Panel(0), Q("[10000, 12345, 10000,    0 ]"));
  EXPECT_EQ(Panel(2), Q("Voxel: 658,530,320  Byte Offset: 658,530,320 = 0x2740.6010"));
  Move(vkNextSlice, 10000, 12345);
  EXPECT_EQ(Panel(0), Q("[10000, 12345, 10001,    0 ]"));
  EXPECT_EQ(Panel(2), Q("Voxel: 658,595,856  Byte Offset: 658,595,856 = 0x2741.6010"));
}

TEST_F(TReadoutTest, OffsetsBeyond32BitsKeepAllTheirDigits) {
  // The slice and volume come from a redraw of a small layout; the large one
  // is then entered and its redraw held back.
  SetLayout(0, 2, 2, 2, vtByte);
  ChooseViews(10, 0, 10000);
  RedrawNow();
  SetLayout(0, 10000, 10000, 10000, vtFloat32);
  HoldTheRedraw();

  Move(vkSlice, 1823, 7374);
  EXPECT_EQ(Panel(0), Q("[1823, 7374,   10,    0 ]"));
  EXPECT_EQ(Panel(2), Q("Voxel: 1,073,741,823  Byte Offset: 4,294,967,292 = 0xFFFF.FFFC"));
  Move(vkSlice, 1824, 7374);
  EXPECT_EQ(Panel(2), Q("Voxel: 1,073,741,824  Byte Offset: 4,294,967,296 = 0x1.0000.0000"));
  Move(vkOtherVolume, 0, 0);
  EXPECT_EQ(Panel(0), Q("[   0,    0,   10, 10000 ]"));
  EXPECT_EQ(Panel(2), Q("Voxel: 10,000,001,000,000,000  Byte Offset: 40,000,004,000,000,000 = "
                        "0x8E.1BCA.AD6F.2800"));
  EXPECT_EQ(Panel(1), Q("Intens:     0.0000"));
}

TEST_F(TReadoutTest, BetweenAChangeAndItsRedrawTheValueIsTheOldBuffersDecodedAnew) {
  // 16 voxels of Int-16 holding 100 + their number.
  std::vector<uint8_t> bytes;
  for (int k = 0; k < 16; ++k)
    testfiles::AppendVoxel(bytes, vtInt16, boLittleEndian, 100 + k);
  SetLayout(0, 4, 2, 2, vtInt16);
  ChooseViews(1, 0, 1);
  Window.OpenFileNamed(Dir.MakeFile("counted.raw", bytes));
  RedrawNow();
  Move(vkSlice, 1, 1);
  EXPECT_EQ(Panel(2), Q("Voxel:         13  Byte Offset:         26 = 0x0000.001A"));
  EXPECT_EQ(Panel(1), Q("Intens:        113"));

  // Rows of 2: the place follows at once, the buffer still holds slice 1 of rows of 4.
  Control<QLineEdit>("ed_VoxelsPerRow")->setText(QStringLiteral("2"));
  ASSERT_TRUE(Control<QTimer>("Timer1")->isActive());
  Move(vkSlice, 1, 1);
  EXPECT_EQ(Panel(2), Q("Voxel:          7  Byte Offset:         14 = 0x0000.000E"));
  EXPECT_EQ(Panel(1), Q("Intens:        111"));
  RedrawNow();
  Move(vkSlice, 1, 1);
  EXPECT_EQ(Panel(2), Q("Voxel:          7  Byte Offset:         14 = 0x0000.000E"));
  EXPECT_EQ(Panel(1), Q("Intens:        107"));

  // Int-32: the buffer's Int-16 voxels 104..107 are read in pairs.
  Control<QComboBox>("cb_DataType")->setCurrentIndex(vtInt32);
  Window.ComboChanges();
  Move(vkSlice, 1, 0);
  EXPECT_EQ(Panel(2), Q("Voxel:          5  Byte Offset:         20 = 0x0000.0014"));
  EXPECT_EQ(Panel(1), Q("Intens:    7012458")); // 106 + 107 x 65536
  RedrawNow();
  Move(vkSlice, 1, 0);
  EXPECT_EQ(Panel(2), Q("Voxel:          5  Byte Offset:         20 = 0x0000.0014"));
  EXPECT_EQ(Panel(1), Q("Intens:    7274606")); // 110 + 111 x 65536
}

TEST_F(TReadoutTest, AGermanLocaleGroupsWithDotsAndWritesDecimalCommas) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  SetLayout(0, 256, 256, 124, vtInt16);
  ChooseViews(60, 0, 1);
  RedrawNow();
  Move(vkSlice, 5, 17);
  EXPECT_EQ(Panel(2), Q("Voxel:  3.936.517  Byte Offset:  7.873.034 = 0x0078.220A"));

  std::vector<uint8_t> bytes;
  for (double value : {1.5, -1234567.25})
    testfiles::AppendVoxel(bytes, vtFloat32, boLittleEndian, value);
  SetLayout(0, 2, 1, 1, vtFloat32);
  ChooseViews(0, 0, 1);
  Window.OpenFileNamed(Dir.MakeFile("floats.raw", bytes));
  RedrawNow();
  Move(vkSlice, 0, 0);
  EXPECT_EQ(Panel(1), Q("Intens:     1,5000"));
  Move(vkSlice, 1, 0);
  EXPECT_EQ(Panel(1), Q("Intens: -1234567,2500"));

  std::vector<uint8_t> doubles;
  testfiles::AppendVoxel(doubles, vtFloat64, boLittleEndian, -1234567890123456.0);
  SetLayout(0, 1, 1, 1, vtFloat64);
  Window.OpenFileNamed(Dir.MakeFile("doubles.raw", doubles));
  RedrawNow();
  Move(vkSlice, 0, 0);
  EXPECT_EQ(Panel(1), Q("Intens: -1,2346e+15"));
}

// ASCII digits of Number in threes, joined by Separator, padded to Width.
QString GroupedInThrees(uint64_t Number, const QString& Separator, int Width) {
  const std::string digits = std::to_string(Number);
  QString text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0)
      text += Separator;
    text += QLatin1Char(digits[i]);
  }
  return text.rightJustified(Width, QLatin1Char(' '));
}

// Whatever digits a locale writes natively and however it groups them, the
// window shows ASCII digits in threes with the locale's own separators.
TEST_F(TReadoutTest, NumbersAreAsciiDigitsInThreesWithTheLocalesSeparators) {
  std::vector<uint8_t> bytes;
  for (double value : {-1234567.25, 1.5})
    testfiles::AppendVoxel(bytes, vtFloat32, boLittleEndian, value);
  const std::string file = Dir.MakeFile("floats.raw", bytes);
  for (const char* name : {"C", "en_US", "de_DE", "de_CH", "fr_FR", "en_IN", "hi_IN", "ar_EG",
                           "fa_IR", "bn_BD", "mr_IN", "th_TH"}) {
    const QLocale locale(QString::fromLatin1(name));
    QLocale::setDefault(locale);
    const QString point = locale.decimalPoint();
    const QString group = locale.groupSeparator();
    SetLayout(0, 2, 1, 1, vtFloat32);
    ChooseViews(0, 0, 1);
    Window.OpenFileNamed(file);
    RedrawNow();
    EXPECT_EQ(Control<QLabel>("lb_Intensity")->text(),
              Q("Intens: -1234567") + point + Q("25 to       1") + point + Q("50"))
        << name;
    Move(vkSlice, 1, 0);
    EXPECT_EQ(Panel(1), Q("Intens:     1") + point + Q("5000")) << name;

    // Small, middling and huge places; the redraw is held so the layout stays as typed.
    SetLayout(0, 10000, 10000, 10000, vtFloat32);
    HoldTheRedraw();
    const std::tuple<TViewKind, int, int, uint64_t> places[] = {
        {vkSlice, 53, 0, 53},
        {vkNextSlice, 999, 0, 100000999},
        {vkOtherVolume, 7, 3, 1000000030007}};
    for (const auto& [view, x, y, voxel] : places) {
      Move(view, x, y);
      EXPECT_EQ(Panel(2).section(QLatin1Char('='), 0, 0),
                Q("Voxel: ") + GroupedInThrees(voxel, group, 10) + Q("  Byte Offset: ") +
                    GroupedInThrees(4 * voxel, group, 10) + Q(" "))
          << name;
    }
  }
}

TEST(PadLeft, PadsToTheWidthAndNeverCuts) {
  const std::tuple<int64_t, int, const char*> cases[] = {
      {5, 4, "   5"},      {-5, 4, "  -5"},       {1234, 4, "1234"},
      {12345, 4, "12345"}, {-1234, 4, "-1234"},   {0, 0, "0"},
      {0, 1, "0"},         {7, 10, "         7"}, {-2147483648LL, 4, "-2147483648"},
  };
  for (const auto& [number, width, text] : cases)
    EXPECT_EQ(PadLeft(number, width), Q(text)) << number << " " << width;
}

TEST(OffsetHex, EightDigitsWhileTheOffsetFits32BitsThenAllDigitsInFours) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0000.0000"},
      {0x0078220A, "0078.220A"},
      {0x3C2974, "003C.2974"},
      {0xABCDEF, "00AB.CDEF"},
      {0x80000000LL, "8000.0000"},
      {0xFFFFFFFFLL, "FFFF.FFFF"},
      {0x100000000LL, "1.0000.0000"},
      {0x123456789ABCLL, "1234.5678.9ABC"},
      {0x8E1BC9BF040000LL, "8E.1BC9.BF04.0000"},
      {INT64_MAX, "7FFF.FFFF.FFFF.FFFF"},
      // A pointer dragged left of an image gives negative offsets: their 32-bit pattern.
      {-1, "FFFF.FFFF"},
      {-16, "FFFF.FFF0"},
      {INT32_MIN, "8000.0000"},
  };
  for (const auto& [offset, text] : cases)
    EXPECT_EQ(OffsetHex(offset), Q(text)) << offset;
}

} // namespace
