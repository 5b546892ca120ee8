#include "dragdrop/DragDropFile.h"
#include "dragdrop/DragDropPIDL.h"
#include "dragdrop/TestDataObject.h"
#include "platform/ItemIdLists.h"
#include "platform/Shell.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace dragdrop;
using testing_dd::Le32;
using testing_dd::TTestDataObject;
using testing_dd::Utf16Le;
namespace pf = platform;
using Names = std::vector<std::string>;

// A DROPFILES header: list offset, drop point, non-client flag, width flag.
std::string DropFilesHeader(uint32_t Offset, bool Wide) {
  return Le32(Offset) + Le32(10) + Le32(20) + Le32(0) + Le32(Wide ? 1 : 0);
}

std::string AnsiList(const Names& Items) {
  std::string bytes;
  for (const std::string& item : Items)
    bytes += item + std::string(1, '\0');
  return bytes + std::string(1, '\0');
}

std::string WideList(const std::vector<std::u16string>& Items) {
  std::string bytes;
  for (const std::u16string& item : Items)
    bytes += Utf16Le(item) + std::string(2, '\0');
  return bytes + std::string(2, '\0');
}

using testing_shell::End;
using testing_shell::Item;

// A "Shell IDList Array" of the given lists, laid out back to back after the offsets.
std::string IdListArray(const std::vector<std::string>& Lists) {
  std::string offsets = Le32(static_cast<uint32_t>(Lists.size() - 1));
  std::string data;
  uint32_t offset = static_cast<uint32_t>(4 + 4 * Lists.size());
  for (const std::string& list : Lists) {
    offsets += Le32(offset + static_cast<uint32_t>(data.size()));
    data += list;
  }
  return offsets + data;
}

CLIPFORMAT Registered(const char* Name) {
  return static_cast<CLIPFORMAT>(pf::RegisterClipboardFormatA(Name));
}

class TFileFormatsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { DragDropFileStartup(); }
  static void TearDownTestSuite() { DragDropFileShutdown(); }

  // Extracts both lists from Source the way the drop target does.
  void Extract(TTestDataObject& Source) {
    FilesResult = Files.GetData(&Source);
    MapsResult = Maps.GetData(&Source);
    EXPECT_TRUE(Source.AllMediaReleased());
  }

  TFileDataFormat Files{nullptr};
  TFileMapDataFormat Maps{nullptr};
  bool FilesResult = false;
  bool MapsResult = false;
};

TEST_F(TFileFormatsTest, FormatsAreTriedInTheirOrderOfPreference) {
  auto names = [](TCustomDataFormat& Format) {
    Names list;
    for (int i = 0; i < Format.CompatibleFormats().Count(); ++i)
      list.push_back(Format.CompatibleFormats().Items(i)->GetClipboardFormatName());
    return list;
  };
  EXPECT_EQ(names(Files), (Names{"", "Shell IDList Array", "FileNameW", "FileName"}));
  EXPECT_EQ(Files.CompatibleFormats().Items(0)->FormatEtc().cfFormat, pf::CF_HDROP);
  EXPECT_EQ(names(Maps), (Names{"FileNameMapW", "FileNameMap"}));
  TPIDLDataFormat pidls(nullptr);
  ASSERT_EQ(pidls.CompatibleFormats().Count(), 2);
  EXPECT_STREQ(pidls.CompatibleFormats().Items(0)->ClassName(), "TPIDLClipboardFormat");
  EXPECT_STREQ(pidls.CompatibleFormats().Items(1)->ClassName(), "TFileClipboardFormat");
}

TEST_F(TFileFormatsTest, ThreeFilesFromAnAnsiDropList) {
  for (DWORD media : {pf::TYMED_HGLOBAL, pf::TYMED_ISTREAM}) {
    TTestDataObject source;
    source.Offer(pf::CF_HDROP,
                 DropFilesHeader(20, false) + AnsiList({"/tmp/b.raw", "/tmp/a.raw", "/c"}), media);
    Extract(source);
    EXPECT_TRUE(FilesResult);
    EXPECT_EQ(Files.Files.ToVector(), (Names{"/tmp/b.raw", "/tmp/a.raw", "/c"}));
    EXPECT_FALSE(MapsResult);
    Files.Clear();
  }
}

TEST_F(TFileFormatsTest, WideDropListBecomesUtf8AndAZeroLowByteDoesNotEndIt) {
  TTestDataObject source;
  // The list starts after a gap, as pFiles allows.
  source.Offer(pf::CF_HDROP, DropFilesHeader(24, true) + "gap!" +
                                 WideList({u"/home/\u00e9t\u00e9.raw", u"\u4e00\u4e01", u"/x"}));
  Extract(source);
  EXPECT_EQ(Files.Files.ToVector(),
            (Names{"/home/\xc3\xa9t\xc3\xa9.raw", "\xe4\xb8\x80\xe4\xb8\x81", "/x"}));
}

TEST_F(TFileFormatsTest, OnlyAShellIdListArrayGivesPathsAndEmptyNamesForOtherItems) {
  const std::string parent =
      Item(pf::ITEMKIND_FILESYSTEM, "home") + Item(pf::ITEMKIND_FILESYSTEM, "ann") + End;
  TTestDataObject source;
  source.Offer(Registered("Shell IDList Array"),
               IdListArray({parent, Item(pf::ITEMKIND_FILESYSTEM, "scan.raw") + End,
                            Item(pf::ITEMKIND_OTHER, "Printers") + End,
                            Item(pf::ITEMKIND_FILESYSTEM, "sub") +
                                Item(pf::ITEMKIND_FILESYSTEM, "x.img") + End}),
               pf::TYMED_ISTREAM);
  Extract(source);
  EXPECT_TRUE(FilesResult);
  EXPECT_EQ(Files.Files.ToVector(), (Names{"/home/ann/scan.raw", "", "/home/ann/sub/x.img"}));
}

TEST_F(TFileFormatsTest, OnlyFileNameGivesOneNameCutAtItsZero) {
  TTestDataObject source;
  source.Offer(Registered("FileName"), std::string("/data/vol.raw\0junk", 18));
  Extract(source);
  EXPECT_EQ(Files.Files.ToVector(), (Names{"/data/vol.raw"}));
}

TEST_F(TFileFormatsTest, OnlyFileNameWKeepsTheZerosTheBlockEndsWith) {
  TTestDataObject source;
  source.Offer(Registered("FileNameW"), Utf16Le(u"/v.raw") + std::string(4, '\0'),
               pf::TYMED_ISTREAM);
  Extract(source);
  EXPECT_EQ(Files.Files.ToVector(), (Names{std::string("/v.raw\0\0", 8)}));
}

TEST_F(TFileFormatsTest, DropListAndNameMapFillBothLists) {
  TTestDataObject source;
  source.Offer(pf::CF_HDROP, DropFilesHeader(20, false) + AnsiList({"/t/Copy of a", "/t/b"}));
  source.Offer(Registered("FileNameMap"), AnsiList({"a", "b"}));
  source.Offer(Registered("FileName"), std::string("/not/this", 9));
  Extract(source);
  EXPECT_TRUE(FilesResult);
  EXPECT_TRUE(MapsResult);
  EXPECT_EQ(Files.Files.ToVector(), (Names{"/t/Copy of a", "/t/b"}));
  EXPECT_EQ(Maps.FileMaps.ToVector(), (Names{"a", "b"}));
  EXPECT_EQ(source.HandedOut.size(), 2u) << "FileName is not asked once CF_HDROP delivered";
}

TEST_F(TFileFormatsTest, WideNameMapIsPreferred) {
  TTestDataObject source;
  source.Offer(Registered("FileNameMap"), AnsiList({"ansi"}));
  source.Offer(Registered("FileNameMapW"), WideList({u"wide", u"\u4e00"}));
  Extract(source);
  EXPECT_EQ(Maps.FileMaps.ToVector(), (Names{"wide", "\xe4\xb8\x80"}));
}

struct TBadDrop {
  const char* Name;
  std::string Block;
  bool Result;
  Names Files;
};

// What damaged drop lists yield; the next format (here "FileName") is tried
// whenever nothing came out.
TEST_F(TFileFormatsTest, DamagedDropListsYieldWhatLiesInsideTheBlock) {
  const std::string header = DropFilesHeader(20, false);
  for (const TBadDrop& c : {
           TBadDrop{"header only", DropFilesHeader(20, false), true, {"/fallback"}},
           TBadDrop{
               "offset past the end", DropFilesHeader(4000, false) + "abc", true, {"/fallback"}},
           TBadDrop{"offset at the end", DropFilesHeader(23, false) + "abc", true, {"/fallback"}},
           TBadDrop{"empty first name", header + std::string(3, '\0') + "x", true, {"/fallback"}},
           TBadDrop{"last name unterminated", header + std::string("/a\0/b", 5), true, {"/a"}},
           TBadDrop{"no terminator at all", header + "/abc", true, {"/fallback"}},
           TBadDrop{"wide, odd tail",
                    DropFilesHeader(20, true) + Utf16Le(u"/a") + std::string(2, '\0') + "Z",
                    true,
                    {"/a"}},
           TBadDrop{"wide, unterminated",
                    DropFilesHeader(20, true) + Utf16Le(u"/a") + "Z",
                    true,
                    {"/fallback"}},
       }) {
    SCOPED_TRACE(c.Name);
    TTestDataObject source;
    source.Offer(pf::CF_HDROP, c.Block);
    source.Offer(Registered("FileName"), "/fallback");
    Files.Clear();
    EXPECT_EQ(Files.GetData(&source), c.Result);
    EXPECT_EQ(Files.Files.ToVector(), c.Files);
    EXPECT_TRUE(source.AllMediaReleased());
  }
}

TEST_F(TFileFormatsTest, DropListReaderRejectsShortBlocksWithoutTouchingItsList) {
  TFileClipboardFormat hdrop;
  hdrop.Files.Add("kept");
  const std::string block = DropFilesHeader(20, false);
  EXPECT_FALSE(hdrop.ReadData(block.data(), 20));
  EXPECT_EQ(hdrop.Files.ToVector(), (Names{"kept"}));
}

TEST(TReadZeroListTest, StopsAtAnEmptyNameOrTheEnd) {
  struct TCase {
    std::string Block;
    bool Wide;
    bool Result;
    Names Read;
  };
  for (const TCase& c : {
           TCase{std::string("a\0bc\0\0d\0", 8), false, true, {"a", "bc"}},
           TCase{std::string("a\0bc", 4), false, true, {"a"}},
           TCase{std::string("\0a\0", 3), false, false, {}},
           TCase{"", false, false, {}},
           TCase{Utf16Le(u"ab") + std::string(2, '\0') + Utf16Le(u"c"), true, true, {"ab"}},
           TCase{std::string("\0N\0\0", 4), true, true, {"\xe4\xb8\x80"}},
           TCase{std::string("a", 1), true, false, {}},
       }) {
    TStringList list;
    EXPECT_EQ(ReadZeroList(c.Block.data(), c.Block.size(), c.Wide, list), c.Result);
    EXPECT_EQ(list.ToVector(), c.Read) << c.Block.size();
  }
}

TEST(TFileWritersTest, DropListAndMapsAreLaidOutAsTheShellDoes) {
  TFileClipboardFormat hdrop;
  hdrop.Files.Add("/a");
  hdrop.Files.Add("/bc");
  ASSERT_EQ(hdrop.GetSize(), 21 + 2 + 5);
  std::string block(static_cast<size_t>(hdrop.GetSize()), 'x');
  ASSERT_TRUE(hdrop.WriteData(block.data(), hdrop.GetSize()));
  EXPECT_EQ(block, DropFilesHeader(20, false).replace(4, 8, std::string(8, '\0')) +
                       AnsiList({"/a", "/bc"}));

  TFilenameMapWClipboardFormat mapW;
  mapW.FileMaps.Add("a");
  mapW.FileMaps.Add("\xe4\xb8\x80");
  ASSERT_EQ(mapW.GetSize(), 2 * (1 + 2 + 2));
  std::string wide(10, 'x');
  ASSERT_TRUE(mapW.WriteData(wide.data(), 10));
  EXPECT_EQ(wide, WideList({u"a", u"\u4e00"}));
  EXPECT_FALSE(mapW.WriteData(wide.data(), 9));
}

TEST(TFilenameFormatsTest, SourceSideTakesTheFirstName) {
  TFileDataFormat files(nullptr);
  TFilenameClipboardFormat name;
  TFilenameWClipboardFormat wideName;
  EXPECT_FALSE(name.Assign(files));
  EXPECT_FALSE(wideName.Assign(files));
  files.Files.Add("/\xe4\xb8\x80");
  files.Files.Add("/second");
  EXPECT_TRUE(name.Assign(files));
  EXPECT_TRUE(wideName.Assign(files));
  EXPECT_EQ(name.Data, "/\xe4\xb8\x80");
  EXPECT_EQ(wideName.WideData, u"/\u4e00");
}

// Every pair of formats that hold a list copies it both ways, and refuses a
// format of another class so that the conversion map can try the next one.
TEST(TListFormatsTest, AssignAndAssignToCopyTheListBothWays) {
  const Names names = {"/a", "/\xe4\xb8\x80", "/c d"};
  auto fill = [&](TStrings& List) {
    for (const std::string& name : names)
      List.Add(name);
  };
  TFileDataFormat files(nullptr);
  TFileMapDataFormat maps(nullptr);
  TFileClipboardFormat hdrop;
  TFilenameMapClipboardFormat map;
  // Data format to clipboard format, with AssignTo and with Assign.
  fill(files.Files);
  fill(maps.FileMaps);
  ASSERT_TRUE(files.AssignTo(hdrop));
  EXPECT_EQ(hdrop.Files.ToVector(), names);
  ASSERT_TRUE(maps.AssignTo(map));
  EXPECT_EQ(map.FileMaps.ToVector(), names);
  TFileClipboardFormat hdrop2;
  ASSERT_TRUE(hdrop2.Assign(files));
  EXPECT_EQ(hdrop2.Files.ToVector(), names);
  TFilenameMapClipboardFormat map2;
  ASSERT_TRUE(map2.Assign(maps));
  EXPECT_EQ(map2.FileMaps.ToVector(), names);
  // Clipboard format to data format, with Assign and with AssignTo.
  TFileDataFormat files2(nullptr), files3(nullptr);
  ASSERT_TRUE(files2.Assign(hdrop));
  EXPECT_EQ(files2.Files.ToVector(), names);
  ASSERT_TRUE(hdrop.AssignTo(files3));
  EXPECT_EQ(files3.Files.ToVector(), names);
  TFileMapDataFormat maps2(nullptr), maps3(nullptr);
  ASSERT_TRUE(maps2.Assign(map));
  EXPECT_EQ(maps2.FileMaps.ToVector(), names);
  ASSERT_TRUE(map.AssignTo(maps3));
  EXPECT_EQ(maps3.FileMaps.ToVector(), names);
  // Formats of another class are refused and left alone.
  EXPECT_FALSE(files.Assign(map));
  EXPECT_FALSE(maps.AssignTo(hdrop2));
  EXPECT_FALSE(hdrop.Assign(maps));
  EXPECT_FALSE(map.AssignTo(files));
  EXPECT_EQ(files.Files.ToVector(), names);
  EXPECT_EQ(hdrop2.Files.ToVector(), names);
}

TEST(TFileDataFormatTest, ChangesOfTheListFireOnChanging) {
  TFileDataFormat files(nullptr);
  int changes = 0;
  files.OnChanging = [&](TCustomDataFormat& Sender) {
    EXPECT_EQ(&Sender, &files);
    ++changes;
  };
  files.Files.Add("a");
  files.Clear();
  EXPECT_EQ(changes, 2);
}

} // namespace
