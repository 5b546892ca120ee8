#pragma once

// A stream whose declared size and delivery can be set, for driving the
// readers of dragged data in tests and fuzzers.

#include "platform/Ole.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace testing_dd {

using namespace platform;

// Reads in chunks of at most Chunk bytes and delivers only the first
// Delivered bytes of Bytes while Stat reports DeclaredSize. Reads fail once
// FailReadsFrom bytes have been read (0: every read fails).
class TTestStream final : public IStream {
public:
  TTestStream(std::string ABytes, uint64_t ADeclaredSize)
      : Bytes(std::move(ABytes))
      , DeclaredSize(ADeclaredSize)
      , Delivered(Bytes.size()) {}

  std::string Bytes;
  uint64_t DeclaredSize;
  size_t Delivered;
  ULONG Chunk = 0xFFFFFFFF;
  size_t FailReadsFrom = SIZE_MAX;
  size_t Position = 0;
  int* ReleasedFlag = nullptr;
  ULONG WriteLimit = 0;
  HRESULT WriteAnswer = S_OK;
  std::string Written;

  HRESULT QueryInterface(REFIID, void** Object) override {
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override {
    ULONG count = --Refs;
    if (count == 0) {
      if (ReleasedFlag)
        ++*ReleasedFlag;
      delete this;
    }
    return count;
  }
  HRESULT Read(void* Buffer, ULONG Count, ULONG* Read) override {
    if (Position >= FailReadsFrom)
      return E_FAIL;
    size_t available = Position < Delivered ? Delivered - Position : 0;
    size_t count = std::min<size_t>({Count, Chunk, available});
    std::memcpy(Buffer, Bytes.data() + Position, count);
    Position += count;
    *Read = static_cast<ULONG>(count);
    return count < Count ? S_FALSE : S_OK;
  }
  // Takes at most WriteLimit bytes per call and answers WriteAnswer; 0 refuses writes.
  HRESULT Write(const void* Buffer, ULONG Count, ULONG* Written) override {
    *Written = 0;
    if (WriteLimit == 0)
      return E_NOTIMPL;
    *Written = std::min(Count, WriteLimit);
    this->Written.append(static_cast<const char*>(Buffer), *Written);
    return WriteAnswer;
  }
  HRESULT Seek(LARGE_INTEGER Move, DWORD Origin, ULARGE_INTEGER* NewPosition) override {
    if (Origin != STREAM_SEEK_SET || Move < 0)
      return E_NOTIMPL;
    Position = static_cast<size_t>(Move);
    if (NewPosition)
      *NewPosition = Position;
    return S_OK;
  }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG* Stat, DWORD) override {
    *Stat = STATSTG{};
    Stat->type = STGTY_STREAM;
    Stat->cbSize = DeclaredSize;
    return S_OK;
  }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }

private:
  ~TTestStream() override = default;
  ULONG Refs = 1;
};

} // namespace testing_dd
