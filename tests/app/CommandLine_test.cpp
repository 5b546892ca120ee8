#include "QtPrinters.h"
#include "app/CommandLine.h"
#include "app/ProgramRun.h"
#include "data/TestFiles.h"
#include "data/VxDataMgr.h"
#include "platform/TextCodec.h"
#include "ui/MainWindowFixture.h"
#include "ui/fm_Main.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace {

using testfiles::TProgramRun;

TParsedCommandLine Parse(QStringList Arguments) {
  Arguments.prepend(QStringLiteral("zandrel"));
  return ParseCommandLine(Arguments, QStringLiteral("0.3.0.0"));
}

QString Lossless(const std::string& Bytes) {
  return QString::fromStdU16String(platform::BytesToWide(Bytes));
}

QString Describe(const std::optional<QString>& Value) {
  return Value ? QLatin1Char('"') + *Value + QLatin1Char('"') : QStringLiteral("-");
}

QString Describe(const std::optional<int>& Value) {
  return Value ? QString::number(*Value) : QStringLiteral("-");
}

// Every field, so that one comparison shows which of them differ.
QString Describe(const TStartup& Startup) {
  const QByteArray file = QByteArray::fromStdString(Startup.FileName).toPercentEncoding("/");
  return QStringList{QString::fromLatin1(file),         Describe(Startup.SkipHeader),
                     Describe(Startup.VoxelsPerRow),    Describe(Startup.RowsPerSlice),
                     Describe(Startup.SlicesPerVolume), Describe(Startup.DataType),
                     Describe(Startup.ByteOrder),       Describe(Startup.IntensityMin),
                     Describe(Startup.IntensityMax),    Describe(Startup.Slice),
                     Describe(Startup.ZoomStep)}
      .join(QLatin1Char(' '));
}

TEST(CommandLineTest, EndsAtOnceWithTheRightCodeAndWords) {
  struct TCase {
    QStringList Arguments;
    int ExitCode;
    QStringList Words;
  };
  const TCase cases[] = {
      {{"--help"}, 0, {"[FILE]", "--skip-header", "--help-all", "--guess <FILE>"}},
      {{"--help-all"},
       0,
       {"--skip-header", "--platform", "--display", "--style", "--stylesheet", "--qwindowtitle",
        "--reverse"}},
      {{"-platform", "offscreen", "--version"}, 0, {"zandrel 0.3.0.0\n"}},
      {{"--type", "int128"},
       2,
       {"--type", "int128",
        "byte, int16, int32, float32, uint16, int8, uint32, int64, uint64, float16, float64."}},
      {{"--byte-order", "middle"}, 2, {"--byte-order", "middle", "little, big"}},
      {{"--intensity", "5"}, 2, {"--intensity", "min,max"}},
      {{"--intensity", "5,abc"}, 2, {"--intensity", "5,abc"}},
      {{"--voxels-per-row", "x"}, 2, {"--voxels-per-row", "\"x\""}},
      {{"--slice", ""}, 2, {"--slice", "\"\""}},
      {{"--skip-header", "2147483648"}, 2, {"--skip-header"}},
      {{"--rows-per-slice", "12 "}, 2, {"--rows-per-slice"}},
      {{"--slices-per-volume", "1e3"}, 2, {"--slices-per-volume"}},
      {{"a.raw", "b.raw"}, 2, {"one file"}},
      {{"--zoom", "5"}, 2, {"--zoom", "\"5\"", "1/8, 1/4, 1/2, 1, 2, 3, 4, 6, 8, 12, 16."}},
      {{"--zoom", "1/3", "a.raw"}, 2, {"--zoom", "\"1/3\""}},
      {{"--zoom", "0.25"}, 2, {"--zoom"}},
      {{"--zoom", ""}, 2, {"--zoom"}},
      {{"--zoom"}, 2, {"--zoom"}},
      {{"--zoom", "2", "--guess", "a.raw"}, 2, {"--guess"}},
      // A guess ends the program, so anything beside it would be lost.
      {{"--guess", "a.raw", "b.raw"}, 2, {"--guess"}},
      {{"--guess", "a.raw", "--type", "int16"}, 2, {"--guess"}},
      {{"--slice", "3", "--guess", "a.raw"}, 2, {"--guess"}},
      {{"--guess", "a.raw", "--guess", "b.raw"}, 2, {"--guess"}},
      {{"--guess"}, 2, {"--guess"}},
      {{"--no-such-option"}, 2, {"no-such-option"}},
      {{"--slice"}, 2, {"--slice"}},
      {{"volume.raw", "-qwindowtitle"}, 2, {"-qwindowtitle"}},
      // Forms that Qt itself does not take stay unknown.
      {{"-platform=offscreen"}, 2, {}},
      {{"---reverse"}, 2, {}},
  };
  for (const TCase& test : cases) {
    const TParsedCommandLine parsed = Parse(test.Arguments);
    const std::string what = test.Arguments.join(' ').toStdString();
    EXPECT_EQ(parsed.ExitCode, test.ExitCode) << what << ": " << parsed.Output.toStdString();
    EXPECT_FALSE(parsed.Output.isEmpty()) << what;
    for (const QString& word : test.Words)
      EXPECT_TRUE(parsed.Output.contains(word)) << what << " lacks " << word.toStdString();
  }
  EXPECT_FALSE(Parse({"--help"}).Output.contains(QStringLiteral("--platform")));
}

TEST(CommandLineTest, StartupTakesTheNumbersAndTheFileBytes) {
  struct TCase {
    QStringList Arguments;
    TStartup Expected;
  };
  const TCase cases[] = {
      {{}, {}},
      {{"--skip-header", "352", "--voxels-per-row", " 0x100", "--rows-per-slice", "$10",
        "--slices-per-volume", "+3", "--type", "Float32", "--byte-order", "big", "--intensity",
        "-5,$7D0", "--slice", "007", "volume.raw"},
       {.FileName = "volume.raw",
        .SkipHeader = "352",
        .VoxelsPerRow = "256",
        .RowsPerSlice = "16",
        .SlicesPerVolume = "3",
        .DataType = 3,
        .ByteOrder = 1,
        .IntensityMin = "-5",
        .IntensityMax = "2000",
        .Slice = "7"}},
      // Out of range is not an error here; the window decides what it becomes.
      {{"--intensity", "-2147483648,0xFFFFFFFF", "--slice", "-1", "--skip-header", "40000"},
       {.SkipHeader = "40000", .IntensityMin = "-2147483648", .IntensityMax = "-1", .Slice = "-1"}},
      // Qt's own options, left for the application object, with their values.
      {{"-platform",
        "offscreen",
        "-display",
        ":0",
        "-style",
        "fusion",
        "--style=windows",
        "-stylesheet=a.qss",
        "--stylesheet",
        "b.qss",
        "-reverse",
        "--geometry",
        "10x10",
        "-platformtheme",
        "gtk3",
        "-qwindowtitle",
        "--help",
        "-qmljsdebugger=port:1",
        "-widgetcount",
        "-session",
        "s",
        "--type",
        "int16",
        "volume.raw"},
       {.FileName = "volume.raw", .DataType = 1}},
      {{Lossless("/tmp/x/\xFF\xFE.raw")}, {.FileName = "/tmp/x/\xFF\xFE.raw"}},
      {{"--zoom", "1/4", "v.raw"}, {.FileName = "v.raw", .ZoomStep = 1}},
      {{"--zoom", "16"}, {.ZoomStep = 10}},
  };
  for (const TCase& test : cases) {
    const TParsedCommandLine parsed = Parse(test.Arguments);
    const std::string what = test.Arguments.join(' ').toStdString();
    EXPECT_EQ(parsed.ExitCode, -1) << what << ": " << parsed.Output.toStdString();
    EXPECT_EQ(Describe(parsed.Startup), Describe(test.Expected)) << what;
  }
}

TEST(CommandLineTest, GuessTakesTheFileBytesBesideQtsOptions) {
  const std::string name = "/tmp/\xFF<b>\n.raw";
  for (const QStringList& arguments :
       {QStringList{"-platform", "offscreen", "--guess", Lossless(name)},
        QStringList{"--guess=" + Lossless(name), "-reverse"}}) {
    const TParsedCommandLine parsed = Parse(arguments);
    EXPECT_EQ(parsed.ExitCode, -1) << parsed.Output.toStdString();
    EXPECT_EQ(parsed.GuessFile, name);
    EXPECT_EQ(Describe(parsed.Startup), Describe(TStartup{}));
  }
  EXPECT_EQ(Parse({"volume.raw"}).GuessFile, std::nullopt);
}

TEST(CommandLineTest, EachTypeNameSelectsItsDataTypeItemAndIsOffered) {
  const char* const names[] = {"byte",   "int16", "int32",  "float32", "uint16", "int8",
                               "uint32", "int64", "uint64", "float16", "float64"};
  const QString help = Parse({"--help"}).Output;
  for (int item = 0; item < VoxelTypeCount; ++item) {
    const QString name = QString::fromLatin1(names[item]);
    const TParsedCommandLine parsed = Parse({"--type", item % 2 ? name.toUpper() : name});
    EXPECT_EQ(parsed.ExitCode, -1) << names[item];
    EXPECT_EQ(parsed.Startup.DataType, item) << names[item];
    // Whole, as a word of the help.
    EXPECT_TRUE(help.contains(QRegularExpression(QStringLiteral("\\b%1\\b").arg(name))))
        << names[item];
  }
}

TEST(CommandLineTest, StartupGoesThroughTheWindowsOwnChecks) {
  testfiles::TTempDir dir;
  const std::string path = dir.MakeFile("volume.raw", std::vector<uint8_t>(400, 7));
  TVxDataMgr dataMgr;
  Tfm_Main window(dataMgr);
  window.show();
  TStartup startup;
  startup.FileName = path;
  startup.SkipHeader = QStringLiteral("40000");
  startup.VoxelsPerRow = QStringLiteral("10");
  startup.RowsPerSlice = QStringLiteral("-1"); // typed, it brings back the spin position
  startup.Slice = QStringLiteral("-5");
  startup.DataType = 1;
  startup.IntensityMin = QStringLiteral("-7");
  startup.CrossSliceRow = QStringLiteral("3");
  startup.Volume = QStringLiteral("20000");
  startup.FlagOverUnder = true;
  startup.ZoomStep = 6;
  const QStringList warnings = ApplyStartup(startup, window);
  EXPECT_EQ(window.ZoomStep(), 6);
  EXPECT_EQ(ControlOf<QLineEdit>(window, "ed_SkipHeader")->text(), QStringLiteral("40000"));
  EXPECT_EQ(ControlOf<QLineEdit>(window, "ed_RowsPerSlice")->text(), QStringLiteral("256"));
  EXPECT_EQ(ControlOf<QLineEdit>(window, "ed_SliceNumber")->text(), QStringLiteral("0"));
  EXPECT_EQ(ControlOf<QLineEdit>(window, "ed_IntensityMin")->text(), QStringLiteral("-7"));
  EXPECT_EQ(ControlOf<QLineEdit>(window, "ed_CrossSliceViewY")->text(), QStringLiteral("3"));
  EXPECT_EQ(ControlOf<QLineEdit>(window, "ed_VolumeNumber")->text(), QStringLiteral("10000"));
  EXPECT_TRUE(ControlOf<QCheckBox>(window, "ck_FlagOverUnder")->isChecked());
  ASSERT_EQ(warnings.size(), 3) << warnings.join('\n').toStdString();
  const QStringList expected[] = {
      {"--rows-per-slice", "-1", "256"}, {"--slice", "-5", "0"}, {"--volume", "20000", "10000"}};
  for (qsizetype i = 0; i < warnings.size(); ++i)
    for (const QString& word : expected[i])
      EXPECT_TRUE(warnings[i].contains(word)) << warnings[i].toStdString();
  EXPECT_EQ(dataMgr.HeaderBytes(), 40000);
  EXPECT_EQ(dataMgr.Dims(0), 10);
  EXPECT_EQ(dataMgr.VoxelType(), vtInt16);
  EXPECT_TRUE(dataMgr.FlagOverUnder());
  EXPECT_EQ(dataMgr.FileName(), path);
  EXPECT_TRUE(ControlOf<QAction>(window, "mi_GuessLayout")->isEnabled());
  EXPECT_EQ(ControlOf<QLabel>(window, "lb_FilePath")->text(), QString::fromStdString(path));
  EXPECT_TRUE(ControlOf<QTimer>(window, "Timer1")->isActive());
}

TEST(CommandLineTest, SkipHeaderTakesTheWholeRangeOfTheWindow) {
  const std::pair<const char*, int32_t> headers[] = {
      {"32768", 32768}, {"0x7FFFFFFF", INT32_MAX}, {"2147483647", INT32_MAX}};
  for (const auto& [text, header] : headers) {
    const TParsedCommandLine parsed = Parse({"--skip-header", text});
    ASSERT_EQ(parsed.ExitCode, -1) << text << ": " << parsed.Output.toStdString();
    TVxDataMgr dataMgr;
    Tfm_Main window(dataMgr);
    window.show();
    EXPECT_EQ(ApplyStartup(parsed.Startup, window), QStringList()) << text;
    EXPECT_EQ(dataMgr.HeaderBytes(), header) << text;
  }
}

// As the program starts: the window is shown, then the start-up layout goes
// in, and whatever events the showing brings must not set the defaults again.
TEST(CommandLineTest, DefaultsComeOnceWithTheShowingAndTheStartupLayoutWins) {
  TVxDataMgr dataMgr;
  Tfm_Main window(dataMgr);
  window.show();
  auto* voxelsPerRow = ControlOf<QLineEdit>(window, "ed_VoxelsPerRow");
  EXPECT_EQ(voxelsPerRow->text(), QStringLiteral("256"));
  TStartup startup;
  startup.VoxelsPerRow = QStringLiteral("10");
  EXPECT_TRUE(ApplyStartup(startup, window).isEmpty());
  const QSignalSpy changes(voxelsPerRow, &QLineEdit::textChanged);
  QCoreApplication::processEvents();
  window.activateWindow();
  window.hide();
  window.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(changes.count(), 0);
  EXPECT_EQ(voxelsPerRow->text(), QStringLiteral("10"));
  EXPECT_EQ(dataMgr.Dims(0), 10);
}

TEST(CommandLineTest, ProgramAnswersWithoutADisplay) {
  struct TCase {
    std::vector<std::string> Arguments;
    int ExitCode;
    std::string Out;
    std::string Err;
  };
  const TCase cases[] = {
      {{"--help-all"}, 0, "--platform", ""},
      {{"-platform", "offscreen", "--version"}, 0, "zandrel ", ""},
      {{"--voxels-per-row", "x", "volume.raw"}, 2, "", "--voxels-per-row"},
  };
  for (const TCase& test : cases) {
    testfiles::TTempDir dir;
    TProgramRun run(test.Arguments, dir);
    const std::string what = test.Arguments.front();
    EXPECT_EQ(run.Wait(), test.ExitCode) << what << ": " << run.Err();
    EXPECT_NE(run.Out().find(test.Out), std::string::npos) << what << ": " << run.Out();
    EXPECT_NE(run.Err().find(test.Err), std::string::npos) << what << ": " << run.Err();
  }
}

bool HoldsOpen(pid_t Pid, const std::filesystem::path& File) {
  std::error_code error;
  const std::filesystem::path folder = "/proc/" + std::to_string(Pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    if (std::filesystem::read_symlink(entry.path(), error) == File)
      return true;
  return false;
}

// The data manager keeps the file open while it is shown, which is what can
// be seen of a running program from outside.
TEST(CommandLineTest, ProgramOpensAFileWhoseNameIsNotText) {
  testfiles::TTempDir dir;
  const std::string path = dir.MakeFile("\xFF\xFE.raw", std::vector<uint8_t>(4096, 9));
  TProgramRun run({"-platform", "offscreen", path}, dir);
  const std::filesystem::path file = std::filesystem::canonical(path);
  bool open = false;
  for (int tick = 0; tick < 400 && !open && run.Running(); ++tick) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    open = HoldsOpen(run.Pid(), file);
  }
  EXPECT_TRUE(open) << run.Err();
}

} // namespace
