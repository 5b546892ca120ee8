// Start-up and shut-down. The data manager and the version record exist
// before any window (both are created while the program initialises); then
// the three windows are created hidden, the main window first.
#include "app/CommandLine.h"
#include "app/ExeVerInfo.h"
#include "app/GuessCommand.h"
#include "data/VxDataMgr.h"
#include "dragdrop/DragDropFile.h"
#include "platform/FileStream.h"
#include "ui/ErrorReport.h"
#include "ui/fm_About.h"
#include "ui/fm_Help.h"
#include "ui/fm_Main.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

// The drop target's modules start before anything else (OLE for this thread,
// the data formats and their map) and are finalised last.
class TDragDropModules {
public:
  TDragDropModules() { dragdrop::DragDropFileStartup(); }
  ~TDragDropModules() { dragdrop::DragDropFileShutdown(); }
  TDragDropModules(const TDragDropModules&) = delete;
  TDragDropModules& operator=(const TDragDropModules&) = delete;
};

// Parsing needs no display, so usage and version work on a plain terminal.
// The parsing application gets a copy of argv, since it takes some of Qt's
// options out of it, and the window's application must still see them all.
TParsedCommandLine ParseArguments(int argc, char** argv) {
  int parsingArgc = argc;
  std::vector<char*> parsingArgv(argv, argv + argc + 1);
  const QCoreApplication parsing(parsingArgc, parsingArgv.data());
  return ParseCommandLine(ArgumentsOf(argc, argv),
                          QString::fromStdString(AppVerInfo().FileVersion));
}

// On a terminal the commands without a window tell how far reading a
// compressed file has got, on one line that is cleared when they finish;
// anywhere else they print nothing of it.
class TTerminalProgress {
public:
  TTerminalProgress() {
    if (::isatty(STDERR_FILENO) == 1)
      platform::SetDefaultIndexProgress([this](double Done) { return Show(Done); });
  }
  ~TTerminalProgress() {
    platform::SetDefaultIndexProgress({});
    if (FShown >= 0)
      std::fputs("\r\033[K", stderr);
  }
  TTerminalProgress(const TTerminalProgress&) = delete;
  TTerminalProgress& operator=(const TTerminalProgress&) = delete;

private:
  bool Show(double Done) {
    const int percent = static_cast<int>(Done * 100.0);
    if (percent != FShown)
      std::fprintf(stderr, "\rReading the compressed file... %d%%", percent);
    FShown = percent;
    return true;
  }
  int FShown = -1;
};

void Warn(const QStringList& Warnings) {
  for (const QString& warning : Warnings)
    std::fprintf(stderr, "%s\n", warning.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv) {
  const TDragDropModules dragDropModules;
  const TParsedCommandLine command = ParseArguments(argc, argv);
  if (command.ExitCode >= 0) {
    std::fputs(command.Output.toLocal8Bit().constData(), command.ExitCode == 0 ? stdout : stderr);
    return command.ExitCode;
  }
  if (command.GuessFile) {
    std::optional<TTerminalProgress> progress(std::in_place);
    const TGuessReport report = ReportGuess(guess::GuessLayout(*command.GuessFile));
    progress.reset();
    std::fwrite(report.Text.data(), 1, report.Text.size(), stdout);
    // Proposals that never reached the reader are no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fputs("Cannot write the proposals to standard output.\n", stderr);
      return 1;
    }
    return report.ExitCode;
  }
  if (command.Headless) {
    std::optional<TTerminalProgress> progress(std::in_place);
    const THeadlessResult result = RunHeadless(*command.Headless);
    progress.reset(); // the line goes before any result is printed
    std::fwrite(result.Output.data(), 1, result.Output.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fputs("Cannot write to standard output.\n", stderr);
      return 1;
    }
    if (!result.Error.empty())
      std::fprintf(stderr, "%s\n", result.Error.c_str());
    return result.ExitCode;
  }

  TZandrelApplication application(argc, argv);
  const QString description = QString::fromStdString(AppVerInfo().FileDescription);
  auto fm_Main = std::make_unique<Tfm_Main>(DataMgr);
  auto* fm_AboutBox = new Tfm_AboutBox(
      description, QString::fromStdString(AppVerInfo().FileVersion), fm_Main.get());
  auto* fm_Help = new Tfm_Help(fm_Main.get());
  fm_Main->SetFileDescription(description);
  fm_Main->SetSecondaryWindows(fm_AboutBox, fm_Help);
  fm_Main->setWindowIcon(ProgramIcon());

  // Showing the window sets its defaults; the command line goes over them
  // from inside the event loop, where a failure gets the usual report.
  fm_Main->show();
  QTimer::singleShot(0, fm_Main.get(), [&] { Warn(ApplyStartup(command.Startup, *fm_Main)); });
  application.exec();
  return 0;
}
