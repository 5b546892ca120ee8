#pragma once

#include "platform/Ole.h"

class QMimeData;
class QWidget;

// Drag-and-drop registration of a widget, and the few other OLE services the
// drop target asks for, over Qt's drag events. Lives beside the drop target
// rather than in the platform library because it needs Qt and the data core,
// which links the platform library, must stay free of it.
namespace platform {

inline constexpr HRESULT DRAGDROP_E_NOTREGISTERED = static_cast<HRESULT>(0x80040100);
inline constexpr HRESULT DRAGDROP_E_ALREADYREGISTERED = static_cast<HRESULT>(0x80040101);
inline constexpr HRESULT DRAGDROP_E_INVALIDHWND = static_cast<HRESULT>(0x80040102);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
inline constexpr HRESULT CLIPBRD_E_CANT_OPEN = static_cast<HRESULT>(0x800401D0);
inline constexpr DWORD CLSCTX_INPROC_SERVER = 1;

inline constexpr CLSID CLSID_DragDropHelper{
    0x4657278A, 0x411B, 0x11D2, {0x83, 0x9A, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};
inline constexpr IID IID_IDropTargetHelper{
    0x4657278B, 0x411B, 0x11D2, {0x83, 0x9A, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};

// Qt's drag events on Widget become calls of Target, which is held until the
// registration is revoked or the widget goes away.
HRESULT RegisterDragDrop(QWidget* Widget, IDropTarget* Target);
HRESULT RevokeDragDrop(QWidget* Widget);
bool IsDragDropRegistered(const QWidget* Widget);

// A data object over a snapshot of Data: every MIME format as the registered
// format of its name, and the local files of its URL list as CF_HDROP. The
// caller owns the one reference returned.
IDataObject* CreateMimeDataObject(const QMimeData& Data);

// No COM classes exist on this host (the drag-image helper among them).
HRESULT CoCreateInstance(const CLSID& Class, IUnknown* Outer, DWORD Context, REFIID Iid,
                         void** Object);
// A data object over a snapshot of the system clipboard, offered as a drag's
// data is (an empty clipboard offers no format); CLIPBRD_E_CANT_OPEN without
// an application to own a clipboard.
HRESULT OleGetClipboard(IDataObject** DataObject);

} // namespace platform
