#pragma once

#include "data/VxDataMgr.h"
#include "ui/fm_Main.h"

#include <QLineEdit>
#include <QLocale>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

// A control of the window, found by its object name. A missing one ends the
// test with its name instead of a null pointer to crash on.
template <typename T = QWidget> T* ControlOf(const QObject& Window, const char* Name) {
  auto* control = Window.findChild<T*>(QString::fromLatin1(Name));
  if (!control)
    throw std::logic_error(std::string("no control named ") + Name);
  return control;
}

// A shown, activated main window over a data manager of its own, in an
// English locale.
class TMainWindowTest : public testing::Test {
protected:
  TMainWindowTest() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Window.SetFileDescription(QStringLiteral("Zandrel Viewer"));
    // Shown, so that resizes reach the anchored controls at once; showing
    // also sets the defaults.
    Window.show();
  }
  ~TMainWindowTest() override { QLocale::setDefault(QLocale::system()); }

  template <typename T = QWidget> T* Control(const char* Name) {
    return ControlOf<T>(Window, Name);
  }

  // Replaces the text as a user would: select all, then type.
  void TypeInto(QLineEdit* Edit, const QString& Text) {
    Edit->selectAll();
    QTest::keyClicks(Edit, Text);
  }

  // Runs the pending redraw now instead of waiting for the timer.
  void RedrawNow() {
    if (Control<QTimer>("Timer1")->isActive())
      Window.Timer1Timer();
  }

  // The next control that the Tab key reaches.
  static QWidget* NextTabStop(QWidget* From) {
    QWidget* next = From->nextInFocusChain();
    while (next != From && !(next->focusPolicy() & Qt::TabFocus))
      next = next->nextInFocusChain();
    return next;
  }

  TVxDataMgr DataMgr;
  Tfm_Main Window{DataMgr};
};
