#include "dragdrop/DragDropFormats.h"

#include "dragdrop/ModuleUsers.h"

#include <algorithm>
#include <cstring>

namespace dragdrop {

using namespace platform;

CLIPFORMAT RegisteredFormat(const char* Name) {
  return static_cast<CLIPFORMAT>(RegisterClipboardFormatA(Name));
}

const TClipboardFormatClass TCustomStringClipboardFormat::Class{
    "TCustomStringClipboardFormat", &TCustomSimpleClipboardFormat::Class, nullptr};

bool TCustomStringClipboardFormat::ReadData(const void* Block, int32_t Size) {
  const auto* bytes = static_cast<const char*>(Block);
  size_t size = static_cast<size_t>(std::max(Size, 0));
  if (TrimZeroes)
    if (const void* zero = std::memchr(bytes, '\0', size))
      size = static_cast<size_t>(static_cast<const char*>(zero) - bytes);
  Data.assign(bytes, size);
  return true;
}

bool TCustomStringClipboardFormat::WriteData(void* Block, int32_t Size) {
  if (Size < 0 || static_cast<size_t>(Size) > Data.size() + 1)
    return false;
  std::memcpy(Block, Data.c_str(), static_cast<size_t>(Size));
  return true;
}

int32_t TCustomStringClipboardFormat::GetSize() const {
  return static_cast<int32_t>(std::min<size_t>(Data.size(), INT32_MAX));
}

const TClipboardFormatClass TCustomTextClipboardFormat::Class{
    "TCustomTextClipboardFormat", &TCustomStringClipboardFormat::Class, nullptr};

int32_t TCustomTextClipboardFormat::GetSize() const {
  if (Data.empty() || Data.size() >= INT32_MAX)
    return 0;
  return static_cast<int32_t>(Data.size() + (Data.back() == '\0' ? 0 : 1));
}

const TClipboardFormatClass TTextClipboardFormat::Class{
    "TTextClipboardFormat", &TCustomTextClipboardFormat::Class,
    ConstructClipboardFormat<TTextClipboardFormat>};

CLIPFORMAT TTextClipboardFormat::GetClipboardFormat() const {
  return CF_TEXT;
}

const TClipboardFormatClass TCustomWideTextClipboardFormat::Class{
    "TCustomWideTextClipboardFormat", &TCustomSimpleClipboardFormat::Class, nullptr};

bool TCustomWideTextClipboardFormat::ReadData(const void* Block, int32_t Size) {
  WideData.resize(static_cast<size_t>(std::max(Size, 0)) / 2);
  std::memcpy(WideData.data(), Block, WideData.size() * 2);
  return true;
}

bool TCustomWideTextClipboardFormat::WriteData(void* Block, int32_t Size) {
  if (Size < 0 || static_cast<size_t>(Size) > 2 * WideData.size() + 2)
    return false;
  std::memcpy(Block, WideData.c_str(), static_cast<size_t>(Size));
  return true;
}

int32_t TCustomWideTextClipboardFormat::GetSize() const {
  if (WideData.empty() || WideData.size() >= INT32_MAX / 2)
    return 0;
  return static_cast<int32_t>(2 * WideData.size() + (WideData.back() == 0 ? 0 : 2));
}

const TClipboardFormatClass TCustomDWORDClipboardFormat::Class{
    "TCustomDWORDClipboardFormat", &TCustomSimpleClipboardFormat::Class, nullptr};

bool TCustomDWORDClipboardFormat::ReadData(const void* Block, int32_t Size) {
  if (Size < 4)
    return false;
  std::memcpy(&Value, Block, 4);
  return true;
}

bool TCustomDWORDClipboardFormat::WriteData(void* Block, int32_t Size) {
  if (Size != 4)
    return false;
  std::memcpy(Block, &Value, 4);
  return true;
}

#define ZANDREL_DEFINE_FORMAT(Name, Parent, FormatName)                                            \
  const TClipboardFormatClass Name::Class{#Name, &Parent::Class, ConstructClipboardFormat<Name>};  \
  CLIPFORMAT Name::GetClipboardFormat() const {                                                    \
    static const CLIPFORMAT id = RegisteredFormat(FormatName);                                     \
    return id;                                                                                     \
  }
ZANDREL_DEFINE_FORMAT(TPreferredDropEffectClipboardFormat, TCustomDWORDClipboardFormat,
                      "Preferred DropEffect")
ZANDREL_DEFINE_FORMAT(TPerformedDropEffectClipboardFormat, TCustomDWORDClipboardFormat,
                      "Performed DropEffect")
ZANDREL_DEFINE_FORMAT(TLogicalPerformedDropEffectClipboardFormat, TCustomDWORDClipboardFormat,
                      "Logical Performed DropEffect")
ZANDREL_DEFINE_FORMAT(TPasteSuccededClipboardFormat, TCustomDWORDClipboardFormat, "Paste Succeeded")
ZANDREL_DEFINE_FORMAT(TInShellDragLoopClipboardFormat, TCustomDWORDClipboardFormat,
                      "InShellDragLoop")
ZANDREL_DEFINE_FORMAT(TTargetCLSIDClipboardFormat, TCustomSimpleClipboardFormat, "TargetCLSID")
ZANDREL_DEFINE_FORMAT(TFileContentsClipboardFormat, TClipboardFormat, "FileContents")
ZANDREL_DEFINE_FORMAT(TFileContentsStreamClipboardFormat, TClipboardFormat, "FileContents")
ZANDREL_DEFINE_FORMAT(TFileGroupDescritorClipboardFormat, TClipboardFormat, "FileGroupDescriptor")
ZANDREL_DEFINE_FORMAT(TFileGroupDescritorWClipboardFormat, TClipboardFormat, "FileGroupDescriptorW")
#undef ZANDREL_DEFINE_FORMAT

bool TTargetCLSIDClipboardFormat::ReadData(const void* Block, int32_t Size) {
  if (Size != 16)
    return false;
  std::memcpy(&CLSID, Block, 16);
  return true;
}

bool TTargetCLSIDClipboardFormat::WriteData(void* Block, int32_t Size) {
  if (Size != 16)
    return false;
  std::memcpy(Block, &CLSID, 16);
  return true;
}

const TDataFormatClass TTextDataFormatClass{"TTextDataFormat", &TCustomDataFormat::Class, nullptr};
const TDataFormatClass TFeedbackDataFormatClass{"TFeedbackDataFormat", &TCustomDataFormat::Class,
                                                nullptr};
const TDataFormatClass TDataStreamDataFormatClass{"TDataStreamDataFormat",
                                                  &TCustomDataFormat::Class, nullptr};
const TDataFormatClass TVirtualFileStreamDataFormatClass{"TVirtualFileStreamDataFormat",
                                                         &TCustomDataFormat::Class, nullptr};

namespace {

TModuleUsers FormatsUsers;

void RegisterFormats() {
  const TDataDirections both{ddSource, ddTarget};
  RegisterDataConversion(TTextDataFormatClass, TTextClipboardFormat::Class, 0, both, DATADIR_GET);
  RegisterDataConversion(TTextDataFormatClass, TFileContentsClipboardFormat::Class, 1, both,
                         DATADIR_GET);
  RegisterDataConversion(TTextDataFormatClass, TFileGroupDescritorClipboardFormat::Class, 1,
                         {ddSource}, DATADIR_GET);
  RegisterDataConversion(TTextDataFormatClass, TFileGroupDescritorWClipboardFormat::Class, 1,
                         {ddSource}, DATADIR_GET);
  RegisterDataConversion(TFeedbackDataFormatClass, TPreferredDropEffectClipboardFormat::Class, 0,
                         both, DATADIR_GET);
  RegisterDataConversion(TFeedbackDataFormatClass, TPerformedDropEffectClipboardFormat::Class, 0,
                         both, DATADIR_SET);
  RegisterDataConversion(TFeedbackDataFormatClass, TPasteSuccededClipboardFormat::Class, 0, both,
                         DATADIR_SET);
  RegisterDataConversion(TFeedbackDataFormatClass, TInShellDragLoopClipboardFormat::Class, 0, both,
                         DATADIR_GET);
  RegisterDataConversion(TFeedbackDataFormatClass, TTargetCLSIDClipboardFormat::Class, 0, both,
                         DATADIR_SET);
  RegisterDataConversion(TFeedbackDataFormatClass,
                         TLogicalPerformedDropEffectClipboardFormat::Class, 0, both, DATADIR_SET);
  RegisterDataConversion(TDataStreamDataFormatClass, TFileContentsStreamClipboardFormat::Class, 0,
                         {ddTarget}, DATADIR_GET);
  RegisterDataFormat(TTextDataFormatClass);
  RegisterDataFormat(TDataStreamDataFormatClass);
  RegisterDataFormat(TVirtualFileStreamDataFormatClass);
}

void UnregisterFormats() {
  for (const TDataFormatClass* format :
       {&TTextDataFormatClass, &TFeedbackDataFormatClass, &TDataStreamDataFormatClass,
        &TVirtualFileStreamDataFormatClass})
    UnregisterDataFormat(*format);
  for (const TClipboardFormatClass* format :
       {&TTextClipboardFormat::Class, &TFileContentsClipboardFormat::Class,
        &TFileContentsStreamClipboardFormat::Class, &TFileGroupDescritorClipboardFormat::Class,
        &TFileGroupDescritorWClipboardFormat::Class, &TCustomDWORDClipboardFormat::Class,
        &TTargetCLSIDClipboardFormat::Class})
    UnregisterClipboardFormat(*format);
}

} // namespace

void DragDropFormatsStartup() {
  if (!FormatsUsers.First())
    return;
  DragDropStartup();
  RegisterFormats();
}

void DragDropFormatsShutdown() {
  if (!FormatsUsers.Last())
    return;
  UnregisterFormats();
  DragDropShutdown();
}

} // namespace dragdrop
