#include "GzipFile.h"
#include "QtPrinters.h"
#include "data/Thumbnail.h"
#include "data/VxDataMgr.h"
#include "guess/formats/NiftiSample.h"
#include "platform/FileStream.h"
#include "ui/MainWindowFixture.h"
#include "ui/fm_GuessLayout.h"
#include "ui/fm_Main.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>

namespace {

TLayout LayoutOf(const TVxDataMgr& DataMgr) {
  return {DataMgr.HeaderBytes(), DataMgr.Dims(0),     DataMgr.Dims(1),
          DataMgr.Dims(2),       DataMgr.VoxelType(), DataMgr.ByteOrder()};
}

class TMainGuessTest : public TMainWindowTest {
protected:
  // Runs the menu command; Answer gets the dialog while it is up and must
  // close it. False when no dialog came up.
  bool GuessWith(const std::function<void(Tfm_GuessLayout&)>& Answer) {
    bool shown = false;
    QTimer::singleShot(0, &Window, [&] {
      auto* dialog = qobject_cast<Tfm_GuessLayout*>(QApplication::activeModalWidget());
      if (dialog == nullptr)
        return;
      shown = true;
      CursorWhileShown = QApplication::overrideCursor();
      Answer(*dialog);
      if (dialog->isVisible()) {
        ADD_FAILURE() << "the dialog stayed open";
        dialog->reject();
      }
    });
    Control<QAction>("mi_GuessLayout")->trigger();
    return shown;
  }

  static void Press(Tfm_GuessLayout& Dialog, QDialogButtonBox::StandardButton Which) {
    QTest::mouseClick(Dialog.bb_Buttons->button(Which), Qt::LeftButton);
  }

  testfiles::TTempDir Dir;
  QCursor* CursorWhileShown = nullptr;
};

TEST_F(TMainGuessTest, EnabledExactlyWhileAFileIsOpenWhicheverRoadOpenedIt) {
  const std::string path = Dir.MakeFile("volume\xFF.raw", std::vector<uint8_t>(64, 3));
  Window.SetDialogRunner([&](QFileDialog& Dialog) {
    Dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(path)));
    return true;
  });
  struct TStep {
    const char* What;
    std::function<void()> Act;
    bool Enabled;
  };
  const TStep steps[] = {
      {"start", [] {}, false},
      {"Open", [&] { Window.mi_OpenClick(); }, true},
      {"open fails", [&] { Window.OpenFileNamed(Dir.Path("missing.raw")); }, false},
      {"drop", [&] { Window.DropFileTarget1Drop({path}); }, true},
      {"empty drop", [&] { Window.DropFileTarget1Drop({}); }, true},
      {"Close", [&] { Window.mi_CloseClick(); }, false},
  };
  for (const TStep& step : steps) {
    step.Act();
    for (const char* item : {"mi_GuessLayout", "mi_SaveLayout"})
      EXPECT_EQ(Control<QAction>(item)->isEnabled(), step.Enabled) << step.What << " " << item;
  }
  EXPECT_FALSE(GuessWith([](Tfm_GuessLayout&) {}));
}

// The type or the order alone changes no edit, and must still reach the data
// manager and the views.
TEST_F(TMainGuessTest, AppliedLayoutIsPushedAtOnceAndShownByOneRedraw) {
  const TLayout layouts[] = {{352, 256, 256, 256, vtInt16, boLittleEndian},
                             {352, 256, 256, 256, vtInt16, boBigEndian},
                             {352, 256, 256, 256, vtFloat16, boBigEndian},
                             {0, 10000, 1, 1, vtFloat64, boBigEndian},
                             {32767, 7, 5, 3, vtByte, boLittleEndian}};
  for (const TLayout& layout : layouts) {
    RedrawNow();
    QSignalSpy redrawn(&Window, &Tfm_Main::ViewsRedrawn);
    Window.ApplyLayout(layout);
    EXPECT_EQ(LayoutOf(DataMgr), layout) << LayoutText(layout).toStdString();
    EXPECT_EQ(Control<QLineEdit>("ed_SkipHeader")->text(), QString::number(layout.HeaderBytes));
    EXPECT_EQ(Control<QLineEdit>("ed_SlicesPerVolume")->text(),
              QString::number(layout.SlicesPerVolume));
    EXPECT_EQ(Control<QComboBox>("cb_DataType")->currentIndex(), layout.VoxelType);
    QTest::qWait(450);
    EXPECT_EQ(redrawn.count(), 1) << LayoutText(layout).toStdString();
  }
}

TEST_F(TMainGuessTest, WithoutProposalTheDialogSaysWhyAndNothingChanges) {
  Window.OpenFileNamed(Dir.MakeFile("empty.raw", {}));
  RedrawNow();
  const TLayout before = LayoutOf(DataMgr);
  QString why;
  ASSERT_TRUE(GuessWith([&](Tfm_GuessLayout& Dialog) {
    why = Dialog.lb_Why->text();
    Press(Dialog, QDialogButtonBox::Close);
  }));
  EXPECT_FALSE(why.isEmpty());
  EXPECT_EQ(CursorWhileShown, nullptr); // the wait cursor ends with the guess
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(LayoutOf(DataMgr), before);
  EXPECT_FALSE(Control<QTimer>("Timer1")->isActive());
}

// Needs the reader of self-describing headers in the guesser.
class TGuessEndToEndTest : public TMainGuessTest {};

TEST_F(TGuessEndToEndTest, OkOnTheFirstProposalLaysANiftiFileOut) {
  Window.OpenFileNamed(testfiles::WriteNiftiSample(Dir, "head.nii"));
  RedrawNow();
  QString first;
  ASSERT_TRUE(GuessWith([&](Tfm_GuessLayout& Dialog) {
    if (Dialog.lv_Candidates->topLevelItemCount() > 0)
      first = Dialog.lv_Candidates->topLevelItem(0)->text(0);
    Press(Dialog,
          Dialog.lv_Candidates->isVisible() ? QDialogButtonBox::Ok : QDialogButtonBox::Close);
  }));
  EXPECT_EQ(first, QStringLiteral("352 + 7 x 5 x 3"));
  EXPECT_EQ(LayoutOf(DataMgr), testfiles::NiftiSampleLayout);
  EXPECT_TRUE(Control<QTimer>("Timer1")->isActive());
}

// A detached header stands for its data file: OK opens that file laid out.
TEST_F(TGuessEndToEndTest, OkOnADetachedHeaderOpensItsDataFileLaidOut) {
  const std::string data = Dir.MakeFile("voxels.raw", std::vector<uint8_t>(7 * 5 * 3 * 2, 9));
  const std::string header = "NRRD0004\ntype: short\ndimension: 3\nsizes: 7 5 3\n"
                             "endian: little\nencoding: raw\ndata file: voxels.raw\n";
  Window.OpenFileNamed(Dir.MakeFile("head.nhdr", {header.begin(), header.end()}));
  RedrawNow();
  QString said;
  ASSERT_TRUE(GuessWith([&](Tfm_GuessLayout& Dialog) {
    said = Dialog.lb_Why->text();
    Press(Dialog,
          Dialog.lv_Candidates->isVisible() ? QDialogButtonBox::Ok : QDialogButtonBox::Close);
  }));
  EXPECT_TRUE(said.contains(QString::fromStdString(data))) << said.toStdString();
  EXPECT_EQ(DataMgr.FileName(), data);
  EXPECT_EQ(LayoutOf(DataMgr), (TLayout{0, 7, 5, 3, vtInt16, boLittleEndian}));
}

// The pictures come from the open file, each in the row of its own layout.
TEST_F(TGuessEndToEndTest, EachProposalShowsThePictureOfItsOwnLayout) {
  const std::string path = testfiles::WriteNiftiSample(Dir, "head.nii");
  Window.OpenFileNamed(path);
  std::vector<std::pair<TLayout, QImage>> rows;
  ASSERT_TRUE(GuessWith([&](Tfm_GuessLayout& Dialog) {
    QTreeWidget* list = Dialog.lv_Candidates;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      list->setCurrentItem(list->topLevelItem(row));
      rows.emplace_back(Dialog.Chosen().value_or(TLayout{}),
                        list->topLevelItem(row)->icon(0).pixmap(QSize(96, 96)).toImage());
    }
    Press(Dialog, rows.empty() ? QDialogButtonBox::Close : QDialogButtonBox::Cancel);
  }));
  ASSERT_FALSE(rows.empty());
  platform::TFileStream stream(path);
  for (const auto& [layout, image] : rows) {
    TBitmap24 picture;
    PaintThumbnail(stream, layout, ThumbnailSide, picture);
    const std::string what = LayoutText(layout).toStdString();
    ASSERT_EQ(image.size(), QSize(ThumbnailSide, ThumbnailSide)) << what;
    const int left = (ThumbnailSide - picture.Width()) / 2;
    const int top = (ThumbnailSide - picture.Height()) / 2;
    for (int32_t y = 0; y < picture.Height(); ++y)
      for (int32_t x = 0; x < picture.Width(); ++x) {
        const uint8_t* bgr = picture.ScanLine(y) + 3 * x;
        EXPECT_EQ(image.pixel(left + x, top + y), qRgb(bgr[2], bgr[1], bgr[0])) << what;
      }
  }
}

// A compressed data file read through for the guess shows the progress of
// the open, and Cancel there ends the command with no dialog; the file open
// in the window is not read through again.
TEST_F(TGuessEndToEndTest, ReadingACompressedFileForTheGuessShowsProgressAndCancels) {
  const std::string data =
      Dir.MakeFile("voxels.raw.gz", testfiles::Gzipped(std::vector<uint8_t>(24 << 20, 0)));
  const std::string header = "NRRD0004\ntype: short\ndimension: 3\nsizes: 1024 1024 12\n"
                             "endian: little\nencoding: gzip\ndata file: voxels.raw.gz\n";
  const std::string nhdr = Dir.MakeFile("head.nhdr", {header.begin(), header.end()});
  Window.SetProgressDelay(0);
  struct TCase {
    const std::string& Open;
    bool Cancel;
    bool Progress; // expected
  };
  for (const TCase& c :
       {TCase{nhdr, true, true}, TCase{nhdr, false, true}, TCase{data, false, false}}) {
    Window.OpenFileNamed(c.Open);
    ASSERT_EQ(DataMgr.FileName(), c.Open);
    int progress = 0;
    bool shown = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
      auto* dialog = Window.findChild<QProgressDialog*>("ProgressDialog1");
      if (dialog && !dialog->wasCanceled()) {
        ++progress;
        EXPECT_TRUE(dialog->isVisible());
        if (c.Cancel)
          dialog->cancel();
      }
      if (auto* guess = qobject_cast<Tfm_GuessLayout*>(QApplication::activeModalWidget())) {
        shown = true;
        guess->reject();
      }
    });
    watcher.start(0);
    Control<QAction>("mi_GuessLayout")->trigger();
    watcher.stop();
    EXPECT_EQ(progress > 0, c.Progress) << c.Open;
    EXPECT_EQ(shown, !c.Cancel) << c.Open;
    EXPECT_EQ(Window.findChild<QProgressDialog*>("ProgressDialog1"), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(DataMgr.FileName(), c.Open);
  }
}

} // namespace
