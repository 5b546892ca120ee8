// Writes the program's icon as a PNG for the desktop entry, from the same
// drawing the running program uses for its windows.
#include "ui/fm_About.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icon OUTPUT.png\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  if (!WriteProgramIconPng(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
