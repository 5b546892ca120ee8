// The lists, the conversion map, data formats and the module's start-up.
#include "dragdrop/DragDrop.h"
#include "dragdrop/ModuleUsers.h"
#include "platform/Shell.h"

#include <algorithm>
#include <memory>
#include <string>

namespace dragdrop {

using namespace platform;

TClipboardFormats::TClipboardFormats(TCustomDataFormat* DataFormat, bool OwnsItems)
    : FDataFormat(DataFormat)
    , FOwnsItems(OwnsItems) {}

TClipboardFormats::~TClipboardFormats() {
  Clear();
}

int TClipboardFormats::Add(TClipboardFormat* Format) {
  FItems.push_back(Format);
  if (FOwnsItems && FDataFormat)
    Format->DataFormat = FDataFormat;
  return Count() - 1;
}

void TClipboardFormats::Clear() {
  if (FOwnsItems)
    for (TClipboardFormat* item : FItems)
      delete item;
  FItems.clear();
}

TClipboardFormat* TClipboardFormats::FindFormat(const TClipboardFormatClass& FormatClass) const {
  for (TClipboardFormat* item : FItems)
    if (item->ClassType().InheritsFrom(FormatClass))
      return item;
  return nullptr;
}

bool TClipboardFormats::HasFormat(const TClipboardFormatClass& FormatClass) const {
  return FindFormat(FormatClass) != nullptr;
}

int TDataFormats::Add(TCustomDataFormat* Format) {
  int index = IndexOf(Format);
  if (index >= 0)
    return index;
  FItems.push_back(Format);
  return Count() - 1;
}

void TDataFormats::Remove(TCustomDataFormat* Format) {
  std::erase(FItems, Format);
}

int TDataFormats::IndexOf(const TCustomDataFormat* Format) const {
  auto found = std::find(FItems.begin(), FItems.end(), Format);
  return found == FItems.end() ? -1 : static_cast<int>(found - FItems.begin());
}

void TDataFormatClasses::Add(const TDataFormatClass& Format) {
  if (IndexOf(Format) < 0)
    FItems.push_back(&Format);
}

void TDataFormatClasses::Remove(const TDataFormatClass& Format) {
  std::erase(FItems, &Format);
}

int TDataFormatClasses::IndexOf(const TDataFormatClass& Format) const {
  auto found = std::find(FItems.begin(), FItems.end(), &Format);
  return found == FItems.end() ? -1 : static_cast<int>(found - FItems.begin());
}

void TDataFormatMap::Add(const TDataFormatClass& DataFormat,
                         const TClipboardFormatClass& ClipboardFormat, int32_t Priority,
                         TDataDirections Directions, TFormatDirections FormatDirections) {
  auto found = std::find_if(FEntries.begin(), FEntries.end(), [&](const TConversionEntry& entry) {
    return entry.DataFormat->InheritsFrom(DataFormat) &&
           entry.ClipboardFormat->InheritsFrom(ClipboardFormat);
  });
  if (found == FEntries.end()) {
    FEntries.push_back({&DataFormat, &ClipboardFormat, Priority, Directions, FormatDirections});
  } else {
    TConversionEntry entry = *found;
    FEntries.erase(found);
    entry.Directions = entry.Directions + Directions;
    entry.FormatDirections |= FormatDirections;
    FEntries.push_back(entry);
  }
  TConversionEntry& last = FEntries.back();
  last.DataFormat = &DataFormat;
  last.ClipboardFormat = &ClipboardFormat;
  last.Priority = Priority;
  Place(FEntries.size() - 1);
}

// Keeps the entries of one data format together in ascending priority, a later
// registration before earlier ones of the same priority.
void TDataFormatMap::Place(size_t Last) {
  const TConversionEntry entry = FEntries[Last];
  ptrdiff_t sibling = static_cast<ptrdiff_t>(Last) - 1;
  while (sibling >= 0 && FEntries[static_cast<size_t>(sibling)].DataFormat != entry.DataFormat)
    --sibling;
  if (sibling < 0)
    return;
  ptrdiff_t before = sibling;
  while (before >= 0 && FEntries[static_cast<size_t>(before)].DataFormat == entry.DataFormat &&
         FEntries[static_cast<size_t>(before)].Priority >= entry.Priority)
    --before;
  FEntries.erase(FEntries.begin() + static_cast<ptrdiff_t>(Last));
  FEntries.insert(FEntries.begin() + before + 1, entry);
}

void TDataFormatMap::DeleteByDataFormat(const TDataFormatClass& DataFormat) {
  std::erase_if(FEntries, [&](const TConversionEntry& entry) {
    return entry.DataFormat->InheritsFrom(DataFormat);
  });
}

void TDataFormatMap::DeleteByClipboardFormat(const TClipboardFormatClass& ClipboardFormat) {
  std::erase_if(FEntries, [&](const TConversionEntry& entry) {
    return entry.ClipboardFormat->InheritsFrom(ClipboardFormat);
  });
}

void TDataFormatMap::GetClipboardFormats(const TDataFormatClass& DataFormat,
                                         TClipboardFormats& List, TDataDirection Direction) const {
  List.Clear();
  for (const TConversionEntry& entry : FEntries) {
    if (!entry.Directions.Contains(Direction) || !entry.DataFormat->InheritsFrom(DataFormat))
      continue;
    if (!entry.ClipboardFormat->Construct)
      throw EDragDropError(std::string("Internal error: ") + entry.ClipboardFormat->Name +
                           ".Create needs implementation");
    std::unique_ptr<TClipboardFormat> format = entry.ClipboardFormat->Construct();
    format->DataDirections = entry.FormatDirections;
    List.Add(format.release());
  }
}

namespace {

std::unique_ptr<TDataFormatClasses> TheDataFormatClasses;
std::unique_ptr<TDataFormatMap> TheDataFormatMap;
TModuleUsers MapUsers;
IMalloc* TheShellMalloc = nullptr;

} // namespace

TDataFormatClasses& DataFormatClasses() {
  if (!TheDataFormatClasses)
    TheDataFormatClasses = std::make_unique<TDataFormatClasses>();
  return *TheDataFormatClasses;
}

TDataFormatMap& DataFormatMap() {
  if (!TheDataFormatMap)
    TheDataFormatMap = std::make_unique<TDataFormatMap>();
  return *TheDataFormatMap;
}

void RegisterDataFormat(const TDataFormatClass& DataFormat) {
  DataFormatClasses().Add(DataFormat);
}

void UnregisterDataFormat(const TDataFormatClass& DataFormat) {
  DataFormatMap().DeleteByDataFormat(DataFormat);
  DataFormatClasses().Remove(DataFormat);
}

void RegisterDataConversion(const TDataFormatClass& DataFormat,
                            const TClipboardFormatClass& ClipboardFormat, int32_t Priority,
                            TDataDirections Directions, TFormatDirections FormatDirections) {
  DataFormatMap().Add(DataFormat, ClipboardFormat, Priority, Directions, FormatDirections);
}

void UnregisterClipboardFormat(const TClipboardFormatClass& ClipboardFormat) {
  DataFormatMap().DeleteByClipboardFormat(ClipboardFormat);
}

void GetCompatibleFormats(const TDataFormatClass& DataFormat, TClipboardFormats& List,
                          TDataDirection Direction) {
  DataFormatMap().GetClipboardFormats(DataFormat, List, Direction);
}

void DragDropStartup() {
  if (!MapUsers.First())
    return;
  OleInitialize(nullptr);
  SHGetMalloc(&TheShellMalloc);
}

void DragDropShutdown() {
  if (!MapUsers.Last())
    return;
  TheDataFormatMap.reset();
  TheDataFormatClasses.reset();
  if (TheShellMalloc)
    TheShellMalloc->Release();
  TheShellMalloc = nullptr;
  OleUninitialize();
}

IMalloc* ShellMalloc() {
  return TheShellMalloc;
}

const TDataFormatClass TCustomDataFormat::Class{"TCustomDataFormat", nullptr, nullptr};

namespace {

TDataDirection DirectionFor(const TDragDropComponent* Owner, const TDataFormatClass& Own) {
  if (!Owner)
    return ddTarget;
  if (std::optional<TDataDirection> direction = Owner->DataFormatsDirection())
    return *direction;
  throw EDragDropError(std::string(Owner->ClassName()) + " is not a valid owner for " + Own.Name +
                       ". Owner must be derived from "
                       "TCustomDropMultiSource or TCustomDropMultiTarget");
}

} // namespace

TCustomDataFormat::TCustomDataFormat(TDragDropComponent* AOwner, const TDataFormatClass& Own)
    : FOwner(AOwner)
    , FCompatibleFormats(this, true) {
  GetCompatibleFormats(Own, FCompatibleFormats, DirectionFor(AOwner, Own));
  if (FOwner && FOwner->DataFormats)
    FOwner->DataFormats->Add(this);
}

TCustomDataFormat::~TCustomDataFormat() {
  if (FOwner && FOwner->DataFormats)
    FOwner->DataFormats->Remove(this);
}

void TCustomDataFormat::DoOnChanging() {
  if (OnChanging)
    OnChanging(*this);
}

bool TCustomDataFormat::Assign(TClipboardFormat& Source) {
  return Source.AssignTo(*this);
}

bool TCustomDataFormat::AssignTo(TClipboardFormat& Destination) {
  return Destination.Assign(*this);
}

bool TCustomDataFormat::GetData(IDataObject* DataObject) {
  bool result = false;
  for (int i = 0; i < FCompatibleFormats.Count() && NeedsData(); ++i) {
    TClipboardFormat& format = *FCompatibleFormats.Items(i);
    format.Clear();
    if (format.GetData(DataObject) && format.HasData() && Assign(format)) {
      format.Clear();
      result = true;
    }
  }
  return result;
}

bool TCustomDataFormat::NeedsData() const {
  return !HasData();
}

bool TCustomDataFormat::HasValidFormats(IDataObject* DataObject) {
  for (int i = 0; i < FCompatibleFormats.Count(); ++i)
    if (FCompatibleFormats.Items(i)->HasValidFormats(DataObject))
      return true;
  return false;
}

bool TCustomDataFormat::AcceptFormat(const FORMATETC& Format) const {
  for (int i = 0; i < FCompatibleFormats.Count(); ++i)
    if (FCompatibleFormats.Items(i)->AcceptFormat(Format))
      return true;
  return false;
}

} // namespace dragdrop
