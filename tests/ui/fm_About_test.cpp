#include "QtPrinters.h"
#include "ui/fm_About.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QLabel* Label(const Tfm_AboutBox& Box, const char* Name) {
  return Box.findChild<QLabel*>(Name);
}

TEST(AboutBox, LabelsShowTheVersionRecordTexts) {
  Tfm_AboutBox box("Zandrel Viewer", "0.3.0.0");
  ASSERT_NE(Label(box, "lb_ProductName"), nullptr);
  ASSERT_NE(Label(box, "lb_Version"), nullptr);
  EXPECT_EQ(Label(box, "lb_ProductName")->text(), "Zandrel Viewer");
  EXPECT_EQ(Label(box, "lb_Version")->text(), "Version: 0.3.0.0");
}

TEST(AboutBox, EmptyVersionRecordLeavesVersionAlone) {
  Tfm_AboutBox box("", "");
  EXPECT_EQ(Label(box, "lb_ProductName")->text(), "");
  EXPECT_EQ(Label(box, "lb_Version")->text(), "Version: ");
}

TEST(AboutBox, WindowSettings) {
  Tfm_AboutBox box("Zandrel Viewer", "0.3.0.0");
  EXPECT_EQ(box.objectName(), "fm_AboutBox");
  EXPECT_EQ(box.windowTitle(), "About");
  EXPECT_EQ(box.size(), QSize(298, 151));
  EXPECT_EQ(box.minimumSize(), QSize(298, 151));
  EXPECT_EQ(box.maximumSize(), QSize(298, 151));
  EXPECT_TRUE(box.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(box.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(box.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(box.isModal());
  EXPECT_EQ(box.font().pixelSize(), 11);
  EXPECT_FALSE(box.isVisible());
}

TEST(AboutBox, ControlsSitWhereTheLayoutPutsThem) {
  Tfm_AboutBox box("Zandrel Viewer", "0.3.0.0");
  auto* panel = box.findChild<QFrame*>("Panel1");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->parentWidget(), &box);
  EXPECT_EQ(panel->geometry(), QRect(8, 8, 281, 97));
  EXPECT_EQ(panel->frameShape(), QFrame::Box);
  EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);

  auto* icon = box.findChild<QLabel*>("ProgramIcon");
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->parentWidget(), panel);
  EXPECT_EQ(icon->geometry(), QRect(2, 2, 72, 72));
  EXPECT_TRUE(icon->hasScaledContents());
  EXPECT_EQ(icon->pixmap().size(), QSize(72, 72));

  const std::pair<const char*, QPoint> labels[] = {
      {"lb_ProductName", {88, 8}}, {"lb_Version", {88, 24}}, {"lb_Notice", {88, 48}}};
  for (const auto& [name, position] : labels) {
    QLabel* label = Label(box, name);
    ASSERT_NE(label, nullptr) << name;
    EXPECT_EQ(label->parentWidget(), panel) << name;
    EXPECT_EQ(label->pos(), position) << name;
    // Each label is as wide as its text and stays inside the panel's bevel.
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << name;
    EXPECT_LE(label->geometry().right(), panel->width() - 3) << name;
  }
  EXPECT_FALSE(Label(box, "lb_Notice")->text().isEmpty());

  auto* ok = box.findChild<QPushButton*>("OKButton");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->parentWidget(), &box);
  EXPECT_EQ(ok->geometry(), QRect(111, 116, 75, 25));
  EXPECT_EQ(ok->text(), "OK");
  EXPECT_TRUE(ok->isDefault());
}

class AboutBoxShownTest : public testing::Test {
protected:
  void SetUp() override {
    FBox.ShowModeless();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&FBox));
  }
  Tfm_AboutBox FBox{"Zandrel Viewer", "0.3.0.0"};
  QSignalSpy FAccepted{&FBox, &QDialog::accepted};
};

TEST_F(AboutBoxShownTest, OkHidesTheBoxWithResultOk) {
  QTest::mouseClick(FBox.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
  EXPECT_FALSE(FBox.isVisible());
  EXPECT_EQ(FBox.result(), QDialog::Accepted);
  EXPECT_EQ(FAccepted.count(), 1);
}

TEST_F(AboutBoxShownTest, EnterActivatesOk) {
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
    FBox.ShowModeless();
    ASSERT_TRUE(FBox.isVisible());
    QTest::keyClick(&FBox, key);
    EXPECT_FALSE(FBox.isVisible()) << key;
  }
  EXPECT_EQ(FAccepted.count(), 2);
}

TEST_F(AboutBoxShownTest, CloseBoxOnlyHides) {
  QPointer<Tfm_AboutBox> box(&FBox);
  FBox.close();
  EXPECT_FALSE(FBox.isVisible());
  EXPECT_FALSE(box.isNull());
  FBox.ShowModeless();
  EXPECT_TRUE(FBox.isVisible());
  EXPECT_EQ(Label(FBox, "lb_Version")->text(), "Version: 0.3.0.0");
}

TEST_F(AboutBoxShownTest, ShowingTwiceGivesOneBox) {
  FBox.ShowModeless();
  int visibleBoxes = 0;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->objectName() == "fm_AboutBox" && widget->isVisible())
      ++visibleBoxes;
  EXPECT_EQ(visibleBoxes, 1);
  EXPECT_TRUE(FBox.isVisible());
}

TEST_F(AboutBoxShownTest, MainWindowStaysUsable) {
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

bool IsGrey(QRgb Pixel) {
  return qRed(Pixel) == qGreen(Pixel) && qGreen(Pixel) == qBlue(Pixel) && qRed(Pixel) >= 100 &&
         qRed(Pixel) <= 220;
}

bool IsBlue(QRgb Pixel) {
  return qBlue(Pixel) >= 200 && qRed(Pixel) <= 60 && qGreen(Pixel) <= 120;
}

TEST(AboutPicture, IsAGreySliceWithABlueMark) {
  const QImage picture = AboutPicture();
  EXPECT_EQ(picture.size(), QSize(72, 72));
  EXPECT_EQ(picture.depth(), 24);
  int grey = 0, blue = 0;
  for (int y = 0; y < 72; ++y)
    for (int x = 0; x < 72; ++x) {
      grey += IsGrey(picture.pixel(x, y));
      blue += IsBlue(picture.pixel(x, y));
    }
  EXPECT_GT(grey, 72 * 72 / 5) << "the slice fills much of the picture";
  EXPECT_GT(blue, 100) << "the question mark shows";
  // Dark background in the corners, outside the head.
  for (QPoint corner : {QPoint(0, 0), QPoint(71, 0), QPoint(0, 71), QPoint(71, 71)})
    EXPECT_LT(qGray(picture.pixel(corner)), 40);
}

TEST(ProgramIcon, Is32By32InFlatColoursOfTheSixteenColourPalette) {
  const QImage icon = ProgramIconImage();
  ASSERT_EQ(icon.size(), QSize(32, 32));
  // The standard 16 colours of the Windows and VGA palette.
  const QSet<QRgb> palette = {
      qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
      qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
      qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
      qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
  QSet<QRgb> used;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const QRgb pixel = icon.pixel(x, y) | 0xFF000000u;
      EXPECT_TRUE(palette.contains(pixel)) << x << "," << y << " " << std::hex << pixel;
      used.insert(pixel);
    }
  EXPECT_GE(used.size(), 3);
  EXPECT_TRUE(used.contains(qRgb(0, 0, 255)));
  EXPECT_EQ(ProgramIcon().availableSizes().value(0), QSize(32, 32));
}

TEST(ProgramIcon, WritesAPngOfTheIcon) {
  QTemporaryDir dir;
  const QString path = dir.filePath("zandrel.png");
  ASSERT_TRUE(WriteProgramIconPng(path));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.read(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
  file.close();
  const QImage back(path);
  ASSERT_EQ(back.size(), QSize(32, 32));
  const QImage icon = ProgramIconImage();
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_EQ(back.pixel(x, y) | 0xFF000000u, icon.pixel(x, y) | 0xFF000000u);
  EXPECT_FALSE(WriteProgramIconPng(dir.filePath("no/such/folder/zandrel.png")));
}

} // namespace
