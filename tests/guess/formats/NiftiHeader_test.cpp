#include "data/TestFiles.h"
#include "guess/formats/FormatHeaders.h"

#include <bit>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

using namespace guess;

namespace {

using testfiles::AppendBytes;

// What a NIfTI or Analyze header states, written out field by field.
struct TNifti {
  int Version = 1; // 2 for NIfTI-2
  TByteOrder Order = boLittleEndian;
  int Code = 4; // datatype
  int Bits = 16;
  std::vector<int64_t> Dims = {7, 5, 3};
  double Offset = 352;
  std::string Magic = "n+1";
};

void Put(std::vector<uint8_t>& Bytes, size_t Offset, uint64_t Value, int Size, TByteOrder Order) {
  std::vector<uint8_t> field;
  AppendBytes(field, Value, Size, Order);
  std::memcpy(Bytes.data() + Offset, field.data(), field.size());
}

std::vector<uint8_t> HeaderOf(const TNifti& N) {
  const bool two = N.Version == 2;
  std::vector<uint8_t> bytes(two ? 540 : 348);
  Put(bytes, 0, bytes.size(), 4, N.Order);
  std::memcpy(bytes.data() + (two ? 4 : 344), N.Magic.data(), std::min<size_t>(N.Magic.size(), 4));
  const int dimSize = two ? 8 : 2;
  const size_t dimAt = two ? 16 : 40;
  Put(bytes, dimAt, static_cast<uint64_t>(std::ssize(N.Dims)), dimSize, N.Order);
  for (size_t i = 0; i < N.Dims.size() && i < 7; ++i)
    Put(bytes, dimAt + dimSize * (i + 1), static_cast<uint64_t>(N.Dims[i]), dimSize, N.Order);
  Put(bytes, two ? 12 : 70, static_cast<uint64_t>(N.Code), 2, N.Order);
  Put(bytes, two ? 14 : 72, static_cast<uint64_t>(N.Bits), 2, N.Order);
  if (two)
    Put(bytes, 168, static_cast<uint64_t>(static_cast<int64_t>(N.Offset)), 8, N.Order);
  else
    Put(bytes, 108, std::bit_cast<uint32_t>(static_cast<float>(N.Offset)), 4, N.Order);
  return bytes;
}

// The header, padding up to a sane offset, and VoxelBytes of voxels.
std::vector<uint8_t> FileOf(const TNifti& N, int64_t VoxelBytes) {
  std::vector<uint8_t> bytes = HeaderOf(N);
  const bool sane = N.Offset >= double(bytes.size()) && N.Offset <= 4096;
  bytes.resize(static_cast<size_t>((sane ? N.Offset : double(bytes.size())) + double(VoxelBytes)),
               0x5A);
  return bytes;
}

THeaderFinding Read(const std::vector<uint8_t>& Bytes, const std::string& Name = "/no/such/a.nii") {
  return ReadFormatHeaders(Name, Bytes.data(), std::ssize(Bytes), std::ssize(Bytes));
}

struct TTypeCode {
  int Code;
  TVoxelType Type;
};
constexpr TTypeCode TypeCodes[] = {
    {2, vtByte},   {4, vtInt16},    {8, vtInt32},    {16, vtFloat32}, {64, vtFloat64},
    {256, vtInt8}, {512, vtUInt16}, {768, vtUInt32}, {1024, vtInt64}, {1280, vtUInt64}};

TEST(NiftiHeader, SingleFilesOfEveryVersionOrderTypeAndShape) {
  const std::vector<int64_t> shapes[] = {{7, 5}, {7, 5, 3}, {7, 5, 3, 2}, {9, 1, 4, 2, 3}};
  for (int version : {1, 2})
    for (TByteOrder order : {boLittleEndian, boBigEndian})
      for (const TTypeCode& code : TypeCodes)
        for (const std::vector<int64_t>& shape : shapes) {
          SCOPED_TRACE(testing::Message() << "NIfTI-" << version << " code " << code.Code
                                          << " order " << int(order) << " dims " << shape.size());
          const bool one = version == 1;
          const TNifti n{version,
                         order,
                         code.Code,
                         8 * BytesPerVoxel[code.Type],
                         shape,
                         one ? 352.0 : 544.0,
                         one ? "n+1" : "n+2"};
          const int64_t voxels =
              std::accumulate(shape.begin(), shape.end(), int64_t{1}, std::multiplies<>());
          const THeaderFinding found = Read(FileOf(n, voxels * BytesPerVoxel[code.Type]));
          ASSERT_EQ(found.Candidates.size(), 1u);
          const TLayout want{
              int32_t(n.Offset), int32_t(shape[0]),
              int32_t(shape[1]), int32_t(shape.size() > 2 ? shape[2] : 1),
              code.Type,         BytesPerVoxel[code.Type] == 1 ? boLittleEndian : order};
          EXPECT_EQ(found.Candidates[0].Layout, want);
          EXPECT_EQ(found.Candidates[0].Reason, std::string(one ? "NIfTI-1" : "NIfTI-2") +
                                                    " header" +
                                                    (order == boBigEndian ? " (big-endian)" : ""));
          EXPECT_TRUE(found.Note.empty());
        }
}

// Each damage leaves a header that states something the file cannot be.
TEST(NiftiHeader, LyingOrUnusableHeadersGiveNoCandidate) {
  const struct {
    const char* What;
    std::function<void(TNifti&)> Damage;
    int64_t VoxelBytes = 7 * 5 * 3 * 2;
  } cases[] = {
      {"dim[0] zero", [](TNifti& N) { N.Dims.clear(); }},
      {"dim[0] one", [](TNifti& N) { N.Dims = {210}; }},
      {"dim[0] eight", [](TNifti& N) { N.Dims = {7, 5, 3, 1, 1, 1, 1, 1}; }},
      {"zero size", [](TNifti& N) { N.Dims[1] = 0; }},
      {"negative size", [](TNifti& N) { N.Dims[2] = -3; }},
      {"row past the controls",
       [](TNifti& N) {
         N.Dims = {10001, 1, 1};
       },
       20002},
      {"more voxels than the file", [](TNifti& N) { N.Dims[2] = 4; }},
      {"offset past the file", [](TNifti& N) { N.Offset = 1e8; }},
      {"negative offset", [](TNifti& N) { N.Offset = -16; }},
      {"offset inside the header", [](TNifti& N) { N.Offset = 100; }},
      {"offset not whole", [](TNifti& N) { N.Offset = 352.5; }},
      {"offset not a number",
       [](TNifti& N) { N.Offset = std::numeric_limits<double>::quiet_NaN(); }},
      {"complex voxels", [](TNifti& N) { N.Code = 32, N.Bits = 64; }},
      {"RGB voxels", [](TNifti& N) { N.Code = 128, N.Bits = 24; }},
      {"bitpix disagrees", [](TNifti& N) { N.Bits = 32; }},
      {"overflowing volumes",
       [](TNifti& N) {
         N.Version = 2, N.Magic = "n+2", N.Offset = 544, N.Dims = {7, 5, 3, int64_t{1} << 62, 16};
       }},
      {"huge NIfTI-2 row",
       [](TNifti& N) {
         N.Version = 2, N.Magic = "n+2", N.Offset = 544, N.Dims = {int64_t{1} << 40, 5, 3};
       }},
      {"NIfTI-2 without magic", [](TNifti& N) { N.Version = 2, N.Magic = "xyz", N.Offset = 544; }},
  };
  // Undamaged, the same file is offered, and only a whole header is read.
  const std::vector<uint8_t> sound = FileOf(TNifti{}, 7 * 5 * 3 * 2);
  ASSERT_EQ(Read(sound).Candidates.size(), 1u);
  EXPECT_TRUE(ReadFormatHeaders("a.nii", sound.data(), 347, std::ssize(sound)).Candidates.empty());
  // Data far beyond 32 KiB, as extensions put them, are within the header range.
  TNifti extended;
  extended.Offset = 40000;
  const THeaderFinding far = Read(FileOf(extended, 50000));
  ASSERT_EQ(far.Candidates.size(), 1u);
  EXPECT_EQ(far.Candidates[0].Layout.HeaderBytes, 40000);
  for (const auto& c : cases)
    for (TByteOrder order : {boLittleEndian, boBigEndian}) {
      TNifti n;
      n.Order = order;
      c.Damage(n);
      const THeaderFinding found = Read(FileOf(n, c.VoxelBytes));
      EXPECT_TRUE(found.Candidates.empty()) << c.What << " order " << int(order);
      EXPECT_TRUE(found.Note.empty()) << c.What;
    }
}

// Pairs: the .hdr beside the .img states the layout of the .img.
TEST(NiftiHeader, PairsReadTheHeaderBesideTheImage) {
  testfiles::TTempDir dir;
  const int64_t voxelBytes = 7 * 5 * 3 * 4;
  const struct {
    const char* Image;
    const char* Header;
    TNifti Stated;
    TVoxelType Type;
    int32_t HeaderBytes;
    std::string Reason;
  } cases[] = {
      {"brain.img",
       "brain.hdr",
       {1, boBigEndian, 16, 32, {7, 5, 3}, 0, "none"},
       vtFloat32,
       0,
       "Analyze 7.5 header in brain.hdr (big-endian)"},
      {"B.IMG",
       "B.HDR",
       {1, boLittleEndian, 8, 32, {7, 5, 3}, 0, ""},
       vtInt32,
       0,
       "Analyze 7.5 header in B.HDR"},
      {"pair.img",
       "pair.hdr",
       {1, boLittleEndian, 768, 32, {7, 5, 3}, 16, "ni1"},
       vtUInt32,
       16,
       "NIfTI-1 header in pair.hdr"},
      {"two.img",
       "two.hdr",
       {2, boBigEndian, 16, 32, {7, 5, 3}, 8, "ni2"},
       vtFloat32,
       8,
       "NIfTI-2 header in two.hdr (big-endian)"},
      {"\xff\xfe name.img",
       "\xff\xfe name.hdr",
       {1, boLittleEndian, 16, 32, {7, 5, 3}, 0, ""},
       vtFloat32,
       0,
       "Analyze 7.5 header in \xff\xfe name.hdr"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> image(static_cast<size_t>(c.HeaderBytes + voxelBytes), 0x11);
    const std::string imageName = dir.MakeFile(c.Image, image);
    dir.MakeFile(c.Header, HeaderOf(c.Stated));
    const THeaderFinding found =
        ReadFormatHeaders(imageName, image.data(), std::ssize(image), std::ssize(image));
    ASSERT_EQ(found.Candidates.size(), 1u) << c.Image;
    const TLayout want{c.HeaderBytes, 7, 5, 3, c.Type, c.Stated.Order};
    EXPECT_EQ(found.Candidates[0].Layout, want) << c.Image;
    EXPECT_EQ(found.Candidates[0].Reason, c.Reason);

    // The header given itself says where its voxels are.
    const std::vector<uint8_t> header = HeaderOf(c.Stated);
    const THeaderFinding note = ReadFormatHeaders(dir.Path(c.Header), header.data(),
                                                  std::ssize(header), std::ssize(header));
    EXPECT_TRUE(note.Candidates.empty());
    EXPECT_EQ(note.Note, c.Reason.substr(0, c.Reason.find(" in ")) + "; its voxels are in " +
                             std::string(c.Image));
  }
}

} // namespace
