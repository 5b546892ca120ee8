#include "dragdrop/DragDropFile.h"

#include "dragdrop/DragDropPIDL.h"
#include "dragdrop/ModuleUsers.h"
#include "platform/Shell.h"

#include <cstring>
#include <limits>
#include <optional>

namespace dragdrop {

using namespace platform;

namespace {

uint32_t Dword(const uint8_t* Bytes) {
  uint32_t value;
  std::memcpy(&value, Bytes, 4);
  return value;
}

// The characters before the first zero among the Count characters at Chars,
// or nothing when there is no zero.
template <class TChar>
std::optional<std::basic_string<TChar>> TerminatedName(const uint8_t* Chars, size_t Count) {
  std::basic_string<TChar> name;
  for (size_t i = 0; i < Count; ++i) {
    TChar c;
    std::memcpy(&c, Chars + i * sizeof(TChar), sizeof(TChar));
    if (c == 0)
      return name;
    name += c;
  }
  return std::nullopt;
}

template <class TChar> bool ReadNames(const uint8_t* Block, size_t Size, TStrings& List) {
  bool added = false;
  for (size_t position = 0; Size - position >= sizeof(TChar);) {
    auto name = TerminatedName<TChar>(Block + position, (Size - position) / sizeof(TChar));
    if (!name || name->empty())
      break;
    if constexpr (sizeof(TChar) == 1)
      List.Add(*name);
    else
      List.Add(WideToAnsi(*name));
    added = true;
    position += (name->size() + 1) * sizeof(TChar);
  }
  return added;
}

} // namespace

bool ReadZeroList(const void* Block, size_t Size, bool Wide, TStrings& List) {
  const auto* bytes = static_cast<const uint8_t*>(Block);
  return Wide ? ReadNames<char16_t>(bytes, Size, List) : ReadNames<char>(bytes, Size, List);
}

const TDataFormatClass TFileDataFormat::Class{"TFileDataFormat", &TCustomDataFormat::Class,
                                              nullptr};

TFileDataFormat::TFileDataFormat(TDragDropComponent* AOwner)
    : TFileDataFormat(AOwner, Class) {}

TFileDataFormat::TFileDataFormat(TDragDropComponent* AOwner, const TDataFormatClass& Own)
    : TCustomDataFormat(AOwner, Own) {
  Files.OnChanging = [this] { DoOnChanging(); };
}

namespace {

// The file list goes both to a CF_HDROP and to an item-id list array.
bool CopyFiles(TClipboardFormat& Other, TStringList& Files, TListCopy Direction) {
  return CopyListWith(Other, &TFileClipboardFormat::Files, Files, Direction) ||
         CopyListWith(Other, &TPIDLClipboardFormat::Filenames, Files, Direction);
}

} // namespace

bool TFileDataFormat::Assign(TClipboardFormat& Source) {
  return CopyFiles(Source, Files, TListCopy::FromOther) || TCustomDataFormat::Assign(Source);
}

bool TFileDataFormat::AssignTo(TClipboardFormat& Destination) {
  return CopyFiles(Destination, Files, TListCopy::ToOther) ||
         TCustomDataFormat::AssignTo(Destination);
}

const TDataFormatClass TFileMapDataFormat::Class{"TFileMapDataFormat", &TCustomDataFormat::Class,
                                                 nullptr};

TFileMapDataFormat::TFileMapDataFormat(TDragDropComponent* AOwner)
    : TFileMapDataFormat(AOwner, Class) {}

TFileMapDataFormat::TFileMapDataFormat(TDragDropComponent* AOwner, const TDataFormatClass& Own)
    : TCustomDataFormat(AOwner, Own) {
  FileMaps.OnChanging = [this] { DoOnChanging(); };
}

bool TFileMapDataFormat::Assign(TClipboardFormat& Source) {
  return CopyListWith(Source, &TCustomFilenameMapClipboardFormat::FileMaps, FileMaps,
                      TListCopy::FromOther) ||
         TCustomDataFormat::Assign(Source);
}

bool TFileMapDataFormat::AssignTo(TClipboardFormat& Destination) {
  return CopyListWith(Destination, &TCustomFilenameMapClipboardFormat::FileMaps, FileMaps,
                      TListCopy::ToOther) ||
         TCustomDataFormat::AssignTo(Destination);
}

const TClipboardFormatClass TFileClipboardFormat::Class{
    "TFileClipboardFormat", &TCustomSimpleClipboardFormat::Class,
    ConstructClipboardFormat<TFileClipboardFormat>};

CLIPFORMAT TFileClipboardFormat::GetClipboardFormat() const {
  return CF_HDROP;
}

bool TFileClipboardFormat::ReadData(const void* Block, int32_t Size) {
  if (Size <= static_cast<int32_t>(sizeof(DROPFILES)))
    return false;
  Files.Clear();
  const auto* bytes = static_cast<const uint8_t*>(Block);
  uint32_t offset = Dword(bytes + offsetof(DROPFILES, pFiles));
  bool wide = Dword(bytes + offsetof(DROPFILES, fWide)) != 0;
  if (offset >= static_cast<uint32_t>(Size))
    return false;
  ReadZeroList(bytes + offset, static_cast<size_t>(Size) - offset, wide, Files);
  return !Files.Empty();
}

int32_t TFileClipboardFormat::GetSize() const {
  uint64_t size = sizeof(DROPFILES) + 1;
  for (int i = 0; i < Files.Count(); ++i)
    size += Files.Get(i).size() + 1;
  return size > std::numeric_limits<int32_t>::max() ? 0 : static_cast<int32_t>(size);
}

bool TFileClipboardFormat::WriteData(void* Block, int32_t Size) {
  int32_t needed = GetSize();
  if (needed == 0 || Size < needed)
    return false;
  auto* bytes = static_cast<uint8_t*>(Block);
  DROPFILES header{};
  header.pFiles = sizeof(DROPFILES);
  std::memcpy(bytes, &header, sizeof header);
  size_t position = sizeof(DROPFILES);
  for (int i = 0; i < Files.Count(); ++i) {
    std::string name = Files.Get(i);
    std::memcpy(bytes + position, name.c_str(), name.size() + 1);
    position += name.size() + 1;
  }
  bytes[position] = 0;
  return true;
}

bool TFileClipboardFormat::Assign(TCustomDataFormat& Source) {
  return CopyListWith(Source, &TFileDataFormat::Files, Files, TListCopy::FromOther) ||
         TCustomSimpleClipboardFormat::Assign(Source);
}

bool TFileClipboardFormat::AssignTo(TCustomDataFormat& Destination) {
  return CopyListWith(Destination, &TFileDataFormat::Files, Files, TListCopy::ToOther) ||
         TCustomSimpleClipboardFormat::AssignTo(Destination);
}

const TClipboardFormatClass TFilenameClipboardFormat::Class{
    "TFilenameClipboardFormat", &TCustomTextClipboardFormat::Class,
    ConstructClipboardFormat<TFilenameClipboardFormat>};

CLIPFORMAT TFilenameClipboardFormat::GetClipboardFormat() const {
  static const CLIPFORMAT id = RegisteredFormat("FileName");
  return id;
}

bool TFilenameClipboardFormat::Assign(TCustomDataFormat& Source) {
  auto* files = dynamic_cast<TFileDataFormat*>(&Source);
  if (!files)
    return TCustomTextClipboardFormat::Assign(Source);
  if (files->Files.Empty())
    return false;
  Data = files->Files.Get(0);
  return true;
}

bool TFilenameClipboardFormat::AssignTo(TCustomDataFormat& Destination) {
  auto* files = dynamic_cast<TFileDataFormat*>(&Destination);
  if (!files)
    return TCustomTextClipboardFormat::AssignTo(Destination);
  files->Files.Add(Data);
  return true;
}

const TClipboardFormatClass TFilenameWClipboardFormat::Class{
    "TFilenameWClipboardFormat", &TCustomWideTextClipboardFormat::Class,
    ConstructClipboardFormat<TFilenameWClipboardFormat>};

CLIPFORMAT TFilenameWClipboardFormat::GetClipboardFormat() const {
  static const CLIPFORMAT id = RegisteredFormat("FileNameW");
  return id;
}

bool TFilenameWClipboardFormat::Assign(TCustomDataFormat& Source) {
  auto* files = dynamic_cast<TFileDataFormat*>(&Source);
  if (!files)
    return TCustomWideTextClipboardFormat::Assign(Source);
  if (files->Files.Empty())
    return false;
  WideData = AnsiToWide(files->Files.Get(0));
  return true;
}

bool TFilenameWClipboardFormat::AssignTo(TCustomDataFormat& Destination) {
  auto* files = dynamic_cast<TFileDataFormat*>(&Destination);
  if (!files)
    return TCustomWideTextClipboardFormat::AssignTo(Destination);
  files->Files.Add(WideToAnsi(WideData));
  return true;
}

const TClipboardFormatClass TCustomFilenameMapClipboardFormat::Class{
    "TCustomFilenameMapClipboardFormat", &TCustomSimpleClipboardFormat::Class, nullptr};

bool TCustomFilenameMapClipboardFormat::ReadData(const void* Block, int32_t Size) {
  FileMaps.Clear();
  return ReadZeroList(Block, static_cast<size_t>(Size > 0 ? Size : 0), FWide, FileMaps);
}

// The names, each zero-terminated, and one more zero, in the format's width.
std::string TCustomFilenameMapClipboardFormat::Encoded() const {
  std::string bytes;
  for (int i = 0; i < FileMaps.Count(); ++i) {
    std::string name = FileMaps.Get(i);
    if (FWide) {
      std::u16string wide = AnsiToWide(name);
      bytes.append(reinterpret_cast<const char*>(wide.c_str()), (wide.size() + 1) * 2);
    } else {
      bytes.append(name.c_str(), name.size() + 1);
    }
  }
  bytes.append(FWide ? 2 : 1, '\0');
  return bytes;
}

int32_t TCustomFilenameMapClipboardFormat::GetSize() const {
  size_t size = Encoded().size();
  return size > std::numeric_limits<int32_t>::max() ? 0 : static_cast<int32_t>(size);
}

bool TCustomFilenameMapClipboardFormat::WriteData(void* Block, int32_t Size) {
  std::string bytes = Encoded();
  if (Size < 0 || static_cast<size_t>(Size) < bytes.size())
    return false;
  std::memcpy(Block, bytes.data(), bytes.size());
  return true;
}

bool TCustomFilenameMapClipboardFormat::Assign(TCustomDataFormat& Source) {
  return CopyListWith(Source, &TFileMapDataFormat::FileMaps, FileMaps, TListCopy::FromOther) ||
         TCustomSimpleClipboardFormat::Assign(Source);
}

bool TCustomFilenameMapClipboardFormat::AssignTo(TCustomDataFormat& Destination) {
  return CopyListWith(Destination, &TFileMapDataFormat::FileMaps, FileMaps, TListCopy::ToOther) ||
         TCustomSimpleClipboardFormat::AssignTo(Destination);
}

const TClipboardFormatClass TFilenameMapClipboardFormat::Class{
    "TFilenameMapClipboardFormat", &TCustomFilenameMapClipboardFormat::Class,
    ConstructClipboardFormat<TFilenameMapClipboardFormat>};

CLIPFORMAT TFilenameMapClipboardFormat::GetClipboardFormat() const {
  static const CLIPFORMAT id = RegisteredFormat("FileNameMap");
  return id;
}

const TClipboardFormatClass TFilenameMapWClipboardFormat::Class{
    "TFilenameMapWClipboardFormat", &TCustomFilenameMapClipboardFormat::Class,
    ConstructClipboardFormat<TFilenameMapWClipboardFormat>};

CLIPFORMAT TFilenameMapWClipboardFormat::GetClipboardFormat() const {
  static const CLIPFORMAT id = RegisteredFormat("FileNameMapW");
  return id;
}

namespace {
TModuleUsers FileUsers;
} // namespace

void DragDropFileStartup() {
  if (!FileUsers.First())
    return;
  DragDropPIDLStartup();
  RegisterDataFormat(TFileDataFormat::Class);
  RegisterDataFormat(TFileMapDataFormat::Class);
  RegisterDataConversion(TFileDataFormat::Class, TFileClipboardFormat::Class, 0);
  RegisterDataConversion(TFileDataFormat::Class, TPIDLClipboardFormat::Class, 1);
  RegisterDataConversion(TFileDataFormat::Class, TFilenameClipboardFormat::Class, 2);
  RegisterDataConversion(TFileDataFormat::Class, TFilenameWClipboardFormat::Class, 2);
  RegisterDataConversion(TFileMapDataFormat::Class, TFilenameMapClipboardFormat::Class, 0);
  RegisterDataConversion(TFileMapDataFormat::Class, TFilenameMapWClipboardFormat::Class, 0);
}

void DragDropFileShutdown() {
  if (!FileUsers.Last())
    return;
  UnregisterDataFormat(TFileDataFormat::Class);
  UnregisterDataFormat(TFileMapDataFormat::Class);
  for (const TClipboardFormatClass* format :
       {&TFileClipboardFormat::Class, &TFilenameClipboardFormat::Class,
        &TFilenameWClipboardFormat::Class, &TCustomFilenameMapClipboardFormat::Class})
    UnregisterClipboardFormat(*format);
  DragDropPIDLShutdown();
}

} // namespace dragdrop
