#include "TempDir.h"
#include "platform/LocaleEnvironment.h"
#include "platform/ProgramRecordContents.h"
#include "platform/VersionInfo.h"
#include "platform/VersionRecord.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using platform::BuildVersionRecord;
using platform::GetFileVersionInfoA;
using platform::GetFileVersionInfoSizeA;
using platform::GetSystemDefaultLangID;
using platform::TVersionRecordContents;
using platform::VerQueryValueA;
using platform::VS_FIXEDFILEINFO;

// One string "A" = "x"; its layout is worked out by hand in BuildsTheLayoutByHand.
TVersionRecordContents TinyContents() {
  TVersionRecordContents contents;
  contents.FileVersion = {1, 2, 3, 4};
  contents.ProductVersion = {5, 6, 7, 8};
  contents.StringTables = {{"040904E4", {{"A", "x"}}}};
  contents.Translations = {{0x0409, 0x04E4}};
  return contents;
}

uint16_t WordAt(const std::vector<uint8_t>& Bytes, size_t Offset) {
  return static_cast<uint16_t>(Bytes.at(Offset) | Bytes.at(Offset + 1) << 8);
}

void SetWord(std::vector<uint8_t>& Bytes, size_t Offset, uint16_t Value) {
  Bytes.at(Offset) = static_cast<uint8_t>(Value);
  Bytes.at(Offset + 1) = static_cast<uint8_t>(Value >> 8);
}

struct TAnswer {
  int Result = 0;
  void* Buffer = nullptr;
  uint32_t Len = 0;
};

TAnswer Query(const void* Block, const char* Path) {
  TAnswer answer;
  answer.Buffer = reinterpret_cast<void*>(uintptr_t{1}); // must be overwritten
  answer.Len = 12345;
  answer.Result = VerQueryValueA(Block, Path, &answer.Buffer, &answer.Len);
  return answer;
}

std::string Text(const TAnswer& Answer) {
  return Answer.Result != 0 ? std::string(static_cast<const char*>(Answer.Buffer)) : "<not found>";
}

const char* const AllPaths[] = {
    "\\",
    "\\VarFileInfo\\Translation",
    "\\StringFileInfo\\040904E4\\A",
    "\\StringFileInfo\\040904E4\\CompanyName",
    "\\StringFileInfo\\040904E4\\FileDescription",
    "\\StringFileInfo\\040904E4\\FileVersion",
    "\\StringFileInfo\\040904E4\\InternalName",
    "\\StringFileInfo\\040904E4\\Comments",
    "\\StringFileInfo\\040904E4\\Missing",
    "\\StringFileInfo\\040704E4\\FileVersion",
    "\\StringFileInfo",
    "\\VarFileInfo",
};

// Whatever a damaged record answers must lie inside its Size bytes, text terminated.
void ExpectAnswersInside(const uint8_t* Block, size_t Size, const std::string& What) {
  for (const char* path : AllPaths) {
    const TAnswer answer = Query(Block, path);
    if (answer.Result == 0) {
      EXPECT_EQ(answer.Buffer, nullptr) << What << " " << path;
      EXPECT_EQ(answer.Len, 0u) << What << " " << path;
      continue;
    }
    const auto* value = static_cast<const uint8_t*>(answer.Buffer);
    ASSERT_GE(value, Block) << What << " " << path;
    ASSERT_LE(value + answer.Len, Block + Size) << What << " " << path;
    if (std::string(path).starts_with("\\StringFileInfo\\040904E4\\")) {
      const size_t room = static_cast<size_t>(Block + Size - value);
      EXPECT_LT(strnlen(reinterpret_cast<const char*>(value), room), room) << What << " " << path;
    }
  }
}

struct TElfSection {
  std::string Name;
  uint32_t Type; // 1 = PROGBITS, 8 = NOBITS
  std::vector<uint8_t> Data;
};

struct TElfImage {
  std::vector<uint8_t> Bytes;
  bool BigEndian = false;
  size_t SectionTable = 0; // offset of section header 0
  size_t SectionCount = 0;

  void Put(size_t Offset, uint64_t Value, int Size) {
    for (int i = 0; i < Size; ++i)
      Bytes.at(Offset + static_cast<size_t>(BigEndian ? Size - 1 - i : i)) =
          static_cast<uint8_t>(Value >> (8 * i));
  }
  size_t Header(size_t Index) const { return SectionTable + 64 * Index; }
};

void Align(std::vector<uint8_t>& Bytes, size_t To) {
  while (Bytes.size() % To != 0)
    Bytes.push_back(0);
}

// A minimal ELF64: header, the sections' contents, the name table, then the
// section headers (0 empty, the given sections from 1, the name table last).
TElfImage MakeElf(const std::vector<TElfSection>& Sections, bool BigEndian = false) {
  TElfImage image;
  image.BigEndian = BigEndian;
  image.Bytes.assign(64, 0);
  std::vector<size_t> offsets;
  for (const TElfSection& section : Sections) {
    Align(image.Bytes, 8);
    offsets.push_back(image.Bytes.size());
    if (section.Type != 8)
      image.Bytes.insert(image.Bytes.end(), section.Data.begin(), section.Data.end());
  }
  std::vector<uint8_t> names{0};
  std::vector<size_t> nameOffsets;
  for (const TElfSection& section : Sections) {
    nameOffsets.push_back(names.size());
    names.insert(names.end(), section.Name.begin(), section.Name.end());
    names.push_back(0);
  }
  const size_t namesName = names.size();
  for (char c : std::string(".shstrtab"))
    names.push_back(static_cast<uint8_t>(c));
  names.push_back(0);
  const size_t namesOffset = image.Bytes.size();
  image.Bytes.insert(image.Bytes.end(), names.begin(), names.end());
  Align(image.Bytes, 8);
  image.SectionTable = image.Bytes.size();
  image.SectionCount = Sections.size() + 2;
  image.Bytes.resize(image.SectionTable + 64 * image.SectionCount, 0);

  const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 2, static_cast<uint8_t>(BigEndian ? 2 : 1), 1};
  std::memcpy(image.Bytes.data(), ident, sizeof ident);
  image.Put(16, 2, 2);  // executable
  image.Put(18, 62, 2); // x86-64
  image.Put(20, 1, 4);
  image.Put(40, image.SectionTable, 8);
  image.Put(52, 64, 2);
  image.Put(58, 64, 2);
  image.Put(60, image.SectionCount, 2);
  image.Put(62, image.SectionCount - 1, 2);
  for (size_t i = 0; i < Sections.size(); ++i) {
    const size_t header = image.Header(i + 1);
    image.Put(header, nameOffsets[i], 4);
    image.Put(header + 4, Sections[i].Type, 4);
    image.Put(header + 24, offsets[i], 8);
    image.Put(header + 32, Sections[i].Data.size(), 8);
  }
  const size_t header = image.Header(image.SectionCount - 1);
  image.Put(header, namesName, 4);
  image.Put(header + 4, 3, 4); // STRTAB
  image.Put(header + 24, namesOffset, 8);
  image.Put(header + 32, names.size(), 8);
  return image;
}

TElfImage ProgramElf(const std::vector<uint8_t>& Record, bool BigEndian = false) {
  const std::vector<uint8_t> code(40, 0x90);
  return MakeElf({{".text", 1, code}, {".zandrel_version", 1, Record}, {".bss", 8, {}}}, BigEndian);
}

using testfiles::TTempDir;

// The record GetFileVersionInfoA hands out for Path with a buffer of exactly Len bytes.
std::optional<std::vector<uint8_t>> ReadBack(const std::string& Path, uint32_t Len) {
  std::vector<uint8_t> buffer(Len);
  if (GetFileVersionInfoA(Path.c_str(), 0, Len, buffer.data()) == 0)
    return std::nullopt;
  return buffer;
}

TEST(VersionRecord, BuildsTheLayoutByHand) {
  // root              0..156  key at 4, fixed info at 20..72
  // StringFileInfo   72..118  key at 76, children from 92
  // "040904E4"       92..118  key at 96, children from 108
  // "A"             108..118  key at 112, value "x" at 116..118
  // VarFileInfo     120..156  key at 124, children from 136
  // Translation     136..156  key at 140, value at 152..156
  std::vector<uint8_t> want;
  auto word = [&](uint16_t v) { want.insert(want.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  auto dword = [&](uint32_t v) {
    word(uint16_t(v));
    word(uint16_t(v >> 16));
  };
  auto text = [&](const char* s, size_t paddedTo) {
    const size_t start = want.size();
    want.insert(want.end(), s, s + std::strlen(s) + 1);
    want.resize(start + paddedTo, 0);
  };
  word(156), word(52), text("VS_VERSION_INFO", 16);
  for (uint32_t v : {0xFEEF04BDu, 0x00010000u, 0x00010002u, 0x00030004u, 0x00050006u, 0x00070008u,
                     0u, 0u, 0u, 0u, 0u, 0u, 0u})
    dword(v);
  word(46), word(0), text("StringFileInfo", 16);
  word(26), word(0), text("040904E4", 12);
  word(10), word(2), text("A", 4), text("x", 2);
  want.resize(120, 0);
  word(36), word(0), text("VarFileInfo", 12);
  word(20), word(4), text("Translation", 12), word(0x0409), word(0x04E4);
  ASSERT_EQ(want.size(), 156u);

  EXPECT_EQ(BuildVersionRecord(TinyContents()), want);
}

TEST(VersionRecord, RefusesWhatTheLayoutCannotHold) {
  TVersionRecordContents contents = TinyContents();
  contents.StringTables[0].Strings.push_back({"Long", std::string(70000, 'x')});
  EXPECT_THROW(BuildVersionRecord(contents), std::length_error);

  contents = TinyContents();
  contents.StringTables[0].Strings.push_back({"Zero", std::string("a\0b", 3)});
  EXPECT_THROW(BuildVersionRecord(contents), std::invalid_argument);
}

TEST(VerQueryValueA, ReadsTheFixedPart) {
  for (const auto& [contents, fileMS, fileLS, productMS, productLS] :
       {std::tuple{ProgramRecordContents(), 0x00000003u, 0u, 0x00000003u, 0u},
        std::tuple{TinyContents(), 0x00010002u, 0x00030004u, 0x00050006u, 0x00070008u}}) {
    const std::vector<uint8_t> record = BuildVersionRecord(contents);
    const TAnswer answer = Query(record.data(), "\\");
    ASSERT_NE(answer.Result, 0);
    ASSERT_EQ(answer.Len, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, answer.Buffer, sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwStrucVersion, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionMS, fileMS);
    EXPECT_EQ(fixed.dwFileVersionLS, fileLS);
    EXPECT_EQ(fixed.dwProductVersionMS, productMS);
    EXPECT_EQ(fixed.dwProductVersionLS, productLS);
    EXPECT_EQ(fixed.dwFileFlagsMask, 0u);
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, contents.FileOS);
    EXPECT_EQ(fixed.dwFileType, contents.FileType);
  }
}

TEST(VerQueryValueA, ReadsEveryTranslationEntry) {
  TVersionRecordContents contents = ProgramRecordContents();
  contents.Translations = {{0x0407, 0x04B0}, {0x0C0A, 0x04E4}};
  const std::vector<uint8_t> record = BuildVersionRecord(contents);
  const TAnswer answer = Query(record.data(), "\\VarFileInfo\\Translation");
  ASSERT_NE(answer.Result, 0);
  ASSERT_EQ(answer.Len, 8u);
  const auto* bytes = static_cast<const uint8_t*>(answer.Buffer);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 8),
            (std::vector<uint8_t>{0x07, 0x04, 0xB0, 0x04, 0x0A, 0x0C, 0xE4, 0x04}));
}

TEST(VerQueryValueA, ReadsEveryKeyWithItsLength) {
  const std::vector<uint8_t> record = BuildVersionRecord(ProgramRecordContents());
  struct TCase {
    const char* Key;
    const char* Value;
  };
  for (const TCase& c : {TCase{"CompanyName", "Zandrel Imaging"},
                         {"FileDescription", "Zandrel Viewer"},
                         {"FileVersion", "0.3.0.0"},
                         {"InternalName", ""},
                         {"LegalCopyright", ""},
                         {"LegalTrademarks", ""},
                         {"OriginalFilename", ""},
                         {"ProductName", ""},
                         {"ProductVersion", "1.0.0.0"},
                         {"Comments", ""}}) {
    const std::string path = std::string("\\StringFileInfo\\040904E4\\") + c.Key;
    const TAnswer answer = Query(record.data(), path.c_str());
    ASSERT_NE(answer.Result, 0) << c.Key;
    // Characters with the terminator; an empty value has none at all.
    const size_t length = std::strlen(c.Value);
    EXPECT_EQ(answer.Len, length == 0 ? 0 : length + 1) << c.Key;
    EXPECT_EQ(Text(answer), c.Value) << c.Key;
    const auto* value = static_cast<const uint8_t*>(answer.Buffer);
    EXPECT_GE(value, record.data()) << c.Key;
    EXPECT_LT(value, record.data() + record.size()) << c.Key;
  }
}

TEST(VerQueryValueA, IgnoresTheCaseOfNames) {
  const std::vector<uint8_t> record = BuildVersionRecord(ProgramRecordContents());
  for (const char* path : {"\\stringfileinfo\\040904e4\\filedescription",
                           "\\STRINGFILEINFO\\040904E4\\FILEDESCRIPTION",
                           "\\StringFileInfo\\040904e4\\fileDescription"})
    EXPECT_EQ(Text(Query(record.data(), path)), "Zandrel Viewer") << path;
  EXPECT_NE(Query(record.data(), "\\varfileinfo\\TRANSLATION").Result, 0);
}

TEST(VerQueryValueA, AnswersZeroForWhatIsNotThere) {
  TVersionRecordContents noTranslation = ProgramRecordContents();
  noTranslation.Translations.clear();
  TVersionRecordContents noStrings = ProgramRecordContents();
  noStrings.StringTables.clear();
  struct TCase {
    TVersionRecordContents Contents;
    const char* Path;
  };
  for (const TCase& c : {TCase{ProgramRecordContents(), "\\StringFileInfo\\040904E4\\Trademarks"},
                         {ProgramRecordContents(), "\\StringFileInfo\\040904E4\\File"},
                         {ProgramRecordContents(), "\\StringFileInfo\\040904E4\\FileVersionX"},
                         {ProgramRecordContents(), "\\StringFileInfo\\040704E4\\FileVersion"},
                         {ProgramRecordContents(), "\\StringFileInfo\\04090000\\FileVersion"},
                         {ProgramRecordContents(), "\\VarFileInfo\\Translations"},
                         {noTranslation, "\\VarFileInfo\\Translation"},
                         {noStrings, "\\StringFileInfo\\040904E4\\FileVersion"}}) {
    const std::vector<uint8_t> record = BuildVersionRecord(c.Contents);
    const TAnswer answer = Query(record.data(), c.Path);
    EXPECT_EQ(answer.Result, 0) << c.Path;
    EXPECT_EQ(answer.Buffer, nullptr) << c.Path;
    EXPECT_EQ(answer.Len, 0u) << c.Path;
  }
  // What the other half still finds.
  EXPECT_NE(Query(BuildVersionRecord(noTranslation).data(), "\\").Result, 0);
  EXPECT_NE(Query(BuildVersionRecord(noStrings).data(), "\\VarFileInfo\\Translation").Result, 0);
}

TEST(VerQueryValueA, KeepsEachTableApart) {
  TVersionRecordContents contents = ProgramRecordContents();
  contents.StringTables = {{"040904E4", {{"FileDescription", "Viewer"}, {"Comments", "english"}}},
                           {"040704E4", {{"FileDescription", "Betrachter"}}}};
  const std::vector<uint8_t> record = BuildVersionRecord(contents);
  EXPECT_EQ(Text(Query(record.data(), "\\StringFileInfo\\040904E4\\FileDescription")), "Viewer");
  EXPECT_EQ(Text(Query(record.data(), "\\StringFileInfo\\040704E4\\FileDescription")),
            "Betrachter");
  EXPECT_EQ(Text(Query(record.data(), "\\StringFileInfo\\040704E4\\Comments")), "<not found>");
}

TEST(VerQueryValueA, RefusesMissingArguments) {
  const std::vector<uint8_t> record = BuildVersionRecord(TinyContents());
  void* buffer = nullptr;
  uint32_t len = 0;
  EXPECT_EQ(VerQueryValueA(nullptr, "\\", &buffer, &len), 0);
  EXPECT_EQ(VerQueryValueA(record.data(), nullptr, &buffer, &len), 0);
  EXPECT_EQ(VerQueryValueA(record.data(), "\\", nullptr, &len), 0);
  EXPECT_EQ(VerQueryValueA(record.data(), "\\", &buffer, nullptr), 0);
}

TEST(VerQueryValueA, AnswersZeroForDamagedRecords) {
  // Offsets from the hand-worked layout of TinyContents.
  struct TCase {
    const char* What;
    size_t Offset;
    uint16_t Word;
    const char* Path;
  };
  const TCase cases[] = {
      {"root length 0", 0, 0, "\\"},
      {"root length 0", 0, 0, "\\StringFileInfo\\040904E4\\A"},
      {"root shorter than its header", 0, 3, "\\StringFileInfo\\040904E4\\A"},
      {"root of another name", 4, 'X' | 'S' << 8, "\\StringFileInfo\\040904E4\\A"},
      {"fixed part too short", 2, 51, "\\"},
      {"fixed part unsigned", 20, 0, "\\"},
      {"string info length 0", 72, 0, "\\StringFileInfo\\040904E4\\A"},
      {"string info past the root", 72, 200, "\\StringFileInfo\\040904E4\\A"},
      {"table past its parent", 92, 27, "\\StringFileInfo\\040904E4\\A"},
      {"table length 0", 92, 0, "\\StringFileInfo\\040904E4\\A"},
      {"string length 0", 108, 0, "\\StringFileInfo\\040904E4\\A"},
      {"key without terminator", 108, 5, "\\StringFileInfo\\040904E4\\A"},
      {"value past its block", 110, 3, "\\StringFileInfo\\040904E4\\A"},
      {"value without terminator", 116, 'x' | 'y' << 8, "\\StringFileInfo\\040904E4\\A"},
      {"var info length 0", 120, 0, "\\VarFileInfo\\Translation"},
      {"translation past its parent", 136, 21, "\\VarFileInfo\\Translation"},
      {"translation value past its block", 138, 5, "\\VarFileInfo\\Translation"},
  };
  const std::vector<uint8_t> good = BuildVersionRecord(TinyContents());
  for (const TCase& c : cases)
    ASSERT_NE(Query(good.data(), c.Path).Result, 0) << c.What;
  for (const TCase& c : cases) {
    std::vector<uint8_t> record = good;
    SetWord(record, c.Offset, c.Word);
    const TAnswer answer = Query(record.data(), c.Path);
    EXPECT_EQ(answer.Result, 0) << c.What;
    EXPECT_EQ(answer.Buffer, nullptr) << c.What;
    ExpectAnswersInside(record.data(), record.size(), c.What);
  }
}

TEST(VerQueryValueA, StaysInsideEveryDamagedByte) {
  // The root's own length is the one number a reader must trust, so it is left alone.
  const std::vector<uint8_t> good = BuildVersionRecord(ProgramRecordContents());
  for (size_t offset = 2; offset < good.size(); ++offset)
    for (const uint8_t value : {uint8_t{0x00}, uint8_t{0x01}, uint8_t{0x7F}, uint8_t{0xFF}}) {
      auto record = std::make_unique<uint8_t[]>(good.size());
      std::memcpy(record.get(), good.data(), good.size());
      record[offset] = value;
      ExpectAnswersInside(record.get(), good.size(),
                          "byte " + std::to_string(offset) + " = " + std::to_string(value));
    }
}

TEST(GetFileVersionInfoA, ReadsTheRecordFromItsSection) {
  TTempDir dir;
  const std::vector<uint8_t> record = BuildVersionRecord(ProgramRecordContents());
  for (const bool bigEndian : {false, true}) {
    const std::string path = dir.MakeFile("viewer", ProgramElf(record, bigEndian).Bytes);
    uint32_t handle = 0xDEAD;
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), &handle), record.size()) << bigEndian;
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(ReadBack(path, static_cast<uint32_t>(record.size())), record) << bigEndian;

    // A larger buffer receives the record and nothing beyond it.
    std::vector<uint8_t> large(record.size() + 8, 0xAB);
    ASSERT_NE(
        GetFileVersionInfoA(path.c_str(), 0, static_cast<uint32_t>(large.size()), large.data()), 0);
    EXPECT_TRUE(std::equal(record.begin(), record.end(), large.begin()));
    EXPECT_EQ(large.back(), 0xAB);
  }
}

TEST(GetFileVersionInfoA, TakesTheRecordsOwnLengthFromALargerSection) {
  TTempDir dir;
  const std::vector<uint8_t> record = BuildVersionRecord(TinyContents());
  std::vector<uint8_t> padded = record;
  padded.resize(record.size() + 12, 0);
  const std::string path = dir.MakeFile("viewer", ProgramElf(padded).Bytes);
  uint32_t handle = 0;
  EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), &handle), record.size());
}

TEST(GetFileVersionInfoA, FindsSectionNumbersKeptInSectionZero) {
  // Files with 0xFF00 sections or more keep the count and the name-table index
  // in the first section header.
  TTempDir dir;
  const std::vector<uint8_t> record = BuildVersionRecord(TinyContents());
  TElfImage image = ProgramElf(record);
  image.Put(60, 0, 2);
  image.Put(62, 0xFFFF, 2);
  image.Put(image.Header(0) + 32, image.SectionCount, 8);
  image.Put(image.Header(0) + 40, image.SectionCount - 1, 4);
  const std::string path = dir.MakeFile("viewer", image.Bytes);
  uint32_t handle = 0;
  EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), &handle), record.size());
  EXPECT_EQ(ReadBack(path, static_cast<uint32_t>(record.size())), record);
}

TEST(GetFileVersionInfoA, AnswersZeroForFilesWithoutARecord) {
  TTempDir dir;
  const std::vector<uint8_t> record = BuildVersionRecord(TinyContents());
  const TElfImage good = ProgramElf(record);
  const size_t version = good.Header(2); // section 2 holds the record
  const size_t versionData = static_cast<size_t>(
      good.Bytes[version + 24] | good.Bytes[version + 25] << 8); // its offset, below 64 KiB
  struct TCase {
    const char* What;
    std::vector<uint8_t> Bytes;
  };
  std::vector<TCase> cases;
  auto damaged = [&](const char* what, size_t offset, uint64_t value, int size) {
    TElfImage image = good;
    image.Put(offset, value, size);
    cases.push_back({what, image.Bytes});
  };
  cases.push_back({"empty file", {}});
  cases.push_back({"text file", std::vector<uint8_t>(200, 'a')});
  cases.push_back(
      {"header only", std::vector<uint8_t>(good.Bytes.begin(), good.Bytes.begin() + 64)});
  cases.push_back({"cut before the section headers",
                   std::vector<uint8_t>(good.Bytes.begin(), good.Bytes.begin() + good.Header(2))});
  cases.push_back(
      {"no such section",
       MakeElf({{".text", 1, std::vector<uint8_t>(8, 0x90)}, {".data", 1, record}}).Bytes});
  cases.push_back({"a longer name", MakeElf({{".zandrel_versions", 1, record}}).Bytes});
  cases.push_back({"a shorter name", MakeElf({{".zandrel", 1, record}}).Bytes});
  damaged("bad magic", 1, 'e', 1);
  damaged("32-bit class", 4, 1, 1);
  damaged("unknown byte order", 5, 3, 1);
  damaged("unknown version", 6, 0, 1);
  damaged("no section headers", 40, 0, 8);
  damaged("section headers past the end", 40, good.Bytes.size(), 8);
  damaged("section headers at an absurd offset", 40, ~uint64_t{0} - 64, 8);
  damaged("other header size", 58, 40, 2);
  damaged("name table index past the count", 62, good.SectionCount, 2);
  damaged("name past the name table", version, 4096, 4);
  damaged("section past the end", version + 24, good.Bytes.size(), 8);
  damaged("section longer than the file", version + 32, good.Bytes.size(), 8);
  damaged("section of the NOBITS kind", version + 4, 8, 4);
  damaged("record of another name", versionData + 4, 'X', 1);
  damaged("record longer than its section", versionData, record.size() + 4, 2);
  damaged("record length 0", versionData, 0, 2);
  damaged("name table cut short", good.Header(good.SectionCount - 1) + 32, 3, 8);

  for (const TCase& c : cases) {
    const std::string path = dir.MakeFile("case", c.Bytes);
    uint32_t handle = 0xDEAD;
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), &handle), 0u) << c.What;
    EXPECT_EQ(handle, 0u) << c.What;
    EXPECT_EQ(ReadBack(path, static_cast<uint32_t>(record.size())), std::nullopt) << c.What;
  }
  for (const std::string& path :
       {dir.Root() + "/missing", dir.Root(), std::string(""), std::string("/proc/self/exe")}) {
    uint32_t handle = 0;
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), &handle), 0u) << path;
    EXPECT_EQ(ReadBack(path, 64), std::nullopt) << path;
  }
  uint32_t handle = 0;
  EXPECT_EQ(GetFileVersionInfoSizeA(nullptr, &handle), 0u);
}

TEST(GetFileVersionInfoA, KeepsEveryShortBufferQueryable) {
  TTempDir dir;
  const std::vector<uint8_t> record = BuildVersionRecord(ProgramRecordContents());
  const std::string path = dir.MakeFile("viewer", ProgramElf(record).Bytes);
  for (uint32_t len = 0; len <= record.size(); ++len) {
    const std::optional<std::vector<uint8_t>> copy = ReadBack(path, len);
    if (len < 4) {
      EXPECT_EQ(copy, std::nullopt) << len;
      continue;
    }
    ASSERT_TRUE(copy.has_value()) << len;
    EXPECT_EQ(WordAt(*copy, 0), len) << "root length follows the buffer";
    EXPECT_TRUE(std::equal(copy->begin() + 2, copy->end(), record.begin() + 2)) << len;
    ExpectAnswersInside(copy->data(), copy->size(), "buffer of " + std::to_string(len));
  }
  // Cut in the strings: the fixed part is still whole, the blocks that run past the cut are
  // refused as a whole.
  const std::optional<std::vector<uint8_t>> whole = ReadBack(path, uint32_t(record.size()));
  EXPECT_EQ(Text(Query(whole->data(), "\\StringFileInfo\\040904E4\\Comments")), "");
  const std::optional<std::vector<uint8_t>> half = ReadBack(path, uint32_t(record.size() / 2));
  EXPECT_EQ(Query(half->data(), "\\").Len, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(Query(half->data(), "\\StringFileInfo\\040904E4\\CompanyName").Result, 0);
  EXPECT_EQ(Query(half->data(), "\\VarFileInfo\\Translation").Result, 0);
}

TEST(GetSystemDefaultLangID, FollowsTheUsersLocale) {
  struct TCase {
    const char* All;
    const char* Messages;
    const char* Lang;
    uint16_t Want;
  };
  const TCase cases[] = {
      {nullptr, nullptr, nullptr, 0x0409},
      {nullptr, nullptr, "C", 0x0409},
      {nullptr, nullptr, "POSIX", 0x0409},
      {nullptr, nullptr, "C.UTF-8", 0x0409},
      {nullptr, nullptr, "en_US.UTF-8", 0x0409},
      {nullptr, nullptr, "en_GB.UTF-8", 0x0809},
      {nullptr, nullptr, "de_DE.UTF-8", 0x0407},
      {nullptr, nullptr, "de_AT.UTF-8@euro", 0x0C07},
      {nullptr, nullptr, "de_CH", 0x0807},
      {nullptr, nullptr, "fr_FR.UTF-8", 0x040C},
      {nullptr, nullptr, "fr_CA.UTF-8", 0x0C0C},
      {nullptr, nullptr, "es_ES.UTF-8", 0x0C0A},
      {nullptr, nullptr, "es_MX.UTF-8", 0x080A},
      {nullptr, nullptr, "it_IT.UTF-8", 0x0410},
      {nullptr, nullptr, "nl_NL.UTF-8", 0x0413},
      {nullptr, nullptr, "pt_BR.UTF-8", 0x0416},
      {nullptr, nullptr, "pt_PT.UTF-8", 0x0816},
      {nullptr, nullptr, "sv_SE.UTF-8", 0x041D},
      {nullptr, nullptr, "da_DK.UTF-8", 0x0406},
      {nullptr, nullptr, "nb_NO.UTF-8", 0x0414},
      {nullptr, nullptr, "fi_FI.UTF-8", 0x040B},
      {nullptr, nullptr, "pl_PL.UTF-8", 0x0415},
      {nullptr, nullptr, "cs_CZ.UTF-8", 0x0405},
      {nullptr, nullptr, "hu_HU.UTF-8", 0x040E},
      {nullptr, nullptr, "ru_RU.UTF-8", 0x0419},
      {nullptr, nullptr, "ja_JP.UTF-8", 0x0411},
      {nullptr, nullptr, "zh_CN.UTF-8", 0x0804},
      {nullptr, nullptr, "zh_TW.UTF-8", 0x0404},
      {nullptr, nullptr, "ko_KR.UTF-8", 0x0412},
      {nullptr, nullptr, "tr_TR.UTF-8", 0x041F},
      {nullptr, nullptr, "el_GR.UTF-8", 0x0408},
      {nullptr, nullptr, "de", 0x0407},
      {nullptr, nullptr, "fr", 0x040C},
      {nullptr, nullptr, "de_LI.UTF-8", 0x0407}, // country not in the table
      {nullptr, nullptr, "de-AT", 0x0C07},
      {nullptr, nullptr, "DE_at", 0x0C07},
      {nullptr, nullptr, "xx_YY.UTF-8", 0x0409},
      {nullptr, nullptr, "", 0x0409},
      {"fr_FR.UTF-8", "de_DE.UTF-8", "ja_JP.UTF-8", 0x040C},
      {nullptr, "de_DE.UTF-8", "ja_JP.UTF-8", 0x0407},
      {"", "", "ja_JP.UTF-8", 0x0411},
      {"C", "de_DE.UTF-8", "ja_JP.UTF-8", 0x0409},
  };
  TLocaleEnvironment saved;
  for (const TCase& c : cases) {
    TLocaleEnvironment::Set("LC_ALL", c.All);
    TLocaleEnvironment::Set("LC_MESSAGES", c.Messages);
    TLocaleEnvironment::Set("LANG", c.Lang);
    EXPECT_EQ(GetSystemDefaultLangID(), c.Want)
        << (c.All ? c.All : "-") << " " << (c.Messages ? c.Messages : "-") << " "
        << (c.Lang ? c.Lang : "-");
  }
}

} // namespace
