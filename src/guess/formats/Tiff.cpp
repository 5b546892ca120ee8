#include "guess/formats/Tiff.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <tiffio.h>

namespace guess {

namespace {

// A walk of a file with this many pages, or one that claims more, stops here:
// the budget would end it soon after anyway.
constexpr int MaxPages = 10000;
// No page of a guess needs a table larger than the budget could fill.
constexpr tmsize_t MaxLibraryAllocation = tmsize_t{16} << 20;
// Each strip or tile costs at least four bytes of the budget to look at.
constexpr int64_t MaxPieces = TByteSource::DefaultBudget / 4;
constexpr size_t MaxLayouts = 8;

struct TClient {
  TByteSource& Source;
  int64_t Position = 0;
};

tmsize_t ReadProc(thandle_t Handle, void* Buffer, tmsize_t Count) {
  auto& client = *static_cast<TClient*>(Handle);
  const int64_t got = client.Source.ReadAt(client.Position, Buffer, Count);
  client.Position += got;
  return static_cast<tmsize_t>(got);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) {
  return 0;
}

toff_t SeekProc(thandle_t Handle, toff_t Offset, int Whence) {
  auto& client = *static_cast<TClient*>(Handle);
  const int64_t base = Whence == SEEK_CUR   ? client.Position
                       : Whence == SEEK_END ? client.Source.Size()
                                            : 0;
  // libtiff passes a backward move from the current place or the end as an
  // unsigned value that wraps.
  int64_t target = 0;
  if (__builtin_add_overflow(base, static_cast<int64_t>(Offset), &target) || target < 0)
    return static_cast<toff_t>(-1);
  client.Position = target;
  return static_cast<toff_t>(target);
}

int CloseProc(thandle_t) {
  return 0;
}

toff_t SizeProc(thandle_t Handle) {
  return static_cast<toff_t>(static_cast<TClient*>(Handle)->Source.Size());
}

// No mapping: every byte comes through the budget.
int MapProc(thandle_t, void**, toff_t*) {
  return 0;
}
void UnmapProc(thandle_t, void*, toff_t) {}

// A guess looks at files that are often not what they seem; libtiff's
// complaints about them are no news to the person guessing.
int Quiet(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

struct TTiffCloser {
  void operator()(TIFF* Tiff) const { TIFFClose(Tiff); }
};
using TTiffHandle = std::unique_ptr<TIFF, TTiffCloser>;

TTiffHandle Open(TClient& Client) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr)
    return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, MaxLibraryAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
  // r: read; m: no mapping; c: strips as the file has them, not cut up;
  // D: strip tables only for the pages that get that far.
  TTiffHandle tiff(TIFFClientOpenExt("file", "rmcD", &Client, ReadProc, WriteProc, SeekProc,
                                     CloseProc, SizeProc, MapProc, UnmapProc, options));
  TIFFOpenOptionsFree(options);
  return tiff;
}

bool HasTiffMagic(TByteSource& Source) {
  uint8_t magic[4] = {};
  if (Source.ReadAt(0, magic, 4) != 4)
    return false;
  const bool little = magic[0] == 'I' && magic[1] == 'I' && magic[3] == 0;
  const bool big = magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0;
  const uint8_t version = little ? magic[2] : magic[3];
  return (little || big) && (version == 42 || version == 43);
}

// One page as the viewer could show it, or why it cannot.
struct TPage {
  int Number = 0;  // from 1, in the order of the directory chain
  std::string Why; // empty: raw and in order
  int64_t Width = 0;
  int64_t Height = 0;
  TVoxelType Type = vtByte;
  TByteOrder Order = boLittleEndian;
  int64_t Start = 0;
  int64_t Bytes = 0;
  bool Palette = false; // the voxels are indices into a colour map
  bool SameShape(const TPage& Other) const {
    return Width == Other.Width && Height == Other.Height && Type == Other.Type &&
           Order == Other.Order;
  }
};

std::string CompressionName(uint16_t Compression) {
  switch (Compression) {
  case COMPRESSION_LZW:
    return "LZW";
  case COMPRESSION_ADOBE_DEFLATE:
  case COMPRESSION_DEFLATE:
    return "Deflate";
  case COMPRESSION_OJPEG:
  case COMPRESSION_JPEG:
    return "JPEG";
  case COMPRESSION_PACKBITS:
    return "PackBits";
  case COMPRESSION_CCITTRLE:
  case COMPRESSION_CCITTRLEW:
  case COMPRESSION_CCITTFAX3:
  case COMPRESSION_CCITTFAX4:
    return "CCITT";
  case COMPRESSION_LZMA:
    return "LZMA";
  case COMPRESSION_ZSTD:
    return "Zstandard";
  case COMPRESSION_WEBP:
    return "WebP";
  case COMPRESSION_JP2000:
  case 33003:
  case 33004:
  case 33005:
  case 34713:
    return "JPEG 2000";
  case COMPRESSION_JXL:
    return "JPEG XL";
  case COMPRESSION_JBIG:
    return "JBIG";
  default:
    return "compression " + std::to_string(Compression);
  }
}

std::string ColourName(uint16_t Photometric) {
  switch (Photometric) {
  case PHOTOMETRIC_RGB:
    return " (RGB)";
  case PHOTOMETRIC_YCBCR:
    return " (YCbCr)";
  case PHOTOMETRIC_SEPARATED:
    return " (CMYK)";
  case PHOTOMETRIC_CIELAB:
  case PHOTOMETRIC_ICCLAB:
  case PHOTOMETRIC_ITULAB:
    return " (L*a*b*)";
  default:
    return "";
  }
}

std::optional<TVoxelType> TypeOf(uint16_t Bits, uint16_t Format) {
  const bool isInt = Format == SAMPLEFORMAT_INT;
  if (Format == SAMPLEFORMAT_IEEEFP) {
    if (Bits == 16)
      return vtFloat16;
    if (Bits == 32)
      return vtFloat32;
    if (Bits == 64)
      return vtFloat64;
    return std::nullopt;
  }
  if (Format != SAMPLEFORMAT_UINT && Format != SAMPLEFORMAT_INT && Format != SAMPLEFORMAT_VOID)
    return std::nullopt;
  switch (Bits) {
  case 8:
    return isInt ? vtInt8 : vtByte;
  case 16:
    return isInt ? vtInt16 : vtUInt16;
  case 32:
    return isInt ? vtInt32 : vtUInt32;
  case 64:
    return isInt ? vtInt64 : vtUInt64;
  default:
    return std::nullopt;
  }
}

template <typename T> T Field(TIFF* Tiff, ttag_t Tag, T Default) {
  T value = Default;
  if (TIFFGetFieldDefaulted(Tiff, Tag, &value) != 1)
    return Default;
  return value;
}

// Why the samples of the current page are no voxels of ours, or empty.
std::string SampleTrouble(TIFF* Tiff, bool Tiled, TPage& Page) {
  const auto compression = Field<uint16_t>(Tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  if (compression != COMPRESSION_NONE)
    return CompressionName(compression) + "-compressed " + (Tiled ? "tiles" : "strips");
  const auto samples = Field<uint16_t>(Tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  TIFFGetField(Tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  if (samples != 1)
    return std::to_string(samples) + " samples per pixel" + ColourName(photometric);
  // A palette's indices are raw voxels too: the picture of what the file holds.
  Page.Palette = photometric == PHOTOMETRIC_PALETTE;
  if (!Page.Palette && photometric != PHOTOMETRIC_MINISBLACK &&
      photometric != PHOTOMETRIC_MINISWHITE)
    return "photometric interpretation " + std::to_string(photometric);
  const auto bits = Field<uint16_t>(Tiff, TIFFTAG_BITSPERSAMPLE, 1);
  const auto format = Field<uint16_t>(Tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
  if (format == SAMPLEFORMAT_COMPLEXINT || format == SAMPLEFORMAT_COMPLEXIEEEFP)
    return "complex samples";
  const std::optional<TVoxelType> type = TypeOf(bits, format);
  if (!type)
    return std::to_string(bits) + "-bit " +
           (format == SAMPLEFORMAT_IEEEFP ? "floating-point samples" : "samples");
  if (Field<uint32_t>(Tiff, TIFFTAG_IMAGEDEPTH, 1) != 1)
    return "image depth above 1";
  Page.Type = *type;
  Page.Order = BytesPerVoxel[*type] > 1 && TIFFIsBigEndian(Tiff) ? boBigEndian : boLittleEndian;
  return {};
}

// Why the strips or tiles of the current page do not hold its rows one after
// another from Page.Start, or empty. Every piece but the last holds exactly
// its rows; the last may hold more (a tile's padding rows).
std::string PieceTrouble(TIFF* Tiff, bool Tiled, int64_t FileSize, TPage& Page) {
  const std::string pieces = Tiled ? "tiles" : "strips";
  const int64_t rowBytes = Page.Width * BytesPerVoxel[Page.Type];
  int64_t pieceRows = 0;
  if (Tiled) {
    const auto tileWidth = Field<uint32_t>(Tiff, TIFFTAG_TILEWIDTH, 0);
    const auto tileLength = Field<uint32_t>(Tiff, TIFFTAG_TILELENGTH, 0);
    if (tileWidth != Page.Width)
      return "tiles of " + std::to_string(tileWidth) + " x " + std::to_string(tileLength) +
             " in an image " + std::to_string(Page.Width) + " wide";
    pieceRows = tileLength;
  } else {
    pieceRows = std::min<int64_t>(Field<uint32_t>(Tiff, TIFFTAG_ROWSPERSTRIP, 0), Page.Height);
  }
  if (pieceRows < 1)
    return "no rows in its " + pieces;
  const int64_t count = (Page.Height + pieceRows - 1) / pieceRows;
  if (count > MaxPieces || count != (Tiled ? TIFFNumberOfTiles(Tiff) : TIFFNumberOfStrips(Tiff)))
    return "a table of " + pieces + " that does not fit the image";
  int64_t next = -1;
  for (int64_t i = 0; i < count; ++i) {
    int offsetError = 0;
    int countError = 0;
    const auto index = static_cast<uint32_t>(i);
    const uint64_t offset = TIFFGetStrileOffsetWithErr(Tiff, index, &offsetError);
    const uint64_t bytes = TIFFGetStrileByteCountWithErr(Tiff, index, &countError);
    if (offsetError != 0 || countError != 0)
      return "an unreadable table of " + pieces;
    const int64_t rows = std::min(pieceRows, Page.Height - i * pieceRows);
    const bool last = i + 1 == count;
    if (offset > static_cast<uint64_t>(FileSize) || bytes > static_cast<uint64_t>(FileSize))
      return pieces + " past the end of the file";
    if ((next >= 0 && static_cast<int64_t>(offset) != next) ||
        static_cast<int64_t>(bytes) < rows * rowBytes ||
        (!last && static_cast<int64_t>(bytes) != rows * rowBytes))
      return pieces + " that do not follow one another in order";
    if (i == 0)
      Page.Start = static_cast<int64_t>(offset);
    next = static_cast<int64_t>(offset + bytes);
  }
  if (Page.Start + Page.Bytes > FileSize)
    return pieces + " past the end of the file";
  return {};
}

TPage ReadPage(TIFF* Tiff, int Number, int64_t FileSize) {
  TPage page;
  page.Number = Number;
  const bool tiled = TIFFIsTiled(Tiff) != 0;
  page.Why = SampleTrouble(Tiff, tiled, page);
  if (!page.Why.empty())
    return page;
  page.Width = Field<uint32_t>(Tiff, TIFFTAG_IMAGEWIDTH, 0);
  page.Height = Field<uint32_t>(Tiff, TIFFTAG_IMAGELENGTH, 0);
  // Both below 2^32 and at most 8 bytes a voxel: no overflow in 64 bits.
  page.Bytes = page.Width * page.Height * BytesPerVoxel[page.Type];
  if (page.Bytes == 0)
    page.Why = "an empty image";
  else if (page.Bytes > FileSize)
    page.Why = "an image larger than the file";
  else
    page.Why = PieceTrouble(Tiff, tiled, FileSize, page);
  return page;
}

struct TWalk {
  std::vector<TPage> Pages;
  bool Complete = true; // the chain of directories ended where it says
  bool Big = false;
};

TWalk Walk(TIFF* Tiff, int64_t FileSize) {
  TWalk walk;
  walk.Big = TIFFIsBigTIFF(Tiff) != 0;
  uint32_t width = 0;
  if (TIFFGetField(Tiff, TIFFTAG_IMAGEWIDTH, &width) != 1) {
    walk.Complete = false;
    return walk;
  }
  for (int number = 1;; ++number) {
    walk.Pages.push_back(ReadPage(Tiff, number, FileSize));
    if (TIFFLastDirectory(Tiff))
      break;
    if (number == MaxPages || !TIFFReadDirectory(Tiff)) {
      walk.Complete = false;
      break;
    }
  }
  return walk;
}

std::string Dimensions(const TPage& Page) {
  return std::to_string(Page.Width) + " x " + std::to_string(Page.Height);
}

// The layout of one kind of page: all of them as slices where they follow one
// another exactly, else the first alone and the reason why no more.
TStatedLayout LayoutOf(const std::vector<const TPage*>& Kind, const TWalk& Walk) {
  const TPage& first = *Kind.front();
  const std::string format = Walk.Big ? "BigTIFF" : "TIFF";
  const auto pages = static_cast<int64_t>(Walk.Pages.size());
  const auto members = static_cast<int64_t>(Kind.size());
  TStatedLayout layout;
  layout.Dims = {first.Width, first.Height};
  layout.VoxelType = first.Type;
  layout.ByteOrder = first.Order;
  layout.DataStart = first.Start;
  std::string note = pages == 1 ? format + " image"
                                : format + " page " + std::to_string(first.Number) + " of " +
                                      std::to_string(pages);
  if (members > 1) {
    const int64_t spacing = Kind[1]->Start - first.Start;
    bool even = spacing >= first.Bytes;
    for (size_t i = 2; even && i < Kind.size(); ++i)
      even = Kind[i]->Start - Kind[i - 1]->Start == spacing;
    const std::string kindText = members == pages ? ""
                                                  : " (one of " + std::to_string(members) +
                                                        " pages of " + Dimensions(first) + ")";
    if (even && spacing == first.Bytes) {
      layout.Dims.push_back(members);
      const bool consecutive = Kind.back()->Number - first.Number + 1 == members;
      note = consecutive
                 ? format + " pages " + std::to_string(first.Number) + " to " +
                       std::to_string(Kind.back()->Number) + " as slices"
                 : format + ": " + std::to_string(members) + " pages of " + Dimensions(first) +
                       " from page " + std::to_string(first.Number) + ", as slices";
    } else if (even) {
      note += kindText + "; pages are " + std::to_string(spacing - first.Bytes) +
              " bytes apart beyond their data";
    } else {
      note += kindText + "; the pages do not lie evenly spaced";
    }
  }
  if (first.Palette)
    note += " of colour-palette indices";
  if (!Walk.Complete)
    note += " (the guess stopped after page " + std::to_string(pages) + ")";
  layout.Note = std::move(note);
  return layout;
}

TContainerReading ReadingOf(const TWalk& Walk) {
  TContainerReading reading;
  reading.Format = "TIFF";
  std::vector<std::vector<const TPage*>> kinds;
  for (const TPage& page : Walk.Pages) {
    if (!page.Why.empty())
      continue;
    auto kind = std::find_if(kinds.begin(), kinds.end(),
                             [&](const auto& Kind) { return Kind.front()->SameShape(page); });
    if (kind != kinds.end())
      kind->push_back(&page);
    else
      kinds.push_back({&page});
  }
  for (const auto& kind : kinds) {
    if (reading.Layouts.size() == MaxLayouts)
      break;
    reading.Layouts.push_back(LayoutOf(kind, Walk));
    if (reading.Layouts.size() > 1)
      reading.Layouts.back().Score = 0.97;
  }
  if (reading.Layouts.empty())
    reading.NoRawVoxels = (Walk.Pages.empty() ? "TIFF whose first image directory cannot be read"
                                              : "TIFF with " + Walk.Pages.front().Why) +
                          ": the file holds no raw voxels";
  return reading;
}

} // namespace

TContainerReading ReadTiff(TByteSource& Source) {
  if (!HasTiffMagic(Source))
    return {};
  TClient client{Source};
  const TTiffHandle tiff = Open(client);
  if (!tiff)
    return ReadingOf({});
  return ReadingOf(Walk(tiff.get(), Source.Size()));
}

} // namespace guess
