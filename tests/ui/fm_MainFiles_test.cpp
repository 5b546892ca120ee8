#include "GzipFile.h"
#include "QtPrinters.h"
#include "data/Layout.h"
#include "data/TestFiles.h"
#include "data/VxDataMgr.h"
#include "ui/ErrorReport.h"
#include "ui/FileNote.h"
#include "ui/ImageWidget.h"
#include "ui/MainWindowFixture.h"
#include "ui/fm_Main.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QTimer>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

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
    Control<QLineEdit>("ed_VoxelsPerRow")->setText(QStringLiteral("5"));
    Control<QLineEdit>("ed_RowsPerSlice")->setText(QStringLiteral("3"));
    Control<QLineEdit>("ed_SlicesPerVolume")->setText(QStringLiteral("1"));
    Control<QLineEdit>("ed_IntensityMax")->setText(QStringLiteral("255"));
    Window.OpenFileNamed(Dir.MakeFile("slice.raw", bytes));
    RedrawNow();
  }

  static uint32_t KnownSlicePixel(int64_t P) {
    return P < 13 ? testfiles::Grey(10 + 15 * static_cast<int>(P)) : testfiles::LightBlue;
  }

  // A dialog the window has made so far, or none.
  QFileDialog* MadeDialog(const char* Name) {
    return Window.findChild<QFileDialog*>(QString::fromLatin1(Name));
  }

  const TBitmap24& SlicePicture() { return Control<TImageWidget>("img_Slice")->Picture(); }

  testfiles::TTempDir Dir;
  TReportCatcher Reports;
  int DialogRuns = 0;
  QFileDialog* LastDialog = nullptr;
  QString Proposed;
};

// Shown, a dialog has no places bar and no file-type filter: its only lists
// are of the folder's files and its only drop-down is the folder path.
void ExpectNoPlacesBarNorFilter(QFileDialog& Dialog) {
  Dialog.show();
  for (const QAbstractItemView* view : Dialog.findChildren<QAbstractItemView*>()) {
    const bool ofFiles = qobject_cast<const QFileSystemModel*>(view->model()) != nullptr;
    EXPECT_TRUE(ofFiles || !view->isVisible()) << view->metaObject()->className();
  }
  int dropDowns = 0;
  for (const QComboBox* box : Dialog.findChildren<QComboBox*>())
    dropDowns += box->isVisible() ? 1 : 0;
  EXPECT_EQ(dropDowns, 1);
  Dialog.hide();
}

TEST_F(TFileCommandsTest, TheDialogsAreMadeWhenFirstUsedAndSetUpForTheirCommands) {
  EXPECT_EQ(MadeDialog("OpenDialog1"), nullptr);
  EXPECT_EQ(MadeDialog("SaveDialog1"), nullptr);
  OpenThroughDialog("");
  QFileDialog* open = MadeDialog("OpenDialog1");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(LastDialog, open);
  EXPECT_EQ(MadeDialog("SaveDialog1"), nullptr);
  EXPECT_EQ(open->objectName(), QStringLiteral("OpenDialog1"));
  EXPECT_EQ(open->windowTitle(), QStringLiteral("Open an image file"));
  EXPECT_EQ(open->acceptMode(), QFileDialog::AcceptOpen);
  EXPECT_EQ(open->fileMode(), QFileDialog::ExistingFile);
  const auto* openName = open->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(openName, nullptr);
  EXPECT_EQ(openName->text(), QString()) << "the open dialog proposes no name";
  for (const QString& filter : open->nameFilters())
    EXPECT_TRUE(filter.contains(QStringLiteral("(*)"))) << filter.toStdString();

  SaveThroughDialog("");
  QFileDialog* save = MadeDialog("SaveDialog1");
  ASSERT_NE(save, nullptr);
  EXPECT_EQ(LastDialog, save);
  EXPECT_EQ(save->objectName(), QStringLiteral("SaveDialog1"));
  EXPECT_EQ(save->windowTitle(), QStringLiteral("Save Image"));
  EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(save->defaultSuffix(), QStringLiteral("bmp"));
  EXPECT_FALSE(save->testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_EQ(QFileInfo(Proposed).fileName(), QStringLiteral("Untitled.bmp"));

  // Used again, each command runs the dialog it made.
  OpenThroughDialog("");
  EXPECT_EQ(LastDialog, open);
  EXPECT_EQ(MadeDialog("OpenDialog1"), open);
  ExpectNoPlacesBarNorFilter(*open);
  ExpectNoPlacesBarNorFilter(*save);
}

TEST_F(TFileCommandsTest, OpeningAMissingFileShowsWhy) {
  OpenThroughDialog(Dir.Path("missing.raw"));
  EXPECT_EQ(DialogRuns, 1);
  EXPECT_EQ(LastDialog, MadeDialog("OpenDialog1"));
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), QStringLiteral("File does not exist"));
  EXPECT_FALSE(DataMgr.IsOpen());
  EXPECT_TRUE(DataMgr.FileName().empty());
}

TEST_F(TFileCommandsTest, OpeningAnotherFileReplacesTheOpenOne) {
  const std::string first = Dir.MakeFile("first.raw", {1, 2, 3});
  const std::string second = Dir.MakeFile("second-with-a-longer-name.raw", {4, 5, 6});
  OpenThroughDialog(first);
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), Q(first));
  EXPECT_EQ(DataMgr.FileName(), first);

  OpenThroughDialog(second);
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), Q(second));
  EXPECT_EQ(DataMgr.FileName(), second);
  // The label sizes itself to the longer text.
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->width(),
            Control<QLabel>("lb_FilePath")->sizeHint().width());

  // A failing open still closes the file that was open.
  OpenThroughDialog(Dir.Path("gone.raw"));
  EXPECT_FALSE(DataMgr.IsOpen());
  EXPECT_TRUE(DataMgr.FileName().empty());
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), QStringLiteral("File does not exist"));
}

// A compressed file's strip says how it decompressed: whole, cut short, or damaged.
TEST_F(TFileCommandsTest, TheStripTellsHowACompressedFileDecompressed) {
  std::vector<uint8_t> data(2'000'000);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<uint8_t>((i * 131 + i / 1000) % 251);
  const std::vector<uint8_t> whole = testfiles::Gzipped(data);
  std::vector<uint8_t> damaged = whole;
  for (size_t i = whole.size() / 2; i < whole.size() / 2 + 32; ++i)
    damaged[i] ^= 0xA5;
  const std::vector<uint8_t> cut(whole.begin(), whole.begin() + std::ssize(whole) / 2);
  const struct {
    const char* Name;
    const std::vector<uint8_t>& Bytes;
    QString Tail;
  } cases[] = {{"whole.raw.gz", whole, QStringLiteral(" (gzip, 2.0 MB decompressed)")},
               {"cut.raw.gz", cut, QStringLiteral(" decompressed, truncated)")},
               {"damaged.raw.gz", damaged, QStringLiteral(" of the file)")}};
  for (const auto& c : cases) {
    const std::string name = Dir.MakeFile(c.Name, c.Bytes);
    OpenThroughDialog(name);
    const QString text = Control<QLabel>("lb_FilePath")->text();
    EXPECT_TRUE(text.startsWith(Q(name) + QStringLiteral(" (gzip, "))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(c.Tail)) << text.toStdString();
  }
  EXPECT_TRUE(
      Control<QLabel>("lb_FilePath")->text().contains(QStringLiteral(", damaged at byte ")));
  // A zstd frame of one raw block asking for a 256 MiB window: sound, but not read.
  const std::string wide = Dir.MakeFile(
      "wide.raw.zst", {0x28, 0xB5, 0x2F, 0xFD, 0x00, 18 << 3, 1 | 4 << 3, 0, 0, 1, 2, 3, 4});
  OpenThroughDialog(wide);
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(),
            Q(wide) + QStringLiteral(" (zstd, 0 bytes decompressed, the frame at byte 0 of the "
                                     "file needs a window over 128 MiB)"));
  const std::pair<int64_t, const char*> sizes[] = {
      {0, "0 bytes"},        {1, "1 byte"},       {999, "999 bytes"},        {1000, "1.0 KB"},
      {999'949, "999.9 KB"}, {999'950, "1.0 MB"}, {1'234'567'890, "1.2 GB"}, {INT64_MAX, "9.2 EB"}};
  for (const auto& [bytes, text] : sizes)
    EXPECT_EQ(SizeText(bytes), text) << bytes;
}

// A long read-through shows its progress; Cancel there leaves no file open and
// says so, and without Cancel the file opens and the dialog goes.
TEST_F(TFileCommandsTest, CancelWhileACompressedFileIsReadLeavesNothingOpen) {
  const std::string name =
      Dir.MakeFile("zeros.raw.gz", testfiles::Gzipped(std::vector<uint8_t>(24 << 20, 0)));
  Window.SetProgressDelay(0);
  for (const bool cancel : {true, false}) {
    int seen = 0;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
      auto* dialog = Window.findChild<QProgressDialog*>("ProgressDialog1");
      if (dialog && !dialog->wasCanceled()) {
        ++seen;
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
        if (cancel)
          dialog->cancel();
      }
    });
    watcher.start(0);
    OpenThroughDialog(name);
    watcher.stop();
    EXPECT_GT(seen, 0);
    EXPECT_EQ(DataMgr.IsOpen(), !cancel);
    EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(),
              cancel ? QStringLiteral("Opening cancelled")
                     : Q(name) + QStringLiteral(" (gzip, 25.2 MB decompressed)"));
    EXPECT_EQ(Window.findChild<QProgressDialog*>("ProgressDialog1"), nullptr);
  }
}

TEST_F(TFileCommandsTest, OpeningLeavesTheParametersAsTheyAre) {
  Control<QLineEdit>("ed_VoxelsPerRow")->setText(QStringLiteral("7"));
  Control<QLineEdit>("ed_IntensityMax")->setText(QStringLiteral("99"));
  OpenThroughDialog(Dir.MakeFile("a.raw", {1}));
  EXPECT_EQ(Control<QLineEdit>("ed_VoxelsPerRow")->text(), QStringLiteral("7"));
  EXPECT_EQ(Control<QLineEdit>("ed_IntensityMax")->text(), QStringLiteral("99"));
  EXPECT_EQ(DataMgr.Dims(0), 7);
  EXPECT_EQ(DataMgr.IntensityMax(), 99);
}

TEST_F(TFileCommandsTest, TheRedrawAfterAnOpenComesThroughTheTimer) {
  Control<QLineEdit>("ed_VoxelsPerRow")->setText(QStringLiteral("2"));
  Control<QLineEdit>("ed_RowsPerSlice")->setText(QStringLiteral("1"));
  Control<QLineEdit>("ed_IntensityMax")->setText(QStringLiteral("255"));
  RedrawNow();
  ASSERT_FALSE(Control<QTimer>("Timer1")->isActive());
  QSignalSpy redraws(&Window, &Tfm_Main::ViewsRedrawn);
  OpenThroughDialog(Dir.MakeFile("two.raw", {40, 200}));
  EXPECT_TRUE(Control<QTimer>("Timer1")->isActive());
  EXPECT_EQ(redraws.count(), 0);
  ASSERT_TRUE(redraws.wait(2000));
  EXPECT_EQ(redraws.count(), 1);
  EXPECT_EQ(testfiles::PixelAt(SlicePicture(), 0, 0), testfiles::Grey(40));
  EXPECT_EQ(testfiles::PixelAt(SlicePicture(), 1, 0), testfiles::Grey(200));
}

TEST_F(TFileCommandsTest, CloseWithNothingOpenStillRedrawsAndPutsTheHintBack) {
  OpenThroughDialog(Dir.Path("missing.raw"));
  ASSERT_EQ(Control<QLabel>("lb_FilePath")->text(), QStringLiteral("File does not exist"));
  RedrawNow();
  QSignalSpy redraws(&Window, &Tfm_Main::ViewsRedrawn);
  Window.mi_CloseClick();
  EXPECT_EQ(redraws.count(), 1); // at once, not through the timer
  EXPECT_FALSE(Control<QTimer>("Timer1")->isActive());
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), DropHint);
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->width(),
            Control<QLabel>("lb_FilePath")->sizeHint().width());
}

TEST_F(TFileCommandsTest, CloseClosesTheFileAndRepaintsWithoutIt) {
  Control<QLineEdit>("ed_VoxelsPerRow")->setText(QStringLiteral("1"));
  Control<QLineEdit>("ed_RowsPerSlice")->setText(QStringLiteral("1"));
  Control<QLineEdit>("ed_IntensityMax")->setText(QStringLiteral("255"));
  Window.OpenFileNamed(Dir.MakeFile("one.raw", {77}));
  RedrawNow();
  ASSERT_EQ(testfiles::PixelAt(SlicePicture(), 0, 0), testfiles::Grey(77));
  Window.mi_CloseClick();
  EXPECT_FALSE(DataMgr.IsOpen());
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), DropHint);
  EXPECT_EQ(testfiles::PixelAt(SlicePicture(), 0, 0), testfiles::LightBlue);
}

TEST_F(TFileCommandsTest, ADropOpensTheFirstNameOnly) {
  const std::string first = Dir.MakeFile("first.raw", {1});
  const std::string second = Dir.MakeFile("second.raw", {2});
  const std::string third = Dir.MakeFile("third.raw", {3});
  RedrawNow();
  Window.DropFileTarget1Drop({first, second, third});
  EXPECT_EQ(DataMgr.FileName(), first);
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), Q(first));
  EXPECT_TRUE(Control<QTimer>("Timer1")->isActive());

  // The names after the first are not tried when the first one fails.
  Window.DropFileTarget1Drop({Dir.Path("missing.raw"), second});
  EXPECT_FALSE(DataMgr.IsOpen());
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), QStringLiteral("File does not exist"));
}

TEST_F(TFileCommandsTest, AnEmptyDropDoesNothing) {
  const std::string path = Dir.MakeFile("kept.raw", {1});
  Window.DropFileTarget1Drop({path});
  RedrawNow();
  QSignalSpy pushes(&Window, &Tfm_Main::ParametersPushed);
  Window.DropFileTarget1Drop({});
  EXPECT_EQ(DataMgr.FileName(), path);
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), Q(path));
  EXPECT_FALSE(Control<QTimer>("Timer1")->isActive());
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
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), Q(path));
  EXPECT_FALSE(Control<QTimer>("Timer1")->isActive());
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
  EXPECT_EQ(LastDialog, MadeDialog("SaveDialog1"));
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
  Control<QLineEdit>("ed_RowsPerSlice")->setText(QStringLiteral("0"));
  RedrawNow();
  ASSERT_FALSE(Control<TImageWidget>("img_Slice")->HasPicture());
  SaveThroughDialog(Dir.Path("empty-slice.bmp"));
  EXPECT_EQ(DialogRuns, 2);
  EXPECT_TRUE(FolderEntries(Dir.Root()).empty());
  EXPECT_TRUE(Reports.Texts.isEmpty());
}

TEST_F(TFileCommandsTest, AFailedSaveIsReportedAndChangesNothingElse) {
  RenderKnownSlice();
  const QString label = Control<QLabel>("lb_FilePath")->text();
  const std::string target = Dir.Path("no-such-folder/view.bmp");
  QSignalSpy pushes(&Window, &Tfm_Main::ParametersPushed);
  QSignalSpy redraws(&Window, &Tfm_Main::ViewsRedrawn);
  SaveThroughDialog(target);
  ASSERT_EQ(Reports.Texts.size(), 1);
  EXPECT_TRUE(Reports.Texts[0].contains(QDir::toNativeSeparators(Q(target))))
      << Reports.Texts[0].toStdString();
  EXPECT_FALSE(QFileInfo::exists(Q(target)));
  EXPECT_TRUE(DataMgr.IsOpen());
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), label);
  EXPECT_FALSE(Control<QTimer>("Timer1")->isActive());
  EXPECT_EQ(pushes.count(), 0);
  EXPECT_EQ(redraws.count(), 0);
  testfiles::ExpectPixels(SlicePicture(), KnownSlicePixel, "img_Slice after the failure");
}

// The header names the data file where it lies, in the layout shown; the
// dialog proposes the data file's name with the type's extension, and no
// answer, not even the data file's own name or a link to it, writes the data.
TEST_F(TFileCommandsTest, SaveLayoutWritesAHeaderAndNeverTheDataFile) {
  const std::string data =
      Dir.MakeFile("scan\xff.raw", std::vector<uint8_t>(40 + 6 * 4 * 2 * 3 * 2, 5));
  std::filesystem::create_symlink(data, Dir.Path("link.nhdr"));
  std::filesystem::create_directory(Dir.Path("folder.mhd"));
  Window.OpenFileNamed(data);
  Window.ApplyLayout({40, 6, 4, 3, vtUInt16, boBigEndian});
  AnswerDialogsWith("");
  Window.mi_SaveLayoutClick();
  ASSERT_NE(LastDialog, nullptr);
  EXPECT_EQ(LastDialog->objectName(), QStringLiteral("SaveLayoutDialog1"));
  EXPECT_EQ(Proposed, QFile::decodeName(QByteArray::fromStdString(Dir.Path("scan\xff.nhdr"))));
  EXPECT_EQ(LastDialog->nameFilters().size(), 3);
  LastDialog->selectNameFilter(LastDialog->nameFilters()[1]);
  emit LastDialog->filterSelected(LastDialog->nameFilters()[1]);
  EXPECT_TRUE(LastDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                  ->text()
                  .endsWith(QStringLiteral(".mhd")));
  const QByteArray before = ReadAll(Q(data));
  for (const std::string& refused : {data, Dir.Path("link.nhdr"), Dir.Path("folder.mhd")}) {
    AnswerDialogsWith(refused);
    Window.mi_SaveLayoutClick();
  }
  EXPECT_EQ(Reports.Texts.size(), 3) << Reports.Texts.join(u'\n').toStdString();
  EXPECT_EQ(ReadAll(Q(data)), before);
  AnswerDialogsWith(Dir.Path("<b>a&amp;.mhd"));
  Window.mi_SaveLayoutClick();
  EXPECT_EQ(ReadAll(Q(Dir.Path("<b>a&amp;.mhd"))),
            QByteArray("ObjectType = Image\nNDims = 4\nDimSize = 6 4 3 2\nElementType = "
                       "MET_USHORT\nBinaryData = True\nBinaryDataByteOrderMSB = True\n"
                       "HeaderSize = 40\nElementDataFile = scan\xff.raw\n"));
  EXPECT_EQ(Reports.Texts.size(), 3) << Reports.Texts.join(u'\n').toStdString();
  // The proposal taken as it stands keeps the bytes of the data file's name,
  // with the extension of the type chosen last.
  Window.SetDialogRunner([](QFileDialog&) { return true; });
  Window.mi_SaveLayoutClick();
  EXPECT_TRUE(std::filesystem::exists(Dir.Path("scan\xff.mhd")));
  Window.ApplyLayout({40, 6, 4, 3, vtFloat16, boBigEndian});
  AnswerDialogsWith(Dir.Path("half.nhdr"));
  Window.mi_SaveLayoutClick();
  ASSERT_EQ(Reports.Texts.size(), 4);
  EXPECT_TRUE(Reports.Texts[3].contains(QStringLiteral("float16")))
      << Reports.Texts[3].toStdString();
  EXPECT_FALSE(QFileInfo::exists(Q(Dir.Path("half.nhdr"))));
}

// The picture's new file would take the place of the chosen one: a pipe, a
// device or the open volume itself is refused and stays as it was.
TEST_F(TFileCommandsTest, SavingOverAPipeOrTheOpenFileIsRefused) {
  RenderKnownSlice();
  const std::string pipe = Dir.Path("pipe.bmp");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::string volume = Dir.Path("slice.raw");
  const QByteArray before = ReadAll(Q(volume));
  for (const std::string& target : {pipe, volume}) {
    SaveThroughDialog(target);
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
  }
  EXPECT_EQ(ReadAll(Q(volume)), before);
  ASSERT_EQ(Reports.Texts.size(), 2);
  EXPECT_TRUE(Reports.Texts[0].contains(QStringLiteral("not a regular file")));
  EXPECT_TRUE(Reports.Texts[1].contains(QStringLiteral("the data file itself")));
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

// Runs the real dialog: Act is called once it shows, and the dialog's answer
// is returned. A dialog still open after five seconds is cancelled.
bool ExecWhileDoing(QFileDialog& Dialog, const std::function<void()>& Act) {
  QTimer::singleShot(0, &Dialog, Act);
  QTimer::singleShot(5000, &Dialog, &QDialog::reject);
  return Dialog.exec() == QDialog::Accepted;
}

// Every visible window but the main one.
QStringList StrayWindows(const QWidget& Main) {
  QStringList stray;
  for (const QWidget* window : QApplication::topLevelWidgets())
    if (window != &Main && window->isVisible())
      stray << QString::fromLatin1(window->metaObject()->className());
  return stray;
}

// The files that were opened in a folder, by their inotify events.
class TOpenWatch {
public:
  explicit TOpenWatch(const std::string& Folder)
      : FHandle(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_GE(::inotify_add_watch(FHandle, Folder.c_str(), IN_OPEN), 0);
  }
  ~TOpenWatch() { ::close(FHandle); }
  TOpenWatch(const TOpenWatch&) = delete;
  TOpenWatch& operator=(const TOpenWatch&) = delete;

  std::vector<std::string> OpenedFiles() const {
    std::vector<std::string> names;
    alignas(inotify_event) char events[4096];
    ssize_t size = 0;
    while ((size = ::read(FHandle, events, sizeof events)) > 0)
      for (ssize_t at = 0; at < size;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        if (event->len > 0 && !(event->mask & IN_ISDIR))
          names.emplace_back(event->name);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    return names;
  }

private:
  int FHandle;
};

// The icons and type names of a listing come from names and kinds only: no
// file of the folder is opened, so files that never answer cannot stall it.
TEST_F(TFileCommandsTest, TheDialogsListAFolderWithoutOpeningItsFiles) {
  const std::string folder = Dir.Path("listed");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::vector<std::string> fifos{folder + "/pipe-1", folder + "/pipe-2"};
  for (const std::string& fifo : fifos)
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Names that say nothing of their content, so only reading could type them.
  Dir.MakeFile("listed/scan", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
  Dir.MakeFile("listed/volume", {'%', 'P', 'D', 'F', '-', '1', '.', '4'});
  ASSERT_EQ(::mkdir((folder + "/sub").c_str(), 0700), 0);

  const TOpenWatch watch(folder);
  Window.SetDialogRunner([&](QFileDialog& Dialog) {
    auto* model = Dialog.findChild<QFileSystemModel*>();
    EXPECT_NE(model, nullptr);
    if (model == nullptr)
      return false;
    QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
    Dialog.setDirectory(Q(folder));
    Dialog.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return loaded.contains({Q(folder)}); }, 5000))
        << Dialog.objectName().toStdString();
    Dialog.hide();
    return false;
  });
  Window.mi_OpenClick();
  Window.mi_SaveImageClick();
  EXPECT_EQ(watch.OpenedFiles(), std::vector<std::string>{});
  // A reader left waiting on a pipe would hold the dialogs' end: let it go.
  for (const std::string& fifo : fifos) {
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    EXPECT_LT(writer, 0) << "something waits to read " << fifo;
    if (writer >= 0)
      ::close(writer);
  }
}

// A name typed into a dialog opens the completer's list of matching names;
// Enter then closes the dialog, and the list must go with it, every time.
TEST_F(TFileCommandsTest, NothingOfADialogStaysOnScreenAfterItCloses) {
  Dir.MakeFile("view-1.bmp", {1});
  Dir.MakeFile("view-2.bmp", {2});
  bool listShown = false;
  Window.SetDialogRunner([&](QFileDialog& Dialog) {
    auto* model = Dialog.findChild<QFileSystemModel*>();
    EXPECT_NE(model, nullptr);
    if (model == nullptr)
      return false;
    Dialog.setDirectory(Q(Dir.Root()));
    // A question about replacing a listed file would wait for ever.
    Dialog.setOption(QFileDialog::DontConfirmOverwrite);
    return ExecWhileDoing(Dialog, [&] {
      EXPECT_TRUE(
          QTest::qWaitFor([&] { return model->rowCount(model->index(Q(Dir.Root()))) == 2; }, 5000));
      QWidget* field = Dialog.focusWidget();
      QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(field, QStringLiteral("view-"));
      listShown = QTest::qWaitFor([&] { return StrayWindows(Window).size() == 2; }, 5000);
      // Accepted while the list is up.
      QMetaObject::invokeMethod(&Dialog, "accept", Qt::DirectConnection);
    });
  });
  for (int use = 1; use <= 2; ++use) {
    SCOPED_TRACE(use);
    listShown = false;
    Window.mi_SaveImageClick();
    EXPECT_TRUE(listShown) << "the dialog and the completer's list";
    QApplication::processEvents();
    EXPECT_EQ(StrayWindows(Window), QStringList{});
  }
}

// Sets an environment variable while it lives.
class TEnvironmentVariable {
public:
  TEnvironmentVariable(const char* Name, const QByteArray& Value)
      : FName(Name)
      , FHadValue(qEnvironmentVariableIsSet(Name))
      , FPrevious(qgetenv(Name)) {
    qputenv(Name, Value);
  }
  ~TEnvironmentVariable() {
    if (FHadValue)
      qputenv(FName, FPrevious);
    else
      qunsetenv(FName);
  }
  TEnvironmentVariable(const TEnvironmentVariable&) = delete;
  TEnvironmentVariable& operator=(const TEnvironmentVariable&) = delete;

private:
  const char* FName;
  bool FHadValue;
  QByteArray FPrevious;
};

// The program keeps no setting: the dialogs neither restore a folder from the
// user's configuration nor write anything there, however they are used.
TEST(FileDialogSettings, NothingIsReadOrWritten) {
  testfiles::TTempDir dir;
  const std::string config = dir.Path("config");
  const std::string remembered = dir.Path("remembered");
  std::filesystem::create_directories(config);
  std::filesystem::create_directories(remembered);
  const std::string stored =
      "[FileDialog]\nlastVisited=file://" + remembered + "\nhistory=file://" + remembered + "\n";
  const std::string storedFile =
      dir.MakeFile("config/QtProject.conf", std::vector<uint8_t>(stored.begin(), stored.end()));
  const std::string picked = dir.MakeFile("picked.raw", {1});
  const TEnvironmentVariable configHome("XDG_CONFIG_HOME", QByteArray::fromStdString(config));
  QString startFolder;
  {
    TVxDataMgr dataMgr;
    Tfm_Main window(dataMgr);
    window.show();
    bool accept = false;
    window.SetDialogRunner([&](QFileDialog& Dialog) {
      if (startFolder.isEmpty())
        startFolder = Dialog.directory().absolutePath();
      const bool saving = Dialog.acceptMode() == QFileDialog::AcceptSave;
      Dialog.selectFile(Q(saving ? dir.Path("saved.bmp") : picked));
      return ExecWhileDoing(Dialog, [&Dialog, accept] {
        QTest::keyClick(Dialog.focusWidget(), accept ? Qt::Key_Return : Qt::Key_Escape);
      });
    });
    for (const bool answer : {false, true}) {
      accept = answer;
      window.mi_OpenClick();
      window.mi_SaveImageClick();
    }
    EXPECT_EQ(dataMgr.FileName(), picked);
  }
  EXPECT_NE(startFolder, Q(remembered));
  EXPECT_EQ(ReadAll(Q(storedFile)), QByteArray::fromStdString(stored));
  std::vector<std::string> configFiles;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(config))
    configFiles.push_back(entry.path().lexically_relative(config).string());
  EXPECT_EQ(configFiles, std::vector<std::string>{"QtProject.conf"});
}

// The dialogs give names as text, with U+FFFD for bytes that are not UTF-8;
// the open command finds the file that shows so, down every folder.
TEST_F(TFileCommandsTest, TheOpenDialogOpensNamesThatAreNotUtf8) {
  Dir.MakeFile("\xFF\xFE.raw", {1});
  std::filesystem::create_directories(Dir.Path("caf\xE9"));
  Dir.MakeFile("caf\xE9/\xFE.raw", {2});
  // These two show alike; the first in byte order is taken.
  Dir.MakeFile("\xFF.raw", {3});
  Dir.MakeFile("\xFE.raw", {4});
  const std::vector<std::pair<std::string, std::string>> cases{
      {"\xFF\xFE.raw", "\xFF\xFE.raw"},
      {"caf\xE9/\xFE.raw", "caf\xE9/\xFE.raw"},
      {"\xFF.raw", "\xFE.raw"},
  };
  for (const auto& names : cases) {
    const std::string& chosen = names.first;
    const std::string& opened = names.second;
    SCOPED_TRACE(opened);
    Window.SetDialogRunner([&](QFileDialog& Dialog) {
      Dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(Dir.Path(chosen))));
      return true;
    });
    Window.mi_OpenClick();
    EXPECT_TRUE(DataMgr.IsOpen());
    EXPECT_EQ(DataMgr.FileName(), Dir.Path(opened));
  }
}

} // namespace
