#include "dragdrop/DragDropPIDL.h"

#include "dragdrop/DragDropFile.h"
#include "dragdrop/DragDropFormats.h"
#include "dragdrop/ModuleUsers.h"
#include "platform/Shell.h"

#include <cstring>
#include <limits>

namespace dragdrop {

using namespace platform;

namespace {

uint32_t Dword(const uint8_t* Bytes) {
  uint32_t value;
  std::memcpy(&value, Bytes, 4);
  return value;
}

uint16_t Word16(const uint8_t* Bytes) {
  return static_cast<uint16_t>(Bytes[0] | Bytes[1] << 8);
}

} // namespace

std::string PIDLFromBlock(const uint8_t* Block, size_t Size, size_t Offset) {
  // Every item moves on by at least one byte, so the walk ends within the block.
  for (size_t position = Offset; position < Size && Size - position >= 2;) {
    uint16_t itemSize = Word16(Block + position);
    if (itemSize == 0)
      return std::string(reinterpret_cast<const char*>(Block + Offset), position + 2 - Offset);
    position += itemSize;
  }
  return {};
}

std::string JoinPIDLs(const std::string& Parent, const std::string& Child) {
  return (Parent.size() > 2 ? Parent.substr(0, Parent.size() - 2) : std::string()) + Child;
}

int TPIDLsToFilenamesStrings::Count() const {
  return FPIDLs.Count() < 2 ? 0 : FPIDLs.Count() - 1;
}

std::string TPIDLsToFilenamesStrings::Get(int Index) const {
  if (Index < 0 || Index >= Count())
    throw EDragDropError("Filename index out of range");
  std::string list = JoinPIDLs(FPIDLs.Get(0), FPIDLs.Get(Index + 1));
  // Entries put in by hand may be anything: only a list that ends exactly at
  // its terminator goes to the shell.
  if (list.empty() ||
      PIDLFromBlock(reinterpret_cast<const uint8_t*>(list.data()), list.size(), 0).size() !=
          list.size())
    return {};
  char path[MAX_PATH];
  if (!SHGetPathFromIDList(reinterpret_cast<LPCITEMIDLIST>(list.data()), path))
    return {};
  return path;
}

void TPIDLsToFilenamesStrings::Assign(const TStrings& /*Source*/) {
  throw EDragDropError("Failed to get interface to Desktop");
}

const TClipboardFormatClass TPIDLClipboardFormat::Class{
    "TPIDLClipboardFormat", &TCustomSimpleClipboardFormat::Class,
    ConstructClipboardFormat<TPIDLClipboardFormat>};

CLIPFORMAT TPIDLClipboardFormat::GetClipboardFormat() const {
  static const CLIPFORMAT id = RegisteredFormat("Shell IDList Array");
  return id;
}

TPIDLClipboardFormat::TPIDLClipboardFormat()
    : Filenames(PIDLs) {}

bool TPIDLClipboardFormat::ReadData(const void* Block, int32_t Size) {
  PIDLs.Clear();
  const auto* bytes = static_cast<const uint8_t*>(Block);
  const auto size = static_cast<uint64_t>(Size > 0 ? Size : 0);
  if (size < 4)
    return false;
  const uint64_t count = Dword(bytes);
  // The offsets table (count + 1 entries) must fit too, which the 8 bytes per
  // item do not guarantee for an empty array.
  if (size < 4 + 8 * count || size < 8 + 4 * count)
    return false;
  for (uint64_t i = 0; i <= count; ++i) {
    std::string list = PIDLFromBlock(bytes, static_cast<size_t>(size), Dword(bytes + 4 + 4 * i));
    if (list.empty())
      break;
    PIDLs.Add(list);
  }
  return PIDLs.Count() > 1;
}

int32_t TPIDLClipboardFormat::GetSize() const {
  if (PIDLs.Empty())
    return 0;
  uint64_t size = 4 + 4 * static_cast<uint64_t>(PIDLs.Count());
  for (int i = 0; i < PIDLs.Count(); ++i)
    size += PIDLs.Get(i).size();
  return size > std::numeric_limits<int32_t>::max() ? 0 : static_cast<int32_t>(size);
}

bool TPIDLClipboardFormat::WriteData(void* Block, int32_t Size) {
  int32_t needed = GetSize();
  if (needed == 0 || Size < needed)
    return false;
  auto* bytes = static_cast<uint8_t*>(Block);
  auto count = static_cast<uint32_t>(PIDLs.Count() - 1);
  std::memcpy(bytes, &count, 4);
  uint32_t offset = 4 + 4 * static_cast<uint32_t>(PIDLs.Count());
  for (int i = 0; i < PIDLs.Count(); ++i) {
    std::string list = PIDLs.Get(i);
    std::memcpy(bytes + 4 + 4 * i, &offset, 4);
    std::memcpy(bytes + offset, list.data(), list.size());
    offset += static_cast<uint32_t>(list.size());
  }
  return true;
}

bool TPIDLClipboardFormat::Assign(TCustomDataFormat& Source) {
  if (auto* pidls = dynamic_cast<TPIDLDataFormat*>(&Source)) {
    PIDLs.Assign(pidls->PIDLs);
    return true;
  }
  return TCustomSimpleClipboardFormat::Assign(Source);
}

bool TPIDLClipboardFormat::AssignTo(TCustomDataFormat& Destination) {
  if (auto* pidls = dynamic_cast<TPIDLDataFormat*>(&Destination)) {
    pidls->PIDLs.Assign(PIDLs);
    return true;
  }
  return TCustomSimpleClipboardFormat::AssignTo(Destination);
}

const TDataFormatClass TPIDLDataFormat::Class{"TPIDLDataFormat", &TCustomDataFormat::Class,
                                              nullptr};

TPIDLDataFormat::TPIDLDataFormat(TDragDropComponent* AOwner)
    : TPIDLDataFormat(AOwner, Class) {}

TPIDLDataFormat::TPIDLDataFormat(TDragDropComponent* AOwner, const TDataFormatClass& Own)
    : TCustomDataFormat(AOwner, Own)
    , Filenames(PIDLs) {
  PIDLs.OnChanging = [this] { DoOnChanging(); };
}

bool TPIDLDataFormat::Assign(TClipboardFormat& Source) {
  return CopyListWith(Source, &TPIDLClipboardFormat::PIDLs, PIDLs, TListCopy::FromOther) ||
         TCustomDataFormat::Assign(Source);
}

bool TPIDLDataFormat::AssignTo(TClipboardFormat& Destination) {
  return CopyListWith(Destination, &TPIDLClipboardFormat::PIDLs, PIDLs, TListCopy::ToOther) ||
         TCustomDataFormat::AssignTo(Destination);
}

namespace {
TModuleUsers PIDLUsers;
} // namespace

void DragDropPIDLStartup() {
  if (!PIDLUsers.First())
    return;
  DragDropFormatsStartup();
  RegisterDataFormat(TPIDLDataFormat::Class);
  RegisterDataConversion(TPIDLDataFormat::Class, TPIDLClipboardFormat::Class, 0);
  RegisterDataConversion(TPIDLDataFormat::Class, TFileClipboardFormat::Class, 1);
}

void DragDropPIDLShutdown() {
  if (!PIDLUsers.Last())
    return;
  UnregisterDataFormat(TPIDLDataFormat::Class);
  DragDropFormatsShutdown();
}

} // namespace dragdrop
