#pragma once

// The part of the decompressing stream each library wrapper implements.

#include "platform/Decompress.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// Where a decoder can start again: a member, stream or frame start (Fresh), or
// a block boundary inside one: for deflate with the window the next block may
// refer to, for bzip2 with the stream's block size.
struct TCheckpoint {
  int64_t In = 0;  // compressed offset of the first byte still to read
  int64_t Out = 0; // decompressed offset there
  int Bits = 0;    // deflate, bzip2: bits of the byte before In not read yet
  int Level = 0;   // bzip2: the stream's block size digit, '1' to '9'
  bool Fresh = true;
  std::vector<uint8_t> Window;
};

// What one pass over the file found, shared by every stream over the same bytes.
struct TSeekIndex {
  TCompression Kind = TCompression::None;
  std::vector<TCheckpoint> Points; // by Out, the first at the start
  TDecodeState State;
};

// The compressed bytes, read in large pieces through the source.
class TCompressedInput {
public:
  TCompressedInput(TSourceRead Read, int64_t Size);
  void SeekTo(int64_t Offset);
  // Makes bytes available unless the end has been reached.
  bool Fill();
  // Makes at least Count bytes available if the file has them.
  bool Peek(size_t Count);
  void Consume(size_t Count) {
    FNext += Count;
    FAvail -= Count;
  }
  const uint8_t* Next() const { return FNext; }
  size_t Avail() const { return FAvail; }
  int64_t Consumed() const { return FPos - static_cast<int64_t>(FAvail); }
  int64_t Size() const { return FSize; }
  // The byte at Offset, or -1.
  int ByteAt(int64_t Offset);

private:
  TSourceRead FRead;
  int64_t FSize;
  std::vector<uint8_t> FBuffer;
  const uint8_t* FNext = nullptr;
  size_t FAvail = 0;
  int64_t FPos = 0; // the file offset after the buffered bytes
};

// TooLarge: the data ahead need more memory than a decoder may take (DamageAt
// tells where they start).
enum class TStop { Running, End, Truncated, Damaged, TooLarge };

class TDecoder {
public:
  explicit TDecoder(TCompressedInput Input)
      : In(std::move(Input)) {}
  virtual ~TDecoder() = default;
  TDecoder(const TDecoder&) = delete;
  TDecoder& operator=(const TDecoder&) = delete;

  // Starts over at At (the first one is the start of the file).
  virtual void Restart(const TCheckpoint& At) = 0;
  // Decodes up to Count bytes into Out. With ToBoundary it returns early, with
  // AtBoundary() true, at the first place a checkpoint can be taken.
  virtual size_t Decode(uint8_t* Out, size_t Count, bool ToBoundary) = 0;
  // The checkpoint for the place Decode stopped at, without Out and Window;
  // WindowNeeded is how many of the bytes just decoded it must keep. A
  // stream or frame that starts afresh needs nothing but where it starts.
  virtual TCheckpoint Boundary(size_t& WindowNeeded) const {
    WindowNeeded = 0;
    TCheckpoint point;
    point.In = In.Consumed();
    return point;
  }

  bool AtBoundary() const { return FAtBoundary; }
  TStop Stop() const { return FStop; }
  int64_t DamageAt() const { return FDamageAt; }
  int64_t Consumed() const { return In.Consumed(); }

protected:
  void Fail() {
    FStop = TStop::Damaged;
    FDamageAt = In.Consumed();
  }
  void Reset() {
    FStop = TStop::Running;
    FAtBoundary = false;
    FDamageAt = -1;
  }

  TCompressedInput In;
  TStop FStop = TStop::Running;
  bool FAtBoundary = false;
  int64_t FDamageAt = -1;
};

std::unique_ptr<TDecoder> MakeGzipDecoder(TCompressedInput Input);
std::unique_ptr<TDecoder> MakeBzip2Decoder(TCompressedInput Input);
std::unique_ptr<TDecoder> MakeXzDecoder(TCompressedInput Input);
std::unique_ptr<TDecoder> MakeZstdDecoder(TCompressedInput Input);

} // namespace platform
