#pragma once

#include <QApplication>
#include <QString>
#include <functional>

// Shows the text of an error that no handler dealt with. The default shows a
// message box titled with the application's name; tests put their own in.
using TErrorReporter = std::function<void(const QString& Text)>;

// An empty reporter brings the message box back. Returns the one replaced.
TErrorReporter SetErrorReporter(TErrorReporter Reporter);
void ReportUnhandledError(const QString& Text);

// Runs one event delivery; an exception escaping it is reported instead of
// ending the program, and the delivery then counts as not handled.
bool DeliverGuarded(const std::function<bool()>& Deliver);

// The application object: every event goes through DeliverGuarded, so an
// exception thrown by any handler shows its text and the program goes on.
class TZandrelApplication : public QApplication {
  Q_OBJECT

public:
  TZandrelApplication(int& Argc, char** Argv);
  bool notify(QObject* Receiver, QEvent* Event) override;
};
