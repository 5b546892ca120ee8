#include "dragdrop/DropTarget.h"

#include "dragdrop/DragDropFormats.h"
#include "platform/OleDragDrop.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QLoggingCategory>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QWidget>
#include <cstdio>

// Interface queries are traced at debug level, which this category leaves off
// unless QT_LOGGING_RULES="zandrel.dragdrop.debug=true" asks for it.
Q_LOGGING_CATEGORY(lcDragDrop, "zandrel.dragdrop", QtInfoMsg)

namespace dragdrop {

using namespace platform;

int DragScrollDelay = 50;
int DragScrollInterval = 50;

namespace {

std::string HexCode(HRESULT Code) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(Code));
  return text;
}

} // namespace

EOleSysError::EOleSysError(HRESULT Code)
    : std::runtime_error("OLE error " + HexCode(Code))
    , ErrorCode(Code) {}

std::string InterfaceName(REFIID Iid) {
  static const std::pair<const IID*, const char*> known[] = {
      {&IID_IUnknown, "IUnknown"},
      {&IID_IDataObject, "IDataObject"},
      {&IID_IDropTarget, "IDropTarget"},
      {&IID_IEnumFORMATETC, "IEnumFORMATETC"},
      {&IID_IStream, "IStream"},
      {&IID_IAsyncOperation, "IAsyncOperation"},
      {&IID_IDropTargetHelper, "IDropTargetHelper"}};
  for (const auto& [iid, name] : known)
    if (*iid == Iid)
      return name;
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Iid.Data1,
                Iid.Data2, Iid.Data3, Iid.Data4[0], Iid.Data4[1], Iid.Data4[2], Iid.Data4[3],
                Iid.Data4[4], Iid.Data4[5], Iid.Data4[6], Iid.Data4[7]);
  return text;
}

TInterfacedComponent::TInterfacedComponent(QObject* AOwner)
    : QObject(AOwner) {}

void* TInterfacedComponent::GetInterface(REFIID /*Iid*/) {
  return nullptr;
}

HRESULT TInterfacedComponent::QueryInterface(REFIID Iid, void** Object) {
  if (!Object) {
    qCDebug(lcDragDrop, "%s.QueryInterface(%s): %d (0)", ClassName(), InterfaceName(Iid).c_str(),
            static_cast<int>(E_POINTER));
    return E_POINTER;
  }
  HRESULT result = E_NOINTERFACE;
  void* found = GetInterface(Iid);
  if (found) {
    *Object = found;
    AddRef();
    result = S_OK;
  } else if (OuterUnknown) {
    result = OuterUnknown->QueryInterface(Iid, Object);
  } else {
    *Object = nullptr;
  }
  qCDebug(lcDragDrop, "%s.QueryInterface(%s): %d (%d)", ClassName(), InterfaceName(Iid).c_str(),
          static_cast<int>(result), *Object ? 1 : 0);
  return result;
}

ULONG TInterfacedComponent::AddRef() {
  if (auto* owner = dynamic_cast<IUnknown*>(parent()))
    return owner->AddRef();
  return static_cast<ULONG>(-1);
}

ULONG TInterfacedComponent::Release() {
  if (auto* owner = dynamic_cast<IUnknown*>(parent()))
    return owner->Release();
  return static_cast<ULONG>(-1);
}

DWORD DragTypesToDropEffect(TDragTypes Types) {
  DWORD effect = DROPEFFECT_NONE;
  if (Types.Contains(dtCopy))
    effect |= DROPEFFECT_COPY;
  if (Types.Contains(dtMove))
    effect |= DROPEFFECT_MOVE;
  if (Types.Contains(dtLink))
    effect |= DROPEFFECT_LINK;
  return effect;
}

TShiftState KeyStateToShiftState(DWORD KeyState) {
  static const std::pair<DWORD, TShiftStateItem> keys[] = {
      {MK_SHIFT, ssShift},  {MK_CONTROL, ssCtrl},  {MK_ALT, ssAlt},
      {MK_LBUTTON, ssLeft}, {MK_RBUTTON, ssRight}, {MK_MBUTTON, ssMiddle}};
  TShiftState state;
  for (const auto& [bit, item] : keys)
    if (KeyState & bit)
      state.Include(item);
  return state;
}

int TControlList::Add(QWidget* Control) {
  FItems.push_back(Control);
  return Count() - 1;
}

void TControlList::Insert(int Index, QWidget* Control) {
  FItems.insert(FItems.begin() + Index, Control);
}

void TControlList::Delete(int Index) {
  FItems.erase(FItems.begin() + Index);
}

int TControlList::IndexOf(const QWidget* Control) const {
  for (int i = 0; i < Count(); ++i)
    if (FItems[static_cast<size_t>(i)] == Control)
      return i;
  return -1;
}

// Keeps its parent registered for as long as the parent lives, and again
// after the parent's native window has been re-created.
class TWinControlProxy final : public QObject {
public:
  TWinControlProxy(TCustomDropTarget& Owner, QWidget& Control)
      : QObject(&Control)
      , FOwner(Owner)
      , FControl(Control) {
    RegisterParent();
    Control.installEventFilter(this);
  }
  // Detached first when the component unregisters; still a child when the
  // control itself is going away.
  ~TWinControlProxy() override {
    if (parent())
      FOwner.ControlDestroyed(&FControl);
    else
      RevokeDragDrop(&FControl);
  }
  TCustomDropTarget& Owner() const { return FOwner; }

  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Watched == &FControl && Event->type() == QEvent::WinIdChange) {
      RevokeDragDrop(&FControl);
      RegisterParent();
    }
    return false;
  }

private:
  void RegisterParent() {
    HRESULT result = RegisterDragDrop(&FControl, static_cast<IDropTarget*>(&FOwner));
    if (FAILED(result))
      throw EOleSysError(result);
  }
  TCustomDropTarget& FOwner;
  QWidget& FControl;
};

namespace {

TWinControlProxy* ProxyOf(QWidget& Control, const TCustomDropTarget& Owner) {
  for (QObject* child : Control.children())
    if (auto* proxy = dynamic_cast<TWinControlProxy*>(child); proxy && &proxy->Owner() == &Owner)
      return proxy;
  return nullptr;
}

// Sources read the feedback formats from global memory.
template <class TFormat>
bool WriteFeedback(TFormat& Format, IDataObject* DataObject, DWORD Effect) {
  Format.Value = Effect;
  FORMATETC requested = Format.FormatEtc();
  requested.tymed = TYMED_HGLOBAL;
  STGMEDIUM medium{};
  return Format.SetData(DataObject, requested, medium);
}

} // namespace

TCustomDropTarget::TCustomDropTarget(QObject* AOwner)
    : TInterfacedComponent(AOwner)
    , FScrollTimer(new QTimer(this)) {
  FScrollTimer->setSingleShot(false);
  QObject::connect(FScrollTimer, &QTimer::timeout, this, [this] { ScrollTimerTimer(); });
}

TCustomDropTarget::~TCustomDropTarget() {
  JoinTransfer();
  FDataObject.Reset();
  FDropTargetHelper.Reset();
  Unregister(nullptr);
}

void* TCustomDropTarget::GetInterface(REFIID Iid) {
  if (Iid == IID_IUnknown || Iid == IID_IDropTarget)
    return static_cast<IDropTarget*>(this);
  return TInterfacedComponent::GetInterface(Iid);
}

void TCustomDropTarget::Register(QWidget* Control) {
  if (Control && FTargets.IndexOf(Control) >= 0)
    return;
  if (!MultiTarget)
    Unregister(nullptr);
  if (!Control)
    return;
  int index = FTargets.Count();
  for (int i = FTargets.Count() - 1; i >= 0; --i)
    if (FTargets.Items(i)->isAncestorOf(Control)) {
      index = i + 1;
      break;
    }
  FTargets.Insert(index, Control);
  try {
    new TWinControlProxy(*this, *Control);
  } catch (...) {
    FTargets.Delete(FTargets.IndexOf(Control));
    throw;
  }
}

void TCustomDropTarget::Unregister(QWidget* Control) {
  if (!Control) {
    while (FTargets.Count() > 0)
      Unregister(FTargets.Items(FTargets.Count() - 1));
    return;
  }
  int index = FTargets.IndexOf(Control);
  if (index < 0)
    return;
  if (FCurrentTarget == Control)
    FCurrentTarget = nullptr;
  FTargets.Delete(index);
  if (TWinControlProxy* proxy = ProxyOf(*Control, *this)) {
    proxy->setParent(nullptr);
    delete proxy;
  }
}

void TCustomDropTarget::ControlDestroyed(QWidget* Control) {
  int index = FTargets.IndexOf(Control);
  if (index >= 0)
    FTargets.Delete(index);
  if (FCurrentTarget == Control)
    FCurrentTarget = nullptr;
}

QWidget* TCustomDropTarget::Target() const {
  if (FCurrentTarget)
    return FCurrentTarget;
  return FTargets.Count() > 0 ? FTargets.Items(0) : nullptr;
}

void TCustomDropTarget::SetTarget(QWidget* Value) {
  if (Value == FCurrentTarget)
    return;
  if (MultiTarget)
    Unregister(nullptr);
  Register(Value);
}

QWidget* TCustomDropTarget::FindTarget(QPoint ScreenPoint) const {
  for (QWidget* control = QApplication::widgetAt(ScreenPoint); control;
       control = control->parentWidget())
    if (FTargets.IndexOf(control) >= 0)
      return control;
  return nullptr;
}

DWORD TCustomDropTarget::GetValidDropEffect(TShiftState ShiftState, QPoint Point,
                                            DWORD OfferedEffects) {
  const DWORD allowed = DragTypesToDropEffect(Dragtypes) & OfferedEffects;
  const bool shift = ShiftState.Contains(ssShift);
  const bool ctrl = ShiftState.Contains(ssCtrl);
  const DWORD wanted = shift && ctrl ? DROPEFFECT_LINK : ctrl ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
  DWORD effect = allowed & wanted;
  if (effect == DROPEFFECT_NONE)
    for (DWORD candidate : {DROPEFFECT_COPY, DROPEFFECT_MOVE, DROPEFFECT_LINK})
      if (allowed & candidate) {
        effect = candidate;
        break;
      }
  if (AutoScroll && (FScrollHorizontal || FScrollVertical)) {
    if (FNoScrollRect.contains(Point))
      effect &= ~DROPEFFECT_SCROLL;
    else
      effect |= DROPEFFECT_SCROLL;
  }
  if (OnGetDropEffect)
    OnGetDropEffect(*this, ShiftState, Point, effect);
  return effect;
}

DWORD TCustomDropTarget::GetPreferredDropEffect() {
  TPreferredDropEffectClipboardFormat format;
  return format.GetData(FDataObject.Get()) ? format.Value : DROPEFFECT_NONE;
}

bool TCustomDropTarget::SetPerformedDropEffect(DWORD Effect) {
  TPerformedDropEffectClipboardFormat format;
  return WriteFeedback(format, FDataObject.Get(), Effect);
}

bool TCustomDropTarget::SetPasteSucceeded(DWORD Effect) {
  TPasteSuccededClipboardFormat format;
  return WriteFeedback(format, FDataObject.Get(), Effect);
}

void TCustomDropTarget::DoEnter(TShiftState ShiftState, QPoint Point, DWORD& Effect) {
  if (OnEnter)
    OnEnter(*this, ShiftState, Point, Effect);
}

void TCustomDropTarget::DoDragOver(TShiftState ShiftState, QPoint Point, DWORD& Effect) {
  if (OnDragOver)
    OnDragOver(*this, ShiftState, Point, Effect);
}

void TCustomDropTarget::DoLeave() {
  if (OnLeave)
    OnLeave(*this);
}

void TCustomDropTarget::DoDrop(TShiftState ShiftState, QPoint Point, DWORD& Effect) {
  if (OnDrop)
    OnDrop(*this, ShiftState, Point, Effect);
  if (Effect == DROPEFFECT_NONE)
    return;
  if (OptimizedMove && Effect == DROPEFFECT_MOVE)
    Effect = DROPEFFECT_COPY;
  SetPerformedDropEffect(Effect);
}

void TCustomDropTarget::DoPaste(DWORD& Effect) {
  DoDrop(TShiftState(), QPoint(0, 0), Effect);
  if (Effect != DROPEFFECT_NONE)
    SetPasteSucceeded(Effect);
}

void TCustomDropTarget::DoScroll(QPoint Point, TScrolDirections& Scroll, int& Interval) {
  if (OnScroll)
    OnScroll(*this, Point, Scroll, Interval);
}

// Only a scroll area shows scroll bars of its own, so only it can auto-scroll.
void TCustomDropTarget::NoteScrollBars() {
  FScrollHorizontal = FScrollVertical = false;
  auto* area = qobject_cast<QAbstractScrollArea*>(FCurrentTarget.data());
  if (!AutoScroll || !area)
    return;
  FScrollHorizontal = area->horizontalScrollBar()->isVisible();
  FScrollVertical = area->verticalScrollBar()->isVisible();
  if (!FScrollHorizontal && !FScrollVertical)
    return;
  const int extent = area->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area);
  FNoScrollRect = area->rect();
  if (FScrollVertical)
    FNoScrollRect.adjust(0, extent, 0, -extent);
  if (FScrollHorizontal)
    FNoScrollRect.adjust(extent, 0, -extent, 0);
}

void TCustomDropTarget::ScrollTimerTimer() {
  FScrollTimer->stop();
  int interval = DragScrollInterval;
  TScrolDirections scroll;
  if (!FNoScrollRect.contains(FLastPoint)) {
    // QRect's right and bottom are the last pixels inside.
    if (FLastPoint.y() < FNoScrollRect.top())
      scroll.Include(sdUp);
    else if (FLastPoint.y() > FNoScrollRect.bottom() + 1)
      scroll.Include(sdDown);
    if (FLastPoint.x() < FNoScrollRect.left())
      scroll.Include(sdLeft);
    else if (FLastPoint.x() > FNoScrollRect.right() + 1)
      scroll.Include(sdRight);
  }
  DoScroll(FLastPoint, scroll, interval);
  if (scroll.Empty())
    return;
  if (auto* area = qobject_cast<QAbstractScrollArea*>(FCurrentTarget.data())) {
    if (scroll.Contains(sdUp) || scroll.Contains(sdDown))
      area->verticalScrollBar()->triggerAction(scroll.Contains(sdUp)
                                                   ? QAbstractSlider::SliderSingleStepSub
                                                   : QAbstractSlider::SliderSingleStepAdd);
    if (scroll.Contains(sdLeft) || scroll.Contains(sdRight))
      area->horizontalScrollBar()->triggerAction(scroll.Contains(sdLeft)
                                                     ? QAbstractSlider::SliderSingleStepSub
                                                     : QAbstractSlider::SliderSingleStepAdd);
  }
  FScrollTimer->start(std::max(interval, 0));
}

} // namespace dragdrop
