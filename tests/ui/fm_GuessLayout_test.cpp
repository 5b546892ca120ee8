#include "QtPrinters.h"
#include "ui/fm_GuessLayout.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QIcon>
#include <QImage>
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

// Each row shows the picture its caller painted, pixel for pixel and unscaled;
// a row whose picture is empty or missing shows none.
TEST(GuessDialogPicturesTest, EachRowCarriesThePictureGivenForIt) {
  const auto pictureOf = [](int32_t Width, int32_t Height, uint8_t Shade) {
    TBitmap24 picture;
    picture.SetSize(Width, Height);
    for (int32_t y = 0; y < Height; ++y)
      for (int32_t x = 0; x < 3 * Width; ++x)
        picture.ScanLine(y)[x] = static_cast<uint8_t>(Shade + 7 * y + x); // blue, green, red
    return picture;
  };
  const std::vector<TBitmap24> pictures = {pictureOf(5, 3, 10), TBitmap24(), pictureOf(96, 40, 90)};
  Tfm_GuessLayout dialog(ThreeProposals, TypeNames, OrderNames, {pictures[0], pictures[1]});
  Tfm_GuessLayout all(ThreeProposals, TypeNames, OrderNames, pictures);
  const struct {
    const Tfm_GuessLayout& Dialog;
    int Row;
    const TBitmap24* Picture; // null: no icon
  } cases[] = {{dialog, 0, &pictures[0]}, {dialog, 1, nullptr}, {dialog, 2, nullptr},
               {all, 0, &pictures[0]},    {all, 1, nullptr},    {all, 2, &pictures[2]}};
  for (const auto& [shown, row, picture] : cases) {
    const QTreeWidgetItem* item = shown.lv_Candidates->topLevelItem(row);
    EXPECT_EQ(item->text(0), LayoutText(ThreeProposals.Candidates[row].Layout)) << row;
    ASSERT_EQ(item->icon(0).isNull(), picture == nullptr) << row;
    if (picture == nullptr)
      continue;
    // In the middle of a clear square, so that every row's text lines up.
    const QImage image = item->icon(0).pixmap(QSize(96, 96)).toImage();
    ASSERT_EQ(image.size(), QSize(96, 96)) << row;
    const int left = (96 - picture->Width()) / 2;
    const int top = (96 - picture->Height()) / 2;
    for (int32_t y = 0; y < 96; ++y)
      for (int32_t x = 0; x < 96; ++x) {
        const bool inside =
            x >= left && x < left + picture->Width() && y >= top && y < top + picture->Height();
        const uint8_t* bgr = inside ? picture->ScanLine(y - top) + 3 * (x - left) : nullptr;
        EXPECT_EQ(image.pixel(x, y), inside ? qRgb(bgr[2], bgr[1], bgr[0]) : qRgba(0, 0, 0, 0))
            << row << ": " << x << ", " << y;
      }
  }
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
