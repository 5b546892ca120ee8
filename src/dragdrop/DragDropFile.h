#pragma once

#include "dragdrop/DragDrop.h"
#include "dragdrop/DragDropFormats.h"

#include <cstdint>
#include <string>

// Dragged data as a list of file names: the CF_HDROP list, the "Shell IDList
// Array", single names and the shell's mapped names.
namespace dragdrop {

// Appends the zero-terminated names of a Size-byte block (UTF-16 when Wide) to
// List, up to an empty name or the block's end; a last name that the block
// ends before its terminator is dropped. True when a name was added.
bool ReadZeroList(const void* Block, size_t Size, bool Wide, TStrings& List);

class TFileDataFormat : public TCustomDataFormat {
public:
  static const TDataFormatClass Class;
  const TDataFormatClass& ClassType() const override { return Class; }

  explicit TFileDataFormat(TDragDropComponent* AOwner);
  TStringList Files;

  void Clear() override { Files.Clear(); }
  bool HasData() const override { return !Files.Empty(); }
  bool Assign(TClipboardFormat& Source) override;
  bool AssignTo(TClipboardFormat& Destination) override;

protected:
  TFileDataFormat(TDragDropComponent* AOwner, const TDataFormatClass& Own);
};

class TFileMapDataFormat : public TCustomDataFormat {
public:
  static const TDataFormatClass Class;
  const TDataFormatClass& ClassType() const override { return Class; }

  explicit TFileMapDataFormat(TDragDropComponent* AOwner);
  TStringList FileMaps;

  void Clear() override { FileMaps.Clear(); }
  bool HasData() const override { return !FileMaps.Empty(); }
  bool Assign(TClipboardFormat& Source) override;
  bool AssignTo(TClipboardFormat& Destination) override;

protected:
  TFileMapDataFormat(TDragDropComponent* AOwner, const TDataFormatClass& Own);
};

// CF_HDROP: a DROPFILES header and its list of names.
class TFileClipboardFormat : public TCustomSimpleClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }
  CLIPFORMAT GetClipboardFormat() const override;

  TStringList Files;

  // A block of 20 bytes or less, or whose list starts beyond its end, gives false.
  bool ReadData(const void* Block, int32_t Size) override;
  bool WriteData(void* Block, int32_t Size) override;
  int32_t GetSize() const override;
  void Clear() override { Files.Clear(); }
  bool HasData() const override { return !Files.Empty(); }
  bool Assign(TCustomDataFormat& Source) override;
  bool AssignTo(TCustomDataFormat& Destination) override;
};

class TFilenameClipboardFormat : public TCustomTextClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }
  CLIPFORMAT GetClipboardFormat() const override;
  bool Assign(TCustomDataFormat& Source) override;
  bool AssignTo(TCustomDataFormat& Destination) override;
};

class TFilenameWClipboardFormat : public TCustomWideTextClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }
  CLIPFORMAT GetClipboardFormat() const override;
  bool Assign(TCustomDataFormat& Source) override;
  bool AssignTo(TCustomDataFormat& Destination) override;
};

// The names of "FileNameMap" (8-bit) and "FileNameMapW" (UTF-16).
class TCustomFilenameMapClipboardFormat : public TCustomSimpleClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }

  TStringList FileMaps;

  bool ReadData(const void* Block, int32_t Size) override;
  bool WriteData(void* Block, int32_t Size) override;
  int32_t GetSize() const override;
  void Clear() override { FileMaps.Clear(); }
  bool HasData() const override { return !FileMaps.Empty(); }
  bool Assign(TCustomDataFormat& Source) override;
  bool AssignTo(TCustomDataFormat& Destination) override;

protected:
  explicit TCustomFilenameMapClipboardFormat(bool Wide)
      : FWide(Wide) {}

private:
  std::string Encoded() const;
  bool FWide;
};

class TFilenameMapClipboardFormat : public TCustomFilenameMapClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }
  CLIPFORMAT GetClipboardFormat() const override;
  TFilenameMapClipboardFormat()
      : TCustomFilenameMapClipboardFormat(false) {}
};

class TFilenameMapWClipboardFormat : public TCustomFilenameMapClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }
  CLIPFORMAT GetClipboardFormat() const override;
  TFilenameMapWClipboardFormat()
      : TCustomFilenameMapClipboardFormat(true) {}
};

// Counted start-up and shutdown of the file-list registrations (and of the
// item-id-list module they build on).
void DragDropFileStartup();
void DragDropFileShutdown();

} // namespace dragdrop
