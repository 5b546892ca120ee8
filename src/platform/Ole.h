#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

// COM-style data transfer as the drag-and-drop modules call it: result codes,
// interface identities, reference-counted interfaces, storage media, movable
// memory blocks and the registry of named clipboard formats. Names and values
// are the Windows ones so that the callers read like ordinary OLE code.
namespace platform {

using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using BOOL = int32_t;
using CLIPFORMAT = uint16_t;
using LARGE_INTEGER = int64_t;
using ULARGE_INTEGER = uint64_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = static_cast<HRESULT>(0x80040003);
inline constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064);
inline constexpr HRESULT DV_E_TYMED = static_cast<HRESULT>(0x80040069);
inline constexpr HRESULT DV_E_CLIPFORMAT = static_cast<HRESULT>(0x8004006A);
inline constexpr HRESULT DV_E_DVASPECT = static_cast<HRESULT>(0x8004006B);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001);
inline constexpr HRESULT STG_E_INVALIDPOINTER = static_cast<HRESULT>(0x80030009);
inline constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070);

constexpr bool SUCCEEDED(HRESULT Result) {
  return Result >= 0;
}
constexpr bool FAILED(HRESULT Result) {
  return Result < 0;
}

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
  friend bool operator==(const GUID&, const GUID&) = default;
};
static_assert(sizeof(GUID) == 16);
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;

inline constexpr GUID GUID_NULL{};
inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IMalloc{0x00000002, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IStream{0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumFORMATETC{0x00000103, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDataObject{0x0000010E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDropTarget{0x00000122, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ISequentialStream{
    0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr IID IID_IAsyncOperation{
    0x3D8B0590, 0xF691, 0x11D2, {0x8E, 0xA9, 0x00, 0x60, 0x97, 0xDF, 0x5B, 0xD4}};

// The destructor is protected: objects go away through Release, never delete.
struct IUnknown {
  virtual HRESULT QueryInterface(REFIID Iid, void** Object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

protected:
  virtual ~IUnknown() = default;
};

// IUnknown for an object that implements one interface: it answers for that
// interface and for IUnknown, starts with the one reference its creator holds,
// and deletes itself with the last.
template <class TInterface, const IID& InterfaceId> class TRefCounted : public TInterface {
public:
  HRESULT QueryInterface(REFIID Iid, void** Object) override {
    if (!Object)
      return E_POINTER;
    *Object = nullptr;
    if (!(Iid == IID_IUnknown || Iid == InterfaceId))
      return E_NOINTERFACE;
    *Object = static_cast<TInterface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++FReferences; }
  ULONG Release() override {
    const ULONG count = --FReferences;
    if (count == 0)
      delete this;
    return count;
  }

protected:
  TRefCounted() = default;
  ~TRefCounted() override = default;

private:
  std::atomic<ULONG> FReferences{1};
};

// Holds one reference; copying adds one, destruction releases it.
template <class T> class ComPtr {
public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(T* Pointer)
      : FPointer(Pointer) {
    if (FPointer)
      FPointer->AddRef();
  }
  ComPtr(const ComPtr& Other)
      : ComPtr(Other.FPointer) {}
  ComPtr(ComPtr&& Other) noexcept
      : FPointer(std::exchange(Other.FPointer, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(ComPtr Other) noexcept {
    std::swap(FPointer, Other.FPointer);
    return *this;
  }

  // Takes over a reference the caller already owns.
  void Attach(T* Pointer) {
    Reset();
    FPointer = Pointer;
  }
  T* Detach() { return std::exchange(FPointer, nullptr); }
  void Reset() {
    if (T* pointer = std::exchange(FPointer, nullptr))
      pointer->Release();
  }
  T* Get() const { return FPointer; }
  T* operator->() const { return FPointer; }
  explicit operator bool() const { return FPointer != nullptr; }
  // For out-parameters: drops the current reference first.
  T** Put() {
    Reset();
    return &FPointer;
  }

private:
  T* FPointer = nullptr;
};

// Movable memory: a handle to a byte block that is locked to get its address.
using HGLOBAL = void*;
inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GMEM_DDESHARE = 0x2000;
inline constexpr UINT GMEM_SHARE = GMEM_DDESHARE;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// Blocks are always zeroed. A block of 0 bytes exists but locks to nullptr.
HGLOBAL GlobalAlloc(UINT Flags, size_t Bytes);
// nullptr for an unknown handle or an empty block; locks nest.
void* GlobalLock(HGLOBAL Memory);
// Non-zero while the block stays locked.
BOOL GlobalUnlock(HGLOBAL Memory);
// 0 for an unknown handle.
size_t GlobalSize(HGLOBAL Memory);
// nullptr on success, Memory when it was not a live handle.
HGLOBAL GlobalFree(HGLOBAL Memory);

inline constexpr DWORD TYMED_NULL = 0;
inline constexpr DWORD TYMED_HGLOBAL = 1;
inline constexpr DWORD TYMED_FILE = 2;
inline constexpr DWORD TYMED_ISTREAM = 4;
inline constexpr DWORD TYMED_ISTORAGE = 8;
inline constexpr DWORD TYMED_GDI = 16;
inline constexpr DWORD TYMED_MFPICT = 32;
inline constexpr DWORD TYMED_ENHMF = 64;

inline constexpr DWORD DVASPECT_CONTENT = 1;
inline constexpr DWORD DVASPECT_THUMBNAIL = 2;
inline constexpr DWORD DVASPECT_ICON = 4;
inline constexpr DWORD DVASPECT_DOCPRINT = 8;

inline constexpr DWORD DATADIR_GET = 1;
inline constexpr DWORD DATADIR_SET = 2;

inline constexpr CLIPFORMAT CF_TEXT = 1;
inline constexpr CLIPFORMAT CF_UNICODETEXT = 13;
inline constexpr CLIPFORMAT CF_HDROP = 15;

struct DVTARGETDEVICE;

struct FORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;
  DWORD dwAspect;
  LONG lindex;
  DWORD tymed;
};

struct IStream;
struct IStorage;

struct STGMEDIUM {
  DWORD tymed;
  union {
    HGLOBAL hGlobal;
    IStream* pstm;
    IStorage* pstg;
  };
  IUnknown* pUnkForRelease;
};

// Frees what the medium holds (or hands it back through pUnkForRelease) and
// leaves the medium empty.
void ReleaseStgMedium(STGMEDIUM* Medium);

inline constexpr DWORD STREAM_SEEK_SET = 0;
inline constexpr DWORD STREAM_SEEK_CUR = 1;
inline constexpr DWORD STREAM_SEEK_END = 2;
inline constexpr DWORD STATFLAG_DEFAULT = 0;
inline constexpr DWORD STATFLAG_NONAME = 1;
inline constexpr DWORD STGTY_STREAM = 2;

struct STATSTG {
  char16_t* pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
  DWORD grfMode;
};

struct ISequentialStream : IUnknown {
  virtual HRESULT Read(void* Buffer, ULONG Count, ULONG* Read) = 0;
  virtual HRESULT Write(const void* Buffer, ULONG Count, ULONG* Written) = 0;
};

struct IStream : ISequentialStream {
  virtual HRESULT Seek(LARGE_INTEGER Move, DWORD Origin, ULARGE_INTEGER* NewPosition) = 0;
  virtual HRESULT SetSize(ULARGE_INTEGER NewSize) = 0;
  virtual HRESULT CopyTo(IStream* Destination, ULARGE_INTEGER Count, ULARGE_INTEGER* Read,
                         ULARGE_INTEGER* Written) = 0;
  virtual HRESULT Commit(DWORD Flags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(ULARGE_INTEGER Offset, ULARGE_INTEGER Count, DWORD LockType) = 0;
  virtual HRESULT UnlockRegion(ULARGE_INTEGER Offset, ULARGE_INTEGER Count, DWORD LockType) = 0;
  virtual HRESULT Stat(STATSTG* Stat, DWORD StatFlag) = 0;
  virtual HRESULT Clone(IStream** Stream) = 0;
};

struct IEnumFORMATETC : IUnknown {
  virtual HRESULT Next(ULONG Count, FORMATETC* Formats, ULONG* Fetched) = 0;
  virtual HRESULT Skip(ULONG Count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumFORMATETC** Enum) = 0;
};

struct IAdviseSink;
struct IEnumSTATDATA;

struct IDataObject : IUnknown {
  virtual HRESULT GetData(const FORMATETC* Format, STGMEDIUM* Medium) = 0;
  virtual HRESULT GetDataHere(const FORMATETC* Format, STGMEDIUM* Medium) = 0;
  virtual HRESULT QueryGetData(const FORMATETC* Format) = 0;
  virtual HRESULT GetCanonicalFormatEtc(const FORMATETC* Format, FORMATETC* Canonical) = 0;
  virtual HRESULT SetData(const FORMATETC* Format, STGMEDIUM* Medium, BOOL Release) = 0;
  virtual HRESULT EnumFormatEtc(DWORD Direction, IEnumFORMATETC** Enum) = 0;
  virtual HRESULT DAdvise(const FORMATETC* Format, DWORD Flags, IAdviseSink* Sink,
                          DWORD* Connection) = 0;
  virtual HRESULT DUnadvise(DWORD Connection) = 0;
  virtual HRESULT EnumDAdvise(IEnumSTATDATA** Enum) = 0;
};

inline constexpr DWORD DROPEFFECT_NONE = 0;
inline constexpr DWORD DROPEFFECT_COPY = 1;
inline constexpr DWORD DROPEFFECT_MOVE = 2;
inline constexpr DWORD DROPEFFECT_LINK = 4;
inline constexpr DWORD DROPEFFECT_SCROLL = 0x80000000;

inline constexpr DWORD MK_LBUTTON = 0x01;
inline constexpr DWORD MK_RBUTTON = 0x02;
inline constexpr DWORD MK_SHIFT = 0x04;
inline constexpr DWORD MK_CONTROL = 0x08;
inline constexpr DWORD MK_MBUTTON = 0x10;
inline constexpr DWORD MK_ALT = 0x20;

struct POINTL {
  LONG x;
  LONG y;
};

struct IDropTarget : IUnknown {
  virtual HRESULT DragEnter(IDataObject* DataObject, DWORD KeyState, POINTL Point,
                            DWORD* Effect) = 0;
  virtual HRESULT DragOver(DWORD KeyState, POINTL Point, DWORD* Effect) = 0;
  virtual HRESULT DragLeave() = 0;
  virtual HRESULT Drop(IDataObject* DataObject, DWORD KeyState, POINTL Point, DWORD* Effect) = 0;
};

struct IBindCtx;

struct IAsyncOperation : IUnknown {
  virtual HRESULT SetAsyncMode(BOOL DoOpAsync) = 0;
  virtual HRESULT GetAsyncMode(BOOL* IsOpAsync) = 0;
  virtual HRESULT StartOperation(IBindCtx* Reserved) = 0;
  virtual HRESULT InOperation(BOOL* InAsyncOp) = 0;
  virtual HRESULT EndOperation(HRESULT Result, IBindCtx* Reserved, DWORD Effects) = 0;
};

// Registered clipboard formats: ids from 0xC000 up, one per name (names compare
// without regard to ASCII case), kept for the life of the process. Thread-safe.
inline constexpr UINT FirstRegisteredClipboardFormat = 0xC000;
// 0 for a null or empty name, or when every id is taken.
UINT RegisterClipboardFormatA(const char* Name);
// Copies the name of a registered format into Buffer (at most MaxCount - 1
// characters and a terminating zero) and returns the characters copied; 0 for a
// predefined or unknown format or a MaxCount below 1.
int GetClipboardFormatNameA(UINT Format, char* Buffer, int MaxCount);

struct IMalloc : IUnknown {
  virtual void* Alloc(size_t Bytes) = 0;
  virtual void* Realloc(void* Block, size_t Bytes) = 0;
  virtual void Free(void* Block) = 0;
  virtual size_t GetSize(void* Block) = 0;
};

// The process's task allocator; the same object for every caller.
HRESULT CoGetMalloc(DWORD Context, IMalloc** Malloc);
void* CoTaskMemAlloc(size_t Bytes);
void CoTaskMemFree(void* Block);

// Counted per thread: S_OK for the first call on a thread, S_FALSE after.
HRESULT OleInitialize(void* Reserved);
void OleUninitialize();

} // namespace platform
