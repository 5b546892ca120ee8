#include "TempDir.h"
#include "dragdrop/DragDropFormats.h"
#include "dragdrop/DropTarget.h"
#include "platform/OleDragDrop.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace platform;
using namespace dragdrop;

class TEnum final : public TRefCounted<IEnumFORMATETC, IID_IEnumFORMATETC> {
public:
  explicit TEnum(std::vector<FORMATETC> Formats)
      : FFormats(std::move(Formats)) {}
  HRESULT Next(ULONG Count, FORMATETC* Formats, ULONG* Fetched) override {
    ULONG n = 0;
    for (; n < Count && FPosition < FFormats.size(); ++n)
      Formats[n] = FFormats[FPosition++];
    *Fetched = n;
    return n == Count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT Reset() override {
    FPosition = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumFORMATETC**) override { return E_NOTIMPL; }

private:
  ~TEnum() override = default;
  std::vector<FORMATETC> FFormats;
  size_t FPosition = 0;
};

// Offers named blocks on global memory, keeps what the target writes back and,
// when Async is set, takes part in an asynchronous transfer.
class TDataObject final : public IDataObject, public IAsyncOperation {
public:
  std::map<CLIPFORMAT, std::string> Blocks;
  std::map<CLIPFORMAT, DWORD> Written;
  bool Async = false;
  std::atomic<int> Ended{0};
  HRESULT EndResult = E_FAIL;
  DWORD EndEffect = 0;

  // A wide DROPFILES block of Names.
  void OfferFiles(const std::vector<std::u16string>& Names) {
    std::string block =
        std::string("\x14\0\0\0", 4) + std::string(12, '\0') + std::string("\x01\0\0\0", 4);
    for (const std::u16string& name : Names)
      block.append(reinterpret_cast<const char*>(name.c_str()), (name.size() + 1) * 2);
    block.append(2, '\0');
    Blocks[CF_HDROP] = block;
  }

  HRESULT QueryInterface(REFIID Iid, void** Object) override {
    *Object = nullptr;
    if (Iid == IID_IUnknown || Iid == IID_IDataObject)
      *Object = static_cast<IDataObject*>(this);
    else if (Iid == IID_IAsyncOperation)
      *Object = static_cast<IAsyncOperation*>(this);
    return *Object ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetData(const FORMATETC* Format, STGMEDIUM* Medium) override {
    auto found = Blocks.find(Format->cfFormat);
    if (found == Blocks.end() || !(Format->tymed & TYMED_HGLOBAL))
      return DV_E_FORMATETC;
    *Medium = STGMEDIUM{};
    Medium->tymed = TYMED_HGLOBAL;
    Medium->hGlobal = GlobalAlloc(GHND, found->second.size());
    std::memcpy(GlobalLock(Medium->hGlobal), found->second.data(), found->second.size());
    GlobalUnlock(Medium->hGlobal);
    return S_OK;
  }
  HRESULT GetDataHere(const FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT QueryGetData(const FORMATETC* Format) override {
    return Blocks.count(Format->cfFormat) && (Format->tymed & TYMED_HGLOBAL) ? S_OK
                                                                             : DV_E_FORMATETC;
  }
  HRESULT GetCanonicalFormatEtc(const FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  HRESULT SetData(const FORMATETC* Format, STGMEDIUM* Medium, BOOL Release) override {
    DWORD value = 0;
    std::memcpy(&value, GlobalLock(Medium->hGlobal), 4);
    GlobalUnlock(Medium->hGlobal);
    Written[Format->cfFormat] = value;
    if (Release)
      ReleaseStgMedium(Medium);
    return S_OK;
  }
  HRESULT EnumFormatEtc(DWORD, IEnumFORMATETC** Enum) override {
    std::vector<FORMATETC> formats;
    for (const auto& [format, bytes] : Blocks)
      formats.push_back({format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL});
    *Enum = new TEnum(formats);
    return S_OK;
  }
  HRESULT DAdvise(const FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  HRESULT DUnadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

  HRESULT SetAsyncMode(BOOL) override { return S_OK; }
  HRESULT GetAsyncMode(BOOL* IsAsync) override {
    *IsAsync = Async;
    return S_OK;
  }
  HRESULT StartOperation(IBindCtx*) override { return S_OK; }
  HRESULT InOperation(BOOL*) override { return E_NOTIMPL; }
  HRESULT EndOperation(HRESULT Result, IBindCtx*, DWORD Effects) override {
    EndResult = Result;
    EndEffect = Effects;
    ++Ended;
    return S_OK;
  }

  bool WroteFeedback(const char* Name, DWORD& Value) const {
    auto found = Written.find(RegisteredFormat(Name));
    if (found == Written.end())
      return false;
    Value = found->second;
    return true;
  }
};

struct TSlowState {
  std::atomic<bool> Running{false};
  std::atomic<bool> Done{false};
  std::atomic<bool> FreedEarly{false};
};

// A data format whose extraction takes a while on the worker; freed before
// that has finished, it notes so and waits, so that the worker finds it whole.
class TSlowFormat final : public TCustomDataFormat {
public:
  static const TDataFormatClass Class;
  const TDataFormatClass& ClassType() const override { return Class; }
  TSlowFormat(TDragDropComponent* AOwner, TSlowState& AState)
      : TCustomDataFormat(AOwner, Class)
      , FState(AState) {}
  ~TSlowFormat() override {
    if (FState.Running && !FState.Done) {
      FState.FreedEarly = true;
      while (!FState.Done)
        std::this_thread::yield();
    }
  }
  void Clear() override {}
  bool HasData() const override { return false; }
  bool HasValidFormats(IDataObject*) override { return true; }
  bool GetData(IDataObject*) override {
    TSlowState& state = FState;
    state.Running = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    state.Done = true;
    return false;
  }

private:
  TSlowState& FState;
};
const TDataFormatClass TSlowFormat::Class{"TSlowFormat", &TCustomDataFormat::Class, nullptr};

class TDropTargetTest : public testing::Test {
protected:
  TDropTargetTest() {
    Plain.setGeometry(50, 50, 200, 100);
    Plain.show();
    Target.Dragtypes = {dtCopy};
    Target.SetTarget(&Plain);
    Data.OfferFiles({u"/tmp/one.raw", u"/tmp/two.raw", u"/tmp/three.raw"});
    Target.OnDrop = [this](TCustomDropTarget&, TShiftState, QPoint&, DWORD& Effect) {
      ++Drops;
      DropFiles = Target.Files();
      DropEffect = Effect;
      if (DropAnswer)
        Effect = *DropAnswer;
    };
  }
  static POINTL Screen(QWidget& Control, QPoint Client) {
    QPoint point = Control.mapToGlobal(Client);
    return POINTL{point.x(), point.y()};
  }
  POINTL Middle() { return Screen(Plain, QPoint(100, 50)); }

  QWidget Plain;
  TSlowState Slow; // outlives a slow format that Target owns
  TDropFileTarget Target{nullptr};
  TDataObject Data;
  int Drops = 0;
  std::vector<std::string> DropFiles;
  DWORD DropEffect = 0;
  std::optional<DWORD> DropAnswer;
};

TEST_F(TDropTargetTest, CopyNotOfferedGivesNoEffectAndNoDrop) {
  DWORD effect = DROPEFFECT_MOVE | DROPEFFECT_LINK;
  EXPECT_EQ(Target.DragEnter(&Data, MK_LBUTTON, Middle(), &effect), S_OK);
  EXPECT_EQ(effect, DROPEFFECT_NONE);
  effect = DROPEFFECT_MOVE | DROPEFFECT_LINK;
  EXPECT_EQ(Target.DragOver(MK_LBUTTON, Middle(), &effect), DV_E_CLIPFORMAT);
  EXPECT_FALSE(Target.ScrollTimer()->isActive());
  effect = DROPEFFECT_MOVE | DROPEFFECT_LINK;
  EXPECT_EQ(Target.Drop(&Data, 0, Middle(), &effect), E_UNEXPECTED);
  EXPECT_EQ(effect, DROPEFFECT_NONE);
  EXPECT_EQ(Drops, 0);
}

struct TKeyCase {
  DWORD KeyState;
  TDragTypes Types;
  DWORD Expected;
};

TEST_F(TDropTargetTest, KeysChooseAmongTheAllowedEffects) {
  const DWORD all = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
  const TKeyCase cases[] = {
      {0, {dtCopy}, DROPEFFECT_COPY},
      {MK_CONTROL, {dtCopy}, DROPEFFECT_COPY},
      {MK_SHIFT, {dtCopy}, DROPEFFECT_COPY},
      {MK_CONTROL | MK_SHIFT, {dtCopy}, DROPEFFECT_COPY},
      {0, {dtCopy, dtMove, dtLink}, DROPEFFECT_MOVE},
      {MK_CONTROL, {dtCopy, dtMove, dtLink}, DROPEFFECT_COPY},
      {MK_SHIFT, {dtCopy, dtMove, dtLink}, DROPEFFECT_MOVE},
      {MK_CONTROL | MK_SHIFT, {dtCopy, dtMove, dtLink}, DROPEFFECT_LINK},
      {MK_CONTROL | MK_SHIFT, {dtMove, dtLink}, DROPEFFECT_LINK},
      {MK_CONTROL, {dtMove, dtLink}, DROPEFFECT_MOVE},
  };
  for (const TKeyCase& c : cases) {
    Target.Dragtypes = c.Types;
    DWORD effect = all;
    ASSERT_EQ(Target.DragEnter(&Data, c.KeyState, Middle(), &effect), S_OK);
    EXPECT_EQ(effect, c.Expected) << "keys " << c.KeyState;
    effect = all;
    ASSERT_EQ(Target.DragOver(c.KeyState | MK_LBUTTON, Middle(), &effect), S_OK);
    EXPECT_EQ(effect, c.Expected) << "keys " << c.KeyState;
    Target.DragLeave();
  }
}

TEST_F(TDropTargetTest, FilesAreThereDuringOnDropOnlyAndThePerformedEffectIsWritten) {
  DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  ASSERT_EQ(Target.DragEnter(&Data, MK_LBUTTON, Middle(), &effect), S_OK);
  effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  EXPECT_EQ(Target.Drop(&Data, 0, Middle(), &effect), S_OK);
  EXPECT_EQ(effect, DROPEFFECT_COPY);
  EXPECT_EQ(Drops, 1);
  EXPECT_EQ(DropFiles,
            std::vector<std::string>({"/tmp/one.raw", "/tmp/two.raw", "/tmp/three.raw"}));
  EXPECT_TRUE(Target.Files().empty());
  EXPECT_EQ(Target.DataObject(), nullptr);
  DWORD performed = 0;
  ASSERT_TRUE(Data.WroteFeedback("Performed DropEffect", performed));
  EXPECT_EQ(performed, DROPEFFECT_COPY);
}

TEST_F(TDropTargetTest, OnDropClearingTheEffectWritesNoFeedback) {
  DropAnswer = DROPEFFECT_NONE;
  DWORD effect = DROPEFFECT_COPY;
  Target.DragEnter(&Data, 0, Middle(), &effect);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(Target.Drop(&Data, 0, Middle(), &effect), S_OK);
  EXPECT_EQ(effect, DROPEFFECT_NONE);
  EXPECT_TRUE(Data.Written.empty());
}

TEST_F(TDropTargetTest, OptimizedMoveReportsAMoveAsCopy) {
  for (bool optimized : {true, false}) {
    Data.Written.clear();
    Target.OptimizedMove = optimized;
    Target.Dragtypes = {dtMove};
    DWORD effect = DROPEFFECT_MOVE;
    Target.DragEnter(&Data, 0, Middle(), &effect);
    effect = DROPEFFECT_MOVE;
    EXPECT_EQ(Target.Drop(&Data, 0, Middle(), &effect), S_OK);
    const DWORD told = optimized ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
    EXPECT_EQ(DropEffect, DROPEFFECT_MOVE);
    EXPECT_EQ(effect, told);
    DWORD performed = 0;
    ASSERT_TRUE(Data.WroteFeedback("Performed DropEffect", performed));
    EXPECT_EQ(performed, told);
  }
}

TEST_F(TDropTargetTest, RefusedFormatsAnswerWithTheCodesOfARefusedDrag) {
  TDataObject text;
  text.Blocks[RegisteredFormat("text/plain")] = "not a file";
  int events = 0;
  int leaves = 0;
  auto count = [&](TCustomDropTarget&, TShiftState, QPoint&, DWORD&) { ++events; };
  Target.OnEnter = Target.OnDragOver = Target.OnGetDropEffect = count;
  Target.OnLeave = [&](TCustomDropTarget&) { ++leaves; };
  DWORD effect = DROPEFFECT_COPY;
  EXPECT_EQ(Target.DragEnter(&text, 0, Middle(), &effect), S_OK);
  EXPECT_EQ(effect, DROPEFFECT_NONE);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(Target.DragOver(0, Middle(), &effect), DV_E_CLIPFORMAT);
  EXPECT_EQ(effect, DROPEFFECT_COPY);
  EXPECT_EQ(Target.DragLeave(), S_OK);
  EXPECT_EQ(leaves, 1);
  effect = DROPEFFECT_COPY;
  Target.DragEnter(&text, 0, Middle(), &effect);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(Target.Drop(&text, 0, Middle(), &effect), E_UNEXPECTED);
  EXPECT_EQ(effect, DROPEFFECT_NONE);
  EXPECT_EQ(events, 0);
  EXPECT_EQ(Drops, 0);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(Target.DragOver(0, Middle(), &effect), E_UNEXPECTED);
}

TEST_F(TDropTargetTest, ScrollBitOnlyInTheMarginOfAControlWithScrollBars) {
  QScrollArea area;
  auto* content = new QWidget;
  content->resize(2000, 2000);
  area.setWidget(content);
  area.setGeometry(300, 50, 200, 200);
  area.show();
  ASSERT_TRUE(area.verticalScrollBar()->isVisible());
  Target.SetTarget(&area);
  DWORD effect = DROPEFFECT_COPY;
  ASSERT_EQ(Target.DragEnter(&Data, 0, Screen(area, QPoint(100, 2)), &effect), S_OK);
  EXPECT_EQ(effect, DROPEFFECT_COPY | DROPEFFECT_SCROLL);
  effect = DROPEFFECT_COPY;
  Target.DragOver(0, Screen(area, QPoint(100, 100)), &effect);
  EXPECT_EQ(effect, DROPEFFECT_COPY);
  EXPECT_FALSE(Target.ScrollTimer()->isActive());
  effect = DROPEFFECT_MOVE;
  Target.DragOver(0, Screen(area, QPoint(100, 197)), &effect);
  EXPECT_EQ(effect, DROPEFFECT_SCROLL);
  EXPECT_TRUE(Target.ScrollTimer()->isActive());
  const int before = area.verticalScrollBar()->value();
  QTest::qWait(2 * DragScrollDelay + 30);
  EXPECT_GT(area.verticalScrollBar()->value(), before);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(Target.Drop(&Data, 0, Screen(area, QPoint(100, 2)), &effect), S_OK);
  EXPECT_EQ(DropEffect, DROPEFFECT_COPY | DROPEFFECT_SCROLL);
  EXPECT_EQ(effect, DROPEFFECT_COPY | DROPEFFECT_SCROLL);
  EXPECT_FALSE(Target.ScrollTimer()->isActive());

  // The plain control never scrolls.
  Target.SetTarget(&Plain);
  effect = DROPEFFECT_COPY;
  Target.DragEnter(&Data, 0, Screen(Plain, QPoint(0, 0)), &effect);
  EXPECT_EQ(effect, DROPEFFECT_COPY);
  effect = DROPEFFECT_COPY;
  Target.DragOver(0, Screen(Plain, QPoint(199, 99)), &effect);
  EXPECT_EQ(effect, DROPEFFECT_COPY);
  EXPECT_FALSE(Target.ScrollTimer()->isActive());
  Target.DragLeave();
}

TEST_F(TDropTargetTest, RegistrationFollowsMultiTarget) {
  QWidget second;
  EXPECT_TRUE(IsDragDropRegistered(&Plain));
  Target.Register(&second);
  EXPECT_EQ(Target.Targets().Count(), 1);
  EXPECT_EQ(Target.Target(), &second);
  EXPECT_FALSE(IsDragDropRegistered(&Plain));
  Target.MultiTarget = true;
  Target.Register(&Plain);
  EXPECT_EQ(Target.Targets().Count(), 2);
  EXPECT_TRUE(IsDragDropRegistered(&Plain) && IsDragDropRegistered(&second));
  {
    QWidget gone;
    Target.Register(&gone);
    EXPECT_EQ(Target.Targets().Count(), 3);
  }
  EXPECT_EQ(Target.Targets().Count(), 2);
  Target.Unregister(nullptr);
  EXPECT_FALSE(IsDragDropRegistered(&Plain) || IsDragDropRegistered(&second));
}

TEST_F(TDropTargetTest, ARecreatedWindowStaysRegistered) {
  Plain.winId();
  // New window flags re-create the native window.
  Plain.setWindowFlags(Qt::Tool);
  Plain.show();
  EXPECT_TRUE(IsDragDropRegistered(&Plain));
  DWORD effect = DROPEFFECT_COPY;
  EXPECT_EQ(Target.DragEnter(&Data, 0, Middle(), &effect), S_OK);
  EXPECT_EQ(effect, DROPEFFECT_COPY);
}

TEST_F(TDropTargetTest, NoTargetUnderTheCursorSwitchesImageAndScrollingOff) {
  DWORD effect = DROPEFFECT_COPY;
  Target.DragEnter(&Data, 0, POINTL{-5000, -5000}, &effect);
  EXPECT_FALSE(Target.ShowImage);
  EXPECT_FALSE(Target.AutoScroll);
  Target.DragLeave();
  Target.DragEnter(&Data, 0, Middle(), &effect);
  EXPECT_FALSE(Target.ShowImage);
  EXPECT_FALSE(Target.AutoScroll);
}

TEST_F(TDropTargetTest, AsyncTransferRunsOnAWorkerAndEndsOnThisThread) {
  Data.Async = true;
  Target.AllowAsyncTransfer = true;
  int started = 0;
  int ended = 0;
  Target.OnStartAsyncTransfer = [&](TCustomDropTarget&) { ++started; };
  Target.OnEndAsyncTransfer = [&](TCustomDropTarget& Sender) {
    ++ended;
    EXPECT_EQ(QThread::currentThread(), qApp->thread());
    EXPECT_FALSE(Sender.AsyncTransferInProgress());
  };
  DWORD effect = DROPEFFECT_COPY;
  Target.DragEnter(&Data, 0, Middle(), &effect);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(Target.Drop(&Data, 0, Middle(), &effect), S_OK);
  EXPECT_EQ(started, 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended == 1; }, 5000));
  EXPECT_EQ(Data.Ended, 1);
  EXPECT_EQ(Data.EndResult, S_OK);
  EXPECT_EQ(Data.EndEffect, DROPEFFECT_COPY);
  EXPECT_EQ(Target.Files(),
            std::vector<std::string>({"/tmp/one.raw", "/tmp/two.raw", "/tmp/three.raw"}));
  EXPECT_EQ(Target.DataObject(), nullptr);
}

TEST_F(TDropTargetTest, DestroyedDuringATransferItWaitsForTheWorkerBeforeFreeingItsFormats) {
  Data.Async = true;
  TSlowState slow;
  auto* target = new TDropFileTarget(nullptr);
  new TSlowFormat(target, slow);
  target->AllowAsyncTransfer = true;
  DWORD effect = DROPEFFECT_COPY;
  target->DragEnter(&Data, 0, Middle(), &effect);
  effect = DROPEFFECT_COPY;
  ASSERT_EQ(target->Drop(&Data, 0, Middle(), &effect), S_OK);
  ASSERT_TRUE(QTest::qWaitFor([&] { return slow.Running.load(); }, 5000));
  delete target;
  EXPECT_FALSE(slow.FreedEarly);
  EXPECT_EQ(Data.Ended, 1);
}

// The worker reads the data object, so an assignment that started a transfer
// keeps it until the transfer has ended.
TEST_F(TDropTargetTest, AnAssignedDataObjectIsKeptUntilItsTransferEnds) {
  Data.Async = true;
  new TSlowFormat(&Target, Slow);
  Target.AllowAsyncTransfer = true;
  bool ended = false;
  Target.OnEndAsyncTransfer = [&](TCustomDropTarget&) { ended = true; };
  Target.Assign(static_cast<IDataObject*>(&Data));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Slow.Running.load(); }, 5000));
  ASSERT_TRUE(Target.AsyncTransferInProgress());
  EXPECT_EQ(Target.DataObject(), static_cast<IDataObject*>(&Data));
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended; }, 5000));
  EXPECT_EQ(Target.DataObject(), nullptr);
  EXPECT_EQ(Target.Files().size(), 3);
}

TEST_F(TDropTargetTest, PasteAndAssignTakeTheFilesOnTheClipboard) {
  auto* mime = new QMimeData;
  mime->setUrls({QUrl::fromLocalFile("/tmp/one.raw"), QUrl::fromLocalFile("/tmp/two.raw")});
  QGuiApplication::clipboard()->setMimeData(mime);
  const std::vector<std::string> files{"/tmp/one.raw", "/tmp/two.raw"};
  EXPECT_EQ(Target.PasteFromClipboard(), DROPEFFECT_COPY);
  EXPECT_EQ(DropFiles, files);
  EXPECT_EQ(DropEffect, DROPEFFECT_COPY);
  EXPECT_EQ(Target.Files(), files);
  EXPECT_EQ(Target.DataObject(), nullptr);
  Target.Assign(QGuiApplication::clipboard());
  EXPECT_EQ(Drops, 2);
  EXPECT_EQ(Target.Files(), files);

  // An empty clipboard gives nothing, and the drop handler hears so.
  QGuiApplication::clipboard()->clear();
  EXPECT_EQ(Target.PasteFromClipboard(), DROPEFFECT_NONE);
  EXPECT_EQ(Drops, 3);
  EXPECT_TRUE(DropFiles.empty());
  EXPECT_EQ(DropEffect, DROPEFFECT_NONE);

  Target.Assign(static_cast<IDataObject*>(&Data));
  EXPECT_EQ(Target.Files().size(), 3);
  EXPECT_EQ(Target.DataObject(), nullptr);
  TDataObject empty;
  EXPECT_THROW(Target.Assign(static_cast<IDataObject*>(&empty)), EDragDropError);
}

// Names on this host are bytes; a dropped URI list gives each one back whole,
// also where it is not UTF-8.
TEST_F(TDropTargetTest, ADroppedUriListGivesTheExactBytesOfEachName) {
  testfiles::TTempDir folder;
  const std::string name = folder.MakeFile("\xFF\xFE.raw", {1});
  QMimeData mime;
  mime.setData("text/uri-list",
               "file://" + QByteArray::fromStdString(folder.Root()).toPercentEncoding("/") +
                   "/%FF%FE.raw\r\n");
  QDragEnterEvent enter(QPoint(100, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&Plain, &enter);
  QDropEvent drop(QPointF(100, 50), Qt::CopyAction, &mime, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&Plain, &drop);
  EXPECT_TRUE(drop.isAccepted());
  EXPECT_EQ(DropFiles, std::vector<std::string>{name});
}

TEST_F(TDropTargetTest, QueryInterfaceAnswersFromItsOwnTable) {
  void* object = nullptr;
  EXPECT_EQ(Target.QueryInterface(IID_IDropTarget, &object), S_OK);
  EXPECT_EQ(object, static_cast<IDropTarget*>(&Target));
  EXPECT_EQ(Target.QueryInterface(IID_IDataObject, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  for (const IID* iid : {&IID_IDropTarget, &IID_IDataObject})
    EXPECT_EQ(Target.QueryInterface(*iid, nullptr), E_POINTER);
  EXPECT_EQ(Target.AddRef(), 0xFFFFFFFFu);
  EXPECT_EQ(InterfaceName(IID_IDropTarget), "IDropTarget");
  EXPECT_EQ(InterfaceName(IID_IStream), "IStream");
  EXPECT_EQ(InterfaceName(GUID{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}}),
            "{12345678-9ABC-DEF0-0102-030405060708}");
}

} // namespace
