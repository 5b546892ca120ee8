#include "ui/fm_Help.h"

#include "ui/WindowFont.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

const QStringList& HelpLines() {
  static const QStringList lines = {
      "Zandrel   Econo-Help",
      QString(91, u'-'),
      "Zandrel lets you inspect the actual orientation of data as actually stored in a data file.",
      "",
      "Zandrel is absolutely format-oblivious, and hence is not inverting, flipping or otherwise "
      "obscuring the data.",
      "",
      "Index 0: The most-rapidly-changing index, displays left-to-right across the top row of an "
      "image.",
      "Index 1: Next-most-rapidly-changing index, displays top-to-bottom of images (except "
      "cross-slice).",
      "Index 2: Can be selected for first image and displays top-to-bottom in cross-slice image.",
      "Index 3: \"Volume number\", can be selected for \"Other Volume\" image.",
      "",
      "Basic Operation:",
      QString(26, u'-'),
      "To open any file, use File > Open or drag a file from Explorer to Filename area.",
      "",
      "Use controls in top bar to set your guess as to how image data is stored in file.",
      "",
      "Select a Slice index, and possibly a Cross-Slice and Volume index.",
      "",
      "Adjust intensity range to suit (you can \"apply\" from first slice image).",
      "",
      "Display",
      QString(12, u'-'),
      "Note Coordinates, Intensity and Offset (in file) in Statusbar as you mouse over images.",
      "",
      "Light blue in image area indicates addresses beyond actual file.",
      "",
      // Bad numbers are painted yellow; red marks values above the intensity window.
      "Yellow in image area indicates really bad number (usually wrong-endian float).",
      "",
      "Hints:",
      QString(9, u'-'),
      "-- Slice 0 is usually all-black. Choose slice from middle of volume to see something.",
      "",
      "-- Disable cross-slice view if it's slow reading the disk.",
      "",
  };
  return lines;
}

namespace {} // namespace

Tfm_Help::Tfm_Help(QWidget* Parent)
    : QDialog(Parent) {
  setObjectName("fm_Help");
  setWindowTitle("Help");
  setWindowFlag(Qt::WindowMinMaxButtonsHint);
  setFont(WindowFont());
  // Client size of the 560 x 523 window with its sizable frame.
  resize(552, 489);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  // Read-only still lets the reader move the caret and select with the keyboard.
  Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The last line is empty, so the text ends in a line break and has one block per line.
  Memo1->setPlainText(HelpLines().join(u'\n'));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Memo1);
  Memo1->setFocus();
}
