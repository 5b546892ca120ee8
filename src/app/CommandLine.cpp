#include "app/CommandLine.h"

#include "data/Zoom.h"
#include "export/DetachedHeader.h"
#include "platform/TextCodec.h"
#include "ui/IntegerText.h"
#include "ui/fm_Main.h"

#include <QCommandLineParser>
#include <QRegularExpression>

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
    // The names go in the description, where the help wraps between words;
    // as a value name they would be cut after 50 columns.
    {"type", "type",
     "Voxel data type: byte, int8, int16, int32, int64, uint16, uint32, uint64, float16, "
     "float32 or float64."},
    {"byte-order", "little|big", "Byte order of multi-byte voxels."},
    {"intensity", "min,max", "Intensity window."},
    {"slice", "index", "Slice shown in the first view."},
    {"cross-slice-row", "row", "Row of the slices shown in the cross-slice view."},
    {"volume", "index", "Volume shown in the fourth view."},
    {"flag-over-under", "", "Flags voxels below and above the intensity window."},
    {"zoom", "step",
     "Zoom step of the views: 1/8, 1/4, 1/2, 1, 2, 3, 4, 6, 8, 12 or 16 screen pixels a voxel."},
    {"guess", "FILE",
     "Prints the likely layouts of FILE, best first, one per line as the layout options above, "
     "and exits without a window; exit code 1 when there is none. Takes no other option or "
     "file."},
    {"write-header", "OUT",
     "Writes a detached header that describes FILE in the layout of the options and points at "
     "it, and exits without a window. The format follows OUT's extension: .nhdr (NRRD), .mhd "
     "(MetaImage) or .hdr (ENVI, read beside the data file under its name). An existing OUT is "
     "kept unless --force is given; FILE is never written. Exit code 1, with the reason, when "
     "nothing could be written."},
    {"print-layout", "numpy",
     "Prints one line of Python that maps FILE in the layout of the options with numpy.memmap, "
     "slowest axis first, and exits without a window."},
    {"export-view", "VIEW",
     "Takes OUT FILE after VIEW: writes the picture of one view of FILE, pixel for pixel as the "
     "window paints it with the layout and view options, to OUT and exits without a window. VIEW "
     "is slice, next-slice, cross-slice or other-volume; the format follows OUT's extension: .png "
     "or .bmp. An existing OUT is kept unless --force is given."},
    {"force", "", "Lets --write-header and --export-view replace an existing OUT."},
};

// The options that QGuiApplication and QApplication take out of the command
// line themselves. They stay in argv for the application object; the parser
// only steps over them. Qt takes a value after "=" for a few of them only.
enum class TQtValue { None, Next, NextOrEquals };

struct TQtOption {
  const char* Name;
  TQtValue Value;
  const char* ValueName;
  const char* Help;
};

constexpr TQtOption QtOptions[] = {
    {"platform", TQtValue::Next, "platformName[:options]", "Platform plugin to use."},
    {"platformpluginpath", TQtValue::Next, "path", "Folder of the platform plugins."},
    {"platformtheme", TQtValue::Next, "platformTheme", "Platform theme to use."},
    {"plugin", TQtValue::Next, "plugin", "Further plugin to load."},
    {"qwindowgeometry", TQtValue::Next, "geometry", "Geometry of the first window."},
    {"qwindowicon", TQtValue::Next, "icon", "Default window icon."},
    {"qwindowtitle", TQtValue::Next, "title", "Title of the first window."},
    {"session", TQtValue::Next, "session", "Session to restore."},
    {"reverse", TQtValue::None, nullptr, "Lays out right to left."},
    {"display", TQtValue::Next, "hostname:screen_number", "X11 display to use."},
    {"geometry", TQtValue::Next, "geometry", "Geometry of the first window (X11)."},
    {"title", TQtValue::Next, "title", "Title of the first window (X11)."},
    {"icon", TQtValue::Next, "icon", "Default window icon (X11)."},
    {"name", TQtValue::Next, "name", "Application name for resources (X11)."},
    {"visual", TQtValue::Next, "id", "Visual to use (X11)."},
    {"nograb", TQtValue::None, nullptr, "Never grabs the pointer or keyboard (X11)."},
    {"dograb", TQtValue::None, nullptr, "Grabs even under a debugger (X11)."},
    {"style", TQtValue::NextOrEquals, "style", "Widget style."},
    {"stylesheet", TQtValue::NextOrEquals, "stylesheet", "Style sheet file."},
    {"widgetcount", TQtValue::None, nullptr, "Counts the widgets left at exit."},
    {"qmljsdebugger", TQtValue::NextOrEquals, "port:port[,block]", "QML/JS debugger."},
    {"testability", TQtValue::None, nullptr, "Loads the testability plugin."},
};

struct TQtMatch {
  const TQtOption* Option = nullptr;
  bool ValueFollows = false;
};

// Qt reads "--name" as "-name" and nothing else with more dashes.
TQtMatch QtOptionOf(QStringView Argument) {
  if (Argument.startsWith(u"--"))
    Argument = Argument.mid(1);
  if (!Argument.startsWith(u'-'))
    return {};
  Argument = Argument.mid(1);
  for (const TQtOption& option : QtOptions) {
    const QLatin1StringView name(option.Name);
    if (Argument == name)
      return {&option, option.Value != TQtValue::None};
    if (option.Value == TQtValue::NextOrEquals && Argument.startsWith(name) &&
        Argument.size() > name.size() && Argument[name.size()] == u'=')
      return {&option, false};
  }
  return {};
}

struct TOurArguments {
  QStringList Arguments;
  QString Error;
};

TOurArguments WithoutQtOptions(const QStringList& Arguments) {
  TOurArguments ours;
  for (qsizetype i = 0; i < Arguments.size(); ++i) {
    const TQtMatch match = i > 0 ? QtOptionOf(Arguments[i]) : TQtMatch{};
    if (!match.Option)
      ours.Arguments.append(Arguments[i]);
    else if (match.ValueFollows && ++i == Arguments.size())
      ours.Error = QStringLiteral("Missing value after '%1'.").arg(Arguments[i - 1]);
  }
  return ours;
}

void AddQtOptions(QCommandLineParser& Parser) {
  for (const TQtOption& option : QtOptions)
    Parser.addOption({QString::fromLatin1(option.Name), QString::fromLatin1(option.Help),
                      QString::fromLatin1(option.ValueName)});
}

std::optional<QString> ValueOf(const QCommandLineParser& Parser, const char* Name) {
  const QString name = QString::fromLatin1(Name);
  return Parser.isSet(name) ? std::optional(Parser.value(name)) : std::nullopt;
}

// The window takes a layout value as its plain decimal digits only (its spin
// buttons follow nothing else), so any number its rule accepts goes in as
// those digits.
std::optional<QString> DecimalText(const QString& Value) {
  const std::optional<int32_t> number = IntegerTextValue(Value);
  return number ? std::optional(QString::number(*number)) : std::nullopt;
}

struct TNumberOption {
  const char* Name;
  std::optional<QString> TStartup::*Field;
};

constexpr TNumberOption NumberOptions[] = {
    {"skip-header", &TStartup::SkipHeader},
    {"voxels-per-row", &TStartup::VoxelsPerRow},
    {"rows-per-slice", &TStartup::RowsPerSlice},
    {"slices-per-volume", &TStartup::SlicesPerVolume},
    {"slice", &TStartup::Slice},
    {"cross-slice-row", &TStartup::CrossSliceRow},
    {"volume", &TStartup::Volume},
};

QString ReadNumbers(const QCommandLineParser& Parser, TStartup& Startup) {
  for (const auto& [name, field] : NumberOptions) {
    const std::optional<QString> value = ValueOf(Parser, name);
    if (!value)
      continue;
    Startup.*field = DecimalText(*value);
    // Digits beyond what 32 bits hold are a number still, only too large.
    static const QRegularExpression digits(QStringLiteral("^\\s*[+-]?[0-9]+$"));
    if (!(Startup.*field) && digits.match(*value).hasMatch())
      return QStringLiteral("--%1: %2 is out of range: numbers go from -2147483648 to 2147483647.")
          .arg(QLatin1StringView(name), value->trimmed());
    if (!(Startup.*field))
      return QStringLiteral("--%1: \"%2\" is not a number.").arg(QLatin1StringView(name), *value);
  }
  return {};
}

QString ReadIntensity(const QCommandLineParser& Parser, TStartup& Startup) {
  const std::optional<QString> window = ValueOf(Parser, "intensity");
  if (!window)
    return {};
  const QStringList ends = window->split(QLatin1Char(','));
  if (ends.size() == 2) {
    Startup.IntensityMin = DecimalText(ends[0]);
    Startup.IntensityMax = DecimalText(ends[1]);
  }
  if (Startup.IntensityMin && Startup.IntensityMax)
    return {};
  return QStringLiteral("--intensity takes two numbers as min,max, not \"%1\".").arg(*window);
}

QString ReadItem(const QCommandLineParser& Parser, const char* Name, const QStringList& Items,
                 std::optional<int>& Item) {
  const std::optional<QString> value = ValueOf(Parser, Name);
  if (!value)
    return {};
  const qsizetype index = Items.indexOf(value->toLower());
  if (index >= 0) {
    Item = static_cast<int>(index);
    return {};
  }
  return QStringLiteral("--%1: \"%2\" is not one of %3.")
      .arg(QLatin1StringView(Name), *value, Items.join(QStringLiteral(", ")));
}

QString ReadZoom(const QCommandLineParser& Parser, TStartup& Startup) {
  const std::optional<QString> value = ValueOf(Parser, "zoom");
  if (!value)
    return {};
  Startup.ZoomStep = zoom::ParseStep(value->toStdString());
  if (Startup.ZoomStep)
    return {};
  return QStringLiteral("--zoom: \"%1\" is not one of %2.")
      .arg(*value, QString::fromStdString(zoom::StepNames()));
}

std::string HostBytes(const QString& Text) {
  return platform::WideToBytes(Text.toStdU16String());
}

// The first mistake found, or the empty text. The files are read by the caller.
QString ReadStartup(const QCommandLineParser& Parser, TStartup& Startup) {
  Startup.FlagOverUnder = Parser.isSet(QStringLiteral("flag-over-under"));
  for (const QString& error : {ReadNumbers(Parser, Startup), ReadIntensity(Parser, Startup),
                               ReadItem(Parser, "type", VoxelTypeNames(), Startup.DataType),
                               ReadItem(Parser, "byte-order", {"little", "big"}, Startup.ByteOrder),
                               ReadZoom(Parser, Startup)})
    if (!error.isEmpty())
      return error;
  return {};
}

QString ReadWindowStartup(const QCommandLineParser& Parser, TStartup& Startup) {
  const QStringList files = Parser.positionalArguments();
  if (files.size() > 1)
    return QStringLiteral("Only one file can be opened.");
  Startup.FileName = HostBytes(files.value(0));
  return ReadStartup(Parser, Startup);
}

TParsedCommandLine Ended(const QString& Output, int ExitCode) {
  TParsedCommandLine parsed;
  parsed.Output = Output.endsWith(QLatin1Char('\n')) ? Output : Output + QLatin1Char('\n');
  parsed.ExitCode = ExitCode;
  return parsed;
}

constexpr const char* HeadlessOptions[] = {"write-header", "print-layout", "export-view"};

// The numbers of a command without a window: no control is there to clamp
// them, so a number out of the control's range is refused rather than changed.
QString HeadlessNumbers(const TStartup& Startup, THeadlessCommand& Command) {
  const struct {
    const char* Name;
    const std::optional<QString>& Value;
    int32_t Max;
    int32_t& Target;
  } numbers[] = {
      {"skip-header", Startup.SkipHeader, MaxHeaderBytes, Command.Layout.HeaderBytes},
      {"voxels-per-row", Startup.VoxelsPerRow, MaxDimension, Command.Layout.VoxelsPerRow},
      {"rows-per-slice", Startup.RowsPerSlice, MaxDimension, Command.Layout.RowsPerSlice},
      {"slices-per-volume", Startup.SlicesPerVolume, MaxDimension, Command.Layout.SlicesPerVolume},
      {"slice", Startup.Slice, MaxDimension, Command.Slice},
      {"cross-slice-row", Startup.CrossSliceRow, MaxDimension, Command.CrossSliceRow},
      {"volume", Startup.Volume, MaxDimension, Command.Volume}};
  for (const auto& [name, value, max, target] : numbers) {
    if (!value)
      continue;
    const int32_t number = value->toInt();
    if (number < 0 || number > max)
      return QStringLiteral("--%1: %2 is out of range, 0 to %3.")
          .arg(QLatin1StringView(name), *value, QString::number(max));
    target = number;
  }
  if (Startup.IntensityMin && Startup.IntensityMax) {
    Command.IntensityMin = Startup.IntensityMin->toInt();
    Command.IntensityMax = Startup.IntensityMax->toInt();
  }
  Command.Layout.VoxelType = static_cast<TVoxelType>(Startup.DataType.value_or(vtByte));
  Command.Layout.ByteOrder = static_cast<TByteOrder>(Startup.ByteOrder.value_or(boLittleEndian));
  Command.FlagOverUnder = Startup.FlagOverUnder;
  Command.ZoomStep = Startup.ZoomStep.value_or(zoom::ActualSize);
  return {};
}

QString HeadlessTargets(const QCommandLineParser& Parser, const QString& Name,
                        THeadlessCommand& Command) {
  const QStringList files = Parser.positionalArguments();
  const QString value = Parser.value(Name);
  if (Name == QLatin1StringView("export-view")) {
    const QStringList views = {"slice", "next-slice", "cross-slice", "other-volume"};
    if (!views.contains(value))
      return QStringLiteral("--export-view: \"%1\" is not one of %2.")
          .arg(value, views.join(QStringLiteral(", ")));
    Command.Kind = THeadlessCommand::ExportView;
    Command.View = static_cast<TViewKind>(views.indexOf(value));
    if (files.size() != 2)
      return QStringLiteral("--export-view takes VIEW OUT FILE.");
    Command.Out = HostBytes(files[0]);
    if (!files[0].endsWith(QLatin1StringView(".png"), Qt::CaseInsensitive) &&
        !files[0].endsWith(QLatin1StringView(".bmp"), Qt::CaseInsensitive))
      return QStringLiteral("--export-view: OUT must end in .png or .bmp.");
  } else if (files.size() != 1) {
    return QStringLiteral("--%1 takes %2 FILE.")
        .arg(Name, Name == QLatin1StringView("write-header") ? "OUT" : "numpy");
  } else if (Name == QLatin1StringView("write-header")) {
    Command.Kind = THeadlessCommand::WriteHeader;
    Command.Out = HostBytes(value);
    if (!layoutexport::HeaderFormatOf(Command.Out))
      return QStringLiteral("--write-header: OUT must end in .nhdr, .mhd or .hdr.");
  } else {
    Command.Kind = THeadlessCommand::PrintLayout;
    if (value != QLatin1StringView("numpy"))
      return QStringLiteral("--print-layout: \"%1\" is not one of numpy.").arg(value);
  }
  Command.File = HostBytes(files.back());
  return {};
}

// A command without a window, when one is asked for; the layout options
// apply to it as they would to the window.
QString ReadHeadless(const QCommandLineParser& Parser, TParsedCommandLine& Parsed) {
  QString name;
  for (const char* option : HeadlessOptions)
    if (Parser.isSet(QLatin1StringView(option))) {
      if (!name.isEmpty())
        return QStringLiteral("--%1 and --%2 cannot go together.")
            .arg(name, QLatin1StringView(option));
      name = QLatin1StringView(option);
    }
  const bool force = Parser.isSet(QStringLiteral("force"));
  if (name.isEmpty())
    return force ? QStringLiteral("--force goes with --write-header or --export-view.") : QString();
  if (force && name == QLatin1StringView("print-layout"))
    return QStringLiteral("--force goes with --write-header or --export-view.");
  // A header or a line of Python has no pixels to zoom.
  if (Parser.isSet(QStringLiteral("zoom")) && name != QLatin1StringView("export-view"))
    return QStringLiteral("--zoom goes with --export-view or the window.");
  THeadlessCommand command;
  command.Force = force;
  QString error = HeadlessTargets(Parser, name, command);
  TStartup startup;
  if (error.isEmpty())
    error = ReadStartup(Parser, startup);
  if (error.isEmpty())
    error = HeadlessNumbers(startup, command);
  if (error.isEmpty())
    Parsed.Headless = command;
  return error;
}

// A guess prints and ends; a layout or a file beside it would be silently
// lost, so it is refused.
QString ReadGuess(const QCommandLineParser& Parser, TParsedCommandLine& Parsed) {
  const std::optional<QString> file = ValueOf(Parser, "guess");
  if (!file)
    return {};
  if (Parser.optionNames().size() > 1 || !Parser.positionalArguments().isEmpty())
    return QStringLiteral("--guess takes one file and no other option.");
  Parsed.GuessFile = platform::WideToBytes(file->toStdU16String());
  return {};
}

} // namespace

QStringList VoxelTypeNames() {
  QStringList names;
  for (const TVoxelTypeFacts& facts : VoxelTypeTable)
    names.append(QString::fromLatin1(facts.Name));
  return names;
}

QStringList ArgumentsOf(int Argc, const char* const* Argv) {
  QStringList arguments;
  for (int i = 0; i < Argc; ++i)
    arguments.append(QString::fromStdU16String(platform::BytesToWide(Argv[i])));
  return arguments;
}

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

  const TOurArguments ours = WithoutQtOptions(Arguments);
  if (!ours.Error.isEmpty())
    return Ended(ours.Error, 2);
  if (!parser.parse(ours.Arguments))
    return Ended(parser.errorText(), 2);
  if (parser.isSet(QStringLiteral("help-all")))
    AddQtOptions(parser);
  if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
    return Ended(parser.helpText(), 0);
  if (parser.isSet(version))
    return Ended(QStringLiteral("zandrel %1").arg(Version), 0);

  TParsedCommandLine parsed;
  QString error = ReadGuess(parser, parsed);
  if (error.isEmpty() && !parsed.GuessFile)
    error = ReadHeadless(parser, parsed);
  if (error.isEmpty() && !parsed.GuessFile && !parsed.Headless)
    error = ReadWindowStartup(parser, parsed.Startup);
  return error.isEmpty() ? parsed : Ended(error, 2);
}

QStringList ApplyStartup(const TStartup& Startup, Tfm_Main& Window) {
  using TEdit = Tfm_Main::TNumberEdit;
  struct TEntry {
    const char* Option;
    const std::optional<QString>& Value;
    TEdit Edit;
  };
  const TEntry entries[] = {{"skip-header", Startup.SkipHeader, TEdit::SkipHeader},
                            {"voxels-per-row", Startup.VoxelsPerRow, TEdit::VoxelsPerRow},
                            {"rows-per-slice", Startup.RowsPerSlice, TEdit::RowsPerSlice},
                            {"slices-per-volume", Startup.SlicesPerVolume, TEdit::SlicesPerVolume},
                            {"intensity", Startup.IntensityMin, TEdit::IntensityMin},
                            {"intensity", Startup.IntensityMax, TEdit::IntensityMax},
                            {"slice", Startup.Slice, TEdit::Slice},
                            {"cross-slice-row", Startup.CrossSliceRow, TEdit::CrossSliceRow},
                            {"volume", Startup.Volume, TEdit::Volume}};
  QStringList warnings;
  for (const auto& [option, value, edit] : entries) {
    if (!value)
      continue;
    const QString shown = Window.EnterNumber(edit, *value);
    if (shown != *value)
      warnings.append(QStringLiteral("--%1: %2 is out of range, set to %3.")
                          .arg(QLatin1StringView(option), *value, shown));
  }
  if (Startup.DataType)
    Window.SelectDataType(*Startup.DataType);
  if (Startup.ByteOrder)
    Window.SelectByteOrder(*Startup.ByteOrder);
  if (Startup.FlagOverUnder)
    Window.SetFlagOverUnder(true);
  Window.ScheduleRedraw();
  if (Startup.ZoomStep)
    Window.SetZoomStep(*Startup.ZoomStep);
  if (!Startup.FileName.empty())
    Window.OpenFileNamed(Startup.FileName);
  return warnings;
}
