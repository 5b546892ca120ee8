#include "data/TestFiles.h"
#include "data/VxDataMgr.h"
#include "ui/ErrorReport.h"
#include "ui/ImageWidget.h"
#include "ui/MainWindowFixture.h"
#include "ui/fm_Main.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QSignalSpy>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

const QString DropHint = QStringLiteral("Drag an MRI file onto this area");

QString Q(const std::string& Text) {
  return QString::fromStdString(Text);
}

// Collects what would have gone to the unhandled-error box, and puts the
// previous reporter back afterwards.
class TReportCatcher {
public:
  TReportCatcher()
      : FPrevious(SetErrorReporter([this](const QString& Text) { Texts << Text; })) {}
  ~TReportCatcher() { SetErrorReporter(FPrevious); }
  TReportCatcher(const TReportCatcher&) = delete;
  TReportCatcher& operator=(const TReportCatcher&) = delete;

  QStringList Texts;

private:
  TErrorReporter FPrevious;
};

uint32_t LittleEndian(const QByteArray& Bytes, int Offset, int Size) {
  uint32_t value = 0;
  for (int i = Size - 1; i >= 0; --i)
    value = value << 8 | static_cast<uint8_t>(Bytes[Offset + i]);
  return value;
}

QByteArray ReadAll(const QString& Path) {
  QFile file(Path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::vector<std::string> FolderEntries(const std::string& Folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Folder))
    names.push_back(entry.path().filename().string());
  return names;
}

class TFileCommandsTest : public TMainWindowTest {
protected:
  // Every dialog is answered with Path (or cancelled when Path is empty).
  void AnswerDialogsWith(const std::string& Path) {
    Window.SetDialogRunner([this, Path](QFileDialog& Dialog) {
      ++DialogRuns;
      LastDialog = &Dialog;
      Proposed = Dialog.selectedFiles().value(0);
      if (Path.empty())
        return false;
      Dialog.selectFile(Q(Path));
      return true;
    });
  }

  void OpenThroughDialog(const std::string& Path) {
    AnswerDialogsWith(Path);
    Window.mi_OpenClick();
  }

  void SaveThroughDialog(const std::string& Path) {
    AnswerDialogsWith(Path);
    Window.mi_SaveImageClick();
  }

  // A 5 x 3 slice of bytes 10, 25, ... 190: 13 voxels in the file, so the
  // last two positions lie beyond it. The window 0..255 shows each value as its own grey.
  void RenderKnownSlice() {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 13; ++i)
      bytes.push_back(static_cast<uint8_t>(10 + 15 * i));
    Window.ed_VoxelsPerRow->setText(QStringLiteral("5"));
    Window.ed_RowsPerSlice->setText(QStringLiteral("3"));
    Window.ed_SlicesPerVolume->setText(QStringLiteral("1"));
    Window.ed_IntensityMax->setText(QStringLiteral("255"));
    Window.OpenFileNamed(Dir.MakeFile("slice.raw", bytes));
    RedrawNow();
  }

  static uint32_t KnownSlicePixel(int64_t P) {
    return P < 13 ? testfiles::Grey(10 + 15 * static_cast<int>(P)) : testfiles::LightBlue;
  }

  const TBitmap24& SlicePicture() { return Control<TImageWidget>("img_Slice")->Picture(); }

  testfiles::TTempDir Dir;
  TReportCatcher Reports;
  int DialogRuns = 0;
  QFileDialog* LastDialog = nullptr;
  QString Proposed;
};

TEST_F(TFileCommandsTest, TheDialogsAreSetUpForTheirCommands) {
  QFileDialog* open = Window.OpenDialog1;
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->objectName(), QStringLiteral("OpenDialog1"));
  EXPECT_EQ(open->windowTitle(), QStringLiteral("Open an image file"));
  EXPECT_EQ(open->acceptMode(), QFileDialog::AcceptOpen);
  EXPECT_EQ(open->fileMode(), QFileDialog::ExistingFile);
  for (const QString& filter : open->nameFilters())
    EXPECT_TRUE(filter.contains(QStringLiteral("(*)"))) << filter.toStdString();

  QFileDialog* save = Window.SaveDialog1;
  ASSERT_NE(save, nullptr);
  EXPECT_EQ(save->objectName(), QStringLiteral("SaveDialog1"));
  EXPECT_EQ(save->windowTitle(), QStringLiteral("Save Image"));
  EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(save->defaultSuffix(), QStringLiteral("bmp"));
  EXPECT_FALSE(save->testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_EQ(QFileInfo(save->selectedFiles().value(0)).fileName(), QStringLiteral("Untitled.bmp"));
}

TEST_F(TFileCommandsTest, OpeningAMissingFileShowsWhy) {
  OpenThroughDialog(Dir.Path("missing.raw"));
  EXPECT_EQ(DialogRuns, 1);
  EXPECT_EQ(LastDialog, Window.OpenDialog1);
  EXPECT_EQ(Window.lb_FilePath->text(), QStringLiteral("File does not exist"));
  EXPECT_FALSE(DataMgr.IsOpen());
  EXPECT_TRUE(DataMgr.FileName().empty());
}

TEST_F(TFileCommandsTest, OpeningAnotherFileReplacesTheOpenOne) {
  const std::string first = Dir.MakeFile("first.raw", {1, 2, 3});
  const std::string second = Dir.MakeFile("second-with-a-longer-name.raw", {4, 5, 6});
  OpenThroughDialog(first);
  EXPECT_EQ(Window.lb_FilePath->text(), Q(first));
  EXPECT_EQ(DataMgr.FileName(), first);

  OpenThroughDialog(second);
  EXPECT_EQ(Window.lb_FilePath->text(), Q(second));
  EXPECT_EQ(DataMgr.FileName(), second);
  // The label sizes itself to the longer text.
  EXPECT_EQ(Window.lb_FilePath->width(), Window.lb_FilePath->sizeHint().width());

  // A failing open still closes the file that was open.
  OpenThroughDialog(Dir.Path("gone.raw"));
  EXPECT_FALSE(DataMgr.IsOpen());
  EXPECT_TRUE(DataMgr.FileName().empty());
  EXPECT_EQ(Window.lb_FilePath->text(), QStringLiteral("File does not exist"));
}

TEST_F(TFileCommandsTest, OpeningLeavesTheParametersAsTheyAre) {
  Window.ed_VoxelsPerRow->setText(QStringLiteral("7"));
  Window.ed_IntensityMax->setText(QStringLiteral("99"));
  OpenThroughDialog(Dir.MakeFile("a.raw", {1}));
  EXPECT_EQ(Window.ed_VoxelsPerRow->text(), QStringLiteral("7"));
  EXPECT_EQ(Window.ed_IntensityMax->text(), QStringLiteral("99"));
  EXPECT_EQ(DataMgr.Dims(0), 7);
  EXPECT_EQ(DataMgr.IntensityMax(), 99);
}

TEST_F(TFileCommandsTest, TheRedrawAfterAnOpenComesThroughTheTimer) {
  Window.ed_VoxelsPerRow->setText(QStringLiteral("2"));
  Window.ed_RowsPerSlice->setText(QStringLiteral("1"));
  Window.ed_IntensityMax->setText(QStringLiteral("255"));
  RedrawNow();
  ASSERT_FALSE(Window.Timer1->isActive());
  QSignalSpy redraws(&Window, &Tfm_Main::ViewsRedrawn);
  OpenThroughDialog(Dir.MakeFile("two.raw", {40, 200}));
  EXPECT_TRUE(Window.Timer1->isActive());
  EXPECT_EQ(redraws.count(), 0);
  ASSERT_TRUE(redraws.wait(2000));
  EXPECT_EQ(redraws.count(), 1);
  EXPECT_EQ(testfiles::PixelAt(SlicePicture(), 0, 0), testfiles::Grey(40));
  EXPECT_EQ(testfiles::PixelAt(SlicePicture(), 1, 0), testfiles::Grey(200));
}

TEST_F(TFileCommandsTest, CloseWithNothingOpenStillRedrawsAndPutsTheHintBack) {
  OpenThroughDialog(Dir.Path("missing.raw"));
  ASSERT_EQ(Window.lb_FilePath->text(), QStringLiteral("File does not exist"));
  RedrawNow();
  QSignalSpy redraws(&Window, &Tfm_Main::ViewsRedrawn);
  Window.mi_CloseClick();
  EXPECT_EQ(redraws.count(), 1); // at once, not through the timer
  EXPECT_FALSE(Window.Timer1->isActive());
  EXPECT_EQ(Window.lb_FilePath->text(), DropHint);
  EXPECT_EQ(Window.lb_FilePath->width(), Window.lb_FilePath->sizeHint().width());
}

TEST_F(TFileCommandsTest, CloseClosesTheFileAndRepaintsWithoutIt) {
  Window.ed_VoxelsPerRow->setText(QStringLiteral("1"));
  Window.ed_RowsPerSlice->setText(QStringLiteral("1"));
  Window.ed_IntensityMax->setText(QStringLiteral("255"));
  Window.OpenFileNamed(Dir.MakeFile("one.raw", {77}));
  RedrawNow();
  ASSERT_EQ(testfiles::PixelAt(SlicePicture(), 0, 0), testfiles::Grey(77));
  Window.mi_CloseClick();
  EXPECT_FALSE(DataMgr.IsOpen());
  EXPECT_EQ(Window.lb_FilePath->text(), DropHint);
  EXPECT_EQ(testfiles::PixelAt(SlicePicture(), 0, 0), testfiles::LightBlue);
}

TEST_F(TFileCommandsTest, ADropOpensTheFirstNameOnly) {
  const std::string first = Dir.MakeFile("first.raw", {1});
  const std::string second = Dir.MakeFile("second.raw", {2});
  const std::string third = Dir.MakeFile("third.raw", {3});
  RedrawNow();
  Window.DropFileTarget1Drop({first, second, third});
  EXPECT_EQ(DataMgr.FileName(), first);
  EXPECT_EQ(Window.lb_FilePath->text(), Q(first));
  EXPECT_TRUE(Window.Timer1->isActive());

  // The names after the first are not tried when the first one fails.
  Window.DropFileTarget1Drop({Dir.Path("missing.raw"), second});
  EXPECT_FALSE(DataMgr.IsOpen());
  EXPECT_EQ(Window.lb_FilePath->text(), QStringLiteral("File does not exist"));
}

TEST_F(TFileCommandsTest, AnEmptyDropDoesNothing) {
  const std::string path = Dir.MakeFile("kept.raw", {1});
  Window.DropFileTarget1Drop({path});
  RedrawNow();
  QSignalSpy pushes(&Window, &Tfm_Main::ParametersPushed);
  Window.DropFileTarget1Drop({});
  EXPECT_EQ(DataMgr.FileName(), path);
  EXPECT_EQ(Window.lb_FilePath->text(), Q(path));
  EXPECT_FALSE(Window.Timer1->isActive());
  EXPECT_EQ(pushes.count(), 0);
}

TEST_F(TFileCommandsTest, CancellingEitherDialogChangesNothing) {
  const std::string path = Dir.MakeFile("kept.raw", {1, 2, 3, 4});
  Window.OpenFileNamed(path);
  RedrawNow();
  QSignalSpy pushes(&Window, &Tfm_Main::ParametersPushed);
  QSignalSpy redraws(&Window, &Tfm_Main::ViewsRedrawn);
  OpenThroughDialog("");
  SaveThroughDialog("");
  EXPECT_EQ(DialogRuns, 2);
  EXPECT_EQ(DataMgr.FileName(), path);
  EXPECT_EQ(Window.lb_FilePath->text(), Q(path));
  EXPECT_FALSE(Window.Timer1->isActive());
  EXPECT_EQ(pushes.count(), 0);
  EXPECT_EQ(redraws.count(), 0);
  EXPECT_EQ(FolderEntries(Dir.Root()), std::vector<std::string>{"kept.raw"});
  EXPECT_TRUE(Reports.Texts.isEmpty());

  // A cancelled save does not take the place of "Untitled.bmp".
  SaveThroughDialog("");
  EXPECT_EQ(QFileInfo(Proposed).fileName(), QStringLiteral("Untitled.bmp"));
}

TEST_F(TFileCommandsTest, SavingUnderAPngNameWritesTheViewAsA24BitBmp) {
  RenderKnownSlice();
  testfiles::ExpectPixels(SlicePicture(), KnownSlicePixel, "img_Slice");

  const std::string path = Dir.Path("view.png");
  SaveThroughDialog(path);
  EXPECT_EQ(LastDialog, Window.SaveDialog1);
  EXPECT_TRUE(Reports.Texts.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(Q(path) + QStringLiteral(".bmp")));
  const QByteArray bmp = ReadAll(Q(path));
  ASSERT_GE(bmp.size(), 54);
  EXPECT_EQ(bmp.left(2), QByteArray("BM"));
  EXPECT_EQ(LittleEndian(bmp, 2, 4), static_cast<uint32_t>(bmp.size()));
  EXPECT_EQ(LittleEndian(bmp, 18, 4), 5u);  // width
  EXPECT_EQ(LittleEndian(bmp, 26, 2), 1u);  // planes
  EXPECT_EQ(LittleEndian(bmp, 28, 2), 24u); // bits per pixel
  EXPECT_EQ(LittleEndian(bmp, 30, 4), 0u);  // no compression
  const auto height = static_cast<int32_t>(LittleEndian(bmp, 22, 4));
  ASSERT_EQ(std::abs(height), 3);
  const uint32_t pixels = LittleEndian(bmp, 10, 4);
  const int stride = 16; // 5 pixels of 3 bytes, padded to a multiple of 4
  ASSERT_GE(bmp.size(), static_cast<qsizetype>(pixels) + 3 * stride);

  const TBitmap24& picture = SlicePicture();
  for (int y = 0; y < 3; ++y) {
    const int fileRow = height > 0 ? 2 - y : y; // positive heights store the bottom row first
    for (int x = 0; x < 5; ++x) {
      const uint32_t stored =
          LittleEndian(bmp, static_cast<int>(pixels) + fileRow * stride + 3 * x, 3);
      EXPECT_EQ(stored, testfiles::PixelAt(picture, x, y)) << x << "," << y;
      EXPECT_EQ(stored, KnownSlicePixel(5 * y + x)) << x << "," << y;
    }
  }
}

TEST_F(TFileCommandsTest, ANameWithoutExtensionGetsBmp) {
  RenderKnownSlice();
  SaveThroughDialog(Dir.Path("plain"));
  EXPECT_FALSE(QFileInfo::exists(Q(Dir.Path("plain"))));
  EXPECT_EQ(ReadAll(Q(Dir.Path("plain.bmp"))).left(2), QByteArray("BM"));
}

TEST_F(TFileCommandsTest, WithoutAPictureNothingIsWritten) {
  ASSERT_FALSE(Control<TImageWidget>("img_Slice")->HasPicture());
  SaveThroughDialog(Dir.Path("before-any-redraw.bmp"));
  // A slice of no rows paints no picture either.
  Window.ed_RowsPerSlice->setText(QStringLiteral("0"));
  RedrawNow();
  ASSERT_FALSE(Control<TImageWidget>("img_Slice")->HasPicture());
  SaveThroughDialog(Dir.Path("empty-slice.bmp"));
  EXPECT_EQ(DialogRuns, 2);
  EXPECT_TRUE(FolderEntries(Dir.Root()).empty());
  EXPECT_TRUE(Reports.Texts.isEmpty());
}

TEST_F(TFileCommandsTest, AFailedSaveIsReportedAndChangesNothingElse) {
  RenderKnownSlice();
  const QString label = Window.lb_FilePath->text();
  const std::string target = Dir.Path("no-such-folder/view.bmp");
  QSignalSpy pushes(&Window, &Tfm_Main::ParametersPushed);
  QSignalSpy redraws(&Window, &Tfm_Main::ViewsRedrawn);
  SaveThroughDialog(target);
  ASSERT_EQ(Reports.Texts.size(), 1);
  EXPECT_TRUE(Reports.Texts[0].contains(QDir::toNativeSeparators(Q(target))))
      << Reports.Texts[0].toStdString();
  EXPECT_FALSE(QFileInfo::exists(Q(target)));
  EXPECT_TRUE(DataMgr.IsOpen());
  EXPECT_EQ(Window.lb_FilePath->text(), label);
  EXPECT_FALSE(Window.Timer1->isActive());
  EXPECT_EQ(pushes.count(), 0);
  EXPECT_EQ(redraws.count(), 0);
  testfiles::ExpectPixels(SlicePicture(), KnownSlicePixel, "img_Slice after the failure");
}

TEST_F(TFileCommandsTest, TheSecondSaveProposesTheLastName) {
  RenderKnownSlice();
  const std::string first = Dir.Path("first.png");
  SaveThroughDialog(first);
  EXPECT_EQ(QFileInfo(Proposed).fileName(), QStringLiteral("Untitled.bmp"));
  SaveThroughDialog(Dir.Path("second.bmp"));
  EXPECT_EQ(Proposed, Q(first));
  SaveThroughDialog("");
  EXPECT_EQ(Proposed, Q(Dir.Path("second.bmp")));
}

TEST_F(TFileCommandsTest, QuitClosesTheFileWithTheWindow) {
  Window.OpenFileNamed(Dir.MakeFile("open.raw", {1}));
  ASSERT_TRUE(DataMgr.IsOpen());
  Window.mi_QuitClick();
  EXPECT_FALSE(Window.isVisible());
  EXPECT_FALSE(DataMgr.IsOpen());
}

TEST_F(TFileCommandsTest, HelpWaitsAboutDoesNot) {
  QWidget about;
  QDialog help;
  Window.SetSecondaryWindows(&about, &help);
  bool helpWasModal = false;
  QTimer::singleShot(0, &help, [&] {
    helpWasModal = help.isVisible() && QApplication::activeModalWidget() == &help;
    help.reject();
  });
  Window.mi_HelpClick(); // returns only after the help window has closed
  EXPECT_TRUE(helpWasModal);
  EXPECT_FALSE(help.isVisible());

  Window.mi_AboutClick();
  EXPECT_TRUE(about.isVisible());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  about.close();
}

} // namespace
