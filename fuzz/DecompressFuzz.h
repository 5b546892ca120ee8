#pragma once

// Runs one decoder over fuzz input: the index is built with checkpoints close
// together, a bomb is cancelled once it passes 64 MiB, and the stream is read
// at offsets from the front, the middle and past the end, forward and back,
// and from a checkpoint in the middle against reading on through it.

#include "platform/Decompress.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace fuzzing {

inline void FuzzDecompress(platform::TCompression Kind, const uint8_t* Data, size_t Size) {
  const auto source = [Data, Size](int64_t Offset, void* Buffer, int64_t Count) -> int64_t {
    if (Offset < 0 || static_cast<uint64_t>(Offset) >= Size)
      return 0;
    const int64_t got = std::min<int64_t>(Count, static_cast<int64_t>(Size) - Offset);
    std::memcpy(Buffer, Data + Offset, static_cast<size_t>(got));
    return got;
  };
  int reports = 0;
  const auto progress = [&reports](double) { return ++reports < 16; };
  platform::TIndexOptions options;
  options.Spacing = 4096;
  options.MaxShare = 1.0;
  options.MaxBytes = 1 << 20;
  std::unique_ptr<platform::TDecompressedStream> stream;
  if (platform::TDecompressedStream::Open(Kind, source, static_cast<int64_t>(Size), progress,
                                          options,
                                          stream) != platform::TDecompressedStream::TOpen::Opened)
    return;
  int64_t size = stream->Size();
  std::vector<uint8_t> buffer(8192);
  const int64_t first = size;
  for (const int64_t offset : {first / 2, int64_t{0}, std::max<int64_t>(first - 100, 0), first / 3,
                               first + 5, first / 2 + 9000}) {
    const int64_t got = stream->ReadAt(offset, buffer.data(), static_cast<int64_t>(buffer.size()));
    // A short read moves the end to where it stopped (damaged data), never past it.
    const int64_t now = stream->Size();
    if (now > size || got != std::clamp<int64_t>(now - offset, 0, 8192))
      __builtin_trap();
    size = now;
  }
  // Read from the checkpoint in the middle, over the same index, the bytes
  // after it are those that reading on through it from the one before gives.
  const int64_t middle = stream->CheckpointBefore(first / 2);
  auto again =
      platform::TDecompressedStream::Reopen(stream->Index(), source, static_cast<int64_t>(Size));
  if (middle > 0 && again) {
    const int64_t lead = std::min<int64_t>(middle, 512);
    std::vector<uint8_t> from(1024);
    const int64_t through = stream->ReadAt(middle - lead, buffer.data(), lead + 1024);
    const int64_t after = again->ReadAt(middle, from.data(), 1024);
    const int64_t both = std::min(through - lead, after);
    if (both > 0 && std::memcmp(buffer.data() + lead, from.data(), static_cast<size_t>(both)) != 0)
      __builtin_trap();
  }
}

} // namespace fuzzing
