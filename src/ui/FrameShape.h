#pragma once

#include <QWidget>

// The blue frame drawn around a view image: a rectangle with a 2-pixel pen and
// no fill, lying just outside the image on all four sides.
class TFrameShape : public QWidget {
public:
  explicit TFrameShape(QWidget* Parent = nullptr);

protected:
  void paintEvent(QPaintEvent* Event) override;
};
