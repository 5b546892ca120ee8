#pragma once

#include "dragdrop/DragDrop.h"

#include <cstdint>
#include <string>

// The generic clipboard-format families (8-bit string and text, UTF-16 text,
// 32-bit value), the feedback formats a drop target writes back to the source,
// and the registrations of this module.
namespace dragdrop {

// The bytes of the block as an 8-bit string.
class TCustomStringClipboardFormat : public TCustomSimpleClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }

  std::string Data;
  // Cut what is read at the first zero byte.
  bool TrimZeroes = false;

  bool ReadData(const void* Block, int32_t Size) override;
  bool WriteData(void* Block, int32_t Size) override;
  int32_t GetSize() const override;
  void Clear() override { Data.clear(); }
  bool HasData() const override { return !Data.empty(); }
};

// A zero-terminated 8-bit text.
class TCustomTextClipboardFormat : public TCustomStringClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }

  TCustomTextClipboardFormat() { TrimZeroes = true; }
  // The terminating zero is counted unless the text already ends with one; an
  // empty text has nothing to write.
  int32_t GetSize() const override;
};

class TTextClipboardFormat : public TCustomTextClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }
  CLIPFORMAT GetClipboardFormat() const override;
};

// The block as UTF-16 text of Size / 2 characters; zeros are kept.
class TCustomWideTextClipboardFormat : public TCustomSimpleClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }

  std::u16string WideData;

  bool ReadData(const void* Block, int32_t Size) override;
  bool WriteData(void* Block, int32_t Size) override;
  // Counts a terminating zero unless the text ends with one; an empty text has
  // nothing to write.
  int32_t GetSize() const override;
  void Clear() override { WideData.clear(); }
  bool HasData() const override { return !WideData.empty(); }
};

// A 32-bit value in the first four bytes.
class TCustomDWORDClipboardFormat : public TCustomSimpleClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }

  DWORD Value = 0;
  bool ValueAsBoolean() const { return Value != 0; }
  void SetValueAsBoolean(bool AValue) { Value = AValue ? 1 : 0; }

  // A block shorter than four bytes is not a value: false, Value stays 0.
  bool ReadData(const void* Block, int32_t Size) override;
  bool WriteData(void* Block, int32_t Size) override;
  int32_t GetSize() const override { return 4; }
  void Clear() override { Value = 0; }
  bool HasData() const override { return true; }
};

#define ZANDREL_DWORD_FORMAT(Name)                                                                 \
  class Name : public TCustomDWORDClipboardFormat {                                                \
  public:                                                                                          \
    static const TClipboardFormatClass Class;                                                      \
    const TClipboardFormatClass& ClassType() const override { return Class; }                      \
    CLIPFORMAT GetClipboardFormat() const override;                                                \
  };
ZANDREL_DWORD_FORMAT(TPreferredDropEffectClipboardFormat)
ZANDREL_DWORD_FORMAT(TPerformedDropEffectClipboardFormat)
ZANDREL_DWORD_FORMAT(TLogicalPerformedDropEffectClipboardFormat)
ZANDREL_DWORD_FORMAT(TPasteSuccededClipboardFormat)
ZANDREL_DWORD_FORMAT(TInShellDragLoopClipboardFormat)
#undef ZANDREL_DWORD_FORMAT

// The class id of the drop target, 16 bytes.
class TTargetCLSIDClipboardFormat : public TCustomSimpleClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }
  CLIPFORMAT GetClipboardFormat() const override;

  platform::CLSID CLSID{};

  bool ReadData(const void* Block, int32_t Size) override;
  bool WriteData(void* Block, int32_t Size) override;
  int32_t GetSize() const override { return 16; }
  void Clear() override { CLSID = platform::GUID_NULL; }
  bool HasData() const override { return !(CLSID == platform::GUID_NULL); }
};

// Formats that only drag sources and virtual-file targets use. This program
// reads none of them; they exist under their registered names so that the
// conversion map is complete.
#define ZANDREL_NAMED_FORMAT(Name)                                                                 \
  class Name : public TClipboardFormat {                                                           \
  public:                                                                                          \
    static const TClipboardFormatClass Class;                                                      \
    const TClipboardFormatClass& ClassType() const override { return Class; }                      \
    Name()                                                                                         \
        : TClipboardFormat(platform::TYMED_HGLOBAL | platform::TYMED_ISTREAM) {}                   \
    CLIPFORMAT GetClipboardFormat() const override;                                                \
    void Clear() override {}                                                                       \
    bool HasData() const override { return false; }                                                \
  };
ZANDREL_NAMED_FORMAT(TFileContentsClipboardFormat)
ZANDREL_NAMED_FORMAT(TFileContentsStreamClipboardFormat)
ZANDREL_NAMED_FORMAT(TFileGroupDescritorClipboardFormat)
ZANDREL_NAMED_FORMAT(TFileGroupDescritorWClipboardFormat)
#undef ZANDREL_NAMED_FORMAT

// Data formats of this module; the program creates none of them, so only
// their class references exist, for the map and the list of data formats.
extern const TDataFormatClass TTextDataFormatClass;
extern const TDataFormatClass TFeedbackDataFormatClass;
extern const TDataFormatClass TDataStreamDataFormatClass;
extern const TDataFormatClass TVirtualFileStreamDataFormatClass;

// Counted; the first call starts DragDrop and registers this module's data
// formats and conversions, the last call removes them and shuts DragDrop down.
void DragDropFormatsStartup();
void DragDropFormatsShutdown();

// The registered id of Name; 0 when it cannot be registered.
CLIPFORMAT RegisteredFormat(const char* Name);

} // namespace dragdrop
