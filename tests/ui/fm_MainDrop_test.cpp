#include "QtPrinters.h"
#include "data/VxDataMgr.h"
#include "ui/MainWindowFixture.h"
#include "ui/fm_Main.h"

#include <QDragEnterEvent>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
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
  bool DropOn(QWidget* Control) { return DropOn(Control, Mime); }
  bool DropOn(QWidget* Control, QMimeData& Data) {
    const QPoint at(Control->width() / 2, Control->height() / 2);
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(at, offered, &Data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Control, &enter);
    QDragMoveEvent move(at, offered, &Data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Control, &move);
    Moved = move.isAccepted() ? move.dropAction() : Qt::IgnoreAction;
    QDropEvent drop(at, offered, &Data, Qt::NoButton, Qt::NoModifier);
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
  ASSERT_FALSE(Control<QTimer>("Timer1")->isActive());
  ASSERT_TRUE(DropOn(Control<QFrame>("pa_FileName")));
  EXPECT_EQ(Moved, Qt::CopyAction);
  EXPECT_EQ(Dropped, Qt::CopyAction);
  EXPECT_EQ(QString::fromStdString(DataMgr.FileName()), Paths[0]);
  EXPECT_EQ(Control<QLabel>("lb_FilePath")->text(), Paths[0]);
  EXPECT_TRUE(Control<QTimer>("Timer1")->isActive());
  QSignalSpy redrawn(&Window, &Tfm_Main::ViewsRedrawn);
  RedrawNow();
  EXPECT_EQ(redrawn.count(), 1);
}

// What every control shows and the data manager holds, to tell that a drop changed nothing.
QStringList WindowState(const Tfm_Main& Window, const TVxDataMgr& DataMgr) {
  QStringList state;
  for (const QLineEdit* edit : Window.findChildren<QLineEdit*>())
    state << edit->objectName() + QLatin1Char('=') + edit->text();
  for (const QLabel* label : Window.findChildren<QLabel*>())
    state << label->text();
  state << QString::number(DataMgr.Dims(0)) << QString::number(DataMgr.Dims(1))
        << QString::number(DataMgr.Dims(2)) << QString::number(DataMgr.IntensityMax())
        << QString::fromStdString(DataMgr.FileName());
  return state;
}

TEST_F(TMainDropTest, EveryControlButTheStripRefusesTextAndFiles) {
  RedrawNow();
  QMimeData text;
  text.setText(QStringLiteral("4096"));
  QMimeData files; // as file managers offer files: the list and the paths as text
  files.setUrls({QUrl::fromLocalFile(Paths[1])});
  files.setText(Paths[1]);
  const QStringList before = WindowState(Window, DataMgr);
  QSignalSpy pushes(&Window, &Tfm_Main::ParametersPushed);
  int swept = 0;
  for (QWidget* control : Window.findChildren<QWidget*>()) {
    if (control->window() != &Window || control == Control<QFrame>("pa_FileName") ||
        Control<QFrame>("pa_FileName")->isAncestorOf(control))
      continue;
    ++swept;
    for (QMimeData* data : {&text, &files}) {
      EXPECT_FALSE(DropOn(control, *data)) << control->objectName().toStdString();
      EXPECT_EQ(Moved, Qt::IgnoreAction) << control->objectName().toStdString();
    }
  }
  EXPECT_GT(swept, 50);
  EXPECT_EQ(WindowState(Window, DataMgr), before);
  EXPECT_EQ(pushes.count(), 0);
  EXPECT_FALSE(Control<QTimer>("Timer1")->isActive());
}

} // namespace
