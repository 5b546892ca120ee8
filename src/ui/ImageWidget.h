#pragma once

#include "data/Bitmap24.h"

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <vector>

class QPainter;

// The view image: shows the bitmap that RenderView paints from the top-left
// corner, at 1:1 straight from the bitmap's own memory, at any other zoom step
// scaled by nearest voxel, only as far as the screen shows it.
class TImageWidget : public QWidget, public TImageControl {
  Q_OBJECT

public:
  explicit TImageWidget(QWidget* Parent = nullptr);

  TBitmap24& Picture() override { return FPicture; }
  const TBitmap24& Picture() const { return FPicture; }
  // Paints at once, so that a long redraw shows each view as it is finished.
  void Repaint() override { repaint(); }

  bool HasPicture() const { return FPicture.Bits() != nullptr; }
  // A copy of the bitmap that outlives later renders; null while there is no picture.
  QImage PictureImage() const;
  // Writes the bitmap as a 24-bit Windows BMP file whatever the name's
  // extension. Without a picture nothing is written and the result is true.
  bool SavePicture(const QString& FileName, QString* Error = nullptr) const;

  // The zoom step the picture is shown at (an index of zoom::ZoomSteps); the
  // caller sizes the widget.
  void SetZoomStep(int Step);
  int ZoomStep() const { return FZoomStep; }

signals:
  void MouseMoved(int X, int Y);
  // The wheel turned with Ctrl held, by Delta eighths of a degree, at Position.
  void ZoomWheel(int Delta, QPointF Position);

protected:
  void paintEvent(QPaintEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;

private:
  // Wraps the bitmap's memory without copying; valid until the next SetSize.
  QImage WrappedPicture() const;

  void PaintZoomed(QPainter& Painter, const QRect& Exposed);

  TBitmap24 FPicture;
  int FZoomStep;
  // The exposed part at the zoom step; kept, so that repaints reuse it.
  std::vector<uint8_t> FZoomedPixels;
};
