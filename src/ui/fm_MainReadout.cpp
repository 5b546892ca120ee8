// The pointer readout: the indices, value, voxel number and byte offset of the
// voxel under the pointer, from what the last redraw read - never the file.
#include "data/VxDataMgr.h"
#include "data/Zoom.h"
#include "ui/ImageWidget.h"
#include "ui/NumberText.h"
#include "ui/fm_Main.h"

#include <QLabel>
#include <algorithm>
#include <cmath>

QString PadLeft(int64_t Number, int Width) {
  return QString::number(Number).rightJustified(Width, QLatin1Char(' '));
}

// "XXXX.XXXX" while the offset fits in 32 bits (negative ones as their 32-bit
// pattern); longer offsets keep all their digits, in groups of four.
QString OffsetHex(int64_t Offset) {
  if (Offset >= INT32_MIN && Offset <= int64_t{0xFFFFFFFF}) {
    const QString digits =
        QStringLiteral("%1").arg(static_cast<uint32_t>(Offset), 8, 16, QLatin1Char('0')).toUpper();
    return digits.left(4) + QLatin1Char('.') + digits.right(4);
  }
  QString digits = QString::number(static_cast<qulonglong>(Offset), 16).toUpper();
  for (qsizetype at = digits.size() - 4; at > 0; at -= 4)
    digits.insert(at, QLatin1Char('.'));
  return digits;
}

namespace {

// Integers exactly as stored, floats with four decimals; only a float64 can
// reach hundreds of digits in fixed point, so from 10^15 up it turns scientific.
QString VoxelValueText(const TVoxelValue& Value, TVoxelType Type) {
  switch (Value.Kind) {
  case TVoxelValue::Signed:
    return WholeText(Value.SignedValue, 10);
  case TVoxelValue::Unsigned:
    return WholeText(Value.UnsignedValue, 10);
  case TVoxelValue::Real:
    break;
  }
  const double real = Value.RealValue;
  if (Type == vtFloat64 && std::isfinite(real) && std::fabs(real) >= 1e15)
    return ScientificText(real, 4, 10);
  return FixedText(real, 4, 10);
}

} // namespace

void Tfm_Main::ImageMouseMove(QWidget* Sender, int X, int Y) {
  int view = 0;
  while (view < ViewKindCount && ViewImages[view] != Sender)
    ++view;
  if (view == ViewKindCount)
    return;
  // The voxel whose square the pointer is in, at the step the image shows.
  const int step = ViewImages[view]->ZoomStep();
  X = zoom::VoxelAt(X, step);
  Y = zoom::VoxelAt(Y, step);
  int32_t index[4] = {X, Y, FCurSlice, 0};
  if (view == vkNextSlice)
    index[2] = NextSlice();
  else if (view == vkCrossSlice)
    index[1] = FCurCrossRow, index[2] = Y;
  else if (view == vkOtherVolume)
    index[3] = FCurVolume;

  StatusPanels[0]->setText(QStringLiteral("[") + PadLeft(index[0], 4) + QStringLiteral(", ") +
                           PadLeft(index[1], 4) + QStringLiteral(", ") + PadLeft(index[2], 4) +
                           QStringLiteral(", ") + PadLeft(index[3], 4) + QStringLiteral(" ]"));
  const int64_t voxel = FDataMgr.VoxelIndex(index[0], index[1], index[2], index[3]);
  const int64_t offset = FDataMgr.VoxelFileOffset(index[0], index[1], index[2], index[3]);
  StatusPanels[2]->setText(QStringLiteral("Voxel: ") + GroupedText(voxel, 10) +
                           QStringLiteral("  Byte Offset: ") + GroupedText(offset, 10) +
                           QStringLiteral(" = 0x") + OffsetHex(offset));
  const TVoxelValue value = FDataMgr.ProbeVoxel(static_cast<TViewKind>(view), X, Y);
  ShowValueText(QStringLiteral("Intens: ") + VoxelValueText(value, FDataMgr.VoxelType()));
}

// The value panel keeps its design width; only a 64-bit integer too long for
// it widens it, for as long as such a value is shown, so no digit is cut.
void Tfm_Main::ShowValueText(const QString& Text) {
  QLabel* panel = StatusPanels[1];
  panel->setText(Text);
  const int margins = panel->width() - panel->contentsRect().width();
  const int needed = panel->fontMetrics().horizontalAdvance(Text) + margins;
  panel->setFixedWidth(std::max(ValuePanelWidth, needed));
}
