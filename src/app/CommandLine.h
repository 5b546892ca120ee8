#pragma once

#include "app/HeadlessCommand.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

class Tfm_Main;

// What the command line asks for: a file to open once the window is up and,
// optionally, the layout to read it with. Each number is already known to be
// one by the window's rule and goes into its control as if typed, so the
// window's own range checks apply.
struct TStartup {
  std::string FileName{}; // the host's bytes
  std::optional<QString> SkipHeader{};
  std::optional<QString> VoxelsPerRow{};
  std::optional<QString> RowsPerSlice{};
  std::optional<QString> SlicesPerVolume{};
  std::optional<int> DataType{};  // item of the data-type list
  std::optional<int> ByteOrder{}; // item of the byte-order list
  std::optional<QString> IntensityMin{};
  std::optional<QString> IntensityMax{};
  std::optional<QString> Slice{};
  std::optional<QString> CrossSliceRow{};
  std::optional<QString> Volume{};
  bool FlagOverUnder = false;
  std::optional<int> ZoomStep{}; // an index of zoom::ZoomSteps
};

struct TParsedCommandLine {
  TStartup Startup;
  std::optional<std::string> GuessFile{}; // the host's bytes; print its guess instead of starting
  std::optional<THeadlessCommand> Headless{}; // run instead of starting
  QString Output;    // text for standard output (usage, version) or the error
  int ExitCode = -1; // -1: start the program; otherwise exit at once with it
};

// The names that --type takes, in the order of the data-type list, so that
// the position is the item index.
QStringList VoxelTypeNames();

// The arguments as text from which each one's bytes come back unchanged
// (platform::WideToBytes); a file name need not be valid UTF-8.
QStringList ArgumentsOf(int Argc, const char* const* Argv);

// Qt's own options (-platform, -display, -style, ...) are stepped over: the
// application object takes them from argv.
TParsedCommandLine ParseCommandLine(const QStringList& Arguments, const QString& Version);

// Puts the layout into the window's controls and opens the file, as the user
// would. Answers one warning for each value that the window changed.
QStringList ApplyStartup(const TStartup& Startup, Tfm_Main& Window);
