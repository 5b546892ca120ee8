#include "platform/OleDragDrop.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

using namespace platform;

// Records the last call and answers with a chosen effect.
class TRecordingTarget final : public IDropTarget {
public:
  DWORD Answer = DROPEFFECT_NONE;
  DWORD KeyState = 0;
  DWORD Offered = 0;
  POINTL Point{};
  std::string Calls;

  HRESULT QueryInterface(REFIID, void** Object) override {
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT DragEnter(IDataObject*, DWORD Keys, POINTL At, DWORD* Effect) override {
    return Note("E", Keys, At, Effect);
  }
  HRESULT DragOver(DWORD Keys, POINTL At, DWORD* Effect) override {
    return Note("O", Keys, At, Effect);
  }
  HRESULT DragLeave() override {
    Calls += "L";
    return S_OK;
  }
  HRESULT Drop(IDataObject*, DWORD Keys, POINTL At, DWORD* Effect) override {
    return Note("D", Keys, At, Effect);
  }

private:
  HRESULT Note(const char* Call, DWORD Keys, POINTL At, DWORD* Effect) {
    Calls += Call;
    KeyState = Keys;
    Point = At;
    Offered = *Effect;
    *Effect = Answer;
    return S_OK;
  }
};

std::string Bytes(IDataObject& Data, CLIPFORMAT Format) {
  FORMATETC format{Format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  if (Data.GetData(&format, &medium) != S_OK)
    return "<none>";
  std::string bytes(static_cast<const char*>(GlobalLock(medium.hGlobal)),
                    GlobalSize(medium.hGlobal));
  GlobalUnlock(medium.hGlobal);
  ReleaseStgMedium(&medium);
  return bytes;
}

std::string Wide(const std::u16string& Text) {
  std::string bytes;
  for (char16_t c : Text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

// A wide DROPFILES block: list offset 20, point (0, 0), not non-client, wide.
std::string DropFiles(const std::vector<std::u16string>& Names) {
  std::string block =
      std::string("\x14\0\0\0", 4) + std::string(12, '\0') + std::string("\x01\0\0\0", 4);
  for (const std::u16string& name : Names)
    block += Wide(name) + std::string(2, '\0');
  return block + std::string(2, '\0');
}

std::vector<std::string> FormatNames(IDataObject& Data) {
  std::vector<std::string> names;
  IEnumFORMATETC* formats = nullptr;
  EXPECT_EQ(Data.EnumFormatEtc(DATADIR_GET, &formats), S_OK);
  FORMATETC format{};
  ULONG fetched = 0;
  while (formats->Next(1, &format, &fetched) == S_OK) {
    char name[128] = {};
    GetClipboardFormatNameA(format.cfFormat, name, sizeof name);
    names.push_back(format.cfFormat == CF_HDROP ? "CF_HDROP" : name);
    EXPECT_EQ(format.tymed, TYMED_HGLOBAL);
  }
  formats->Release();
  return names;
}

TEST(MimeDataObject, OffersLocalFilesAsWideDropFilesAndEveryMimeFormatByName) {
  QMimeData mime;
  mime.setData("text/uri-list", "file:///tmp/a%20b.raw\r\nhttp://example.com/c.raw\r\n"
                                "# file:///tmp/comment.raw\r\nfile://elsewhere/tmp/d.raw\r\n"
                                "file://LocalHost/tmp/%C3%BC.raw\r\nfile:/tmp/e.raw");
  mime.setData("application/x-zandrel-test", "xyz");
  IDataObject* data = CreateMimeDataObject(mime);

  EXPECT_EQ(Bytes(*data, CF_HDROP),
            DropFiles({u"/tmp/a b.raw", u"/tmp/\u00FC.raw", u"/tmp/e.raw"}));
  EXPECT_EQ(
      Bytes(*data, static_cast<CLIPFORMAT>(RegisterClipboardFormatA("application/x-zandrel-test"))),
      "xyz");
  std::vector<std::string> names = FormatNames(*data);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], "CF_HDROP");
  EXPECT_NE(std::find(names.begin(), names.end(), "text/uri-list"), names.end());

  FORMATETC stream{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM};
  EXPECT_EQ(data->QueryGetData(&stream), DV_E_TYMED);
  data->Release();
}

TEST(MimeDataObject, NoLocalFileMeansNoFileList) {
  QMimeData mime;
  mime.setUrls({QUrl("https://example.com/x.raw")});
  IDataObject* data = CreateMimeDataObject(mime);
  FORMATETC hdrop{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  EXPECT_EQ(data->QueryGetData(&hdrop), DV_E_FORMATETC);
  data->Release();
}

class TOleDragDropTest : public testing::Test {
protected:
  TOleDragDropTest() {
    Widget.setGeometry(100, 100, 200, 100);
    Widget.show();
    Mime.setUrls({QUrl::fromLocalFile("/tmp/x.raw")});
  }
  // Sends an enter event and answers whether the widget took it, and how.
  Qt::DropAction Enter(Qt::DropActions Offered, Qt::KeyboardModifiers Modifiers) {
    QDragEnterEvent event(QPoint(10, 20), Offered, &Mime, Qt::LeftButton, Modifiers);
    QCoreApplication::sendEvent(&Widget, &event);
    return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction;
  }

  // A drag left unfinished would leave Qt holding a widget that is gone.
  ~TOleDragDropTest() override {
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(&Widget, &leave);
  }

  QWidget Widget;
  QMimeData Mime;
  TRecordingTarget Target;
};

TEST_F(TOleDragDropTest, EventsReachTheTargetWithKeysPointAndOfferedEffects) {
  ASSERT_EQ(RegisterDragDrop(&Widget, &Target), S_OK);
  EXPECT_TRUE(Widget.acceptDrops());
  Target.Answer = DROPEFFECT_LINK;
  EXPECT_EQ(Enter(Qt::CopyAction | Qt::LinkAction, Qt::ControlModifier | Qt::ShiftModifier),
            Qt::LinkAction);
  EXPECT_EQ(Target.KeyState, MK_LBUTTON | MK_CONTROL | MK_SHIFT);
  EXPECT_EQ(Target.Offered, DROPEFFECT_COPY | DROPEFFECT_LINK);
  QPoint screen = Widget.mapToGlobal(QPoint(10, 20));
  EXPECT_EQ(Target.Point.x, screen.x());
  EXPECT_EQ(Target.Point.y, screen.y());

  QDragMoveEvent move(QPoint(11, 21), Qt::MoveAction, &Mime, Qt::RightButton, Qt::AltModifier);
  Target.Answer = DROPEFFECT_MOVE | DROPEFFECT_SCROLL;
  QCoreApplication::sendEvent(&Widget, &move);
  EXPECT_TRUE(move.isAccepted());
  EXPECT_EQ(move.dropAction(), Qt::MoveAction);
  EXPECT_EQ(Target.KeyState, MK_RBUTTON | MK_ALT);

  QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &Mime, Qt::NoButton, Qt::NoModifier);
  Target.Answer = DROPEFFECT_COPY;
  QCoreApplication::sendEvent(&Widget, &drop);
  EXPECT_TRUE(drop.isAccepted());
  Enter(Qt::CopyAction, Qt::NoModifier);
  QDragLeaveEvent leave;
  QCoreApplication::sendEvent(&Widget, &leave);
  EXPECT_EQ(Target.Calls, "EODEL");
  EXPECT_EQ(RevokeDragDrop(&Widget), S_OK);
}

TEST_F(TOleDragDropTest, NoEffectOrOneNotOfferedRefusesTheDrag) {
  ASSERT_EQ(RegisterDragDrop(&Widget, &Target), S_OK);
  Target.Answer = DROPEFFECT_NONE;
  EXPECT_EQ(Enter(Qt::CopyAction, Qt::NoModifier), Qt::IgnoreAction);
  Target.Answer = DROPEFFECT_SCROLL;
  EXPECT_EQ(Enter(Qt::CopyAction, Qt::NoModifier), Qt::IgnoreAction);
  Target.Answer = DROPEFFECT_MOVE;
  EXPECT_EQ(Enter(Qt::CopyAction, Qt::NoModifier), Qt::IgnoreAction);
  RevokeDragDrop(&Widget);
}

TEST_F(TOleDragDropTest, ARefusedDragStillReachesTheTargetUntilItLeaves) {
  ASSERT_EQ(RegisterDragDrop(&Widget, &Target), S_OK);
  QDragEnterEvent enter(QPoint(10, 20), Qt::CopyAction, &Mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&Widget, &enter);
  // Taken, so that Qt goes on delivering the drag, but with no action.
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_EQ(enter.dropAction(), Qt::IgnoreAction);
  QDragMoveEvent move(QPoint(12, 22), Qt::CopyAction, &Mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&Widget, &move);
  EXPECT_FALSE(move.isAccepted());
  QDragLeaveEvent leave;
  QCoreApplication::sendEvent(&Widget, &leave);
  EXPECT_EQ(Target.Calls, "EOL");
  RevokeDragDrop(&Widget);
}

TEST_F(TOleDragDropTest, RegistrationIsOncePerWidgetAndEndsWithIt) {
  EXPECT_EQ(RegisterDragDrop(nullptr, &Target), DRAGDROP_E_INVALIDHWND);
  EXPECT_EQ(RevokeDragDrop(&Widget), DRAGDROP_E_NOTREGISTERED);
  ASSERT_EQ(RegisterDragDrop(&Widget, &Target), S_OK);
  EXPECT_EQ(RegisterDragDrop(&Widget, &Target), DRAGDROP_E_ALREADYREGISTERED);
  EXPECT_EQ(RevokeDragDrop(&Widget), S_OK);
  EXPECT_FALSE(Widget.acceptDrops());
  EXPECT_EQ(Enter(Qt::CopyAction, Qt::NoModifier), Qt::IgnoreAction);
  EXPECT_EQ(Target.Calls, "");

  auto* child = new QWidget(&Widget);
  ASSERT_EQ(RegisterDragDrop(child, &Target), S_OK);
  delete child;
  EXPECT_FALSE(IsDragDropRegistered(child));
}

TEST(OleServices, NoHelperObjectButTheClipboardIsOfferedAsADragIs) {
  IUnknown* helper = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IDropTargetHelper, reinterpret_cast<void**>(&helper)),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(helper, nullptr);

  auto* mime = new QMimeData;
  mime->setUrls({QUrl::fromLocalFile("/tmp/c.raw")});
  mime->setText("c");
  QGuiApplication::clipboard()->setMimeData(mime);
  IDataObject* data = nullptr;
  ASSERT_EQ(OleGetClipboard(&data), S_OK);
  EXPECT_EQ(Bytes(*data, CF_HDROP), DropFiles({u"/tmp/c.raw"}));
  EXPECT_EQ(Bytes(*data, static_cast<CLIPFORMAT>(RegisterClipboardFormatA("text/plain"))), "c");
  data->Release();

  QGuiApplication::clipboard()->clear();
  ASSERT_EQ(OleGetClipboard(&data), S_OK);
  EXPECT_TRUE(FormatNames(*data).empty());
  data->Release();
  EXPECT_EQ(OleGetClipboard(nullptr), E_POINTER);
}

} // namespace
