#pragma once

#include "data/Bitmap24.h"

#include <QImage>
#include <QWidget>

// The view image: shows the bitmap that RenderView paints, unscaled from the
// top-left corner, straight from the bitmap's own memory.
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

signals:
  void MouseMoved(int X, int Y);

protected:
  void paintEvent(QPaintEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;

private:
  // Wraps the bitmap's memory without copying; valid until the next SetSize.
  QImage WrappedPicture() const;

  TBitmap24 FPicture;
};
