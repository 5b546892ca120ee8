#include "dragdrop/DragDrop.h"
#include "dragdrop/TestDataObject.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace dragdrop;
using platform::DATADIR_GET;
using platform::DATADIR_SET;
using testing_dd::TOffer;
using testing_dd::TTestDataObject;

// A 4-byte little-endian counter format, enough to exercise the simple-format
// machinery without the generic families.
class TCounterFormat : public TCustomSimpleClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }
  CLIPFORMAT GetClipboardFormat() const override {
    return static_cast<CLIPFORMAT>(platform::RegisterClipboardFormatA("Zandrel Test Counter"));
  }
  std::string Bytes;
  bool ReadData(const void* Block, int32_t Size) override {
    Bytes.assign(static_cast<const char*>(Block), static_cast<size_t>(Size));
    return true;
  }
  bool WriteData(void* Block, int32_t Size) override {
    if (Size != GetSize())
      return false;
    std::memcpy(Block, Bytes.data(), Bytes.size());
    return true;
  }
  int32_t GetSize() const override { return static_cast<int32_t>(Bytes.size()); }
  void Clear() override { Bytes.clear(); }
  bool HasData() const override { return !Bytes.empty(); }
};
const TClipboardFormatClass TCounterFormat::Class{"TCounterFormat",
                                                  &TCustomSimpleClipboardFormat::Class,
                                                  ConstructClipboardFormat<TCounterFormat>};

// Subclasses of the counter that differ only in their class (and so in their
// map entries); SubX derives from X.
#define TEST_FORMAT(Name, Parent)                                                                  \
  class Name : public Parent {                                                                     \
  public:                                                                                          \
    static const TClipboardFormatClass Class;                                                      \
    const TClipboardFormatClass& ClassType() const override { return Class; }                      \
  };                                                                                               \
  const TClipboardFormatClass Name::Class{#Name, &Parent::Class, ConstructClipboardFormat<Name>};
TEST_FORMAT(TFormatX, TCounterFormat)
TEST_FORMAT(TFormatY, TCounterFormat)
TEST_FORMAT(TFormatZ, TCounterFormat)
TEST_FORMAT(TFormatSubX, TFormatX)
#undef TEST_FORMAT

class TBareFormat : public TClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }
  TBareFormat()
      : TClipboardFormat(platform::TYMED_HGLOBAL) {}
  void Clear() override {}
};
const TClipboardFormatClass TBareFormat::Class{"TBareFormat", &TClipboardFormat::Class, nullptr};

// Data format A (and B) holding the bytes of whichever counter delivered first.
class TDataA : public TCustomDataFormat {
public:
  static const TDataFormatClass Class;
  const TDataFormatClass& ClassType() const override { return Class; }
  explicit TDataA(TDragDropComponent* AOwner)
      : TCustomDataFormat(AOwner, Class) {}
  std::string Bytes;
  std::string From;
  void Clear() override { Bytes.clear(); }
  bool HasData() const override { return !Bytes.empty(); }
  bool Assign(TClipboardFormat& Source) override {
    auto* counter = dynamic_cast<TCounterFormat*>(&Source);
    if (!counter)
      return false;
    Bytes = counter->Bytes;
    From = Source.ClassName();
    return true;
  }
};
const TDataFormatClass TDataA::Class{"TDataA", &TCustomDataFormat::Class, nullptr};
const TDataFormatClass DataB{"TDataB", &TCustomDataFormat::Class, nullptr};

class TComponent : public TDragDropComponent {
public:
  explicit TComponent(std::optional<TDataDirection> Direction)
      : FDirection(Direction) {
    DataFormats = &FFormats;
  }
  const char* ClassName() const override { return "TSomeButton"; }
  std::optional<TDataDirection> DataFormatsDirection() const override { return FDirection; }

private:
  std::optional<TDataDirection> FDirection;
  TDataFormats FFormats;
};

struct TEntryText {
  std::string DataFormat;
  std::string ClipboardFormat;
  int32_t Priority;
  friend bool operator==(const TEntryText&, const TEntryText&) = default;
  friend std::ostream& operator<<(std::ostream& Out, const TEntryText& Entry) {
    return Out << "(" << Entry.DataFormat << "," << Entry.ClipboardFormat << "," << Entry.Priority
               << ")";
  }
};

std::vector<TEntryText> MapEntries() {
  std::vector<TEntryText> entries;
  for (int i = 0; i < DataFormatMap().Count(); ++i) {
    const TConversionEntry& entry = DataFormatMap().Items(i);
    entries.push_back({entry.DataFormat->Name, entry.ClipboardFormat->Name, entry.Priority});
  }
  return entries;
}

class TMapTest : public ::testing::Test {
protected:
  void TearDown() override {
    UnregisterDataFormat(TDataA::Class);
    UnregisterDataFormat(DataB);
    EXPECT_EQ(DataFormatMap().Count(), 0);
  }
};

TEST_F(TMapTest, LaterRegistrationOfEqualPriorityComesFirstAndLowerPriorityLeads) {
  RegisterDataConversion(TDataA::Class, TFormatX::Class, 2);
  RegisterDataConversion(TDataA::Class, TFormatY::Class, 2);
  EXPECT_EQ(MapEntries(),
            (std::vector<TEntryText>{{"TDataA", "TFormatY", 2}, {"TDataA", "TFormatX", 2}}));
  RegisterDataConversion(TDataA::Class, TFormatZ::Class, 1);
  EXPECT_EQ(MapEntries(),
            (std::vector<TEntryText>{
                {"TDataA", "TFormatZ", 1}, {"TDataA", "TFormatY", 2}, {"TDataA", "TFormatX", 2}}));
}

TEST_F(TMapTest, NewEntryJoinsItsDataFormatsRunAfterTheLowerPriorities) {
  RegisterDataConversion(TDataA::Class, TFormatX::Class, 0);
  RegisterDataConversion(DataB, TFormatX::Class, 5);
  RegisterDataConversion(TDataA::Class, TFormatY::Class, 3);
  RegisterDataConversion(TDataA::Class, TFormatZ::Class, 1);
  EXPECT_EQ(MapEntries(), (std::vector<TEntryText>{{"TDataA", "TFormatX", 0},
                                                   {"TDataA", "TFormatZ", 1},
                                                   {"TDataA", "TFormatY", 3},
                                                   {"TDataB", "TFormatX", 5}}));
}

TEST_F(TMapTest, RepeatedPairKeepsOneEntryWithLaterPriorityAndUnitedDirections) {
  RegisterDataConversion(TDataA::Class, TFormatX::Class, 2, {ddSource}, DATADIR_GET);
  RegisterDataConversion(TDataA::Class, TFormatY::Class, 1, {ddTarget}, DATADIR_GET);
  RegisterDataConversion(TDataA::Class, TFormatX::Class, 0, {ddTarget}, DATADIR_SET);
  ASSERT_EQ(MapEntries(),
            (std::vector<TEntryText>{{"TDataA", "TFormatX", 0}, {"TDataA", "TFormatY", 1}}));
  const TConversionEntry& entry = DataFormatMap().Items(0);
  EXPECT_EQ(entry.Directions, (TDataDirections{ddSource, ddTarget}));
  EXPECT_EQ(entry.FormatDirections, DATADIR_GET | DATADIR_SET);
}

TEST_F(TMapTest, RegisteringABaseClassTakesOverTheEntryOfItsSubclass) {
  RegisterDataConversion(TDataA::Class, TFormatSubX::Class, 1);
  RegisterDataConversion(TDataA::Class, TFormatX::Class, 4);
  EXPECT_EQ(MapEntries(), (std::vector<TEntryText>{{"TDataA", "TFormatX", 4}}));
}

TEST_F(TMapTest, UnregisteringAClipboardFormatRemovesItsSubclassesToo) {
  RegisterDataConversion(TDataA::Class, TFormatSubX::Class, 1);
  RegisterDataConversion(TDataA::Class, TFormatY::Class, 1);
  RegisterDataConversion(DataB, TFormatSubX::Class, 1);
  UnregisterClipboardFormat(TFormatX::Class);
  EXPECT_EQ(MapEntries(), (std::vector<TEntryText>{{"TDataA", "TFormatY", 1}}));
}

TEST_F(TMapTest, DataFormatClassesHoldNoDuplicates) {
  RegisterDataFormat(TDataA::Class);
  RegisterDataFormat(DataB);
  RegisterDataFormat(TDataA::Class);
  ASSERT_EQ(DataFormatClasses().Count(), 2);
  UnregisterDataFormat(TDataA::Class);
  EXPECT_EQ(DataFormatClasses().IndexOf(TDataA::Class), -1);
  EXPECT_EQ(DataFormatClasses().IndexOf(DataB), 0);
}

TEST_F(TMapTest, CreationListsTheConversionsOfItsDirectionInMapOrder) {
  RegisterDataConversion(TDataA::Class, TFormatX::Class, 1, {ddSource}, DATADIR_SET);
  RegisterDataConversion(TDataA::Class, TFormatY::Class, 2, {ddTarget, ddSource}, DATADIR_GET);
  RegisterDataConversion(TDataA::Class, TFormatZ::Class, 0, {ddTarget}, DATADIR_SET);

  struct TCase {
    std::optional<TDataDirection> Owner;
    std::vector<std::string> Formats;
    std::vector<DWORD> Directions;
  };
  for (const TCase& c : {TCase{ddTarget, {"TFormatZ", "TFormatY"}, {DATADIR_SET, DATADIR_GET}},
                         TCase{ddSource, {"TFormatX", "TFormatY"}, {DATADIR_SET, DATADIR_GET}}}) {
    TComponent owner(c.Owner);
    TDataA data(&owner);
    ASSERT_EQ(data.CompatibleFormats().Count(), 2);
    for (int i = 0; i < 2; ++i) {
      TClipboardFormat& format = *data.CompatibleFormats().Items(i);
      EXPECT_EQ(format.ClassName(), c.Formats[static_cast<size_t>(i)]);
      EXPECT_EQ(format.DataDirections, c.Directions[static_cast<size_t>(i)]);
      EXPECT_EQ(format.DataFormat, &data);
    }
    EXPECT_EQ(owner.DataFormats->IndexOf(&data), 0);
  }
  TDataA ownerless(nullptr);
  EXPECT_EQ(ownerless.CompatibleFormats().Count(), 2) << "no owner means the target side";
}

TEST_F(TMapTest, DataFormatLeavesItsOwnersListWhenDestroyed) {
  TComponent owner(ddTarget);
  auto first = std::make_unique<TDataA>(&owner);
  TDataA second(&owner);
  ASSERT_EQ(owner.DataFormats->Count(), 2);
  first.reset();
  ASSERT_EQ(owner.DataFormats->Count(), 1);
  EXPECT_EQ(owner.DataFormats->Items(0), &second);
}

TEST_F(TMapTest, AnOwnerOfAnotherKindIsRefused) {
  TComponent owner(std::nullopt);
  try {
    TDataA data(&owner);
    FAIL() << "accepted";
  } catch (const EDragDropError& error) {
    EXPECT_STREQ(error.what(), "TSomeButton is not a valid owner for TDataA. Owner must be "
                               "derived from TCustomDropMultiSource or TCustomDropMultiTarget");
  }
  EXPECT_EQ(owner.DataFormats->Count(), 0);
}

TEST_F(TMapTest, ExtractionStopsAtTheFirstFormatThatDelivers) {
  RegisterDataConversion(TDataA::Class, TFormatX::Class, 0);
  RegisterDataConversion(TDataA::Class, TFormatY::Class, 1);
  RegisterDataConversion(TDataA::Class, TFormatZ::Class, 2);
  TDataA data(nullptr);
  TFormatX x;
  TFormatY y;
  TFormatZ z;
  // X and Y share the counter's id, so the source's offer decides by medium only.
  TTestDataObject source;
  source.Offer(x.FormatEtc().cfFormat, std::string("\x05\0\0\0", 4), platform::TYMED_ISTREAM);
  ASSERT_TRUE(data.HasValidFormats(&source));
  EXPECT_TRUE(data.GetData(&source));
  EXPECT_EQ(data.From, "TFormatX");
  EXPECT_EQ(data.Bytes, std::string("\x05\0\0\0", 4));
  EXPECT_EQ(source.StreamsHandedOut, 1) << "formats after the first success are not asked";
  EXPECT_TRUE(source.AllMediaReleased());
  EXPECT_FALSE(data.CompatibleFormats().Items(0)->HasData()) << "cleared after assignment";

  TTestDataObject empty;
  TDataA nothing(nullptr);
  EXPECT_FALSE(nothing.HasValidFormats(&empty));
  EXPECT_FALSE(nothing.GetData(&empty));
}

TEST(TClipboardFormatTest, MissingIdAndReadOnlyNameRaise) {
  TBareFormat bare;
  try {
    bare.GetClipboardFormat();
    FAIL();
  } catch (const EDragDropError& error) {
    EXPECT_STREQ(error.what(),
                 "Internal error: TBareFormat.GetClipboardFormat needs implementation");
  }
  try {
    TCounterFormat counter;
    counter.SetClipboardFormatName("x");
    FAIL();
  } catch (const EDragDropError& error) {
    EXPECT_STREQ(error.what(), "TCounterFormat.ClipboardFormat is read-only");
  }
  TCounterFormat counter;
  EXPECT_EQ(counter.GetClipboardFormatName(), "Zandrel Test Counter");
  EXPECT_EQ(counter.FormatEtc().dwAspect, platform::DVASPECT_CONTENT);
  EXPECT_EQ(counter.FormatEtc().lindex, -1);
  EXPECT_EQ(counter.FormatEtc().tymed, platform::TYMED_HGLOBAL | platform::TYMED_ISTREAM);
}

TEST(TClipboardFormatTest, AcceptFormatComparesIdDeviceAspectAndSharedMedia) {
  TCounterFormat counter;
  const CLIPFORMAT id = counter.FormatEtc().cfFormat;
  auto* device = reinterpret_cast<platform::DVTARGETDEVICE*>(&counter);
  struct TCase {
    FORMATETC Format;
    bool Accepted;
  };
  for (const TCase& c : {
           TCase{{id, nullptr, platform::DVASPECT_CONTENT, -1, platform::TYMED_ISTREAM}, true},
           TCase{{id, nullptr, platform::DVASPECT_CONTENT, 7, platform::TYMED_HGLOBAL}, true},
           TCase{{id, nullptr, platform::DVASPECT_CONTENT, -1, platform::TYMED_FILE}, false},
           TCase{{id, nullptr, platform::DVASPECT_ICON, -1, platform::TYMED_HGLOBAL}, false},
           TCase{{id, device, platform::DVASPECT_CONTENT, -1, platform::TYMED_HGLOBAL}, false},
           TCase{{static_cast<CLIPFORMAT>(id + 1), nullptr, platform::DVASPECT_CONTENT, -1,
                  platform::TYMED_HGLOBAL},
                 false},
       })
    EXPECT_EQ(counter.AcceptFormat(c.Format), c.Accepted)
        << c.Format.dwAspect << " " << c.Format.tymed;
}

TEST(TClipboardFormatTest, MediumOfAnotherTypeIsReleasedUnread) {
  TFormatX x;
  platform::STGMEDIUM medium{};
  medium.tymed = platform::TYMED_FILE;
  EXPECT_FALSE(x.GetDataFromMedium(nullptr, medium));
  EXPECT_EQ(medium.tymed, platform::TYMED_NULL);
}

struct TStreamCase {
  const char* Name;
  std::string Bytes;
  uint64_t Declared;
  size_t Delivered;
  platform::ULONG Chunk;
  bool Fail;
  bool Result;
  std::string Read;
};

TEST(TSimpleFormatTest, StreamsAreReadInChunksUpToTheirDeclaredSize) {
  const std::string abc = "abcdefgh";
  for (const TStreamCase& c : {
           TStreamCase{"whole", abc, 8, 8, 0xFFFFFFFF, false, true, abc},
           TStreamCase{"three-byte chunks", abc, 8, 8, 3, false, true, abc},
           TStreamCase{"declared shorter", abc, 5, 8, 2, false, true, "abcde"},
           TStreamCase{"delivers less", abc, 8, 3, 2, false, true, std::string("abc\0\0\0\0\0", 8)},
           TStreamCase{"read fails", abc, 8, 8, 4, true, false, ""},
           TStreamCase{"empty", "", 0, 0, 4, false, false, ""},
           TStreamCase{"beyond 32 bits", abc, 0x80000000ull, 8, 4, false, false, ""},
       }) {
    SCOPED_TRACE(c.Name);
    auto* stream = new testing_dd::TTestStream(c.Bytes, c.Declared);
    stream->Delivered = c.Delivered;
    stream->Chunk = c.Chunk;
    stream->FailReadsFrom = c.Fail ? 0 : SIZE_MAX;
    int released = 0;
    stream->ReleasedFlag = &released;
    platform::STGMEDIUM medium{};
    medium.tymed = platform::TYMED_ISTREAM;
    medium.pstm = stream;
    TCounterFormat counter;
    counter.Bytes = "old";
    EXPECT_EQ(counter.GetDataFromMedium(nullptr, medium), c.Result);
    EXPECT_EQ(counter.Bytes, c.Read);
    EXPECT_EQ(released, 1);
  }
}

TEST(TSimpleFormatTest, GlobalMemoryIsReadWholeAndFreed) {
  platform::HGLOBAL memory = platform::GlobalAlloc(platform::GHND, 3);
  std::memcpy(platform::GlobalLock(memory), "xyz", 3);
  platform::GlobalUnlock(memory);
  platform::STGMEDIUM medium{};
  medium.tymed = platform::TYMED_HGLOBAL;
  medium.hGlobal = memory;
  TCounterFormat counter;
  EXPECT_TRUE(counter.GetDataFromMedium(nullptr, medium));
  EXPECT_EQ(counter.Bytes, "xyz");
  EXPECT_EQ(platform::GlobalSize(memory), 0u) << "freed";

  medium.tymed = platform::TYMED_HGLOBAL;
  medium.hGlobal = platform::GlobalAlloc(platform::GHND, 0);
  EXPECT_FALSE(counter.GetDataFromMedium(nullptr, medium));
}

TEST(TSimpleFormatTest, SetDataPrefersAStreamLeftAtItsEnd) {
  TCounterFormat counter;
  counter.Bytes = "12345";
  const CLIPFORMAT id = counter.FormatEtc().cfFormat;
  for (DWORD media : {platform::TYMED_HGLOBAL | platform::TYMED_ISTREAM, platform::TYMED_HGLOBAL}) {
    TTestDataObject target;
    platform::STGMEDIUM medium{};
    FORMATETC requested{id, nullptr, platform::DVASPECT_CONTENT, -1, media};
    ASSERT_TRUE(counter.SetData(&target, requested, medium));
    ASSERT_EQ(target.Received.size(), 1u);
    const DWORD expected =
        (media & platform::TYMED_ISTREAM) ? platform::TYMED_ISTREAM : platform::TYMED_HGLOBAL;
    EXPECT_EQ(target.Received[0].Media, expected);
    EXPECT_EQ(target.Received[0].Bytes, "12345");
    if (expected == platform::TYMED_ISTREAM) {
      EXPECT_EQ(target.Received[0].StreamPosition, 5u);
    }
  }
  TTestDataObject target;
  platform::STGMEDIUM medium{};
  FORMATETC wrongAspect{id, nullptr, platform::DVASPECT_ICON, -1, platform::TYMED_HGLOBAL};
  EXPECT_FALSE(counter.SetData(&target, wrongAspect, medium));
  counter.Bytes.clear();
  FORMATETC requested{id, nullptr, platform::DVASPECT_CONTENT, -1, platform::TYMED_HGLOBAL};
  EXPECT_FALSE(counter.SetData(&target, requested, medium)) << "nothing to write";
  EXPECT_TRUE(target.Received.empty());
}

TEST(TFixedStreamAdapterTest, CopyToAllRewindsAFinishedStreamAndCopiesInChunks) {
  auto memory = std::make_unique<TMemoryStream>();
  std::string bytes(1048576 + 300, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i * 7 % 253);
  memory->Write(bytes.data(), static_cast<int64_t>(bytes.size()));
  platform::ComPtr<platform::IStream> source;
  source.Attach(new TFixedStreamAdapter(std::move(memory)));
  source->AddRef();
  auto destinationMemory = std::make_unique<TMemoryStream>();
  TMemoryStream& copied = *destinationMemory;
  platform::ComPtr<platform::IStream> destination;
  destination.Attach(new TFixedStreamAdapter(std::move(destinationMemory)));
  destination->AddRef();

  platform::ULARGE_INTEGER read = 0;
  platform::ULARGE_INTEGER written = 0;
  EXPECT_EQ(source->CopyTo(destination.Get(), UINT64_MAX, &read, &written), platform::S_OK);
  EXPECT_EQ(read, bytes.size());
  EXPECT_EQ(written, bytes.size());
  ASSERT_EQ(copied.Size(), static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(std::memcmp(copied.Memory(), bytes.data(), bytes.size()), 0);

  // From the middle, a bounded count copies just that much.
  source->Seek(10, platform::STREAM_SEEK_SET, nullptr);
  copied.SetSize(0);
  copied.SetPosition(0);
  EXPECT_EQ(source->CopyTo(destination.Get(), 5, &read, &written), platform::S_OK);
  EXPECT_EQ(read, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copied.Memory()), 5), bytes.substr(10, 5));
}

// Any success code of a write lets the copy go on, as long as the write took
// everything; a short or failed write ends it as a failure.
TEST(TFixedStreamAdapterTest, CopyGoesOnOnlyWhileEveryWriteSucceedsWhole) {
  struct TCase {
    HRESULT Answer;
    platform::ULONG Limit;
    HRESULT Expected;
    size_t Written;
  };
  const std::string bytes(1048576 + 6, 'x'); // two chunks
  const TCase cases[] = {{platform::S_FALSE, UINT32_MAX, platform::S_OK, bytes.size()},
                         {platform::S_FALSE, 4, platform::E_FAIL, 4},
                         {platform::S_OK, 4, platform::E_FAIL, 4},
                         {platform::S_OK, 0, platform::E_NOTIMPL, 0}};
  for (const TCase& c : cases) {
    auto memory = std::make_unique<TMemoryStream>();
    memory->Write(bytes.data(), static_cast<int64_t>(bytes.size()));
    memory->SetPosition(0);
    platform::ComPtr<platform::IStream> source;
    source.Attach(new TFixedStreamAdapter(std::move(memory)));
    source->AddRef();
    auto* sink = new testing_dd::TTestStream("", 0);
    sink->WriteAnswer = c.Answer;
    sink->WriteLimit = c.Limit;
    platform::ULARGE_INTEGER written = 0;
    EXPECT_EQ(source->CopyTo(sink, bytes.size(), nullptr, &written), c.Expected)
        << "answer " << c.Answer << ", limit " << c.Limit;
    EXPECT_EQ(written, c.Written);
    EXPECT_EQ(sink->Written.size(), c.Written);
    sink->Release();
  }
}

TEST(TStringListTest, OnChangingFiresBeforeEveryChangeAndOnceForAssign) {
  TStringList list;
  std::vector<int> countsSeen;
  list.OnChanging = [&] { countsSeen.push_back(list.Count()); };
  list.Add("a");
  list.Add("b");
  list.Delete(0);
  TStringList other;
  other.Add("x");
  other.Add("y");
  other.Add("z");
  list.Assign(other);
  list.Clear();
  EXPECT_EQ(countsSeen, (std::vector<int>{0, 1, 2, 1, 3}));
  EXPECT_THROW(list.Get(0), EDragDropError);
}

TEST(TTextConversionTest, Utf16BecomesUtf8AndBackKeepingEveryByte) {
  const std::u16string wide = u"a\u00e9\u4e00\U0001F600";
  const std::string utf8 = "a\xc3\xa9\xe4\xb8\x80\xf0\x9f\x98\x80";
  EXPECT_EQ(WideToAnsi(wide), utf8);
  EXPECT_EQ(AnsiToWide(utf8), wide);
  // A name that is not UTF-8 survives the trip through a wide list.
  EXPECT_EQ(WideToAnsi(AnsiToWide("/\xff\xfe.raw")), "/\xff\xfe.raw");
}

TEST(TModuleTest, ShutdownFreesTheMapAfterTheLastStartup) {
  DragDropStartup();
  DragDropStartup();
  ASSERT_NE(ShellMalloc(), nullptr);
  RegisterDataConversion(TDataA::Class, TFormatX::Class, 0);
  DragDropShutdown();
  EXPECT_EQ(DataFormatMap().Count(), 1);
  DragDropShutdown();
  EXPECT_EQ(ShellMalloc(), nullptr);
  EXPECT_EQ(DataFormatMap().Count(), 0);
  // OLE is back to uninitialised on this thread.
  EXPECT_EQ(platform::OleInitialize(nullptr), platform::S_OK);
  platform::OleUninitialize();
}

} // namespace
