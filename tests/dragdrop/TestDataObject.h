#pragma once

// A data object that offers chosen formats on chosen media, for driving the
// readers in tests.

#include "dragdrop/TestStream.h"
#include "platform/Ole.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace testing_dd {

using namespace platform;

struct TOffer {
  CLIPFORMAT Format;
  std::string Bytes;
  DWORD Media;                        // TYMED_HGLOBAL or TYMED_ISTREAM
  uint64_t DeclaredSize = UINT64_MAX; // for streams; UINT64_MAX: the real size
  size_t Delivered = SIZE_MAX;        // for streams; SIZE_MAX: every byte
};

struct TReceived {
  CLIPFORMAT Format;
  DWORD Media;
  std::string Bytes;
  uint64_t StreamPosition; // where a stream was left by its writer
};

// Lives on the stack; the counts only check that callers balance them.
class TTestDataObject final : public IDataObject {
public:
  std::vector<TOffer> Offers;
  std::vector<TReceived> Received;
  std::vector<HGLOBAL> HandedOut;
  int StreamsReleased = 0;
  int StreamsHandedOut = 0;

  void Offer(CLIPFORMAT Format, std::string Bytes, DWORD Media = TYMED_HGLOBAL) {
    Offers.push_back({Format, std::move(Bytes), Media});
  }
  // True when every memory block and stream handed out has been freed.
  bool AllMediaReleased() const {
    for (HGLOBAL memory : HandedOut)
      if (GlobalSize(memory) != 0)
        return false;
    return StreamsReleased == StreamsHandedOut;
  }

  HRESULT QueryInterface(REFIID Iid, void** Object) override {
    if (Iid == IID_IUnknown || Iid == IID_IDataObject) {
      *Object = static_cast<IDataObject*>(this);
      return S_OK;
    }
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT GetData(const FORMATETC* Format, STGMEDIUM* Medium) override {
    const TOffer* offer = Find(*Format);
    if (!offer)
      return DV_E_FORMATETC;
    *Medium = STGMEDIUM{};
    if (offer->Media == TYMED_HGLOBAL) {
      Medium->tymed = TYMED_HGLOBAL;
      Medium->hGlobal = GlobalAlloc(GHND, offer->Bytes.size());
      if (!offer->Bytes.empty()) {
        std::memcpy(GlobalLock(Medium->hGlobal), offer->Bytes.data(), offer->Bytes.size());
        GlobalUnlock(Medium->hGlobal);
      }
      HandedOut.push_back(Medium->hGlobal);
    } else {
      auto* stream =
          new TTestStream(offer->Bytes, offer->DeclaredSize == UINT64_MAX ? offer->Bytes.size()
                                                                          : offer->DeclaredSize);
      stream->Delivered = std::min(offer->Delivered, offer->Bytes.size());
      stream->ReleasedFlag = &StreamsReleased;
      ++StreamsHandedOut;
      Medium->tymed = TYMED_ISTREAM;
      Medium->pstm = stream;
    }
    return S_OK;
  }
  HRESULT GetDataHere(const FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT QueryGetData(const FORMATETC* Format) override {
    return Find(*Format) ? S_OK : DV_E_FORMATETC;
  }
  HRESULT GetCanonicalFormatEtc(const FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  HRESULT SetData(const FORMATETC* Format, STGMEDIUM* Medium, BOOL Release) override {
    TReceived received{Format->cfFormat, Medium->tymed, {}, 0};
    if (Medium->tymed == TYMED_HGLOBAL) {
      const auto* bytes = static_cast<const char*>(GlobalLock(Medium->hGlobal));
      received.Bytes.assign(bytes, GlobalSize(Medium->hGlobal));
      GlobalUnlock(Medium->hGlobal);
    } else if (Medium->tymed == TYMED_ISTREAM) {
      ULARGE_INTEGER position = 0;
      Medium->pstm->Seek(0, STREAM_SEEK_CUR, &position);
      received.StreamPosition = position;
      STATSTG stat{};
      Medium->pstm->Stat(&stat, STATFLAG_NONAME);
      received.Bytes.resize(static_cast<size_t>(stat.cbSize));
      Medium->pstm->Seek(0, STREAM_SEEK_SET, nullptr);
      ULONG read = 0;
      Medium->pstm->Read(received.Bytes.data(), static_cast<ULONG>(stat.cbSize), &read);
    }
    Received.push_back(received);
    if (Release)
      ReleaseStgMedium(Medium);
    return S_OK;
  }
  HRESULT EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT DAdvise(const FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
  const TOffer* Find(const FORMATETC& Format) const {
    for (const TOffer& offer : Offers)
      if (offer.Format == Format.cfFormat && Format.dwAspect == DVASPECT_CONTENT &&
          (Format.tymed & offer.Media) != 0)
        return &offer;
    return nullptr;
  }
};

// Little-endian encodings for building blocks by hand.
inline std::string Le32(uint32_t Value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i)
    bytes[static_cast<size_t>(i)] = static_cast<char>(Value >> (8 * i) & 0xFF);
  return bytes;
}

inline std::string Utf16Le(const std::u16string& Text) {
  std::string bytes;
  for (char16_t c : Text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

} // namespace testing_dd
