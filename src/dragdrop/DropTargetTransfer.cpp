// The drop target's side of a drag: the four callbacks, data extraction
// (also on a worker thread), paste, and the multi-format and file targets.
#include "dragdrop/DragDropFormats.h"
#include "dragdrop/DropTarget.h"
#include "platform/OleDragDrop.h"
#include "platform/ScopeExit.h"

#include <QClipboard>
#include <QTimer>
#include <QWidget>

namespace dragdrop {

using namespace platform;

namespace {

QPoint ToPoint(POINTL Point) {
  return QPoint(Point.x, Point.y);
}

} // namespace

// An exception from an event handler must not cross into the drag source: it
// refuses the drag instead.
template <class TStep> HRESULT Guarded(DWORD* Effect, TStep Step) {
  try {
    return Step();
  } catch (...) {
    if (Effect)
      *Effect = DROPEFFECT_NONE;
    return E_UNEXPECTED;
  }
}

HRESULT TCustomDropTarget::DragEnter(IDataObject* DataObj, DWORD KeyState, POINTL Point,
                                     DWORD* Effect) {
  return Guarded(Effect, [&] {
    HRESULT result = S_OK;
    Enter(DataObj, KeyState, Point, *Effect, result);
    return result;
  });
}

void TCustomDropTarget::Enter(IDataObject* DataObj, DWORD KeyState, POINTL Point, DWORD& Effect,
                              HRESULT& Result) {
  ClearData();
  FDataObject = DataObj;
  FCurrentTarget = FindTarget(ToPoint(Point));
  QPoint point = ToPoint(Point);
  if (!FCurrentTarget) {
    ShowImage = false;
    AutoScroll = false;
  } else {
    point = FCurrentTarget->mapFromGlobal(point);
    FLastPoint = point;
  }
  if (HasValidFormats(FDataObject.Get())) {
    NoteScrollBars();
    if (GetDataOnEnter && !GetData(Effect)) {
      ReleaseDataObject();
      Effect = DROPEFFECT_NONE;
      Result = DV_E_CLIPFORMAT;
      return;
    }
    const TShiftState shiftState = KeyStateToShiftState(KeyState);
    Effect = GetValidDropEffect(shiftState, point, Effect);
    DoEnter(shiftState, point, Effect);
    if (Effect == DROPEFFECT_NONE)
      ReleaseDataObject();
  } else {
    FDataObject.Reset();
    Effect = DROPEFFECT_NONE;
  }
  // The shell's drag-image helper is the only image source on offer; when it
  // cannot be had, no image is shown.
  FDropTargetHelper.Reset();
  if (ShowImage)
    CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IDropTargetHelper,
                     reinterpret_cast<void**>(FDropTargetHelper.Put()));
}

HRESULT TCustomDropTarget::DragOver(DWORD KeyState, POINTL Point, DWORD* Effect) {
  return Guarded(Effect, [&] {
    if (!FCurrentTarget) {
      *Effect = DROPEFFECT_NONE;
      return E_UNEXPECTED;
    }
    const QPoint point = FCurrentTarget->mapFromGlobal(ToPoint(Point));
    HRESULT result = DV_E_CLIPFORMAT;
    if (FDataObject) {
      const TShiftState shiftState = KeyStateToShiftState(KeyState);
      *Effect = GetValidDropEffect(shiftState, point, *Effect);
      DoDragOver(shiftState, point, *Effect);
      if ((*Effect & DROPEFFECT_SCROLL) && !FScrollTimer->isActive())
        FScrollTimer->start(DragScrollDelay);
      result = S_OK;
    }
    FLastPoint = point;
    return result;
  });
}

HRESULT TCustomDropTarget::DragLeave() {
  return Guarded(nullptr, [&] {
    ClearData();
    FScrollTimer->stop();
    FDataObject.Reset();
    const platform::TScopeExit forget([this] {
      FCurrentTarget = nullptr;
      FDropTargetHelper.Reset();
    });
    DoLeave();
    return S_OK;
  });
}

HRESULT TCustomDropTarget::Drop(IDataObject* /*DataObj*/, DWORD KeyState, POINTL Point,
                                DWORD* Effect) {
  HRESULT result = Guarded(Effect, [&] {
    FScrollTimer->stop();
    if (!FDataObject) {
      *Effect = DROPEFFECT_NONE;
      return E_UNEXPECTED;
    }
    const TShiftState shiftState = KeyStateToShiftState(KeyState);
    QPoint point = ToPoint(Point);
    if (FCurrentTarget)
      point = FCurrentTarget->mapFromGlobal(point);
    *Effect = GetValidDropEffect(shiftState, point, *Effect);
    if (GetDataOnEnter || GetData(*Effect))
      DoDrop(shiftState, point, *Effect);
    else
      *Effect = DROPEFFECT_NONE;
    return S_OK;
  });
  EndDrop();
  return result;
}

// A running transfer still needs its data object; the end of the transfer
// lets go of it instead.
void TCustomDropTarget::EndDrop() {
  if (!FAsyncTransferInProgress) {
    try {
      ClearData();
    } catch (...) {
    }
  }
  ReleaseDataObject();
  FDropTargetHelper.Reset();
  FCurrentTarget = nullptr;
}

// The worker of a running transfer reads the data object; the end of the
// transfer lets go of it then.
void TCustomDropTarget::ReleaseDataObject() {
  if (!FAsyncTransferInProgress)
    FDataObject.Reset();
}

bool TCustomDropTarget::GetData(DWORD Effect) {
  ClearData();
  ComPtr<IAsyncOperation> operation;
  BOOL async = 0;
  if (AllowAsyncTransfer && FDataObject &&
      FDataObject->QueryInterface(IID_IAsyncOperation, reinterpret_cast<void**>(operation.Put())) ==
          S_OK &&
      SUCCEEDED(operation->GetAsyncMode(&async)) && async) {
    StartAsyncTransfer(*operation.Get(), Effect);
    return true;
  }
  return DoGetData();
}

// Every destructor along the class tree waits here before it frees what the
// worker reads: the data formats, and the overrides its calls land in.
void TCustomDropTarget::JoinTransfer() {
  if (FTransferThread.joinable())
    FTransferThread.join();
}

// There is no marshalling here: the worker uses the data object directly, and
// the component does not touch it until the end has come back to this thread.
void TCustomDropTarget::StartAsyncTransfer(IAsyncOperation& Operation, DWORD Effect) {
  JoinTransfer();
  if (OnStartAsyncTransfer)
    OnStartAsyncTransfer(*this);
  FAsyncTransferInProgress = true;
  Operation.StartOperation(nullptr);
  ComPtr<IAsyncOperation> operation(&Operation);
  FTransferThread = std::thread([this, operation, Effect] {
    HRESULT outcome = S_OK;
    try {
      DoGetData();
    } catch (...) {
      outcome = E_UNEXPECTED;
    }
    operation->EndOperation(outcome, nullptr, Effect);
    QMetaObject::invokeMethod(
        this,
        [this] {
          FAsyncTransferInProgress = false;
          if (!FCurrentTarget)
            FDataObject.Reset();
          if (OnEndAsyncTransfer)
            OnEndAsyncTransfer(*this);
        },
        Qt::QueuedConnection);
  });
}

DWORD TCustomDropTarget::PasteFromClipboard() {
  HRESULT result = OleGetClipboard(reinterpret_cast<IDataObject**>(FDataObject.Put()));
  if (FAILED(result))
    throw EOleSysError(result);
  const platform::TScopeExit release([this] { ReleaseDataObject(); });
  DWORD effect = GetPreferredDropEffect();
  if (!GetData(effect))
    effect = DROPEFFECT_NONE;
  DoPaste(effect);
  return effect;
}

void TCustomDropTarget::Assign(QClipboard* /*Source*/) {
  PasteFromClipboard();
}

void TCustomDropTarget::Assign(IUnknown* Source) {
  ComPtr<IDataObject> data;
  if (Source &&
      Source->QueryInterface(IID_IDataObject, reinterpret_cast<void**>(data.Put())) == S_OK) {
    FDataObject = data;
    bool extracted = false;
    {
      const platform::TScopeExit release([this] { ReleaseDataObject(); });
      extracted = GetData(DROPEFFECT_COPY);
    }
    if (extracted)
      return;
  }
  throw EDragDropError(std::string("Cannot assign a ") + (Source ? "IUnknown" : "nil") + " to a " +
                       ClassName());
}

TCustomDropMultiTarget::TCustomDropMultiTarget(QObject* AOwner)
    : TCustomDropTarget(AOwner) {
  Dragtypes = {dtCopy, dtLink};
  DataFormats = &FDataFormats;
}

TCustomDropMultiTarget::~TCustomDropMultiTarget() {
  JoinTransfer();
  for (int i = FDataFormats.Count() - 1; i >= 0; --i)
    delete FDataFormats.Items(i);
  DataFormats = nullptr;
}

void TCustomDropMultiTarget::DoAcceptFormat(TCustomDataFormat& DataFormat, bool& Accept) {
  if (OnAcceptFormat)
    OnAcceptFormat(*this, DataFormat, Accept);
}

bool TCustomDropMultiTarget::HasValidFormats(IDataObject* DataObj) {
  ComPtr<IEnumFORMATETC> formats;
  if (!DataObj || DataObj->EnumFormatEtc(DATADIR_GET, formats.Put()) != S_OK || !formats ||
      formats->Reset() != S_OK)
    return false;
  FORMATETC format{};
  ULONG fetched = 0;
  while (formats->Next(1, &format, &fetched) == S_OK && fetched == 1)
    for (int i = 0; i < FDataFormats.Count(); ++i) {
      TCustomDataFormat& dataFormat = *FDataFormats.Items(i);
      if (!dataFormat.AcceptFormat(format) || !dataFormat.HasValidFormats(DataObj))
        continue;
      bool accept = true;
      DoAcceptFormat(dataFormat, accept);
      if (accept)
        return true;
    }
  return false;
}

bool TCustomDropMultiTarget::DoGetData() {
  bool result = false;
  for (int i = 0; i < FDataFormats.Count(); ++i) {
    TCustomDataFormat& dataFormat = *FDataFormats.Items(i);
    if (!dataFormat.HasValidFormats(DataObject()))
      continue;
    bool accept = true;
    DoAcceptFormat(dataFormat, accept);
    if (accept && dataFormat.GetData(DataObject()))
      result = true;
  }
  return result;
}

void TCustomDropMultiTarget::ClearData() {
  if (FAsyncTransferInProgress)
    throw EDragDropError("Can't clear data while async data transfer is in progress");
  for (int i = 0; i < FDataFormats.Count(); ++i)
    FDataFormats.Items(i)->Clear();
}

TDropFileTarget::TDropFileTarget(QObject* AOwner)
    : TCustomDropMultiTarget(AOwner) {
  DragDropFileStartup();
  OptimizedMove = true;
  FFileFormat = std::make_unique<TFileDataFormat>(this);
  FFileMapFormat = std::make_unique<TFileMapDataFormat>(this);
}

TDropFileTarget::~TDropFileTarget() {
  JoinTransfer();
  FFileFormat.reset();
  FFileMapFormat.reset();
  DragDropFileShutdown();
}

DWORD TDropFileTarget::GetPreferredDropEffect() {
  DWORD effect = TCustomDropMultiTarget::GetPreferredDropEffect();
  return effect == DROPEFFECT_NONE ? DROPEFFECT_COPY : effect;
}

} // namespace dragdrop
