#pragma once

#include <QDialog>
#include <QIcon>
#include <QImage>

class QFrame;
class QLabel;
class QPushButton;

// The about box: product line and version from the program's version record,
// which the caller passes in. Modeless; OK, Enter and the close box only hide it.
class Tfm_AboutBox : public QDialog {
  Q_OBJECT

public:
  Tfm_AboutBox(const QString& FileDescription, const QString& FileVersion,
               QWidget* Parent = nullptr);

  // Makes the one box visible and brings it to the front without waiting.
  void ShowModeless();

  QFrame* Panel1 = nullptr;
  QLabel* ProgramIcon = nullptr;
  QLabel* lb_ProductName = nullptr;
  QLabel* lb_Version = nullptr;
  QLabel* lb_Notice = nullptr;
  QPushButton* OKButton = nullptr;

private slots:
  void OKButtonClick();

private:
  void CreateControls();
  void FormCreate();

  QString FFileDescription;
  QString FFileVersion;
};

// The about box's 72 x 72, 24-bit picture: a grey brain slice with a blue
// question mark over it, drawn at run time.
QImage AboutPicture();

// The program's 32 x 32 icon in a few flat colours of the 16-colour palette.
QImage ProgramIconImage();
QIcon ProgramIcon();
bool WriteProgramIconPng(const QString& Path);
