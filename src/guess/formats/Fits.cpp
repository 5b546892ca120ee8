#include "guess/formats/Fits.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fitsio.h>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// cfitsio declares this only in its internal header, which is not written for
// C++; the declaration is the library's own.
extern "C" int fits_register_driver(
    char* prefix, int (*init)(void), int (*fitsshutdown)(void), int (*setoptions)(int option),
    int (*getoptions)(int* options), int (*getversion)(int* version),
    int (*checkfile)(char* urltype, char* infile, char* outfile),
    int (*fitsopen)(char* filename, int rwmode, int* driverhandle),
    int (*fitscreate)(char* filename, int* driverhandle),
    int (*fitstruncate)(int driverhandle, LONGLONG filesize), int (*fitsclose)(int driverhandle),
    int (*fremove)(char* filename), int (*size)(int driverhandle, LONGLONG* sizex),
    int (*flush)(int driverhandle), int (*seek)(int driverhandle, LONGLONG offset),
    int (*fitsread)(int driverhandle, void* buffer, long nbytes),
    int (*fitswrite)(int driverhandle, void* buffer, long nbytes));

namespace guess {

namespace {

// cfitsio reads every file through a driver of plain functions with an int
// handle, so the file it reads for us is a global, and one is read at a time.
// Every byte it asks for comes out of that source's budget: a header with no
// END within reach ends in a short read, and data it skips are never read.
std::mutex DriverLock;
TByteSource* DriverSource = nullptr;
int64_t DriverPosition = 0;
// What was read of the file, by offset; never more than the budget let through.
std::map<int64_t, std::vector<uint8_t>> DriverSeen;

int DriverNothing() {
  return 0;
}
int DriverSetOptions(int) {
  return 0;
}
int DriverGetOptions(int* Options) {
  *Options = 0;
  return 0;
}
int DriverGetVersion(int* Version) {
  *Version = 1;
  return 0;
}
int DriverCheckFile(char*, char*, char* OutFile) {
  OutFile[0] = '\0';
  return 0;
}
int DriverOpen(char*, int RwMode, int* Handle) {
  if (DriverSource == nullptr || RwMode != READONLY)
    return FILE_NOT_OPENED;
  *Handle = 0;
  DriverPosition = 0;
  return 0;
}
int DriverCreate(char*, int*) {
  return FILE_NOT_CREATED;
}
int DriverTruncate(int, LONGLONG) {
  return WRITE_ERROR;
}
int DriverClose(int) {
  return 0;
}
int DriverRemove(char*) {
  return FILE_NOT_OPENED;
}
int DriverSize(int, LONGLONG* Size) {
  *Size = DriverSource->Size();
  return 0;
}
int DriverFlush(int) {
  return 0;
}
int DriverSeek(int, LONGLONG Offset) {
  if (Offset < 0 || Offset > DriverSource->Size())
    return SEEK_ERROR;
  DriverPosition = Offset;
  return 0;
}
int DriverWrite(int, void*, long) {
  return WRITE_ERROR;
}

// Count bytes at Offset, from the source once: what cfitsio reads again, or
// reads after this reader checked it, costs no more of the budget.
std::vector<uint8_t> CachedRead(int64_t Offset, int64_t Count) {
  auto chunk = DriverSeen.upper_bound(Offset);
  if (chunk != DriverSeen.begin()) {
    --chunk;
    const int64_t skip = Offset - chunk->first;
    if (skip + Count <= std::ssize(chunk->second))
      return {chunk->second.begin() + skip, chunk->second.begin() + skip + Count};
  }
  std::vector<uint8_t> bytes = DriverSource->Read(Offset, Count);
  if (!bytes.empty())
    DriverSeen[Offset] = bytes;
  return bytes;
}

// Changes a byte already read, for cfitsio to read as changed.
void PatchSeen(int64_t Offset, uint8_t Byte) {
  auto chunk = DriverSeen.upper_bound(Offset);
  if (chunk == DriverSeen.begin())
    return;
  --chunk;
  if (Offset - chunk->first < std::ssize(chunk->second))
    chunk->second[static_cast<size_t>(Offset - chunk->first)] = Byte;
}

int DriverRead(int, void* Buffer, long Count) {
  if (Count < 0)
    return READ_ERROR;
  const std::vector<uint8_t> bytes = CachedRead(DriverPosition, Count);
  std::memcpy(Buffer, bytes.data(), bytes.size());
  DriverPosition += std::ssize(bytes);
  return std::ssize(bytes) == Count ? 0 : READ_ERROR;
}

constexpr char DriverPrefix[] = "zandrel-guess://";

bool DriverRegistered() {
  static const bool registered = [] {
    // The library's own drivers first: registering before it initialises
    // would leave ours in the table it then fills.
    if (fits_init_cfitsio() != 0)
      return false;
    static char prefix[sizeof DriverPrefix];
    std::memcpy(prefix, DriverPrefix, sizeof DriverPrefix);
    return fits_register_driver(prefix, DriverNothing, DriverNothing, DriverSetOptions,
                                DriverGetOptions, DriverGetVersion, DriverCheckFile, DriverOpen,
                                DriverCreate, DriverTruncate, DriverClose, DriverRemove, DriverSize,
                                DriverFlush, DriverSeek, DriverRead, DriverWrite) == 0;
  }();
  return registered;
}

// The source behind the driver for as long as one file is open, with cfitsio's
// messages dropped after: nothing of them reaches a person, or stderr.
class TDriverFile {
public:
  explicit TDriverFile(TByteSource& Source) { DriverSource = &Source; }
  bool Open() {
    // A name of its own each time: cfitsio shares the state of a file that
    // is opened twice under one name.
    static uint64_t opened = 0;
    const std::string name = DriverPrefix + std::string("source-") + std::to_string(++opened);
    int status = 0;
    if (ffopen(&FFile, name.c_str(), READONLY, &status) != 0)
      FFile = nullptr;
    return FFile != nullptr;
  }
  ~TDriverFile() {
    int status = 0;
    if (FFile != nullptr)
      ffclos(FFile, &status);
    ffcmsg();
    DriverSource = nullptr;
    DriverSeen.clear();
  }
  TDriverFile(const TDriverFile&) = delete;
  TDriverFile& operator=(const TDriverFile&) = delete;

  fitsfile* File() const { return FFile; }

private:
  fitsfile* FFile = nullptr;
};

// How each BITPIX is stored, and the zero that makes its integers the other
// signedness (the FITS way to keep unsigned values in signed fields).
struct TBitpix {
  int Bitpix;
  TVoxelType Stored;
  const char* StoredName;
  TVoxelType Other;
  const char* OtherName;
  const char* Zero; // nullptr: no such zero (the float types)
  double ZeroValue;
};

constexpr TBitpix Bitpixes[] = {
    {8, vtByte, "unsigned 8-bit", vtInt8, "signed 8-bit", "-128", -128.0},
    {16, vtInt16, "signed 16-bit", vtUInt16, "unsigned 16-bit", "32768", 32768.0},
    {32, vtInt32, "signed 32-bit", vtUInt32, "unsigned 32-bit", "2147483648", 2147483648.0},
    {64, vtInt64, "signed 64-bit", vtUInt64, "unsigned 64-bit", "9223372036854775808",
     9223372036854775808.0},
    {-32, vtFloat32, "", vtFloat32, "", nullptr, 0.0},
    {-64, vtFloat64, "", vtFloat64, "", nullptr, 0.0},
};

const TBitpix* BitpixOf(int Bitpix) {
  for (const TBitpix& b : Bitpixes)
    if (b.Bitpix == Bitpix)
      return &b;
  return nullptr;
}

struct TImage {
  int Number = 0; // cfitsio's HDU number: 1 is the primary
  std::string Name;
  const TBitpix* Bitpix = nullptr;
  bool OtherSignedness = false;
  std::vector<int64_t> Dims;
  int64_t DataStart = 0;
  int64_t DataBytes = 0;
};

struct TWalk {
  std::vector<TImage> Images;
  bool Compressed = false;
  bool Tables = false;
  // An HDU that could not be read, or was passed over for a reason other than
  // being a table: the file may hold voxels this reader does not offer.
  bool Doubtful = false;
  bool Complete = false; // every HDU up to the end of the file was looked at
  int64_t End = 0;       // where the last HDU looked at ends, padding and all
};

constexpr int MaxHdus = 1000;
constexpr int MaxAxes = 999; // the standard's own limit on NAXIS
constexpr size_t MaxImages = 32;

double KeyNumber(fitsfile* File, const char* Key, double Absent) {
  int status = 0;
  double value = Absent;
  if (ffgkyd(File, Key, &value, nullptr, &status) != 0)
    return Absent;
  return value;
}

// A string keyword as a person may read it in a note: printable and short.
std::string KeyText(fitsfile* File, const char* Key) {
  char value[FLEN_VALUE] = {};
  int status = 0;
  if (ffgkys(File, Key, value, nullptr, &status) != 0)
    return {};
  std::string text;
  for (const char* c = value; *c != '\0' && text.size() < 68; ++c)
    text += *c >= 0x20 && *c < 0x7f ? *c : '?';
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

// The voxels of an image HDU, when its header states a whole, non-empty image
// that the file holds. Nothing for a header with no data.
void LookAtImage(fitsfile* File, int Number, int64_t FileSize, TWalk& Walk) {
  int status = 0;
  int bitpix = 0;
  int naxis = 0;
  std::array<LONGLONG, MaxAxes> naxes{};
  if (ffgiprll(File, MaxAxes, &bitpix, &naxis, naxes.data(), &status) != 0 || naxis < 0 ||
      naxis > MaxAxes) {
    Walk.Doubtful = true;
    return;
  }
  TImage image;
  image.Number = Number;
  image.Bitpix = BitpixOf(bitpix);
  if (image.Bitpix == nullptr) {
    Walk.Doubtful = true;
    return;
  }
  int64_t bytes = BytesPerVoxel[image.Bitpix->Stored];
  for (int i = 0; i < naxis; ++i) {
    if (naxes[i] < 0 || __builtin_mul_overflow(bytes, int64_t{naxes[i]}, &bytes)) {
      Walk.Doubtful = true;
      return;
    }
    image.Dims.push_back(naxes[i]);
  }
  if (naxis == 0 || bytes == 0) // a header alone, such as a primary before its extensions
    return;
  LONGLONG headStart = 0;
  LONGLONG dataStart = 0;
  LONGLONG dataEnd = 0;
  if (ffghadll(File, &headStart, &dataStart, &dataEnd, &status) != 0 || dataStart < 0 ||
      dataStart > FileSize - bytes) {
    Walk.Doubtful = true;
    return;
  }
  image.DataStart = dataStart;
  image.DataBytes = bytes;
  image.OtherSignedness = image.Bitpix->Zero != nullptr &&
                          KeyNumber(File, "BZERO", 0.0) == image.Bitpix->ZeroValue &&
                          KeyNumber(File, "BSCALE", 1.0) == 1.0;
  if (Number > 1)
    image.Name = KeyText(File, "EXTNAME");
  Walk.Images.push_back(std::move(image));
}

void LookAtHdu(fitsfile* File, int Number, int64_t FileSize, TWalk& Walk) {
  int status = 0;
  int type = 0;
  if (ffghdt(File, &type, &status) != 0)
    Walk.Doubtful = true;
  else if (type == ASCII_TBL || type == BINARY_TBL)
    Walk.Tables = true;
  else if (Number > 1 && KeyText(File, "XTENSION") != "IMAGE")
    Walk.Doubtful = true; // an image by an older name cfitsio knows, not by the standard's
  else
    LookAtImage(File, Number, FileSize, Walk);
}

std::string CardName(const uint8_t* Card) {
  std::string name(reinterpret_cast<const char*>(Card), 8);
  while (!name.empty() && name.back() == ' ')
    name.pop_back();
  return name;
}

bool KeywordByte(uint8_t C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == ' ' ||
         C == '-' || C == '_';
}

// The whole number of a card's value, such as NAXIS's.
std::optional<int64_t> CardInteger(const uint8_t* Card) {
  // The value indicator is "= "; anything else, or more than blanks between
  // the number and its comment, is a value cfitsio may read otherwise.
  if (Card[8] != '=' || Card[9] != ' ')
    return std::nullopt;
  int i = 10;
  while (i < 80 && Card[i] == ' ')
    ++i;
  const bool negative = i < 80 && Card[i] == '-';
  if (i < 80 && (Card[i] == '-' || Card[i] == '+'))
    ++i;
  int64_t value = 0;
  const int digits = i;
  for (; i < 80 && Card[i] >= '0' && Card[i] <= '9'; ++i)
    if (i - digits >= 18)
      return std::nullopt;
    else
      value = 10 * value + (Card[i] - '0');
  if (i == digits)
    return std::nullopt;
  while (i < 80 && Card[i] == ' ')
    ++i;
  if (i < 80 && Card[i] != '/')
    return std::nullopt;
  return negative ? -value : value;
}

// A card's quoted text, without the blanks that pad it.
std::string CardText(const uint8_t* Card) {
  if (Card[8] != '=' || Card[10] != '\'')
    return {};
  const uint8_t* end = std::find(Card + 11, Card + 80, uint8_t{'\''});
  std::string text(Card + 11, end);
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

// Whether a required card's value is one the standard allows; cfitsio's
// reading of them takes them as such.
bool RequiredValueFits(const std::string& Name, const uint8_t* Card) {
  const std::optional<int64_t> value = CardInteger(Card);
  if (Name == "SIMPLE")
    return true; // the T is checked before anything is read
  if (Name == "XTENSION") {
    const std::string kind = CardText(Card);
    return kind == "IMAGE" || kind == "BINTABLE" || kind == "TABLE";
  }
  if (!value)
    return false;
  if (Name == "BITPIX")
    return BitpixOf(static_cast<int>(std::clamp<int64_t>(*value, -64, 64))) != nullptr;
  if (Name == "NAXIS" || Name == "TFIELDS")
    return *value >= 0 && *value <= MaxAxes;
  return *value >= 0; // NAXISn, PCOUNT, GCOUNT
}

struct THeaderCheck {
  int64_t DataStart = 0;
  bool Compressed = false; // a binary table holding a tile-compressed image
};

// The header at Start, when it is one by the standard's rules: its first cards
// those the standard requires in its order, every card named as a keyword is
// (a comment may hold any byte an old writer put there), an END within reach.
// cfitsio is given only headers that are: one that lost its END would run on
// through the data to the END of the next, and cfitsio has been seen to size
// a table by a count it never read when a required card or its value is
// garbled.
std::optional<THeaderCheck> CheckHeader(int64_t Start, bool Primary) {
  std::vector<std::string> required = {Primary ? "SIMPLE" : "XTENSION", "BITPIX", "NAXIS"};
  THeaderCheck check;
  bool table = false;  // a binary table
  bool tables = false; // a table of either kind
  std::vector<uint8_t> block;
  for (size_t index = 0;; ++index) {
    const int64_t blockStart = Start + static_cast<int64_t>(index / 36) * 2880;
    if (index % 36 == 0) {
      block = CachedRead(blockStart, 2880);
      if (block.size() != 2880)
        return std::nullopt;
    }
    const uint8_t* card = block.data() + 80 * (index % 36);
    if (!std::all_of(card, card + 8, KeywordByte))
      return std::nullopt;
    const std::string name = CardName(card);
    if (index < required.size() &&
        (name != required[index] || !RequiredValueFits(required[index], card)))
      return std::nullopt;
    if (index == 0 && !Primary) {
      const std::string kind = CardText(card);
      table = kind == "BINTABLE";
      tables = table || kind == "TABLE";
    }
    if (index == 2) {
      for (int64_t axis = 1, axes = *CardInteger(card); axis <= axes; ++axis)
        required.push_back("NAXIS" + std::to_string(axis));
      if (!Primary)
        required.insert(required.end(), {"PCOUNT", "GCOUNT"});
      if (tables)
        required.push_back("TFIELDS");
    }
    if (name == "END" && index >= required.size()) {
      check.DataStart = blockStart + 2880;
      return check;
    }
    if (index > 0 && (name == "SIMPLE" || name == "XTENSION" || name == "END"))
      return std::nullopt;
    if (!Primary && name == "ZIMAGE" && card[8] == '=') {
      // cfitsio divides by the tile sizes of a compressed image as it reads
      // its header, zero or not; such an image holds no raw voxels anyway, so
      // cfitsio is shown a plain table.
      const uint8_t* value = std::find_if(card + 10, card + 80, [](uint8_t C) { return C != ' '; });
      if (value != card + 80 && *value == 'T') {
        check.Compressed = table;
        PatchSeen(blockStart + (value - block.data()), 'F');
      }
    }
  }
}

// Each HDU's header is checked before cfitsio reads it, and where cfitsio
// says its data start is held against where the check found its END.
TWalk Walk(fitsfile* File, int64_t FileSize, int64_t FirstDataStart) {
  TWalk walk;
  std::optional<THeaderCheck> expected = THeaderCheck{FirstDataStart, false};
  for (int number = 1; number <= MaxHdus; ++number) {
    int status = 0;
    int type = 0;
    if (number > 1) {
      if (walk.End >= FileSize) {
        walk.Complete = true;
        return walk;
      }
      expected = CheckHeader(walk.End, false);
      if (!expected || ffmrhd(File, 1, &type, &status) != 0) {
        walk.Doubtful = true;
        return walk;
      }
    }
    LONGLONG headStart = 0;
    LONGLONG dataStart = 0;
    LONGLONG dataEnd = 0;
    if (ffghadll(File, &headStart, &dataStart, &dataEnd, &status) != 0 ||
        dataStart != expected->DataStart || dataEnd < dataStart) {
      walk.Doubtful = true;
      return walk;
    }
    walk.End = dataEnd;
    if (expected->Compressed)
      walk.Compressed = true;
    else
      LookAtHdu(File, number, FileSize, walk);
  }
  return walk; // more HDUs than worth walking: the rest is unknown
}

void Offer(const TImage& Image, std::vector<TStatedLayout>& Layouts) {
  const TBitpix& bitpix = *Image.Bitpix;
  std::string note = Image.Number == 1 ? "FITS primary image"
                                       : "FITS image extension " + std::to_string(Image.Number - 1);
  if (!Image.Name.empty())
    note += " (" + Image.Name + ")";
  note += ", BITPIX " + std::to_string(bitpix.Bitpix);
  TStatedLayout layout;
  layout.Dims = Image.Dims;
  layout.VoxelType = bitpix.Stored;
  layout.ByteOrder = BytesPerVoxel[bitpix.Stored] > 1 ? boBigEndian : boLittleEndian;
  layout.DataStart = Image.DataStart;
  if (!Image.OtherSignedness) {
    layout.Note = note;
    Layouts.push_back(std::move(layout));
    return;
  }
  // The stored integers are the values less the zero, so they keep the
  // values' order: that reading comes first. The same bytes read with the
  // other signedness are the values with their top bit flipped, which wrap
  // at the middle of the range, so that reading comes second.
  note += " with BZERO " + std::string(bitpix.Zero);
  layout.Note = note + ": stored as " + bitpix.StoredName;
  TStatedLayout other = layout;
  other.VoxelType = bitpix.Other;
  other.ByteOrder = BytesPerVoxel[bitpix.Other] > 1 ? boBigEndian : boLittleEndian;
  other.Score = 0.97;
  other.Note = note + ": read as " + bitpix.OtherName;
  Layouts.push_back(std::move(layout));
  Layouts.push_back(std::move(other));
}

std::string NoRawVoxelsOf(const TWalk& Walk) {
  if (!Walk.Images.empty() || !Walk.Complete || Walk.Doubtful)
    return {};
  if (Walk.Compressed)
    return "FITS with tile-compressed images: the file holds no raw voxels";
  if (Walk.Tables)
    return "FITS with tables only: the file holds no raw voxels";
  return "FITS with no image data: the file holds no raw voxels";
}

// The standard's first card, to the column that holds the T.
bool StartsFits(TByteSource& Source) {
  static constexpr char Simple[] = "SIMPLE  =                    T";
  char head[sizeof Simple - 1];
  return Source.ReadAt(0, head, std::ssize(head)) == std::ssize(head) &&
         std::memcmp(head, Simple, sizeof head) == 0;
}

} // namespace

TContainerReading ReadFits(TByteSource& Source) {
  if (!StartsFits(Source))
    return {};
  TContainerReading reading;
  reading.Format = "FITS";
  const std::lock_guard<std::mutex> lock(DriverLock);
  if (!DriverRegistered())
    return reading;
  TDriverFile file(Source);
  const std::optional<THeaderCheck> primary = CheckHeader(0, true);
  if (!primary || !file.Open())
    return reading;
  TWalk walk = Walk(file.File(), Source.Size(), primary->DataStart);
  // The largest image first, the file's order among equals: the bulk of a
  // file is what a person opens it to see, not a thumbnail or a mask beside it.
  std::stable_sort(walk.Images.begin(), walk.Images.end(),
                   [](const TImage& A, const TImage& B) { return A.DataBytes > B.DataBytes; });
  if (walk.Images.size() > MaxImages)
    walk.Images.resize(MaxImages);
  for (const TImage& image : walk.Images)
    Offer(image, reading.Layouts);
  reading.NoRawVoxels = NoRawVoxelsOf(walk);
  return reading;
}

} // namespace guess
