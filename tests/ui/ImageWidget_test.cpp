#include "QtPrinters.h"
#include "data/Zoom.h"
#include "data/ZoomModel.h"
#include "ui/ImageWidget.h"

#include <QDir>
#include <QFile>
#include <QPaintEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

namespace {

// A pattern whose bytes differ in every channel, row and column, so that a
// swapped channel, a flipped row order or a wrong stride all show.
void FillPattern(TBitmap24& Bitmap, int32_t Width, int32_t Height) {
  Bitmap.SetSize(Width, Height);
  for (int32_t y = 0; y < Height; ++y) {
    uint8_t* row = Bitmap.ScanLine(y);
    for (int32_t x = 0; x < Width; ++x) {
      row[3 * x + 0] = static_cast<uint8_t>(10 + 7 * x);  // blue
      row[3 * x + 1] = static_cast<uint8_t>(20 + 11 * y); // green
      row[3 * x + 2] = static_cast<uint8_t>(200 - 5 * x - 3 * y);
    }
    // Padding bytes that must never show up as pixels.
    std::memset(row + 3 * Width, 0xEE, static_cast<size_t>(Bitmap.Stride() - 3 * Width));
  }
}

QRgb PixelOf(const TBitmap24& Bitmap, int32_t X, int32_t Y) {
  const uint8_t* p = Bitmap.ScanLine(Y) + 3 * X;
  return qRgb(p[2], p[1], p[0]);
}

uint32_t LittleEndian(const QByteArray& Bytes, int Offset, int Size) {
  uint32_t value = 0;
  for (int i = Size - 1; i >= 0; --i)
    value = value << 8 | static_cast<uint8_t>(Bytes[Offset + i]);
  return value;
}

QByteArray ReadFile(const QString& Path) {
  QFile file(Path);
  if (!file.open(QIODevice::ReadOnly))
    return QByteArray();
  return file.readAll();
}

TEST(ImageWidget, ShowsTheBitmapUnscaledFromTheTopLeft) {
  TImageWidget image;
  image.resize(12, 9);
  FillPattern(image.Picture(), 5, 4);
  const QImage shown = image.grab().toImage();
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x)
      ASSERT_EQ(shown.pixel(x, y), PixelOf(image.Picture(), x, y)) << x << "," << y;
}

TEST(ImageWidget, ShowsTheBitmapsPresentContent) {
  TImageWidget image;
  image.resize(8, 8);
  image.Picture().SetSize(2, 2);
  std::memset(image.Picture().ScanLine(0), 0, 2 * static_cast<size_t>(image.Picture().Stride()));
  image.Picture().ScanLine(1)[3] = 255; // blue of (1, 1)
  const QImage shown = image.grab().toImage();
  EXPECT_EQ(shown.pixel(1, 1), qRgb(0, 0, 255));
  EXPECT_EQ(shown.pixel(0, 0), qRgb(0, 0, 0));
}

TEST(ImageWidget, PictureImageIsACopy) {
  TImageWidget image;
  FillPattern(image.Picture(), 3, 2);
  const QImage copy = image.PictureImage();
  ASSERT_EQ(copy.size(), QSize(3, 2));
  const QRgb before = copy.pixel(2, 1);
  EXPECT_EQ(before, PixelOf(image.Picture(), 2, 1));
  image.Picture().ScanLine(1)[6] ^= 0xFF;
  EXPECT_EQ(copy.pixel(2, 1), before);
}

TEST(ImageWidget, SavesA24BitBmpWhateverTheExtension) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TImageWidget image;
  const int32_t width = 5, height = 3; // rows of 15 bytes padded to 16
  FillPattern(image.Picture(), width, height);
  const QString path = dir.filePath("view.png");
  QString error;
  ASSERT_TRUE(image.SavePicture(path, &error)) << error.toStdString();

  const QByteArray file = ReadFile(path);
  ASSERT_GE(file.size(), 54);
  EXPECT_EQ(file.left(2), QByteArray("BM"));
  EXPECT_EQ(LittleEndian(file, 18, 4), 5u);  // width
  EXPECT_EQ(LittleEndian(file, 22, 4), 3u);  // height, positive: rows bottom-up
  EXPECT_EQ(LittleEndian(file, 26, 2), 1u);  // planes
  EXPECT_EQ(LittleEndian(file, 28, 2), 24u); // bits per pixel
  EXPECT_EQ(LittleEndian(file, 30, 4), 0u);  // no compression
  const uint32_t pixelsAt = LittleEndian(file, 10, 4);
  ASSERT_EQ(file.size(), static_cast<qsizetype>(pixelsAt) + 16 * height);
  // Each stored row is the bitmap's row, bottom row first, same byte order.
  for (int32_t y = 0; y < height; ++y) {
    const QByteArray stored = file.mid(pixelsAt + 16 * (height - 1 - y), 3 * width);
    const QByteArray expected(reinterpret_cast<const char*>(image.Picture().ScanLine(y)),
                              3 * width);
    EXPECT_EQ(stored, expected) << "row " << y;
  }

  const QImage back(path, "bmp");
  ASSERT_EQ(back.size(), QSize(width, height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      EXPECT_EQ(back.pixel(x, y), PixelOf(image.Picture(), x, y));
}

TEST(ImageWidget, FailedSaveSaysWhy) {
  QTemporaryDir dir;
  TImageWidget image;
  FillPattern(image.Picture(), 2, 2);
  QString error;
  const QString path = dir.filePath("missing/folder/view.bmp");
  EXPECT_FALSE(image.SavePicture(path, &error));
  EXPECT_TRUE(error.contains(path)) << error.toStdString();
  EXPECT_GT(error.size(), path.size() + 20) << "the reason follows the name";
  EXPECT_FALSE(QFile::exists(path));
}

// Lowers the soft limit on the size of written files while it lives. Writes
// past it then fail with EFBIG instead of ending the process by SIGXFSZ.
class TFileSizeLimit {
public:
  explicit TFileSizeLimit(rlim_t Bytes)
      : FPreviousAction(std::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &FPrevious);
    rlimit lowered = FPrevious;
    lowered.rlim_cur = Bytes;
    if (::setrlimit(RLIMIT_FSIZE, &lowered) != 0)
      ADD_FAILURE() << "cannot lower the file-size limit: " << std::strerror(errno);
  }
  ~TFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &FPrevious);
    std::signal(SIGXFSZ, FPreviousAction);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
  void (*FPreviousAction)(int);
  rlimit FPrevious{};
};

// A 64 KiB file system on Folder while it lives, where mounting is permitted.
class TSmallDisk {
public:
  explicit TSmallDisk(const QString& Folder)
      : FFolder(QFile::encodeName(Folder).toStdString()) {
    FMounted = ::mount("zandrel-small-disk", FFolder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                       "size=64k") == 0;
    FError = FMounted ? 0 : errno;
  }
  ~TSmallDisk() {
    if (FMounted)
      ::umount2(FFolder.c_str(), MNT_DETACH);
  }
  TSmallDisk(const TSmallDisk&) = delete;
  TSmallDisk& operator=(const TSmallDisk&) = delete;

  bool Mounted() const { return FMounted; }
  int Error() const { return FError; }

private:
  std::string FFolder;
  bool FMounted = false;
  int FError = 0;
};

// Saves over an existing file in Folder through Save, which is to fail with
// the system's error Errno: the old file keeps its bytes, nothing else is left
// in the folder, and the message names the file and the reason.
void ExpectFailedSaveKeepsTheOldFile(const QString& Folder, int Errno,
                                     const std::function<bool(const QString&, QString*)>& Save) {
  const QString path = Folder + QStringLiteral("/view.bmp");
  const QByteArray old("the picture saved before");
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(old), old.size());
  }
  QString error;
  EXPECT_FALSE(Save(path, &error));
  EXPECT_TRUE(error.contains(QDir::toNativeSeparators(path))) << error.toStdString();
  EXPECT_TRUE(error.contains(QString::fromLocal8Bit(std::strerror(Errno)))) << error.toStdString();
  EXPECT_EQ(ReadFile(path), old);
  const QStringList entries =
      QDir(Folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  EXPECT_EQ(entries, QStringList{QStringLiteral("view.bmp")});
}

TEST(ImageWidget, ASaveCutShortByTheFileSizeLimitKeepsTheOldFile) {
  // The limit falls within the header of a small picture and deep within the
  // rows of a large one.
  struct TCase {
    int32_t Width, Height;
    rlim_t Limit;
  };
  for (const TCase& sample : {TCase{5, 3, 64}, TCase{200, 100, 20000}}) {
    SCOPED_TRACE(testing::Message() << sample.Width << " x " << sample.Height);
    QTemporaryDir dir;
    TImageWidget image;
    FillPattern(image.Picture(), sample.Width, sample.Height);
    ExpectFailedSaveKeepsTheOldFile(dir.path(), EFBIG, [&](const QString& Path, QString* Error) {
      const TFileSizeLimit limited(sample.Limit);
      return image.SavePicture(Path, Error);
    });
  }
}

TEST(ImageWidget, ASaveOnAFullDiskKeepsTheOldFile) {
  QTemporaryDir dir;
  const TSmallDisk disk(dir.path());
  if (!disk.Mounted())
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(disk.Error());
  TImageWidget image;
  FillPattern(image.Picture(), 256, 128); // 96 KiB of rows
  ExpectFailedSaveKeepsTheOldFile(dir.path(), ENOSPC, [&](const QString& Path, QString* Error) {
    return image.SavePicture(Path, Error);
  });
}

TEST(ImageWidget, EmptyPictureDrawsAndSavesNothing) {
  QTemporaryDir dir;
  TImageWidget image;
  image.resize(4, 4);
  EXPECT_FALSE(image.HasPicture());
  EXPECT_TRUE(image.PictureImage().isNull());
  image.Picture().SetSize(7, 0);
  EXPECT_FALSE(image.HasPicture());
  EXPECT_FALSE(image.grab().isNull());
  const QString path = dir.filePath("empty.bmp");
  EXPECT_TRUE(image.SavePicture(path));
  EXPECT_FALSE(QFile::exists(path));
}

TEST(ImageWidget, ReportsPointerMovesInItsOwnCoordinates) {
  QWidget host;
  auto* image = new TImageWidget(&host);
  image->setGeometry(10, 20, 30, 30);
  host.resize(60, 60);
  host.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
  QSignalSpy moves(image, &TImageWidget::MouseMoved);
  QTest::mouseMove(image, QPoint(3, 17));
  ASSERT_GE(moves.count(), 1);
  EXPECT_EQ(moves.last().at(0).toInt(), 3);
  EXPECT_EQ(moves.last().at(1).toInt(), 17);
}

// Every step, painted by the widget itself, against the model.
TEST(ImageWidget, ShowsEveryZoomStepAsTheModel) {
  for (int step = 0; step < zoom::ZoomStepCount; ++step) {
    TImageWidget image;
    testfiles::FillRandom(image.Picture(), 13, 7, static_cast<uint32_t>(step));
    const zoom::TZoomStep s = zoom::ZoomSteps[step];
    const testfiles::TZoomedModel model = testfiles::ZoomModel(image.Picture(), s.Up, s.Down);
    image.SetZoomStep(step);
    image.resize(static_cast<int>(model.Width), static_cast<int>(model.Height));
    const QImage shown = image.grab().toImage();
    int wrong = 0;
    for (int y = 0; y < model.Height; ++y)
      for (int x = 0; x < model.Width; ++x)
        wrong += (shown.pixel(x, y) & 0xFFFFFF) != model.At(x, y);
    EXPECT_EQ(wrong, 0) << zoom::StepName(step);
  }
}

// The paint regions that reach the widget, as Qt hands them over.
class TPaintRecorder : public QObject {
public:
  bool eventFilter(QObject*, QEvent* Event) override {
    if (Event->type() == QEvent::Paint)
      Painted.push_back(static_cast<QPaintEvent*>(Event)->rect());
    return false;
  }
  std::vector<QRect> Painted;
};

// A 2048 x 2048 view at 12, 24576 pixels square: a repaint scales only the
// part in sight, and that part shows the right voxels.
TEST(ImageWidget, FarZoomedInPaintsOnlyWhatIsInSight) {
  QScrollArea area;
  area.resize(300, 200);
  auto* image = new TImageWidget;
  testfiles::FillRandom(image->Picture(), 2048, 2048, 11);
  image->SetZoomStep(*zoom::ParseStep("12"));
  image->resize(2048 * 12, 2048 * 12);
  area.setWidget(image);
  area.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
  area.horizontalScrollBar()->setValue(12345);
  area.verticalScrollBar()->setValue(6789);
  TPaintRecorder recorder;
  image->installEventFilter(&recorder);
  image->repaint();
  ASSERT_FALSE(recorder.Painted.empty());
  const QRect inSight(12345, 6789, area.viewport()->width(), area.viewport()->height());
  for (const QRect& painted : recorder.Painted)
    EXPECT_TRUE(inSight.contains(painted))
        << painted.x() << "," << painted.y() << " " << painted.width() << "x" << painted.height();
  const QImage shown = area.viewport()->grab().toImage();
  int wrong = 0;
  for (int y = 0; y < shown.height(); ++y)
    for (int x = 0; x < shown.width(); ++x)
      wrong += (shown.pixel(x, y) & 0xFFFFFF) !=
               testfiles::PixelAt(image->Picture(), (12345 + x) / 12, (6789 + y) / 12);
  EXPECT_EQ(wrong, 0);
}

} // namespace
