#include "TempDir.h"
#include "data/TestFiles.h"
#include "data/VoxelDecoder.h"
#include "guess/LayoutGuess.h"
#include "guess/formats/EnviHeader.h"
#include "guess/formats/FormatHeaders.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace guess;

namespace {

using testfiles::AppendBytes;
using testfiles::AppendVoxel;

THeaderReading Read(const std::string& Text) {
  return ReadEnviHeader(reinterpret_cast<const uint8_t*>(Text.data()), std::ssize(Text));
}

// A header as ENVI writes one, with the fields given and a description and
// band names in braces that span lines around them.
std::string HeaderOf(const std::string& Fields) {
  return "ENVI\r\ndescription = {\n  Made for a test = not a field\n  samples = 99}\n" + Fields +
         "band names = {\n Band 1,\n Band 2}\nwavelength units = Unknown\n";
}

struct TCode {
  int Code;
  TVoxelType Type;
};
constexpr TCode Codes[] = {{1, vtByte},    {2, vtInt16},   {3, vtInt32},
                           {4, vtFloat32}, {5, vtFloat64}, {12, vtUInt16},
                           {13, vtUInt32}, {14, vtInt64},  {15, vtUInt64}};

TEST(EnviHeader, EveryTypeOrderAndInterleave) {
  for (const TCode& code : Codes)
    for (int order : {0, 1})
      for (const char* interleave : {"bsq", "BIL", "bip"})
        for (int bands : {1, 3}) {
          SCOPED_TRACE(testing::Message() << "type " << code.Code << " order " << order << " "
                                          << interleave << " bands " << bands);
          const THeaderReading reading =
              Read(HeaderOf("Samples = 7\nlines   =  5\nbands = " + std::to_string(bands) +
                            "\nHeader  Offset = 32\nfile type = ENVI Standard\ndata type = " +
                            std::to_string(code.Code) + "\ninterleave = " + interleave +
                            "\nbyte order = " + std::to_string(order) + "\n"));
          EXPECT_EQ(reading.Format, "ENVI");
          EXPECT_TRUE(reading.Detached);
          EXPECT_TRUE(reading.DataFile.empty());
          const bool sequential = std::string(interleave) == "bsq" || bands == 1;
          ASSERT_EQ(reading.Layout.has_value(), sequential);
          if (!sequential)
            continue;
          EXPECT_EQ(reading.Layout->Dims, (std::vector<int64_t>{7, 5, bands}));
          EXPECT_EQ(reading.Layout->VoxelType, code.Type);
          EXPECT_EQ(reading.Layout->ByteOrder,
                    order == 1 && BytesPerVoxel[code.Type] > 1 ? boBigEndian : boLittleEndian);
          EXPECT_EQ(reading.Layout->DataStart, 32);
        }
}

TEST(EnviHeader, UnusableHeadersGiveNoLayout) {
  const std::string sound =
      "samples = 7\nlines = 5\nbands = 2\ndata type = 2\ninterleave = bsq\nbyte order = 0\n";
  ASSERT_TRUE(Read(HeaderOf(sound)).Layout);
  const struct {
    const char* What;
    std::string Fields;
  } cases[] = {
      {"complex", "samples = 7\nlines = 5\ndata type = 6\n"},
      {"double complex", "samples = 7\nlines = 5\ndata type = 9\n"},
      {"unknown type", "samples = 7\nlines = 5\ndata type = 7\n"},
      {"no type", "samples = 7\nlines = 5\n"},
      {"no samples", "lines = 5\ndata type = 1\n"},
      {"zero samples", "samples = 0\nlines = 5\ndata type = 1\n"},
      {"negative lines", "samples = 7\nlines = -5\ndata type = 1\n"},
      {"zero bands", "samples = 7\nlines = 5\nbands = 0\ndata type = 1\n"},
      {"past int64", "samples = 99999999999999999999\nlines = 5\ndata type = 1\n"},
      {"not a number", "samples = seven\nlines = 5\ndata type = 1\n"},
      {"negative offset", "samples = 7\nlines = 5\ndata type = 1\nheader offset = -4\n"},
      {"byte order 2", "samples = 7\nlines = 5\ndata type = 2\nbyte order = 2\n"},
      {"unknown interleave", "samples = 7\nlines = 5\ndata type = 2\ninterleave = bxq\n"},
  };
  for (const auto& c : cases) {
    const THeaderReading reading = Read(HeaderOf(c.Fields));
    EXPECT_EQ(reading.Format, "ENVI") << c.What;
    EXPECT_FALSE(reading.Layout) << c.What;
  }
  // An unclosed brace swallows the fields after it, and every cut of the
  // header is read as far as it goes without a layout it does not state.
  EXPECT_FALSE(Read("ENVI\ndescription = {\n" + sound).Layout);
  const std::string whole = HeaderOf(sound);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    const THeaderReading reading = Read(whole.substr(0, cut));
    if (reading.Layout) {
      EXPECT_GE(cut, whole.find("data type = 2") + 13) << cut;
    }
  }
  for (const char* foreign : {"", "ENV", "ENVIRONMENT=1\nsamples = 7", "envi\nsamples = 7",
                              " ENVI\nsamples = 7\nlines = 5\ndata type = 1\n"})
    EXPECT_TRUE(Read(foreign).Format.empty()) << foreign;
}

// The header beside a data file, by each name ENVI gives it, and an Analyze
// pair beside it still read as before.
TEST(EnviHeader, HeaderBesideTheDataFile) {
  const testfiles::TTempDir dir;
  std::vector<uint8_t> data(16, 0xAB); // the stated header offset
  for (int64_t p = 0; p < 6 * 4 * 2; ++p)
    AppendVoxel(data, vtInt16, boBigEndian, double(p * 3 - 50));
  const std::string header = HeaderOf("samples = 6\nlines = 4\nbands = 2\nheader offset = 16\n"
                                      "data type = 2\ninterleave = bsq\nbyte order = 1\n");
  const std::vector<uint8_t> headerBytes(header.begin(), header.end());
  const struct {
    std::string Data, Header;
  } pairs[] = {{"scene.dat", "scene.dat.hdr"},
               {"scene.raw", "scene.hdr"},
               {"SCENE.RAW", "SCENE.HDR"},
               {"scene.bsq", "scene.bsq.HDR"},
               {"scene", "scene.hdr"}};
  for (const auto& pair : pairs) {
    SCOPED_TRACE(pair.Data);
    const testfiles::TTempDir folder;
    const std::string name = folder.MakeFile(pair.Data, data);
    folder.MakeFile(pair.Header, headerBytes);
    const THeaderFinding found =
        ReadFormatHeaders(name, data.data(), std::ssize(data), std::ssize(data));
    ASSERT_EQ(found.Candidates.size(), 1u);
    const TLayoutCandidate& c = found.Candidates[0];
    EXPECT_EQ(c.Reason, "ENVI header in " + pair.Header);
    EXPECT_EQ(c.Layout, (TLayout{16, 6, 4, 2, vtInt16, boBigEndian}));
    for (int64_t p = 0; p < 6 * 4 * 2; ++p)
      ASSERT_EQ(voxeldecoder::DecodeVoxel(data.data() + 16, p, vtInt16, boBigEndian).SignedValue,
                p * 3 - 50);
    // Given the header itself, a guess proposes the data file's layout and
    // names that file.
    const TLayoutGuess guess = GuessLayout(folder.Path(pair.Header));
    ASSERT_FALSE(guess.Candidates.empty()) << guess.Why;
    EXPECT_EQ(guess.DataFile, name);
    EXPECT_EQ(guess.Candidates[0].Layout, c.Layout);
  }
  // An Analyze .hdr beside an .img is binary: only the Analyze reading.
  std::vector<uint8_t> analyze(348);
  auto put = [&](size_t At, uint64_t Value, int Size) {
    std::vector<uint8_t> field;
    AppendBytes(field, Value, Size, boLittleEndian);
    std::memcpy(analyze.data() + At, field.data(), field.size());
  };
  put(0, 348, 4), put(40, 3, 2), put(42, 6, 2), put(44, 4, 2), put(46, 2, 2);
  put(70, 4, 2), put(72, 16, 2); // int16
  const std::string img = dir.MakeFile("brain.img", data);
  dir.MakeFile("brain.hdr", analyze);
  const THeaderFinding found = ReadFormatHeaders(img, data.data(), std::ssize(data), 112);
  ASSERT_EQ(found.Candidates.size(), 1u);
  EXPECT_EQ(found.Candidates[0].Reason, "Analyze 7.5 header in brain.hdr");
}

} // namespace
