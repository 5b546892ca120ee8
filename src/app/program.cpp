// Start-up and shut-down. The data manager and the version record exist
// before any window (both are created while the program initialises); then
// the three windows are created hidden, the main window first.
#include <memory>

#include "app/ExeVerInfo.h"
#include "data/VxDataMgr.h"
#include "ui/ErrorReport.h"
#include "ui/fm_About.h"
#include "ui/fm_Help.h"
#include "ui/fm_Main.h"

int main(int argc, char** argv) {
  TZandrelApplication application(argc, argv);

  auto fm_Main = std::make_unique<Tfm_Main>(DataMgr);
  auto* fm_AboutBox = new Tfm_AboutBox(QString::fromStdString(AppVerInfo.FileDescription),
                                       QString::fromStdString(AppVerInfo.FileVersion), fm_Main.get());
  auto* fm_Help = new Tfm_Help(fm_Main.get());
  fm_Main->SetFileDescription(QString::fromStdString(AppVerInfo.FileDescription));
  fm_Main->SetSecondaryWindows(fm_AboutBox, fm_Help);
  fm_Main->setWindowIcon(ProgramIcon());

  fm_Main->show();
  application.exec();
  return 0;
}
