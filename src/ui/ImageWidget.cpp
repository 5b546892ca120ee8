#include "ui/ImageWidget.h"

#include <QDir>
#include <QImageWriter>
#include <QMouseEvent>
#include <QPainter>

TImageWidget::TImageWidget(QWidget* Parent)
    : QWidget(Parent) {
  setMouseTracking(true);
}

QImage TImageWidget::WrappedPicture() const {
  if (!HasPicture())
    return QImage();
  return QImage(FPicture.Bits(), FPicture.Width(), FPicture.Height(), FPicture.Stride(),
                QImage::Format_BGR888);
}

QImage TImageWidget::PictureImage() const {
  return WrappedPicture().copy();
}

bool TImageWidget::SavePicture(const QString& FileName, QString* Error) const {
  if (!HasPicture())
    return true;
  QImageWriter writer(FileName, "bmp");
  // Qt's BMP writer stores 32-bit RGB images as 24-bit rows, the bitmap's own form.
  if (writer.write(WrappedPicture().convertToFormat(QImage::Format_RGB32)))
    return true;
  if (Error)
    *Error = QStringLiteral("Cannot create file \"%1\". %2")
                 .arg(QDir::toNativeSeparators(FileName), writer.errorString());
  return false;
}

void TImageWidget::paintEvent(QPaintEvent*) {
  const QImage image = WrappedPicture();
  if (image.isNull())
    return;
  QPainter painter(this);
  painter.drawImage(0, 0, image);
}

void TImageWidget::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint point = Event->position().toPoint();
  emit MouseMoved(point.x(), point.y());
  QWidget::mouseMoveEvent(Event);
}
