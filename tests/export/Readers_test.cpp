// The headers as the real readers of each format read them. Each test sweeps
// every voxel type its format holds, both byte orders, a 3-D file, a 4-D file
// behind a header skip and a file shorter than its layout, and asks that the
// reader decode every voxel as the viewer's own decoder does. A reader that is
// not installed skips its test; scripts/deps installs them all.
#include "GzipFile.h"
#include "TempDir.h"
#include "data/VoxelDecoder.h"
#include "export/HeaderFiles.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace layoutexport;

enum TShape { Plain3D, Skipped4D, Short3D };

struct TCase {
  TVoxelType Type;
  TByteOrder Order;
  TShape Shape;
};

// 7 x 5 voxels a slice, so that swapped axes cannot pass for the right ones.
TLayout LayoutOf(const TCase& Case) {
  const int32_t skip = Case.Shape == Plain3D ? 0 : Case.Shape == Skipped4D ? 23 : 5;
  const int32_t slices = Case.Shape == Short3D ? 6 : 3;
  return {skip, 7, 5, slices, Case.Type, Case.Order};
}

// Whole slices and some bytes more: two volumes, or three of six slices.
int64_t FileBytesOf(const TCase& Case) {
  const TLayout layout = LayoutOf(Case);
  const int64_t slice = 7 * 5 * BytesPerVoxel[Case.Type];
  const int64_t slices = Case.Shape == Skipped4D ? 6 : 3;
  return layout.HeaderBytes + slices * slice + (Case.Shape == Plain3D ? 0 : slice / 2 + 1);
}

std::vector<TCase> CasesOf(const std::vector<TVoxelType>& Types,
                           const std::vector<TShape>& Shapes) {
  std::vector<TCase> cases;
  for (const TVoxelType type : Types)
    for (const TByteOrder order : {boLittleEndian, boBigEndian})
      for (const TShape shape : Shapes)
        cases.push_back({type, order, shape});
  return cases;
}

const std::vector<TVoxelType> AllButHalf = {vtByte,   vtInt8,  vtInt16,  vtUInt16,  vtInt32,
                                            vtUInt32, vtInt64, vtUInt64, vtFloat32, vtFloat64};
const std::vector<TVoxelType> NoWideIntegers = {vtByte,   vtInt16,   vtUInt16, vtInt32,
                                                vtUInt32, vtFloat32, vtFloat64};
const std::vector<TShape> AllShapes = {Plain3D, Skipped4D, Short3D};

std::string Contents(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool Same(const TVoxelValue& A, const TVoxelValue& B) {
  if (A.Kind != B.Kind)
    return false;
  if (A.Kind == TVoxelValue::Real)
    return std::isnan(A.RealValue) ? std::isnan(B.RealValue) : A.RealValue == B.RealValue;
  return A.SignedValue == B.SignedValue && A.UnsignedValue == B.UnsignedValue;
}

std::string Quote(const std::string& Text) {
  return "'" + Text + "'";
}

class TReaderSweep {
public:
  // Writes every case's data file and its header in Format.
  TReaderSweep(THeaderFormat Format, const std::vector<TCase>& Cases)
      : FCases(Cases) {
    std::mt19937 random(1234);
    for (size_t k = 0; k < Cases.size(); ++k) {
      std::string bytes(static_cast<size_t>(FileBytesOf(Cases[k])), '\0');
      for (char& c : bytes)
        c = static_cast<char>(random());
      std::ofstream(DataName(k), std::ios::binary) << bytes;
      const std::string header = Dir.Path("case" + std::to_string(k) + ExtensionOf(Format));
      const std::string error =
          WriteDetachedHeader(Format, header, DataName(k), LayoutOf(Cases[k]));
      EXPECT_EQ(error, "") << k;
      FHeaders.push_back(header);
    }
  }

  std::string DataName(size_t K) const { return Dir.Path("case" + std::to_string(K) + ".raw"); }
  const std::string& HeaderName(size_t K) const { return FHeaders.at(K); }
  std::string OutName(size_t K) const { return Dir.Path("case" + std::to_string(K) + ".out"); }
  std::string ListName() const { return Dir.Path("cases.txt"); }

  // The listing that readers.py takes: input, a tab, output.
  void WriteList(bool DataFiles) const {
    std::ofstream list(ListName());
    for (size_t k = 0; k < FCases.size(); ++k)
      list << (DataFiles ? DataName(k) : HeaderName(k)) << '\t' << OutName(k) << '\n';
  }

  // Each reader's output against the viewer's decoding of the data file:
  // the sizes (ENVI's bands are slices of every volume) and every voxel.
  void Check(bool BandsForVolumes) const {
    for (size_t k = 0; k < FCases.size(); ++k) {
      const TCase& c = FCases[k];
      SCOPED_TRACE(testing::Message() << FactsOf(c.Type).Name << (c.Order ? " big" : " little")
                                      << " shape " << c.Shape);
      const std::string data = Contents(DataName(k));
      std::vector<int64_t> sizes = ExtentOf(LayoutOf(c), static_cast<int64_t>(data.size())).Sizes;
      if (BandsForVolumes && sizes.size() == 4)
        sizes = {sizes[0], sizes[1], sizes[2] * sizes[3]};
      const std::string out = Contents(OutName(k));
      const size_t lineEnd = out.find('\n');
      ASSERT_NE(lineEnd, std::string::npos) << "the reader gave nothing";
      std::istringstream line(out.substr(0, lineEnd));
      std::vector<int64_t> read{std::istream_iterator<int64_t>(line), {}};
      while (read.size() > sizes.size() && read.back() == 1)
        read.pop_back(); // VTK keeps three axes for a 2-D image
      EXPECT_EQ(read, sizes);
      int64_t count = 1;
      for (const int64_t size : sizes)
        count *= size;
      const auto* values = reinterpret_cast<const uint8_t*>(out.data() + lineEnd + 1);
      ASSERT_EQ(static_cast<int64_t>(out.size() - lineEnd - 1), count * BytesPerVoxel[c.Type]);
      const auto* voxels = reinterpret_cast<const uint8_t*>(data.data()) + LayoutOf(c).HeaderBytes;
      int mismatches = 0;
      for (int64_t i = 0; i < count && mismatches < 3; ++i)
        if (!Same(voxeldecoder::DecodeVoxel(values, i, c.Type, boLittleEndian),
                  voxeldecoder::DecodeVoxel(voxels, i, c.Type, c.Order)))
          ADD_FAILURE() << "voxel " << i << " differs", ++mismatches;
    }
  }

  size_t Count() const { return FCases.size(); }

  testfiles::TTempDir Dir;

private:
  std::vector<TCase> FCases;
  std::vector<std::string> FHeaders;
};

bool Runs(const std::string& Command) {
  return std::system((Command + " >/dev/null 2>&1").c_str()) == 0;
}

const std::string Python = ZANDREL_SYSTEM_PYTHON;
const std::string ReadersScript = ZANDREL_READERS_SCRIPT;

bool PythonHas(const char* Module) {
  return !Python.empty() && Runs(Python + " -c 'import " + Module + "'");
}

// teem's unu, the NRRD tool of the format's own authors: it writes what it
// read as an attached NRRD in little-endian raw form.
TEST(Readers, UnuReadsNrrd) {
  const std::string unu = ZANDREL_UNU;
  if (unu.empty())
    GTEST_SKIP() << "teem's unu (teem-apps) is not installed";
  const TReaderSweep sweep(THeaderFormat::Nrrd, CasesOf(AllButHalf, AllShapes));
  for (size_t k = 0; k < sweep.Count(); ++k) {
    const std::string nrrd = sweep.Dir.Path("case" + std::to_string(k) + ".nrrd");
    ASSERT_TRUE(Runs(unu + " save -f nrrd -e raw -en little -i " + Quote(sweep.HeaderName(k)) +
                     " -o " + Quote(nrrd)));
    const std::string text = Contents(nrrd);
    const size_t sizes = text.find("\nsizes: ");
    const size_t end = text.find("\n\n");
    ASSERT_TRUE(sizes != std::string::npos && end != std::string::npos);
    std::ofstream(sweep.OutName(k), std::ios::binary)
        << text.substr(sizes + 8, text.find('\n', sizes + 1) - sizes - 8) << '\n'
        << text.substr(end + 2);
  }
  sweep.Check(false);
}

// A gzipped data file gets "encoding: gzip" and its decompressed extent; unu
// reads the voxels through it.
TEST(Readers, UnuReadsNrrdOfAGzippedFile) {
  const std::string unu = ZANDREL_UNU;
  if (unu.empty())
    GTEST_SKIP() << "teem's unu (teem-apps) is not installed";
  const testfiles::TTempDir dir;
  std::mt19937 random(99);
  std::vector<uint8_t> bytes(16 + 2 * 30 * 20 * 5 + 7); // the tail is no whole slice
  for (uint8_t& b : bytes)
    b = static_cast<uint8_t>(random() % 16);
  const std::string data = dir.MakeFile("scan.raw.gz", testfiles::Gzipped(bytes));
  const std::string header = dir.Path("scan.nhdr");
  ASSERT_EQ(WriteDetachedHeader(THeaderFormat::Nrrd, header, data,
                                {16, 30, 20, 9, vtUInt16, boLittleEndian}),
            "");
  EXPECT_NE(Contents(header).find("encoding: gzip\n"), std::string::npos);
  EXPECT_NE(Contents(header).find("sizes: 30 20 5\n"), std::string::npos);
  const std::string out = dir.Path("out.nrrd");
  ASSERT_TRUE(
      Runs(unu + " save -f nrrd -e raw -en little -i " + Quote(header) + " -o " + Quote(out)));
  const std::string text = Contents(out);
  ASSERT_NE(text.find("\n\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.find("\n\n") + 2),
            std::string(bytes.begin() + 16, bytes.begin() + 16 + 2 * 30 * 20 * 5));
  for (const THeaderFormat format : {THeaderFormat::MetaImage, THeaderFormat::Envi})
    EXPECT_NE(WriteDetachedHeader(format, dir.Path(std::string("scan") + ExtensionOf(format)), data,
                                  {16, 30, 20, 9, vtUInt16, boLittleEndian})
                  .find("cannot describe a data file compressed with gzip"),
              std::string::npos);
}

// ITK's MetaIO, which ITK-SNAP, 3D Slicer and every ITK program read with.
TEST(Readers, MetaIOReadsMetaImage) {
  const std::string dump = ZANDREL_METAIO_DUMP;
  if (dump.empty())
    GTEST_SKIP() << "ITK's MetaIO library (libinsighttoolkit5-dev) is not installed";
  const TReaderSweep sweep(THeaderFormat::MetaImage, CasesOf(AllButHalf, AllShapes));
  for (size_t k = 0; k < sweep.Count(); ++k)
    ASSERT_TRUE(
        Runs(Quote(dump) + " " + Quote(sweep.HeaderName(k)) + " " + Quote(sweep.OutName(k))));
  sweep.Check(false);
}

// GDAL's ENVI driver, which finds the header beside the data file by name;
// it has no 64-bit integers, and neither does ENVI as written here.
TEST(Readers, GdalReadsEnvi) {
  if (!PythonHas("osgeo.gdal"))
    GTEST_SKIP() << "GDAL's Python module (python3-gdal) is not installed";
  const TReaderSweep sweep(THeaderFormat::Envi, CasesOf(NoWideIntegers, AllShapes));
  sweep.WriteList(true);
  ASSERT_TRUE(Runs(Python + " " + Quote(ReadersScript) + " gdal " + Quote(sweep.ListName())));
  sweep.Check(true);
}

// VTK's MetaImage reader, which ParaView opens these files with; it has no
// 64-bit integers and no fourth axis. VTK's NRRD reader is not asked: besides
// refusing a byte skip, the one of VTK 9.1 reads the first axis of every 3-D
// NRRD as the components of a 2-D vector image, whatever its kinds or space
// directions say, and so reads none of these files as they are.
TEST(Readers, VtkReadsMetaImage) {
  if (!PythonHas("vtkmodules.vtkIOImage"))
    GTEST_SKIP() << "VTK's Python module (python3-vtk9) is not installed";
  const std::vector<TVoxelType> types = {vtByte,  vtInt8,   vtInt16,   vtUInt16,
                                         vtInt32, vtUInt32, vtFloat32, vtFloat64};
  const TReaderSweep meta(THeaderFormat::MetaImage, CasesOf(types, {Plain3D, Short3D}));
  meta.WriteList(false);
  ASSERT_TRUE(Runs(Python + " " + Quote(ReadersScript) + " vtk-meta " + Quote(meta.ListName())));
  meta.Check(false);
}

} // namespace
