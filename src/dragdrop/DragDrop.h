#pragma once

#include "platform/Ole.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Data formats (what a component wants, such as a list of file names) and
// clipboard formats (one wire encoding each), tied together by a process-wide
// conversion map.
namespace dragdrop {

using platform::CLIPFORMAT;
using platform::DWORD;
using platform::FORMATETC;
using platform::HRESULT;
using platform::IDataObject;
using platform::STGMEDIUM;

// Misuse of the framework: a missing implementation, a bad owner, a bad index.
class EDragDropError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum TDataDirection : uint8_t { ddSource = 0, ddTarget = 1 };

// A set of TDataDirection.
class TDataDirections {
public:
  constexpr TDataDirections() = default;
  constexpr TDataDirections(std::initializer_list<TDataDirection> Items) {
    for (TDataDirection item : Items)
      FBits = static_cast<uint8_t>(FBits | 1u << item);
  }
  constexpr bool Contains(TDataDirection Item) const { return (FBits >> Item & 1u) != 0; }
  constexpr TDataDirections operator+(TDataDirections Other) const {
    TDataDirections sum;
    sum.FBits = static_cast<uint8_t>(FBits | Other.FBits);
    return sum;
  }
  friend constexpr bool operator==(TDataDirections, TDataDirections) = default;

private:
  uint8_t FBits = 0;
};

// OLE data directions of a clipboard format as DATADIR_GET (bit 0) and
// DATADIR_SET (bit 1).
using TFormatDirections = DWORD;

class TClipboardFormat;
class TCustomDataFormat;

// Class references: the name, the parent class and, for classes that can be
// instantiated by reference, the parameterless constructor.
template <class TBase> struct TClassRef {
  const char* Name;
  const TClassRef* Parent;
  std::unique_ptr<TBase> (*Construct)();

  bool InheritsFrom(const TClassRef& Other) const {
    for (const TClassRef* c = this; c; c = c->Parent)
      if (c == &Other)
        return true;
    return false;
  }
};
using TClipboardFormatClass = TClassRef<TClipboardFormat>;
using TDataFormatClass = TClassRef<TCustomDataFormat>;

template <class T> std::unique_ptr<TClipboardFormat> ConstructClipboardFormat() {
  return std::make_unique<T>();
}

// A list of 8-bit strings, the shape the file-name lists share.
class TStrings {
public:
  virtual ~TStrings() = default;
  virtual int Count() const = 0;
  virtual std::string Get(int Index) const = 0;
  virtual void Put(int Index, const std::string& Value) = 0;
  virtual void Clear() = 0;
  virtual void Delete(int Index) = 0;
  virtual void Insert(int Index, const std::string& Value) = 0;
  virtual void Assign(const TStrings& Source);

  void Add(const std::string& Value) { Insert(Count(), Value); }
  std::string operator[](int Index) const { return Get(Index); }
  bool Empty() const { return Count() == 0; }
  std::vector<std::string> ToVector() const;
};

// The ordinary string list; OnChanging fires before every change.
class TStringList : public TStrings {
public:
  int Count() const override { return static_cast<int>(FItems.size()); }
  std::string Get(int Index) const override;
  void Put(int Index, const std::string& Value) override;
  void Clear() override;
  void Delete(int Index) override;
  void Insert(int Index, const std::string& Value) override;
  void Assign(const TStrings& Source) override;

  std::function<void()> OnChanging;

private:
  void Changing() const;
  void CheckIndex(int Index, int Limit) const;
  std::vector<std::string> FItems;
};

// Assign and AssignTo of two formats that each hold a list are mirror images:
// when Other is a TOther, its list Member is copied into Own (Direction
// FromOther) or Own into it (ToOther). False when Other is of another class.
enum class TListCopy { FromOther, ToOther };
template <class TOther, class TBase, class TList, class TOwn>
bool CopyListWith(TBase& Other, TList TOther::*Member, TOwn& Own, TListCopy Direction) {
  auto* other = dynamic_cast<TOther*>(&Other);
  if (!other)
    return false;
  if (Direction == TListCopy::FromOther)
    Own.Assign(other->*Member);
  else
    (other->*Member).Assign(Own);
  return true;
}

// UTF-16 names become 8-bit ones in this host's code page, UTF-8, and back,
// without losing a byte of a name that is not valid UTF-8 (platform/TextCodec).
std::string WideToAnsi(std::u16string_view Wide);
std::u16string AnsiToWide(std::string_view Ansi);

class TDataFormats;

// What the data-format machinery needs of a drag-and-drop component: its list
// of data formats and the side it serves. The drop target and drop source
// components derive from it.
class TDragDropComponent {
public:
  virtual ~TDragDropComponent() = default;
  virtual const char* ClassName() const { return "TDragDropComponent"; }
  // ddTarget for a TCustomDropMultiTarget, ddSource for a TCustomDropMultiSource,
  // none for every other component: only those two may own data formats.
  virtual std::optional<TDataDirection> DataFormatsDirection() const { return std::nullopt; }

  // Not owned; created and destroyed by the multi-format components.
  TDataFormats* DataFormats = nullptr;
};

class TClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  virtual const TClipboardFormatClass& ClassType() const { return Class; }
  const char* ClassName() const { return ClassType().Name; }

  virtual ~TClipboardFormat() = default;
  TClipboardFormat(const TClipboardFormat&) = delete;
  TClipboardFormat& operator=(const TClipboardFormat&) = delete;

  TFormatDirections DataDirections = platform::DATADIR_GET;
  TCustomDataFormat* DataFormat = nullptr;
  // The format id comes from GetClipboardFormat on first use, so that a
  // subclass's own id is the one taken.
  const FORMATETC& FormatEtc() const;

  virtual bool DoGetData(IDataObject* Source, const STGMEDIUM& Medium);
  virtual bool DoSetData(const FORMATETC& Requested, STGMEDIUM& Medium);
  virtual CLIPFORMAT GetClipboardFormat() const;
  virtual void SetClipboardFormat(CLIPFORMAT Format);
  virtual std::string GetClipboardFormatName() const;
  virtual void SetClipboardFormatName(const std::string& Name);
  virtual bool HasValidFormats(IDataObject* DataObject);
  virtual bool AcceptFormat(const FORMATETC& Format) const;
  virtual bool GetData(IDataObject* DataObject);
  // Releases Medium in every case.
  virtual bool GetDataFromMedium(IDataObject* Source, STGMEDIUM& Medium);
  // On success Medium belongs to DataObject; otherwise it has been released.
  virtual bool SetData(IDataObject* DataObject, const FORMATETC& Requested, STGMEDIUM& Medium);
  virtual bool Assign(TCustomDataFormat& Source);
  virtual bool AssignTo(TCustomDataFormat& Destination);
  virtual void Clear() = 0;
  virtual bool HasData() const;

protected:
  // CreateFormat: this class's own id, the content aspect, all indexes.
  explicit TClipboardFormat(DWORD Media);
  // CreateFormatEtc.
  explicit TClipboardFormat(const FORMATETC& Format);

private:
  mutable FORMATETC FFormatEtc;
  mutable bool FFormatPending = false;
};

// One contiguous block of bytes in global memory or an OLE stream.
class TCustomSimpleClipboardFormat : public TClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }

  bool DoGetData(IDataObject* Source, const STGMEDIUM& Medium) override;
  bool DoSetData(const FORMATETC& Requested, STGMEDIUM& Medium) override;

  virtual bool ReadDataFromMedium(IDataObject* Source, const STGMEDIUM& Medium, int32_t Size);
  // Fills Buffer (Size bytes) from the medium without parsing.
  virtual bool CopyDataTo(const STGMEDIUM& Medium, int32_t Size, void* Buffer);
  virtual bool ReadData(const void* Block, int32_t Size) = 0;
  virtual bool WriteData(void* Block, int32_t Size) = 0;
  virtual int32_t GetSize() const = 0;

protected:
  TCustomSimpleClipboardFormat();
};

class TClipboardFormats {
public:
  TClipboardFormats(TCustomDataFormat* DataFormat, bool OwnsItems);
  ~TClipboardFormats();
  TClipboardFormats(const TClipboardFormats&) = delete;
  TClipboardFormats& operator=(const TClipboardFormats&) = delete;

  int Add(TClipboardFormat* Format);
  void Clear();
  // The first item of FormatClass or a class derived from it.
  TClipboardFormat* FindFormat(const TClipboardFormatClass& FormatClass) const;
  bool HasFormat(const TClipboardFormatClass& FormatClass) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  TClipboardFormat* Items(int Index) const { return FItems.at(static_cast<size_t>(Index)); }

private:
  TCustomDataFormat* FDataFormat;
  bool FOwnsItems;
  std::vector<TClipboardFormat*> FItems;
};

class TCustomDataFormat {
public:
  static const TDataFormatClass Class;
  virtual const TDataFormatClass& ClassType() const { return Class; }
  const char* ClassName() const { return ClassType().Name; }

  virtual ~TCustomDataFormat();
  TCustomDataFormat(const TCustomDataFormat&) = delete;
  TCustomDataFormat& operator=(const TCustomDataFormat&) = delete;

  TClipboardFormats& CompatibleFormats() { return FCompatibleFormats; }
  TDragDropComponent* Owner() const { return FOwner; }
  std::function<void(TCustomDataFormat& Sender)> OnChanging;

  virtual void DoOnChanging();
  virtual void Clear() = 0;
  virtual bool Assign(TClipboardFormat& Source);
  virtual bool AssignTo(TClipboardFormat& Destination);
  virtual bool GetData(IDataObject* DataObject);
  virtual bool HasData() const = 0;
  virtual bool NeedsData() const;
  virtual bool HasValidFormats(IDataObject* DataObject);
  virtual bool AcceptFormat(const FORMATETC& Format) const;

protected:
  // Create(owner): Own is the class being created, which picks the
  // conversions from the map.
  TCustomDataFormat(TDragDropComponent* AOwner, const TDataFormatClass& Own);

private:
  TDragDropComponent* FOwner;
  TClipboardFormats FCompatibleFormats;
};

// A component's data formats; not owned.
class TDataFormats {
public:
  // The index of Format, which is added unless already listed.
  int Add(TCustomDataFormat* Format);
  void Remove(TCustomDataFormat* Format);
  int IndexOf(const TCustomDataFormat* Format) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  TCustomDataFormat* Items(int Index) const { return FItems.at(static_cast<size_t>(Index)); }

private:
  std::vector<TCustomDataFormat*> FItems;
};

class TDataFormatClasses {
public:
  void Add(const TDataFormatClass& Format);
  void Remove(const TDataFormatClass& Format);
  int IndexOf(const TDataFormatClass& Format) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  const TDataFormatClass& Items(int Index) const { return *FItems.at(static_cast<size_t>(Index)); }

private:
  std::vector<const TDataFormatClass*> FItems;
};

struct TConversionEntry {
  const TDataFormatClass* DataFormat;
  const TClipboardFormatClass* ClipboardFormat;
  int32_t Priority;
  TDataDirections Directions;
  TFormatDirections FormatDirections;
};

class TDataFormatMap {
public:
  void Add(const TDataFormatClass& DataFormat, const TClipboardFormatClass& ClipboardFormat,
           int32_t Priority, TDataDirections Directions, TFormatDirections FormatDirections);
  void DeleteByDataFormat(const TDataFormatClass& DataFormat);
  void DeleteByClipboardFormat(const TClipboardFormatClass& ClipboardFormat);
  void GetClipboardFormats(const TDataFormatClass& DataFormat, TClipboardFormats& List,
                           TDataDirection Direction) const;
  int Count() const { return static_cast<int>(FEntries.size()); }
  const TConversionEntry& Items(int Index) const { return FEntries.at(static_cast<size_t>(Index)); }

private:
  void Place(size_t Last);
  std::vector<TConversionEntry> FEntries;
};

// Both are created on first use and freed at module shutdown.
TDataFormatClasses& DataFormatClasses();
TDataFormatMap& DataFormatMap();

void RegisterDataFormat(const TDataFormatClass& DataFormat);
void UnregisterDataFormat(const TDataFormatClass& DataFormat);
void RegisterDataConversion(const TDataFormatClass& DataFormat,
                            const TClipboardFormatClass& ClipboardFormat, int32_t Priority,
                            TDataDirections Directions = {ddSource, ddTarget},
                            TFormatDirections FormatDirections = platform::DATADIR_GET);
void UnregisterClipboardFormat(const TClipboardFormatClass& ClipboardFormat);
void GetCompatibleFormats(const TDataFormatClass& DataFormat, TClipboardFormats& List,
                          TDataDirection Direction);

// A growable block of bytes with a position, the stream that TFixedStreamAdapter owns.
class TMemoryStream {
public:
  int64_t Size() const { return static_cast<int64_t>(FBytes.size()); }
  int64_t Position() const { return FPosition; }
  void SetPosition(int64_t Position) { FPosition = Position < 0 ? 0 : Position; }
  // Bytes past the old end are zero.
  void SetSize(int64_t Size);
  uint8_t* Memory() { return FBytes.data(); }
  const uint8_t* Memory() const { return FBytes.data(); }
  // Reads and writes at the position and move it; the results are byte counts.
  int64_t Read(void* Buffer, int64_t Count);
  int64_t Write(const void* Buffer, int64_t Count);

private:
  std::vector<uint8_t> FBytes;
  int64_t FPosition = 0;
};

// An owned memory stream presented as an OLE stream; it frees itself, and the
// stream, with its last reference.
class TFixedStreamAdapter final : public platform::IStream {
public:
  explicit TFixedStreamAdapter(std::unique_ptr<TMemoryStream> Stream);
  TMemoryStream& Stream() { return *FStream; }

  HRESULT QueryInterface(platform::REFIID Iid, void** Object) override;
  platform::ULONG AddRef() override;
  platform::ULONG Release() override;
  HRESULT Read(void* Buffer, platform::ULONG Count, platform::ULONG* Read) override;
  HRESULT Write(const void* Buffer, platform::ULONG Count, platform::ULONG* Written) override;
  HRESULT Seek(platform::LARGE_INTEGER Move, DWORD Origin,
               platform::ULARGE_INTEGER* NewPosition) override;
  HRESULT SetSize(platform::ULARGE_INTEGER NewSize) override;
  HRESULT CopyTo(platform::IStream* Destination, platform::ULARGE_INTEGER Count,
                 platform::ULARGE_INTEGER* Read, platform::ULARGE_INTEGER* Written) override;
  HRESULT Commit(DWORD Flags) override;
  HRESULT Revert() override;
  HRESULT LockRegion(platform::ULARGE_INTEGER Offset, platform::ULARGE_INTEGER Count,
                     DWORD LockType) override;
  HRESULT UnlockRegion(platform::ULARGE_INTEGER Offset, platform::ULARGE_INTEGER Count,
                       DWORD LockType) override;
  HRESULT Stat(platform::STATSTG* Stat, DWORD StatFlag) override;
  HRESULT Clone(platform::IStream** Stream) override;

private:
  ~TFixedStreamAdapter() override = default;
  HRESULT CopyChunks(platform::IStream* Destination, uint64_t Count, uint64_t& Read,
                     uint64_t& Written);
  std::unique_ptr<TMemoryStream> FStream;
  std::atomic<platform::ULONG> FRefCount{0};
};

// Start-up (counted): OLE for the calling thread and the shell's allocator.
// The format modules' own start-up functions call it first.
void DragDropStartup();
// The last call frees the map and the class list, drops the allocator and
// uninitialises OLE; the format modules unregister themselves before.
void DragDropShutdown();
// The shell allocator obtained at start-up, or nullptr outside it.
platform::IMalloc* ShellMalloc();

} // namespace dragdrop
