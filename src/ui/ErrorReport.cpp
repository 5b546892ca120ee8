#include "ui/ErrorReport.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <exception>

namespace {

// Error texts often carry file names, and a file may be named like markup.
void ShowErrorBox(const QString& Text) {
  const QString name = QCoreApplication::applicationName();
  QMessageBox box(QMessageBox::Critical, name.isEmpty() ? QStringLiteral("Error") : name, QString(),
                  QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.setText(Text);
  box.exec();
}

TErrorReporter& CurrentReporter() {
  static TErrorReporter reporter = ShowErrorBox;
  return reporter;
}

} // namespace

TErrorReporter SetErrorReporter(TErrorReporter Reporter) {
  TErrorReporter previous = std::move(CurrentReporter());
  CurrentReporter() = Reporter ? std::move(Reporter) : TErrorReporter(ShowErrorBox);
  return previous;
}

void ReportUnhandledError(const QString& Text) {
  // A copy, so that a reporter may replace itself while it runs.
  const TErrorReporter reporter = CurrentReporter();
  reporter(Text);
}

bool DeliverGuarded(const std::function<bool()>& Deliver) {
  try {
    return Deliver();
  } catch (const std::exception& error) {
    ReportUnhandledError(QString::fromUtf8(error.what()));
  } catch (...) {
    ReportUnhandledError(QStringLiteral("An unknown error occurred."));
  }
  return false;
}

TZandrelApplication::TZandrelApplication(int& Argc, char** Argv)
    : QApplication(Argc, Argv) {}

bool TZandrelApplication::notify(QObject* Receiver, QEvent* Event) {
  return DeliverGuarded([&] { return QApplication::notify(Receiver, Event); });
}
