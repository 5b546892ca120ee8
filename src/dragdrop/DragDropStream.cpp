// The memory stream and its OLE stream adapter.
#include "dragdrop/DragDrop.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace dragdrop {

using namespace platform;

void TMemoryStream::SetSize(int64_t Size) {
  FBytes.resize(static_cast<size_t>(std::max<int64_t>(Size, 0)));
}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition >= Size())
    return 0;
  int64_t count = std::min(Count, Size() - FPosition);
  std::memcpy(Buffer, FBytes.data() + FPosition, static_cast<size_t>(count));
  FPosition += count;
  return count;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0)
    return 0;
  if (FPosition + Count > Size())
    SetSize(FPosition + Count);
  std::memcpy(FBytes.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition += Count;
  return Count;
}

TFixedStreamAdapter::TFixedStreamAdapter(std::unique_ptr<TMemoryStream> Stream)
    : FStream(std::move(Stream)) {}

HRESULT TFixedStreamAdapter::QueryInterface(REFIID Iid, void** Object) {
  if (!Object)
    return E_POINTER;
  if (Iid == IID_IUnknown || Iid == IID_ISequentialStream || Iid == IID_IStream) {
    *Object = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  *Object = nullptr;
  return E_NOINTERFACE;
}

ULONG TFixedStreamAdapter::AddRef() {
  return ++FRefCount;
}

ULONG TFixedStreamAdapter::Release() {
  ULONG count = --FRefCount;
  if (count == 0)
    delete this;
  return count;
}

HRESULT TFixedStreamAdapter::Read(void* Buffer, ULONG Count, ULONG* Read) {
  if (!Buffer)
    return STG_E_INVALIDPOINTER;
  auto count = static_cast<ULONG>(FStream->Read(Buffer, Count));
  if (Read)
    *Read = count;
  return S_OK;
}

HRESULT TFixedStreamAdapter::Write(const void* Buffer, ULONG Count, ULONG* Written) {
  if (!Buffer)
    return STG_E_INVALIDPOINTER;
  try {
    auto count = static_cast<ULONG>(FStream->Write(Buffer, Count));
    if (Written)
      *Written = count;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return STG_E_MEDIUMFULL;
  }
}

HRESULT TFixedStreamAdapter::Seek(LARGE_INTEGER Move, DWORD Origin, ULARGE_INTEGER* NewPosition) {
  int64_t base = 0;
  switch (Origin) {
  case STREAM_SEEK_SET:
    break;
  case STREAM_SEEK_CUR:
    base = FStream->Position();
    break;
  case STREAM_SEEK_END:
    base = FStream->Size();
    break;
  default:
    return STG_E_INVALIDFUNCTION;
  }
  if (Move < -base || (Move > 0 && base > INT64_MAX - Move))
    return STG_E_INVALIDFUNCTION;
  FStream->SetPosition(base + Move);
  if (NewPosition)
    *NewPosition = static_cast<ULARGE_INTEGER>(FStream->Position());
  return S_OK;
}

HRESULT TFixedStreamAdapter::SetSize(ULARGE_INTEGER NewSize) {
  if (NewSize > static_cast<ULARGE_INTEGER>(INT32_MAX))
    return STG_E_MEDIUMFULL;
  try {
    FStream->SetSize(static_cast<int64_t>(NewSize));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return STG_E_MEDIUMFULL;
  }
}

HRESULT TFixedStreamAdapter::CopyTo(IStream* Destination, ULARGE_INTEGER Count,
                                    ULARGE_INTEGER* Read, ULARGE_INTEGER* Written) {
  uint64_t read = 0;
  uint64_t written = 0;
  HRESULT result;
  try {
    // A count with its high half negative asks for everything; a stream left at
    // its end (as a freshly written one is) is copied from the start.
    if (static_cast<int64_t>(Count) < 0) {
      if (FStream->Position() >= FStream->Size())
        FStream->SetPosition(0);
      Count = static_cast<uint64_t>(FStream->Size() - FStream->Position());
    }
    result = CopyChunks(Destination, Count, read, written);
  } catch (...) {
    result = E_UNEXPECTED;
  }
  if (Read)
    *Read = read;
  if (Written)
    *Written = written;
  return result;
}

HRESULT TFixedStreamAdapter::CopyChunks(IStream* Destination, uint64_t Count, uint64_t& Read,
                                        uint64_t& Written) {
  if (!Destination)
    return STG_E_INVALIDPOINTER;
  constexpr uint64_t MaxBuffer = 1048576;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(Count, MaxBuffer)));
  while (Count > 0) {
    int64_t got = FStream->Read(buffer.data(),
                                static_cast<int64_t>(std::min<uint64_t>(buffer.size(), Count)));
    if (got <= 0)
      break;
    Read += static_cast<uint64_t>(got);
    ULONG put = 0;
    HRESULT result = Destination->Write(buffer.data(), static_cast<ULONG>(got), &put);
    Written += put;
    // Any success code lets the copy go on, but only a whole write does: a
    // copy cut short must not pass for a finished one.
    if (FAILED(result))
      return result;
    if (put < static_cast<ULONG>(got))
      return E_FAIL;
    Count -= std::min<uint64_t>(put, Count);
  }
  return S_OK;
}

HRESULT TFixedStreamAdapter::Commit(DWORD /*Flags*/) {
  return S_OK;
}

HRESULT TFixedStreamAdapter::Revert() {
  return STG_E_INVALIDFUNCTION;
}

HRESULT TFixedStreamAdapter::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return STG_E_INVALIDFUNCTION;
}

HRESULT TFixedStreamAdapter::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return STG_E_INVALIDFUNCTION;
}

HRESULT TFixedStreamAdapter::Stat(STATSTG* Stat, DWORD /*StatFlag*/) {
  if (!Stat)
    return STG_E_INVALIDPOINTER;
  *Stat = STATSTG{};
  Stat->type = STGTY_STREAM;
  Stat->cbSize = static_cast<ULARGE_INTEGER>(FStream->Size());
  return S_OK;
}

HRESULT TFixedStreamAdapter::Clone(IStream** Stream) {
  if (Stream)
    *Stream = nullptr;
  return E_NOTIMPL;
}

} // namespace dragdrop
