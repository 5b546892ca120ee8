#include "QtPrinters.h"
#include "data/TestFiles.h"
#include "data/VxDataMgr.h"
#include "ui/MainWindowFixture.h"
#include "ui/fm_Main.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <climits>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

class TPresetsTest : public TMainWindowTest {
protected:
  QAction* Item(const char* Name) {
    for (QAction* action : Control<QMenu>("pop_IntensityRange")->actions())
      if (action->objectName() == QLatin1String(Name))
        return action;
    ADD_FAILURE() << "no popup item " << Name;
    return nullptr;
  }

  void Choose(const char* Name) {
    if (QAction* action = Item(Name))
      action->trigger();
  }

  void SelectType(TVoxelType Type) {
    Control<QComboBox>("cb_DataType")->setCurrentIndex(Type);
    Window.ComboChanges();
  }

  void SetEdits(const char* Min, const char* Max) {
    Control<QLineEdit>("ed_IntensityMin")->setText(QString::fromLatin1(Min));
    Control<QLineEdit>("ed_IntensityMax")->setText(QString::fromLatin1(Max));
  }

  // Opens a file of the given voxels as Values.size() x 1 x Slices and redraws slice 0.
  void RenderSlice(TVoxelType Type, const std::vector<double>& Values, int Slices = 1) {
    std::vector<uint8_t> bytes;
    for (double value : Values)
      testfiles::AppendVoxel(bytes, Type, boLittleEndian, value);
    const auto perSlice = static_cast<int>(Values.size()) / Slices;
    Control<QLineEdit>("ed_VoxelsPerRow")->setText(QString::number(perSlice));
    Control<QLineEdit>("ed_RowsPerSlice")->setText(QStringLiteral("1"));
    Control<QLineEdit>("ed_SlicesPerVolume")->setText(QString::number(Slices));
    Control<QLineEdit>("ed_SliceNumber")->setText(QStringLiteral("0"));
    SelectType(Type);
    Window.OpenFileNamed(Dir.MakeFile(std::to_string(Files++) + ".raw", bytes));
    RedrawNow();
  }

  void ExpectWindow(const char* Min, const char* Max, const std::string& What) {
    EXPECT_EQ(Control<QLineEdit>("ed_IntensityMin")->text(), QString::fromLatin1(Min)) << What;
    EXPECT_EQ(Control<QLineEdit>("ed_IntensityMax")->text(), QString::fromLatin1(Max)) << What;
    EXPECT_EQ(DataMgr.IntensityMin(), std::stoll(Min)) << What;
    EXPECT_EQ(DataMgr.IntensityMax(), std::stoll(Max)) << What;
  }

  testfiles::TTempDir Dir;
  int Files = 0;
};

struct TPresetRow {
  const char* Item;
  const char* Window[VoxelTypeCount][2]; // by voxel type: minimum, maximum
};

TEST_F(TPresetsTest, EveryPresetByVoxelType) {
  // Columns: byte, int16, int32, float32, uint16, int8, uint32, int64, uint64, float16, float64.
  const TPresetRow rows[] = {
      {"pi_IR_Full",
       {{"0", "255"},
        {"-32768", "32767"},
        {"-2147483648", "2147483647"},
        {"-10000", "10000"},
        {"0", "65535"},
        {"-128", "127"},
        {"0", "2147483647"},
        {"-2147483648", "2147483647"},
        {"0", "2147483647"},
        {"-65504", "65504"},
        {"-10000", "10000"}}},
      {"pi_IR_Pos",
       {{"0", "255"},
        {"0", "32767"},
        {"0", "2147483647"},
        {"0", "10000"},
        {"0", "65535"},
        {"0", "127"},
        {"0", "2147483647"},
        {"0", "2147483647"},
        {"0", "2147483647"},
        {"0", "65504"},
        {"0", "10000"}}},
      {"pi_IR_0to1",
       {{"0", "1"},
        {"0", "1"},
        {"0", "1"},
        {"0", "1"},
        {"0", "1"},
        {"0", "1"},
        {"0", "1"},
        {"0", "1"},
        {"0", "1"},
        {"0", "1"},
        {"0", "1"}}},
      {"pi_IR_m1to1",
       {{"0", "1"},
        {"-1", "1"},
        {"-1", "1"},
        {"-1", "1"},
        {"0", "1"},
        {"-1", "1"},
        {"0", "1"},
        {"-1", "1"},
        {"0", "1"},
        {"-1", "1"},
        {"-1", "1"}}},
      {"pi_IR_0to255",
       {{"0", "255"},
        {"0", "255"},
        {"0", "255"},
        {"0", "255"},
        {"0", "255"},
        {"0", "127"},
        {"0", "255"},
        {"0", "255"},
        {"0", "255"},
        {"0", "255"},
        {"0", "255"}}},
      {"pi_IR_0to10000",
       {{"0", "255"},
        {"0", "10000"},
        {"0", "10000"},
        {"0", "10000"},
        {"0", "10000"},
        {"0", "127"},
        {"0", "10000"},
        {"0", "10000"},
        {"0", "10000"},
        {"0", "10000"},
        {"0", "10000"}}},
  };
  for (int type = 0; type < VoxelTypeCount; ++type) {
    SelectType(static_cast<TVoxelType>(type));
    ASSERT_EQ(DataMgr.VoxelType(), type);
    for (const TPresetRow& row : rows) {
      SetEdits("123", "456");
      Choose(row.Item);
      ExpectWindow(row.Window[type][0], row.Window[type][1],
                   std::string(row.Item) + " type " + std::to_string(type));
    }
    // No file: the redraw finds 0 everywhere, and "From Selected Slice" takes that.
    RedrawNow();
    SetEdits("123", "456");
    Choose("pi_IR_Selected");
    ExpectWindow("0", "0", "pi_IR_Selected type " + std::to_string(type));
  }
}

TEST_F(TPresetsTest, FromSelectedSliceActsAsApply) {
  RenderSlice(vtFloat32, {7.5, 2.5, 5, 3});
  SetEdits("123", "456");
  Choose("pi_IR_Selected");
  ExpectWindow("2", "8", "From Selected Slice");
  SetEdits("123", "456");
  Control<QPushButton>("bt_UseIntensity")->click();
  ExpectWindow("2", "8", "Apply");
}

struct TApplyCase {
  TVoxelType Type;
  std::vector<double> Values;
  const char* Min;
  const char* Max;
};

TEST_F(TPresetsTest, ApplyRoundsTheSliceRangeHalvesToEven) {
  const double inf = std::numeric_limits<double>::infinity();
  const TApplyCase cases[] = {
      {vtFloat32, {3.5, 1000.49, 500, 7}, "4", "1000"},
      {vtFloat32, {7.5, 2.5, 5, 3}, "2", "8"},
      {vtFloat32, {-0.5, 0.5, 0, 0.25}, "0", "0"},
      {vtFloat32, {-1.5, 1.5, 0, 1}, "-2", "2"},
      {vtFloat32, {-inf, inf, 0, 1}, "-2147483648", "2147483647"},
      {vtFloat32, {-3e9, 3e9, 0, 1}, "-2147483648", "2147483647"},
      {vtInt32, {2147483647, 5, 6, 7}, "5", "2147483647"},
      {vtInt32, {-2147483648.0, 0, 1, 2}, "-2147483648", "2"},
      {vtInt32, {2147483520, 100, 101, 102}, "100", "2147483520"},
      {vtInt16, {-32768, 32767, 0, 1}, "-32768", "32767"},
      {vtByte, {9, 255, 7, 200}, "7", "255"},
      {vtInt8, {-128, 127, 0, 1}, "-128", "127"},
      {vtUInt16, {65535, 3, 4, 5}, "3", "65535"},
      {vtInt64, {-1099511627776.0, 1099511627776.0, 0, 1}, "-2147483648", "2147483647"},
      {vtFloat16, {2.5, 65504, 0, 1}, "0", "65504"},
      {vtFloat64, {-1e300, 7.5, 0.5, 1}, "-2147483648", "8"},
  };
  for (const TApplyCase& c : cases) {
    RenderSlice(c.Type, c.Values);
    SetEdits("123", "456");
    Control<QPushButton>("bt_UseIntensity")->click();
    ExpectWindow(c.Min, c.Max, std::string("Apply ") + c.Min + " " + c.Max);
  }
}

TEST_F(TPresetsTest, ApplyWithNoFileWritesZeros) {
  RedrawNow();
  ASSERT_FALSE(DataMgr.IsOpen());
  Control<QPushButton>("bt_UseIntensity")->click();
  ExpectWindow("0", "0", "no file");
}

TEST_F(TPresetsTest, ApplyOnASliceWithoutPixelsWritesTheLimits) {
  Control<QLineEdit>("ed_RowsPerSlice")->setText(QStringLiteral("0"));
  RedrawNow();
  Control<QPushButton>("bt_UseIntensity")->click();
  ExpectWindow("2147483647", "-2147483648", "0-pixel slice");
}

TEST_F(TPresetsTest, TheMinimumIsWrittenFirstAndOneRedrawFollows) {
  RenderSlice(vtFloat32, {7.5, 2.5, 5, 3});
  SetEdits("0", "256");
  RedrawNow();
  QStringList written;
  QObject::connect(Control<QLineEdit>("ed_IntensityMin"), &QLineEdit::textChanged, &Window,
                   [&](const QString& Text) { written << QStringLiteral("min ") + Text; });
  QObject::connect(Control<QLineEdit>("ed_IntensityMax"), &QLineEdit::textChanged, &Window,
                   [&](const QString& Text) { written << QStringLiteral("max ") + Text; });
  std::vector<std::pair<int32_t, int32_t>> pushed;
  QObject::connect(&Window, &Tfm_Main::ParametersPushed, &Window,
                   [&] { pushed.emplace_back(DataMgr.IntensityMin(), DataMgr.IntensityMax()); });
  QSignalSpy redraws(&Window, &Tfm_Main::ViewsRedrawn);

  Control<QPushButton>("bt_UseIntensity")->click();
  EXPECT_EQ(written, QStringList({"min 2", "max 8"}));
  // The first push still carries the old maximum.
  const std::vector<std::pair<int32_t, int32_t>> expected = {{2, 256}, {2, 8}};
  EXPECT_EQ(pushed, expected);
  EXPECT_TRUE(Control<QTimer>("Timer1")->isActive());
  EXPECT_EQ(redraws.count(), 0);
  ASSERT_TRUE(redraws.wait(2000));
  QTest::qWait(400);
  EXPECT_EQ(redraws.count(), 1);
}

TEST_F(TPresetsTest, OnlyAChangedEditPushes) {
  SetEdits("0", "256");
  RedrawNow();
  QSignalSpy pushes(&Window, &Tfm_Main::ParametersPushed);
  Choose("pi_IR_0to255"); // the minimum is already 0
  EXPECT_EQ(pushes.count(), 1);
  EXPECT_EQ(DataMgr.IntensityMax(), 255);
}

TEST_F(TPresetsTest, ValuesAlreadyShownScheduleNoRedraw) {
  Choose("pi_IR_0to255");
  RedrawNow();
  ASSERT_FALSE(Control<QTimer>("Timer1")->isActive());
  QSignalSpy pushes(&Window, &Tfm_Main::ParametersPushed);
  Choose("pi_IR_0to255");
  EXPECT_EQ(pushes.count(), 0);
  EXPECT_FALSE(Control<QTimer>("Timer1")->isActive());

  // Apply of the range the edits already show: no file gives 0 and 0.
  Control<QPushButton>("bt_UseIntensity")->click();
  RedrawNow();
  ASSERT_EQ(Control<QLineEdit>("ed_IntensityMax")->text(), QStringLiteral("0"));
  pushes.clear();
  Control<QPushButton>("bt_UseIntensity")->click();
  Choose("pi_IR_Selected");
  EXPECT_EQ(pushes.count(), 0);
  EXPECT_FALSE(Control<QTimer>("Timer1")->isActive());
}

TEST_F(TPresetsTest, ApplyUsesTheRangeOfTheLastRedraw) {
  // Slice 0 holds 2.5..7.5, slice 1 holds 3.5..1000.49.
  RenderSlice(vtFloat32, {2.5, 7.5, 3, 4, 3.5, 1000.49, 500, 7}, 2);
  Control<QLineEdit>("ed_SliceNumber")->setText(QStringLiteral("1"));
  ASSERT_TRUE(Control<QTimer>("Timer1")->isActive());
  Control<QPushButton>("bt_UseIntensity")->click();
  ExpectWindow("2", "8", "redraw pending");
  RedrawNow();
  Control<QPushButton>("bt_UseIntensity")->click();
  ExpectWindow("4", "1000", "after the redraw");
}

TEST(WindowEndOf, RoundsHalvesToEvenAndClampsToThe32BitRange) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::pair<float, int32_t> cases[] = {
      {-0.5f, 0},
      {0.5f, 0},
      {0.49999997f, 0},
      {1.5f, 2},
      {2.5f, 2},
      {3.5f, 4},
      {-2.5f, -2},
      {-3.5f, -4},
      {1000.49f, 1000},
      {8388606.5f, 8388606},
      {8388607.5f, 8388608},
      {2147483520.0f, 2147483520},
      {-2147483520.0f, -2147483520},
      {2147483648.0f, INT32_MAX},
      {-2147483648.0f, INT32_MIN},
      {4294967296.0f, INT32_MAX},
      {-1e20f, INT32_MIN},
      {inf, INT32_MAX},
      {-inf, INT32_MIN},
  };
  for (const auto& [value, result] : cases)
    EXPECT_EQ(WindowEndOf(value), result) << value;
}

} // namespace
