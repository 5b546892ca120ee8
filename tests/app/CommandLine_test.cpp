#include "app/CommandLine.h"
#include "data/TestFiles.h"
#include "data/VxDataMgr.h"
#include "ui/fm_Main.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

TParsedCommandLine Parse(QStringList Arguments) {
  Arguments.prepend(QStringLiteral("zandrel"));
  return ParseCommandLine(Arguments, QStringLiteral("0.3.0.0"));
}

TEST(CommandLineTest, UsageAndVersionEndTheProgramAtOnce) {
  const TParsedCommandLine help = Parse({"--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_TRUE(help.Output.contains(QStringLiteral("[FILE]")));
  EXPECT_TRUE(help.Output.contains(QStringLiteral("--skip-header")));
  const TParsedCommandLine version = Parse({"--version"});
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_EQ(version.Output, QStringLiteral("zandrel 0.3.0.0\n"));
}

TEST(CommandLineTest, MistakesAreRefusedWithAReason) {
  const QStringList mistakes[] = {{"--type", "int8"},   {"--byte-order", "middle"},
                                  {"--intensity", "5"}, {"a.raw", "b.raw"},
                                  {"--no-such-option"}, {"--slice"}};
  for (const QStringList& arguments : mistakes) {
    const TParsedCommandLine parsed = Parse(arguments);
    EXPECT_EQ(parsed.ExitCode, 2) << arguments.join(' ').toStdString();
    EXPECT_FALSE(parsed.Output.isEmpty());
  }
}

TEST(CommandLineTest, LayoutAndFileAreTakenAsGiven) {
  const TParsedCommandLine parsed =
      Parse({"--skip-header", "352", "--voxels-per-row", "256", "--type", "Float32", "--byte-order",
             "big", "--intensity", "-5,2000", "volume.raw"});
  ASSERT_EQ(parsed.ExitCode, -1);
  const TStartup& startup = parsed.Startup;
  EXPECT_EQ(startup.FileName, "volume.raw");
  EXPECT_EQ(startup.SkipHeader, QStringLiteral("352"));
  EXPECT_EQ(startup.VoxelsPerRow, QStringLiteral("256"));
  EXPECT_FALSE(startup.RowsPerSlice.has_value());
  EXPECT_EQ(startup.DataType, 3);
  EXPECT_EQ(startup.ByteOrder, 1);
  EXPECT_EQ(startup.IntensityMin, QStringLiteral("-5"));
  EXPECT_EQ(startup.IntensityMax, QStringLiteral("2000"));
  EXPECT_TRUE(Parse({}).Startup.FileName.empty());
}

TEST(CommandLineTest, StartupGoesThroughTheWindowsOwnChecks) {
  testfiles::TTempDir dir;
  const std::string path = dir.MakeFile("volume.raw", std::vector<uint8_t>(400, 7));
  TVxDataMgr dataMgr;
  Tfm_Main window(dataMgr);
  window.FormActivate();
  TStartup startup;
  startup.FileName = path;
  startup.SkipHeader = QStringLiteral("40000"); // above the range: clamped as if typed
  startup.VoxelsPerRow = QStringLiteral("10");
  startup.DataType = 1;
  // Not a number: reverted to the last accepted text, which for an edit not
  // yet changed by hand is the empty text.
  startup.IntensityMin = QStringLiteral("abc");
  ApplyStartup(startup, window);
  EXPECT_EQ(window.ed_SkipHeader->text(), QStringLiteral("32767"));
  EXPECT_EQ(window.ed_IntensityMin->text(), QString());
  EXPECT_EQ(dataMgr.Dims(0), 10);
  EXPECT_EQ(dataMgr.VoxelType(), vtInt16);
  EXPECT_EQ(dataMgr.FileName(), path);
  EXPECT_EQ(window.lb_FilePath->text(), QString::fromStdString(path));
  EXPECT_TRUE(window.Timer1->isActive());
}

} // namespace
