#pragma once

#include "data/Bitmap24.h"
#include "guess/LayoutGuess.h"

#include <QDialog>
#include <optional>
#include <vector>

class QDialogButtonBox;
class QLabel;
class QTreeWidget;

// The proposed layouts of the open file as a list, best first and the first
// one selected, each beside a picture of its middle slice when the caller has
// one; OK or a double-click on a row takes it. Without a proposal it says why
// and offers only Close.
class Tfm_GuessLayout : public QDialog {
  Q_OBJECT

public:
  // TypeNames and OrderNames are the item texts of the window's data-type and
  // byte-order lists, so that a proposal reads as the lists will show it.
  // Pictures[k] is candidate k's picture; a missing or empty one shows none.
  Tfm_GuessLayout(const guess::TLayoutGuess& Guess, const QStringList& TypeNames,
                  const QStringList& OrderNames, const std::vector<TBitmap24>& Pictures = {},
                  QWidget* Parent = nullptr);

  // The layout of the selected row, if a row is selected.
  std::optional<TLayout> Chosen() const;

  QTreeWidget* lv_Candidates = nullptr;
  QLabel* lb_Why = nullptr;
  QDialogButtonBox* bb_Buttons = nullptr;

private:
  void FillList(const guess::TLayoutGuess& Guess, const QStringList& TypeNames,
                const QStringList& OrderNames);
  void ShowPictures(const std::vector<TBitmap24>& Pictures);

  std::vector<TLayout> FLayouts;
};

// "352 + 256 x 256 x 64": the header bytes, then the three dimensions.
QString LayoutText(const TLayout& Layout);
