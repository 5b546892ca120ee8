// The file commands: open (dialog, drop or command line), close, save view 1,
// and the result shown in the file-name strip.
#include "data/VxDataMgr.h"
#include "ui/ErrorReport.h"
#include "ui/FileDialogs.h"
#include "ui/ImageWidget.h"
#include "ui/fm_Main.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLabel>

bool Tfm_Main::RunDialog(QFileDialog& Dialog) {
  if (FDialogRunner)
    return FDialogRunner(Dialog);
  return Dialog.exec() == QDialog::Accepted;
}

QString Tfm_Main::ChosenFile(const QFileDialog& Dialog) {
  const QStringList files = Dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

// The strip shows the open file, or why the last open failed.
void Tfm_Main::OpenFileNamed(const std::string& Name) {
  FDataMgr.OpenFile(Name);
  const std::string& shown =
      FDataMgr.FileName().empty() ? FDataMgr.ErrorText() : FDataMgr.FileName();
  lb_FilePath->setText(QFile::decodeName(QByteArray::fromStdString(shown)));
  lb_FilePath->adjustSize();
  mi_GuessLayout->setEnabled(!FDataMgr.FileName().empty());
  ScheduleRedraw();
}

void Tfm_Main::mi_OpenClick() {
  if (!OpenDialog1)
    OpenDialog1 = CreateOpenDialog(this);
  if (RunDialog(*OpenDialog1))
    OpenFileNamed(HostPath(ChosenFile(*OpenDialog1)));
}

void Tfm_Main::DropFileTarget1Drop(const std::vector<std::string>& Files) {
  if (!Files.empty())
    OpenFileNamed(Files.front());
}

void Tfm_Main::mi_CloseClick() {
  FDataMgr.CloseFile();
  mi_GuessLayout->setEnabled(false);
  RedrawViews();
  lb_FilePath->setText(DropHint);
  lb_FilePath->adjustSize();
}

// Writes the view-1 bitmap as a BMP file whatever the name's extension; a
// failure goes to the unhandled-error report.
void Tfm_Main::mi_SaveImageClick() {
  if (!SaveDialog1)
    SaveDialog1 = CreateSaveDialog(this);
  if (!RunDialog(*SaveDialog1))
    return;
  const QString name = ChosenFile(*SaveDialog1);
  SaveDialog1->selectFile(name);
  QString error;
  if (!ViewImages[vkSlice]->SavePicture(name, &error))
    ReportUnhandledError(error);
}
