#include "app/CommandLine.h"

#include "ui/fm_Main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QFile>
#include <QLineEdit>

namespace {

struct TOption {
  const char* Name;
  const char* Value;
  const char* Help;
};

constexpr TOption Options[] = {
    {"skip-header", "bytes", "Header bytes to skip."},
    {"voxels-per-row", "count", "Voxels per row (dimension 0)."},
    {"rows-per-slice", "count", "Rows per slice (dimension 1)."},
    {"slices-per-volume", "count", "Slices per volume (dimension 2)."},
    {"type", "byte|int16|int32|float32", "Voxel data type."},
    {"byte-order", "little|big", "Byte order of multi-byte voxels."},
    {"intensity", "min,max", "Intensity window."},
    {"slice", "index", "Slice shown in the first view."},
};

std::optional<QString> ValueOf(const QCommandLineParser& Parser, const char* Name) {
  const QString name = QString::fromLatin1(Name);
  return Parser.isSet(name) ? std::optional(Parser.value(name)) : std::nullopt;
}

std::optional<int> ItemOf(const std::optional<QString>& Value, const QStringList& Items) {
  if (!Value)
    return std::nullopt;
  const auto item = Items.indexOf(Value->toLower());
  return item < 0 ? std::optional(-1) : std::optional(static_cast<int>(item));
}

} // namespace

TParsedCommandLine ParseCommandLine(const QStringList& Arguments, const QString& Version) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Shows a raw volume image file exactly as its bytes lie in it."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  for (const TOption& option : Options)
    parser.addOption({QString::fromLatin1(option.Name), QString::fromLatin1(option.Help),
                      QString::fromLatin1(option.Value)});
  parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The file to open."),
                               QStringLiteral("[FILE]"));

  TParsedCommandLine parsed;
  if (!parser.parse(Arguments)) {
    parsed.Output = parser.errorText() + QLatin1Char('\n');
    parsed.ExitCode = 2;
    return parsed;
  }
  if (parser.isSet(help) || parser.isSet(version)) {
    parsed.Output =
        parser.isSet(help) ? parser.helpText() : QStringLiteral("zandrel %1\n").arg(Version);
    parsed.ExitCode = 0;
    return parsed;
  }
  const QStringList files = parser.positionalArguments();
  TStartup& startup = parsed.Startup;
  startup.FileName = QFile::encodeName(files.value(0)).toStdString();
  startup.SkipHeader = ValueOf(parser, "skip-header");
  startup.VoxelsPerRow = ValueOf(parser, "voxels-per-row");
  startup.RowsPerSlice = ValueOf(parser, "rows-per-slice");
  startup.SlicesPerVolume = ValueOf(parser, "slices-per-volume");
  startup.Slice = ValueOf(parser, "slice");
  startup.DataType = ItemOf(ValueOf(parser, "type"), {"byte", "int16", "int32", "float32"});
  startup.ByteOrder = ItemOf(ValueOf(parser, "byte-order"), {"little", "big"});
  const auto window = ValueOf(parser, "intensity");
  const QStringList ends = window ? window->split(QLatin1Char(',')) : QStringList();
  if (ends.size() == 2) {
    startup.IntensityMin = ends[0];
    startup.IntensityMax = ends[1];
  }

  QString error;
  if (files.size() > 1)
    error = QStringLiteral("Only one file can be opened.");
  else if (window && ends.size() != 2)
    error = QStringLiteral("--intensity takes min,max.");
  else if (startup.DataType == -1 || startup.ByteOrder == -1)
    error = QStringLiteral("Unknown --type or --byte-order value.");
  if (!error.isEmpty()) {
    parsed.Output = error + QLatin1Char('\n');
    parsed.ExitCode = 2;
  }
  return parsed;
}

void ApplyStartup(const TStartup& Startup, Tfm_Main& Window) {
  const std::pair<const std::optional<QString>&, QLineEdit*> edits[] = {
      {Startup.SkipHeader, Window.ed_SkipHeader},
      {Startup.VoxelsPerRow, Window.ed_VoxelsPerRow},
      {Startup.RowsPerSlice, Window.ed_RowsPerSlice},
      {Startup.SlicesPerVolume, Window.ed_SlicesPerVolume},
      {Startup.IntensityMin, Window.ed_IntensityMin},
      {Startup.IntensityMax, Window.ed_IntensityMax},
      {Startup.Slice, Window.ed_SliceNumber}};
  for (const auto& [value, edit] : edits)
    if (value)
      edit->setText(*value);
  if (Startup.DataType)
    Window.cb_DataType->setCurrentIndex(*Startup.DataType);
  if (Startup.ByteOrder)
    Window.cb_ByteOrder->setCurrentIndex(*Startup.ByteOrder);
  Window.ScheduleRedraw();
  if (!Startup.FileName.empty())
    Window.OpenFileNamed(Startup.FileName);
}
