// Writes the program's icon as a PNG for the desktop entry, from the same
// drawing the running program uses for its windows, at the size a desktop
// asks for (32 pixels when none is given).
#include "ui/fm_About.h"

#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int NoSize = 0;

// The size argument as a number of pixels, or NoSize when it is not one.
int SizeOf(const char* Text) {
  char* end = nullptr;
  const long size = std::strtol(Text, &end, 10);
  return end != Text && *end == '\0' && size >= 1 && size <= 1024 ? static_cast<int>(size) : NoSize;
}

// The drawing is pixel art on a 32-pixel grid: whole multiples keep its hard
// edges, any other size is smoothed so that no grid line gets lost.
QImage IconAtSize(int Size) {
  const QImage icon = ProgramIconImage();
  const Qt::TransformationMode mode =
      Size % icon.width() == 0 ? Qt::FastTransformation : Qt::SmoothTransformation;
  return icon.scaled(Size, Size, Qt::IgnoreAspectRatio, mode);
}

} // namespace

int main(int argc, char** argv) {
  const int size = argc == 3 ? SizeOf(argv[2]) : 32;
  if ((argc != 2 && argc != 3) || size == NoSize) {
    std::fprintf(stderr, "usage: make_icon OUTPUT.png [SIZE]   (SIZE 1 to 1024 pixels)\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  if (!IconAtSize(size).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
