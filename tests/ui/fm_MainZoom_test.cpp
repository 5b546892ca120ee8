#include "QtPrinters.h"
#include "data/TestFiles.h"
#include "data/Zoom.h"
#include "data/ZoomModel.h"
#include "ui/ImageWidget.h"
#include "ui/MainWindowFixture.h"

#include <QAction>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <random>

namespace {

int Step(const char* Name) {
  return *zoom::ParseStep(Name);
}

class TZoomTest : public TMainWindowTest {
protected:
  // A file of random bytes in the given layout of bytes, redrawn.
  void OpenRandom(int Width, int Height, int Slices) {
    std::mt19937 random(5);
    std::vector<uint8_t> bytes(static_cast<size_t>(Width * Height * (Slices + 1)));
    for (uint8_t& byte : bytes)
      byte = static_cast<uint8_t>(random());
    SetDims(Width, Height, Slices);
    Control<QLineEdit>("ed_IntensityMax")->setText(QStringLiteral("255"));
    Window.OpenFileNamed(Dir.MakeFile("v.raw", bytes));
    RedrawNow();
  }

  void SetDims(int Width, int Height, int Slices) {
    Control<QLineEdit>("ed_VoxelsPerRow")->setText(QString::number(Width));
    Control<QLineEdit>("ed_RowsPerSlice")->setText(QString::number(Height));
    Control<QLineEdit>("ed_SlicesPerVolume")->setText(QString::number(Slices));
  }

  TImageWidget* Image(int View) {
    static const char* const names[] = {"img_Slice", "img_NextSlice", "img_CrossSliceView",
                                        "img_OtherVolume"};
    return Control<TImageWidget>(names[View]);
  }

  QFrame* Panel(int View) {
    static const char* const names[] = {"pa_Slice", "pa_NextSlice", "pa_CrossSliceView",
                                        "pa_OtherVolume"};
    return Control<QFrame>(names[View]);
  }

  QScrollArea* ViewArea() { return Control<QScrollArea>("ScrollBox_Bottom"); }

  // Turns the wheel over Image at At, as the window system delivers it.
  static bool Wheel(QWidget* Image, QPoint At, int Delta, Qt::KeyboardModifiers Keys) {
    QWheelEvent event(At, Image->mapToGlobal(At), QPoint(), QPoint(0, Delta), Qt::NoButton, Keys,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(Image, &event);
    return event.isAccepted();
  }

  testfiles::TTempDir Dir;
};

TEST_F(TZoomTest, TheViewMenuSitsBetweenFileAndHelp) {
  QStringList menus, items;
  for (const QAction* action : Window.menuBar()->actions())
    menus << action->text();
  for (const QAction* action : Control<QMenu>("mh_View")->actions())
    items << action->text();
  EXPECT_EQ(menus, QStringList({"&File", "&View", "&Help"}));
  EXPECT_EQ(items, QStringList({"Zoom &In", "Zoom &Out", "&Actual Size", "Zoom to &Fit", "",
                                "&Histogram"}));
}

// All four views at every step: the 1:1 picture scaled as the model has it,
// the frames around the images and the panels around the frames by the rule
// of 1:1 applied to the zoomed size.
TEST_F(TZoomTest, EveryStepShowsTheOneToOnePicturesScaledAndLaysOutAroundThem) {
  OpenRandom(37, 23, 11);
  for (int step = 0; step < zoom::ZoomStepCount; ++step) {
    Window.SetZoomStep(step);
    ASSERT_EQ(Window.ZoomStep(), step);
    const zoom::TZoomStep s = zoom::ZoomSteps[step];
    int left = 0;
    for (int view = 0; view < ViewKindCount; ++view) {
      SCOPED_TRACE(testing::Message() << "step " << zoom::StepName(step) << " view " << view);
      TImageWidget* image = Image(view);
      const testfiles::TZoomedModel model = testfiles::ZoomModel(image->Picture(), s.Up, s.Down);
      ASSERT_EQ(image->geometry(), QRect(23, 57, model.Width, model.Height));
      const QImage shown = image->grab().toImage();
      int wrong = 0;
      for (int y = 0; y < model.Height; ++y)
        for (int x = 0; x < model.Width; ++x)
          wrong += (shown.pixel(x, y) & 0xFFFFFF) != model.At(x, y);
      EXPECT_EQ(wrong, 0);
      EXPECT_EQ(Control(("border_" + std::string(view == 0   ? "Slice"
                                                 : view == 1 ? "NextSlice"
                                                 : view == 2 ? "CrossSliceView"
                                                             : "OtherVolume"))
                            .c_str())
                    ->geometry(),
                image->geometry().adjusted(-2, -2, 2, 2));
      const int least = std::max<int>(model.Width, 185);
      EXPECT_GE(Panel(view)->width(), least + 31);
      EXPECT_LE(Panel(view)->width(), least + 39);
      EXPECT_EQ(Panel(view)->height(), 55 + std::max<int>(model.Height + 4, 160) + 24);
      EXPECT_EQ(Panel(view)->x(), left);
      left += Panel(view)->width();
    }
    EXPECT_EQ(Control<QLabel>("lb_Intensity")->geometry().bottom(), Panel(0)->height() - 5)
        << zoom::StepName(step);
  }
  Window.mi_ActualSizeClick();
  EXPECT_EQ(Image(vkSlice)->geometry(), QRect(23, 57, 37, 23));
  EXPECT_EQ(Panel(vkSlice)->size(), QSize(220, 239));
}

// Real pointer moves: the readout names the voxel whose square holds the
// pointer, its value included, on either side of a block edge.
TEST_F(TZoomTest, TheReadoutNamesTheVoxelUnderThePointerAtBlockEdges) {
  OpenRandom(20, 10, 6);
  const struct {
    const char* Step;
    int View;
    QPoint Pixel;
    const char* Indices;
  } cases[] = {
      {"3", vkSlice, {2, 2}, "[   0,    0,    0,    0 ]"},
      {"3", vkSlice, {3, 2}, "[   1,    0,    0,    0 ]"},
      {"3", vkSlice, {5, 3}, "[   1,    1,    0,    0 ]"},
      {"1/4", vkSlice, {1, 1}, "[   4,    4,    0,    0 ]"},
      {"1/2", vkNextSlice, {3, 0}, "[   6,    0,    1,    0 ]"},
      {"16", vkCrossSlice, {31, 32}, "[   1,    0,    2,    0 ]"},
      {"12", vkOtherVolume, {12, 11}, "[   1,    0,    0,    1 ]"},
  };
  for (const auto& c : cases) {
    Window.SetZoomStep(Step(c.Step));
    ViewArea()->horizontalScrollBar()->setValue(Panel(c.View)->x());
    ViewArea()->verticalScrollBar()->setValue(0);
    QTest::mouseMove(Image(c.View), c.Pixel);
    EXPECT_EQ(Window.StatusPanelText(0), QString::fromLatin1(c.Indices)) << c.Step;
    // The value shown is that of the voxel named, read at 1:1.
    const QString indices = QString::fromLatin1(c.Indices);
    Window.SetZoomStep(zoom::ActualSize);
    const int voxelX = indices.mid(1, 4).trimmed().toInt();
    const int other =
        (c.View == vkCrossSlice ? indices.mid(13, 4) : indices.mid(7, 4)).trimmed().toInt();
    const QString zoomedValue = Window.StatusPanelText(1);
    Window.ImageMouseMove(Image(c.View), voxelX, other);
    EXPECT_EQ(Window.StatusPanelText(1), zoomedValue) << c.Step;
  }
}

// Ctrl + wheel zooms about the point under the pointer: wherever the scroll
// bars can follow, the pointer stays over the voxel it was over, or within
// the block of a shrunk view. The wheel alone is left to the view area.
TEST_F(TZoomTest, CtrlWheelZoomsAboutThePointerAndThePlainWheelIsLeftToScroll) {
  OpenRandom(256, 256, 256);
  QWidget* viewport = ViewArea()->viewport();
  const QScrollBar* across = ViewArea()->horizontalScrollBar();
  const QScrollBar* down = ViewArea()->verticalScrollBar();
  TImageWidget* image = Image(vkNextSlice);
  const QPoint onScreen = image->mapTo(viewport, QPoint(101, 83));
  const struct {
    int Delta;
    const char* Step;
  } turns[] = {{120, "2"},  {240, "4"},    {60, "4"},      {60, "6"},    {-120, "4"},
               {-360, "1"}, {-120, "1/2"}, {-1200, "1/8"}, {120, "1/4"}, {360, "2"}};
  int followed = 0;
  for (const auto& turn : turns) {
    const int stepBefore = Window.ZoomStep();
    QPoint under = image->mapFrom(viewport, onScreen);
    Window.ImageMouseMove(image, under.x(), under.y());
    const QString before = Window.StatusPanelText(0);
    EXPECT_TRUE(Wheel(image, image->mapFrom(viewport, onScreen), turn.Delta, Qt::ControlModifier));
    ASSERT_EQ(zoom::StepName(Window.ZoomStep()), turn.Step) << turn.Delta;
    for (int view = 0; view < ViewKindCount; ++view)
      EXPECT_EQ(Image(view)->ZoomStep(), Window.ZoomStep());
    under = image->mapFrom(viewport, onScreen);
    Window.ImageMouseMove(image, under.x(), under.y());
    const QString after = Window.StatusPanelText(0);
    const bool free = across->value() > 0 && across->value() < across->maximum() &&
                      down->value() > 0 && down->value() < down->maximum();
    if (!free)
      continue;
    ++followed;
    const int slack =
        std::max(zoom::ZoomSteps[stepBefore].Down, zoom::ZoomSteps[Window.ZoomStep()].Down);
    for (const int at : {1, 7})
      EXPECT_LT(std::abs(after.mid(at, 4).trimmed().toInt() - before.mid(at, 4).trimmed().toInt()),
                slack)
          << before.toStdString() << " became " << after.toStdString() << " at " << turn.Step;
  }
  EXPECT_GE(followed, 4);
  // Left unaccepted, the event goes on from the image to the scroll area.
  EXPECT_FALSE(Wheel(Image(vkSlice), QPoint(5, 5), -120, Qt::NoModifier));
  EXPECT_EQ(zoom::StepName(Window.ZoomStep()), "2");
}

TEST_F(TZoomTest, FitIsTheLargestStepAtWhichTheFirstViewFits) {
  const QSize dims[] = {{40, 30}, {256, 256}, {1000, 50}, {30, 1000}, {3, 2}, {0, 0}};
  for (const QSize& size : dims) {
    SetDims(size.width(), size.height(), 7);
    Window.mi_ZoomFitClick();
    const int step = Window.ZoomStep();
    const QSize room = ViewArea()->viewport()->size();
    EXPECT_LE(Panel(vkSlice)->width(), room.width())
        << size.width() << "x" << size.height() << " at " << zoom::StepName(step);
    EXPECT_LE(Panel(vkSlice)->height(), room.height()) << size.width() << "x" << size.height();
    if (step + 1 < zoom::ZoomStepCount) {
      Window.SetZoomStep(step + 1);
      EXPECT_TRUE(Panel(vkSlice)->width() > room.width() ||
                  Panel(vkSlice)->height() > room.height())
          << size.width() << "x" << size.height() << " fits at " << zoom::StepName(step + 1)
          << " too";
    }
  }
  Control<QTimer>("Timer1")->stop();
}

// No file, the largest dimensions and none at all: no crash, and a step at
// which a view would pass 2 GiB stops at the largest that fits.
TEST_F(TZoomTest, BadInputStopsTheZoomWhereItFits) {
  SetDims(10000, 10000, 10000);
  Control<QTimer>("Timer1")->stop(); // four 300 MB views are not the point here
  Window.SetZoomStep(Step("16"));
  EXPECT_EQ(zoom::StepName(Window.ZoomStep()), "2");
  Window.mi_ZoomInClick();
  EXPECT_EQ(zoom::StepName(Window.ZoomStep()), "2");
  EXPECT_EQ(Image(vkCrossSlice)->size(), QSize(20000, 20000));
  Window.SetZoomStep(Step("16"));
  SetDims(10000, 5, 3000); // at 4 the cross-slice view takes 1.44 GB, at 6 3.24 GB
  Control<QTimer>("Timer1")->stop();
  Window.SetZoomStep(Step("16"));
  EXPECT_EQ(zoom::StepName(Window.ZoomStep()), "4");
  SetDims(0, 0, 0);
  RedrawNow();
  for (int turn = 0; turn < 12; ++turn)
    Wheel(Image(vkSlice), QPoint(0, 0), 120, Qt::ControlModifier);
  EXPECT_EQ(zoom::StepName(Window.ZoomStep()), "16");
  Window.mi_ZoomOutClick();
  Window.mi_ZoomFitClick();
  EXPECT_EQ(Image(vkSlice)->size(), QSize(0, 0));
}

TEST_F(TZoomTest, SaveImageOneStillSavesTheOneToOnePicture) {
  OpenRandom(9, 7, 2);
  Window.SetZoomStep(Step("4"));
  const std::string path = Dir.Path("saved.bmp");
  Window.SetDialogRunner([&](QFileDialog& Dialog) {
    Dialog.selectFile(QString::fromStdString(path));
    return true;
  });
  Window.mi_SaveImageClick();
  const QImage saved(QString::fromStdString(path));
  const TBitmap24& shown = Image(vkSlice)->Picture();
  ASSERT_EQ(saved.size(), QSize(9, 7));
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(saved.pixel(x, y) & 0xFFFFFF, testfiles::PixelAt(shown, x, y));
}

// The window's start-up step, as the command line gives it: the views show
// from their top-left corner, wherever the view area was scrolled to.
TEST_F(TZoomTest, TheStepChosenBeforeTheFirstRedrawHolds) {
  ViewArea()->horizontalScrollBar()->setValue(100);
  Window.SetZoomStep(Step("1/4"));
  RedrawNow();
  EXPECT_EQ(Image(vkSlice)->size(), QSize(64, 64));
  EXPECT_EQ(Panel(vkSlice)->size(), QSize(220, 239));
  Window.SetZoomStep(Step("8"));
  ViewArea()->verticalScrollBar()->setValue(300);
  Window.SetZoomStep(Step("6"));
  EXPECT_EQ(Image(vkSlice)->size(), QSize(1536, 1536));
  EXPECT_EQ(ViewArea()->horizontalScrollBar()->value(), 0);
  EXPECT_EQ(ViewArea()->verticalScrollBar()->value(), 0);
}

} // namespace
