#include "app/CommandLine.h"

#include "platform/TextCodec.h"
#include "ui/IntegerText.h"
#include "ui/fm_Main.h"

#include <QCommandLineParser>

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
    {"guess", "FILE",
     "Prints the likely layouts of FILE, best first, one per line as the layout options above, "
     "and exits without a window; exit code 1 when there is none. Takes no other option or "
     "file."},
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
};

QString ReadNumbers(const QCommandLineParser& Parser, TStartup& Startup) {
  for (const auto& [name, field] : NumberOptions) {
    const std::optional<QString> value = ValueOf(Parser, name);
    if (!value)
      continue;
    Startup.*field = DecimalText(*value);
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

// The first mistake found, or the empty text.
QString ReadStartup(const QCommandLineParser& Parser, TStartup& Startup) {
  const QStringList files = Parser.positionalArguments();
  if (files.size() > 1)
    return QStringLiteral("Only one file can be opened.");
  Startup.FileName = platform::WideToBytes(files.value(0).toStdU16String());
  for (const QString& error :
       {ReadNumbers(Parser, Startup), ReadIntensity(Parser, Startup),
        ReadItem(Parser, "type", VoxelTypeNames(), Startup.DataType),
        ReadItem(Parser, "byte-order", {"little", "big"}, Startup.ByteOrder)})
    if (!error.isEmpty())
      return error;
  return {};
}

TParsedCommandLine Ended(const QString& Output, int ExitCode) {
  TParsedCommandLine parsed;
  parsed.Output = Output.endsWith(QLatin1Char('\n')) ? Output : Output + QLatin1Char('\n');
  parsed.ExitCode = ExitCode;
  return parsed;
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
    error = ReadStartup(parser, parsed.Startup);
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
                            {"slice", Startup.Slice, TEdit::Slice}};
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
  Window.ScheduleRedraw();
  if (!Startup.FileName.empty())
    Window.OpenFileNamed(Startup.FileName);
  return warnings;
}
