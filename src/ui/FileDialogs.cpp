#include "ui/FileDialogs.h"

#include "platform/FolderEntries.h"

#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QSettings>
#include <QStyle>
#include <string_view>

namespace {

// The provider of the dialog below. As its first base it is built before the
// dialog and destroyed after it, and so after the dialog's file model, whose
// worker thread may ask for icons until the model is gone.
struct TIconProviderOwner {
  TKindIconProvider IconProvider;
};

class TFileDialog : private TIconProviderOwner, public QFileDialog {
public:
  TFileDialog(QWidget* Parent, const QString& Caption, AcceptMode Mode, bool FileTypes = false);
  void done(int Result) override;

protected:
  void showEvent(QShowEvent* Event) override;

private:
  QCompleter* FCompleter = nullptr;
  QLineEdit* FNameEdit = nullptr;
  bool FFileTypes = false;
};

// The dialog is born in a folder that cannot exist, so that nothing is listed
// before it has the provider that never reads a file; only then does it move
// to the working folder. Qt takes that folder's last part for a proposed file
// name, which must not stay in the name field.
TFileDialog::TFileDialog(QWidget* Parent, const QString& Caption, AcceptMode Mode, bool FileTypes)
    : QFileDialog(Parent, Caption, QStringLiteral("/dev/null/nowhere"))
    , FFileTypes(FileTypes) {
  setOption(DontUseNativeDialog);
  setIconProvider(&IconProvider);
  setAcceptMode(Mode);
  setSizeGripEnabled(true);
  FCompleter = findChild<QCompleter*>();
  FNameEdit = FCompleter ? qobject_cast<QLineEdit*>(FCompleter->widget()) : nullptr;
  setDirectory(QDir::currentPath());
  if (FNameEdit)
    FNameEdit->clear();
}

// Completions that arrive after the dialog has closed (a path typed quickly,
// then Enter) would open the completer's list over the main window; the list
// stays detached from the name field until the dialog shows again.
void TFileDialog::done(int Result) {
  QFileDialog::done(Result);
  if (FNameEdit)
    FNameEdit->setCompleter(nullptr);
}

// No places bar and, unless it offers file types, no file-type filter; the
// dialog shows them again whenever its mode changes, so they are hidden at
// every showing.
void TFileDialog::showEvent(QShowEvent* Event) {
  for (const char* name : {"sidebar", "fileTypeLabel", "fileTypeCombo"})
    if (auto* part = findChild<QWidget*>(QLatin1String(name));
        part && (!FFileTypes || std::string_view(name) == "sidebar"))
      part->hide();
  if (FNameEdit)
    FNameEdit->setCompleter(FCompleter);
  QFileDialog::showEvent(Event);
}

// One component of a chosen path, in the bytes of the entry it shows.
std::string HostComponent(const std::string& Folder, const QString& Name) {
  std::string plain = QFile::encodeName(Name).toStdString();
  if (!Name.contains(QChar::ReplacementCharacter) || platform::EntryExists(Folder + plain))
    return plain;
  for (std::string& entry : platform::FolderEntries(Folder.empty() ? "." : Folder))
    if (QFile::decodeName(QByteArray::fromStdString(entry)) == Name)
      return entry;
  return plain;
}

} // namespace

TKindIconProvider::TKindIconProvider() {
  const QStyle* style = QApplication::style();
  FFolder = style->standardIcon(QStyle::SP_DirIcon);
  FFile = style->standardIcon(QStyle::SP_FileIcon);
  FFolderLink = style->standardIcon(QStyle::SP_DirLinkIcon);
  FFileLink = style->standardIcon(QStyle::SP_FileLinkIcon);
  FDrive = style->standardIcon(QStyle::SP_DriveHDIcon);
}

QIcon TKindIconProvider::icon(IconType Type) const {
  switch (Type) {
  case Computer:
  case Drive:
  case Network:
    return FDrive;
  case Desktop:
  case Trashcan:
  case Folder:
    return FFolder;
  case File:
    return FFile;
  }
  return FFile;
}

QIcon TKindIconProvider::icon(const QFileInfo& Info) const {
  if (Info.isRoot())
    return FDrive;
  if (Info.isSymLink())
    return Info.isDir() ? FFolderLink : FFileLink;
  return Info.isDir() ? FFolder : FFile;
}

QString TKindIconProvider::type(const QFileInfo& Info) const {
  if (Info.isSymLink())
    return QStringLiteral("Link");
  if (Info.isDir())
    return QStringLiteral("Folder");
  if (!Info.isFile())
    return QStringLiteral("Special File");
  const QString suffix = Info.suffix();
  return suffix.isEmpty() ? QStringLiteral("File") : suffix.toUpper() + QStringLiteral(" File");
}

void ForgoStoredSettings() {
  const QString nowhere = QStringLiteral("/dev/null/settings");
  for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
    for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
      QSettings::setPath(format, scope, nowhere);
}

QFileDialog* CreateOpenDialog(QWidget* Parent) {
  ForgoStoredSettings();
  auto* dialog =
      new TFileDialog(Parent, QStringLiteral("Open an image file"), QFileDialog::AcceptOpen);
  dialog->setObjectName(QStringLiteral("OpenDialog1"));
  dialog->setFileMode(QFileDialog::ExistingFile);
  return dialog;
}

QFileDialog* CreateSaveDialog(QWidget* Parent) {
  ForgoStoredSettings();
  auto* dialog = new TFileDialog(Parent, QStringLiteral("Save Image"), QFileDialog::AcceptSave);
  dialog->setObjectName(QStringLiteral("SaveDialog1"));
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setDefaultSuffix(QStringLiteral("bmp"));
  dialog->selectFile(QStringLiteral("Untitled.bmp"));
  return dialog;
}

QStringList LayoutNameFilters() {
  return {QStringLiteral("NRRD header (*.nhdr)"), QStringLiteral("MetaImage header (*.mhd)"),
          QStringLiteral("ENVI header (*.hdr)")};
}

// A change of file type puts the type's extension on the name being typed.
QFileDialog* CreateSaveLayoutDialog(QWidget* Parent) {
  ForgoStoredSettings();
  auto* dialog =
      new TFileDialog(Parent, QStringLiteral("Save Layout"), QFileDialog::AcceptSave, true);
  dialog->setObjectName(QStringLiteral("SaveLayoutDialog1"));
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setNameFilters(LayoutNameFilters());
  dialog->setDefaultSuffix(QStringLiteral("nhdr"));
  QObject::connect(dialog, &QFileDialog::filterSelected, dialog, [dialog](const QString& Filter) {
    const qsizetype start = Filter.indexOf(QLatin1String("*."));
    const QString suffix = Filter.mid(start + 2).chopped(1);
    dialog->setDefaultSuffix(suffix);
    if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
      const QString name = edit->text();
      const qsizetype dot = name.lastIndexOf(u'.');
      if (!name.isEmpty())
        edit->setText((dot > 0 ? name.left(dot) : name) + u'.' + suffix);
    }
  });
  return dialog;
}

std::string HostPath(const QString& Path) {
  std::string host;
  const QStringList components = Path.split(u'/');
  for (qsizetype i = 0; i < components.size(); ++i) {
    if (i > 0)
      host += '/';
    host += HostComponent(host, components[i]);
  }
  return host;
}
