// bzip2 through libbz2: streams one after another (as parallel compressors
// write them), with a checkpoint at each stream start and at each block.
//
// A block starts with a 48-bit mark at any bit offset, and libbz2 cannot start
// there, so a block is decoded as the first of a stream made up on the fly:
// "BZh" and the level, then the compressed bits from the mark on, shifted to
// byte alignment. The combined CRC at the end of such a stream cannot match,
// as it covers the blocks before the checkpoint too: that stream is ended at
// its end mark instead (the pass from the stream's start checked the CRC),
// while libbz2 still checks each block against its own CRC.
//
// The marks are found by scanning the bits, and libbz2 gets the input only up
// to each one. A whole block decodes before any of it comes out, so when
// libbz2 stalls at a mark having put out more than at the stall before, a
// block ended just before that mark: the mark is real, and the output so far
// is where the next block starts. A mark that merely occurs inside the data
// stalls with nothing more put out and is passed over. No mark overlaps another
// within 8 bits, so two marks never share the byte that decides.
#include "platform/Decoder.h"

#include <algorithm>
#include <array>
#include <bzlib.h>
#include <climits>
#include <cstring>
#include <deque>

namespace platform {

namespace {

constexpr uint64_t BlockMark = 0x314159265359;
constexpr uint64_t EndMark = 0x177245385090;
constexpr uint64_t Mask48 = (uint64_t{1} << 48) - 1;
constexpr int64_t MarkBits = 48;
constexpr int64_t EndBits = 48 + 32; // the end mark and the combined CRC
constexpr int64_t HeaderBits = 32;   // "BZh" and the level
constexpr size_t StageBytes = size_t{64} << 10;

// The byte two before the newest one scanned lies wholly inside a mark at any
// of its 8 alignments; only where it has one of these values can a mark end.
constexpr std::array<bool, 256> MarkFilter = [] {
  std::array<bool, 256> filter{};
  for (const uint64_t mark : {BlockMark, EndMark})
    for (int k = 0; k < 8; ++k)
      filter[(mark >> (16 - k)) & 0xFF] = true;
  return filter;
}();

struct TMark {
  int64_t Bit; // of its first bit in the compressed bytes
  bool End;
};

class TBzip2Decoder final : public TDecoder {
public:
  using TDecoder::TDecoder;
  ~TBzip2Decoder() override { End(); }

  void Restart(const TCheckpoint& At) override {
    Reset();
    FOut = 0;
    const int64_t bit = 8 * At.In - (At.Fresh ? 0 : At.Bits);
    Reposition(bit / 8);
    FShift = static_cast<int>(bit % 8);
    if (At.Fresh)
      return Begin(bit, false);
    if (At.Level < '1' || At.Level > '9')
      return Fail();
    FLevel = At.Level;
    const uint8_t header[] = {'B', 'Z', 'h', static_cast<uint8_t>(At.Level)};
    std::memcpy(FStage.data(), header, sizeof header);
    FEnd = sizeof header;
    Begin(bit, true);
  }

  size_t Decode(uint8_t* Out, size_t Count, bool ToBoundary) override {
    FAtBoundary = false;
    size_t done = 0;
    while (done < Count && FStop == TStop::Running) {
      bool atMark = false;
      const size_t room = Room(atMark);
      if (room == 0 && !atMark && !FEof) {
        Refill();
        continue;
      }
      size_t used = 0;
      size_t made = 0;
      const int result = Call(Out + done, Count - done, room, used, made);
      // What the call that failed gave is suspect (see the gzip decoder). A
      // made-up stream never reaches its end: its end mark stops it first.
      if ((result != BZ_OK && result != BZ_STREAM_END) ||
          (result == BZ_STREAM_END && FHeader != 0)) {
        FailHere();
        break;
      }
      done += made;
      FOut += static_cast<int64_t>(made);
      if (result == BZ_STREAM_END) {
        NextStream();
        if (ToBoundary && FStop == TStop::Running) {
          FAtBoundary = true;
          break;
        }
        continue;
      }
      if (made == 0 && used == 0) {
        if (atMark) {
          if (PassMark(ToBoundary))
            break;
          continue;
        }
        if (FEof)
          FStop = TStop::Truncated;
        else
          FailHere(); // input on offer and room for output, yet nothing moves
        break;
      }
    }
    return done;
  }

  TCheckpoint Boundary(size_t& WindowNeeded) const override {
    WindowNeeded = 0;
    return FBoundary;
  }

private:
  // libbz2 on Room staged bytes, into Out.
  int Call(uint8_t* Out, size_t Count, size_t Room, size_t& Used, size_t& Made) {
    FStream.next_in = reinterpret_cast<char*>(FStage.data() + FAt);
    FStream.avail_in = static_cast<unsigned>(Room);
    FStream.next_out = reinterpret_cast<char*>(Out);
    FStream.avail_out = static_cast<unsigned>(std::min<size_t>(Count, UINT_MAX));
    const unsigned outBefore = FStream.avail_out;
    const int result = BZ2_bzDecompress(&FStream);
    Used = Room - FStream.avail_in;
    Made = outBefore - FStream.avail_out;
    FAt += Used;
    FFed += static_cast<int64_t>(Used);
    return result;
  }

  // Starts a stream at Bit: the file's own (Mid false) or one made up for a
  // block, whose header is staged already.
  void Begin(int64_t Bit, bool Mid) {
    End();
    FStream = bz_stream{};
    if (BZ2_bzDecompressInit(&FStream, 0, 0) != BZ_OK)
      return Fail();
    FLive = true;
    FBase = Bit;
    FHeader = Mid ? HeaderBits : 0;
    FFed = 0;
    FStall = FOut;
    while (!FMarks.empty() && FMarks.front().Bit < FBase)
      FMarks.pop_front();
    if (Mid)
      return;
    while (FEnd - FAt < 4 && !FEof)
      Refill();
    FLevel = FEnd - FAt >= 4 ? FStage[FAt + 3] : 0;
  }

  void End() {
    if (FLive)
      BZ2_bzDecompressEnd(&FStream);
    FLive = false;
  }

  // After a stream, staged from its end on: another follows only when its
  // magic does; anything else is trailing garbage, ignored as bzip2 ignores it.
  void NextStream() {
    while (FEnd - FAt < 3 && !FEof)
      Refill();
    if (FEnd - FAt < 3 || std::memcmp(FStage.data() + FAt, "BZh", 3) != 0) {
      FStop = TStop::End;
      return;
    }
    FBoundary = TCheckpoint{};
    FBoundary.In = FBase / 8 + FFed;
    Begin(8 * FBoundary.In, false);
  }

  // libbz2 stalls at the next mark, having put out all it could; true when
  // that gives the boundary asked for.
  bool PassMark(bool ToBoundary) {
    const TMark mark = FMarks.front();
    FMarks.pop_front();
    const bool blockEnded = FOut > FStall;
    FStall = FOut;
    if (!blockEnded)
      return false;
    if (mark.End) {
      // A stream of the file's own is read to its end by libbz2, CRC and all.
      if (FHeader == 0)
        return false;
      End();
      const int64_t after = (mark.Bit + EndBits + 7) / 8;
      Reposition(after);
      FBase = 8 * after;
      FFed = 0;
      NextStream();
      FAtBoundary = ToBoundary && FStop == TStop::Running;
      return FAtBoundary;
    }
    if (!ToBoundary)
      return false;
    FBoundary = TCheckpoint{};
    FBoundary.In = (mark.Bit + 7) / 8;
    FBoundary.Bits = static_cast<int>(8 * FBoundary.In - mark.Bit);
    FBoundary.Level = FLevel;
    FBoundary.Fresh = false;
    FAtBoundary = true;
    return true;
  }

  // Reads on from compressed byte At, with nothing staged or scanned yet.
  void Reposition(int64_t At) {
    In.SeekTo(At);
    FAt = FEnd = 0;
    FShift = 0;
    FCarrying = false;
    FEof = false;
    FScanned = At;
    FRegister = 0;
    FMarks.clear();
  }

  // Stages more compressed bytes, shifted, and scans them for marks.
  void Refill() {
    std::memmove(FStage.data(), FStage.data() + FAt, FEnd - FAt);
    FEnd -= FAt;
    FAt = 0;
    if (!In.Fill()) {
      // The bits past the end read as zeros: the last block still gets the
      // few bits of it that share a byte with what was cut off.
      if (FCarrying && FEnd < FStage.size())
        FStage[FEnd++] = static_cast<uint8_t>(FCarry << FShift);
      FCarrying = false;
      FEof = true;
      return;
    }
    const size_t take = std::min(In.Avail(), FStage.size() - FEnd);
    const uint8_t* from = In.Next();
    for (size_t i = 0; i < take; ++i) {
      const uint8_t byte = from[i];
      Scan(byte);
      if (FShift == 0) {
        FStage[FEnd++] = byte;
        continue;
      }
      if (FCarrying)
        FStage[FEnd++] = static_cast<uint8_t>(FCarry << FShift | byte >> (8 - FShift));
      FCarry = byte;
      FCarrying = true;
    }
    In.Consume(take);
  }

  void Scan(uint8_t Byte) {
    FRegister = FRegister << 8 | Byte;
    const int64_t at = FScanned++;
    if (!MarkFilter[(FRegister >> 16) & 0xFF])
      return;
    for (int k = 7; k >= 0; --k) {
      const uint64_t bits = (FRegister >> k) & Mask48;
      const int64_t start = 8 * at - 40 - k;
      if ((bits == BlockMark || bits == EndMark) && start >= FBase)
        FMarks.push_back({start, bits == EndMark});
    }
  }

  // The made-up stream's bytes that hold every bit before compressed bit Bit
  // (RoundUp) or only bits before it.
  int64_t StreamBytes(int64_t Bit, bool RoundUp) const {
    const int64_t bits = Bit - FBase + FHeader;
    return bits <= 0 ? 0 : (bits + (RoundUp ? 7 : 0)) / 8;
  }

  // How many staged bytes libbz2 may take now: none past a mark not yet seen
  // whole, nor past the next mark seen (AtMark when that is what stops it).
  size_t Room(bool& AtMark) const {
    auto room = static_cast<int64_t>(FEnd - FAt);
    if (!FEof)
      room = std::min(room, StreamBytes(8 * FScanned - MarkBits + 1, false) - FFed);
    AtMark = false;
    if (!FMarks.empty()) {
      const int64_t toMark = StreamBytes(FMarks.front().Bit, true) - FFed;
      if (toMark <= room) {
        room = toMark;
        AtMark = true;
      }
    }
    return static_cast<size_t>(std::max<int64_t>(room, 0));
  }

  void FailHere() {
    FStop = TStop::Damaged;
    FDamageAt = std::max(FBase, FBase - FHeader + 8 * FFed) / 8;
  }

  bz_stream FStream{};
  bool FLive = false;
  int64_t FBase = 0;   // the compressed bit the stream given to libbz2 takes its bits from
  int64_t FHeader = 0; // bits of made-up header before them
  int64_t FFed = 0;    // bytes of that stream libbz2 took
  int FLevel = 0;
  int64_t FOut = 0;   // decompressed since the restart
  int64_t FStall = 0; // FOut at the last stall at a mark, or where the stream began
  std::deque<TMark> FMarks;
  TCheckpoint FBoundary;
  // The compressed bytes, shifted by FShift bits, between being read and being
  // given to libbz2: FStage[FAt, FEnd).
  std::vector<uint8_t> FStage = std::vector<uint8_t>(StageBytes);
  size_t FAt = 0;
  size_t FEnd = 0;
  int FShift = 0;
  uint8_t FCarry = 0; // the byte whose low bits start the next shifted one
  bool FCarrying = false;
  bool FEof = false;
  uint64_t FRegister = 0; // the last bits scanned, the newest lowest
  int64_t FScanned = 0;   // compressed bytes scanned
};

} // namespace

std::unique_ptr<TDecoder> MakeBzip2Decoder(TCompressedInput Input) {
  return std::make_unique<TBzip2Decoder>(std::move(Input));
}

} // namespace platform
