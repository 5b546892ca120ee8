#include "ui/HistogramPlot.h"

#include "data/IntensityWindow.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Halves first, so that the range of doubles spread over the whole exponent range stays finite.
double HalfOf(const TVoxelValue& Value) {
  return Value.AsDouble() / 2.0;
}

} // namespace

THistogramPlot::THistogramPlot(QWidget* Parent)
    : QWidget(Parent) {
  setFixedSize(BarsWidth + 2 * Margin, BarsHeight + 2 * Margin);
  setMouseTracking(true);
}

void THistogramPlot::SetHistogram(const THistogram& Histogram, const QString& Message) {
  FHistogram = &Histogram;
  FMessage = Message;
  FHeld = TGrip::None;
  update();
}

void THistogramPlot::SetWindow(int32_t Min, int32_t Max) {
  FMin = Min;
  FMax = Max;
  update();
}

void THistogramPlot::SetLogarithmic(bool Logarithmic) {
  FLogarithmic = Logarithmic;
  update();
}

int THistogramPlot::PixelsPerBin() const {
  return FHistogram && FHistogram->BinCount() > 0 ? BarsWidth / FHistogram->BinCount() : 1;
}

// One value per bin puts each value in the middle of its two columns; wide
// bins spread Low .. High over the whole width.
double THistogramPlot::XOfValue(double Value) const {
  if (!HasBars())
    return Margin;
  if (FHistogram->OnePerValue())
    return Margin + (Value - FHistogram->Edges[0].AsDouble()) * PixelsPerBin() +
           0.5 * PixelsPerBin();
  const double low = HalfOf(FHistogram->Low), high = HalfOf(FHistogram->High);
  return Margin + (Value / 2.0 - low) / (high - low) * BarsWidth;
}

int32_t THistogramPlot::ValueAtX(int X) const {
  if (!HasBars())
    return 0;
  const double offset = std::clamp(X - Margin, 0, BarsWidth);
  double value;
  if (FHistogram->OnePerValue()) {
    value = FHistogram->Edges[0].AsDouble() + std::min(offset, BarsWidth - 1.0) / PixelsPerBin();
    value = std::floor(value);
  } else {
    const double low = HalfOf(FHistogram->Low), high = HalfOf(FHistogram->High);
    value = std::round(2.0 * (low + offset / BarsWidth * (high - low)));
  }
  constexpr double least = std::numeric_limits<int32_t>::min();
  constexpr double most = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(std::clamp(value, least, most));
}

int THistogramPlot::BinAtX(int X) const {
  if (!HasBars() || X < Margin || X >= Margin + BarsWidth)
    return -1;
  return (X - Margin) / PixelsPerBin();
}

void THistogramPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect bars(Margin, Margin, BarsWidth, BarsHeight);
  painter.fillRect(rect(), palette().window());
  painter.fillRect(bars, Qt::white);
  painter.setPen(Qt::gray);
  painter.drawRect(bars.adjusted(-1, -1, 0, 0));
  if (!HasBars()) {
    painter.setPen(Qt::black);
    painter.drawText(bars.adjusted(12, 0, -12, 0), Qt::AlignCenter | Qt::TextWordWrap, FMessage);
    return;
  }
  PaintBars(painter);
  PaintLine(painter, FMin, QColor::fromRgb(colour::Green).darker(140));
  PaintLine(painter, FMax, QColor::fromRgb(colour::Red));
}

// Any bin that holds a value shows at least one pixel.
int THistogramPlot::BarHeight(int Bin) const {
  if (Bin < 0 || !HasBars())
    return 0;
  const std::vector<int64_t>& bins = FHistogram->Bins;
  const int64_t most = *std::max_element(bins.begin(), bins.end());
  if (bins[static_cast<size_t>(Bin)] == 0)
    return 0;
  const auto scaled = [this](int64_t Count) {
    const auto count = static_cast<double>(Count);
    return FLogarithmic ? std::log1p(count) : count;
  };
  const double share = scaled(bins[static_cast<size_t>(Bin)]) / scaled(most);
  return std::max(1, static_cast<int>(std::lround(share * BarsHeight)));
}

void THistogramPlot::PaintBars(QPainter& Painter) const {
  const int width = PixelsPerBin();
  for (int k = 0; k < FHistogram->BinCount(); ++k)
    if (const int height = BarHeight(k); height > 0)
      Painter.fillRect(Margin + k * width, Margin + BarsHeight - height, width, height,
                       QColor(64, 64, 64));
}

// An end beyond the bars is drawn dashed at the edge it lies past. It stops
// above the bars it crosses, which would hide them, and a mark in the margin
// above the plot shows it over a bar of the full height too.
void THistogramPlot::PaintLine(QPainter& Painter, int32_t End, const QColor& Colour) const {
  const double x = XOfValue(End);
  const double shown = std::clamp(x, double{Margin}, double{Margin + BarsWidth});
  const int column = static_cast<int>(std::lround(shown));
  int under = 0; // the tallest bar the line's two columns cross
  for (const int at : {column - 1, column})
    under = std::max(under, BarHeight(BinAtX(at)));
  QPen pen(Colour, 2, shown == x ? Qt::SolidLine : Qt::DashLine);
  Painter.setPen(pen);
  if (under < BarsHeight)
    Painter.drawLine(column, Margin, column, Margin + BarsHeight - 1 - under);
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(Colour);
  const QPoint mark[] = {{column - 4, 0}, {column + 4, 0}, {column, Margin - 1}};
  Painter.drawPolygon(mark, 3);
}

void THistogramPlot::mousePressEvent(QMouseEvent* Event) {
  if (!HasBars() || Event->button() != Qt::LeftButton)
    return;
  const double x = Event->position().x();
  const auto distance = [&](int32_t End) {
    return std::abs(std::clamp(XOfValue(End), double{Margin}, double{Margin + BarsWidth}) - x);
  };
  const double toMin = distance(FMin), toMax = distance(FMax);
  if (std::min(toMin, toMax) > Grip)
    return;
  // Lines on top of each other: the one the drag moves away from the other is meant.
  FHeld = toMin < toMax ? TGrip::Min : toMax < toMin ? TGrip::Max : TGrip::None;
  if (FHeld == TGrip::None)
    FHeld = x < XOfValue(FMin) ? TGrip::Min : TGrip::Max;
}

void THistogramPlot::mouseMoveEvent(QMouseEvent* Event) {
  const int x = static_cast<int>(std::lround(Event->position().x()));
  emit BinPointed(BinAtX(x));
  if (FHeld == TGrip::None)
    return;
  const int32_t value = ValueAtX(x);
  const bool max = FHeld == TGrip::Max;
  if (value != (max ? FMax : FMin))
    emit EndDragged(max, value);
}

void THistogramPlot::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton)
    FHeld = TGrip::None;
}

void THistogramPlot::mouseDoubleClickEvent(QMouseEvent* Event) {
  FHeld = TGrip::None;
  if (HasBars() && Event->button() == Qt::LeftButton)
    emit DoubleClicked();
}

void THistogramPlot::leaveEvent(QEvent*) {
  emit BinPointed(-1);
}
