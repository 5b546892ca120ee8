#include "TempDir.h"
#include "data/VoxelDecoder.h"
#include "guess/formats/Hdf5.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <hdf5.h>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using namespace guess;

namespace {

// What a test told the library to write, to hold the reading against.
struct TWritten {
  std::string Path;
  hid_t Native;
  H5T_order_t Order;
  std::vector<hsize_t> Dims; // slowest first, as HDF5 takes them
  TVoxelType Type;
};

double Value(int64_t Index, TVoxelType Type) {
  const double whole = static_cast<double>(Index % 100);
  switch (Type) {
  case vtInt8:
  case vtInt16:
  case vtInt32:
  case vtInt64:
    return whole - 40;
  case vtFloat16:
  case vtFloat32:
  case vtFloat64:
    return whole / 4 - 10;
  default:
    return whole;
  }
}

int64_t Count(const std::vector<hsize_t>& Dims) {
  int64_t count = 1;
  for (hsize_t d : Dims)
    count *= static_cast<int64_t>(d);
  return count;
}

// binary16 has no native type in the library: one made from its fields.
hid_t HalfType() {
  const hid_t half = H5Tcopy(H5T_IEEE_F32LE);
  H5Tset_fields(half, 15, 10, 5, 0, 10);
  H5Tset_precision(half, 16);
  H5Tset_size(half, 2);
  H5Tset_ebias(half, 15);
  return half;
}

void Write(hid_t File, const TWritten& W, hid_t Create = H5P_DEFAULT) {
  const hid_t type = W.Native < 0 ? HalfType() : H5Tcopy(W.Native);
  H5Tset_order(type, W.Order);
  const hid_t space = H5Screate_simple(static_cast<int>(W.Dims.size()), W.Dims.data(), nullptr);
  const hid_t links = H5Pcreate(H5P_LINK_CREATE);
  H5Pset_create_intermediate_group(links, 1);
  const hid_t set = H5Dcreate2(File, W.Path.c_str(), type, space, links, Create, H5P_DEFAULT);
  std::vector<double> values(static_cast<size_t>(Count(W.Dims)));
  for (size_t i = 0; i < values.size(); ++i)
    values[i] = Value(static_cast<int64_t>(i), W.Type);
  EXPECT_GE(H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), 0);
  H5Dclose(set);
  H5Pclose(links);
  H5Sclose(space);
  H5Tclose(type);
}

std::vector<uint8_t> Bytes(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file written by the library; Fill adds its objects.
template <class TFill>
std::vector<uint8_t> MakeFile(TFill Fill, hsize_t UserBlock = 0, bool Latest = false) {
  testfiles::TTempDir dir;
  const std::string path = dir.Path("test.h5");
  const hid_t create = H5Pcreate(H5P_FILE_CREATE);
  if (UserBlock != 0)
    H5Pset_userblock(create, UserBlock);
  const hid_t access = H5Pcreate(H5P_FILE_ACCESS);
  if (Latest)
    H5Pset_libver_bounds(access, H5F_LIBVER_LATEST, H5F_LIBVER_LATEST);
  const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, create, access);
  Fill(file);
  H5Fclose(file);
  H5Pclose(access);
  H5Pclose(create);
  return Bytes(path);
}

// The reading must name each written dataset, in order of size, with its
// voxels at DataStart as written.
void ExpectLayouts(const std::vector<uint8_t>& File, const TContainerReading& Reading,
                   std::vector<TWritten> Written) {
  std::stable_sort(Written.begin(), Written.end(), [](const TWritten& A, const TWritten& B) {
    return Count(A.Dims) * BytesPerVoxel[A.Type] > Count(B.Dims) * BytesPerVoxel[B.Type];
  });
  ASSERT_EQ(Reading.Format, "HDF5");
  ASSERT_EQ(Reading.Layouts.size(), Written.size());
  for (size_t i = 0; i < Written.size(); ++i) {
    const TWritten& w = Written[i];
    const TStatedLayout& l = Reading.Layouts[i];
    SCOPED_TRACE(w.Path);
    EXPECT_NE(l.Note.find("HDF5 dataset " + w.Path + " ("), std::string::npos) << l.Note;
    EXPECT_EQ(l.Dims, std::vector<int64_t>(w.Dims.rbegin(), w.Dims.rend()));
    EXPECT_EQ(l.VoxelType, w.Type);
    const bool big = w.Order == H5T_ORDER_BE && BytesPerVoxel[w.Type] > 1;
    EXPECT_EQ(l.ByteOrder, big ? boBigEndian : boLittleEndian);
    const int64_t count = Count(w.Dims);
    ASSERT_LE(l.DataStart + count * BytesPerVoxel[w.Type], std::ssize(File));
    for (int64_t p = 0; p < count; ++p)
      ASSERT_EQ(voxeldecoder::DecodeVoxel(File.data() + l.DataStart, p, l.VoxelType, l.ByteOrder)
                    .AsDouble(),
                Value(p, w.Type))
          << "voxel " << p;
  }
}

TContainerReading Read(const std::vector<uint8_t>& File,
                       int64_t Budget = TByteSource::DefaultBudget, int64_t* Spent = nullptr) {
  TByteSource source(File, Budget);
  TContainerReading reading = ReadHdf5(source);
  EXPECT_LE(source.Spent(), Budget);
  if (Spent != nullptr)
    *Spent = source.Spent();
  return reading;
}

const std::vector<TWritten> EveryType = {
    {"/u8", H5T_NATIVE_UINT8, H5T_ORDER_LE, {3, 5}, vtByte},
    {"/entry/i8", H5T_NATIVE_INT8, H5T_ORDER_BE, {17}, vtInt8},
    {"/entry/data", H5T_NATIVE_UINT16, H5T_ORDER_BE, {2, 3, 4}, vtUInt16},
    {"/entry/i16", H5T_NATIVE_INT16, H5T_ORDER_LE, {5, 7}, vtInt16},
    {"/entry/inner/u32", H5T_NATIVE_UINT32, H5T_ORDER_BE, {2, 2, 3, 4}, vtUInt32},
    {"/entry/inner/i32", H5T_NATIVE_INT32, H5T_ORDER_LE, {19}, vtInt32},
    {"/entry/inner/i64", H5T_NATIVE_INT64, H5T_ORDER_BE, {3, 7}, vtInt64},
    {"/u64", H5T_NATIVE_UINT64, H5T_ORDER_LE, {23}, vtUInt64},
    {"/f16", -1, H5T_ORDER_LE, {29}, vtFloat16},
    {"/f16be", -1, H5T_ORDER_BE, {31}, vtFloat16},
    {"/entry/f32", H5T_NATIVE_FLOAT, H5T_ORDER_BE, {6, 6}, vtFloat32},
    {"/f64", H5T_NATIVE_DOUBLE, H5T_ORDER_LE, {37}, vtFloat64},
    {"/entry/f64be", H5T_NATIVE_DOUBLE, H5T_ORDER_BE, {41}, vtFloat64},
};

hid_t DeflatedChunks() {
  const hid_t create = H5Pcreate(H5P_DATASET_CREATE);
  const hsize_t chunk[2] = {4, 4};
  H5Pset_chunk(create, 2, chunk);
  H5Pset_deflate(create, 6);
  return create;
}

TEST(Hdf5, EveryTypeAndOrderInNestedGroups) {
  const std::vector<uint8_t> file = MakeFile([](hid_t File) {
    for (const TWritten& w : EveryType)
      Write(File, w);
    // Neither stored apart from the header nor plainly: left out.
    const hid_t chunks = DeflatedChunks();
    Write(File, {"/entry/deflated", H5T_NATIVE_UINT16, H5T_ORDER_LE, {64, 64}, vtUInt16}, chunks);
    H5Pclose(chunks);
    const hid_t compact = H5Pcreate(H5P_DATASET_CREATE);
    H5Pset_layout(compact, H5D_COMPACT);
    Write(File, {"/compact", H5T_NATIVE_UINT8, H5T_ORDER_LE, {4000}, vtByte}, compact);
    H5Pclose(compact);
    // A loop back up the tree and a second name for a dataset.
    H5Lcreate_hard(File, "/entry", File, "/entry/inner/up", H5P_DEFAULT, H5P_DEFAULT);
    H5Lcreate_hard(File, "/u64", File, "/entry/again", H5P_DEFAULT, H5P_DEFAULT);
    H5Lcreate_soft("/entry", File, "/entry/inner/soft", H5P_DEFAULT, H5P_DEFAULT);
  });
  ExpectLayouts(file, Read(file), EveryType);
}

TEST(Hdf5, UserBlockAndLargeFile) {
  const TWritten small = {"/image", H5T_NATIVE_INT16, H5T_ORDER_BE, {8, 9}, vtInt16};
  for (hsize_t userBlock : {512, 1024, 4096}) {
    SCOPED_TRACE(userBlock);
    const std::vector<uint8_t> file = MakeFile([&](hid_t File) { Write(File, small); }, userBlock);
    const TContainerReading reading = Read(file);
    ExpectLayouts(file, reading, {small});
    ASSERT_FALSE(reading.Layouts.empty());
    EXPECT_GE(reading.Layouts[0].DataStart, static_cast<int64_t>(userBlock));
  }
  // Its metadata come first: the reading must not touch the voxels.
  const TWritten large = {"/volume", H5T_NATIVE_UINT16, H5T_ORDER_LE, {40, 256, 256}, vtUInt16};
  const std::vector<uint8_t> file = MakeFile([&](hid_t File) { Write(File, large); });
  ASSERT_GT(std::ssize(file), TByteSource::DefaultBudget);
  int64_t spent = 0;
  ExpectLayouts(file, Read(file, TByteSource::DefaultBudget, &spent), {large});
  EXPECT_LT(spent, 64 << 10);
}

TEST(Hdf5, NoRawVoxels) {
  const std::vector<uint8_t> chunked = MakeFile([](hid_t File) {
    const hid_t chunks = DeflatedChunks();
    Write(File, {"/a", H5T_NATIVE_FLOAT, H5T_ORDER_LE, {16, 16}, vtFloat32}, chunks);
    H5Pclose(chunks);
  });
  const std::vector<uint8_t> strings = MakeFile([](hid_t File) {
    const hid_t text = H5Tcopy(H5T_C_S1);
    H5Tset_size(text, 8);
    const hsize_t dims[1] = {4};
    const hid_t space = H5Screate_simple(1, dims, nullptr);
    const hid_t set =
        H5Dcreate2(File, "/names", text, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    H5Dwrite(set, text, H5S_ALL, H5S_ALL, H5P_DEFAULT, "abcdefghijklmnopqrstuvwxyz012345");
    H5Dclose(set);
    H5Sclose(space);
    H5Tclose(text);
  });
  for (const auto& [file, reason] :
       {std::pair{chunked, "chunked or compressed"}, std::pair{strings, "no contiguous"}}) {
    const TContainerReading reading = Read(file);
    EXPECT_EQ(reading.Format, "HDF5");
    EXPECT_TRUE(reading.Layouts.empty());
    EXPECT_NE(reading.NoRawVoxels.find(reason), std::string::npos) << reading.NoRawVoxels;
  }
}

void Put64(std::vector<uint8_t>& File, size_t At, uint64_t Value) {
  std::memcpy(File.data() + At, &Value, sizeof Value);
}

TEST(Hdf5, HostileFilesGiveNoLayout) {
  const std::vector<uint8_t> good = MakeFile([](hid_t File) {
    Write(File, {"/g/data", H5T_NATIVE_UINT16, H5T_ORDER_LE, {12, 10}, vtUInt16});
  });
  ASSERT_EQ(Read(good).Layouts.size(), 1u);
  // The default superblock is version 0: offsets of its fields as defined.
  ASSERT_EQ(good[8], 0);
  std::vector<std::vector<uint8_t>> bad;
  for (size_t size :
       {size_t{8}, size_t{40}, size_t{95}, size_t{200}, good.size() / 2, good.size() - 1})
    bad.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
  const auto corrupt = [&](auto Change) {
    std::vector<uint8_t> file = good;
    Change(file);
    bad.push_back(std::move(file));
  };
  corrupt([](auto& F) { F[8] = 9; });                        // unknown version
  corrupt([](auto& F) { F[13] = 3; });                       // size of offsets
  corrupt([](auto& F) { F[14] = 0; });                       // size of lengths
  corrupt([](auto& F) { Put64(F, 24, uint64_t{1} << 62); }); // base address
  corrupt([](auto& F) { Put64(F, 40, ~uint64_t{0} - 1); });  // end of file
  corrupt([](auto& F) { Put64(F, 64, F.size() * 3); });      // root header past the end
  corrupt([](auto& F) { Put64(F, 64, 0); });                 // root header on the superblock
  corrupt([](auto& F) { std::fill(F.begin() + 96, F.end(), 0xff); });
  std::mt19937 random(7);
  for (size_t at : {size_t{0}, size_t{512}, size_t{2048}})
    for (int i = 0; i < 8; ++i) {
      std::vector<uint8_t> file(at + 8 + 4096);
      for (uint8_t& b : file)
        b = static_cast<uint8_t>(random());
      std::copy(good.begin(), good.begin() + 8, file.begin() + static_cast<std::ptrdiff_t>(at));
      bad.push_back(std::move(file));
    }
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(Read(bad[i]).Layouts.empty());
  }
  // A budget too small for the metadata leaves it unread, not misread.
  int64_t spent = 0;
  EXPECT_TRUE(Read(good, 600, &spent).Layouts.empty());
  EXPECT_LE(spent, 600);
  // No signature: nothing asked of the library.
  std::vector<uint8_t> other = good;
  other[1] = 'X';
  EXPECT_TRUE(Read(other).Format.empty());
}

// Every budget up to what a full reading spends: the library meets a failed
// read at each step of its walk, in a dense group (sorting its links made
// the library free slots it never filled) and in compact ones.
TEST(Hdf5, EveryBudgetOnLatestFormat) {
  const std::vector<uint8_t> file = MakeFile(
      [](hid_t File) {
        Write(File, {"/a/b/c", H5T_NATIVE_INT64, H5T_ORDER_BE, {2, 3, 2}, vtInt64});
        H5Gclose(H5Gcreate2(File, "/many", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        for (int i = 0; i < 12; ++i)
          H5Gclose(H5Gcreate2(File, ("/many/g" + std::to_string(i)).c_str(), H5P_DEFAULT,
                              H5P_DEFAULT, H5P_DEFAULT));
        Write(File, {"/many/g3/d", H5T_NATIVE_FLOAT, H5T_ORDER_LE, {10}, vtFloat32});
      },
      0, true);
  int64_t full = 0;
  ASSERT_EQ(Read(file, TByteSource::DefaultBudget, &full).Layouts.size(), 2u);
  for (int64_t budget = 0; budget < full; budget += 3)
    for (const TStatedLayout& l : Read(file, budget).Layouts)
      EXPECT_GE(l.DataStart, 0);
}

} // namespace
