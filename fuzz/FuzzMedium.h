#pragma once

// Feeds fuzz input to a clipboard format the way a data object would: the first
// byte picks global memory or a stream and, for a stream, how it misbehaves
// (a declared size off from the bytes it holds, small reads, a failing read);
// the rest is the block.

#include "dragdrop/DragDrop.h"
#include "dragdrop/TestStream.h"
#include "platform/Ole.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace fuzzing {

using namespace platform;

// Builds the medium that Data describes; GetDataFromMedium releases it.
inline STGMEDIUM FuzzMedium(const uint8_t* Data, size_t Size) {
  STGMEDIUM medium{};
  if (Size == 0)
    return medium;
  const uint8_t mode = Data[0];
  ++Data;
  --Size;
  if ((mode & 1) == 0) {
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = GlobalAlloc(GHND, Size);
    if (Size > 0) {
      std::memcpy(GlobalLock(medium.hGlobal), Data, Size);
      GlobalUnlock(medium.hGlobal);
    }
    return medium;
  }
  // Declared size: exact, shorter or longer (by up to 63 bytes), or absurd.
  const int delta = (mode >> 1) & 0x3F;
  uint64_t declared = Size;
  switch (mode >> 7) {
  case 0:
    declared = Size + static_cast<uint64_t>(delta);
    break;
  default:
    declared = Size > static_cast<size_t>(delta) ? Size - static_cast<size_t>(delta) : 0;
    break;
  }
  if (delta == 0x3F)
    declared = 0xFFFFFFFFull;
  const ULONG chunk = (mode & 0x40) ? 3 : 0xFFFFFFFF;
  const bool fail = delta == 0x3E;
  medium.tymed = TYMED_ISTREAM;
  auto* stream =
      new testing_dd::TTestStream(std::string(reinterpret_cast<const char*>(Data), Size), declared);
  stream->Chunk = chunk;
  stream->FailReadsFrom = fail ? 1 : SIZE_MAX; // the first read succeeds
  medium.pstm = stream;
  return medium;
}

// Reads the input through Format and checks that its medium was released.
inline bool FuzzRead(dragdrop::TClipboardFormat& Format, const uint8_t* Data, size_t Size) {
  STGMEDIUM medium = FuzzMedium(Data, Size);
  HGLOBAL memory = medium.tymed == TYMED_HGLOBAL ? medium.hGlobal : nullptr;
  bool result = Format.GetDataFromMedium(nullptr, medium);
  if (medium.tymed != TYMED_NULL || (memory && GlobalSize(memory) != 0))
    __builtin_trap();
  return result;
}

} // namespace fuzzing
