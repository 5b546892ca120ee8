#pragma once

#include "data/Histogram.h"

#include <QWidget>
#include <cstdint>

// The bars of a histogram, one pixel column per wide bin and two per value
// of an 8-bit type, with the intensity window's ends as two vertical lines
// that the mouse drags. A message stands in the plot when there are no bars.
class THistogramPlot : public QWidget {
  Q_OBJECT

public:
  static constexpr int BarsWidth = 512;
  static constexpr int BarsHeight = 240;
  static constexpr int Margin = 8;
  // How near a press must come to a line to take hold of it.
  static constexpr int Grip = 6;

  explicit THistogramPlot(QWidget* Parent = nullptr);

  // The histogram is kept by reference and must outlive the plot's next paint.
  void SetHistogram(const THistogram& Histogram, const QString& Message);
  void SetWindow(int32_t Min, int32_t Max);
  void SetLogarithmic(bool Logarithmic);
  int32_t WindowMin() const { return FMin; }
  int32_t WindowMax() const { return FMax; }
  bool HasBars() const { return FHistogram && FMessage.isEmpty(); }
  const QString& Message() const { return FMessage; }

  // Widget x of a value, and the whole value (within the 32-bit range) at a
  // widget x; both follow the bars, so they mean something only while shown.
  double XOfValue(double Value) const;
  int32_t ValueAtX(int X) const;
  // The bin under widget x, or -1.
  int BinAtX(int X) const;

signals:
  // A line was dragged to Value: Max tells which.
  void EndDragged(bool Max, int32_t Value);
  void BinPointed(int Bin);
  void DoubleClicked();

protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void leaveEvent(QEvent* Event) override;

private:
  enum class TGrip { None, Min, Max };
  // The height in pixels of bin Bin's bar; 0 for none.
  int BarHeight(int Bin) const;
  void PaintBars(class QPainter& Painter) const;
  void PaintLine(QPainter& Painter, int32_t End, const QColor& Colour) const;
  int PixelsPerBin() const;

  const THistogram* FHistogram = nullptr;
  QString FMessage;
  int32_t FMin = 0;
  int32_t FMax = 0;
  bool FLogarithmic = false;
  TGrip FHeld = TGrip::None;
};
