#include "ui/Anchors.h"

#include <QEvent>

namespace anchors {
namespace {

const char* const FollowerName = "AnchorFollower";

class TAnchorFollower : public QObject {
public:
  TAnchorFollower(QWidget* Child, Qt::Edges Edges)
      : QObject(Child)
      , FChild(Child)
      , FEdges(Edges) {
    setObjectName(FollowerName);
    const QWidget* parent = Child->parentWidget();
    FRight = parent->width() - Child->geometry().right() - 1;
    FBottom = parent->height() - Child->geometry().bottom() - 1;
    Child->parentWidget()->installEventFilter(this);
  }

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Watched == FChild->parentWidget() && Event->type() == QEvent::Resize)
      Follow();
    return false;
  }

private:
  void Follow() {
    const QWidget* parent = FChild->parentWidget();
    QRect bounds = FChild->geometry();
    if (FEdges & Qt::RightEdge) {
      const int right = parent->width() - FRight;
      if (FEdges & Qt::LeftEdge)
        bounds.setRight(right - 1);
      else
        bounds.moveRight(right - 1);
    }
    if (FEdges & Qt::BottomEdge) {
      const int bottom = parent->height() - FBottom;
      if (FEdges & Qt::TopEdge)
        bounds.setBottom(bottom - 1);
      else
        bounds.moveBottom(bottom - 1);
    }
    FChild->setGeometry(bounds);
  }

  QWidget* FChild;
  Qt::Edges FEdges;
  int FRight = 0;
  int FBottom = 0;
};

} // namespace

void Anchor(QWidget* Child, Qt::Edges Edges) {
  for (QObject* old : Child->findChildren<QObject*>(FollowerName, Qt::FindDirectChildrenOnly))
    delete old;
  if (Child->parentWidget())
    new TAnchorFollower(Child, Edges);
}

} // namespace anchors
