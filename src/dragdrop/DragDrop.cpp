#include "dragdrop/DragDrop.h"

#include "platform/ScopeExit.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace dragdrop {

using namespace platform;

void TStrings::Assign(const TStrings& Source) {
  if (&Source == this)
    return;
  std::vector<std::string> items = Source.ToVector();
  Clear();
  for (const std::string& item : items)
    Add(item);
}

std::vector<std::string> TStrings::ToVector() const {
  std::vector<std::string> items;
  for (int i = 0; i < Count(); ++i)
    items.push_back(Get(i));
  return items;
}

void TStringList::CheckIndex(int Index, int Limit) const {
  if (Index < 0 || Index > Limit)
    throw EDragDropError("List index out of bounds (" + std::to_string(Index) + ")");
}

void TStringList::Changing() const {
  if (OnChanging)
    OnChanging();
}

std::string TStringList::Get(int Index) const {
  CheckIndex(Index, Count() - 1);
  return FItems[static_cast<size_t>(Index)];
}

void TStringList::Put(int Index, const std::string& Value) {
  CheckIndex(Index, Count() - 1);
  Changing();
  FItems[static_cast<size_t>(Index)] = Value;
}

void TStringList::Clear() {
  if (FItems.empty())
    return;
  Changing();
  FItems.clear();
}

void TStringList::Delete(int Index) {
  CheckIndex(Index, Count() - 1);
  Changing();
  FItems.erase(FItems.begin() + Index);
}

void TStringList::Insert(int Index, const std::string& Value) {
  CheckIndex(Index, Count());
  Changing();
  FItems.insert(FItems.begin() + Index, Value);
}

// One notification for the whole copy.
void TStringList::Assign(const TStrings& Source) {
  if (&Source == this)
    return;
  std::vector<std::string> items = Source.ToVector();
  Changing();
  FItems = std::move(items);
}

std::string WideToAnsi(std::u16string_view Wide) {
  return platform::WideToBytes(Wide);
}

std::u16string AnsiToWide(std::string_view Ansi) {
  return platform::BytesToWide(Ansi);
}

const TClipboardFormatClass TClipboardFormat::Class{"TClipboardFormat", nullptr, nullptr};

TClipboardFormat::TClipboardFormat(DWORD Media)
    : FFormatEtc{0, nullptr, DVASPECT_CONTENT, -1, Media}
    , FFormatPending(true) {}

TClipboardFormat::TClipboardFormat(const FORMATETC& Format)
    : FFormatEtc(Format) {}

const FORMATETC& TClipboardFormat::FormatEtc() const {
  if (FFormatPending) {
    FFormatEtc.cfFormat = GetClipboardFormat();
    FFormatPending = false;
  }
  return FFormatEtc;
}

bool TClipboardFormat::DoGetData(IDataObject* /*Source*/, const STGMEDIUM& /*Medium*/) {
  return false;
}

bool TClipboardFormat::DoSetData(const FORMATETC& /*Requested*/, STGMEDIUM& /*Medium*/) {
  return false;
}

CLIPFORMAT TClipboardFormat::GetClipboardFormat() const {
  throw EDragDropError(std::string("Internal error: ") + ClassName() +
                       ".GetClipboardFormat needs implementation");
}

void TClipboardFormat::SetClipboardFormat(CLIPFORMAT Format) {
  FFormatEtc.cfFormat = Format;
  FFormatPending = false;
}

std::string TClipboardFormat::GetClipboardFormatName() const {
  char name[256];
  int length = GetClipboardFormatNameA(FormatEtc().cfFormat, name, 255);
  return std::string(name, static_cast<size_t>(std::max(length, 0)));
}

void TClipboardFormat::SetClipboardFormatName(const std::string& /*Name*/) {
  throw EDragDropError(std::string(ClassName()) + ".ClipboardFormat is read-only");
}

bool TClipboardFormat::HasValidFormats(IDataObject* DataObject) {
  return DataObject && DataObject->QueryGetData(&FormatEtc()) == S_OK;
}

bool TClipboardFormat::AcceptFormat(const FORMATETC& Format) const {
  const FORMATETC& own = FormatEtc();
  return Format.cfFormat == own.cfFormat && !Format.ptd && Format.dwAspect == own.dwAspect &&
         (Format.tymed & own.tymed) != 0;
}

bool TClipboardFormat::GetData(IDataObject* DataObject) {
  Clear();
  if (!DataObject)
    return false;
  STGMEDIUM medium{};
  if (DataObject->GetData(&FormatEtc(), &medium) != S_OK)
    return false;
  return GetDataFromMedium(DataObject, medium);
}

bool TClipboardFormat::GetDataFromMedium(IDataObject* Source, STGMEDIUM& Medium) {
  const platform::TScopeExit release([&Medium] { ReleaseStgMedium(&Medium); });
  Clear();
  return (Medium.tymed & FormatEtc().tymed) != 0 && DoGetData(Source, Medium);
}

bool TClipboardFormat::SetData(IDataObject* DataObject, const FORMATETC& Requested,
                               STGMEDIUM& Medium) {
  Medium = STGMEDIUM{};
  const FORMATETC& own = FormatEtc();
  bool result = false;
  if (DataObject && Requested.cfFormat == own.cfFormat && Requested.dwAspect == own.dwAspect &&
      (Requested.tymed & own.tymed) != 0 && DoSetData(Requested, Medium))
    result = DataObject->SetData(&own, &Medium, 1) == S_OK;
  if (!result)
    ReleaseStgMedium(&Medium);
  return result;
}

bool TClipboardFormat::Assign(TCustomDataFormat& /*Source*/) {
  return false;
}

bool TClipboardFormat::AssignTo(TCustomDataFormat& /*Destination*/) {
  return false;
}

bool TClipboardFormat::HasData() const {
  return true;
}

const TClipboardFormatClass TCustomSimpleClipboardFormat::Class{"TCustomSimpleClipboardFormat",
                                                                &TClipboardFormat::Class, nullptr};

TCustomSimpleClipboardFormat::TCustomSimpleClipboardFormat()
    : TClipboardFormat(TYMED_HGLOBAL | TYMED_ISTREAM) {}

namespace {

// The declared size of a stream, or 0 when it cannot be had or is not a
// positive 32-bit size.
int32_t StreamSize(IStream* Stream) {
  STATSTG stat{};
  if (!Stream || FAILED(Stream->Stat(&stat, STATFLAG_NONAME)))
    return 0;
  return stat.cbSize > 0 && stat.cbSize <= INT32_MAX ? static_cast<int32_t>(stat.cbSize) : 0;
}

// Reads Size bytes from the start of Stream into Buffer. A stream that ends
// early leaves the rest of Buffer as it was; a failing one gives false.
bool ReadStream(IStream* Stream, uint8_t* Buffer, uint32_t Size) {
  if (FAILED(Stream->Seek(0, STREAM_SEEK_SET, nullptr)))
    return false;
  uint32_t done = 0;
  while (done < Size) {
    ULONG count = 0;
    HRESULT result = Stream->Read(Buffer + done, Size - done, &count);
    if (FAILED(result) || count > Size - done)
      return false;
    if (count == 0)
      break;
    done += count;
  }
  return true;
}

} // namespace

bool TCustomSimpleClipboardFormat::DoGetData(IDataObject* Source, const STGMEDIUM& Medium) {
  int64_t size = 0;
  if (Medium.tymed == TYMED_HGLOBAL)
    size = static_cast<int64_t>(std::min<size_t>(GlobalSize(Medium.hGlobal), INT32_MAX));
  else if (Medium.tymed == TYMED_ISTREAM)
    size = StreamSize(Medium.pstm);
  return size > 0 && ReadDataFromMedium(Source, Medium, static_cast<int32_t>(size));
}

bool TCustomSimpleClipboardFormat::ReadDataFromMedium(IDataObject* /*Source*/,
                                                      const STGMEDIUM& Medium, int32_t Size) {
  if (Size <= 0)
    return false;
  if (Medium.tymed == TYMED_HGLOBAL) {
    // A block smaller than asked for is read only as far as it goes.
    Size = static_cast<int32_t>(
        std::min<size_t>(static_cast<size_t>(Size), GlobalSize(Medium.hGlobal)));
    void* block = GlobalLock(Medium.hGlobal);
    if (!block)
      return false;
    const platform::TScopeExit unlock([&Medium] { GlobalUnlock(Medium.hGlobal); });
    return ReadData(block, Size);
  }
  if (Medium.tymed != TYMED_ISTREAM || !Medium.pstm)
    return false;
  try {
    std::vector<uint8_t> buffer(static_cast<size_t>(Size));
    return ReadStream(Medium.pstm, buffer.data(), static_cast<uint32_t>(Size)) &&
           ReadData(buffer.data(), Size);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool TCustomSimpleClipboardFormat::CopyDataTo(const STGMEDIUM& Medium, int32_t Size, void* Buffer) {
  if (Size <= 0 || !Buffer)
    return false;
  if (Medium.tymed == TYMED_HGLOBAL) {
    if (GlobalSize(Medium.hGlobal) < static_cast<size_t>(Size))
      return false;
    void* block = GlobalLock(Medium.hGlobal);
    if (!block)
      return false;
    std::memcpy(Buffer, block, static_cast<size_t>(Size));
    GlobalUnlock(Medium.hGlobal);
    return true;
  }
  if (Medium.tymed != TYMED_ISTREAM || !Medium.pstm)
    return false;
  return ReadStream(Medium.pstm, static_cast<uint8_t*>(Buffer), static_cast<uint32_t>(Size));
}

namespace {

bool WriteStreamMedium(TCustomSimpleClipboardFormat& Format, int32_t Size, STGMEDIUM& Medium) {
  auto memory = std::make_unique<TMemoryStream>();
  memory->SetSize(Size);
  if (!Format.WriteData(memory->Memory(), Size))
    return false;
  memory->SetPosition(Size);
  auto* adapter = new TFixedStreamAdapter(std::move(memory));
  adapter->AddRef();
  Medium.tymed = TYMED_ISTREAM;
  Medium.pstm = adapter;
  return true;
}

bool WriteGlobalMedium(TCustomSimpleClipboardFormat& Format, int32_t Size, STGMEDIUM& Medium) {
  HGLOBAL memory =
      GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, static_cast<size_t>(Size));
  void* block = GlobalLock(memory);
  bool written = false;
  if (block) {
    const platform::TScopeExit unlock([memory] { GlobalUnlock(memory); });
    try {
      written = Format.WriteData(block, Size);
    } catch (...) {
      GlobalFree(memory);
      throw;
    }
  }
  if (!written) {
    GlobalFree(memory);
    return false;
  }
  Medium.tymed = TYMED_HGLOBAL;
  Medium.hGlobal = memory;
  return true;
}

} // namespace

bool TCustomSimpleClipboardFormat::DoSetData(const FORMATETC& Requested, STGMEDIUM& Medium) {
  int32_t size = GetSize();
  if (size <= 0)
    return false;
  try {
    if ((Requested.tymed & TYMED_ISTREAM) != 0)
      return WriteStreamMedium(*this, size, Medium);
    if ((Requested.tymed & TYMED_HGLOBAL) != 0)
      return WriteGlobalMedium(*this, size, Medium);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return false;
}

} // namespace dragdrop
