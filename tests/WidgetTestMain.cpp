#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The offscreen platform cannot pass size hints to a window manager it does
// not have, and says so for every window; that is no finding of a test.
void QuietMessages(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
  if (Text.contains(QLatin1String("does not support propagateSizeHints")))
    return;
  qt_message_output(Type, Context, Text);
}

} // namespace

// Widget tests need one application object for the whole run. They run
// headless unless QT_QPA_PLATFORM asks for a real display.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  // Qt wants a private runtime folder; CI has none.
  const QTemporaryDir runtime;
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid())
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  qInstallMessageHandler(QuietMessages);
  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
