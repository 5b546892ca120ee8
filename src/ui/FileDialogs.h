#pragma once

#include <QAbstractFileIconProvider>
#include <QIcon>
#include <QString>
#include <string>

class QFileDialog;
class QWidget;

// Icons and type names from an entry's kind (folder, file, link) and name
// alone. The stock provider asks the MIME database, which reads the start of
// every file it cannot place by name: one file that never answers (/proc/kmsg)
// then stalls the listing, and the dialog's end waits for it for good.
class TKindIconProvider : public QAbstractFileIconProvider {
public:
  // The icons are made here, on the window thread; the file model's worker
  // thread only hands out copies.
  TKindIconProvider();

  QIcon icon(IconType Type) const override;
  QIcon icon(const QFileInfo& Info) const override;
  QString type(const QFileInfo& Info) const override;

private:
  QIcon FFolder;
  QIcon FFile;
  QIcon FFolderLink;
  QIcon FFileLink;
  QIcon FDrive;
};

// The program keeps no settings. Qt's own file dialog stores its history, last
// folder and view in QtProject.conf and restores them when it is created; this
// points every settings path below /dev/null, where no file can ever exist, so
// that the dialogs read nothing and write nothing. Safe to call more than once.
void ForgoStoredSettings();

// The two dialogs of the file commands, made when a command first needs one.
QFileDialog* CreateOpenDialog(QWidget* Parent);
QFileDialog* CreateSaveDialog(QWidget* Parent);
// The dialog of "Save Layout As...": the header formats as file types, each
// choice putting its extension on the proposed name.
QFileDialog* CreateSaveLayoutDialog(QWidget* Parent);
// The name filters of that dialog, in the order of layoutexport::THeaderFormat.
QStringList LayoutNameFilters();

// The host's bytes for a path that a dialog chose. The dialogs carry names as
// text in which bytes that are not UTF-8 became U+FFFD; such a component is
// looked up in its folder by its displayed form. When several entries show
// alike, the first in byte order is taken, as the dialog could not tell them
// apart either.
std::string HostPath(const QString& Path);
