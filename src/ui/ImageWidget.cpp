#include "ui/ImageWidget.h"

#include "data/Zoom.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>
#include <QMouseEvent>
#include <QPainter>
#include <QSaveFile>
#include <QWheelEvent>

TImageWidget::TImageWidget(QWidget* Parent)
    : QWidget(Parent)
    , FZoomStep(zoom::ActualSize) {
  setMouseTracking(true);
}

void TImageWidget::SetZoomStep(int Step) {
  Step = zoom::ClampedStep(Step);
  if (Step == FZoomStep)
    return;
  FZoomStep = Step;
  update();
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

namespace {

// Writes every byte or fails with the file's own reason. A write cut short by
// a size limit or a full disk reports no error; only the next write does.
bool WriteAll(QSaveFile& File, const QByteArray& Bytes) {
  qint64 written = 0;
  while (written < Bytes.size()) {
    const qint64 count = File.write(Bytes.constData() + written, Bytes.size() - written);
    if (count <= 0)
      return false;
    written += count;
  }
  return true;
}

} // namespace

// The picture goes to a temporary file beside the target that takes the
// target's place only once every byte is written: a full disk or a size limit
// then leaves an existing file as it was and no partial one behind. The file
// is written unbuffered, because a failed flush of the buffer does not keep
// the temporary file from being committed.
bool TImageWidget::SavePicture(const QString& FileName, QString* Error) const {
  if (!HasPicture())
    return true;
  const QString shownName = QDir::toNativeSeparators(FileName);
  QByteArray bmp;
  QBuffer buffer(&bmp);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "bmp");
  QString failure;
  QSaveFile file(FileName);
  // Qt's BMP writer stores 32-bit RGB images as 24-bit rows, the bitmap's own form.
  if (!writer.write(WrappedPicture().convertToFormat(QImage::Format_RGB32)))
    failure = QStringLiteral("Cannot write file \"%1\". %2").arg(shownName, writer.errorString());
  else if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    failure = QStringLiteral("Cannot create file \"%1\". %2").arg(shownName, file.errorString());
  else if (WriteAll(file, bmp) && file.commit())
    return true;
  else
    failure = QStringLiteral("Cannot write file \"%1\". %2").arg(shownName, file.errorString());
  if (Error)
    *Error = failure;
  return false;
}

void TImageWidget::paintEvent(QPaintEvent* Event) {
  const QImage image = WrappedPicture();
  if (image.isNull())
    return;
  QPainter painter(this);
  if (FZoomStep == zoom::ActualSize)
    painter.drawImage(0, 0, image);
  else
    PaintZoomed(painter, Event->rect());
}

// Only the exposed pixels are scaled, so a view zoomed far in costs what the
// screen shows of it, never what the whole of it would be.
void TImageWidget::PaintZoomed(QPainter& Painter, const QRect& Exposed) {
  const QRect shown(0, 0, static_cast<int>(zoom::ZoomedLength(FPicture.Width(), FZoomStep)),
                    static_cast<int>(zoom::ZoomedLength(FPicture.Height(), FZoomStep)));
  const QRect area = Exposed & shown;
  if (area.isEmpty())
    return;
  const int64_t stride = (int64_t{area.width()} * 3 + 3) / 4 * 4;
  FZoomedPixels.resize(static_cast<size_t>(stride * area.height()));
  zoom::PaintZoomed(FPicture, FZoomStep, area.left(), area.top(), area.width(), area.height(),
                    FZoomedPixels.data(), stride);
  const QImage part(FZoomedPixels.data(), area.width(), area.height(), stride,
                    QImage::Format_BGR888);
  Painter.drawImage(area.topLeft(), part);
}

void TImageWidget::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint point = Event->position().toPoint();
  emit MouseMoved(point.x(), point.y());
  QWidget::mouseMoveEvent(Event);
}

// Without Ctrl the wheel goes on to the scroll area, which scrolls.
void TImageWidget::wheelEvent(QWheelEvent* Event) {
  if (!(Event->modifiers() & Qt::ControlModifier)) {
    Event->ignore();
    return;
  }
  Event->accept();
  emit ZoomWheel(Event->angleDelta().y(), Event->position());
}
