#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// The compressed formats a file is recognised as, by its first bytes alone.
enum class TCompression { None, Gzip, Bzip2, Xz, Zstd };

// The largest window a decoder allocates (zstd's own default limit): a frame
// asking for more is not read, as `zstd -d` refuses it without --memory.
constexpr int64_t MaxWindowBytes = int64_t{128} << 20;

// The bytes DetectCompression needs to see to decide.
constexpr size_t CompressionMagicBytes = 6;

TCompression DetectCompression(const uint8_t* Head, size_t Count);
// "gzip", "bzip2", "xz", "zstd"; empty for None.
const char* CompressionName(TCompression Kind);

// How far the one pass over the compressed bytes got.
struct TDecodeState {
  // TooLarge: what follows needs a larger window than a decoder may allocate
  // (MaxWindowBytes), as a file written with a long-distance mode can.
  enum TKind { Complete, Truncated, Damaged, TooLarge };
  TKind Kind = Complete;
  // Damaged: about where in the compressed bytes the decoder gave up;
  // TooLarge: where the part that asks for the window starts.
  int64_t CompressedOffset = 0;
  // Every decompressed byte before this one is readable (the decompressed size).
  int64_t DecompressedOffset = 0;
};

// What stopped the pass short, for a person: "truncated", "damaged at byte N
// of the file", or where a part needing too large a window starts; empty
// when it is complete.
std::string DecodeTrouble(const TDecodeState& State);

// Reads up to Count compressed bytes at Offset; returns how many arrived.
using TSourceRead = std::function<int64_t(int64_t Offset, void* Buffer, int64_t Count)>;
// Told the share of the compressed bytes read so far (0..1); returning false cancels.
using TIndexProgress = std::function<bool(double Done)>;

struct TIndexOptions {
  int64_t Spacing = int64_t{4} << 20;   // decompressed bytes between checkpoints, at least
  int64_t MaxBytes = int64_t{64} << 20; // the index never holds more
  double MaxShare = 0.01;               // nor more than this share of what decompressed
};

struct TCheckpoint;
struct TSeekIndex;
class TDecoder;

// A compressed file read as its decompressed bytes, at any offset. Opening reads
// the whole file once and keeps a bounded seek index (gzip: deflate blocks
// with their window; bzip2 blocks; xz blocks; zstd frames); a read decompresses from
// the checkpoint before it, or goes on from where the previous read stopped
// when that is nearer, so reads in file order never go back.
class TDecompressedStream {
public:
  enum class TOpen { Opened, Cancelled, NotCompressed };

  // NotCompressed when not one byte decompresses: the magic was a coincidence.
  static TOpen Open(TCompression Kind, TSourceRead Source, int64_t CompressedSize,
                    const TIndexProgress& Progress, const TIndexOptions& Options,
                    std::unique_ptr<TDecompressedStream>& Result);
  // Another reader of the same compressed bytes, over its own Source, that
  // takes an index already built instead of reading the file through again.
  static std::unique_ptr<TDecompressedStream> Reopen(std::shared_ptr<const TSeekIndex> Index,
                                                     TSourceRead Source, int64_t CompressedSize);
  ~TDecompressedStream();
  TDecompressedStream(const TDecompressedStream&) = delete;
  TDecompressedStream& operator=(const TDecompressedStream&) = delete;

  // Up to Count decompressed bytes at Offset; nothing at or past Size().
  int64_t ReadAt(int64_t Offset, void* Buffer, int64_t Count);
  // Once open, the size only ever shrinks: when damaged data decodes less far
  // on a second pass than it did on the first (see Shorten).
  int64_t Size() const { return State().DecompressedOffset; }
  TDecodeState State() const {
    const std::lock_guard<std::mutex> hold(FLock);
    return FState;
  }
  TCompression Kind() const { return FKind; }
  // The index as built, to share with Reopen; it never changes.
  std::shared_ptr<const TSeekIndex> Index() const { return FIndex; }
  // What the seek index holds, in bytes.
  int64_t IndexBytes() const;
  size_t Checkpoints() const;
  // The decompressed offset of the checkpoint a read at Offset starts from.
  int64_t CheckpointBefore(int64_t Offset) const;
  // How many reads started over at a checkpoint rather than going on.
  int64_t Restarts() const { return FRestarts; }

private:
  TDecompressedStream(TCompression Kind, std::unique_ptr<TDecoder> Decoder);
  bool Build(const TIndexProgress& Progress, const TIndexOptions& Options, int64_t CompressedSize);
  void PositionAt(int64_t Offset);
  void Shorten(int64_t End);

  TCompression FKind;
  std::unique_ptr<TDecoder> FDecoder;
  std::shared_ptr<const TSeekIndex> FIndex;
  TDecodeState FState;
  int64_t FPosition = -1; // where the decoder stands in the decompressed bytes; -1 before any read
  int64_t FRestarts = 0;
  std::vector<uint8_t> FScratch;
  mutable std::mutex FLock;
};

} // namespace platform
