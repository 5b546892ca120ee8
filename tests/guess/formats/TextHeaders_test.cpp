#include "data/TestFiles.h"
#include "guess/LayoutGuess.h"
#include "guess/formats/FormatHeaders.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

using namespace guess;

namespace {

using TFieldList = std::vector<std::pair<std::string, std::string>>;

std::string MetaImage(const TFieldList& Fields, const std::string& DataFile = "LOCAL") {
  std::string text;
  for (const auto& [key, value] : Fields)
    text += key + " = " + value + "\n";
  return text + "ElementDataFile = " + DataFile + "\n";
}

std::string Nrrd(const TFieldList& Fields, bool Blank = true) {
  std::string text = "NRRD0004\n# written by hand\nkey:=value: with colons\n";
  for (const auto& [key, value] : Fields)
    text += key + ": " + value + "\n";
  return Blank ? text + "\n" : text;
}

std::vector<uint8_t> Bytes(const std::string& Text, int64_t Extra = 0) {
  std::vector<uint8_t> bytes(Text.begin(), Text.end());
  bytes.resize(bytes.size() + static_cast<size_t>(Extra), 0x3C);
  return bytes;
}

THeaderFinding Read(const std::vector<uint8_t>& Bytes, const std::string& Name = "/no/such/a") {
  return ReadFormatHeaders(Name, Bytes.data(), std::ssize(Bytes), std::ssize(Bytes));
}

std::string Joined(const std::vector<int32_t>& Dims) {
  std::string text;
  for (int32_t d : Dims)
    text.append(text.empty() ? "" : " ").append(std::to_string(d));
  return text;
}

int64_t VolumeBytes(const std::vector<int32_t>& Dims, TVoxelType Type) {
  return int64_t{Dims[0]} * (Dims.size() > 1 ? Dims[1] : 1) * (Dims.size() > 2 ? Dims[2] : 1) *
         BytesPerVoxel[Type];
}

const std::vector<int32_t> Shapes[] = {{11}, {7, 5}, {7, 5, 3}, {7, 5, 3, 2}};

// One whole file per case, so every voxel the header states is there.
void ExpectLayout(const std::string& Header, const std::vector<int32_t>& Dims, TVoxelType Type,
                  TByteOrder Order, const std::string& Reason) {
  int64_t volumes = 1;
  for (size_t i = 3; i < Dims.size(); ++i)
    volumes *= Dims[i];
  const THeaderFinding found = Read(Bytes(Header, VolumeBytes(Dims, Type) * volumes));
  ASSERT_EQ(found.Candidates.size(), 1u) << Header;
  const TLayout want{static_cast<int32_t>(Header.size()),
                     Dims[0],
                     Dims.size() > 1 ? Dims[1] : 1,
                     Dims.size() > 2 ? Dims[2] : 1,
                     Type,
                     BytesPerVoxel[Type] == 1 ? boLittleEndian : Order};
  EXPECT_EQ(found.Candidates[0].Layout, want) << Header;
  EXPECT_EQ(found.Candidates[0].Reason, Reason);
  EXPECT_GT(found.Candidates[0].Score, 0.85);
}

TEST(TextHeaders, MetaImageOfEveryTypeOrderAndShape) {
  const std::pair<const char*, TVoxelType> types[] = {
      {"MET_UCHAR", vtByte},        {"MET_CHAR", vtInt8},     {"MET_SHORT", vtInt16},
      {"MET_USHORT", vtUInt16},     {"MET_INT", vtInt32},     {"MET_UINT", vtUInt32},
      {"MET_LONG", vtInt32},        {"MET_ULONG", vtUInt32},  {"MET_LONG_LONG", vtInt64},
      {"MET_ULONG_LONG", vtUInt64}, {"MET_FLOAT", vtFloat32}, {"MET_DOUBLE", vtFloat64}};
  for (const auto& [name, type] : types)
    for (TByteOrder order : {boLittleEndian, boBigEndian})
      for (const std::vector<int32_t>& dims : Shapes) {
        const std::string msb = order == boBigEndian ? "True" : "False";
        // Both spellings of the byte-order key are in use.
        const char* orderKey = dims.size() % 2 ? "ElementByteOrderMSB" : "BinaryDataByteOrderMSB";
        ExpectLayout(MetaImage({{"ObjectType", "Image"},
                                {"NDims", std::to_string(dims.size())},
                                {"BinaryData", "True"},
                                {orderKey, msb},
                                {"DimSize", Joined(dims)},
                                {"ElementSpacing", "1 1 1"},
                                {"ElementType", name}}),
                     dims, type, order, "MetaImage header");
      }
}

TEST(TextHeaders, NrrdOfEveryTypeOrderAndShape) {
  const std::pair<const char*, TVoxelType> types[] = {
      {"uchar", vtByte},      {"signed char", vtInt8},      {"int8_t", vtInt8},
      {"short", vtInt16},     {"unsigned short", vtUInt16}, {"ushort", vtUInt16},
      {"int32", vtInt32},     {"uint", vtUInt32},           {"long long", vtInt64},
      {"uint64_t", vtUInt64}, {"float", vtFloat32},         {"double", vtFloat64}};
  for (const auto& [name, type] : types)
    for (TByteOrder order : {boLittleEndian, boBigEndian})
      for (const std::vector<int32_t>& dims : Shapes)
        ExpectLayout(Nrrd({{"type", name},
                           {"dimension", std::to_string(dims.size())},
                           {"sizes", Joined(dims)},
                           {"endian", order == boBigEndian ? "big" : "little"},
                           {"encoding", "raw"}}),
                     dims, type, order, "NRRD header");
}

TEST(TextHeaders, BinaryPgmPpmAndPfm) {
  const struct {
    std::string Header;
    std::vector<int32_t> Dims;
    TVoxelType Type;
    std::string Reason;
    TByteOrder Order = boBigEndian;
  } cases[] = {
      {"Pf\n7 5\n-1.0\n", {7, 5}, vtFloat32, "PFM header (rows bottom up)", boLittleEndian},
      {"Pf\n7 5\n1\n", {7, 5}, vtFloat32, "PFM header (rows bottom up)", boBigEndian},
      {"PF\n7 5\n-0.003921\n",
       {21, 5},
       vtFloat32,
       "PFM header (RGB: three samples per pixel, rows bottom up)",
       boLittleEndian},
      {"P5\n7 5\n255\n", {7, 5}, vtByte, "PGM header"},
      {"P5 # made by hand\n# another\n  7\t5 65535 ", {7, 5}, vtUInt16, "PGM header"},
      {"P5\r\n7 5\r\n1000\r", {7, 5}, vtUInt16, "PGM header"},
      {"P6\n7 5\n255\n", {21, 5}, vtByte, "PPM header (RGB: three samples per pixel)"},
      {"P6\n7 5\n4095\n", {21, 5}, vtUInt16, "PPM header (RGB: three samples per pixel)"},
  };
  for (const auto& c : cases)
    ExpectLayout(c.Header, c.Dims, c.Type, c.Order, c.Reason);
}

// Where the voxels start when a header skips lines or bytes, or counts back
// from the end; Junk bytes lie between the header and the voxels.
TEST(TextHeaders, SkipsAndDataAtTheEnd) {
  const TFieldList nrrd = {{"type", "short"},
                           {"dimension", "2"},
                           {"sizes", "7 5"},
                           {"endian", "little"},
                           {"encoding", "raw"}};
  const TFieldList meta = {{"NDims", "2"}, {"DimSize", "7 5"}, {"ElementType", "MET_SHORT"}};
  auto with = [](TFieldList Fields, std::pair<std::string, std::string> Field) {
    Fields.push_back(std::move(Field));
    return Fields;
  };
  const struct {
    std::string Header;
    std::string Junk;
  } cases[] = {
      {Nrrd(with(nrrd, {"line skip", "2"})), "one\ntwo\n"},
      {Nrrd(with(with(nrrd, {"line skip", "1"}), {"byte skip", "3"})), "line\r\nabc"},
      {Nrrd(with(nrrd, {"byte skip", "-1"})), "anything at all"},
      {Nrrd(with(with(nrrd, {"line skip", "4"}), {"byte skip", "-1"})), "no lines here"},
      {MetaImage(with(meta, {"HeaderSize", "6"})), "sixsix"},
      {MetaImage(with(meta, {"HeaderSize", "-1"})), "whatever precedes"},
  };
  for (const auto& c : cases) {
    const THeaderFinding found = Read(Bytes(c.Header + c.Junk, 7 * 5 * 2));
    ASSERT_EQ(found.Candidates.size(), 1u) << c.Header;
    EXPECT_EQ(found.Candidates[0].Layout.HeaderBytes, std::ssize(c.Header + c.Junk)) << c.Header;
    EXPECT_GT(found.Candidates[0].Score, 0.95);
  }
}

TEST(TextHeaders, HeadersThatCannotBeTakenAsTheyStand) {
  const TFieldList meta = {{"NDims", "3"}, {"DimSize", "7 5 3"}, {"ElementType", "MET_SHORT"}};
  const TFieldList nrrd = {{"type", "short"},
                           {"dimension", "3"},
                           {"sizes", "7 5 3"},
                           {"endian", "big"},
                           {"encoding", "raw"}};
  auto set = [](TFieldList Fields, const std::string& Key, const std::string& Value) {
    for (auto& field : Fields)
      if (field.first == Key)
        field.second = Value;
    if (!Value.empty())
      Fields.emplace_back(Key, Value); // the last of a repeated key counts
    return Fields;
  };
  // The sound headers are offered; each change below spoils them.
  ASSERT_EQ(Read(Bytes(MetaImage(meta), 210)).Candidates.size(), 1u);
  ASSERT_EQ(Read(Bytes(Nrrd(nrrd), 210)).Candidates.size(), 1u);
  ASSERT_EQ(Read(Bytes("P5 7 5 255\n", 35)).Candidates.size(), 1u);
  const std::string spoiled[] = {
      MetaImage(set(meta, "CompressedData", "True")),
      MetaImage(set(meta, "ElementNumberOfChannels", "3")),
      MetaImage(set(meta, "BinaryData", "False")),
      MetaImage(set(meta, "ElementByteOrderMSB", "maybe")),
      MetaImage(set(meta, "DimSize", "7 5")),
      MetaImage(set(meta, "DimSize", "7 0 3")),
      MetaImage(set(meta, "DimSize", "7 -5 3")),
      MetaImage(set(meta, "DimSize", "7 5 x")),
      MetaImage(set(meta, "DimSize", "7 5 4")),
      MetaImage(set(meta, "DimSize", "7 99999999999999999999 3")),
      MetaImage(set(meta, "NDims", "0")),
      MetaImage(set(meta, "ElementType", "MET_SHORT_ARRAY")),
      MetaImage(set(meta, "HeaderSize", "-2")),
      MetaImage(set(meta, "HeaderSize", "40000")),
      MetaImage(meta, "LIST"),
      Nrrd(set(nrrd, "encoding", "gzip")),
      Nrrd(set(nrrd, "endian", "")),
      Nrrd(set(nrrd, "sizes", "7 5 3 2")),
      Nrrd(set(nrrd, "sizes", "10001 1 1")),
      Nrrd(set(nrrd, "type", "block")),
      Nrrd(set(nrrd, "byte skip", "-2")),
      Nrrd(set(nrrd, "line skip", "9")),
      Nrrd(nrrd, false),
      Nrrd(nrrd, false) + "bare words\n\n",
      "P5 7 5 0\n",
      "P5 7 5 70000\n",
      "P5 0 5 255\n",
      "P5 7 5\n",
      "P5 7 5 255#comment\n",
      "P5 7 5 2550000000000\n",
      "P2 7 5 255\n",
      "P4 7 5\n",
  };
  for (const std::string& header : spoiled) {
    const THeaderFinding found = Read(Bytes(header, 210));
    EXPECT_TRUE(found.Candidates.empty()) << header;
    EXPECT_TRUE(found.Note.empty() || header.find("LIST") != std::string::npos) << header;
  }
}

// Every head cut short of its header or its voxels is no longer offered.
TEST(TextHeaders, CutShortGivesNoCandidate) {
  const std::vector<uint8_t> files[] = {
      Bytes(MetaImage({{"NDims", "2"}, {"DimSize", "3 2"}, {"ElementType", "MET_FLOAT"}}), 24),
      Bytes(Nrrd({{"type", "float"},
                  {"dimension", "2"},
                  {"sizes", "3 2"},
                  {"endian", "big"},
                  {"encoding", "raw"}}),
            24),
      Bytes("P5\n3 2\n255\n", 6)};
  for (const std::vector<uint8_t>& file : files) {
    ASSERT_EQ(Read(file).Candidates.size(), 1u);
    for (int64_t cut = 0; cut < std::ssize(file); ++cut) {
      EXPECT_TRUE(ReadFormatHeaders("a", file.data(), cut, cut).Candidates.empty()) << cut;
      // A whole file behind a head too short to hold the header.
      if (cut < std::ssize(file) - 24 + (file[0] == 'P' ? 18 : 0)) {
        EXPECT_TRUE(ReadFormatHeaders("a", file.data(), cut, 1 << 20).Candidates.empty()) << cut;
      }
    }
  }
}

// Header files beside a data file, and header files given themselves.
TEST(TextHeaders, DetachedHeadersBesideTheirData) {
  testfiles::TTempDir dir;
  const TFieldList meta = {{"NDims", "3"},
                           {"DimSize", "7 5 3"},
                           {"ElementType", "MET_USHORT"},
                           {"ElementByteOrderMSB", "True"}};
  const TFieldList nrrd = {{"type", "ushort"}, {"dimension", "3"},  {"sizes", "7 5 3"},
                           {"endian", "big"},  {"encoding", "raw"}, {"line skip", "1"}};
  auto withFile = [](TFieldList Fields, const std::string& File) {
    Fields.emplace_back("data file", File);
    return Fields;
  };
  const struct {
    std::string Data, Header, HeaderText, Note, Reason;
    int32_t HeaderBytes;
  } cases[] = {
      {"x.raw", "x.mhd", MetaImage(meta, "x.raw"), "MetaImage header; its voxels are in x.raw",
       "MetaImage header in x.mhd", 0},
      {"y y.raw", "y y.MHD", MetaImage(meta, "./y y.raw"),
       "MetaImage header; its voxels are in ./y y.raw", "MetaImage header in y y.MHD", 0},
      {"\xe9t\xe9.dat", "\xe9t\xe9.nhdr", Nrrd(withFile(nrrd, "\xe9t\xe9.dat"), false),
       "NRRD header; its voxels are in \xe9t\xe9.dat", "NRRD header in \xe9t\xe9.nhdr", 6},
      {"s.raw", "s.mha", MetaImage(meta, "s.raw"), "MetaImage header; its voxels are in s.raw",
       "MetaImage header in s.mha", 0},
      {"t.raw", "t.nrrd", Nrrd(withFile(nrrd, "t.raw"), false),
       "NRRD header; its voxels are in t.raw", "NRRD header in t.nrrd", 6},
      {"w.raw", "w.mhd", MetaImage(meta, "other.raw"),
       "MetaImage header; its voxels are in other.raw", "", 0},
      {"v.raw", "v.nhdr", Nrrd(withFile(nrrd, "LIST")),
       "NRRD header; its voxels are in several other files", "", 0},
      {"u.raw", "u.nhdr", Nrrd(withFile(nrrd, "u%03d.raw 1 9 1")),
       "NRRD header; its voxels are in several other files", "", 0},
      // teem takes a blank or a '%' without three numbers after it as part of one name.
      {"z z.raw", "z z.nhdr", Nrrd(withFile(nrrd, "z z.raw"), false),
       "NRRD header; its voxels are in z z.raw", "NRRD header in z z.nhdr", 6},
      {"50%.raw", "50%.nhdr", Nrrd(withFile(nrrd, "50%.raw"), false),
       "NRRD header; its voxels are in 50%.raw", "NRRD header in 50%.nhdr", 6},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> data = Bytes("skipped\n", 7 * 5 * 3 * 2);
    data.erase(data.begin(), data.begin() + (8 - c.HeaderBytes));
    const std::string dataName = dir.MakeFile(c.Data, data);
    const std::string headerName = dir.MakeFile(c.Header, Bytes(c.HeaderText));
    const THeaderFinding found = Read(data, dataName);
    if (c.Reason.empty()) {
      EXPECT_TRUE(found.Candidates.empty()) << c.Data;
    } else {
      ASSERT_EQ(found.Candidates.size(), 1u) << c.Data;
      EXPECT_EQ(found.Candidates[0].Layout,
                (TLayout{c.HeaderBytes, 7, 5, 3, vtUInt16, boBigEndian}));
      EXPECT_EQ(found.Candidates[0].Reason, c.Reason);
    }
    const THeaderFinding itself = Read(Bytes(c.HeaderText), headerName);
    EXPECT_TRUE(itself.Candidates.empty()) << c.Header;
    EXPECT_EQ(itself.Note, c.Note);
    // Given the header, a guess proposes the layout of the data file it names.
    const TLayoutGuess guess = GuessLayout(headerName);
    ASSERT_EQ(guess.DataFile.empty(), c.Reason.empty()) << c.Header;
    if (c.Reason.empty()) {
      EXPECT_TRUE(guess.Candidates.empty()) << c.Header;
      EXPECT_EQ(guess.Why, c.Note);
      continue;
    }
    std::error_code error;
    EXPECT_TRUE(std::filesystem::equivalent(guess.DataFile, dataName, error)) << guess.DataFile;
    ASSERT_FALSE(guess.Candidates.empty()) << c.Header;
    EXPECT_EQ(guess.Candidates[0].Layout, (TLayout{c.HeaderBytes, 7, 5, 3, vtUInt16, boBigEndian}));
    EXPECT_EQ(guess.Candidates[0].Reason, c.Reason);
  }
}

} // namespace
