#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;

// The help text, one entry per line of the help window.
const QStringList& HelpLines();

// The help window: the fixed help text in a read-only, unwrapped memo that
// fills a resizable window. It is shown modally and only hidden when closed,
// so it keeps its scroll position between showings.
class Tfm_Help : public QDialog {
  Q_OBJECT

public:
  explicit Tfm_Help(QWidget* Parent = nullptr);

  QPlainTextEdit* Memo1 = nullptr;
};
