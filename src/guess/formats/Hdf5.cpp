#include "guess/formats/Hdf5.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>
#include <hdf5.h>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace guess {

namespace {

constexpr uint8_t Signature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
// Links looked at in the whole file: a real file's images are found long
// before this, and a hostile one cannot keep the library busy for long.
constexpr int MaxLinks = 4096;
constexpr size_t MaxPathChars = 200;
// A link name no writer gives, looked up to decode a group's links.
constexpr char AbsentName[] = "\x01zandrel: no such link\x01";

// Where the library would look for the superblock: at 0 and at every power
// of two from 512 on, as a user block may come first.
bool HasSignature(TByteSource& Source) {
  for (int64_t offset = 0; offset < Source.Size(); offset = offset == 0 ? 512 : 2 * offset) {
    uint8_t bytes[sizeof Signature] = {};
    if (Source.ReadAt(offset, bytes, sizeof bytes) == sizeof bytes &&
        std::memcmp(bytes, Signature, sizeof bytes) == 0)
      return true;
  }
  return false;
}

// A file driver over the byte source, so that the library reads the metadata
// it needs on demand, within the source's budget, and nothing of the data.
struct TDriverInfo {
  TByteSource* Source = nullptr;
};

struct TSourceFile {
  H5FD_t Public; // first, as the library sees only this part
  TByteSource* Source;
  haddr_t Eoa;
};

TSourceFile& Own(const H5FD_t* File) {
  return *reinterpret_cast<TSourceFile*>(const_cast<H5FD_t*>(File));
}

H5FD_t* OpenSource(const char*, unsigned Flags, hid_t Fapl, haddr_t) {
  const auto* info = static_cast<const TDriverInfo*>(H5Pget_driver_info(Fapl));
  if ((Flags & (H5F_ACC_RDWR | H5F_ACC_TRUNC | H5F_ACC_CREAT)) != 0 || info == nullptr ||
      info->Source == nullptr)
    return nullptr;
  auto* file = new (std::nothrow) TSourceFile{};
  if (file == nullptr)
    return nullptr;
  file->Source = info->Source;
  return &file->Public;
}

herr_t CloseSource(H5FD_t* File) {
  delete &Own(File);
  return 0;
}

haddr_t GetEoa(const H5FD_t* File, H5FD_mem_t) {
  return Own(File).Eoa;
}

herr_t SetEoa(H5FD_t* File, H5FD_mem_t, haddr_t Address) {
  Own(File).Eoa = Address;
  return 0;
}

haddr_t GetEof(const H5FD_t* File, H5FD_mem_t) {
  return static_cast<haddr_t>(Own(File).Source->Size());
}

// Past the end of the file reads as zeros, as with the library's own
// drivers; a read the budget cannot pay for fails.
herr_t ReadSource(H5FD_t* File, H5FD_mem_t, hid_t, haddr_t Address, size_t Size, void* Buffer) {
  TByteSource& source = *Own(File).Source;
  if (Address == HADDR_UNDEF || Address > uint64_t{INT64_MAX} || Size > uint64_t{INT64_MAX})
    return -1;
  const auto offset = static_cast<int64_t>(Address);
  const int64_t inFile = std::clamp<int64_t>(source.Size() - offset, 0, static_cast<int64_t>(Size));
  if (source.ReadAt(offset, Buffer, inFile) != inFile)
    return -1;
  std::memset(static_cast<uint8_t*>(Buffer) + inFile, 0, Size - static_cast<size_t>(inFile));
  return 0;
}

herr_t WriteSource(H5FD_t*, H5FD_mem_t, hid_t, haddr_t, size_t, const void*) {
  return -1;
}

H5FD_class_t SourceClass() {
  H5FD_class_t source{};
  source.name = "zandrel-byte-source";
  source.maxaddr = static_cast<haddr_t>(INT64_MAX);
  source.fc_degree = H5F_CLOSE_STRONG;
  source.fapl_size = sizeof(TDriverInfo);
  source.open = OpenSource;
  source.close = CloseSource;
  source.get_eoa = GetEoa;
  source.set_eoa = SetEoa;
  source.get_eof = GetEof;
  source.read = ReadSource;
  source.write = WriteSource;
  for (H5FD_mem_t& type : source.fl_map)
    type = H5FD_MEM_DEFAULT;
  return source;
}

// Registered once, and again should anyone have closed the library since.
// This takes external links away from the whole process: nothing else here
// reads HDF5.
hid_t SourceDriver() {
  static std::mutex guard;
  static hid_t driver = H5I_INVALID_HID;
  const std::lock_guard<std::mutex> lock(guard);
  if (driver < 0 || H5Iis_valid(driver) <= 0) {
    static const H5FD_class_t source = SourceClass();
    driver = H5FDregister(&source);
    // The library's external links would open other files by name, and their
    // query reads a link's value even when a damaged file gives it none
    // (libhdf5 1.10.8 dereferences null there). Unknown to the library, such
    // a link lists with no value and leads nowhere.
    H5Lunregister(H5L_TYPE_EXTERNAL);
  }
  return driver;
}

// One library id, closed with its own kind's function.
class TId {
public:
  TId(hid_t Id, herr_t (*Close)(hid_t))
      : FId(Id)
      , FClose(Close) {}
  ~TId() {
    if (FId >= 0)
      FClose(FId);
  }
  TId(const TId&) = delete;
  TId& operator=(const TId&) = delete;
  bool Valid() const { return FId >= 0; }
  operator hid_t() const { return FId; }

private:
  hid_t FId;
  herr_t (*FClose)(hid_t);
};

// The library's messages would go to stderr, once per damaged file.
class TQuietErrors {
public:
  TQuietErrors() {
    H5Eget_auto2(H5E_DEFAULT, &FPrint, &FData);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  }
  ~TQuietErrors() { H5Eset_auto2(H5E_DEFAULT, FPrint, FData); }
  TQuietErrors(const TQuietErrors&) = delete;
  TQuietErrors& operator=(const TQuietErrors&) = delete;

private:
  H5E_auto2_t FPrint = nullptr;
  void* FData = nullptr;
};

struct TVoxelKind {
  TVoxelType Type;
  const char* Name;
};

// IEEE binary16, 32 and 64 only: sign, exponent and mantissa where the
// standard puts them, with its bias and implied leading bit.
bool IsIeee(hid_t Type, size_t Size) {
  size_t sign = 0, exponentAt = 0, exponentBits = 0, mantissaAt = 0, mantissaBits = 0;
  if (H5Tget_fields(Type, &sign, &exponentAt, &exponentBits, &mantissaAt, &mantissaBits) < 0 ||
      H5Tget_norm(Type) != H5T_NORM_IMPLIED)
    return false;
  const size_t bits = 8 * Size;
  const size_t wantExponent = Size == 2 ? 5 : Size == 4 ? 8 : 11;
  const size_t wantBias = (size_t{1} << (wantExponent - 1)) - 1;
  return sign == bits - 1 && exponentBits == wantExponent &&
         exponentAt == bits - 1 - wantExponent && mantissaAt == 0 && mantissaBits == exponentAt &&
         H5Tget_ebias(Type) == wantBias;
}

std::optional<TVoxelKind> KindOf(hid_t Type) {
  const size_t size = H5Tget_size(Type);
  if (H5Tget_precision(Type) != 8 * size || H5Tget_offset(Type) != 0)
    return std::nullopt;
  switch (H5Tget_class(Type)) {
  case H5T_INTEGER: {
    const bool isSigned = H5Tget_sign(Type) == H5T_SGN_2;
    switch (size) {
    case 1:
      return isSigned ? TVoxelKind{vtInt8, "int8"} : TVoxelKind{vtByte, "uint8"};
    case 2:
      return isSigned ? TVoxelKind{vtInt16, "int16"} : TVoxelKind{vtUInt16, "uint16"};
    case 4:
      return isSigned ? TVoxelKind{vtInt32, "int32"} : TVoxelKind{vtUInt32, "uint32"};
    case 8:
      return isSigned ? TVoxelKind{vtInt64, "int64"} : TVoxelKind{vtUInt64, "uint64"};
    default:
      return std::nullopt;
    }
  }
  case H5T_FLOAT:
    if ((size != 2 && size != 4 && size != 8) || !IsIeee(Type, size))
      return std::nullopt;
    return size == 2   ? TVoxelKind{vtFloat16, "float16"}
           : size == 4 ? TVoxelKind{vtFloat32, "float32"}
                       : TVoxelKind{vtFloat64, "float64"};
  default:
    return std::nullopt;
  }
}

std::optional<TByteOrder> OrderOf(hid_t Type) {
  if (H5Tget_size(Type) == 1)
    return boLittleEndian;
  switch (H5Tget_order(Type)) {
  case H5T_ORDER_LE:
    return boLittleEndian;
  case H5T_ORDER_BE:
    return boBigEndian;
  default:
    return std::nullopt;
  }
}

struct TFound {
  TStatedLayout Layout;
  int64_t Bytes = 0;
};

struct TWalk {
  std::vector<TFound> Found;
  std::set<haddr_t> Seen;
  std::deque<std::pair<std::string, haddr_t>> Groups;
  std::string GroupPath; // of the group being listed; "" for the root
  int Links = 0;
  bool StoredOtherwise = false; // a dataset of numbers that is chunked or filtered
};

// The dataspace's extents, slowest first as HDF5 keeps them, and the bytes
// they take; nothing for an empty or overflowing one.
std::optional<std::pair<std::vector<int64_t>, int64_t>> Extents(hid_t Dataset, size_t VoxelBytes) {
  const TId space(H5Dget_space(Dataset), H5Sclose);
  if (!space.Valid() || H5Sget_simple_extent_type(space) != H5S_SIMPLE)
    return std::nullopt;
  const int rank = H5Sget_simple_extent_ndims(space);
  if (rank < 1 || rank > H5S_MAX_RANK)
    return std::nullopt;
  hsize_t dims[H5S_MAX_RANK] = {};
  if (H5Sget_simple_extent_dims(space, dims, nullptr) != rank)
    return std::nullopt;
  std::vector<int64_t> extents;
  auto bytes = static_cast<int64_t>(VoxelBytes);
  for (int i = 0; i < rank; ++i) {
    if (dims[i] < 1 || dims[i] > uint64_t{INT64_MAX} ||
        __builtin_mul_overflow(bytes, static_cast<int64_t>(dims[i]), &bytes))
      return std::nullopt;
    extents.push_back(static_cast<int64_t>(dims[i]));
  }
  return std::pair{std::move(extents), bytes};
}

void ReadDataset(TWalk& Walk, hid_t Dataset, const std::string& Path) {
  const TId type(H5Dget_type(Dataset), H5Tclose);
  const TId create(H5Dget_create_plist(Dataset), H5Pclose);
  if (!type.Valid() || !create.Valid())
    return;
  const std::optional<TVoxelKind> kind = KindOf(type);
  const std::optional<TByteOrder> order = OrderOf(type);
  if (!kind || !order)
    return;
  const H5D_layout_t layout = H5Pget_layout(create);
  if (layout == H5D_CHUNKED || H5Pget_nfilters(create) != 0) {
    Walk.StoredOtherwise = true;
    return;
  }
  // A virtual dataset's space may open its source files: never asked.
  if (layout != H5D_CONTIGUOUS || H5Pget_external_count(create) != 0)
    return;
  const auto extents = Extents(Dataset, H5Tget_size(type));
  const haddr_t offset = H5Dget_offset(Dataset);
  if (!extents || offset == HADDR_UNDEF || offset > uint64_t{INT64_MAX} ||
      H5Dget_storage_size(Dataset) != static_cast<hsize_t>(extents->second))
    return;
  TFound found;
  found.Layout.Dims.assign(extents->first.rbegin(), extents->first.rend());
  found.Layout.VoxelType = kind->Type;
  found.Layout.ByteOrder = *order;
  found.Layout.DataStart = static_cast<int64_t>(offset);
  found.Layout.Note = "HDF5 dataset " + Path + " (" + kind->Name + ")";
  found.Bytes = extents->second;
  Walk.Found.push_back(std::move(found));
}

void VisitObject(TWalk& Walk, hid_t Group, const char* Name, haddr_t Address) {
  const TId object(H5Oopen_by_addr(Group, Address), H5Oclose);
  if (!object.Valid())
    return;
  std::string path = Walk.GroupPath + "/" + Name;
  if (path.size() > MaxPathChars)
    path = path.substr(0, MaxPathChars) + "...";
  switch (H5Iget_type(object)) {
  case H5I_GROUP:
    Walk.Groups.emplace_back(std::move(path), Address);
    break;
  case H5I_DATASET:
    ReadDataset(Walk, object, path);
    break;
  default:
    break;
  }
}

herr_t VisitLink(hid_t Group, const char* Name, const H5L_info_t* Info, void* Data) {
  auto& walk = *static_cast<TWalk*>(Data);
  if (++walk.Links > MaxLinks)
    return 1;
  // Soft and external links lead elsewhere or nowhere; a hard link to an
  // object already seen would go round a cycle.
  if (Info->type != H5L_TYPE_HARD)
    return 0;
  // Nothing may unwind through the library's frames.
  try {
    if (walk.Seen.insert(Info->u.address).second)
      VisitObject(walk, Group, Name, Info->u.address);
    return 0;
  } catch (...) {
    return -1;
  }
}

// Every group reached by hard links, breadth first, so that the datasets of
// the top levels come first among equals.
void WalkGroups(TWalk& Walk, hid_t File) {
  H5O_info_t root{};
  if (H5Oget_info2(File, &root, H5O_INFO_BASIC) < 0)
    return;
  Walk.Seen.insert(root.addr);
  Walk.Groups.emplace_back("", root.addr);
  while (!Walk.Groups.empty() && Walk.Links <= MaxLinks) {
    auto [path, address] = std::move(Walk.Groups.front());
    Walk.Groups.pop_front();
    const TId group(H5Oopen_by_addr(File, address), H5Oclose);
    if (!group.Valid() || H5Iget_type(group) != H5I_GROUP)
      continue;
    // Listing a group whose links are in its header builds a table of them,
    // and a link that fails to decode leaves slots unfilled that the library
    // then frees (libhdf5 1.10.8 crashes there). Looking up a name no link
    // has decodes every link one by one, failing cleanly on a damaged one.
    if (H5Lexists(group, AbsentName, H5P_DEFAULT) != 0)
      continue;
    Walk.GroupPath = std::move(path);
    hsize_t index = 0;
    // In native order the library walks a dense group's index as it stands;
    // in any other it first builds a table of the links, and frees slots it
    // never filled when a read fails halfway (libhdf5 1.10.8 crashes there).
    H5Literate(group, H5_INDEX_NAME, H5_ITER_NATIVE, &index, VisitLink, &Walk);
  }
}

// The library closes itself at exit unless told first, before anything
// starts it; after some failed opens (a damaged object header, a budget spent
// halfway) libhdf5 1.10.8 cannot, and says so on stdout as the program ends.
// Nothing is left to write by then, so it need not close at all.
void LeaveOpenAtExit() {
  static const bool left = H5dont_atexit() >= 0;
  (void)left;
}

std::optional<TWalk> WalkFile(TByteSource& Source) {
  LeaveOpenAtExit();
  const TQuietErrors quiet;
  const hid_t driver = SourceDriver();
  const TId access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
  TDriverInfo info;
  info.Source = &Source;
  if (driver < 0 || !access.Valid() || H5Pset_driver(access, driver, &info) < 0 ||
      H5Pset_fclose_degree(access, H5F_CLOSE_STRONG) < 0)
    return std::nullopt;
  const TId file(H5Fopen("zandrel-byte-source", H5F_ACC_RDONLY, access), H5Fclose);
  if (!file.Valid())
    return std::nullopt;
  TWalk walk;
  WalkGroups(walk, file);
  return walk;
}

} // namespace

TContainerReading ReadHdf5(TByteSource& Source) {
  if (!HasSignature(Source))
    return {};
  std::optional<TWalk> walk = WalkFile(Source);
  // A signature the library cannot open is left to the other readers.
  if (!walk)
    return {};
  TContainerReading reading;
  reading.Format = "HDF5";
  std::stable_sort(walk->Found.begin(), walk->Found.end(),
                   [](const TFound& A, const TFound& B) { return A.Bytes > B.Bytes; });
  for (TFound& found : walk->Found)
    reading.Layouts.push_back(std::move(found.Layout));
  if (reading.Layouts.empty())
    reading.NoRawVoxels =
        walk->StoredOtherwise
            ? "HDF5 with chunked or compressed datasets only: the file holds no raw voxels"
            : "HDF5 with no contiguous dataset of integers or floats: the file holds no raw voxels";
  return reading;
}

} // namespace guess
