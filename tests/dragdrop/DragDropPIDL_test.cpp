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
namespace pf = platform;
using Names = std::vector<std::string>;

using testing_shell::End;
using testing_shell::Fs;
using testing_shell::Item;

// Count, then the given offsets, then Data.
std::string Array(uint32_t Count, const std::vector<uint32_t>& Offsets, const std::string& Data) {
  std::string block = Le32(Count);
  for (uint32_t offset : Offsets)
    block += Le32(offset);
  return block + Data;
}

struct TCase {
  const char* Name;
  std::string Block;
  bool Result;
  Names Lists; // the raw entries read
};

TEST(TReadCIDATest, EveryListMustLieInsideTheBlock) {
  const std::string parent = Fs("p") + End; // 6 bytes
  const std::string a = Fs("a") + End;      // 6 bytes
  const std::string b = Fs("bb") + End;     // 7 bytes
  // Two items: 4 + 3 * 4 = 16 bytes of header, data from offset 16.
  const std::string data = parent + a + b;
  const std::vector<uint32_t> good{16, 22, 28};
  for (const TCase& c : {
           TCase{"well formed", Array(2, good, data), true, {parent, a, b}},
           TCase{
               "shared parent list as an item", Array(1, {12, 12}, parent), true, {parent, parent}},
           TCase{"count too large for the block", Array(5, good, data), false, {}},
           TCase{"huge count", Array(0xFFFFFFFF, good, data), false, {}},
           TCase{"no items", Array(0, {8}, End), false, {End}},
           TCase{"no room for the parent's offset", Le32(0), false, {}},
           TCase{"fewer than four bytes", std::string(3, '\0'), false, {}},
           TCase{"item offset past the end", Array(2, {16, 22, 9999}, data), true, {parent, a}},
           TCase{
               "bad first item hides later ones", Array(2, {16, 9999, 28}, data), false, {parent}},
           TCase{"parent offset past the end", Array(2, {9999, 22, 28}, data), false, {}},
           TCase{"item runs past the end",
                 Array(2, {16, 22, 28}, parent + a + Fs("bb")),
                 true,
                 {parent, a}},
           TCase{"item size leads past the end",
                 Array(1, {12, 18}, parent + std::string("\xff\x7f", 2) + "xxxx"),
                 false,
                 {parent}},
           TCase{"terminator cut in half",
                 Array(1, {12, 18}, parent + Fs("a") + std::string(1, '\0')),
                 false,
                 {parent}},
       }) {
    SCOPED_TRACE(c.Name);
    TPIDLClipboardFormat format;
    EXPECT_EQ(format.ReadData(c.Block.data(), static_cast<int32_t>(c.Block.size())), c.Result);
    EXPECT_EQ(format.PIDLs.ToVector(), c.Lists);
  }
}

TEST(TReadCIDATest, ListOfOneByteItemsIsWalkedWithinTheBlock) {
  // A size field of 1 steps one byte on, onto the zero size that ends the list.
  const std::string odd = std::string("\x01\x00\x00", 3);
  const std::string block = Array(1, {12, 12}, odd);
  TPIDLClipboardFormat format;
  EXPECT_TRUE(format.ReadData(block.data(), static_cast<int32_t>(block.size())));
  EXPECT_EQ(format.PIDLs.ToVector(), (Names{odd, odd}));
  EXPECT_EQ(format.Filenames.Get(0), "") << "not a path, and nothing read outside the list";
}

TEST(TPIDLsToFilenamesTest, PathsJoinTheParentWithEachItem) {
  TPIDLClipboardFormat format;
  format.PIDLs.Add(Fs("srv") + Fs("scans") + End);
  format.PIDLs.Add(Fs("head.raw") + End);
  format.PIDLs.Add(Item(pf::ITEMKIND_OTHER, "Recycle Bin") + End);
  format.PIDLs.Add(Fs("2024") + Fs("t1.img") + End);
  format.PIDLs.Add(Fs("no") + "\x01"); // not a list: never handed to the shell
  ASSERT_EQ(format.Filenames.Count(), 4);
  EXPECT_EQ(format.Filenames.ToVector(),
            (Names{"/srv/scans/head.raw", "", "/srv/scans/2024/t1.img", ""}));
}

TEST(TPIDLsToFilenamesTest, DesktopParentOfTwoBytesAddsNothing) {
  TPIDLClipboardFormat format;
  format.PIDLs.Add(End);
  format.PIDLs.Add(Fs("etc") + Fs("hosts") + End);
  EXPECT_EQ(format.Filenames.Get(0), "/etc/hosts");
  EXPECT_EQ(JoinPIDLs("\x05", "child"), "child");
  EXPECT_EQ(JoinPIDLs(std::string("ab\0\0", 4), "c"), "abc");
}

TEST(TPIDLsToFilenamesTest, IndexOutsideTheListRaises) {
  TPIDLClipboardFormat format;
  auto expectOutOfRange = [&](int Index) {
    try {
      format.Filenames.Get(Index);
      ADD_FAILURE() << Index << " read";
    } catch (const EDragDropError& error) {
      EXPECT_STREQ(error.what(), "Filename index out of range");
    }
  };
  EXPECT_EQ(format.Filenames.Count(), 0);
  expectOutOfRange(0);
  format.PIDLs.Add(End);
  EXPECT_EQ(format.Filenames.Count(), 0) << "a parent alone has no items";
  expectOutOfRange(0);
  format.PIDLs.Add(Fs("a") + End);
  EXPECT_EQ(format.Filenames.Count(), 1);
  expectOutOfRange(-1);
  expectOutOfRange(1);
  EXPECT_EQ(format.Filenames.Get(0), "/a");
}

TEST(TPIDLsToFilenamesTest, WritingThroughTheViewChangesNothing) {
  TPIDLClipboardFormat format;
  format.PIDLs.Add(End);
  format.PIDLs.Add(Fs("a") + End);
  format.Filenames.Put(0, "/b");
  format.Filenames.Insert(0, "/c");
  format.Filenames.Delete(0);
  format.Filenames.Clear();
  EXPECT_EQ(format.Filenames.ToVector(), (Names{"/a"}));
  EXPECT_EQ(format.PIDLs.Count(), 2);
}

TEST(TPIDLWriterTest, OffsetsThenListsBackToBack) {
  TPIDLClipboardFormat format;
  const std::string parent = Fs("p") + End;
  const std::string a = Fs("a") + End;
  format.PIDLs.Add(parent);
  format.PIDLs.Add(a);
  ASSERT_EQ(format.GetSize(), 4 + 4 * 2 + 12);
  std::string block(24, 'x');
  ASSERT_TRUE(format.WriteData(block.data(), 24));
  EXPECT_EQ(block, Array(1, {12, 18}, parent + a));
  TPIDLClipboardFormat back;
  EXPECT_TRUE(back.ReadData(block.data(), 24));
  EXPECT_EQ(back.PIDLs.ToVector(), (Names{parent, a}));
}

TEST(TPIDLDataFormatTest, TakesTheRawListsFromTheIdListFormat) {
  DragDropPIDLStartup();
  {
    TPIDLDataFormat data(nullptr);
    testing_dd::TTestDataObject source;
    TPIDLClipboardFormat format;
    const std::string block = Array(1, {12, 18}, Fs("p") + End + Fs("a") + End);
    source.Offer(format.FormatEtc().cfFormat, block, pf::TYMED_ISTREAM);
    EXPECT_TRUE(data.GetData(&source));
    EXPECT_EQ(data.Filenames.ToVector(), (Names{"/p/a"}));
    EXPECT_TRUE(source.AllMediaReleased());
  }
  DragDropPIDLShutdown();
}

} // namespace
