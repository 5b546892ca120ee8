#include "QtPrinters.h"
#include "ui/UpDown.h"

#include <QLineEdit>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// An edit with its spin buttons on the right, as the main window lays them out.
class UpDownTest : public testing::Test {
protected:
  void SetUp() override {
    FSavedLocale = QLocale();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    FEdit = new QLineEdit(&FHost);
    FEdit->setGeometry(4, 4, 60, 21);
    FUpDown = new TUpDown(&FHost);
    FUpDown->setGeometry(64, 4, 15, 21);
    FUpDown->Associate(FEdit);
    FUpDown->SetRange(0, 10000);
    FHost.resize(100, 30);
    FHost.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&FHost));
  }
  void TearDown() override { QLocale::setDefault(FSavedLocale); }

  void ClickUp() { QTest::mouseClick(FUpDown, Qt::LeftButton, {}, UpPoint()); }
  void ClickDown() { QTest::mouseClick(FUpDown, Qt::LeftButton, {}, DownPoint()); }
  QPoint UpPoint() const { return QPoint(FUpDown->width() / 2, FUpDown->height() / 4); }
  QPoint DownPoint() const { return QPoint(FUpDown->width() / 2, FUpDown->height() * 3 / 4); }

  QLocale FSavedLocale;
  QWidget FHost;
  QLineEdit* FEdit = nullptr;
  TUpDown* FUpDown = nullptr;
};

TEST_F(UpDownTest, ArrowsStepTheEditByOne) {
  FEdit->setText("5");
  ClickUp();
  EXPECT_EQ(FEdit->text(), "6");
  EXPECT_EQ(FUpDown->Position(), 6);
  ClickDown();
  ClickDown();
  EXPECT_EQ(FEdit->text(), "4");
  EXPECT_EQ(FUpDown->Position(), 4);
}

TEST_F(UpDownTest, ArrowsStepFromTheNumberShownNotFromAnEarlierPosition) {
  FUpDown->SetPosition(50);
  FEdit->setText("200");
  ClickUp();
  EXPECT_EQ(FEdit->text(), "201");
}

TEST_F(UpDownTest, ArrowsStopAtTheEndsWithoutWrapping) {
  FUpDown->SetRange(0, 10);
  FEdit->setText("9");
  QSignalSpy changes(FEdit, &QLineEdit::textChanged);
  ClickUp();
  ClickUp();
  ClickUp();
  EXPECT_EQ(FEdit->text(), "10");
  EXPECT_EQ(FUpDown->Position(), 10);
  EXPECT_EQ(changes.count(), 1) << "nothing is written once the end is reached";

  FEdit->setText("1");
  changes.clear();
  ClickDown();
  ClickDown();
  ClickDown();
  EXPECT_EQ(FEdit->text(), "0");
  EXPECT_EQ(FUpDown->Position(), 0);
  EXPECT_EQ(changes.count(), 1);
  EXPECT_FALSE(FUpDown->Wrap());
}

TEST_F(UpDownTest, ArrowsWorkInANegativeRange) {
  FUpDown->SetRange(-3, 3);
  FEdit->setText("-2");
  ClickDown();
  EXPECT_EQ(FEdit->text(), "-3");
  ClickDown();
  EXPECT_EQ(FEdit->text(), "-3");
  ClickUp();
  ClickUp();
  ClickUp();
  ClickUp();
  EXPECT_EQ(FEdit->text(), "1");
}

TEST_F(UpDownTest, PositionFollowsPlainNumbersInRange) {
  struct TCase {
    const char* Text;
    int16_t Position;
  };
  // Each read starts from position 123.
  const TCase cases[] = {
      {"456", 456},   {"0", 0},      {"10000", 10000}, {"007", 7},        {" 12", 12},
      {"+8", 8},      {"-0", 0},     {"1,234", 1234},  {"10,000", 10000}, {"abc", 123},
      {"-", 123},     {"", 123},     {"10001", 123},   {"20000", 123},    {"-5", 123},
      {"-1", 123},    {"12a", 123},  {"12 ", 123},     {"$10", 123},      {"1,23", 123},
      {"12,34", 123}, {",123", 123}, {"1,", 123},      {"1.000", 123},    {"99999999999", 123},
  };
  for (const TCase& c : cases) {
    FEdit->setText("123");
    ASSERT_EQ(FUpDown->Position(), 123);
    FEdit->setText(c.Text);
    EXPECT_EQ(FUpDown->Position(), c.Position) << '"' << c.Text << '"';
  }
}

TEST_F(UpDownTest, LastValidNumberIsKeptWhileTheEditHoldsNone) {
  FEdit->setText("77");
  FEdit->setText("7x");
  EXPECT_EQ(FUpDown->Position(), 0) << "77 was never read, so the first position stays";
  FEdit->setText("77");
  EXPECT_EQ(FUpDown->Position(), 77);
  FEdit->setText("7x");
  EXPECT_EQ(FUpDown->Position(), 77);
  ClickUp();
  EXPECT_EQ(FEdit->text(), "78");
}

TEST_F(UpDownTest, SetPositionLeavesTheEditAlone) {
  FEdit->setText("abc");
  FUpDown->SetPosition(42);
  EXPECT_EQ(FEdit->text(), "abc");
  EXPECT_EQ(FUpDown->Position(), 42);
  FUpDown->SetPosition(20000);
  EXPECT_EQ(FUpDown->Position(), 10000) << "the position stays within the range";
}

TEST_F(UpDownTest, FourDigitsAreWrittenWithThousandsGrouping) {
  FUpDown->SetRange(0, 32767);
  FEdit->setText("999");
  ClickUp();
  EXPECT_EQ(FEdit->text(), "1,000");
  ClickDown();
  EXPECT_EQ(FEdit->text(), "999") << "grouped text is read back as its number";
  FEdit->setText("9,999");
  ClickUp();
  EXPECT_EQ(FEdit->text(), "10,000");
  FEdit->setText("32766");
  ClickUp();
  EXPECT_EQ(FEdit->text(), "32,767");
}

TEST_F(UpDownTest, GroupingFollowsTheLocale) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  FEdit->setText("1.000");
  EXPECT_EQ(FUpDown->Position(), 1000);
  ClickUp();
  EXPECT_EQ(FEdit->text(), "1.001");
  FEdit->setText("1,000");
  EXPECT_EQ(FUpDown->Position(), 1001) << "another locale's separator is no number";

  QLocale::setDefault(QLocale::c());
  FEdit->setText("999");
  ClickUp();
  EXPECT_EQ(FEdit->text(), "1000");
}

TEST_F(UpDownTest, UpAndDownKeysInTheEditStep) {
  FEdit->setText("10");
  QTest::keyClick(FEdit, Qt::Key_Up);
  EXPECT_EQ(FEdit->text(), "11");
  QTest::keyClick(FEdit, Qt::Key_Down);
  QTest::keyClick(FEdit, Qt::Key_Down);
  EXPECT_EQ(FEdit->text(), "9");
  QTest::keyClick(FEdit, Qt::Key_Left);
  QTest::keyClick(FEdit, Qt::Key_PageUp);
  EXPECT_EQ(FEdit->text(), "9");
  FEdit->setText("10000");
  QTest::keyClick(FEdit, Qt::Key_Up);
  EXPECT_EQ(FEdit->text(), "10000");
}

TEST_F(UpDownTest, ArrowsDoNotTakeTheFocus) {
  FHost.activateWindow();
  FEdit->setFocus();
  ClickUp();
  EXPECT_EQ(FHost.focusWidget(), FEdit);
}

TEST_F(UpDownTest, AnotherEditTakesOver) {
  QLineEdit other(&FHost);
  FUpDown->Associate(&other);
  FEdit->setText("5");
  other.setText("50");
  ClickUp();
  EXPECT_EQ(FEdit->text(), "5");
  EXPECT_EQ(other.text(), "51");
  QTest::keyClick(FEdit, Qt::Key_Up);
  EXPECT_EQ(FEdit->text(), "5") << "the old edit's keys no longer step";
}

TEST_F(UpDownTest, HoldingAnArrowRepeats) {
  FEdit->setText("100");
  QTest::mousePress(FUpDown, Qt::LeftButton, {}, UpPoint());
  EXPECT_EQ(FEdit->text(), "101");
  QTest::qWait(1000);
  QTest::mouseRelease(FUpDown, Qt::LeftButton, {}, UpPoint());
  const int reached = FEdit->text().toInt();
  EXPECT_GE(reached, 103);
  QTest::qWait(200);
  EXPECT_EQ(FEdit->text().toInt(), reached) << "repeating stops with the release";
}

} // namespace
