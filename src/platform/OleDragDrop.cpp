#include "platform/OleDragDrop.h"

#include "platform/TextCodec.h"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QWidget>
#include <atomic>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace platform {

namespace {

struct TFormatBlock {
  CLIPFORMAT Format;
  QByteArray Bytes;
};

FORMATETC HGlobalFormat(CLIPFORMAT Format) {
  return FORMATETC{Format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
}

class TFormatEnumerator final : public TRefCounted<IEnumFORMATETC, IID_IEnumFORMATETC> {
public:
  explicit TFormatEnumerator(std::vector<FORMATETC> Formats, size_t Position = 0)
      : FFormats(std::move(Formats))
      , FPosition(Position) {}

  HRESULT Next(ULONG Count, FORMATETC* Formats, ULONG* Fetched) override {
    ULONG fetched = 0;
    for (; fetched < Count && FPosition < FFormats.size(); ++fetched)
      Formats[fetched] = FFormats[FPosition++];
    if (Fetched)
      *Fetched = fetched;
    return fetched == Count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG Count) override {
    FPosition = std::min(FFormats.size(), FPosition + Count);
    return FPosition < FFormats.size() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    FPosition = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumFORMATETC** Enum) override {
    if (!Enum)
      return E_POINTER;
    *Enum = new TFormatEnumerator(FFormats, FPosition);
    return S_OK;
  }

private:
  ~TFormatEnumerator() override = default;
  std::vector<FORMATETC> FFormats;
  size_t FPosition;
};

// DROPFILES: offset of the list, drop point, non-client flag, wide flag; then
// the zero-terminated UTF-16 names and one more zero. Names are the host's
// bytes, widened so that the reader's narrowing gives every byte back.
QByteArray DropFilesBlock(const std::vector<QByteArray>& Paths) {
  QByteArray block(20, '\0');
  const uint32_t header[5] = {20, 0, 0, 0, 1};
  std::memcpy(block.data(), header, sizeof header);
  for (const QByteArray& path : Paths) {
    const std::u16string wide = BytesToWide(std::string_view(path.constData(), path.size()));
    block.append(reinterpret_cast<const char*>(wide.c_str()),
                 static_cast<qsizetype>((wide.size() + 1) * sizeof(char16_t)));
  }
  block.append(2, '\0');
  return block;
}

// The path of one URI-list line naming a file of this machine, as the host's
// bytes; nothing for a comment, another scheme or another host. QUrl would
// read the path as UTF-8 and lose the bytes of a name that is not.
std::optional<QByteArray> LocalPath(QByteArray Line) {
  Line = Line.trimmed();
  if (Line.left(5).toLower() != "file:")
    return std::nullopt;
  QByteArray rest = Line.mid(5);
  if (rest.startsWith("//")) {
    const qsizetype slash = rest.indexOf('/', 2);
    const QByteArray host = rest.mid(2, slash < 0 ? -1 : slash - 2).toLower();
    if (!host.isEmpty() && host != "localhost")
      return std::nullopt;
    rest = slash < 0 ? QByteArray() : rest.mid(slash);
  }
  for (char delimiter : {'?', '#'})
    if (const qsizetype at = rest.indexOf(delimiter); at >= 0)
      rest.truncate(at);
  const QByteArray path = QByteArray::fromPercentEncoding(rest);
  // A zero byte would end the name early in the file list.
  if (!path.startsWith('/') || path.contains('\0'))
    return std::nullopt;
  return path;
}

std::vector<QByteArray> LocalFiles(const QMimeData& Data) {
  std::vector<QByteArray> paths;
  for (const QByteArray& line : Data.data(QStringLiteral("text/uri-list")).split('\n'))
    if (std::optional<QByteArray> path = LocalPath(line))
      paths.push_back(*path);
  return paths;
}

// Owns a copy of every block, so that it outlives the drag that made it.
class TMimeDataObject final : public TRefCounted<IDataObject, IID_IDataObject> {
public:
  explicit TMimeDataObject(const QMimeData& Data) {
    const std::vector<QByteArray> paths = LocalFiles(Data);
    if (!paths.empty())
      FBlocks.push_back({CF_HDROP, DropFilesBlock(paths)});
    for (const QString& mime : Data.formats())
      if (CLIPFORMAT format = static_cast<CLIPFORMAT>(RegisterClipboardFormatA(mime.toUtf8())))
        FBlocks.push_back({format, Data.data(mime)});
  }

  HRESULT GetData(const FORMATETC* Format, STGMEDIUM* Medium) override {
    if (!Format || !Medium)
      return E_INVALIDARG;
    *Medium = STGMEDIUM{};
    HRESULT checked = QueryGetData(Format);
    if (checked != S_OK)
      return checked;
    const QByteArray& bytes = Find(Format->cfFormat)->Bytes;
    HGLOBAL memory = GlobalAlloc(GHND, static_cast<size_t>(bytes.size()));
    if (!memory)
      return E_OUTOFMEMORY;
    if (!bytes.isEmpty()) {
      std::memcpy(GlobalLock(memory), bytes.constData(), static_cast<size_t>(bytes.size()));
      GlobalUnlock(memory);
    }
    Medium->tymed = TYMED_HGLOBAL;
    Medium->hGlobal = memory;
    return S_OK;
  }
  HRESULT GetDataHere(const FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT QueryGetData(const FORMATETC* Format) override {
    if (!Format)
      return E_INVALIDARG;
    if (Format->dwAspect != DVASPECT_CONTENT)
      return DV_E_DVASPECT;
    if (!Find(Format->cfFormat))
      return DV_E_FORMATETC;
    return (Format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_TYMED;
  }
  HRESULT GetCanonicalFormatEtc(const FORMATETC*, FORMATETC* Canonical) override {
    if (Canonical)
      Canonical->ptd = nullptr;
    return E_NOTIMPL;
  }
  // Takes the feedback a target writes back (the performed effect and the
  // like), so that later readers of the same drag see it.
  HRESULT SetData(const FORMATETC* Format, STGMEDIUM* Medium, BOOL Release) override {
    if (!Format || !Medium || Medium->tymed != TYMED_HGLOBAL)
      return DV_E_TYMED;
    QByteArray bytes(static_cast<qsizetype>(GlobalSize(Medium->hGlobal)), '\0');
    if (const void* source = GlobalLock(Medium->hGlobal)) {
      std::memcpy(bytes.data(), source, static_cast<size_t>(bytes.size()));
      GlobalUnlock(Medium->hGlobal);
    }
    if (TFormatBlock* block = Find(Format->cfFormat))
      block->Bytes = bytes;
    else
      FBlocks.push_back({Format->cfFormat, bytes});
    if (Release)
      ReleaseStgMedium(Medium);
    return S_OK;
  }
  HRESULT EnumFormatEtc(DWORD Direction, IEnumFORMATETC** Enum) override {
    if (!Enum)
      return E_POINTER;
    *Enum = nullptr;
    if (Direction != DATADIR_GET)
      return E_NOTIMPL;
    std::vector<FORMATETC> formats;
    for (const TFormatBlock& block : FBlocks)
      formats.push_back(HGlobalFormat(block.Format));
    *Enum = new TFormatEnumerator(std::move(formats));
    return S_OK;
  }
  HRESULT DAdvise(const FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
  ~TMimeDataObject() override = default;
  TFormatBlock* Find(CLIPFORMAT Format) {
    for (TFormatBlock& block : FBlocks)
      if (block.Format == Format)
        return &block;
    return nullptr;
  }
  std::vector<TFormatBlock> FBlocks;
};

DWORD KeyState(Qt::MouseButtons Buttons, Qt::KeyboardModifiers Modifiers) {
  DWORD state = 0;
  if (Buttons & Qt::LeftButton)
    state |= MK_LBUTTON;
  if (Buttons & Qt::RightButton)
    state |= MK_RBUTTON;
  if (Buttons & Qt::MiddleButton)
    state |= MK_MBUTTON;
  if (Modifiers & Qt::ShiftModifier)
    state |= MK_SHIFT;
  if (Modifiers & Qt::ControlModifier)
    state |= MK_CONTROL;
  if (Modifiers & Qt::AltModifier)
    state |= MK_ALT;
  return state;
}

DWORD OfferedEffects(Qt::DropActions Actions) {
  DWORD effects = DROPEFFECT_NONE;
  if (Actions & Qt::CopyAction)
    effects |= DROPEFFECT_COPY;
  if (Actions & Qt::MoveAction)
    effects |= DROPEFFECT_MOVE;
  if (Actions & Qt::LinkAction)
    effects |= DROPEFFECT_LINK;
  return effects;
}

Qt::DropAction AcceptedAction(DWORD Effect) {
  if (Effect & DROPEFFECT_COPY)
    return Qt::CopyAction;
  if (Effect & DROPEFFECT_MOVE)
    return Qt::MoveAction;
  if (Effect & DROPEFFECT_LINK)
    return Qt::LinkAction;
  return Qt::IgnoreAction;
}

// The cursor shows refusal unless the target chose an action the source offers.
void Answer(QDropEvent& Event, HRESULT Result, DWORD Effect) {
  Qt::DropAction action = SUCCEEDED(Result) ? AcceptedAction(Effect) : Qt::IgnoreAction;
  if (action != Qt::IgnoreAction && (Event.possibleActions() & action)) {
    Event.setDropAction(action);
    Event.accept();
  } else {
    Event.setDropAction(Qt::IgnoreAction);
    Event.ignore();
  }
}

class TDropFilter;
std::map<const QWidget*, TDropFilter*>& Registrations() {
  static std::map<const QWidget*, TDropFilter*> registrations;
  return registrations;
}

// A child of the registered widget, so that the registration ends with it.
class TDropFilter final : public QObject {
public:
  TDropFilter(QWidget* Widget, IDropTarget* Target)
      : QObject(Widget)
      , FWidget(Widget)
      , FTarget(Target) {
    Registrations()[Widget] = this;
    Widget->installEventFilter(this);
  }
  ~TDropFilter() override { Registrations().erase(FWidget); }

  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Watched != FWidget)
      return false;
    switch (Event->type()) {
    case QEvent::DragEnter:
      Enter(static_cast<QDragEnterEvent&>(*Event));
      return true;
    case QEvent::DragMove:
      Move(static_cast<QDragMoveEvent&>(*Event));
      return true;
    case QEvent::DragLeave:
      Leave();
      return true;
    case QEvent::Drop:
      DropOn(static_cast<QDropEvent&>(*Event));
      return true;
    default:
      return false;
    }
  }

private:
  POINTL ScreenPoint(const QDropEvent& Event) const {
    QPoint point = FWidget->mapToGlobal(Event.position().toPoint());
    return POINTL{point.x(), point.y()};
  }
  void Enter(QDragEnterEvent& Event) {
    ComPtr<IDataObject> data;
    data.Attach(CreateMimeDataObject(*Event.mimeData()));
    ComPtr<IDropTarget> target = FTarget;
    DWORD effect = OfferedEffects(Event.possibleActions());
    HRESULT result = target->DragEnter(data.Get(), KeyState(Event.buttons(), Event.modifiers()),
                                       ScreenPoint(Event), &effect);
    Answer(Event, result, effect);
    // A target that refused the drag is still owed its moves and the leave;
    // Qt sends those only to a widget that took the enter event. The source
    // is still told no action.
    Event.accept();
  }
  void Move(QDragMoveEvent& Event) {
    ComPtr<IDropTarget> target = FTarget;
    DWORD effect = OfferedEffects(Event.possibleActions());
    HRESULT result =
        target->DragOver(KeyState(Event.buttons(), Event.modifiers()), ScreenPoint(Event), &effect);
    Answer(Event, result, effect);
  }
  void Leave() {
    ComPtr<IDropTarget> target = FTarget;
    target->DragLeave();
  }
  void DropOn(QDropEvent& Event) {
    ComPtr<IDataObject> data;
    data.Attach(CreateMimeDataObject(*Event.mimeData()));
    ComPtr<IDropTarget> target = FTarget;
    DWORD effect = OfferedEffects(Event.possibleActions());
    HRESULT result = target->Drop(data.Get(), KeyState(Event.buttons(), Event.modifiers()),
                                  ScreenPoint(Event), &effect);
    Answer(Event, result, effect);
  }

  QWidget* FWidget;
  ComPtr<IDropTarget> FTarget;
};

} // namespace

HRESULT RegisterDragDrop(QWidget* Widget, IDropTarget* Target) {
  if (!Widget)
    return DRAGDROP_E_INVALIDHWND;
  if (!Target)
    return E_INVALIDARG;
  if (IsDragDropRegistered(Widget))
    return DRAGDROP_E_ALREADYREGISTERED;
  new TDropFilter(Widget, Target);
  Widget->setAcceptDrops(true);
  return S_OK;
}

HRESULT RevokeDragDrop(QWidget* Widget) {
  auto found = Registrations().find(Widget);
  if (!Widget || found == Registrations().end())
    return DRAGDROP_E_NOTREGISTERED;
  delete found->second;
  Widget->setAcceptDrops(false);
  return S_OK;
}

bool IsDragDropRegistered(const QWidget* Widget) {
  return Registrations().count(Widget) != 0;
}

IDataObject* CreateMimeDataObject(const QMimeData& Data) {
  return new TMimeDataObject(Data);
}

HRESULT CoCreateInstance(const CLSID& /*Class*/, IUnknown* /*Outer*/, DWORD /*Context*/,
                         REFIID /*Iid*/, void** Object) {
  if (Object)
    *Object = nullptr;
  return REGDB_E_CLASSNOTREG;
}

HRESULT OleGetClipboard(IDataObject** DataObject) {
  if (!DataObject)
    return E_POINTER;
  *DataObject = nullptr;
  if (!qGuiApp)
    return CLIPBRD_E_CANT_OPEN;
  // Qt answers an empty clipboard with no data at all; it offers no format.
  const QMimeData none;
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  *DataObject = CreateMimeDataObject(data ? *data : none);
  return S_OK;
}

} // namespace platform
