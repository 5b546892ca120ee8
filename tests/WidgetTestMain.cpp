#include <QApplication>
#include <gtest/gtest.h>

// Widget tests need one application object for the whole run. They run
// headless unless QT_QPA_PLATFORM asks for a real display.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
