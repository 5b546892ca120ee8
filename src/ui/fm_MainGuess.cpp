// The Guess Layout command: proposals for the open file, and the chosen one
// written into the layout controls.
#include "data/Thumbnail.h"
#include "data/VxDataMgr.h"
#include "guess/LayoutGuess.h"
#include "platform/FileStream.h"
#include "ui/fm_GuessLayout.h"
#include "ui/fm_Main.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QScopeGuard>

namespace {

QStringList ItemTexts(const QComboBox* Combo) {
  QStringList texts;
  for (int item = 0; item < Combo->count(); ++item)
    texts.append(Combo->itemText(item));
  return texts;
}

// A file that cannot be opened again gives no pictures; the proposals stand
// without them. The file open in the window takes the index it has.
std::vector<TBitmap24> PicturesOf(const std::string& FileName,
                                  const std::vector<guess::TLayoutCandidate>& Candidates,
                                  const platform::TIndexProgress& Progress) {
  std::vector<TBitmap24> pictures(Candidates.size());
  if (Candidates.empty())
    return pictures;
  try {
    platform::TFileStream stream(FileName, Progress);
    for (size_t k = 0; k < Candidates.size(); ++k)
      PaintThumbnail(stream, Candidates[k].Layout, ThumbnailSide, pictures[k]);
  } catch (const platform::EFOpenError&) {
  }
  return pictures;
}

} // namespace

void Tfm_Main::mi_GuessLayoutClick() {
  if (FDataMgr.FileName().empty())
    return;
  guess::TLayoutGuess proposals;
  std::vector<TBitmap24> pictures;
  {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    // A detached header's data file may be compressed and not open yet.
    const bool done = WithProgress([&](const platform::TIndexProgress& Progress) {
      try {
        proposals = guess::GuessLayout(FDataMgr.FileName(), Progress);
      } catch (const platform::EOpenCancelled&) {
        return;
      }
      pictures = PicturesOf(proposals.DataFile.empty() ? FDataMgr.FileName() : proposals.DataFile,
                            proposals.Candidates, Progress);
    });
    if (!done)
      return;
  }
  Tfm_GuessLayout dialog(proposals, ItemTexts(cb_DataType), ItemTexts(cb_ByteOrder), pictures,
                         this);
  if (dialog.exec() != QDialog::Accepted)
    return;
  const std::optional<TLayout> chosen = dialog.Chosen();
  if (!chosen)
    return;
  // The proposals of a detached header are for the data file it names.
  if (!proposals.DataFile.empty()) {
    OpenFileNamed(proposals.DataFile);
    if (FDataMgr.FileName().empty())
      return;
  }
  ApplyLayout(*chosen);
}

// A changed text runs ed_NumberChange and its push; a list item selected from
// code runs no handler, so the closing ScheduleRedraw carries type and order
// to the data manager and restarts the one pending redraw.
void Tfm_Main::ApplyLayout(const TLayout& Layout) {
  const std::pair<QLineEdit*, int32_t> edits[] = {{ed_SkipHeader, Layout.HeaderBytes},
                                                  {ed_VoxelsPerRow, Layout.VoxelsPerRow},
                                                  {ed_RowsPerSlice, Layout.RowsPerSlice},
                                                  {ed_SlicesPerVolume, Layout.SlicesPerVolume}};
  for (const auto& [edit, value] : edits)
    edit->setText(QString::number(value));
  cb_DataType->setCurrentIndex(Layout.VoxelType);
  cb_ByteOrder->setCurrentIndex(Layout.ByteOrder);
  ScheduleRedraw();
}
