#include "TempDir.h"
#include "data/VoxelDecoder.h"
#include "guess/formats/Fits.h"

#include <algorithm>
#include <cstring>
#include <fitsio.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace guess;

namespace {

void Check(int Status, const char* What) {
  if (Status != 0) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(Status, text);
    throw std::runtime_error(std::string(What) + ": " + text);
  }
}

std::vector<uint8_t> BytesOf(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A FITS file as cfitsio writes it, one HDU after another.
class TFitsWriter {
public:
  explicit TFitsWriter(std::string Path)
      : FPath(std::move(Path)) {
    Check(fits_create_file(&FFile, ("!" + FPath).c_str(), &FStatus), "create");
  }
  ~TFitsWriter() {
    int status = 0;
    if (FFile != nullptr)
      fits_close_file(FFile, &status);
  }
  TFitsWriter(const TFitsWriter&) = delete;
  TFitsWriter& operator=(const TFitsWriter&) = delete;

  void Image(int ImageType, std::vector<long> Dims) {
    Check(fits_create_img(FFile, ImageType, static_cast<int>(Dims.size()), Dims.data(), &FStatus),
          "image");
  }
  template <typename T> void Pixels(int DataType, std::vector<T> Values) {
    Check(fits_write_img(FFile, DataType, 1, static_cast<LONGLONG>(Values.size()), Values.data(),
                         &FStatus),
          "pixels");
  }
  void Name(std::string Text) {
    Check(fits_write_key(FFile, TSTRING, "EXTNAME", Text.data(), nullptr, &FStatus), "name");
  }
  void Cards(int Count) {
    for (long i = 0; i < Count; ++i)
      Check(fits_write_key(FFile, TLONG, ("KEY" + std::to_string(i)).c_str(), &i, "padding",
                           &FStatus),
            "card");
  }
  void Table() {
    char name[] = "X";
    char form[] = "1J";
    char* names[] = {name};
    char* forms[] = {form};
    Check(fits_create_tbl(FFile, BINARY_TBL, 3, 1, names, forms, nullptr, "TAB", &FStatus),
          "table");
    int values[] = {1, 2, 3};
    Check(fits_write_col(FFile, TINT, 1, 1, 1, 3, values, &FStatus), "column");
  }
  void Compressed(std::vector<long> Dims) {
    Check(fits_set_compression_type(FFile, RICE_1, &FStatus), "compress");
    Image(SHORT_IMG, Dims);
    Pixels(TSHORT, std::vector<short>(Dims[0] * Dims[1], 7));
    Check(fits_set_compression_type(FFile, NOCOMPRESS, &FStatus), "uncompress");
  }
  std::vector<uint8_t> Close() {
    Check(fits_close_file(FFile, &FStatus), "close");
    FFile = nullptr;
    return BytesOf(FPath);
  }

private:
  std::string FPath;
  fitsfile* FFile = nullptr;
  int FStatus = 0;
};

TContainerReading Read(const std::vector<uint8_t>& Bytes,
                       int64_t Budget = TByteSource::DefaultBudget) {
  TByteSource source(Bytes, Budget);
  TContainerReading reading = ReadFits(source);
  EXPECT_LE(source.Spent(), Budget);
  return reading;
}

// Every voxel written, as the bits the file stores: value less BZERO, cut to
// the width of the stored type. Floats compare as values.
struct TTypeCase {
  int ImageType; // cfitsio's BYTE_IMG, USHORT_IMG, ...
  int Bitpix;
  TVoxelType Stored;
  TVoxelType Other; // the other-signedness reading, or Stored when none
  int64_t Low, High;
  uint64_t Zero; // BZERO, as the bits subtracted
};

const TTypeCase TypeCases[] = {
    {BYTE_IMG, 8, vtByte, vtByte, 0, 255, 0},
    {SBYTE_IMG, 8, vtByte, vtInt8, -128, 127, static_cast<uint64_t>(-128)},
    {SHORT_IMG, 16, vtInt16, vtInt16, -32768, 32767, 0},
    {USHORT_IMG, 16, vtInt16, vtUInt16, 0, 65535, 32768},
    {LONG_IMG, 32, vtInt32, vtInt32, INT32_MIN, INT32_MAX, 0},
    {ULONG_IMG, 32, vtInt32, vtUInt32, 0, UINT32_MAX, uint64_t{1} << 31},
    {LONGLONG_IMG, 64, vtInt64, vtInt64, INT64_MIN, INT64_MAX, 0},
    {ULONGLONG_IMG, 64, vtInt64, vtUInt64, 0, -1, uint64_t{1} << 63}, // High: all bits
    {FLOAT_IMG, -32, vtFloat32, vtFloat32, -100000, 100000, 0},
    {DOUBLE_IMG, -64, vtFloat64, vtFloat64, -100000, 100000, 0},
};

// Voxel p of Count, spread over Low..High with both ends present (as bits).
uint64_t ValueBits(const TTypeCase& Case, int64_t p, int64_t Count) {
  const uint64_t span = static_cast<uint64_t>(Case.High) - static_cast<uint64_t>(Case.Low);
  const uint64_t step = span / static_cast<uint64_t>(Count - 1);
  const uint64_t offset = p == Count - 1 ? span : step * static_cast<uint64_t>(p);
  return static_cast<uint64_t>(Case.Low) + offset;
}

bool IsFloat(TVoxelType Type) {
  return Type == vtFloat32 || Type == vtFloat64;
}

void WritePixels(TFitsWriter& Writer, const TTypeCase& Case, int64_t Count) {
  std::vector<uint64_t> bits(static_cast<size_t>(Count));
  for (int64_t p = 0; p < Count; ++p)
    bits[p] = ValueBits(Case, p, Count);
  if (IsFloat(Case.Stored)) {
    std::vector<double> values(bits.size());
    for (size_t p = 0; p < values.size(); ++p)
      values[p] = static_cast<double>(static_cast<int64_t>(bits[p])) + 0.25;
    Writer.Pixels(TDOUBLE, values);
  } else if (Case.ImageType == ULONGLONG_IMG) {
    Writer.Pixels(TULONGLONG, bits);
  } else {
    Writer.Pixels(TLONGLONG, std::vector<int64_t>(bits.begin(), bits.end()));
  }
}

void ExpectVoxels(const std::vector<uint8_t>& File, const TStatedLayout& Layout,
                  const TTypeCase& Case, int64_t Count) {
  ASSERT_LE(Layout.DataStart + Count * BytesPerVoxel[Layout.VoxelType], std::ssize(File));
  const int bits = 8 * BytesPerVoxel[Layout.VoxelType];
  const uint64_t mask = bits == 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
  for (int64_t p = 0; p < Count; ++p) {
    const TVoxelValue got = voxeldecoder::DecodeVoxel(File.data() + Layout.DataStart, p,
                                                      Layout.VoxelType, Layout.ByteOrder);
    const uint64_t value = ValueBits(Case, p, Count);
    if (IsFloat(Case.Stored)) {
      const double written = static_cast<double>(static_cast<int64_t>(value)) + 0.25;
      ASSERT_EQ(got.RealValue, written) << "voxel " << p;
    } else {
      const uint64_t gotBits = got.Kind == TVoxelValue::Signed
                                   ? static_cast<uint64_t>(got.SignedValue)
                                   : got.UnsignedValue;
      ASSERT_EQ(gotBits & mask, (value - Case.Zero) & mask) << "voxel " << p;
    }
  }
}

// Every BITPIX, with and without a zero that flips its signedness, in the
// primary, in an extension after a table, and after a header longer than 32 KiB.
TEST(Fits, ReadsEveryBitpixWhereverTheImageIs) {
  const testfiles::TTempDir dir;
  const std::vector<long> dims = {5, 4, 3};
  const int64_t count = 60;
  enum TPlace { Primary, Extension, LongHeader };
  for (const TTypeCase& c : TypeCases)
    for (TPlace place : {Primary, Extension, LongHeader}) {
      SCOPED_TRACE("BITPIX " + std::to_string(c.Bitpix) + " type " + std::to_string(c.ImageType) +
                   " place " + std::to_string(place));
      TFitsWriter writer(dir.Path("a.fits"));
      if (place == Extension) {
        writer.Image(BYTE_IMG, {});
        writer.Table();
      }
      writer.Image(c.ImageType, dims);
      if (place == Extension)
        writer.Name("SCI");
      if (place == LongHeader)
        writer.Cards(500);
      WritePixels(writer, c, count);
      const std::vector<uint8_t> file = writer.Close();
      const TContainerReading reading = Read(file);
      EXPECT_EQ(reading.Format, "FITS");
      EXPECT_EQ(reading.NoRawVoxels, "");
      const bool other = c.Other != c.Stored;
      ASSERT_EQ(reading.Layouts.size(), other ? 2u : 1u);
      const TStatedLayout& first = reading.Layouts[0];
      EXPECT_EQ(first.Dims, std::vector<int64_t>(dims.begin(), dims.end()));
      EXPECT_EQ(first.VoxelType, c.Stored);
      EXPECT_EQ(first.ByteOrder, c.Bitpix == 8 ? boLittleEndian : boBigEndian);
      EXPECT_EQ(first.Score, 0.99);
      EXPECT_EQ(first.DataStart % 2880, 0);
      if (place == LongHeader) {
        EXPECT_GT(first.DataStart, 32768);
      }
      const std::string part = place == Extension ? "FITS image extension 2 (SCI), BITPIX "
                                                  : "FITS primary image, BITPIX ";
      EXPECT_EQ(first.Note.rfind(part + std::to_string(c.Bitpix), 0), 0u) << first.Note;
      ExpectVoxels(file, first, c, count);
      if (!other) {
        EXPECT_EQ(first.Note, part + std::to_string(c.Bitpix));
        continue;
      }
      const TStatedLayout& second = reading.Layouts[1];
      EXPECT_EQ(second.VoxelType, c.Other);
      EXPECT_EQ(second.DataStart, first.DataStart);
      EXPECT_EQ(second.Dims, first.Dims);
      EXPECT_EQ(second.Score, 0.97);
      EXPECT_NE(first.Note.find(": stored as "), std::string::npos) << first.Note;
      EXPECT_NE(second.Note.find(": read as "), std::string::npos) << second.Note;
    }
}

// What files holding other things than one image give.
TEST(Fits, OffersEachRawImageAndSaysWhenThereIsNone) {
  const testfiles::TTempDir dir;
  struct TCase {
    const char* What;
    void (*Write)(TFitsWriter&);
    std::vector<std::string> Notes; // largest image first
    const char* NoRawVoxels;
  };
  const TCase cases[] = {
      {"small primary, larger extension",
       [](TFitsWriter& W) {
         W.Image(SHORT_IMG, {2, 2});
         W.Pixels(TINT, std::vector<int>(4, 1));
         W.Image(FLOAT_IMG, {8, 8});
         W.Name("SCI");
         W.Pixels(TFLOAT, std::vector<float>(64, 2.5f));
       },
       {"FITS image extension 1 (SCI), BITPIX -32", "FITS primary image, BITPIX 16"},
       ""},
      {"compressed only",
       [](TFitsWriter& W) {
         W.Image(BYTE_IMG, {});
         W.Compressed({16, 16});
       },
       {},
       "FITS with tile-compressed images: the file holds no raw voxels"},
      {"raw primary beside a compressed image",
       [](TFitsWriter& W) {
         W.Image(BYTE_IMG, {4, 4});
         W.Pixels(TINT, std::vector<int>(16, 3));
         W.Compressed({16, 16});
       },
       {"FITS primary image, BITPIX 8"},
       ""},
      {"tables only",
       [](TFitsWriter& W) {
         W.Image(BYTE_IMG, {});
         W.Table();
       },
       {},
       "FITS with tables only: the file holds no raw voxels"},
      {"header alone",
       [](TFitsWriter& W) { W.Image(BYTE_IMG, {}); },
       {},
       "FITS with no image data: the file holds no raw voxels"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TFitsWriter writer(dir.Path("b.fits"));
    c.Write(writer);
    const TContainerReading reading = Read(writer.Close());
    EXPECT_EQ(reading.Format, "FITS");
    std::vector<std::string> notes;
    for (const TStatedLayout& layout : reading.Layouts)
      notes.push_back(layout.Note);
    EXPECT_EQ(notes, c.Notes);
    EXPECT_EQ(reading.NoRawVoxels, c.NoRawVoxels);
  }
}

// The 80-column cards of a header block, as the standard lays them out.
std::vector<uint8_t> HeaderBlock(const std::vector<std::string>& Cards) {
  std::vector<uint8_t> block(2880, ' ');
  for (size_t i = 0; i < Cards.size(); ++i)
    std::memcpy(block.data() + 80 * i, Cards[i].data(), std::min<size_t>(Cards[i].size(), 80));
  return block;
}

std::string Card(const std::string& Key, const std::string& Value) {
  std::string card = Key + std::string(8 - Key.size(), ' ') + "= ";
  return card + std::string(20 - std::min<size_t>(Value.size(), 20), ' ') + Value;
}

// An extension behind a primary image of 2.5 GiB: found by its header, with
// only the headers read.
TEST(Fits, FindsAnExtensionBehindAHugePrimaryWithoutReadingIt) {
  const testfiles::TTempDir dir;
  TFitsWriter writer(dir.Path("ext.fits"));
  writer.Image(BYTE_IMG, {});
  writer.Image(FLOAT_IMG, {6, 5});
  const TTypeCase& floats = TypeCases[8];
  WritePixels(writer, floats, 30);
  const std::vector<uint8_t> small = writer.Close();
  const int64_t primaryBytes = int64_t{8192} * 8192 * 20 * 2;
  const int64_t extensionStart = 2880 + (primaryBytes + 2879) / 2880 * 2880;
  const std::vector<uint8_t> primary = HeaderBlock(
      {Card("SIMPLE", "T"), Card("BITPIX", "16"), Card("NAXIS", "3"), Card("NAXIS1", "8192"),
       Card("NAXIS2", "8192"), Card("NAXIS3", "20"), Card("EXTEND", "T"), "END"});
  const std::string path = dir.MakeFile("huge.fits", primary);
  {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(extensionStart);
    out.write(reinterpret_cast<const char*>(small.data()) + 2880,
              static_cast<std::streamsize>(small.size() - 2880));
    ASSERT_TRUE(out);
  }
  platform::TFileStream stream(path);
  TByteSource source(stream, stream.Size());
  const TContainerReading reading = ReadFits(source);
  EXPECT_LT(source.Spent(), 64 * 1024);
  ASSERT_EQ(reading.Layouts.size(), 2u);
  EXPECT_EQ(reading.Layouts[0].Note, "FITS primary image, BITPIX 16");
  EXPECT_EQ(reading.Layouts[0].DataStart, 2880);
  EXPECT_EQ(reading.Layouts[0].Dims, (std::vector<int64_t>{8192, 8192, 20}));
  const TStatedLayout& extension = reading.Layouts[1];
  EXPECT_EQ(extension.Note, "FITS image extension 1, BITPIX -32");
  EXPECT_EQ(extension.Dims, (std::vector<int64_t>{6, 5}));
  ASSERT_EQ(extension.DataStart, extensionStart + 2880);
  std::vector<uint8_t> data(2880 * 2);
  stream.ReadAt(extension.DataStart - 2880, data.data(), std::ssize(data));
  TStatedLayout shifted = extension;
  shifted.DataStart = 2880;
  ExpectVoxels(data, shifted, floats, 30);
}

// Replaces the first card that starts with Key by Card.
void SetCard(std::vector<uint8_t>& File, const std::string& Key, const std::string& Card) {
  for (size_t at = 0; at + 80 <= File.size(); at += 80)
    if (std::memcmp(File.data() + at, Key.data(), Key.size()) == 0) {
      std::fill_n(File.begin() + static_cast<std::ptrdiff_t>(at), 80, uint8_t{' '});
      std::copy(Card.begin(), Card.end(), File.begin() + static_cast<std::ptrdiff_t>(at));
      return;
    }
  FAIL() << "no card " << Key;
}

// Lies, damage and truncation of a primary image and an extension: never a
// layout the file does not hold.
TEST(Fits, HostileFilesGiveNoLayoutTheyDoNotHold) {
  const testfiles::TTempDir dir;
  TFitsWriter writer(dir.Path("c.fits"));
  writer.Image(SHORT_IMG, {5, 4, 3});
  writer.Pixels(TINT, std::vector<int>(60, 9));
  writer.Image(FLOAT_IMG, {3, 3});
  writer.Pixels(TFLOAT, std::vector<float>(9, 1.5f));
  const std::vector<uint8_t> good = writer.Close();
  ASSERT_EQ(good.size(), 4u * 2880);
  struct TCase {
    const char* What;
    std::function<void(std::vector<uint8_t>&)> Damage;
    size_t Layouts;
    int64_t Budget = TByteSource::DefaultBudget;
  };
  const std::string blank(80, ' ');
  const TCase cases[] = {
      {"as written", [](std::vector<uint8_t>&) {}, 2},
      {"no END before 6 MiB of blanks",
       [&](std::vector<uint8_t>& F) {
         SetCard(F, "END ", blank);
         F.resize(6 << 20, ' ');
       },
       0},
      {"NAXIS more than its cards", [](auto& F) { SetCard(F, "NAXIS ", Card("NAXIS", "4")); }, 0},
      {"NAXIS past the limit", [](auto& F) { SetCard(F, "NAXIS ", Card("NAXIS", "1000")); }, 0},
      {"BITPIX 7", [](auto& F) { SetCard(F, "BITPIX", Card("BITPIX", "7")); }, 0},
      {"NAXIS1 negative", [](auto& F) { SetCard(F, "NAXIS1", Card("NAXIS1", "-5")); }, 0},
      {"NAXIS1 zero", [](auto& F) { SetCard(F, "NAXIS1", Card("NAXIS1", "0")); }, 0},
      {"dimensions overflow",
       [](auto& F) {
         for (const char* key : {"NAXIS1", "NAXIS2", "NAXIS3"})
           SetCard(F, key, Card(key, "4294967296"));
       },
       0},
      {"data past the end", [](auto& F) { SetCard(F, "NAXIS1", Card("NAXIS1", "100000")); }, 0},
      {"extension data past the end",
       [](auto& F) {
         std::vector<uint8_t> tail(F.begin() + 2 * 2880, F.end());
         SetCard(tail, "NAXIS1", Card("NAXIS1", "3000"));
         std::copy(tail.begin(), tail.end(), F.begin() + 2 * 2880);
       },
       1},
      {"a required card of the extension garbled", [](auto& F) { F[2 * 2880 + 3 * 80 + 3] = 0xff; },
       1},
      {"cut in the first card", [](auto& F) { F.resize(20); }, 0},
      {"cut in the primary header", [](auto& F) { F.resize(2000); }, 0},
      {"cut after the primary header", [](auto& F) { F.resize(2880); }, 0},
      {"cut in the primary data", [](auto& F) { F.resize(2880 + 100); }, 0},
      {"cut in the extension header", [](auto& F) { F.resize(2 * 2880 + 1000); }, 1},
      {"cut in the extension data", [](auto& F) { F.resize(3 * 2880 + 20); }, 1},
      {"cut in the last padding", [](auto& F) { F.resize(3 * 2880 + 36); }, 2},
      {"budget below the first header", [](auto&) {}, 0, 2000},
      {"budget below the extension header", [](auto&) {}, 1, 4000},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    std::vector<uint8_t> file = good;
    c.Damage(file);
    const TContainerReading reading = Read(file, c.Budget);
    EXPECT_EQ(reading.Format, file.size() >= 30 ? "FITS" : "");
    EXPECT_EQ(reading.Layouts.size(), c.Layouts);
    for (const TStatedLayout& layout : reading.Layouts)
      EXPECT_LE(layout.DataStart + (layout.Dims.size() == 3 ? 120 : 36), std::ssize(file));
    EXPECT_EQ(reading.NoRawVoxels, "");
  }
  // cfitsio itself divides by a compressed image's tile sizes as it reads its
  // header: a zero there must not reach it.
  TFitsWriter compressed(dir.Path("d.fits"));
  compressed.Image(BYTE_IMG, {});
  compressed.Compressed({16, 16});
  std::vector<uint8_t> zeroTile = compressed.Close();
  SetCard(zeroTile, "ZTILE1", Card("ZTILE1", "0"));
  EXPECT_EQ(Read(zeroTile).NoRawVoxels,
            "FITS with tile-compressed images: the file holds no raw voxels");
  std::mt19937 random(2880);
  for (int round = 0; round < 50; ++round) {
    std::vector<uint8_t> file(2880 * (1 + round % 4));
    for (uint8_t& byte : file)
      byte = static_cast<uint8_t>(random());
    if (round % 2 == 0)
      std::memcpy(file.data(), good.data(), 80);
    EXPECT_EQ(Read(file).Layouts.size(), 0u) << "round " << round;
  }
}

} // namespace
