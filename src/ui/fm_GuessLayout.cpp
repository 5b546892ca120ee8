#include "ui/fm_GuessLayout.h"

#include "data/Thumbnail.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QString TypeText(const TLayout& Layout, const QStringList& TypeNames,
                 const QStringList& OrderNames) {
  const QString type = TypeNames.value(Layout.VoxelType).simplified();
  if (BytesPerVoxel.at(Layout.VoxelType) == 1)
    return type;
  return type + QStringLiteral(", ") + OrderNames.value(Layout.ByteOrder).trimmed();
}

// The picture in the middle of a clear square of the list's icon size: the
// list puts an icon at the left of its place, so a narrow picture would pull
// its row's text out of line. A copy, since the bitmap belongs to the caller.
QPixmap PixmapOf(const TBitmap24& Picture) {
  if (Picture.Bits() == nullptr)
    return QPixmap();
  const QImage image(Picture.Bits(), Picture.Width(), Picture.Height(), Picture.Stride(),
                     QImage::Format_BGR888);
  QImage square(std::max(ThumbnailSide, image.width()), std::max(ThumbnailSide, image.height()),
                QImage::Format_ARGB32);
  square.fill(Qt::transparent);
  QPainter painter(&square);
  painter.drawImage((square.width() - image.width()) / 2, (square.height() - image.height()) / 2,
                    image);
  painter.end();
  return QPixmap::fromImage(square);
}

// Reasons and the why can quote file names, which are the host's bytes.
QString HostText(const std::string& Bytes) {
  return QFile::decodeName(QByteArray::fromStdString(Bytes));
}

} // namespace

QString LayoutText(const TLayout& Layout) {
  return QStringLiteral("%1 + %2 x %3 x %4")
      .arg(Layout.HeaderBytes)
      .arg(Layout.VoxelsPerRow)
      .arg(Layout.RowsPerSlice)
      .arg(Layout.SlicesPerVolume);
}

Tfm_GuessLayout::Tfm_GuessLayout(const guess::TLayoutGuess& Guess, const QStringList& TypeNames,
                                 const QStringList& OrderNames,
                                 const std::vector<TBitmap24>& Pictures, QWidget* Parent)
    : QDialog(Parent) {
  setObjectName(QStringLiteral("fm_GuessLayout"));
  setWindowTitle(QStringLiteral("Guess Layout"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);

  lb_Why = new QLabel(this);
  lb_Why->setObjectName(QStringLiteral("lb_Why"));
  lb_Why->setTextFormat(Qt::PlainText); // a quoted file name is not markup
  lb_Why->setWordWrap(true);
  layout->addWidget(lb_Why);

  lv_Candidates = new QTreeWidget(this);
  lv_Candidates->setObjectName(QStringLiteral("lv_Candidates"));
  layout->addWidget(lv_Candidates);

  const bool none = Guess.Candidates.empty();
  bb_Buttons = new QDialogButtonBox(
      none ? QDialogButtonBox::Close : QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  bb_Buttons->setObjectName(QStringLiteral("bb_Buttons"));
  layout->addWidget(bb_Buttons);
  connect(bb_Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(bb_Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  if (none) {
    lb_Why->setText(HostText(Guess.Why));
    lv_Candidates->hide();
  } else {
    // A detached header stands for its data file; OK opens that file.
    lb_Why->setText(Guess.DataFile.empty()
                        ? QStringLiteral("Likely layouts of the open file, best first:")
                        : QStringLiteral("The voxels are in ") + HostText(Guess.DataFile) +
                              QStringLiteral(". Likely layouts of that file, best first:"));
    FillList(Guess, TypeNames, OrderNames);
    ShowPictures(Pictures);
  }
  const bool pictures = lv_Candidates->iconSize().height() >= ThumbnailSide;
  resize(none ? 420 : 720, none ? 120 : (pictures ? 560 : 280));
}

void Tfm_GuessLayout::FillList(const guess::TLayoutGuess& Guess, const QStringList& TypeNames,
                               const QStringList& OrderNames) {
  lv_Candidates->setRootIsDecorated(false);
  lv_Candidates->setSelectionMode(QAbstractItemView::SingleSelection);
  lv_Candidates->setHeaderLabels({QStringLiteral("Layout"), QStringLiteral("Type"),
                                  QStringLiteral("Score"), QStringLiteral("Reason")});
  const QLocale locale;
  for (const guess::TLayoutCandidate& candidate : Guess.Candidates) {
    FLayouts.push_back(candidate.Layout);
    const QString reason = HostText(candidate.Reason);
    auto* item =
        new QTreeWidgetItem(lv_Candidates, {LayoutText(candidate.Layout),
                                            TypeText(candidate.Layout, TypeNames, OrderNames),
                                            locale.toString(candidate.Score, 'f', 2), reason});
    item->setToolTip(3, reason); // a long one is cut at the dialog's edge
  }
  for (int column = 0; column < 3; ++column)
    lv_Candidates->resizeColumnToContents(column);
  lv_Candidates->setCurrentItem(lv_Candidates->topLevelItem(0));

  QPushButton* ok = bb_Buttons->button(QDialogButtonBox::Ok);
  connect(lv_Candidates, &QTreeWidget::itemSelectionChanged, this,
          [this, ok] { ok->setEnabled(Chosen().has_value()); });
  connect(lv_Candidates, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
}

// Pictures are shown as painted, never enlarged.
void Tfm_GuessLayout::ShowPictures(const std::vector<TBitmap24>& Pictures) {
  const int rows = std::min(lv_Candidates->topLevelItemCount(), static_cast<int>(Pictures.size()));
  bool shown = false;
  for (int row = 0; row < rows; ++row) {
    const QPixmap pixmap = PixmapOf(Pictures[row]);
    if (pixmap.isNull())
      continue;
    lv_Candidates->topLevelItem(row)->setIcon(0, QIcon(pixmap));
    shown = true;
  }
  if (!shown)
    return;
  lv_Candidates->setIconSize(QSize(ThumbnailSide, ThumbnailSide));
  lv_Candidates->resizeColumnToContents(0);
}

std::optional<TLayout> Tfm_GuessLayout::Chosen() const {
  const QList<QTreeWidgetItem*> selected = lv_Candidates->selectedItems();
  if (selected.isEmpty())
    return std::nullopt;
  const int row = lv_Candidates->indexOfTopLevelItem(selected.front());
  return row >= 0 && row < static_cast<int>(FLayouts.size()) ? std::optional(FLayouts[row])
                                                             : std::nullopt;
}
