#include "QtPrinters.h"
#include "ui/fm_GuessLayout.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>

using namespace guess;

namespace {

const QStringList TypeNames = {"Byte (unsigned)", "Int-16  (signed)", "Int-32 (signed)",
                               "Float-32"};
const QStringList OrderNames = {"Lil-Endian (Intel)", "Big-Endian "};

const TLayoutGuess ThreeProposals{{{{352, 256, 256, 64, vtInt16, boLittleEndian}, 0.97, "NIfTI"},
                                   {{0, 7, 5, 3, vtByte, boLittleEndian}, 0.5, "rows \xFF<b>"},
                                   {{32767, 10000, 1, 1, vtFloat32, boBigEndian}, 0.25, ""}},
                                  "never shown",
                                  {}};

class TGuessDialogTest : public testing::Test {
protected:
  TGuessDialogTest() { Dialog.open(); }

  QPoint RowCentre(int Row) const {
    return Dialog.lv_Candidates->visualItemRect(Dialog.lv_Candidates->topLevelItem(Row)).center();
  }
  void ClickRow(int Row, Qt::KeyboardModifiers Keys = {}) {
    QTest::mouseClick(Dialog.lv_Candidates->viewport(), Qt::LeftButton, Keys, RowCentre(Row));
  }
  void Click(QDialogButtonBox::StandardButton Which) {
    QTest::mouseClick(Dialog.bb_Buttons->button(Which), Qt::LeftButton);
  }

  Tfm_GuessLayout Dialog{ThreeProposals, TypeNames, OrderNames};
};

TEST_F(TGuessDialogTest, ListsEachProposalBestFirstWithTheFirstSelected) {
  const QStringList rows[] = {
      {"352 + 256 x 256 x 64", "Int-16 (signed), Lil-Endian (Intel)", "0.97", "NIfTI"},
      {"0 + 7 x 5 x 3", "Byte (unsigned)", "0.50", QFile::decodeName("rows \xFF<b>")},
      {"32767 + 10000 x 1 x 1", "Float-32, Big-Endian", "0.25", ""}};
  QTreeWidget* list = Dialog.lv_Candidates;
  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_TRUE(list->isVisible());
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 4; ++column)
      EXPECT_EQ(list->topLevelItem(row)->text(column), rows[row][column]) << row << column;
  EXPECT_EQ(list->selectedItems(), QList{list->topLevelItem(0)});
  EXPECT_EQ(Dialog.bb_Buttons->buttons().size(), 2);
}

TEST_F(TGuessDialogTest, OkOrADoubleClickTakesTheChosenRowAndCancelTakesNone) {
  struct TCase {
    const char* What;
    std::function<void()> Act;
    int Result;
    int Row; // whose layout Chosen gives, when accepted
  };
  const TCase cases[] = {
      {"OK", [this] { Click(QDialogButtonBox::Ok); }, QDialog::Accepted, 0},
      {"row 2, OK",
       [this] {
         ClickRow(2);
         Click(QDialogButtonBox::Ok);
       },
       QDialog::Accepted, 2},
      {"double-click row 1",
       [this] {
         ClickRow(1);
         QTest::mouseDClick(Dialog.lv_Candidates->viewport(), Qt::LeftButton, {}, RowCentre(1));
       },
       QDialog::Accepted, 1},
      {"row 1, Cancel",
       [this] {
         ClickRow(1);
         Click(QDialogButtonBox::Cancel);
       },
       QDialog::Rejected, -1},
      {"Escape", [this] { QTest::keyClick(&Dialog, Qt::Key_Escape); }, QDialog::Rejected, -1},
  };
  for (const TCase& test : cases) {
    Dialog.setResult(-1);
    Dialog.open();
    Dialog.lv_Candidates->setCurrentItem(Dialog.lv_Candidates->topLevelItem(0));
    test.Act();
    EXPECT_FALSE(Dialog.isVisible()) << test.What;
    EXPECT_EQ(Dialog.result(), test.Result) << test.What;
    if (test.Row >= 0) {
      EXPECT_EQ(Dialog.Chosen(), ThreeProposals.Candidates[test.Row].Layout) << test.What;
    }
  }
}

TEST_F(TGuessDialogTest, NothingSelectedLeavesNothingToTake) {
  ClickRow(0, Qt::ControlModifier);
  ASSERT_TRUE(Dialog.lv_Candidates->selectedItems().isEmpty());
  EXPECT_EQ(Dialog.Chosen(), std::nullopt);
  EXPECT_FALSE(Dialog.bb_Buttons->button(QDialogButtonBox::Ok)->isEnabled());
  ClickRow(2);
  EXPECT_TRUE(Dialog.bb_Buttons->button(QDialogButtonBox::Ok)->isEnabled());
}

TEST(GuessDialogWithoutProposalTest, SaysWhyAsPlainTextAndOffersOnlyClose) {
  const std::string why = "cannot read /tmp/<b>bold</b>\xFF.raw";
  Tfm_GuessLayout dialog({{}, why, {}}, TypeNames, OrderNames);
  dialog.open();
  EXPECT_EQ(dialog.lb_Why->text(), QFile::decodeName(QByteArray::fromStdString(why)));
  EXPECT_EQ(dialog.lb_Why->textFormat(), Qt::PlainText);
  EXPECT_FALSE(dialog.lv_Candidates->isVisible());
  ASSERT_EQ(dialog.bb_Buttons->buttons().size(), 1);
  QTest::mouseClick(dialog.bb_Buttons->button(QDialogButtonBox::Close), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(dialog.Chosen(), std::nullopt);
}

} // namespace
