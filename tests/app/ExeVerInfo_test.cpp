#include "app/ExeVerInfo.h"
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
#include <optional>
#include <string>
#include <vector>

namespace {

using platform::BuildVersionRecord;
using platform::TVersionRecordContents;

const char* const Keys[] = {"CompanyName",      "FileDescription", "FileVersion", "LegalCopyright",
                            "OriginalFilename", "ProductName",     "Comments"};

// The seven fields in the order of Keys.
std::vector<std::string> Fields(const TAppVerInfo& Info) {
  return {Info.CompanyName,      Info.FileDescription, Info.FileVersion, Info.LegalCopyright,
          Info.OriginalFilename, Info.ProductName,     Info.Comments};
}

const std::vector<std::string> NoFields(7);

const std::vector<std::string> ProgramFields = {
    "Zandrel Imaging", "Zandrel Viewer", ZANDREL_FILE_VERSION, "", "", "", ""};

// A table where every key has a value of its own, so that a swapped field shows.
platform::TVersionStringTable FullTable(const std::string& Block, const std::string& Tag) {
  platform::TVersionStringTable table{Block, {}};
  for (const char* key : Keys)
    table.Strings.push_back({key, Tag + " " + key});
  return table;
}

std::vector<std::string> FullFields(const std::string& Tag) {
  std::vector<std::string> fields;
  for (const char* key : Keys)
    fields.push_back(Tag + " " + key);
  return fields;
}

// A program file that serves Record, with the user's language fixed, that
// notes every call the reader makes.
struct TFakeHost {
  std::vector<uint8_t> Record;
  uint16_t Language = 0x0409;
  uint32_t Handle = 0;
  int ReadResult = 1;
  std::vector<std::string> Paths;
  std::vector<std::string> ReadCalls;

  TVersionInfoApi Api() {
    TVersionInfoApi api;
    api.GetFileVersionInfoSizeA = [this](const char*, uint32_t* handle) {
      *handle = Handle;
      return static_cast<uint32_t>(Record.size());
    };
    api.GetFileVersionInfoA = [this](const char* name, uint32_t handle, uint32_t len, void* data) {
      ReadCalls.push_back(std::string(name) + " " + std::to_string(handle) + " " +
                          std::to_string(len) + (data != nullptr ? " buffer" : " null"));
      if (ReadResult != 0)
        std::memcpy(data, Record.data(), std::min<size_t>(len, Record.size()));
      return ReadResult;
    };
    api.VerQueryValueA = [this](const void* block, const char* path, void** buffer, uint32_t* len) {
      Paths.push_back(path);
      return platform::VerQueryValueA(block, path, buffer, len);
    };
    api.GetSystemDefaultLangID = [this] { return Language; };
    return api;
  }

  std::vector<std::string> StringPaths() const {
    std::vector<std::string> paths;
    for (const std::string& path : Paths)
      if (path.starts_with("\\StringFileInfo\\"))
        paths.push_back(path);
    return paths;
  }
};

std::vector<std::string> PathsFor(const std::vector<std::string>& Blocks) {
  std::vector<std::string> paths;
  for (const char* key : Keys)
    for (const std::string& block : Blocks)
      paths.push_back("\\StringFileInfo\\" + block + "\\" + key);
  return paths;
}

TEST(TAppVerInfo, CutsTheBaseNameBeforeTheFirstDot) {
  struct TCase {
    const char* Path;
    const char* BaseName;
  };
  for (const TCase& c : {TCase{"/opt/viewer/my.viewer.exe", "my"},
                         {"/usr/bin/zandrel", "zandrel"},
                         {"/home/ann/tools.d/zandrel", "zandrel"},
                         {"/home/a.b/c.d/my.viewer.exe", "my"},
                         {"zandrel", "zandrel"},
                         {"/usr/bin/.hidden", ""}}) {
    TFakeHost host;
    const TAppVerInfo info(c.Path, host.Api());
    EXPECT_EQ(info.ExePath, c.Path);
    EXPECT_EQ(info.ExeBaseName, c.BaseName) << c.Path;
  }
}

TEST(TAppVerInfo, ReadsTheRunningProgram) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const TAppVerInfo info;
  EXPECT_EQ(info.ExePath, self);
  EXPECT_EQ(info.ExeBaseName, "ExeVerInfo_test");
  // The test program carries no record.
  EXPECT_EQ(info.InfoSize, 0u);
  EXPECT_EQ(Fields(info), NoFields);
  EXPECT_EQ(AppVerInfo().ExePath, self);
}

TEST(TAppVerInfo, ReadsEveryFieldFromTheUsEnglishBlock) {
  TFakeHost host;
  TVersionRecordContents contents = ProgramRecordContents();
  contents.StringTables = {FullTable("040904E4", "en")};
  host.Record = BuildVersionRecord(contents);
  const TAppVerInfo info("/usr/bin/zandrel", host.Api());
  EXPECT_EQ(info.InfoSize, host.Record.size());
  EXPECT_EQ(Fields(info), FullFields("en"));
  EXPECT_EQ(host.StringPaths(), PathsFor({"040904E4"}));
}

TEST(TAppVerInfo, ReadsTheProgramsRecordInUsEnglish) {
  TFakeHost host;
  host.Record = BuildVersionRecord(ProgramRecordContents());
  const TAppVerInfo info("/usr/bin/zandrel", host.Api());
  EXPECT_EQ(Fields(info), ProgramFields);
  // Empty values are found, so nothing is looked up twice.
  EXPECT_EQ(host.StringPaths(), PathsFor({"040904E4"}));
}

TEST(TAppVerInfo, FallsBackToTheRecordsOwnLanguageForGerman) {
  TFakeHost host;
  host.Language = 0x0407;
  host.Record = BuildVersionRecord(ProgramRecordContents());
  const TAppVerInfo info("/usr/bin/zandrel", host.Api());
  EXPECT_EQ(info.FileDescription, "Zandrel Viewer");
  EXPECT_EQ(Fields(info), ProgramFields);
  EXPECT_EQ(host.StringPaths(), PathsFor({"040704E4", "040904E4"}));
}

TEST(TAppVerInfo, PrefersTheUsersLanguageKeyByKey) {
  TFakeHost host;
  host.Language = 0x0407;
  TVersionRecordContents contents = ProgramRecordContents();
  contents.StringTables = {FullTable("040904E4", "en"),
                           {"040704E4",
                            {{"CompanyName", "de CompanyName"},
                             {"FileDescription", "de FileDescription"},
                             {"Comments", ""}}}};
  host.Record = BuildVersionRecord(contents);
  const TAppVerInfo info("/usr/bin/zandrel", host.Api());
  // An empty value in the user's block is that block's answer.
  EXPECT_EQ(Fields(info), (std::vector<std::string>{"de CompanyName", "de FileDescription",
                                                    "en FileVersion", "en LegalCopyright",
                                                    "en OriginalFilename", "en ProductName", ""}));
}

TEST(TAppVerInfo, FallsBackToTheFirstTranslationEntry) {
  TFakeHost host;
  host.Language = 0x0407;
  TVersionRecordContents contents = ProgramRecordContents();
  contents.StringTables = {FullTable("040904E4", "en"), FullTable("041D04B0", "sv")};
  contents.Translations = {{0x041D, 0x04B0}, {0x0409, 0x04E4}};
  host.Record = BuildVersionRecord(contents);
  const TAppVerInfo info("/usr/bin/zandrel", host.Api());
  EXPECT_EQ(Fields(info), FullFields("sv"));
  EXPECT_EQ(host.StringPaths(), PathsFor({"040704E4", "041D04B0"}));
}

TEST(TAppVerInfo, NamesBlocksInUpperCaseHexadecimal) {
  TVersionRecordContents contents = ProgramRecordContents();
  contents.StringTables = {FullTable("0C0A04E4", "es")};
  contents.Translations.clear();
  {
    TFakeHost host;
    host.Language = 0x0C0A;
    host.Record = BuildVersionRecord(contents);
    const TAppVerInfo info("/usr/bin/zandrel", host.Api());
    EXPECT_EQ(Fields(info), FullFields("es"));
    EXPECT_EQ(host.StringPaths(), PathsFor({"0C0A04E4"}));
  }
  {
    // The same rule for the translation entry, code page included.
    contents.StringTables = {FullTable("0C0A04B0", "es")};
    contents.Translations = {{0x0C0A, 0x04B0}};
    TFakeHost host;
    host.Record = BuildVersionRecord(contents);
    const TAppVerInfo info("/usr/bin/zandrel", host.Api());
    EXPECT_EQ(Fields(info), FullFields("es"));
    EXPECT_EQ(host.StringPaths(), PathsFor({"040904E4", "0C0A04B0"}));
  }
}

TEST(TAppVerInfo, LeavesFieldsEmptyWithoutAMatchingBlock) {
  TFakeHost host;
  host.Language = 0x0407;
  TVersionRecordContents contents = ProgramRecordContents();
  contents.Translations.clear();
  host.Record = BuildVersionRecord(contents);
  const TAppVerInfo info("/usr/bin/zandrel", host.Api());
  EXPECT_EQ(info.InfoSize, host.Record.size());
  EXPECT_EQ(Fields(info), NoFields);
}

TEST(TAppVerInfo, LeavesEverythingEmptyForAFileWithoutARecord) {
  std::string folder = (std::filesystem::temp_directory_path() / "zandrel-exever-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  const std::string plain = folder + "/plain.exe";
  std::ofstream(plain) << "no record in here\n";
  for (const std::string& path : {plain, folder + "/missing", std::string()}) {
    const TAppVerInfo info(path);
    EXPECT_EQ(info.InfoSize, 0u) << path;
    EXPECT_EQ(Fields(info), NoFields) << path;
  }
  std::filesystem::remove_all(folder);
}

TEST(TAppVerInfo, LeavesEverythingEmptyWhenTheRecordCannotBeRead) {
  TFakeHost host;
  host.Record = BuildVersionRecord(ProgramRecordContents());
  host.ReadResult = 0;
  host.Handle = 0x5A5A;
  const TAppVerInfo info("/usr/bin/zandrel", host.Api());
  EXPECT_EQ(info.InfoSize, host.Record.size());
  EXPECT_EQ(info.InfoHandle, 0x5A5Au);
  EXPECT_EQ(Fields(info), NoFields);
  EXPECT_EQ(host.ReadCalls,
            std::vector<std::string>{"/usr/bin/zandrel 0 " + std::to_string(host.Record.size()) +
                                     " buffer"});
  EXPECT_TRUE(host.Paths.empty());
}

TEST(TAppVerInfo, ReadsTheRecordOfTheBuiltProgram) {
  TVersionInfoApi api = TVersionInfoApi::Host();
  api.GetSystemDefaultLangID = [] { return uint16_t{0x0409}; };
  const TAppVerInfo info(ZANDREL_PROGRAM_FILE, api);
  ASSERT_GT(info.InfoSize, 0u) << ZANDREL_PROGRAM_FILE;
  EXPECT_EQ(info.ExeBaseName, "zandrel");
  EXPECT_EQ(Fields(info), ProgramFields);
}

TEST(TAppVerInfo, ReadsTheBuiltProgramInAGermanLocale) {
  TLocaleEnvironment saved;
  TLocaleEnvironment::Set("LC_ALL", nullptr);
  TLocaleEnvironment::Set("LC_MESSAGES", nullptr);
  TLocaleEnvironment::Set("LANG", "de_DE.UTF-8");
  const TAppVerInfo info(ZANDREL_PROGRAM_FILE);
  EXPECT_EQ(info.FileDescription, "Zandrel Viewer");
  EXPECT_EQ(info.FileVersion, ZANDREL_FILE_VERSION);
}

TEST(TAppVerInfo, BuiltProgramCarriesTheWholeRecord) {
  uint32_t handle = 0;
  const uint32_t size = platform::GetFileVersionInfoSizeA(ZANDREL_PROGRAM_FILE, &handle);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> record(size);
  ASSERT_NE(platform::GetFileVersionInfoA(ZANDREL_PROGRAM_FILE, 0, size, record.data()), 0);

  void* value = nullptr;
  uint32_t len = 0;
  ASSERT_NE(platform::VerQueryValueA(record.data(), "\\", &value, &len), 0);
  ASSERT_EQ(len, sizeof(platform::VS_FIXEDFILEINFO));
  platform::VS_FIXEDFILEINFO fixed;
  std::memcpy(&fixed, value, sizeof fixed);
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00000003u); // 0.3
  EXPECT_EQ(fixed.dwFileVersionLS, 0u);          // .0.0
  EXPECT_EQ(fixed.dwProductVersionMS, 0x00000003u);
  EXPECT_EQ(fixed.dwProductVersionLS, 0u);
  EXPECT_EQ(fixed.dwFileType, 1u); // application
  EXPECT_EQ(fixed.dwFileOS, 4u);   // 32-bit Windows
  EXPECT_EQ(fixed.dwFileFlags, 0u);

  ASSERT_NE(platform::VerQueryValueA(record.data(), "\\VarFileInfo\\Translation", &value, &len), 0);
  ASSERT_EQ(len, 4u);
  const auto* entry = static_cast<const uint8_t*>(value);
  EXPECT_EQ(std::vector<uint8_t>(entry, entry + 4), (std::vector<uint8_t>{0x09, 0x04, 0xE4, 0x04}));

  struct TCase {
    const char* Key;
    const char* Value;
  };
  for (const TCase& c : {TCase{"ProductVersion", "1.0.0.0"},
                         {"InternalName", ""},
                         {"LegalCopyright", ""},
                         {"LegalTrademarks", ""},
                         {"OriginalFilename", ""},
                         {"ProductName", ""},
                         {"Comments", ""}}) {
    const std::string path = std::string("\\StringFileInfo\\040904E4\\") + c.Key;
    ASSERT_NE(platform::VerQueryValueA(record.data(), path.c_str(), &value, &len), 0) << c.Key;
    EXPECT_EQ(std::string(static_cast<const char*>(value)), c.Value) << c.Key;
  }
}

} // namespace
