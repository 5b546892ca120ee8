#pragma once

#include "platform/FileStream.h"

#include <cstdint>
#include <span>
#include <vector>

namespace guess {

// Random access to the file being guessed, within one budget of bytes: every
// read counts against it, so that no reader, and no library behind one, reads
// more of a file than a guess may, however the file lies about itself.
class TByteSource {
public:
  static constexpr int64_t DefaultBudget = int64_t{4} << 20;

  // Over Bytes, which the caller keeps alive (tests and fuzzers).
  explicit TByteSource(std::span<const uint8_t> Bytes, int64_t Budget = DefaultBudget);
  // Over an open file of Size bytes.
  TByteSource(platform::TFileStream& Stream, int64_t Size, int64_t Budget = DefaultBudget);

  int64_t Size() const { return FSize; }
  // Up to Count bytes at Offset into Buffer: fewer at the end of the file or
  // once the budget is spent, none at a negative offset.
  int64_t ReadAt(int64_t Offset, void* Buffer, int64_t Count);
  // The same into a vector holding what arrived.
  std::vector<uint8_t> Read(int64_t Offset, int64_t Count);
  int64_t Spent() const { return FSpent; }

private:
  std::span<const uint8_t> FBytes;
  platform::TFileStream* FStream = nullptr;
  int64_t FSize = 0;
  int64_t FBudget = 0;
  int64_t FSpent = 0;
};

} // namespace guess
