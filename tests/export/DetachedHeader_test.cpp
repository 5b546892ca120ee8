#include "FileState.h"
#include "TempDir.h"
#include "export/HeaderFiles.h"
#include "guess/LayoutGuess.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace layoutexport;
using testfiles::Contents;
using testfiles::ExpectUntouched;
using testfiles::StateOf;
using testfiles::TFileState;

std::vector<std::string> Entries(const std::string& Folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DetachedHeader, ExtentCountsWholeSlicesAndVolumesOnly) {
  const TLayout layout{10, 4, 3, 5, vtInt16, boBigEndian}; // 24-byte slices
  const struct {
    int64_t FileBytes;
    std::vector<int64_t> Sizes;
  } cases[] = {
      {10 + 24 * 5, {4, 3, 5}},
      {10 + 24 * 5 + 23, {4, 3, 5}},
      {10 + 24 * 9, {4, 3, 5}},
      {10 + 24 * 10, {4, 3, 5, 2}},
      {10 + 24 * 17 + 1, {4, 3, 5, 3}},
      {10 + 24 * 2 + 5, {4, 3, 2}},
      {10 + 23, {}},
      {5, {}},
  };
  for (const auto& [bytes, sizes] : cases) {
    const TExtent extent = ExtentOf(layout, bytes);
    EXPECT_EQ(extent.Sizes, sizes) << bytes;
    EXPECT_EQ(extent.Why.empty(), !sizes.empty()) << bytes;
  }
}

TEST(DetachedHeader, RefusesWhatAFormatCannotSay) {
  const TExtent extent{{4, 3, 2}, {}};
  const struct {
    THeaderFormat Format;
    TVoxelType Type;
    std::string Reference;
    bool Written;
  } cases[] = {
      {THeaderFormat::Nrrd, vtFloat16, "a.raw", false},
      {THeaderFormat::MetaImage, vtFloat16, "a.raw", false},
      {THeaderFormat::Envi, vtFloat16, "a.raw", false},
      {THeaderFormat::Envi, vtInt8, "a.raw", false},
      {THeaderFormat::Envi, vtInt64, "a.raw", false},
      {THeaderFormat::Envi, vtUInt64, "a.raw", false},
      {THeaderFormat::MetaImage, vtInt64, "a.raw", true},
      {THeaderFormat::Nrrd, vtInt8, "a.raw", true},
      {THeaderFormat::Nrrd, vtByte, "a\nb.raw", false},
      {THeaderFormat::MetaImage, vtByte, "a\rb.raw", false},
      {THeaderFormat::Nrrd, vtByte, " a.raw", false},
      {THeaderFormat::MetaImage, vtByte, "a.raw ", false},
      {THeaderFormat::Nrrd, vtByte, "LIST", false},
      {THeaderFormat::Nrrd, vtByte, "s%03d.raw 1 10 1", false},
      {THeaderFormat::Nrrd, vtByte, "my scan.raw", true},
      {THeaderFormat::Nrrd, vtByte, "50% of it.raw", true},
      {THeaderFormat::MetaImage, vtByte, "local", false},
      {THeaderFormat::MetaImage, vtByte, "50% of it.raw", false},
      {THeaderFormat::MetaImage, vtByte, "my scan.raw", true},
      {THeaderFormat::Envi, vtByte, "a\nb.raw", true}, // ENVI names no file
      {THeaderFormat::Nrrd, vtByte, "<b>\xff\xfe.raw", true},
  };
  for (const auto& [format, type, reference, written] : cases) {
    const TText text = HeaderText(format, {0, 4, 3, 2, type, boBigEndian}, extent, reference);
    EXPECT_EQ(text.Text.empty(), !written) << FormatName(format) << " " << reference;
    EXPECT_EQ(text.Why.empty(), written) << text.Why;
  }
}

// Only NRRD can say that the data are compressed, and only for gzip.
TEST(DetachedHeader, ACompressedDataFileGetsNrrdsGzipEncodingOrAReason) {
  using platform::TCompression;
  const TExtent extent{{4, 3, 2}, {}};
  for (const THeaderFormat format :
       {THeaderFormat::Nrrd, THeaderFormat::MetaImage, THeaderFormat::Envi})
    for (const TCompression kind : {TCompression::None, TCompression::Gzip, TCompression::Bzip2,
                                    TCompression::Xz, TCompression::Zstd}) {
      const TText text =
          HeaderText(format, {16, 4, 3, 2, vtInt16, boBigEndian}, extent, "a.raw", kind);
      const bool written = kind == TCompression::None ||
                           (format == THeaderFormat::Nrrd && kind == TCompression::Gzip);
      const std::string what = std::string(FormatName(format)) + " " + CompressionName(kind);
      EXPECT_EQ(text.Text.empty(), !written) << what;
      if (!written) {
        EXPECT_NE(text.Why.find(std::string("compressed with ") + CompressionName(kind)),
                  std::string::npos)
            << what << ": " << text.Why;
      }
      if (format == THeaderFormat::Nrrd && written) {
        EXPECT_NE(text.Text.find(kind == TCompression::Gzip ? "encoding: gzip\nbyte skip: 16\n"
                                                            : "encoding: raw\nbyte skip: 16\n"),
                  std::string::npos)
            << text.Text;
      }
    }
}

TEST(DetachedHeader, NamesTheDataFileRelativeOnlyAtOrBelowTheHeader) {
  const testfiles::TTempDir dir;
  std::filesystem::create_directories(dir.Path("a/b"));
  const std::string root = std::filesystem::canonical(dir.Root()).string();
  EXPECT_EQ(DataFileReference(dir.Path("a/h.nhdr"), dir.Path("a/d.raw")), "d.raw");
  EXPECT_EQ(DataFileReference(dir.Path("a/h.nhdr"), dir.Path("a/b/d.raw")), "b/d.raw");
  EXPECT_EQ(DataFileReference(dir.Path("a/b/h.nhdr"), dir.Path("a/d.raw")), root + "/a/d.raw");
  EXPECT_EQ(DataFileReference(dir.Path("a/b/../h.nhdr"), dir.Path("a/./d.raw")), "d.raw");
  EXPECT_EQ(EnviPlacementNote(dir.Path("a/d.hdr"), dir.Path("a/d.raw")), "");
  EXPECT_EQ(EnviPlacementNote(dir.Path("a/b/../d.raw.hdr"), dir.Path("a/d.raw")), "");
  EXPECT_NE(EnviPlacementNote(dir.Path("a/b/d.hdr"), dir.Path("a/d.raw")).find(root + "/a/d.hdr"),
            std::string::npos);
  EXPECT_NE(EnviPlacementNote(dir.Path("a/e.hdr"), dir.Path("a/d.raw")), "");
}

TEST(DetachedHeader, NumpyLineMapsTheWholeSlicesSlowestAxisFirst) {
  const TExtent extent{{256, 256, 94, 2}, {}};
  EXPECT_EQ(NumpyLine("scan.raw", {512, 256, 256, 94, vtInt16, boBigEndian}, extent),
            "numpy.memmap(\"scan.raw\", dtype=\">i2\", mode=\"r\", offset=512, "
            "shape=(2, 94, 256, 256))");
  EXPECT_EQ(NumpyLine("a\"\\\n\xc3\xa9", {0, 256, 256, 94, vtByte, boBigEndian}, {{2, 3, 4}, {}}),
            "numpy.memmap(\"a\\\"\\\\\\x0a\xc3\xa9\", dtype=\"|u1\", mode=\"r\", offset=0, "
            "shape=(4, 3, 2))");
  EXPECT_EQ(NumpyLine("\xff.raw", {0, 2, 2, 2, vtFloat16, boLittleEndian}, {{2, 2, 2}, {}}),
            "numpy.memmap(b\"\\xff.raw\", dtype=\"<f2\", mode=\"r\", offset=0, shape=(2, 2, 2))");
}

// The guesser reads back every NRRD and MetaImage header written here as the
// layout it was written from, whole slices only, for the data file it names.
TEST(DetachedHeader, GuesserReadsWrittenHeadersBack) {
  const testfiles::TTempDir dir;
  const std::string data =
      dir.MakeFile("my data.raw", std::vector<uint8_t>(100 + 6 * 5 * 8 * 7 + 3, 7));
  for (const THeaderFormat format : {THeaderFormat::Nrrd, THeaderFormat::MetaImage})
    for (int type = 0; type < VoxelTypeCount; ++type)
      for (const TByteOrder order : {boLittleEndian, boBigEndian})
        for (const int32_t slices : {2, 3, 9}) {
          if (type == vtFloat16)
            continue;
          const auto voxelType = static_cast<TVoxelType>(type);
          const TLayout layout{100,    6,         5,
                               slices, voxelType, BytesPerVoxel[type] > 1 ? order : boLittleEndian};
          const std::string header = dir.Path("h") + ExtensionOf(format);
          ASSERT_EQ(WriteDetachedHeader(format, header, data, layout), "");
          const guess::TLayoutGuess guess = guess::GuessLayout(header);
          ASSERT_FALSE(guess.Candidates.empty()) << Contents(header);
          TLayout expected = layout;
          expected.SlicesPerVolume = std::min(slices, 56 / BytesPerVoxel[type]);
          EXPECT_EQ(guess.Candidates.front().Layout, expected) << Contents(header);
          EXPECT_EQ(std::filesystem::canonical(guess.DataFile), std::filesystem::canonical(data));
        }
}

// Nothing is written where it could replace the data file or something that
// is not a file, and a failed write leaves nothing behind.
TEST(DetachedHeader, RefusedTargetsLeaveEverythingAsItWas) {
  const testfiles::TTempDir dir;
  const std::string data = dir.MakeFile("d.nhdr", std::vector<uint8_t>(4096, 1));
  std::filesystem::create_symlink(data, dir.Path("link.nhdr"));
  std::filesystem::create_hard_link(data, dir.Path("hard.nhdr"));
  std::filesystem::create_directory(dir.Path("folder.nhdr"));
  ASSERT_EQ(::mkfifo(dir.Path("pipe.nhdr").c_str(), 0600), 0);
  const TFileState before = StateOf(data);
  const std::vector<std::string> entries = Entries(dir.Root());
  const TLayout layout{0, 16, 16, 16, vtByte, boLittleEndian};
  for (const std::string& target :
       {data, dir.Path("link.nhdr"), dir.Path("hard.nhdr"), dir.Path("folder.nhdr"),
        dir.Path("pipe.nhdr"), std::string("/dev/null"), dir.Path("no/h.nhdr"),
        std::string("/proc/h.nhdr")}) {
    const std::string error = WriteDetachedHeader(THeaderFormat::Nrrd, target, data, layout);
    EXPECT_NE(error, "") << target;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  EXPECT_NE(WriteDetachedHeader(THeaderFormat::Nrrd, dir.Path("h.nhdr"), dir.Root(), layout), "");
  EXPECT_NE(WriteDetachedHeader(THeaderFormat::Nrrd, dir.Path("h.nhdr"), "/dev/zero", layout), "");
  {
    // A size limit stands in for a full disk.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit lowered = previous;
    lowered.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
    const std::string error =
        WriteDetachedHeader(THeaderFormat::Nrrd, dir.Path("h.nhdr"), data, layout);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    EXPECT_NE(error.find("Cannot write file"), std::string::npos) << error;
  }
  ExpectUntouched(before, data);
  EXPECT_EQ(Entries(dir.Root()), entries);
  EXPECT_EQ(WriteDetachedHeader(THeaderFormat::Nrrd, dir.Path("h.nhdr"), data, layout), "");
  ExpectUntouched(before, data);
}

TEST(DetachedHeader, AFolderWithoutWritePermissionGetsNothing) {
  if (::geteuid() == 0)
    GTEST_SKIP() << "root writes into any folder";
  const testfiles::TTempDir dir;
  const std::string data = dir.MakeFile("d.raw", std::vector<uint8_t>(64, 1));
  std::filesystem::create_directory(dir.Path("locked"));
  ::chmod(dir.Path("locked").c_str(), 0555);
  const std::string error = WriteDetachedHeader(THeaderFormat::Nrrd, dir.Path("locked/h.nhdr"),
                                                data, {0, 4, 4, 4, vtByte, boLittleEndian});
  ::chmod(dir.Path("locked").c_str(), 0755);
  EXPECT_NE(error.find("Cannot create file"), std::string::npos) << error;
  EXPECT_TRUE(Entries(dir.Path("locked")).empty());
}

TEST(DetachedHeader, ReplacesAnExistingHeaderThroughItsLink) {
  const testfiles::TTempDir dir;
  const std::string data = dir.MakeFile("d.raw", std::vector<uint8_t>(64, 1));
  const std::string old = dir.MakeFile("old.mhd", {'x'});
  ::chmod(old.c_str(), 0640);
  std::filesystem::create_symlink("old.mhd", dir.Path("new.mhd"));
  ASSERT_EQ(WriteDetachedHeader(THeaderFormat::MetaImage, dir.Path("new.mhd"), data,
                                {0, 4, 4, 4, vtByte, boLittleEndian}),
            "");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("new.mhd")));
  EXPECT_EQ(Contents(old),
            "ObjectType = Image\nNDims = 3\nDimSize = 4 4 4\nElementType = MET_UCHAR\n"
            "BinaryData = True\nBinaryDataByteOrderMSB = False\nHeaderSize = 0\n"
            "ElementDataFile = d.raw\n");
  struct stat info {};
  ::stat(old.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

} // namespace
