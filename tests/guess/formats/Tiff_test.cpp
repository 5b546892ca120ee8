#include "TempDir.h"
#include "data/VoxelDecoder.h"
#include "guess/formats/Tiff.h"

#include <bit>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <tiffio.h>
#include <vector>

using namespace guess;

namespace {

// Values that tell byte order, sign and width apart, stored in this machine's
// (little-endian) order; the floats stay finite.
std::vector<uint8_t> Samples(TVoxelType Type, int64_t Count, int Seed) {
  std::vector<uint8_t> bytes(static_cast<size_t>(Count * BytesPerVoxel[Type]));
  std::mt19937_64 random(static_cast<uint64_t>(Seed));
  for (int64_t i = 0; i < Count; ++i) {
    uint8_t* at = bytes.data() + i * BytesPerVoxel[Type];
    const uint64_t bits = random();
    const double real = static_cast<double>(static_cast<int64_t>(bits % 20001) - 10000) / 64;
    if (Type == vtFloat32) {
      const auto single = static_cast<float>(real);
      std::memcpy(at, &single, 4);
    } else if (Type == vtFloat64) {
      std::memcpy(at, &real, 8);
    } else if (Type == vtFloat16) {
      const auto half = static_cast<uint16_t>(0x3C00 + (bits & 0x83FF)); // ±(1 .. 2)
      std::memcpy(at, &half, 2);
    } else {
      std::memcpy(at, &bits, static_cast<size_t>(BytesPerVoxel[Type]));
    }
  }
  return bytes;
}

// The voxels at the layout's DataStart, decoded as it says, are Native's.
void ExpectVoxels(const std::vector<uint8_t>& File, const TStatedLayout& Layout,
                  const std::vector<uint8_t>& Native, int64_t FirstVoxel = 0) {
  const int64_t bytes = BytesPerVoxel[Layout.VoxelType];
  const auto count = static_cast<int64_t>(Native.size()) / bytes;
  ASSERT_GE(Layout.DataStart, 0);
  ASSERT_LE(Layout.DataStart + (FirstVoxel + count) * bytes, std::ssize(File));
  const uint8_t* data = File.data() + Layout.DataStart;
  for (int64_t p = 0; p < count; ++p) {
    const TVoxelValue got =
        voxeldecoder::DecodeVoxel(data, FirstVoxel + p, Layout.VoxelType, Layout.ByteOrder);
    const TVoxelValue want =
        voxeldecoder::DecodeVoxel(Native.data(), p, Layout.VoxelType, boLittleEndian);
    ASSERT_EQ(got.Kind, want.Kind);
    ASSERT_EQ(got.SignedValue, want.SignedValue) << "voxel " << p;
    ASSERT_EQ(got.UnsignedValue, want.UnsignedValue) << "voxel " << p;
    ASSERT_EQ(got.RealValue, want.RealValue) << "voxel " << p;
  }
}

struct TTypeTags {
  uint16_t Bits;
  uint16_t Format;
};

TTypeTags TagsOf(TVoxelType Type) {
  const auto bits = static_cast<uint16_t>(8 * BytesPerVoxel[Type]);
  switch (Type) {
  case vtInt8:
  case vtInt16:
  case vtInt32:
  case vtInt64:
    return {bits, SAMPLEFORMAT_INT};
  case vtFloat16:
  case vtFloat32:
  case vtFloat64:
    return {bits, SAMPLEFORMAT_IEEEFP};
  default:
    return {bits, SAMPLEFORMAT_UINT};
  }
}

// One page for libtiff to write: Native holds Width x Height samples of
// Samples x Bits bits, rows padded to whole bytes.
struct TPageSpec {
  uint32_t Width = 32;
  uint32_t Height = 20;
  uint16_t Bits = 8;
  uint16_t Format = SAMPLEFORMAT_UINT;
  uint16_t Samples = 1;
  uint16_t Photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t Compression = COMPRESSION_NONE;
  uint32_t RowsPerStrip = 7;
  uint32_t TileWidth = 0; // 0: strips
  uint32_t TileLength = 0;
  std::vector<uint8_t> Native;
};

TPageSpec PageOf(TVoxelType Type, uint32_t Width, uint32_t Height, int Seed) {
  TPageSpec page;
  page.Width = Width;
  page.Height = Height;
  page.Bits = TagsOf(Type).Bits;
  page.Format = TagsOf(Type).Format;
  page.Native = Samples(Type, int64_t{Width} * Height, Seed);
  return page;
}

void WritePage(TIFF* Tiff, const TPageSpec& Page) {
  TIFFSetField(Tiff, TIFFTAG_IMAGEWIDTH, Page.Width);
  TIFFSetField(Tiff, TIFFTAG_IMAGELENGTH, Page.Height);
  TIFFSetField(Tiff, TIFFTAG_BITSPERSAMPLE, Page.Bits);
  TIFFSetField(Tiff, TIFFTAG_SAMPLEFORMAT, Page.Format);
  TIFFSetField(Tiff, TIFFTAG_SAMPLESPERPIXEL, Page.Samples);
  TIFFSetField(Tiff, TIFFTAG_PHOTOMETRIC, Page.Photometric);
  TIFFSetField(Tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(Tiff, TIFFTAG_COMPRESSION, Page.Compression);
  if (Page.Photometric == PHOTOMETRIC_PALETTE) {
    std::vector<uint16_t> map(size_t{1} << Page.Bits, 0x8000);
    TIFFSetField(Tiff, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
  }
  const size_t rowBytes = (size_t{Page.Width} * Page.Samples * Page.Bits + 7) / 8;
  ASSERT_EQ(Page.Native.size(), rowBytes * Page.Height);
  std::vector<uint8_t> piece;
  if (Page.TileWidth != 0) {
    TIFFSetField(Tiff, TIFFTAG_TILEWIDTH, Page.TileWidth);
    TIFFSetField(Tiff, TIFFTAG_TILELENGTH, Page.TileLength);
    const size_t tileRowBytes = rowBytes * Page.TileWidth / Page.Width;
    for (uint32_t y = 0; y < Page.Height; y += Page.TileLength)
      for (uint32_t x = 0; x < Page.Width; x += Page.TileWidth) {
        piece.assign(tileRowBytes * Page.TileLength, 0);
        for (uint32_t row = 0; row < Page.TileLength && y + row < Page.Height; ++row)
          std::memcpy(piece.data() + row * tileRowBytes,
                      Page.Native.data() + (y + row) * rowBytes + x * tileRowBytes / Page.TileWidth,
                      std::min(tileRowBytes, rowBytes - x * tileRowBytes / Page.TileWidth));
        ASSERT_GT(TIFFWriteTile(Tiff, piece.data(), x, y, 0, 0), 0);
      }
  } else {
    TIFFSetField(Tiff, TIFFTAG_ROWSPERSTRIP, Page.RowsPerStrip);
    for (uint32_t y = 0, strip = 0; y < Page.Height; y += Page.RowsPerStrip, ++strip) {
      const uint32_t rows = std::min(Page.RowsPerStrip, Page.Height - y);
      piece.assign(Page.Native.begin() + y * rowBytes, Page.Native.begin() + (y + rows) * rowBytes);
      ASSERT_GT(TIFFWriteEncodedStrip(Tiff, strip, piece.data(), std::ssize(piece)), 0);
    }
  }
  ASSERT_EQ(TIFFWriteDirectory(Tiff), 1);
}

std::vector<uint8_t> FileBytes(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The pages written by libtiff in Mode ("w", "w8" for BigTIFF, "b"/"l" for the
// byte order), and where libtiff says each page's first strip or tile lies.
struct TWritten {
  std::vector<uint8_t> Bytes;
  std::vector<int64_t> Starts;
};

TWritten WriteWithLibtiff(const std::string& Mode, const std::vector<TPageSpec>& Pages) {
  testfiles::TTempDir folder;
  const std::string path = folder.Path("a.tif");
  TIFF* out = TIFFOpen(path.c_str(), Mode.c_str());
  EXPECT_NE(out, nullptr);
  for (const TPageSpec& page : Pages)
    WritePage(out, page);
  TIFFClose(out);
  TWritten written{FileBytes(path), {}};
  TIFF* in = TIFFOpen(path.c_str(), "r");
  EXPECT_NE(in, nullptr);
  do
    written.Starts.push_back(static_cast<int64_t>(TIFFGetStrileOffset(in, 0)));
  while (TIFFReadDirectory(in));
  TIFFClose(in);
  return written;
}

TContainerReading Read(const std::vector<uint8_t>& Bytes,
                       int64_t Budget = TByteSource::DefaultBudget) {
  TByteSource source(Bytes, Budget);
  return ReadTiff(source);
}

TEST(Tiff, ReadsEverySampleTypeInEitherOrderInStripsAndTiles) {
  for (int type = 0; type < VoxelTypeCount; ++type)
    for (const std::string mode : {"wl", "wb", "w8l", "w8b"})
      for (const bool tiled : {false, true}) {
        SCOPED_TRACE(std::to_string(type) + " " + mode + (tiled ? " tiles" : " strips"));
        const auto voxelType = static_cast<TVoxelType>(type);
        TPageSpec page = PageOf(voxelType, 32, 20, type);
        if (tiled) { // two tiles down, the second padded below the image
          page.TileWidth = 32;
          page.TileLength = 16;
        }
        const TWritten file = WriteWithLibtiff(mode, {page});
        const TContainerReading reading = Read(file.Bytes);
        EXPECT_EQ(reading.Format, "TIFF");
        ASSERT_EQ(reading.Layouts.size(), 1u) << reading.NoRawVoxels;
        const TStatedLayout& layout = reading.Layouts[0];
        EXPECT_EQ(layout.Dims, (std::vector<int64_t>{32, 20}));
        EXPECT_EQ(layout.VoxelType, voxelType);
        const bool bigEndian = mode.back() == 'b' && BytesPerVoxel[voxelType] > 1;
        EXPECT_EQ(layout.ByteOrder, bigEndian ? boBigEndian : boLittleEndian);
        EXPECT_EQ(layout.DataStart, file.Starts[0]);
        EXPECT_NE(layout.Note.find(mode[1] == '8' ? "BigTIFF" : "TIFF"), std::string::npos);
        ExpectVoxels(file.Bytes, layout, page.Native);
      }
}

TEST(Tiff, PagesThatAreNoRawVoxelsSayWhy) {
  struct TCase {
    const char* Expected;
    TPageSpec Page;
  };
  auto with = [](auto Change) {
    TPageSpec page = PageOf(vtUInt16, 32, 20, 7);
    Change(page);
    return page;
  };
  const TCase cases[] = {
      {"LZW-compressed strips", with([](TPageSpec& P) { P.Compression = COMPRESSION_LZW; })},
      {"Deflate-compressed tiles", with([](TPageSpec& P) {
         P.Compression = COMPRESSION_ADOBE_DEFLATE;
         P.TileWidth = P.TileLength = 32;
       })},
      {"PackBits-compressed strips",
       with([](TPageSpec& P) { P.Compression = COMPRESSION_PACKBITS; })},
      {"3 samples per pixel (RGB)", with([](TPageSpec& P) {
         P.Bits = 8;
         P.Samples = 3;
         P.Photometric = PHOTOMETRIC_RGB;
         P.Native.resize(32 * 20 * 3);
       })},
      {"1-bit samples", with([](TPageSpec& P) {
         P.Bits = 1;
         P.Native.resize(32 * 20 / 8);
       })},
      {"12-bit samples", with([](TPageSpec& P) {
         P.Bits = 12;
         P.Native.resize(32 * 20 * 3 / 2);
       })},
      {"tiles of 16 x 16 in an image 32 wide",
       with([](TPageSpec& P) { P.TileWidth = P.TileLength = 16; })},
  };
  for (const TCase& c : cases) {
    const TContainerReading reading = Read(WriteWithLibtiff("w", {c.Page}).Bytes);
    EXPECT_EQ(reading.Format, "TIFF");
    EXPECT_TRUE(reading.Layouts.empty()) << c.Expected;
    EXPECT_EQ(reading.NoRawVoxels,
              std::string("TIFF with ") + c.Expected + ": the file holds no raw voxels");
  }
}

TEST(Tiff, PaletteIndicesAreTheVoxels) {
  TPageSpec page = PageOf(vtByte, 32, 20, 5);
  page.Photometric = PHOTOMETRIC_PALETTE;
  const TWritten file = WriteWithLibtiff("w", {page});
  const TContainerReading reading = Read(file.Bytes);
  ASSERT_EQ(reading.Layouts.size(), 1u) << reading.NoRawVoxels;
  EXPECT_EQ(reading.Layouts[0].Note, "TIFF image of colour-palette indices");
  EXPECT_EQ(reading.Layouts[0].DataStart, file.Starts[0]);
  ExpectVoxels(file.Bytes, reading.Layouts[0], page.Native);
}

// libtiff writes each directory after its page's data, so its pages are
// never one block; each kind of page is offered on its own.
TEST(Tiff, PagesApartAreOfferedOneOfEachKind) {
  std::vector<TPageSpec> pages;
  for (int i = 0; i < 3; ++i)
    pages.push_back(PageOf(vtInt16, 24, 10, i));
  pages.push_back(PageOf(vtByte, 8, 5, 9)); // a thumbnail
  pages.push_back(pages[0]);
  pages.back().Compression = COMPRESSION_LZW;
  const TWritten file = WriteWithLibtiff("wb", pages);
  const TContainerReading reading = Read(file.Bytes);
  ASSERT_EQ(reading.Layouts.size(), 2u);
  const TStatedLayout& first = reading.Layouts[0];
  EXPECT_EQ(first.Dims, (std::vector<int64_t>{24, 10}));
  EXPECT_EQ(first.DataStart, file.Starts[0]);
  ExpectVoxels(file.Bytes, first, pages[0].Native);
  const int64_t gap = file.Starts[1] - file.Starts[0] - 24 * 10 * 2;
  ASSERT_GT(gap, 0);
  ASSERT_EQ(file.Starts[2] - file.Starts[1], file.Starts[1] - file.Starts[0]);
  EXPECT_EQ(first.Note, "TIFF page 1 of 5 (one of 3 pages of 24 x 10); pages are " +
                            std::to_string(gap) + " bytes apart beyond their data");
  const TStatedLayout& thumbnail = reading.Layouts[1];
  EXPECT_EQ(thumbnail.Dims, (std::vector<int64_t>{8, 5}));
  EXPECT_EQ(thumbnail.DataStart, file.Starts[3]);
  EXPECT_LT(thumbnail.Score, first.Score);
  ExpectVoxels(file.Bytes, thumbnail, pages[3].Native);
}

// A classic TIFF written by hand from the format's definition: directories
// first, one after another from offset 8, each followed by the values that
// do not fit in its entries, then whatever the caller puts after them.
struct TEntry {
  uint16_t Tag;
  uint16_t Type; // 3 SHORT, 4 LONG
  std::vector<uint32_t> Values;
};
using TIfd = std::vector<TEntry>;

int64_t ValueBytes(const TEntry& Entry) {
  return std::ssize(Entry.Values) * (Entry.Type == 3 ? 2 : 4);
}

int64_t IfdBytes(const TIfd& Ifd) {
  int64_t bytes = 2 + 12 * std::ssize(Ifd) + 4;
  for (const TEntry& entry : Ifd)
    if (ValueBytes(entry) > 4)
      bytes += ValueBytes(entry);
  return bytes;
}

int64_t HeadBytes(const std::vector<TIfd>& Ifds) {
  int64_t bytes = 8;
  for (const TIfd& ifd : Ifds)
    bytes += IfdBytes(ifd);
  return bytes;
}

class THandTiff {
public:
  explicit THandTiff(bool BigEndian)
      : FBig(BigEndian) {}
  void Put(uint64_t Value, int Size) {
    for (int i = 0; i < Size; ++i)
      Bytes.push_back(static_cast<uint8_t>(Value >> 8 * (FBig ? Size - 1 - i : i)));
  }
  // LastNext: where the last directory says the next one is (0: none).
  void Write(const std::vector<TIfd>& Ifds, uint32_t LastNext = 0, uint32_t FirstIfd = 8) {
    Bytes.insert(Bytes.end(),
                 {FBig ? uint8_t{'M'} : uint8_t{'I'}, FBig ? uint8_t{'M'} : uint8_t{'I'}});
    Put(42, 2);
    Put(FirstIfd, 4);
    for (size_t i = 0; i < Ifds.size(); ++i) {
      const TIfd& ifd = Ifds[i];
      const auto start = static_cast<int64_t>(Bytes.size());
      auto outside = static_cast<uint32_t>(start + 2 + 12 * std::ssize(ifd) + 4);
      Put(ifd.size(), 2);
      for (const TEntry& entry : ifd) {
        Put(entry.Tag, 2);
        Put(entry.Type, 2);
        Put(entry.Values.size(), 4);
        if (ValueBytes(entry) > 4) {
          Put(outside, 4);
          outside += static_cast<uint32_t>(ValueBytes(entry));
          continue;
        }
        for (uint32_t value : entry.Values)
          Put(value, entry.Type == 3 ? 2 : 4);
        Put(0, static_cast<int>(4 - ValueBytes(entry)));
      }
      Put(i + 1 < Ifds.size() ? start + IfdBytes(ifd) : LastNext, 4);
      for (const TEntry& entry : ifd)
        if (ValueBytes(entry) > 4)
          for (uint32_t value : entry.Values)
            Put(value, entry.Type == 3 ? 2 : 4);
    }
  }
  std::vector<uint8_t> Bytes;

private:
  bool FBig;
};

// A page of int16 samples in strips of RowsPerStrip rows at Offsets.
TIfd Int16Page(uint32_t Width, uint32_t Height, uint32_t RowsPerStrip,
               std::vector<uint32_t> Offsets, std::vector<uint32_t> Counts) {
  return {{256, 4, {Width}},
          {257, 4, {Height}},
          {258, 3, {16}},
          {259, 3, {1}},
          {262, 3, {1}},
          {273, 4, std::move(Offsets)},
          {277, 3, {1}},
          {278, 4, {RowsPerStrip}},
          {279, 4, std::move(Counts)},
          {339, 3, {SAMPLEFORMAT_INT}}};
}

// Pages of 6 x 5 int16 samples in strips of 2 rows, each page's data Spacing
// bytes after the last's, in the order Strips gives.
struct THandStack {
  std::vector<uint8_t> Bytes;
  std::vector<std::vector<uint8_t>> Native; // per page
  int64_t DataStart = 0;
};

THandStack HandStack(bool BigEndian, int Pages, int64_t Spacing,
                     std::vector<uint32_t> Strips = {0, 1, 2}) {
  constexpr uint32_t width = 6, height = 5, rowBytes = width * 2;
  const std::vector<uint32_t> counts = {2 * rowBytes, 2 * rowBytes, rowBytes};
  std::vector<TIfd> ifds(static_cast<size_t>(Pages),
                         Int16Page(width, height, 2, {0, 0, 0}, counts));
  THandStack stack;
  stack.DataStart = HeadBytes(ifds);
  for (int page = 0; page < Pages; ++page) {
    std::vector<uint32_t> offsets(3);
    for (uint32_t at = 0, i = 0; i < 3; at += counts[Strips[i]], ++i)
      offsets[Strips[i]] = static_cast<uint32_t>(stack.DataStart + page * Spacing + at);
    ifds[static_cast<size_t>(page)] = Int16Page(width, height, 2, offsets, counts);
  }
  THandTiff file(BigEndian);
  file.Write(ifds);
  for (int page = 0; page < Pages; ++page) {
    stack.Native.push_back(Samples(vtInt16, width * height, page));
    file.Bytes.resize(static_cast<size_t>(stack.DataStart + page * Spacing), 0xEE);
    const std::vector<uint8_t>& native = stack.Native.back();
    for (uint32_t i = 0; i < 3; ++i) {
      const uint32_t strip = Strips[i];
      for (uint32_t b = 0; b < counts[strip]; b += 2) {
        const uint32_t at = strip * 2 * rowBytes + b;
        file.Put(native[at] | native[at + 1] << 8, 2);
      }
    }
  }
  stack.Bytes = std::move(file.Bytes);
  return stack;
}

TEST(Tiff, PagesThatFollowOneAnotherAreSlices) {
  for (const bool bigEndian : {false, true}) {
    const THandStack stack = HandStack(bigEndian, 4, 6 * 5 * 2);
    const TContainerReading reading = Read(stack.Bytes);
    ASSERT_EQ(reading.Layouts.size(), 1u) << reading.NoRawVoxels;
    const TStatedLayout& layout = reading.Layouts[0];
    EXPECT_EQ(layout.Dims, (std::vector<int64_t>{6, 5, 4}));
    EXPECT_EQ(layout.VoxelType, vtInt16);
    EXPECT_EQ(layout.ByteOrder, bigEndian ? boBigEndian : boLittleEndian);
    EXPECT_EQ(layout.DataStart, stack.DataStart);
    EXPECT_EQ(layout.Note, "TIFF pages 1 to 4 as slices");
    for (int page = 0; page < 4; ++page)
      ExpectVoxels(stack.Bytes, layout, stack.Native[static_cast<size_t>(page)], page * 30);
  }
  const TContainerReading apart = Read(HandStack(false, 3, 6 * 5 * 2 + 198).Bytes);
  ASSERT_EQ(apart.Layouts.size(), 1u);
  EXPECT_EQ(apart.Layouts[0].Dims, (std::vector<int64_t>{6, 5}));
  EXPECT_EQ(apart.Layouts[0].Note, "TIFF page 1 of 3; pages are 198 bytes apart beyond their data");
  const TContainerReading shuffled = Read(HandStack(true, 2, 6 * 5 * 2, {1, 0, 2}).Bytes);
  EXPECT_TRUE(shuffled.Layouts.empty());
  EXPECT_NE(shuffled.NoRawVoxels.find("in order"), std::string::npos);
}

// Whatever a file lies about, a layout offered shows the page as written,
// within the file and the budget, and libtiff says nothing.
TEST(Tiff, HostileFilesGiveNoFalseLayout) {
  const THandStack good = HandStack(false, 2, 60);
  constexpr int64_t firstNext = 8 + 2 + 12 * 10; // where the first directory names the second
  auto patched = [&](int64_t At, uint32_t Value) {
    std::vector<uint8_t> bytes = good.Bytes;
    std::memcpy(bytes.data() + At, &Value, 4);
    return bytes;
  };
  // One page of 6 x 5 whose strips lie in order at 200, but for Changes.
  const std::vector<uint8_t> native = Samples(vtInt16, 30, 999);
  auto withPage = [&](THandTiff& File) {
    File.Bytes.resize(200, 0x11);
    File.Bytes.insert(File.Bytes.end(), native.begin(), native.end());
    File.Bytes.resize(400, 0x11);
    return File.Bytes;
  };
  auto changed = [&](const std::vector<TEntry>& Changes) {
    TIfd ifd = Int16Page(6, 5, 2, {200, 224, 248}, {24, 24, 12});
    for (TEntry& entry : ifd)
      for (const TEntry& change : Changes)
        if (entry.Tag == change.Tag)
          entry = change;
    THandTiff file(false);
    file.Write({ifd});
    return withPage(file);
  };
  struct TCase {
    std::string Name;
    std::vector<uint8_t> Bytes;
    int Layouts;                                  // -1: any, as long as they are right
    const std::vector<uint8_t>* Native = nullptr; // of page 1; none: good's
  };
  THandTiff loop(false);
  loop.Write({Int16Page(6, 5, 2, {200, 224, 248}, {24, 24, 12})}, 8);
  withPage(loop);
  std::vector<TCase> cases = {
      {"the page as it should be", changed({}), 1, &native},
      {"first directory past the end", patched(4, 1u << 30), 0},
      {"first directory inside the header", patched(4, 2), 0},
      {"second directory past the end", patched(firstNext, 1u << 30), 1},
      {"a directory that leads to itself", loop.Bytes, -1, &native},
      {"strips past the end", changed({{273, 4, {200, 224, 1u << 30}}}), 0, &native},
      {"strips that overlap", changed({{273, 4, {200, 210, 248}}}), 0, &native},
      {"byte counts past the end", changed({{279, 4, {24, 24, 1u << 31}}}), 0, &native},
      {"byte counts too small", changed({{279, 4, {24, 20, 12}}}), 0, &native},
      {"more strips than the table holds", changed({{278, 4, {1}}}), 0, &native},
      {"a width of 2^32 - 1", changed({{256, 4, {0xFFFFFFFF}}}), 0, &native},
      {"no width", changed({{256, 4, {0}}}), 0, &native},
      {"2^32 - 1 rows of 2^32 - 1 64-bit samples",
       changed({{256, 4, {0xFFFFFFFF}}, {257, 4, {0xFFFFFFFF}}, {258, 3, {64}}}), 0, &native},
  };
  // A byte-count entry whose count claims 2^30 values, far past the file.
  std::vector<uint8_t> huge = changed({});
  for (size_t at = 10; at < 10 + 12 * 10; at += 12)
    if (huge[at] == 279 % 256 && huge[at + 1] == 279 / 256)
      std::memcpy(huge.data() + at + 4, "\0\0\0\x40", 4);
  cases.push_back({"a byte-count table of 2^30 entries", huge, -1, &native});
  for (size_t size = 0; size < good.Bytes.size(); size += 3)
    cases.push_back(
        {"truncated", {good.Bytes.begin(), good.Bytes.begin() + static_cast<long>(size)}, -1});
  std::mt19937 random(1208);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> noisy = good.Bytes;
    for (int flips = 0; flips < 4; ++flips)
      noisy[random() % (noisy.size() - 4) + 4] = static_cast<uint8_t>(random());
    cases.push_back({"flipped bytes", noisy, -1});
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name + " of " + std::to_string(c.Bytes.size()) + " bytes");
    for (const int64_t budget : {TByteSource::DefaultBudget, int64_t{300}}) {
      TByteSource source(c.Bytes, budget);
      testing::internal::CaptureStderr();
      const TContainerReading reading = ReadTiff(source);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
      EXPECT_LE(source.Spent(), budget);
      if (c.Bytes.size() >= 8) {
        EXPECT_EQ(reading.Format, "TIFF");
      }
      if (reading.Format.empty())
        continue;
      if (c.Layouts >= 0 && budget == TByteSource::DefaultBudget) {
        EXPECT_EQ(std::ssize(reading.Layouts), c.Layouts);
      }
      EXPECT_NE(reading.Layouts.empty(), reading.NoRawVoxels.empty());
      for (const TStatedLayout& layout : reading.Layouts) {
        int64_t bytes = BytesPerVoxel[layout.VoxelType];
        for (int64_t d : layout.Dims)
          bytes *= d;
        EXPECT_GE(layout.DataStart, 8);
        EXPECT_LE(layout.DataStart + bytes, std::ssize(c.Bytes));
        // Flipped bytes may tell of another page or spoil the samples; the
        // other cases keep the samples where they were.
        if (c.Name != "flipped bytes")
          ExpectVoxels(c.Bytes, layout, c.Native != nullptr ? *c.Native : good.Native[0]);
      }
    }
  }
  EXPECT_TRUE(Read({'I', 'I', 42}).Format.empty());
  EXPECT_TRUE(Read({'M', 'M', 0, 44, 0, 0, 0, 8}).Format.empty());
}

} // namespace
