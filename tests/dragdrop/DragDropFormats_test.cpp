#include "dragdrop/DragDropFormats.h"
#include "dragdrop/TestDataObject.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace dragdrop;
using testing_dd::Le32;
using testing_dd::TTestDataObject;
namespace pf = platform;

// The plain string family under a name of its own; TrimZeroes stays off.
class TPlainStringFormat : public TCustomStringClipboardFormat {
public:
  CLIPFORMAT GetClipboardFormat() const override { return pf::CF_TEXT; }
};

class TPlainWideFormat : public TCustomWideTextClipboardFormat {
public:
  CLIPFORMAT GetClipboardFormat() const override { return pf::CF_UNICODETEXT; }
};

// Reads Bytes through Format from global memory and from a stream; both must agree.
template <class TFormat, class TRead>
void ExpectReadBothWays(const std::string& Bytes, bool Result, TRead Read) {
  for (DWORD media : {pf::TYMED_HGLOBAL, pf::TYMED_ISTREAM}) {
    SCOPED_TRACE(media == pf::TYMED_HGLOBAL ? "global memory" : "stream");
    TFormat format;
    TTestDataObject source;
    source.Offer(format.FormatEtc().cfFormat, Bytes, media);
    EXPECT_EQ(format.GetData(&source), Result);
    Read(format);
    EXPECT_TRUE(source.AllMediaReleased());
  }
}

TEST(TStringFormatsTest, TextCutsAtTheFirstZeroAndAPlainStringKeepsIt) {
  const std::string block("abc\0\0\0", 6);
  ExpectReadBothWays<TTextClipboardFormat>(
      block, true, [](TTextClipboardFormat& f) { EXPECT_EQ(f.Data, "abc"); });
  ExpectReadBothWays<TPlainStringFormat>(block, true,
                                         [&](TPlainStringFormat& f) { EXPECT_EQ(f.Data, block); });
}

TEST(TStringFormatsTest, WideTextTakesWholeCharactersAndKeepsZeros) {
  // 7 bytes: three characters, the odd byte is not half a fourth.
  const std::string block("a\0\0\0b\0c", 7);
  ExpectReadBothWays<TPlainWideFormat>(
      block, true, [](TPlainWideFormat& f) { EXPECT_EQ(f.WideData, std::u16string(u"a\0b", 3)); });
  // One byte reads as no characters at all: the read succeeds but holds no data,
  // which is what makes extraction move on.
  ExpectReadBothWays<TPlainWideFormat>(std::string("x", 1), true,
                                       [](TPlainWideFormat& f) { EXPECT_FALSE(f.HasData()); });
}

TEST(TStringFormatsTest, WriteSizesCountTheTerminatorOnce) {
  struct TCase {
    std::string Data;
    int32_t StringSize;
    int32_t TextSize;
  };
  for (const TCase& c :
       {TCase{"abc", 3, 4}, TCase{std::string("ab\0", 3), 3, 3}, TCase{"", 0, 0}}) {
    TPlainStringFormat plain;
    TTextClipboardFormat text;
    plain.Data = text.Data = c.Data;
    EXPECT_EQ(plain.GetSize(), c.StringSize) << c.Data.size();
    EXPECT_EQ(text.GetSize(), c.TextSize) << c.Data.size();
  }
  TTextClipboardFormat text;
  text.Data = "abc";
  char block[5] = {'x', 'x', 'x', 'x', 'x'};
  EXPECT_TRUE(text.WriteData(block, 4));
  EXPECT_EQ(std::string(block, 4), std::string("abc\0", 4));
  EXPECT_FALSE(text.WriteData(block, 5)) << "more than the text and its terminator";

  struct TWideCase {
    std::u16string Data;
    int32_t Size;
  };
  for (const TWideCase& c :
       {TWideCase{u"ab", 6}, TWideCase{std::u16string(u"ab\0", 3), 6}, TWideCase{u"", 0}}) {
    TPlainWideFormat wide;
    wide.WideData = c.Data;
    EXPECT_EQ(wide.GetSize(), c.Size) << c.Data.size();
  }
}

TEST(TDWORDFormatsTest, ValueIsTheFirstFourBytesLittleEndian) {
  ExpectReadBothWays<TPreferredDropEffectClipboardFormat>(
      Le32(0x80000005) + "tail", true, [](TPreferredDropEffectClipboardFormat& f) {
        EXPECT_EQ(f.Value, 0x80000005u);
        EXPECT_TRUE(f.ValueAsBoolean());
      });
  ExpectReadBothWays<TPreferredDropEffectClipboardFormat>(
      std::string("\x01\x02\x03", 3), false,
      [](TPreferredDropEffectClipboardFormat& f) { EXPECT_EQ(f.Value, 0u); });
}

TEST(TDWORDFormatsTest, WrittenValueIsAFourByteStreamAtItsEndOrGlobalMemory) {
  struct TCase {
    DWORD Requested;
    DWORD Media;
  };
  for (const TCase& c :
       {TCase{pf::TYMED_HGLOBAL | pf::TYMED_ISTREAM, pf::TYMED_ISTREAM},
        TCase{pf::TYMED_ISTREAM, pf::TYMED_ISTREAM}, TCase{pf::TYMED_HGLOBAL, pf::TYMED_HGLOBAL}}) {
    TPerformedDropEffectClipboardFormat performed;
    performed.Value = pf::DROPEFFECT_COPY | pf::DROPEFFECT_LINK;
    TTestDataObject target;
    pf::STGMEDIUM medium{};
    FORMATETC requested{performed.FormatEtc().cfFormat, nullptr, pf::DVASPECT_CONTENT, -1,
                        c.Requested};
    ASSERT_TRUE(performed.SetData(&target, requested, medium));
    ASSERT_EQ(target.Received.size(), 1u);
    const testing_dd::TReceived& received = target.Received[0];
    EXPECT_EQ(received.Format, performed.FormatEtc().cfFormat);
    EXPECT_EQ(received.Media, c.Media);
    EXPECT_EQ(received.Bytes, Le32(5));
    if (c.Media == pf::TYMED_ISTREAM) {
      EXPECT_EQ(received.StreamPosition, 4u);
    }
  }
}

TEST(TDWORDFormatsTest, BooleanViewWritesZeroOrOne) {
  TPasteSuccededClipboardFormat paste;
  paste.SetValueAsBoolean(true);
  EXPECT_EQ(paste.Value, 1u);
  paste.SetValueAsBoolean(false);
  EXPECT_EQ(paste.Value, 0u);
  char block[4];
  EXPECT_FALSE(paste.WriteData(block, 3));
  EXPECT_FALSE(paste.WriteData(block, 5));
}

TEST(TTargetCLSIDFormatTest, OnlySixteenBytesAreAClassId) {
  std::string bytes;
  for (int i = 1; i <= 16; ++i)
    bytes += static_cast<char>(i);
  ExpectReadBothWays<TTargetCLSIDClipboardFormat>(bytes, true, [](TTargetCLSIDClipboardFormat& f) {
    EXPECT_EQ(f.CLSID.Data1, 0x04030201u);
    EXPECT_EQ(f.CLSID.Data2, 0x0605u);
    EXPECT_EQ(f.CLSID.Data4[7], 16);
    EXPECT_TRUE(f.HasData());
  });
  for (const std::string& wrong : {bytes.substr(0, 15), bytes + "x"})
    ExpectReadBothWays<TTargetCLSIDClipboardFormat>(
        wrong, false, [](TTargetCLSIDClipboardFormat& f) { EXPECT_FALSE(f.HasData()); });
}

TEST(TFeedbackFormatsTest, EachHasItsRegisteredName) {
  TPreferredDropEffectClipboardFormat preferred;
  TPerformedDropEffectClipboardFormat performed;
  TLogicalPerformedDropEffectClipboardFormat logical;
  TPasteSuccededClipboardFormat paste;
  TInShellDragLoopClipboardFormat loop;
  TTargetCLSIDClipboardFormat target;
  TFileContentsClipboardFormat contents;
  TFileContentsStreamClipboardFormat contentsStream;
  TFileGroupDescritorClipboardFormat group;
  TFileGroupDescritorWClipboardFormat groupW;
  struct TCase {
    TClipboardFormat* Format;
    const char* Name;
  };
  for (const TCase& c :
       {TCase{&preferred, "Preferred DropEffect"}, TCase{&performed, "Performed DropEffect"},
        TCase{&logical, "Logical Performed DropEffect"}, TCase{&paste, "Paste Succeeded"},
        TCase{&loop, "InShellDragLoop"}, TCase{&target, "TargetCLSID"},
        TCase{&contents, "FileContents"}, TCase{&contentsStream, "FileContents"},
        TCase{&group, "FileGroupDescriptor"}, TCase{&groupW, "FileGroupDescriptorW"}}) {
    EXPECT_EQ(c.Format->GetClipboardFormatName(), c.Name);
    EXPECT_EQ(c.Format->FormatEtc().cfFormat, pf::RegisterClipboardFormatA(c.Name));
  }
}

struct TEntryText {
  std::string DataFormat;
  std::string ClipboardFormat;
  int32_t Priority;
  bool Source;
  bool Target;
  DWORD FormatDirections;
  friend bool operator==(const TEntryText&, const TEntryText&) = default;
  friend std::ostream& operator<<(std::ostream& Out, const TEntryText& E) {
    return Out << E.DataFormat << "/" << E.ClipboardFormat << "/" << E.Priority << "/" << E.Source
               << E.Target << "/" << E.FormatDirections;
  }
};

TEST(TFormatsModuleTest, StartupRegistersTheTableAndShutdownRemovesIt) {
  DragDropFormatsStartup();
  std::vector<TEntryText> entries;
  for (int i = 0; i < DataFormatMap().Count(); ++i) {
    const TConversionEntry& e = DataFormatMap().Items(i);
    entries.push_back({e.DataFormat->Name, e.ClipboardFormat->Name, e.Priority,
                       e.Directions.Contains(ddSource), e.Directions.Contains(ddTarget),
                       e.FormatDirections});
  }
  const DWORD get = pf::DATADIR_GET;
  const DWORD set = pf::DATADIR_SET;
  // Equal priorities of one data format list the later registration first.
  const std::vector<TEntryText> expected{
      {"TTextDataFormat", "TTextClipboardFormat", 0, true, true, get},
      {"TTextDataFormat", "TFileGroupDescritorWClipboardFormat", 1, true, false, get},
      {"TTextDataFormat", "TFileGroupDescritorClipboardFormat", 1, true, false, get},
      {"TTextDataFormat", "TFileContentsClipboardFormat", 1, true, true, get},
      {"TFeedbackDataFormat", "TLogicalPerformedDropEffectClipboardFormat", 0, true, true, set},
      {"TFeedbackDataFormat", "TTargetCLSIDClipboardFormat", 0, true, true, set},
      {"TFeedbackDataFormat", "TInShellDragLoopClipboardFormat", 0, true, true, get},
      {"TFeedbackDataFormat", "TPasteSuccededClipboardFormat", 0, true, true, set},
      {"TFeedbackDataFormat", "TPerformedDropEffectClipboardFormat", 0, true, true, set},
      {"TFeedbackDataFormat", "TPreferredDropEffectClipboardFormat", 0, true, true, get},
      {"TDataStreamDataFormat", "TFileContentsStreamClipboardFormat", 0, false, true, get},
  };
  EXPECT_EQ(entries, expected);
  ASSERT_EQ(DataFormatClasses().Count(), 3);
  EXPECT_STREQ(DataFormatClasses().Items(0).Name, "TTextDataFormat");
  EXPECT_STREQ(DataFormatClasses().Items(1).Name, "TDataStreamDataFormat");
  EXPECT_STREQ(DataFormatClasses().Items(2).Name, "TVirtualFileStreamDataFormat");

  DragDropFormatsStartup();
  DragDropFormatsShutdown();
  EXPECT_EQ(DataFormatMap().Count(), static_cast<int>(expected.size())) << "still started once";
  DragDropFormatsShutdown();
  EXPECT_EQ(DataFormatMap().Count(), 0);
  EXPECT_EQ(DataFormatClasses().Count(), 0);
}

} // namespace
