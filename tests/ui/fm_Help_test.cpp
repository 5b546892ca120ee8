#include "QtPrinters.h"
#include "ui/fm_Help.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// The help text as the window must show it, line by line.
const char* const kExpectedLines[35] = {
    "Zandrel   Econo-Help",
    "-------------------------------------------------------------------------------------------",
    "Zandrel lets you inspect the actual orientation of data as actually stored in a data file.",
    "",
    "Zandrel is absolutely format-oblivious, and hence is not inverting, flipping or otherwise "
    "obscuring the data.",
    "",
    "Index 0: The most-rapidly-changing index, displays left-to-right across the top row of an "
    "image.",
    "Index 1: Next-most-rapidly-changing index, displays top-to-bottom of images (except "
    "cross-slice).",
    "Index 2: Can be selected for first image and displays top-to-bottom in cross-slice image.",
    "Index 3: \"Volume number\", can be selected for \"Other Volume\" image.",
    "",
    "Basic Operation:",
    "--------------------------",
    "To open any file, use File > Open or drag a file from Explorer to Filename area.",
    "",
    "Use controls in top bar to set your guess as to how image data is stored in file.",
    "",
    "Select a Slice index, and possibly a Cross-Slice and Volume index.",
    "",
    "Adjust intensity range to suit (you can \"apply\" from first slice image).",
    "",
    "Display",
    "------------",
    "Note Coordinates, Intensity and Offset (in file) in Statusbar as you mouse over images.",
    "",
    "Light blue in image area indicates addresses beyond actual file.",
    "",
    "Yellow in image area indicates really bad number (usually wrong-endian float).",
    "",
    "Hints:",
    "---------",
    "-- Slice 0 is usually all-black. Choose slice from middle of volume to see something.",
    "",
    "-- Disable cross-slice view if it's slow reading the disk.",
    "",
};

TEST(HelpText, HasTheThirtyFiveLines) {
  const QStringList& lines = HelpLines();
  ASSERT_EQ(lines.size(), 35);
  for (int i = 0; i < 35; ++i)
    EXPECT_EQ(lines[i], QString::fromUtf8(kExpectedLines[i])) << "line " << i + 1;
}

TEST(HelpText, RulesAndBlankLinesAreWhereTheyBelong) {
  // Counted independently of the table above: the underlines' lengths and the empty lines.
  const QStringList& lines = HelpLines();
  ASSERT_EQ(lines.size(), 35);
  const std::pair<int, int> rules[] = {{2, 91}, {13, 26}, {23, 12}, {31, 9}};
  for (auto [line, length] : rules) {
    EXPECT_EQ(lines[line - 1].size(), length) << "line " << line;
    EXPECT_EQ(lines[line - 1].count(u'-'), length) << "line " << line;
  }
  const QList<int> empty = {4, 6, 11, 15, 17, 19, 21, 25, 27, 29, 33, 35};
  for (int line = 1; line <= 35; ++line)
    EXPECT_EQ(lines[line - 1].isEmpty(), empty.contains(line)) << "line " << line;
  EXPECT_EQ(lines[0].indexOf("   Econo"), 7);
  EXPECT_FALSE(lines[0].contains("    "));
}

class HelpWindowTest : public testing::Test {
protected:
  Tfm_Help FHelp;
  QPlainTextEdit* Memo() { return FHelp.findChild<QPlainTextEdit*>("Memo1"); }
};

TEST_F(HelpWindowTest, WindowAndMemoSettings) {
  EXPECT_EQ(FHelp.objectName(), "fm_Help");
  EXPECT_EQ(FHelp.windowTitle(), "Help");
  EXPECT_EQ(FHelp.size(), QSize(552, 489));
  EXPECT_FALSE(FHelp.isVisible());
  QPlainTextEdit* memo = Memo();
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo, FHelp.Memo1);
  EXPECT_TRUE(memo->isReadOnly());
  EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(memo->font().pixelSize(), 11);
  EXPECT_EQ(memo->font().families().value(0), "MS Sans Serif");
}

TEST_F(HelpWindowTest, MemoHoldsOneBlockPerLine) {
  QPlainTextEdit* memo = Memo();
  ASSERT_NE(memo, nullptr);
  ASSERT_EQ(memo->blockCount(), 35);
  QTextBlock block = memo->document()->firstBlock();
  for (int i = 0; i < 35; ++i, block = block.next())
    EXPECT_EQ(block.text(), QString::fromUtf8(kExpectedLines[i])) << "line " << i + 1;
}

TEST_F(HelpWindowTest, TypingChangesNothingButSelectingWorks) {
  FHelp.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&FHelp));
  QPlainTextEdit* memo = Memo();
  const QString before = memo->toPlainText();
  QTest::keyClicks(memo, "abc");
  QTest::keyClick(memo, Qt::Key_Return);
  QTest::keyClick(memo, Qt::Key_Delete);
  QTest::keyClick(memo, Qt::Key_Backspace);
  QTest::keyClick(memo, Qt::Key_X, Qt::ControlModifier);
  QTest::keyClick(memo, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(memo->toPlainText(), before);
  QTest::keyClick(memo, Qt::Key_End, Qt::ShiftModifier);
  EXPECT_EQ(memo->textCursor().selectedText(), "Zandrel   Econo-Help");
}

TEST_F(HelpWindowTest, LongLinesRunPastTheRightEdge) {
  FHelp.resize(300, 200);
  FHelp.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&FHelp));
  QPlainTextEdit* memo = Memo();
  EXPECT_GT(memo->horizontalScrollBar()->maximum(), 0);
  EXPECT_TRUE(memo->horizontalScrollBar()->isVisible());
  EXPECT_TRUE(memo->verticalScrollBar()->isVisible());
  const QTextBlock longest = memo->document()->findBlockByNumber(4);
  ASSERT_NE(longest.layout(), nullptr);
  EXPECT_EQ(longest.layout()->lineCount(), 1);
}

TEST_F(HelpWindowTest, MemoFollowsTheWindowSize) {
  FHelp.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&FHelp));
  for (QSize size : {QSize(552, 489), QSize(700, 610), QSize(260, 150)}) {
    FHelp.resize(size);
    QCoreApplication::processEvents();
    EXPECT_EQ(Memo()->geometry(), QRect(QPoint(0, 0), size))
        << size.width() << "x" << size.height();
  }
}

TEST_F(HelpWindowTest, MemoHasTheFocusWhenShown) {
  FHelp.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&FHelp));
  EXPECT_EQ(FHelp.focusWidget(), Memo());
}

TEST_F(HelpWindowTest, ModalShowingHidesOnCloseAndKeepsTheScrollPosition) {
  FHelp.resize(300, 200);
  bool wasModal = false;
  QTimer::singleShot(50, [&] {
    wasModal = QApplication::activeModalWidget() == &FHelp;
    Memo()->verticalScrollBar()->setValue(7);
    FHelp.close();
  });
  FHelp.exec();
  EXPECT_TRUE(wasModal);
  EXPECT_FALSE(FHelp.isVisible());

  int shownValue = -1;
  QString shownText;
  QTimer::singleShot(50, [&] {
    shownValue = Memo()->verticalScrollBar()->value();
    shownText = Memo()->toPlainText();
    FHelp.close();
  });
  FHelp.exec();
  EXPECT_EQ(shownValue, 7);
  EXPECT_EQ(shownText, HelpLines().join(u'\n'));
}

} // namespace
