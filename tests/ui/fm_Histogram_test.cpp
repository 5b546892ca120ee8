#include "QtPrinters.h"
#include "data/TestFiles.h"
#include "ui/HistogramPlot.h"
#include "ui/MainWindowFixture.h"
#include "ui/fm_Histogram.h"

#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace {

class THistogramTest : public TMainWindowTest {
protected:
  THistogramTest() { ControlOf<QAction>(Window, "mi_Histogram")->trigger(); }

  Tfm_Histogram& Histogram() { return *Control<Tfm_Histogram>("fm_Histogram"); }
  THistogramPlot& Plot() { return *Histogram().img_Histogram; }
  QLineEdit* Edit(const char* Name) { return Control<QLineEdit>(Name); }

  // Opens Values as one slice of Width voxels a row and redraws it.
  void ShowSlice(TVoxelType Type, const std::vector<double>& Values, int Width, int Rows) {
    std::vector<uint8_t> bytes;
    for (const double value : Values)
      testfiles::AppendVoxel(bytes, Type, boLittleEndian, value);
    Window.EnterNumber(Tfm_Main::TNumberEdit::VoxelsPerRow, QString::number(Width));
    Window.EnterNumber(Tfm_Main::TNumberEdit::RowsPerSlice, QString::number(Rows));
    Window.EnterNumber(Tfm_Main::TNumberEdit::SlicesPerVolume, QStringLiteral("1"));
    Window.SelectDataType(Type);
    Window.OpenFileNamed(Dir.MakeFile(std::to_string(Files++) + ".raw", bytes));
    RedrawNow();
  }

  // A left-button drag on the plot, through real mouse events.
  void Drag(double FromX, int ToX) {
    const int y = THistogramPlot::Margin + THistogramPlot::BarsHeight / 2;
    const QPoint from(static_cast<int>(std::lround(FromX)), y);
    QTest::mousePress(&Plot(), Qt::LeftButton, {}, from);
    QTest::mouseMove(&Plot(), QPoint((from.x() + ToX) / 2, y));
    QTest::mouseMove(&Plot(), QPoint(ToX, y));
    QTest::mouseRelease(&Plot(), Qt::LeftButton, {}, QPoint(ToX, y));
  }

  testfiles::TTempDir Dir;
  int Files = 0;
};

TEST_F(THistogramTest, OpensFromTheViewMenuAndHidesOnClose) {
  QStringList menus;
  for (QAction* menu : Window.menuBar()->actions())
    menus << menu->text();
  EXPECT_EQ(menus, (QStringList{"&File", "&View", "&Help"}));
  const QPointer<Tfm_Histogram> window = &Histogram();
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isModal());
  EXPECT_EQ(window->Message(), "No file is open.");
  EXPECT_TRUE(window->close());
  ASSERT_FALSE(window.isNull());
  EXPECT_FALSE(window->isVisible());
  ControlOf<QAction>(Window, "mi_Histogram")->trigger();
  EXPECT_EQ(&Histogram(), window.data());
  EXPECT_TRUE(window->isVisible());
}

// A line over the tallest bar stops above it and is marked in the margin,
// so that neither hides the other.
TEST_F(THistogramTest, AWindowLineLeavesTheBarUnderItInView) {
  std::vector<double> values(64 * 64, 0.0);
  values[7] = 200;
  ShowSlice(vtByte, values, 64, 64);
  ASSERT_EQ(Plot().WindowMin(), 0);
  const QImage shot = Plot().grab().toImage();
  const int x = static_cast<int>(std::lround(Plot().XOfValue(0)));
  const int bottom = THistogramPlot::Margin + THistogramPlot::BarsHeight - 1;
  for (const int column : {x - 1, x})
    EXPECT_EQ(shot.pixelColor(column, bottom), QColor(64, 64, 64)) << column;
  EXPECT_NE(shot.pixelColor(x, 2), Plot().palette().window().color());
  EXPECT_EQ(shot.pixelColor(x + 8, 2), Plot().palette().window().color());
}

// Each redraw of the first view is counted; what has no bars says why in words.
TEST_F(THistogramTest, FollowsEveryRedrawAndNamesWhatCannotBePlotted) {
  struct TCase {
    const char* What;
    TVoxelType Type;
    std::vector<double> Values;
    QString Message;
  };
  const TCase cases[] = {
      {"a spread", vtInt16, {-3, 0, 9, 9, 40, 41}, {}},
      {"one value", vtUInt16, {7, 7, 7}, "Every value of this slice is 7."},
      {"one value and a NaN", vtFloat32, {2.5, NAN}, "Every finite value of this slice is 2.5."},
      {"all NaN", vtFloat64, {NAN, NAN}, "Every value of this slice is NaN."},
      {"infinities",
       vtFloat32,
       {NAN, HUGE_VAL},
       "No value of this slice is a finite number: it "
       "holds only NaNs and infinities."},
      {"nothing in the file", vtInt32, {}, "No values of this slice lie in the file."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    ShowSlice(c.Type, c.Values, 4, 4);
    EXPECT_EQ(Histogram().Histogram().Values, static_cast<int64_t>(c.Values.size()));
    EXPECT_EQ(Histogram().Message(), c.Message);
    EXPECT_EQ(Plot().HasBars(), c.Message.isEmpty());
    EXPECT_EQ(Histogram().bt_Percentile->isEnabled(),
              c.Message.isEmpty() ||
                  (c.Message.startsWith("Every") && !c.Message.endsWith("NaN.")));
  }
  Window.mi_CloseClick();
  RedrawNow();
  EXPECT_EQ(Histogram().Message(), "No file is open.");
}

// The count runs while the other views paint, yet it is the first view's:
// a file of two slices that differ, each redraw against a count of the
// first view's buffer itself.
TEST_F(THistogramTest, CountsTheFirstViewWhileTheOthersPaint) {
  std::vector<double> values;
  for (int v = 0; v < 2 * 64 * 64; ++v)
    values.push_back(v < 64 * 64 ? v % 700 : 5000 + v % 300);
  ShowSlice(vtInt32, values, 64, 64);
  for (const char* slice : {"0", "1", "0"}) {
    SCOPED_TRACE(slice);
    Window.EnterNumber(Tfm_Main::TNumberEdit::Slice, slice);
    RedrawNow();
    const THistogram direct =
        ComputeHistogram({DataMgr.ViewBuffer(vkSlice).data(), DataMgr.ViewVoxelCount(vkSlice),
                          vtInt32, boLittleEndian},
                         DataMgr.IntensityMin(), DataMgr.IntensityMax());
    const THistogram& shown = Histogram().Histogram();
    EXPECT_EQ(shown.Values, 64 * 64);
    EXPECT_EQ(shown.Low.SignedValue, slice[0] == '0' ? 0 : 5000);
    EXPECT_EQ(shown.Bins, direct.Bins);
    EXPECT_EQ(shown.Under, direct.Under);
    EXPECT_EQ(shown.Over, direct.Over);
  }
  // Closed, it counts nothing until shown again.
  Histogram().close();
  Window.EnterNumber(Tfm_Main::TNumberEdit::Slice, "1");
  RedrawNow();
  EXPECT_EQ(Histogram().Histogram().Low.SignedValue, 0);
  ControlOf<QAction>(Window, "mi_Histogram")->trigger();
  EXPECT_EQ(Histogram().Histogram().Low.SignedValue, 5000);
}

// Dragging a line types into its edit, so the edit's own check, the push and
// the delayed redraw follow; typing moves the line; the counts follow the redraw.
TEST_F(THistogramTest, DraggingTheLinesTypesIntoTheIntensityEdits) {
  std::vector<double> values;
  for (int v = 0; v < 1024; ++v)
    values.push_back(v);
  Window.EnterNumber(Tfm_Main::TNumberEdit::IntensityMin, "0");
  Window.EnterNumber(Tfm_Main::TNumberEdit::IntensityMax, "1000");
  ShowSlice(vtInt16, values, 32, 32);
  ASSERT_TRUE(Plot().HasBars());
  EXPECT_EQ(Plot().WindowMax(), 1000);

  const int to = THistogramPlot::Margin + 100; // about 200: two values a pixel
  Drag(Plot().XOfValue(0), to);
  const int32_t dragged = Plot().ValueAtX(to);
  EXPECT_NEAR(dragged, 200, 2);
  EXPECT_EQ(Edit("ed_IntensityMin")->text(), QString::number(dragged));
  EXPECT_EQ(DataMgr.IntensityMin(), dragged);
  EXPECT_EQ(Plot().WindowMin(), dragged);
  EXPECT_TRUE(Control<QTimer>("Timer1")->isActive());
  RedrawNow();
  EXPECT_EQ(Histogram().Histogram().Under, dragged);
  EXPECT_EQ(Histogram().Histogram().Over, 1023 - 1000);

  Drag(Plot().XOfValue(1000), THistogramPlot::Margin + THistogramPlot::BarsWidth + 50);
  EXPECT_EQ(Edit("ed_IntensityMax")->text(), "1023");
  // A press away from both lines moves neither.
  Drag(THistogramPlot::Margin + 400, THistogramPlot::Margin + 10);
  EXPECT_EQ(Edit("ed_IntensityMin")->text(), QString::number(dragged));
  EXPECT_EQ(Edit("ed_IntensityMax")->text(), "1023");

  TypeInto(Edit("ed_IntensityMax"), "40");
  EXPECT_EQ(Plot().WindowMax(), 40);
  Window.EnterNumber(Tfm_Main::TNumberEdit::IntensityMax, "-40");
  EXPECT_EQ(Plot().WindowMax(), -40);
  // The line of an end beyond the bars lies at their edge, and drags from there.
  Drag(THistogramPlot::Margin, THistogramPlot::Margin + 256);
  EXPECT_NEAR(Edit("ed_IntensityMax")->text().toInt(), 512, 2);
}

// The button and a double-click write the window that leaves the hot pixels out.
TEST_F(THistogramTest, PercentileWindowFromTheButtonOrADoubleClick) {
  std::vector<double> values;
  for (int v = 0; v < 1000; ++v)
    values.push_back(v);
  values.insert(values.end(),
                {2e9, 2e9, 2e9, 2e9}); // 1004 values: 5 cut at each end, ranks 5 and 998
  ShowSlice(vtInt32, values, 1004, 1);
  Histogram().bt_Percentile->click();
  EXPECT_EQ(Edit("ed_IntensityMin")->text(), "5");
  EXPECT_EQ(Edit("ed_IntensityMax")->text(), "998");
  EXPECT_EQ(DataMgr.IntensityMax(), 998);

  Window.EnterNumber(Tfm_Main::TNumberEdit::IntensityMin, "0");
  Window.EnterNumber(Tfm_Main::TNumberEdit::IntensityMax, "0");
  QTest::mouseDClick(&Plot(), Qt::LeftButton, {}, QPoint(200, 100));
  EXPECT_EQ(Edit("ed_IntensityMin")->text(), "5");
  EXPECT_EQ(Edit("ed_IntensityMax")->text(), "998");
}

} // namespace
