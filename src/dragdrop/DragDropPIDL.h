#pragma once

#include "dragdrop/DragDrop.h"

#include <cstdint>
#include <string>

// The shell's "Shell IDList Array": the item-id list of a parent folder and
// the lists of the items below it.
namespace dragdrop {

// The file-system paths of a list of item-id lists (entry 0 the parent, the
// others its items); a read-only view over a list it does not own.
class TPIDLsToFilenamesStrings : public TStrings {
public:
  explicit TPIDLsToFilenamesStrings(const TStringList& PIDLs)
      : FPIDLs(PIDLs) {}

  // One less than the entries, 0 when there is no item.
  int Count() const override;
  // The item's path, "" when it has none; raises "Filename index out of range".
  std::string Get(int Index) const override;
  void Put(int, const std::string&) override {}
  void Clear() override {}
  void Delete(int) override {}
  void Insert(int, const std::string&) override {}
  // Turning paths into item-id lists needs the shell's desktop folder, which
  // this host does not have: raises "Failed to get interface to Desktop".
  void Assign(const TStrings& Source) override;

private:
  const TStringList& FPIDLs;
};

// The bytes of the item-id list starting at Offset of a Size-byte block, its
// terminator included; empty when the list runs past the block's end.
std::string PIDLFromBlock(const uint8_t* Block, size_t Size, size_t Offset);
// The parent's items followed by the child's list.
std::string JoinPIDLs(const std::string& Parent, const std::string& Child);

class TPIDLClipboardFormat : public TCustomSimpleClipboardFormat {
public:
  static const TClipboardFormatClass Class;
  const TClipboardFormatClass& ClassType() const override { return Class; }
  CLIPFORMAT GetClipboardFormat() const override;

  TPIDLClipboardFormat();
  TStringList PIDLs;
  TPIDLsToFilenamesStrings Filenames;

  // ReadCIDA. Lists are taken in order; reading stops at the first whose
  // offset or bytes lie outside the block. True with at least one item.
  bool ReadData(const void* Block, int32_t Size) override;
  bool WriteData(void* Block, int32_t Size) override;
  int32_t GetSize() const override;
  void Clear() override { PIDLs.Clear(); }
  bool HasData() const override { return !PIDLs.Empty(); }
  bool Assign(TCustomDataFormat& Source) override;
  bool AssignTo(TCustomDataFormat& Destination) override;
};

class TPIDLDataFormat : public TCustomDataFormat {
public:
  static const TDataFormatClass Class;
  const TDataFormatClass& ClassType() const override { return Class; }

  explicit TPIDLDataFormat(TDragDropComponent* AOwner);
  TStringList PIDLs;
  TPIDLsToFilenamesStrings Filenames;

  void Clear() override { PIDLs.Clear(); }
  bool HasData() const override { return !PIDLs.Empty(); }
  bool Assign(TClipboardFormat& Source) override;
  bool AssignTo(TClipboardFormat& Destination) override;

protected:
  TPIDLDataFormat(TDragDropComponent* AOwner, const TDataFormatClass& Own);
};

// Counted start-up and shutdown of the item-id-list registrations.
void DragDropPIDLStartup();
void DragDropPIDLShutdown();

} // namespace dragdrop
