// The file commands: open (dialog, drop or command line), close, save view 1,
// and the result shown in the file-name strip.
#include "data/Layout.h"
#include "data/VxDataMgr.h"
#include "export/HeaderFiles.h"
#include "platform/TextCodec.h"
#include "ui/ErrorReport.h"
#include "ui/FileDialogs.h"
#include "ui/FileNote.h"
#include "ui/ImageWidget.h"
#include "ui/fm_Main.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressDialog>
#include <filesystem>

namespace {

QString TextOf(const std::string& HostBytes) {
  return QString::fromStdU16String(platform::BytesToWide(HostBytes));
}

} // namespace

bool Tfm_Main::RunDialog(QFileDialog& Dialog) {
  if (FDialogRunner)
    return FDialogRunner(Dialog);
  return Dialog.exec() == QDialog::Accepted;
}

QString Tfm_Main::ChosenFile(const QFileDialog& Dialog) {
  const QStringList files = Dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

// Reading a compressed file through shows a modal progress dialog once it has
// taken FProgressDelay; events are handled meanwhile, so the window repaints
// and Cancel is heard, while the dialog keeps every command out. Once
// cancelled, every later report cancels too, so that work reading several
// files stops at the next one.
bool Tfm_Main::WithProgress(
    const std::function<void(const platform::TIndexProgress& Progress)>& Work) {
  QElapsedTimer clock;
  clock.start();
  std::unique_ptr<QProgressDialog> dialog;
  bool cancelled = false;
  const auto progress = [&](double Done) {
    if (!dialog && !cancelled && clock.elapsed() >= FProgressDelay) {
      dialog = std::make_unique<QProgressDialog>(QStringLiteral("Reading the compressed file..."),
                                                 QStringLiteral("Cancel"), 0, 1000, this);
      dialog->setObjectName(QStringLiteral("ProgressDialog1"));
      dialog->setWindowModality(Qt::WindowModal);
      dialog->setMinimumDuration(0);
      dialog->setAutoReset(false);
      dialog->show();
    }
    if (dialog) {
      dialog->setValue(static_cast<int>(Done * 1000.0));
      QCoreApplication::processEvents();
      cancelled = cancelled || dialog->wasCanceled();
    }
    return !cancelled;
  };
  Work(progress);
  return !cancelled;
}

void Tfm_Main::OpenWithProgress(const std::string& Name) {
  WithProgress([this, &Name](const platform::TIndexProgress& Progress) {
    FDataMgr.OpenFile(Name, Progress);
  });
}

// The strip shows the open file, and for a compressed one how it decompressed,
// or why the last open failed.
void Tfm_Main::OpenFileNamed(const std::string& Name) {
  OpenWithProgress(Name);
  const std::string& shown =
      FDataMgr.FileName().empty() ? FDataMgr.ErrorText() : FDataMgr.FileName();
  const std::string note = FDataMgr.FileName().empty()
                               ? std::string()
                               : CompressionNote(FDataMgr.Compression(), FDataMgr.DecodeState());
  lb_FilePath->setText(QFile::decodeName(QByteArray::fromStdString(shown)) +
                       QString::fromStdString(note));
  lb_FilePath->adjustSize();
  mi_GuessLayout->setEnabled(!FDataMgr.FileName().empty());
  mi_SaveLayout->setEnabled(!FDataMgr.FileName().empty());
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
  mi_SaveLayout->setEnabled(false);
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
  // A new file takes the place of the chosen one, which would turn a pipe or
  // a device into a plain file, or put a picture in place of the volume.
  const std::string problem = layoutexport::TargetProblem(HostPath(name), FDataMgr.FileName());
  if (!problem.empty()) {
    ReportUnhandledError(TextOf(problem));
    return;
  }
  QString error;
  if (!ViewImages[vkSlice]->SavePicture(name, &error))
    ReportUnhandledError(error);
}

namespace {

// The data file's own name with the format's extension in place of its own,
// in the data file's folder.
void ProposeLayoutName(QFileDialog& Dialog, const std::string& DataFile) {
  const std::filesystem::path data = std::filesystem::absolute(DataFile);
  const int filter =
      std::max(0, static_cast<int>(LayoutNameFilters().indexOf(Dialog.selectedNameFilter())));
  const auto format = static_cast<layoutexport::THeaderFormat>(filter);
  Dialog.setDirectory(QFile::decodeName(QByteArray::fromStdString(data.parent_path().string())));
  const std::string name = data.stem().string() + layoutexport::ExtensionOf(format);
  Dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(name)));
}

// The chosen name as the host's bytes. The dialog shows a name that is not
// UTF-8 only in a lossy form, so a proposed name taken as it stands keeps the
// data file's own bytes, which no lookup in the folder could give back.
std::string ChosenLayoutName(const QString& Chosen, const std::string& DataFile) {
  const std::filesystem::path data = std::filesystem::absolute(DataFile);
  for (const auto format :
       {layoutexport::THeaderFormat::Nrrd, layoutexport::THeaderFormat::MetaImage,
        layoutexport::THeaderFormat::Envi}) {
    const std::string proposed =
        (data.parent_path() / (data.stem().string() + layoutexport::ExtensionOf(format))).string();
    if (QFile::decodeName(QByteArray::fromStdString(proposed)) == Chosen)
      return proposed;
  }
  return HostPath(Chosen);
}

} // namespace

// Writes a detached header for the open file in the layout shown; the data
// file itself is never written, whatever name is chosen.
void Tfm_Main::mi_SaveLayoutClick() {
  const std::string dataFile = FDataMgr.FileName();
  if (dataFile.empty())
    return;
  if (!SaveLayoutDialog1)
    SaveLayoutDialog1 = CreateSaveLayoutDialog(this);
  ProposeLayoutName(*SaveLayoutDialog1, dataFile);
  if (!RunDialog(*SaveLayoutDialog1))
    return;
  const std::string name = ChosenLayoutName(ChosenFile(*SaveLayoutDialog1), dataFile);
  const int filter = std::max(
      0, static_cast<int>(LayoutNameFilters().indexOf(SaveLayoutDialog1->selectedNameFilter())));
  const layoutexport::THeaderFormat format =
      layoutexport::HeaderFormatOf(name).value_or(static_cast<layoutexport::THeaderFormat>(filter));
  // Every change of the controls has already reached the data manager.
  const TLayout layout{FDataMgr.HeaderBytes(), FDataMgr.Dims(0),     FDataMgr.Dims(1),
                       FDataMgr.Dims(2),       FDataMgr.VoxelType(), FDataMgr.ByteOrder()};
  const std::string error = layoutexport::WriteDetachedHeader(format, name, dataFile, layout);
  if (!error.empty())
    ReportUnhandledError(TextOf(error));
}
