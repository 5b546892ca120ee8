#include "FileState.h"
#include "GzipFile.h"
#include "app/CommandLine.h"
#include "app/HeadlessCommand.h"
#include "app/ProgramRun.h"
#include "data/ZoomModel.h"
#include "ui/ImageWidget.h"
#include "ui/MainWindowFixture.h"

#include <QImage>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using testfiles::Contents;
using testfiles::ExpectUntouched;
using testfiles::StateOf;
using testfiles::TFileState;
using testfiles::TProgramRun;

std::string RandomFile(const testfiles::TTempDir& Dir, const char* Name, size_t Bytes) {
  std::mt19937 random(99);
  std::vector<uint8_t> bytes(Bytes);
  for (uint8_t& byte : bytes)
    byte = static_cast<uint8_t>(random());
  return Dir.MakeFile(Name, bytes);
}

TParsedCommandLine Parse(QStringList Arguments) {
  Arguments.prepend(QStringLiteral("zandrel"));
  return ParseCommandLine(Arguments, QStringLiteral("0.3.0.0"));
}

TEST(HeadlessCommand, WrongUsageEndsWithCodeTwo) {
  const std::pair<QStringList, const char*> cases[] = {
      {{"--write-header", "a.txt", "f"}, ".nhdr, .mhd or .hdr"},
      {{"--write-header", "a.nhdr"}, "OUT FILE"},
      {{"--write-header", "a.nhdr", "f", "g"}, "OUT FILE"},
      {{"--print-layout", "python", "f"}, "numpy"},
      {{"--export-view", "top", "a.png", "f"}, "other-volume"},
      {{"--export-view", "slice", "a.jpg", "f"}, ".png or .bmp"},
      {{"--export-view", "slice", "f"}, "VIEW OUT FILE"},
      {{"--force", "f"}, "--force"},
      {{"--force", "--print-layout", "numpy", "f"}, "--force"},
      {{"--write-header", "a.nhdr", "--print-layout", "numpy", "f"}, "cannot go together"},
      {{"--guess", "f", "--write-header", "a.nhdr"}, "--guess"},
      {{"--voxels-per-row", "10001", "--write-header", "a.nhdr", "f"}, "out of range"},
      {{"--slice", "-1", "--export-view", "slice", "a.png", "f"}, "out of range"},
      {{"--volume", "x", "--export-view", "slice", "a.png", "f"}, "\"x\" is not a number"},
      {{"--skip-header", "2147483648", "--print-layout", "numpy", "f"},
       "2147483648 is out of range"},
      {{"--cross-slice-row", "1.5", "--print-layout", "numpy", "f"}, "not a number"},
      {{"--zoom", "24", "--export-view", "slice", "a.png", "f"}, "\"24\" is not one of 1/8"},
      {{"--zoom", "2", "--write-header", "a.nhdr", "f"}, "--zoom goes with"},
      {{"--zoom", "1", "--print-layout", "numpy", "f"}, "--zoom goes with"},
  };
  for (const auto& [arguments, words] : cases) {
    const TParsedCommandLine parsed = Parse(arguments);
    EXPECT_EQ(parsed.ExitCode, 2) << arguments.join(' ').toStdString();
    EXPECT_TRUE(parsed.Output.contains(QLatin1StringView(words)))
        << parsed.Output.toStdString() << " lacks " << words;
    EXPECT_EQ(parsed.Output.count(u'\n'), 1);
  }
}

TEST(HeadlessCommand, TakesTheLayoutAndViewOptions) {
  const TParsedCommandLine parsed =
      Parse({"--skip-header", "0x10", "--type", "int16", "--byte-order", "big", "--voxels-per-row",
             "7", "--cross-slice-row", "3", "--volume", "2", "--flag-over-under", "--intensity",
             "-5,$10", "--export-view", "other-volume", "o.png", "f"});
  ASSERT_TRUE(parsed.Headless) << parsed.Output.toStdString();
  const THeadlessCommand& command = *parsed.Headless;
  EXPECT_EQ(command.Layout, (TLayout{16, 7, 256, 256, vtInt16, boBigEndian}));
  EXPECT_EQ(command.Kind, THeadlessCommand::ExportView);
  EXPECT_EQ(command.View, vkOtherVolume);
  EXPECT_EQ(command.Out, "o.png");
  EXPECT_EQ(command.File, "f");
  EXPECT_EQ(std::tuple(command.CrossSliceRow, command.Volume, command.Slice), std::tuple(3, 2, 0));
  EXPECT_EQ(std::pair(command.IntensityMin, command.IntensityMax), std::pair(-5, 16));
  EXPECT_TRUE(command.FlagOverUnder);
  EXPECT_FALSE(command.Force);
  EXPECT_EQ(command.ZoomStep, zoom::ActualSize);
  const TParsedCommandLine zoomed =
      Parse({"--zoom", "1/2", "--export-view", "slice", "o.png", "f"});
  ASSERT_TRUE(zoomed.Headless) << zoomed.Output.toStdString();
  EXPECT_EQ(zoom::StepName(zoomed.Headless->ZoomStep), "1/2");
}

TBitmap24 Decoded(const std::string& Bytes) {
  const QImage image =
      QImage::fromData(QByteArray::fromStdString(Bytes)).convertToFormat(QImage::Format_BGR888);
  TBitmap24 bitmap;
  bitmap.SetSize(image.width(), image.height());
  for (int y = 0; y < image.height(); ++y)
    std::memcpy(bitmap.ScanLine(y), image.constScanLine(y), static_cast<size_t>(image.width()) * 3);
  return bitmap;
}

// Each step, as PNG and BMP, against the model of the 1:1 picture.
TEST(HeadlessCommand, AnExportAtAZoomStepIsTheOneToOneViewScaled) {
  const testfiles::TTempDir dir;
  THeadlessCommand command;
  command.File = RandomFile(dir, "v.raw", 13 * 11 * 6);
  command.Layout = {0, 13, 11, 5, vtByte, boLittleEndian};
  command.View = vkCrossSlice;
  std::string why;
  command.Out = "o.png";
  const TBitmap24 actual = Decoded(ViewPictureFile(command, why));
  ASSERT_EQ(actual.Width(), 13) << why;
  for (int step = 0; step < zoom::ZoomStepCount; ++step)
    for (const char* out : {"o.png", "o.bmp"}) {
      command.ZoomStep = step;
      command.Out = out;
      why.clear();
      const TBitmap24 zoomed = Decoded(ViewPictureFile(command, why));
      EXPECT_EQ(why, "");
      const zoom::TZoomStep s = zoom::ZoomSteps[step];
      const testfiles::TZoomedModel model = testfiles::ZoomModel(actual, s.Up, s.Down);
      const std::string what = zoom::StepName(step) + " " + out;
      ASSERT_EQ(zoomed.Width(), model.Width) << what;
      ASSERT_EQ(zoomed.Height(), model.Height) << what;
      testfiles::ExpectPixels(
          zoomed, [&](int64_t P) { return model.Pixels[static_cast<size_t>(P)]; }, what);
    }
}

// Each view exported headless, as PNG and as BMP, against the bitmap that
// the window painted for the same file, layout and view options.
class HeadlessExport : public TMainWindowTest {};

TEST_F(HeadlessExport, EqualsTheWindowsViewByteForByte) {
  const testfiles::TTempDir dir;
  const std::string file = RandomFile(dir, "v.raw", 37 + 13 * 11 * 5 * 4 * 2 + 300);
  const char* const images[] = {"img_Slice", "img_NextSlice", "img_CrossSliceView",
                                "img_OtherVolume"};
  const TLayout layouts[] = {{37, 13, 11, 5, vtInt16, boBigEndian},
                             {37, 13, 11, 5, vtFloat32, boLittleEndian},
                             {0, 26, 11, 3, vtByte, boLittleEndian}};
  Window.OpenFileNamed(file);
  for (const TLayout& layout : layouts) {
    THeadlessCommand command;
    command.File = file;
    command.Layout = layout;
    command.Slice = 2;
    command.CrossSliceRow = 4;
    command.Volume = 1;
    command.IntensityMin = layout.VoxelType == vtByte ? 20 : -3000;
    command.IntensityMax = layout.VoxelType == vtByte ? 200 : 3000;
    command.FlagOverUnder = layout.VoxelType != vtFloat32;
    Window.ApplyLayout(layout);
    Window.EnterNumber(Tfm_Main::TNumberEdit::IntensityMin, QString::number(command.IntensityMin));
    Window.EnterNumber(Tfm_Main::TNumberEdit::IntensityMax, QString::number(command.IntensityMax));
    Window.EnterNumber(Tfm_Main::TNumberEdit::Slice, QStringLiteral("2"));
    Window.EnterNumber(Tfm_Main::TNumberEdit::CrossSliceRow, QStringLiteral("4"));
    Window.EnterNumber(Tfm_Main::TNumberEdit::Volume, QStringLiteral("1"));
    Window.SetFlagOverUnder(command.FlagOverUnder);
    Window.ScheduleRedraw();
    RedrawNow();
    for (int view = 0; view < ViewKindCount; ++view) {
      command.View = static_cast<TViewKind>(view);
      const TBitmap24& shown = Control<TImageWidget>(images[view])->Picture();
      ASSERT_GT(shown.Width() * shown.Height(), 0);
      for (const char* out : {"o.png", "o.bmp"}) {
        SCOPED_TRACE(testing::Message()
                     << FactsOf(layout.VoxelType).Name << " " << images[view] << " " << out);
        command.Out = out;
        std::string why;
        const std::string bytes = ViewPictureFile(command, why);
        const QImage image = QImage::fromData(QByteArray::fromStdString(bytes))
                                 .convertToFormat(QImage::Format_BGR888);
        ASSERT_EQ(image.size(), QSize(shown.Width(), shown.Height())) << why;
        for (int32_t row = 0; row < shown.Height(); ++row)
          ASSERT_EQ(std::memcmp(image.constScanLine(row), shown.ScanLine(row),
                                static_cast<size_t>(shown.Width()) * 3),
                    0)
              << "row " << row;
      }
    }
  }
}

// The built program as a script would run it: what it writes, and the one
// line and code it ends with when it cannot, leaving the data file as it was.
TEST(HeadlessCommand, ProgramWritesOrSaysWhyInOneLine) {
  const testfiles::TTempDir dir;
  const std::string data = RandomFile(dir, "d\xff.raw", 100 + 16 * 8 * 2 * 7);
  std::filesystem::create_directory(dir.Path("folder.nhdr"));
  std::filesystem::create_symlink(data, dir.Path("link.mhd"));
  ASSERT_EQ(::mkfifo(dir.Path("pipe.png").c_str(), 0600), 0);
  dir.MakeFile("kept.hdr", {'k'});
  const std::string plain = Contents(data);
  const std::string gzipped = dir.MakeFile(
      "d.raw.gz", testfiles::Gzipped(std::vector<uint8_t>(plain.begin(), plain.end())));
  const TFileState before = StateOf(data);
  const std::vector<std::string> layout = {
      "--skip-header",       "100", "--voxels-per-row", "16",     "--rows-per-slice", "8",
      "--slices-per-volume", "3",   "--type",           "uint16", "--byte-order",     "big"};
  struct TCase {
    std::vector<std::string> Arguments;
    int ExitCode;
    std::string Out;
  };
  const TCase cases[] = {
      {{"--write-header", dir.Path("h.nhdr"), data}, 0, ""},
      {{"--print-layout", "numpy", data},
       0,
       "numpy.memmap(b\"" + dir.Path("d\\xff.raw") +
           "\", dtype=\">u2\", mode=\"r\", offset=100, shape=(2, 3, 8, 16))\n"},
      {{"--export-view", "cross-slice", dir.Path("c.png"), data}, 0, ""},
      {{"--write-header", dir.Path("z.nhdr"), gzipped}, 0, ""},
      {{"--print-layout", "numpy", gzipped}, 1, ""}, // memmap cannot decompress
      {{"--write-header", dir.Path("kept.hdr"), data}, 1, ""},
      {{"--force", "--write-header", dir.Path("folder.nhdr"), data}, 1, ""},
      {{"--force", "--write-header", dir.Path("link.mhd"), data}, 1, ""},
      {{"--force", "--write-header", data + ".mhd", data + ".mhd"}, 1, ""},
      {{"--force", "--export-view", "slice", dir.Path("pipe.png"), data}, 1, ""},
      {{"--write-header", dir.Path("no/h.mhd"), data}, 1, ""},
      {{"--type", "float16", "--write-header", dir.Path("f.mhd"), data}, 1, ""},
      {{"--write-header", dir.Path("n\n<b>.mhd"), dir.Path("n\n<b>.raw")}, 1, ""},
  };
  for (const TCase& test : cases) {
    std::vector<std::string> arguments = layout;
    arguments.insert(arguments.end(), test.Arguments.begin(), test.Arguments.end());
    const testfiles::TTempDir io;
    TProgramRun run(arguments, io);
    SCOPED_TRACE(test.Arguments.front() + " " + test.Arguments[1]);
    EXPECT_EQ(run.Wait(), test.ExitCode) << run.Err();
    EXPECT_EQ(run.Out(), test.Out);
    const std::string err = run.Err();
    EXPECT_EQ(test.ExitCode == 0 ? 0 : 1, std::count(err.begin(), err.end(), '\n')) << err;
  }
  EXPECT_EQ(Contents(dir.Path("h.nhdr")),
            "NRRD0004\ntype: uint16\ndimension: 4\nsizes: 16 8 3 2\nendian: big\n"
            "encoding: raw\nbyte skip: 100\ndata file: d\xff.raw\n");
  EXPECT_EQ(Contents(dir.Path("z.nhdr")),
            "NRRD0004\ntype: uint16\ndimension: 4\nsizes: 16 8 3 2\nendian: big\n"
            "encoding: gzip\nbyte skip: 100\ndata file: d.raw.gz\n");
  EXPECT_EQ(Contents(dir.Path("kept.hdr")), "k");
  THeadlessCommand command;
  command.Kind = THeadlessCommand::ExportView;
  command.Layout = {100, 16, 8, 3, vtUInt16, boBigEndian};
  command.View = vkCrossSlice;
  command.File = data;
  command.Out = "c.png";
  std::string why;
  EXPECT_EQ(Contents(dir.Path("c.png")), ViewPictureFile(command, why));

  {
    // Output that never reaches its reader, and a size limit for a full disk.
    std::vector<std::string> arguments = layout;
    arguments.insert(arguments.end(), {"--export-view", "slice", dir.Path("big.bmp"), data});
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit lowered = previous;
    lowered.rlim_cur = 200;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
    const testfiles::TTempDir io;
    TProgramRun limited(arguments, io);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    EXPECT_EQ(limited.Wait(), 1) << limited.Err();
    EXPECT_NE(limited.Err().find("Cannot write file"), std::string::npos) << limited.Err();
  }
  ExpectUntouched(before, data);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Root()))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left,
            (std::vector<std::string>{"c.png", "d.raw.gz", "d\xff.raw", "folder.nhdr", "h.nhdr",
                                      "kept.hdr", "link.mhd", "pipe.png", "z.nhdr"}));
}

} // namespace
