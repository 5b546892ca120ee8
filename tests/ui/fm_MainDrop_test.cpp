#include "data/VxDataMgr.h"
#include "ui/MainWindowFixture.h"
#include "ui/fm_Main.h"

#include <QDragEnterEvent>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

class TMainDropTest : public TMainWindowTest {
protected:
  TMainDropTest() {
    for (const char* name : {"first file.raw", "second.raw", "third.raw"}) {
      QString path = Folder.filePath(QString::fromLatin1(name));
      QFile file(path);
      EXPECT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(QByteArray(64, '\x10'));
      Paths << path;
    }
    QList<QUrl> urls{QUrl("https://example.com/remote.raw")};
    for (const QString& path : Paths)
      urls << QUrl::fromLocalFile(path);
    Mime.setUrls(urls);
  }

  // Enter, move and drop at the middle of Control as a drag from the desktop
  // would; true when the drop was accepted.
  bool DropOn(QWidget* Control) {
    const QPoint at(Control->width() / 2, Control->height() / 2);
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(at, offered, &Mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Control, &enter);
    QDragMoveEvent move(at, offered, &Mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Control, &move);
    Moved = move.isAccepted() ? move.dropAction() : Qt::IgnoreAction;
    QDropEvent drop(at, offered, &Mime, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Control, &drop);
    Dropped = drop.dropAction();
    return drop.isAccepted();
  }

  QTemporaryDir Folder;
  QStringList Paths;
  QMimeData Mime;
  Qt::DropAction Moved = Qt::IgnoreAction;
  Qt::DropAction Dropped = Qt::IgnoreAction;
};

TEST_F(TMainDropTest, ThreeFilesOnTheStripOpenTheFirstLocalOne) {
  RedrawNow();
  ASSERT_FALSE(Window.Timer1->isActive());
  ASSERT_TRUE(DropOn(Window.pa_FileName));
  EXPECT_EQ(Moved, Qt::CopyAction);
  EXPECT_EQ(Dropped, Qt::CopyAction);
  EXPECT_EQ(QString::fromStdString(DataMgr.FileName()), Paths[0]);
  EXPECT_EQ(Window.lb_FilePath->text(), Paths[0]);
  EXPECT_TRUE(Window.Timer1->isActive());
  QSignalSpy redrawn(&Window, &Tfm_Main::ViewsRedrawn);
  RedrawNow();
  EXPECT_EQ(redrawn.count(), 1);
}

TEST_F(TMainDropTest, ViewPanelsAndTheRestOfTheWindowRefuse) {
  const QString before = Window.lb_FilePath->text();
  for (QWidget* control :
       {static_cast<QWidget*>(Window.pa_Slice), static_cast<QWidget*>(Window.pa_OtherVolume),
        static_cast<QWidget*>(Window.pa_Top)}) {
    EXPECT_FALSE(DropOn(control)) << control->objectName().toStdString();
    EXPECT_FALSE(control->acceptDrops());
  }
  EXPECT_EQ(Window.lb_FilePath->text(), before);
  EXPECT_TRUE(DataMgr.FileName().empty());
}

} // namespace
