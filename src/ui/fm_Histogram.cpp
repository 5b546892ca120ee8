#include "ui/fm_Histogram.h"

#include "data/IntensityWindow.h"
#include "data/VxDataMgr.h"
#include "ui/HistogramPlot.h"
#include "ui/WindowFont.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

QString CountText(int64_t Count) {
  return QLocale().toString(static_cast<qlonglong>(Count));
}

// A count beside the plot, on the colour the views paint such values in.
QLabel* MakeCount(QWidget* Parent, QVBoxLayout* Column, const char* Name, uint32_t Colour) {
  auto* label = new QLabel(Parent);
  label->setObjectName(QString::fromLatin1(Name));
  label->setTextFormat(Qt::PlainText);
  label->setMargin(2);
  if (Colour != 0) {
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(Colour));
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
  }
  Column->addWidget(label);
  return label;
}

TVoxelValue OneLess(TVoxelValue Value) {
  if (Value.Kind == TVoxelValue::Signed)
    --Value.SignedValue;
  else if (Value.Kind == TVoxelValue::Unsigned)
    --Value.UnsignedValue;
  return Value;
}

bool Before(const TVoxelValue& A, const TVoxelValue& B) {
  if (A.Kind == TVoxelValue::Signed)
    return A.SignedValue < B.SignedValue;
  if (A.Kind == TVoxelValue::Unsigned)
    return A.UnsignedValue < B.UnsignedValue;
  return A.RealValue < B.RealValue;
}

} // namespace

QString VoxelValueText(const TVoxelValue& Value) {
  const QLocale locale;
  switch (Value.Kind) {
  case TVoxelValue::Signed:
    return locale.toString(static_cast<qlonglong>(Value.SignedValue));
  case TVoxelValue::Unsigned:
    return locale.toString(static_cast<qulonglong>(Value.UnsignedValue));
  case TVoxelValue::Real:
    break;
  }
  // Positional digits where they stay short, an exponent beyond.
  const double magnitude = std::fabs(Value.RealValue);
  const bool positional = magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e15);
  return locale.toString(Value.RealValue, positional ? 'f' : 'g', QLocale::FloatingPointShortest);
}

Tfm_Histogram::Tfm_Histogram(const TVxDataMgr& DataManager, QWidget* Parent)
    : QWidget(Parent, Qt::Window)
    , FDataMgr(DataManager) {
  setObjectName(QStringLiteral("fm_Histogram"));
  setWindowTitle(QStringLiteral("Histogram"));
  setFont(WindowFont());
  BuildControls();
  ShowCounts();
}

void Tfm_Histogram::BuildControls() {
  auto* row = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  img_Histogram = new THistogramPlot(this);
  img_Histogram->setObjectName(QStringLiteral("img_Histogram"));
  left->addWidget(img_Histogram);
  lb_Bin = new QLabel(this);
  lb_Bin->setObjectName(QStringLiteral("lb_Bin"));
  lb_Bin->setTextFormat(Qt::PlainText);
  left->addWidget(lb_Bin);
  auto* buttons = new QHBoxLayout;
  ck_Logarithmic = new QCheckBox(QStringLiteral("&Logarithmic counts"), this);
  ck_Logarithmic->setObjectName(QStringLiteral("ck_Logarithmic"));
  bt_Percentile = new QPushButton(QStringLiteral("&Window from 0.5 % to 99.5 %"), this);
  bt_Percentile->setObjectName(QStringLiteral("bt_Percentile"));
  buttons->addWidget(ck_Logarithmic);
  buttons->addStretch();
  buttons->addWidget(bt_Percentile);
  left->addLayout(buttons);
  row->addLayout(left);

  auto* column = new QVBoxLayout;
  lb_Values = MakeCount(this, column, "lb_Values", 0);
  lb_Low = MakeCount(this, column, "lb_Low", 0);
  lb_High = MakeCount(this, column, "lb_High", 0);
  column->addSpacing(8);
  lb_Under = MakeCount(this, column, "lb_Under", colour::Green);
  lb_Over = MakeCount(this, column, "lb_Over", colour::Red);
  lb_NaN = MakeCount(this, column, "lb_NaN", colour::Yellow);
  // The views flag +infinity as over the window and -infinity as under it.
  lb_PlusInfinity = MakeCount(this, column, "lb_PlusInfinity", colour::Red);
  lb_MinusInfinity = MakeCount(this, column, "lb_MinusInfinity", colour::Green);
  column->addStretch();
  row->addLayout(column);

  connect(ck_Logarithmic, &QCheckBox::toggled, img_Histogram, &THistogramPlot::SetLogarithmic);
  connect(bt_Percentile, &QPushButton::clicked, this, &Tfm_Histogram::bt_PercentileClick);
  connect(img_Histogram, &THistogramPlot::DoubleClicked, this, &Tfm_Histogram::bt_PercentileClick);
  connect(img_Histogram, &THistogramPlot::EndDragged, this, &Tfm_Histogram::EndTyped);
  connect(img_Histogram, &THistogramPlot::BinPointed, this, &Tfm_Histogram::ShowBin);
}

void Tfm_Histogram::FollowSlice() {
  FType = FDataMgr.VoxelType();
  FOrder = FDataMgr.ByteOrder();
  FFileOpen = FDataMgr.IsOpen();
  FFollowed = true;
  FStale = true;
  if (isVisible())
    CountAlongRender();
}

void Tfm_Histogram::SetWindow(int32_t Min, int32_t Max) {
  img_Histogram->SetWindow(Min, Max);
}

void Tfm_Histogram::Recount() {
  StartCount();
  ShowCount();
}

void Tfm_Histogram::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  if (FStale)
    Recount();
}

// The buffer as it is now, read as the last render's type: a render that
// failed part way may have left a count of another type, so the count never
// reaches past the buffer.
THistogramSource Tfm_Histogram::SourceNow() const {
  if (!FFollowed || !FFileOpen)
    return {};
  const std::vector<uint8_t>& buffer = FDataMgr.ViewBuffer(vkSlice);
  const int64_t whole = static_cast<int64_t>(buffer.size()) / BytesPerVoxel[FType];
  // The render's slice range, in singles, is often the range exactly.
  return {buffer.data(),
          std::min(FDataMgr.ViewVoxelCount(vkSlice), whole),
          FType,
          FOrder,
          FDataMgr.SliceMin(),
          FDataMgr.SliceMax()};
}

// The other views paint meanwhile: the data manager keeps the first view's
// buffer as it is until the count has ended.
void Tfm_Histogram::StartCount() {
  auto counting = std::make_shared<THistogram>();
  FDataMgr.ReadViewAside(
      vkSlice, [counting, source = SourceNow(), min = FDataMgr.IntensityMin(),
                max = FDataMgr.IntensityMax()] { *counting = ComputeHistogram(source, min, max); });
  FCounting = std::move(counting);
}

// Each piece is counted as the render makes it final, while it is still in
// the cache: by the end of the render the count is nearly done.
void Tfm_Histogram::CountAlongRender() {
  auto counting = std::make_shared<THistogram>();
  const bool guessed = FGuessType == FType && FGuessOrder == FOrder && FFileOpen &&
                       FGuessFile == FDataMgr.FileName();
  THistogramSource source{
      nullptr, 0, FType, FOrder, guessed ? FGuessLow : NAN, guessed ? FGuessHigh : NAN};
  const bool open = FFileOpen;
  FDataMgr.ReadViewAlongRender(
      vkSlice, [counting, source, open, min = FDataMgr.IntensityMin(),
                max = FDataMgr.IntensityMax()](const TVxDataMgr::TViewAsRead& View) {
        THistogramSource read = source;
        if (open) {
          read.Bytes = View.Bytes;
          read.Count = View.Size / BytesPerVoxel[read.Type];
          read.Progress = View.Progress.get();
        }
        *counting = ComputeHistogram(read, min, max);
      });
  FCounting = std::move(counting);
}

// The next count's guess: this count's range, for as long as the file, type
// and order stay.
void Tfm_Histogram::KeepGuess() {
  const bool spread = FHistogram.Shape == THistogram::Spread;
  FGuessLow = spread ? FHistogram.Low.AsDouble() : NAN;
  FGuessHigh = spread ? FHistogram.High.AsDouble() : NAN;
  FGuessType = FType;
  FGuessOrder = FOrder;
  FGuessFile = FDataMgr.FileName();
}

void Tfm_Histogram::ShowCount() {
  if (!FCounting)
    return;
  const std::shared_ptr<THistogram> counted = std::move(FCounting);
  FDataMgr.WaitForReadAside();
  FHistogram = std::move(*counted);
  FStale = false;
  KeepGuess();
  img_Histogram->SetHistogram(FHistogram, Message());
  img_Histogram->SetWindow(FDataMgr.IntensityMin(), FDataMgr.IntensityMax());
  ShowCounts();
}

QString Tfm_Histogram::Message() const {
  if (!FFollowed || !FFileOpen)
    return QStringLiteral("No file is open.");
  switch (FHistogram.Shape) {
  case THistogram::NoValues:
    return QStringLiteral("No values of this slice lie in the file.");
  case THistogram::NoNumbers:
    return FHistogram.NaN == FHistogram.Values
               ? QStringLiteral("Every value of this slice is NaN.")
               : QStringLiteral("No value of this slice is a finite number: it holds only NaNs "
                                "and infinities.");
  case THistogram::OneValue: {
    const bool all = FHistogram.NaN + FHistogram.PlusInfinity + FHistogram.MinusInfinity == 0;
    return QStringLiteral("Every %1value of this slice is %2.")
        .arg(all ? QString() : QStringLiteral("finite "), VoxelValueText(FHistogram.Low));
  }
  case THistogram::Spread:
    break;
  }
  return {};
}

void Tfm_Histogram::ShowCounts() {
  const bool finite =
      FHistogram.Shape == THistogram::OneValue || FHistogram.Shape == THistogram::Spread;
  lb_Values->setText(QStringLiteral("In the file: ") + CountText(FHistogram.Values));
  lb_Low->setText(QStringLiteral("Lowest: ") +
                  (finite ? VoxelValueText(FHistogram.Low) : QStringLiteral("none")));
  lb_High->setText(QStringLiteral("Highest: ") +
                   (finite ? VoxelValueText(FHistogram.High) : QStringLiteral("none")));
  lb_Under->setText(QStringLiteral("Under the window: ") + CountText(FHistogram.Under));
  lb_Over->setText(QStringLiteral("Over the window: ") + CountText(FHistogram.Over));
  lb_NaN->setText(QStringLiteral("NaN: ") + CountText(FHistogram.NaN));
  lb_PlusInfinity->setText(QStringLiteral("+Infinity: ") + CountText(FHistogram.PlusInfinity));
  lb_MinusInfinity->setText(QStringLiteral("-Infinity: ") + CountText(FHistogram.MinusInfinity));
  bt_Percentile->setEnabled(finite);
  ShowBin(-1);
}

// Integer bins read as the whole values they hold, both ends included; a
// bin narrower than one integer holds none.
void Tfm_Histogram::ShowBin(int Bin) {
  if (Bin < 0 || Bin >= FHistogram.BinCount() || !img_Histogram->HasBars()) {
    lb_Bin->setText(QStringLiteral("Point at a bar to read its count."));
    return;
  }
  const std::vector<TVoxelValue>& edges = FHistogram.Edges;
  const QString count = CountText(FHistogram.Bins[Bin]);
  if (FHistogram.OnePerValue()) {
    lb_Bin->setText(QStringLiteral("Value %1: %2").arg(VoxelValueText(edges[Bin]), count));
    return;
  }
  const bool last = Bin + 1 == FHistogram.BinCount();
  QString range;
  if (edges[Bin].Kind == TVoxelValue::Real)
    range = QStringLiteral("%1 to %2%3")
                .arg(VoxelValueText(edges[Bin]), last ? QString() : QStringLiteral("under "),
                     VoxelValueText(edges[Bin + 1]));
  else if (!last && !Before(edges[Bin], edges[Bin + 1]))
    range = QStringLiteral("%1 (no whole value)").arg(VoxelValueText(edges[Bin]));
  else
    range = QStringLiteral("%1 to %2")
                .arg(VoxelValueText(edges[Bin]),
                     VoxelValueText(last ? edges[Bin + 1] : OneLess(edges[Bin + 1])));
  lb_Bin->setText(QStringLiteral("Bin %1, %2: %3").arg(QString::number(Bin), range, count));
}

void Tfm_Histogram::bt_PercentileClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::optional<TWindowEnds> window = PercentileWindow(SourceNow());
  QApplication::restoreOverrideCursor();
  if (!window)
    return;
  emit EndTyped(false, window->Min);
  emit EndTyped(true, window->Max);
}
