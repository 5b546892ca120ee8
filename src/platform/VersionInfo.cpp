#include "platform/VersionInfo.h"

#include "platform/FileStream.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {
namespace {

constexpr size_t Align4(size_t Offset) {
  return (Offset + 3) & ~size_t{3};
}

uint16_t Word16(const uint8_t* Bytes) {
  return static_cast<uint16_t>(Bytes[0] | Bytes[1] << 8);
}

bool SameText(std::string_view A, std::string_view B) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(),
                                            [&](char a, char b) { return lower(a) == lower(b); });
}

// One block of the record, every offset checked against the bytes it may use.
struct TBlock {
  const uint8_t* Base = nullptr; // start of the record
  size_t Start = 0;              // this block, from Base
  size_t End = 0;                // Start + wLength
  std::string_view Key;
  size_t ValueStart = 0;
  size_t ValueLength = 0;
  size_t ChildrenStart = 0;
};

// The block at Start that must end by Limit, or nothing when it does not fit.
std::optional<TBlock> ReadBlock(const uint8_t* Base, size_t Start, size_t Limit) {
  if (Start > Limit || Limit - Start < 4)
    return std::nullopt;
  TBlock block;
  block.Base = Base;
  block.Start = Start;
  block.End = Start + Word16(Base + Start);
  block.ValueLength = Word16(Base + Start + 2);
  if (block.End - Start < 5 || block.End > Limit) // header and at least a terminator
    return std::nullopt;
  const auto* key = reinterpret_cast<const char*>(Base + Start + 4);
  const void* terminator = std::memchr(key, 0, block.End - Start - 4);
  if (terminator == nullptr)
    return std::nullopt;
  block.Key =
      std::string_view(key, static_cast<size_t>(static_cast<const char*>(terminator) - key));
  block.ValueStart = Start + Align4(4 + block.Key.size() + 1);
  if (block.ValueLength > 0 &&
      (block.ValueStart > block.End || block.End - block.ValueStart < block.ValueLength))
    return std::nullopt;
  block.ChildrenStart = Align4(block.ValueStart + block.ValueLength);
  return block;
}

// The child of Parent named Key; siblings before it must be well formed.
std::optional<TBlock> FindChild(const TBlock& Parent, std::string_view Key) {
  size_t offset = Parent.ChildrenStart;
  // Less than a header left is the parent's own closing padding.
  while (offset < Parent.End && Parent.End - offset >= 4) {
    const std::optional<TBlock> child = ReadBlock(Parent.Base, offset, Parent.End);
    if (!child)
      return std::nullopt;
    if (SameText(child->Key, Key))
      return child;
    offset = Align4(child->End);
  }
  return std::nullopt;
}

std::vector<std::string_view> SplitPath(std::string_view Path) {
  std::vector<std::string_view> parts;
  while (!Path.empty()) {
    const size_t separator = Path.find('\\');
    const std::string_view part = Path.substr(0, separator);
    if (!part.empty())
      parts.push_back(part);
    if (separator == std::string_view::npos)
      break;
    Path.remove_prefix(separator + 1);
  }
  return parts;
}

std::optional<TBlock> ReadRoot(const uint8_t* Base, size_t Limit) {
  std::optional<TBlock> root = ReadBlock(Base, 0, Limit);
  if (!root || root->Key != "VS_VERSION_INFO")
    return std::nullopt;
  return root;
}

bool IsFixedInfo(const TBlock& Root) {
  if (Root.ValueLength != sizeof(VS_FIXEDFILEINFO))
    return false;
  const uint8_t* value = Root.Base + Root.ValueStart;
  return (uint32_t{Word16(value)} | uint32_t{Word16(value + 2)} << 16) == VS_FFI_SIGNATURE;
}

bool IsStringPath(const std::vector<std::string_view>& Parts) {
  return Parts.size() == 3 && SameText(Parts[0], "StringFileInfo");
}

// Strings are handed out as C text, so the terminator must lie inside the value.
bool HasTerminator(const TBlock& Block) {
  return std::memchr(Block.Base + Block.ValueStart, 0, Block.ValueLength) != nullptr;
}

// Limits far beyond any linked program, so that a damaged file cannot make the
// reader allocate or seek without end.
constexpr uint64_t MaxNameTableSize = 1 << 20;
constexpr uint64_t MaxSectionCount = 1 << 20;
constexpr size_t ElfHeaderSize = 64;
constexpr size_t SectionHeaderSize = 64;
constexpr uint32_t SHT_NOBITS = 8;
constexpr uint16_t SHN_XINDEX = 0xFFFF;

struct TSection {
  uint32_t Name = 0;
  uint32_t Type = 0;
  uint64_t Offset = 0;
  uint64_t Size = 0;
  uint32_t Link = 0;
};

class TElfFile {
public:
  explicit TElfFile(const std::string& Name)
      : FStream(Name) {}

  // The contents of the section called Name, at most MaxSize bytes of it.
  std::optional<std::vector<uint8_t>> Section(std::string_view Name, size_t MaxSize) {
    std::vector<uint8_t> header;
    if (!ReadAt(0, ElfHeaderSize, header) || !ReadIdent(header))
      return std::nullopt;
    const uint64_t tableOffset = Number(header.data() + 40, 8);
    uint64_t count = Number(header.data() + 60, 2);
    uint64_t namesIndex = Number(header.data() + 62, 2);
    if (tableOffset == 0 || Number(header.data() + 58, 2) != SectionHeaderSize)
      return std::nullopt;
    // Files with very many sections keep the real numbers in section 0.
    if (count == 0 || namesIndex == SHN_XINDEX) {
      const std::optional<TSection> first = SectionHeader(tableOffset, 0);
      if (!first)
        return std::nullopt;
      count = count == 0 ? first->Size : count;
      namesIndex = namesIndex == SHN_XINDEX ? first->Link : namesIndex;
    }
    if (count > MaxSectionCount || namesIndex >= count)
      return std::nullopt;
    std::vector<uint8_t> names;
    const std::optional<TSection> nameTable = SectionHeader(tableOffset, namesIndex);
    if (!nameTable || nameTable->Size > MaxNameTableSize ||
        !ReadAt(nameTable->Offset, nameTable->Size, names))
      return std::nullopt;
    for (uint64_t i = 1; i < count; ++i) {
      const std::optional<TSection> section = SectionHeader(tableOffset, i);
      if (!section)
        return std::nullopt;
      if (section->Type != SHT_NOBITS && NameAt(names, section->Name) == Name) {
        std::vector<uint8_t> bytes;
        if (!ReadAt(section->Offset, std::min<uint64_t>(section->Size, MaxSize), bytes))
          return std::nullopt;
        return bytes;
      }
    }
    return std::nullopt;
  }

private:
  bool ReadIdent(const std::vector<uint8_t>& Header) {
    constexpr uint8_t Magic[] = {0x7F, 'E', 'L', 'F'};
    constexpr uint8_t Class64 = 2, LittleEndian = 1, BigEndian = 2, CurrentVersion = 1;
    if (std::memcmp(Header.data(), Magic, sizeof Magic) != 0 || Header[4] != Class64 ||
        Header[6] != CurrentVersion)
      return false;
    if (Header[5] != LittleEndian && Header[5] != BigEndian)
      return false;
    FBigEndian = Header[5] == BigEndian;
    return true;
  }

  uint64_t Number(const uint8_t* Bytes, int Size) const {
    uint64_t value = 0;
    for (int i = 0; i < Size; ++i)
      value |= uint64_t{Bytes[FBigEndian ? Size - 1 - i : i]} << (8 * i);
    return value;
  }

  std::optional<TSection> SectionHeader(uint64_t TableOffset, uint64_t Index) {
    std::vector<uint8_t> raw;
    if (TableOffset > INT64_MAX - Index * SectionHeaderSize ||
        !ReadAt(TableOffset + Index * SectionHeaderSize, SectionHeaderSize, raw))
      return std::nullopt;
    return TSection{static_cast<uint32_t>(Number(raw.data(), 4)),
                    static_cast<uint32_t>(Number(raw.data() + 4, 4)), Number(raw.data() + 24, 8),
                    Number(raw.data() + 32, 8), static_cast<uint32_t>(Number(raw.data() + 40, 4))};
  }

  static std::string_view NameAt(const std::vector<uint8_t>& Names, uint32_t Offset) {
    if (Offset >= Names.size())
      return {};
    const auto* name = reinterpret_cast<const char*>(Names.data() + Offset);
    const void* end = std::memchr(name, 0, Names.size() - Offset);
    if (end == nullptr)
      return {};
    return std::string_view(name, static_cast<size_t>(static_cast<const char*>(end) - name));
  }

  // Reads exactly Count bytes at Offset; a file that ends early fails.
  bool ReadAt(uint64_t Offset, uint64_t Count, std::vector<uint8_t>& Bytes) {
    if (Offset > INT64_MAX ||
        FStream.Seek(static_cast<int64_t>(Offset)) != static_cast<int64_t>(Offset))
      return false;
    Bytes.assign(static_cast<size_t>(Count), 0);
    return FStream.Read(Bytes.data(), static_cast<int64_t>(Count)) == static_cast<int64_t>(Count);
  }

  TFileStream FStream;
  bool FBigEndian = false;
};

// The record carried by the file, exactly as long as its root says.
std::optional<std::vector<uint8_t>> ReadRecord(const char* FileName) {
  if (FileName == nullptr || *FileName == '\0')
    return std::nullopt;
  try {
    TElfFile file(FileName);
    std::optional<std::vector<uint8_t>> bytes = file.Section(VersionSectionName, 0xFFFF);
    if (!bytes)
      return std::nullopt;
    const std::optional<TBlock> root = ReadRoot(bytes->data(), bytes->size());
    if (!root)
      return std::nullopt;
    bytes->resize(root->End);
    return bytes;
  } catch (const EFOpenError&) {
    return std::nullopt;
  }
}

struct TLocaleLanguage {
  std::string_view Locale; // language, or language_TERRITORY
  uint16_t LangID;
};

// A bare language takes the form Windows uses when only the language is named.
constexpr TLocaleLanguage LocaleLanguages[] = {
    {"ar", 0x0401},    {"ar_SA", 0x0401}, {"bg", 0x0402},    {"bg_BG", 0x0402}, {"ca", 0x0403},
    {"ca_ES", 0x0403}, {"cs", 0x0405},    {"cs_CZ", 0x0405}, {"da", 0x0406},    {"da_DK", 0x0406},
    {"de", 0x0407},    {"de_DE", 0x0407}, {"de_CH", 0x0807}, {"de_AT", 0x0C07}, {"de_LU", 0x1007},
    {"el", 0x0408},    {"el_GR", 0x0408}, {"en", 0x0409},    {"en_US", 0x0409}, {"en_GB", 0x0809},
    {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en_NZ", 0x1409}, {"en_IE", 0x1809}, {"en_ZA", 0x1C09},
    {"en_IN", 0x4009}, {"es", 0x0C0A},    {"es_ES", 0x0C0A}, {"es_MX", 0x080A}, {"es_CO", 0x240A},
    {"es_AR", 0x2C0A}, {"es_US", 0x540A}, {"et", 0x0425},    {"et_EE", 0x0425}, {"fi", 0x040B},
    {"fi_FI", 0x040B}, {"fr", 0x040C},    {"fr_FR", 0x040C}, {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C},
    {"fr_CH", 0x100C}, {"he", 0x040D},    {"he_IL", 0x040D}, {"hr", 0x041A},    {"hr_HR", 0x041A},
    {"hu", 0x040E},    {"hu_HU", 0x040E}, {"id", 0x0421},    {"id_ID", 0x0421}, {"is", 0x040F},
    {"is_IS", 0x040F}, {"it", 0x0410},    {"it_IT", 0x0410}, {"it_CH", 0x0810}, {"ja", 0x0411},
    {"ja_JP", 0x0411}, {"ko", 0x0412},    {"ko_KR", 0x0412}, {"lt", 0x0427},    {"lt_LT", 0x0427},
    {"lv", 0x0426},    {"lv_LV", 0x0426}, {"nb", 0x0414},    {"nb_NO", 0x0414}, {"nl", 0x0413},
    {"nl_NL", 0x0413}, {"nl_BE", 0x0813}, {"nn", 0x0814},    {"nn_NO", 0x0814}, {"no", 0x0414},
    {"no_NO", 0x0414}, {"pl", 0x0415},    {"pl_PL", 0x0415}, {"pt", 0x0416},    {"pt_BR", 0x0416},
    {"pt_PT", 0x0816}, {"ro", 0x0418},    {"ro_RO", 0x0418}, {"ru", 0x0419},    {"ru_RU", 0x0419},
    {"sk", 0x041B},    {"sk_SK", 0x041B}, {"sl", 0x0424},    {"sl_SI", 0x0424}, {"sv", 0x041D},
    {"sv_SE", 0x041D}, {"sv_FI", 0x081D}, {"th", 0x041E},    {"th_TH", 0x041E}, {"tr", 0x041F},
    {"tr_TR", 0x041F}, {"uk", 0x0422},    {"uk_UA", 0x0422}, {"vi", 0x042A},    {"vi_VN", 0x042A},
    {"zh", 0x0804},    {"zh_TW", 0x0404}, {"zh_CN", 0x0804}, {"zh_HK", 0x0C04}, {"zh_SG", 0x1004},
};

constexpr uint16_t UsEnglish = 0x0409;

std::optional<uint16_t> LookUpLocale(std::string_view Locale) {
  for (const TLocaleLanguage& entry : LocaleLanguages)
    if (entry.Locale == Locale)
      return entry.LangID;
  return std::nullopt;
}

// The locale category that decides the language of messages, as setlocale would pick it.
std::string_view UserLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0')
      return value;
  }
  return {};
}

} // namespace

uint32_t GetFileVersionInfoSizeA(const char* FileName, uint32_t* Handle) {
  if (Handle != nullptr)
    *Handle = 0;
  const std::optional<std::vector<uint8_t>> record = ReadRecord(FileName);
  return record ? static_cast<uint32_t>(record->size()) : 0;
}

int GetFileVersionInfoA(const char* FileName, uint32_t /*Handle*/, uint32_t Len, void* Data) {
  const std::optional<std::vector<uint8_t>> record = ReadRecord(FileName);
  if (!record || Data == nullptr || Len < 4)
    return 0;
  const size_t count = std::min<size_t>(Len, record->size());
  auto* target = static_cast<uint8_t*>(Data);
  std::memcpy(target, record->data(), count);
  if (count < record->size()) {
    target[0] = static_cast<uint8_t>(count);
    target[1] = static_cast<uint8_t>(count >> 8);
  }
  return 1;
}

int VerQueryValueA(const void* Block, const char* SubBlock, void** Buffer, uint32_t* Len) {
  if (Buffer == nullptr || Len == nullptr)
    return 0;
  *Buffer = nullptr;
  *Len = 0;
  if (Block == nullptr || SubBlock == nullptr)
    return 0;
  const auto* base = static_cast<const uint8_t*>(Block);
  std::optional<TBlock> block = ReadRoot(base, Word16(base));
  const std::vector<std::string_view> parts = SplitPath(SubBlock);
  if (block && parts.empty() && !IsFixedInfo(*block))
    return 0;
  for (size_t i = 0; block && i < parts.size(); ++i)
    block = FindChild(*block, parts[i]);
  if (!block)
    return 0;
  if (IsStringPath(parts) && block->ValueLength > 0 && !HasTerminator(*block))
    return 0;
  // Without a value, point at the key's terminator: an empty C string inside the record,
  // where the value's place may already lie past the block.
  const size_t value =
      block->ValueLength > 0 ? block->ValueStart : block->Start + 4 + block->Key.size();
  *Buffer = const_cast<uint8_t*>(base + value);
  *Len = static_cast<uint32_t>(block->ValueLength);
  return 1;
}

uint16_t GetSystemDefaultLangID() {
  std::string_view locale = UserLocale();
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX")
    return UsEnglish;
  // "de_at", "de-AT" and "de_AT" name the same place.
  std::string name(locale);
  const size_t separator = name.find_first_of("_-");
  for (size_t i = 0; i < name.size(); ++i)
    name[i] = static_cast<char>(i < separator ? std::tolower(static_cast<unsigned char>(name[i]))
                                              : std::toupper(static_cast<unsigned char>(name[i])));
  if (separator != std::string::npos)
    name[separator] = '_';
  if (const std::optional<uint16_t> exact = LookUpLocale(name))
    return *exact;
  if (const std::optional<uint16_t> language = LookUpLocale(name.substr(0, separator)))
    return *language;
  return UsEnglish;
}

std::string RunningProgramPath() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

} // namespace platform
