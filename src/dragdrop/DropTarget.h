#pragma once

#include "dragdrop/DragDrop.h"
#include "dragdrop/DragDropFile.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

class QClipboard;
class QTimer;
class QWidget;

// The drop target components: a control registered with OLE drag and drop
// turns what is dropped on it into the data of its data formats.
namespace dragdrop {

using platform::IDropTarget;
using platform::IUnknown;
using platform::POINTL;
using platform::REFIID;
using platform::ULONG;

// An OLE call that failed where the caller cannot go on.
class EOleSysError : public std::runtime_error {
public:
  explicit EOleSysError(HRESULT Code);
  HRESULT ErrorCode;
};

// A component that answers interface queries itself. Its lifetime is its
// owner's business: references are only counted when the owner counts them.
class TInterfacedComponent : public QObject {
public:
  explicit TInterfacedComponent(QObject* AOwner);
  HRESULT QueryInterface(REFIID Iid, void** Object);
  ULONG AddRef();
  ULONG Release();
  virtual const char* ClassName() const { return "TInterfacedComponent"; }

  // The outer object that answers queries this component does not know.
  IUnknown* OuterUnknown = nullptr;

protected:
  // The component's own interface table; nullptr when Iid is not in it.
  virtual void* GetInterface(REFIID Iid);
};

// The name of an interface for the trace: known names, else the GUID in braces.
std::string InterfaceName(REFIID Iid);

enum TDragType : uint8_t { dtCopy, dtMove, dtLink };

template <class TItem> class TSmallSet {
public:
  constexpr TSmallSet() = default;
  constexpr TSmallSet(std::initializer_list<TItem> Items) {
    for (TItem item : Items)
      FBits = static_cast<uint16_t>(FBits | 1u << item);
  }
  constexpr bool Contains(TItem Item) const { return (FBits >> Item & 1u) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr void Include(TItem Item) { FBits = static_cast<uint16_t>(FBits | 1u << Item); }
  friend constexpr bool operator==(TSmallSet, TSmallSet) = default;

private:
  uint16_t FBits = 0;
};

using TDragTypes = TSmallSet<TDragType>;
enum TShiftStateItem : uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle };
using TShiftState = TSmallSet<TShiftStateItem>;
enum TScrolDirection : uint8_t { sdUp, sdDown, sdLeft, sdRight };
using TScrolDirections = TSmallSet<TScrolDirection>;

DWORD DragTypesToDropEffect(TDragTypes Types);
TShiftState KeyStateToShiftState(DWORD KeyState);

// Milliseconds before the first auto-scroll step and between steps.
extern int DragScrollDelay;
extern int DragScrollInterval;

class TCustomDropTarget;
// DROPEFFECT_* bits, under a name of this component so that its users need
// not reach into the platform layer for the type.
using TDropEffects = DWORD;
using TDropTargetEvent = std::function<void(TCustomDropTarget& Sender, TShiftState ShiftState,
                                            QPoint& APoint, TDropEffects& Effect)>;
using TDropTargetScrollEvent = std::function<void(TCustomDropTarget& Sender, QPoint Point,
                                                  TScrolDirections& Scroll, int& Interval)>;
using TNotifyEvent = std::function<void(TCustomDropTarget& Sender)>;

class TControlList {
public:
  int Add(QWidget* Control);
  void Insert(int Index, QWidget* Control);
  void Delete(int Index);
  int IndexOf(const QWidget* Control) const;
  QWidget* Items(int Index) const { return FItems.at(static_cast<size_t>(Index)); }
  int Count() const { return static_cast<int>(FItems.size()); }

private:
  std::vector<QWidget*> FItems;
};

class TCustomDropTarget : public TInterfacedComponent,
                          public TDragDropComponent,
                          public IDropTarget {
public:
  explicit TCustomDropTarget(QObject* AOwner);
  ~TCustomDropTarget() override;
  const char* ClassName() const override { return "TCustomDropTarget"; }

  HRESULT QueryInterface(REFIID Iid, void** Object) override {
    return TInterfacedComponent::QueryInterface(Iid, Object);
  }
  ULONG AddRef() override { return TInterfacedComponent::AddRef(); }
  ULONG Release() override { return TInterfacedComponent::Release(); }

  HRESULT DragEnter(IDataObject* DataObj, DWORD KeyState, POINTL Point, DWORD* Effect) override;
  HRESULT DragOver(DWORD KeyState, POINTL Point, DWORD* Effect) override;
  HRESULT DragLeave() override;
  HRESULT Drop(IDataObject* DataObj, DWORD KeyState, POINTL Point, DWORD* Effect) override;

  void Register(QWidget* Control);
  // nullptr unregisters every control.
  void Unregister(QWidget* Control = nullptr);
  QWidget* Target() const;
  void SetTarget(QWidget* Value);
  const TControlList& Targets() const { return FTargets; }

  virtual DWORD PasteFromClipboard();
  // Extracts from the clipboard or from a data object; anything else cannot be assigned.
  void Assign(QClipboard* Source);
  void Assign(IUnknown* Source);

  IDataObject* DataObject() const { return FDataObject.Get(); }
  bool AsyncTransferInProgress() const { return FAsyncTransferInProgress; }
  QTimer* ScrollTimer() const { return FScrollTimer; }
  QPoint LastPoint() const { return FLastPoint; }
  QRect NoScrollRect() const { return FNoScrollRect; }

  TDragTypes Dragtypes;
  bool GetDataOnEnter = false;
  TDropTargetEvent OnEnter;
  TDropTargetEvent OnDragOver;
  TNotifyEvent OnLeave;
  TDropTargetEvent OnDrop;
  TDropTargetEvent OnGetDropEffect;
  TDropTargetScrollEvent OnScroll;
  TNotifyEvent OnStartAsyncTransfer;
  TNotifyEvent OnEndAsyncTransfer;
  bool ShowImage = true;
  bool MultiTarget = false;
  bool AutoScroll = true;
  bool OptimizedMove = false;
  bool AllowAsyncTransfer = false;

protected:
  void* GetInterface(REFIID Iid) override;

  virtual void DoEnter(TShiftState ShiftState, QPoint Point, DWORD& Effect);
  virtual void DoDragOver(TShiftState ShiftState, QPoint Point, DWORD& Effect);
  virtual void DoDrop(TShiftState ShiftState, QPoint Point, DWORD& Effect);
  virtual void DoLeave();
  virtual void DoPaste(DWORD& Effect);
  virtual void DoScroll(QPoint Point, TScrolDirections& Scroll, int& Interval);
  virtual bool GetData(DWORD Effect);
  virtual bool DoGetData() = 0;
  virtual void ClearData() = 0;
  virtual DWORD GetValidDropEffect(TShiftState ShiftState, QPoint Point, DWORD OfferedEffects);
  virtual DWORD GetPreferredDropEffect();
  virtual bool SetPerformedDropEffect(DWORD Effect);
  virtual bool SetPasteSucceeded(DWORD Effect);
  virtual QWidget* FindTarget(QPoint ScreenPoint) const;
  virtual bool HasValidFormats(IDataObject* DataObj) = 0;

  void JoinTransfer();

  bool FAsyncTransferInProgress = false;

private:
  friend class TWinControlProxy;
  void ControlDestroyed(QWidget* Control);
  void Enter(IDataObject* DataObj, DWORD KeyState, POINTL Point, DWORD& Effect, HRESULT& Result);
  void NoteScrollBars();
  void DropImage(IDataObject* DataObj, POINTL Point, DWORD Effect);
  void EndDrop();
  void ReleaseDataObject();
  void ScrollTimerTimer();
  void StartAsyncTransfer(platform::IAsyncOperation& Operation, DWORD Effect);

  platform::ComPtr<IDataObject> FDataObject;
  platform::ComPtr<IUnknown> FDropTargetHelper;
  TControlList FTargets;
  QPointer<QWidget> FCurrentTarget;
  QPoint FLastPoint;
  bool FScrollHorizontal = false;
  bool FScrollVertical = false;
  QRect FNoScrollRect;
  QTimer* FScrollTimer;
  std::thread FTransferThread;
};

class TCustomDropMultiTarget : public TCustomDropTarget {
public:
  explicit TCustomDropMultiTarget(QObject* AOwner);
  ~TCustomDropMultiTarget() override;
  const char* ClassName() const override { return "TCustomDropMultiTarget"; }
  std::optional<TDataDirection> DataFormatsDirection() const override { return ddTarget; }

  std::function<void(TCustomDropTarget& Sender, TCustomDataFormat& DataFormat, bool& Accept)>
      OnAcceptFormat;

protected:
  bool DoGetData() override;
  void ClearData() override;
  bool HasValidFormats(IDataObject* DataObj) override;
  virtual void DoAcceptFormat(TCustomDataFormat& DataFormat, bool& Accept);

private:
  TDataFormats FDataFormats;
};

class TDropFileTarget : public TCustomDropMultiTarget {
public:
  explicit TDropFileTarget(QObject* AOwner);
  ~TDropFileTarget() override;
  const char* ClassName() const override { return "TDropFileTarget"; }

  // The dropped names as the host's byte strings, valid while OnDrop runs.
  std::vector<std::string> Files() const { return FileList().ToVector(); }
  const TStringList& FileList() const { return FFileFormat->Files; }
  const TStringList& MappedNames() const { return FFileMapFormat->FileMaps; }

protected:
  DWORD GetPreferredDropEffect() override;

private:
  std::unique_ptr<TFileDataFormat> FFileFormat;
  std::unique_ptr<TFileMapDataFormat> FFileMapFormat;
};

} // namespace dragdrop
