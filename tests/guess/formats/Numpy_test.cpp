#include "data/TestFiles.h"
#include "data/VoxelDecoder.h"
#include "guess/formats/Numpy.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace guess;

namespace {

using testfiles::AppendBytes;
using testfiles::AppendVoxel;

// The values the writers put in voxel p, within every type's range.
double ValueAt(int64_t p, TVoxelType Type) {
  const bool unsignedType =
      Type == vtByte || Type == vtUInt16 || Type == vtUInt32 || Type == vtUInt64;
  return static_cast<double>(p % 97) - (unsignedType ? 0 : 40);
}

double Number(const TVoxelValue& V) {
  return V.Kind == TVoxelValue::Signed     ? double(V.SignedValue)
         : V.Kind == TVoxelValue::Unsigned ? double(V.UnsignedValue)
                                           : V.RealValue;
}

// A .npy as NumPy writes it: magic, version, header length, the dict padded
// with blanks to a multiple of 64 bytes and ended by a line break, the data.
std::vector<uint8_t> NpyOf(const std::string& Dict, int Major, const std::vector<uint8_t>& Data) {
  const size_t preamble = Major == 1 ? 10 : 12;
  std::string header = Dict;
  while ((preamble + header.size() + 1) % 64 != 0)
    header += ' ';
  header += '\n';
  std::vector<uint8_t> bytes = {0x93, 'N', 'U', 'M', 'P', 'Y', uint8_t(Major), 0};
  AppendBytes(bytes, header.size(), Major == 1 ? 2 : 4, boLittleEndian);
  bytes.insert(bytes.end(), header.begin(), header.end());
  bytes.insert(bytes.end(), Data.begin(), Data.end());
  return bytes;
}

std::string DictOf(const std::string& Descr, bool Fortran, const std::string& Shape) {
  return "{'descr': " + Descr + ", 'fortran_order': " + (Fortran ? "True" : "False") +
         ", 'shape': " + Shape + ", }";
}

std::vector<uint8_t> VoxelsOf(int64_t Count, TVoxelType Type, TByteOrder Order) {
  std::vector<uint8_t> data;
  for (int64_t p = 0; p < Count; ++p)
    AppendVoxel(data, Type, Order, ValueAt(p, Type));
  return data;
}

TContainerReading Read(const std::vector<uint8_t>& Bytes) {
  TByteSource source(Bytes);
  TContainerReading reading = ReadNumpy(source);
  EXPECT_LE(source.Spent(), TByteSource::DefaultBudget);
  return reading;
}

void ExpectVoxels(const std::vector<uint8_t>& File, const TStatedLayout& L, int64_t Count) {
  ASSERT_LE(L.DataStart + Count * BytesPerVoxel[L.VoxelType], std::ssize(File));
  for (int64_t p = 0; p < Count; ++p)
    ASSERT_EQ(
        Number(voxeldecoder::DecodeVoxel(File.data() + L.DataStart, p, L.VoxelType, L.ByteOrder)),
        ValueAt(p, L.VoxelType))
        << "voxel " << p;
}

struct TDescr {
  const char* Code;
  TVoxelType Type;
  TByteOrder Order;
};
constexpr TDescr Descrs[] = {
    {"'<i2'", vtInt16, boLittleEndian},   {"'>f4'", vtFloat32, boBigEndian},
    {"'|u1'", vtByte, boLittleEndian},    {"'|i1'", vtInt8, boLittleEndian},
    {"'<f2'", vtFloat16, boLittleEndian}, {"'<f8'", vtFloat64, boLittleEndian},
    {"'<i8'", vtInt64, boLittleEndian},   {"'>u8'", vtUInt64, boBigEndian},
    {"'>u2'", vtUInt16, boBigEndian},     {"'<u4'", vtUInt32, boLittleEndian},
    {"\">i4\"", vtInt32, boBigEndian},    {"'|b1'", vtByte, boLittleEndian},
    {"'=i2'", vtInt16, boLittleEndian},   {"'|f4'", vtFloat32, boLittleEndian},
};

struct TShape {
  const char* Text;
  std::vector<int64_t> Sizes; // slowest first, as the tuple says
};
const TShape Shapes[] = {
    {"()", {}},
    {"(5,)", {5}},
    {"(3, 4)", {3, 4}},
    {"(2,3,4)", {2, 3, 4}},
    {"(2L, 3L, 4L, 2L)", {2, 3, 4, 2}},
};

TEST(Numpy, NpyOfEveryTypeOrderShapeAndVersion) {
  for (int major : {1, 2, 3})
    for (const TDescr& descr : Descrs)
      for (bool fortran : {false, true})
        for (const TShape& shape : Shapes) {
          SCOPED_TRACE(testing::Message() << "v" << major << " " << descr.Code << " fortran "
                                          << fortran << " " << shape.Text);
          int64_t count = 1;
          for (int64_t size : shape.Sizes)
            count *= size;
          const std::vector<uint8_t> data = VoxelsOf(count, descr.Type, descr.Order);
          const std::vector<uint8_t> file =
              NpyOf(DictOf(descr.Code, fortran, shape.Text), major, data);
          const TContainerReading reading = Read(file);
          EXPECT_EQ(reading.Format, "NumPy");
          ASSERT_EQ(reading.Layouts.size(), 1u) << reading.NoRawVoxels;
          const TStatedLayout& l = reading.Layouts[0];
          std::vector<int64_t> dims = shape.Sizes;
          if (!fortran)
            std::reverse(dims.begin(), dims.end());
          if (dims.empty())
            dims = {1};
          EXPECT_EQ(l.Dims, dims);
          EXPECT_EQ(l.VoxelType, descr.Type);
          EXPECT_EQ(l.ByteOrder, descr.Order);
          EXPECT_EQ(l.DataStart, std::ssize(file) - std::ssize(data));
          EXPECT_EQ(l.Score, 0.99);
          ExpectVoxels(file, l, count);
        }
}

TEST(Numpy, ArraysOfNoVoxelTypeSayWhy) {
  const struct {
    std::string Descr, Shape, Says;
  } cases[] = {
      {"'<c8'", "(4,)", "complex"},
      {"'<c16'", "(4,)", "complex"},
      {"'|S10'", "(4,)", "strings"},
      {"'<U4'", "(4,)", "strings"},
      {"'|O'", "(4,)", "Python objects"},
      {"'<M8[ns]'", "(4,)", "dates"},
      {"'|V8'", "(4,)", "records"},
      {"[('x', '<f4'), ('y', '<i2', (2,))]", "(4,)", "several fields"},
      {"'<f16'", "(4,)", "'<f16'"},
      {"'<i2'", "(0, 3)", "holds no voxels"},
      {"'<i2'", "(3, 0)", "holds no voxels"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Descr + " " + c.Shape);
    const TContainerReading reading =
        Read(NpyOf(DictOf(c.Descr, false, c.Shape), 1, std::vector<uint8_t>(64)));
    EXPECT_EQ(reading.Format, "NumPy");
    EXPECT_TRUE(reading.Layouts.empty());
    EXPECT_NE(reading.NoRawVoxels.find(c.Says), std::string::npos) << reading.NoRawVoxels;
  }
}

TEST(Numpy, HostileNpyGivesNoLayout) {
  const std::vector<uint8_t> data = VoxelsOf(24, vtInt16, boLittleEndian);
  const std::string good = DictOf("'<i2'", false, "(2, 3, 4)");
  const std::vector<uint8_t> sound = NpyOf(good, 1, data);
  ASSERT_EQ(Read(sound).Layouts.size(), 1u);
  // Every cut short of the whole file loses the header or the last voxel.
  for (size_t cut = 0; cut < sound.size(); ++cut)
    EXPECT_TRUE(Read({sound.begin(), sound.begin() + cut}).Layouts.empty()) << cut;

  auto withLength = [&](uint64_t Length, int Major) {
    std::vector<uint8_t> bytes = NpyOf(good, Major, data);
    std::vector<uint8_t> field;
    AppendBytes(field, Length, Major == 1 ? 2 : 4, boLittleEndian);
    std::copy(field.begin(), field.end(), bytes.begin() + 8);
    return bytes;
  };
  std::string manyAxes = "(24";
  for (int i = 0; i < 40; ++i)
    manyAxes += ", 1";
  manyAxes += ")";
  const struct {
    const char* What;
    std::vector<uint8_t> File;
  } cases[] = {
      {"header length past the file", withLength(0xFFFF, 1)},
      {"huge version 2 header length", withLength(0xFFFFFFFF, 2)},
      {"header length short of the dict", withLength(20, 1)},
      {"unknown version", NpyOf(good, 4, data)},
      {"lying shape", NpyOf(DictOf("'<i2'", false, "(2, 3, 5)"), 1, data)},
      {"overflowing shape", NpyOf(DictOf("'<i2'", false, "(4294967296, 4294967296, 16)"), 1, data)},
      {"shape past int64", NpyOf(DictOf("'<i2'", false, "(99999999999999999999,)"), 1, data)},
      {"negative size", NpyOf(DictOf("'<i2'", false, "(-2, 3, 4)"), 1, data)},
      {"shape not a tuple", NpyOf(DictOf("'<i2'", false, "[2, 3, 4]"), 1, data)},
      {"unclosed shape", NpyOf("{'descr': '<i2', 'fortran_order': False, 'shape': (2, 3", 1, data)},
      {"no shape", NpyOf("{'descr': '<i2', 'fortran_order': False}", 1, data)},
      {"no descr", NpyOf("{'fortran_order': False, 'shape': (24,)}", 1, data)},
      {"order not a truth",
       NpyOf("{'descr': '<i2', 'fortran_order': Maybe, 'shape': (24,)}", 1, data)},
      {"not a dict", NpyOf("descr <i2 shape 24", 1, data)},
      {"unclosed string", NpyOf("{'descr': '<i2, 'shape': (24,)}", 1, data)},
      {"more axes than NumPy has", NpyOf(DictOf("'<i2'", false, manyAxes), 1, data)},
  };
  for (const auto& c : cases) {
    const TContainerReading reading = Read(c.File);
    EXPECT_TRUE(reading.Layouts.empty()) << c.What;
    EXPECT_FALSE(reading.NoRawVoxels.empty()) << c.What;
  }
}

struct TMember {
  std::string Name;
  std::vector<uint8_t> Data;
  uint16_t Method = 0;
  bool Zip64 = false;    // sizes in a Zip64 extra field, as NumPy writes them
  bool Deferred = false; // sizes in a data descriptor and the directory only
};

struct TZip {
  std::vector<uint8_t> Bytes;
  std::vector<int64_t> DataAt; // where each member's data starts
};

// A zip archive of the members as written, with its central directory.
TZip ZipOf(const std::vector<TMember>& Members) {
  TZip zip;
  std::vector<uint8_t>& b = zip.Bytes;
  auto put = [&b](uint64_t Value, int Size) { AppendBytes(b, Value, Size, boLittleEndian); };
  std::vector<uint8_t> directory;
  for (const TMember& m : Members) {
    const int64_t headerAt = std::ssize(b);
    const uint64_t size = m.Deferred ? 0 : m.Zip64 ? 0xFFFFFFFF : m.Data.size();
    put(0x04034b50, 4), put(20, 2), put(m.Deferred ? 8 : 0, 2), put(m.Method, 2), put(0, 8);
    put(size, 4), put(size, 4), put(m.Name.size(), 2), put(m.Zip64 ? 20 : 0, 2);
    b.insert(b.end(), m.Name.begin(), m.Name.end());
    if (m.Zip64)
      put(1, 2), put(16, 2), put(m.Data.size(), 8), put(m.Data.size(), 8);
    zip.DataAt.push_back(std::ssize(b));
    b.insert(b.end(), m.Data.begin(), m.Data.end());
    if (m.Deferred)
      put(0x08074b50, 4), put(0, 4), put(m.Data.size(), 4), put(m.Data.size(), 4);
    std::swap(b, directory);
    put(0x02014b50, 4), put(20, 2), put(20, 2), put(m.Deferred ? 8 : 0, 2), put(m.Method, 2);
    put(0, 8), put(m.Data.size(), 4), put(m.Data.size(), 4), put(m.Name.size(), 2), put(0, 4);
    put(0, 4), put(0, 4);
    put(static_cast<uint64_t>(headerAt), 4);
    b.insert(b.end(), m.Name.begin(), m.Name.end());
    std::swap(b, directory);
  }
  const int64_t directoryAt = std::ssize(b);
  b.insert(b.end(), directory.begin(), directory.end());
  put(0x06054b50, 4), put(0, 4), put(Members.size(), 2), put(Members.size(), 2);
  put(directory.size(), 4), put(static_cast<uint64_t>(directoryAt), 4), put(0, 2);
  return zip;
}

TEST(Numpy, NpzStoredMembersLieWhereTheArchivePutsThem) {
  const std::vector<uint8_t> volume =
      NpyOf(DictOf("'<i2'", false, "(4, 3, 5)"), 1, VoxelsOf(60, vtInt16, boLittleEndian));
  const std::vector<uint8_t> mask =
      NpyOf(DictOf("'>f4'", true, "(6, 2)"), 2, VoxelsOf(12, vtFloat32, boBigEndian));
  for (bool zip64 : {false, true})
    for (bool deferred : {false, true}) {
      SCOPED_TRACE(testing::Message() << "zip64 " << zip64 << " deferred " << deferred);
      const TZip zip = ZipOf({{"volume.npy", volume, 0, zip64, deferred},
                              {"readme.txt", {'h', 'i'}, 0, zip64, deferred},
                              {"packed.npy", volume, 8, zip64, deferred},
                              {"sub/mask.npy", mask, 0, zip64, deferred}});
      const TContainerReading reading = Read(zip.Bytes);
      EXPECT_EQ(reading.Format, "NumPy");
      ASSERT_EQ(reading.Layouts.size(), 2u) << reading.NoRawVoxels;
      const TStatedLayout& v = reading.Layouts[0];
      EXPECT_EQ(v.Dims, (std::vector<int64_t>{5, 3, 4}));
      EXPECT_EQ(v.VoxelType, vtInt16);
      EXPECT_EQ(v.DataStart, zip.DataAt[0] + std::ssize(volume) - 120);
      EXPECT_EQ(v.Note, "NumPy array 'volume' in .npz");
      ExpectVoxels(zip.Bytes, v, 60);
      const TStatedLayout& m = reading.Layouts[1];
      EXPECT_EQ(m.Dims, (std::vector<int64_t>{6, 2}));
      EXPECT_EQ(m.ByteOrder, boBigEndian);
      EXPECT_EQ(m.DataStart, zip.DataAt[3] + std::ssize(mask) - 48);
      EXPECT_EQ(m.Note, "NumPy array 'sub/mask' in .npz");
      ExpectVoxels(zip.Bytes, m, 12);
    }
}

TEST(Numpy, NpzWithoutStoredArrays) {
  const std::vector<uint8_t> npy =
      NpyOf(DictOf("'<i2'", false, "(24,)"), 1, VoxelsOf(24, vtInt16, boLittleEndian));
  const std::vector<uint8_t> complexNpy =
      NpyOf(DictOf("'<c8'", false, "(3,)"), 1, std::vector<uint8_t>(24));
  const TContainerReading packed = Read(ZipOf({{"a.npy", npy, 8}, {"b.npy", npy, 8}}).Bytes);
  EXPECT_EQ(packed.Format, "NumPy");
  EXPECT_TRUE(packed.Layouts.empty());
  EXPECT_EQ(packed.NoRawVoxels, "NumPy .npz with compressed members: the file holds no raw voxels");
  const TContainerReading complexOnly = Read(ZipOf({{"c.npy", complexNpy}}).Bytes);
  EXPECT_TRUE(complexOnly.Layouts.empty());
  EXPECT_NE(complexOnly.NoRawVoxels.find("'c.npy'"), std::string::npos);
  EXPECT_NE(complexOnly.NoRawVoxels.find("complex"), std::string::npos);
  // A zip of other things is no NumPy file at all.
  EXPECT_TRUE(Read(ZipOf({{"a.txt", {'x'}}, {"b.bin", npy, 8}}).Bytes).Format.empty());
}

void Poke(std::vector<uint8_t>& Bytes, size_t At, uint64_t Value, int Size) {
  std::vector<uint8_t> field;
  AppendBytes(field, Value, Size, boLittleEndian);
  std::copy(field.begin(), field.end(), Bytes.begin() + static_cast<int64_t>(At));
}

TEST(Numpy, HostileNpzNeitherLoopsNorReadsPastItsBudget) {
  const std::vector<uint8_t> npy =
      NpyOf(DictOf("'<i2'", false, "(24,)"), 1, VoxelsOf(24, vtInt16, boLittleEndian));
  const TZip sound = ZipOf({{"a.npy", npy}, {"b.npy", npy}});
  ASSERT_EQ(Read(sound.Bytes).Layouts.size(), 2u);
  for (size_t cut = 0; cut < sound.Bytes.size(); ++cut) {
    const TContainerReading reading = Read({sound.Bytes.begin(), sound.Bytes.begin() + cut});
    EXPECT_LE(reading.Layouts.size(), cut >= size_t(sound.DataAt[1]) + npy.size() ? 2u : 1u);
  }
  const size_t second = static_cast<size_t>(sound.DataAt[0]) + npy.size(); // b.npy's header
  const struct {
    const char* What;
    size_t At;
    uint64_t Value;
    int Size;
    size_t Layouts;
  } cases[] = {
      {"name past the end", 26, 0xFFFF, 2, 0},
      {"extra past the end", 28, 0xFFFF, 2, 0},
      {"member past the end", 18, 0xFFFFFFF0, 4, 0},
      {"member shorter than its array", 18, npy.size() - 2, 4, 0},
      {"second header past the end", second + 28, 0xFFFF, 2, 1},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = sound.Bytes;
    Poke(bytes, c.At, c.Value, c.Size);
    EXPECT_EQ(Read(bytes).Layouts.size(), c.Layouts) << c.What;
  }
  // A Zip64 size that points the walk back at its own header, and a deferred
  // size the directory says is past the end or in the middle of the member.
  for (uint64_t size : {uint64_t(0) - 30 - 5 - 20, ~uint64_t(0), uint64_t(1) << 62}) {
    TZip loop = ZipOf({{"a.npy", npy, 0, true}});
    Poke(loop.Bytes, 30 + 5 + 4 + 8, size, 8);
    EXPECT_TRUE(Read(loop.Bytes).Layouts.empty()) << size;
  }
  for (uint64_t size : {uint64_t(0xFFFFFFF0), uint64_t(3)}) {
    TZip deferred = ZipOf({{"a.npy", npy, 0, false, true}});
    const size_t entryAt = deferred.Bytes.size() - 22 - 46 - 5;
    Poke(deferred.Bytes, entryAt + 20, size, 4);
    EXPECT_TRUE(Read(deferred.Bytes).Layouts.empty()) << size;
  }
  // A directory of many entries all naming the first header.
  std::vector<uint8_t> many = ZipOf({{"a.npy", npy, 0, false, true}}).Bytes;
  many.resize(many.size() - 22);
  const int64_t directoryAt = std::ssize(many) - 51;
  const std::vector<uint8_t> entry(many.end() - 51, many.end());
  for (int i = 0; i < 1000; ++i)
    many.insert(many.end(), entry.begin(), entry.end());
  AppendBytes(many, 0x06054b50, 4, boLittleEndian);
  AppendBytes(many, 0, 4, boLittleEndian);
  AppendBytes(many, 0xFFFF, 2, boLittleEndian), AppendBytes(many, 0xFFFF, 2, boLittleEndian);
  AppendBytes(many, 51 * 1001, 4, boLittleEndian);
  AppendBytes(many, static_cast<uint64_t>(directoryAt), 4, boLittleEndian);
  AppendBytes(many, 0, 2, boLittleEndian);
  EXPECT_EQ(Read(many).Layouts.size(), 1u);
}

} // namespace
