#include "ui/FrameShape.h"

#include <QPainter>

TFrameShape::TFrameShape(QWidget* Parent)
    : QWidget(Parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TFrameShape::paintEvent(QPaintEvent*) {
  constexpr int pen = 2;
  QPainter painter(this);
  const QColor blue(0, 0, 255);
  const int w = width();
  const int h = height();
  painter.fillRect(0, 0, w, std::min(pen, h), blue);
  painter.fillRect(0, std::max(h - pen, 0), w, std::min(pen, h), blue);
  painter.fillRect(0, 0, std::min(pen, w), h, blue);
  painter.fillRect(std::max(w - pen, 0), 0, std::min(pen, w), h, blue);
}
