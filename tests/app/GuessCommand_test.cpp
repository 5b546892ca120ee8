#include "QtPrinters.h"
#include "app/CommandLine.h"
#include "app/GuessCommand.h"
#include "app/ProgramRun.h"
#include "data/VxDataMgr.h"
#include "guess/formats/NiftiSample.h"
#include "platform/TextCodec.h"
#include "ui/fm_Main.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace guess;

namespace {

using testfiles::TProgramRun;
using testfiles::TTempDir;

// Layouts over every type and order, with each field at its ends and between.
std::vector<TLayout> LayoutSweep() {
  const int32_t headers[] = {0, 32767, 352, 1};
  const int32_t dims[] = {1, 10000, 7, 256};
  std::vector<TLayout> layouts;
  for (int type = 0; type < VoxelTypeCount; ++type)
    for (const TByteOrder order : {boLittleEndian, boBigEndian})
      for (int i = 0; i < 4; ++i)
        layouts.push_back({headers[i], dims[i], dims[(i + 1) % 4], dims[(i + 2) % 4],
                           static_cast<TVoxelType>(type), order});
  return layouts;
}

// The words a shell passes on: blanks split them and a word that begins with
// "#" starts a comment.
QStringList ShellWords(const std::string& Line) {
  QStringList words;
  std::istringstream in(Line);
  for (std::string word; in >> word && word.front() != '#';)
    words.append(QString::fromStdString(word));
  return words;
}

TEST(GuessCommandTest, EachPrintedLineOpensTheFileLaidOutAsProposed) {
  TTempDir dir;
  const std::string file = dir.MakeFile("\xFF\xFE volume.raw", std::vector<uint8_t>(64, 1));
  TVxDataMgr dataMgr;
  Tfm_Main window(dataMgr);
  window.show();
  for (const TLayout& layout : LayoutSweep()) {
    const std::string line = CandidateLine({layout, 0.5, "reason"});
    QStringList arguments = QStringList{"zandrel"} + ShellWords(line);
    arguments.append(QString::fromStdU16String(platform::BytesToWide(file)));
    const TParsedCommandLine parsed = ParseCommandLine(arguments, QStringLiteral("0"));
    ASSERT_EQ(parsed.ExitCode, -1) << line << ": " << parsed.Output.toStdString();
    EXPECT_EQ(parsed.Startup.FileName, file);
    EXPECT_TRUE(ApplyStartup(parsed.Startup, window).isEmpty()) << line;
    const bool oneByte = BytesPerVoxel[layout.VoxelType] == 1;
    const TLayout shown{dataMgr.HeaderBytes(), dataMgr.Dims(0),     dataMgr.Dims(1),
                        dataMgr.Dims(2),       dataMgr.VoxelType(), dataMgr.ByteOrder()};
    EXPECT_EQ(shown, (TLayout{layout.HeaderBytes, layout.VoxelsPerRow, layout.RowsPerSlice,
                              layout.SlicesPerVolume, layout.VoxelType,
                              oneByte ? boLittleEndian : layout.ByteOrder}))
        << line;
    EXPECT_EQ(dataMgr.FileName(), file);
  }
}

TEST(GuessCommandTest, ReportKeepsOrderScoreAndReasonBytesOnOneLineEach) {
  struct TCase {
    double Score;
    std::string Reason;
    std::string Comment; // what follows the options
  };
  const TCase cases[] = {
      {0.97, "NIfTI-1 header", "  # 0.97 NIfTI-1 header"},
      {1.0, "", "  # 1.00"},
      {0.005, "rows \xFF\xFE<b>", "  # 0.01 rows \xFF\xFE<b>"},
      {0.0949, "a\nb\rc\td", "  # 0.09 a b c d"},
      {7.5, "x", "  # 1.00 x"},
      {-2.0, "x", "  # 0.00 x"},
      {std::nan(""), "x", "  # 0.00 x"},
  };
  TLayoutGuess guess;
  std::string expected;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const TLayout layout{static_cast<int32_t>(i), 2, 3, 4, vtFloat64, boBigEndian};
    guess.Candidates.push_back({layout, cases[i].Score, cases[i].Reason});
    expected += LayoutOptions(layout) + cases[i].Comment + "\n";
  }
  guess.Why = "never shown";
  const TGuessReport report = ReportGuess(guess);
  EXPECT_EQ(report.ExitCode, 0);
  EXPECT_EQ(report.Text, expected);
  guess.DataFile = "/d/x\n.raw";
  EXPECT_EQ(ReportGuess(guess).Text, "# the voxels are in /d/x .raw\n" + expected);

  const TGuessReport none = ReportGuess({{}, "cannot read \xFF\n.raw", {}});
  EXPECT_EQ(none.ExitCode, 1);
  EXPECT_EQ(none.Text, "# cannot read \xFF .raw\n");
  EXPECT_EQ(ReportGuess({}).Text.rfind("# ", 0), 0u);
}

TEST(GuessCommandTest, ProgramGivesNoProposalForWhatHoldsNoVolume) {
  TTempDir dir;
  const std::string fifo = dir.Path("pipe\xFF");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& file :
       {dir.MakeFile("empty\xFE.raw", {}), fifo, dir.Path("missing.raw"), dir.Root()}) {
    TTempDir out;
    TProgramRun run({"--guess", file}, out);
    EXPECT_EQ(run.Wait(), 1) << file << ": " << run.Err();
    const std::string printed = run.Out();
    EXPECT_EQ(printed.rfind("# ", 0), 0u) << file << ": " << printed;
    EXPECT_EQ(printed.find('\n'), printed.size() - 1) << file << ": " << printed;
  }
}

TEST(GuessCommandTest, ProgramSaysWhenItsOutputCannotBeWritten) {
  TTempDir dir;
  ASSERT_EQ(::symlink("/dev/full", dir.Path("stdout").c_str()), 0);
  TProgramRun run({"--guess", dir.Path("missing.raw")}, dir);
  EXPECT_EQ(run.Wait(), 1);
  EXPECT_NE(run.Err().find("standard output"), std::string::npos) << run.Err();
}

// Needs the reader of self-describing headers in the guesser.
TEST(GuessEndToEndTest, ProgramPrintsTheLayoutOfANiftiFileFirst) {
  TTempDir dir;
  const std::string file = testfiles::WriteNiftiSample(dir, "head\xFF.nii");
  TProgramRun run({"--guess", file}, dir);
  ASSERT_EQ(run.Wait(), 0) << run.Out() << run.Err();
  EXPECT_EQ(run.Out().rfind(LayoutOptions(testfiles::NiftiSampleLayout) + "  # ", 0), 0u)
      << run.Out();
}

} // namespace
