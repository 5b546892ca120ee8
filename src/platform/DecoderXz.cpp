// xz through liblzma, block by block: each block of a stream (xz -T writes
// many) starts afresh, so it gets a checkpoint, as does each stream of a
// concatenation. The stream header, block headers, index and footer are read
// here; liblzma checks each block against its check.
#include "platform/Decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <lzma.h>

namespace platform {

namespace {

constexpr uint8_t Magic[6] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
// More than any preset needs; a block asking for more is refused as damaged
// rather than allowed to take the machine's memory.
constexpr uint64_t MemoryLimit = uint64_t{1} << 30;
// A stream's own index of its blocks, read through at its end: a forged count
// of records would have liblzma allocate without bound.
constexpr uint64_t IndexMemoryLimit = uint64_t{64} << 20;

class TXzDecoder final : public TDecoder {
public:
  using TDecoder::TDecoder;
  ~TXzDecoder() override {
    FreeFilters();
    lzma_end(&FStream);
  }

  void Restart(const TCheckpoint& At) override {
    Reset();
    FreeFilters();
    In.SeekTo(At.In);
    FCheck = static_cast<lzma_check>(At.Bits);
    FPhase = At.Fresh ? TPhase::StreamHeader : TPhase::BlockStart;
    FFreshStream = At.Fresh;
  }

  size_t Decode(uint8_t* Out, size_t Count, bool ToBoundary) override {
    FAtBoundary = false;
    size_t done = 0;
    while (done < Count && FStop == TStop::Running) {
      switch (FPhase) {
      case TPhase::StreamHeader:
        StreamHeader();
        break;
      case TPhase::BlockStart:
        if (ToBoundary && !FFreshStream && In.Peek(1) && In.Next()[0] != 0) {
          FAtBoundary = true;
          return done;
        }
        FFreshStream = false;
        BlockStart();
        break;
      case TPhase::Footer:
        Footer();
        if (ToBoundary && FPhase == TPhase::StreamHeader && FStop == TStop::Running) {
          FAtBoundary = true;
          FFreshStream = true;
          return done;
        }
        break;
      default:
        done += Code(Out + done, Count - done);
        break;
      }
    }
    return done;
  }

  TCheckpoint Boundary(size_t& WindowNeeded) const override {
    TCheckpoint point = TDecoder::Boundary(WindowNeeded);
    point.Fresh = FPhase == TPhase::StreamHeader;
    point.Bits = point.Fresh ? 0 : static_cast<int>(FCheck);
    return point;
  }

private:
  enum class TPhase { StreamHeader, BlockStart, Block, Index, Footer };

  void Truncated() { FStop = TStop::Truncated; }

  void StreamHeader() {
    if (!In.Peek(LZMA_STREAM_HEADER_SIZE))
      return Truncated();
    lzma_stream_flags flags{};
    if (lzma_stream_header_decode(&flags, In.Next()) != LZMA_OK)
      return Fail();
    In.Consume(LZMA_STREAM_HEADER_SIZE);
    FCheck = flags.check;
    FPhase = TPhase::BlockStart;
  }

  void BlockStart() {
    if (!In.Peek(1))
      return Truncated();
    const uint8_t first = In.Next()[0];
    lzma_ret started = LZMA_OK;
    if (first == 0) { // the index: read through, its blocks were checked one by one
      started = lzma_index_decoder(&FStream, &FIndex, IndexMemoryLimit);
      FPhase = TPhase::Index;
    } else {
      const uint32_t size = lzma_block_header_size_decode(first);
      if (!In.Peek(size))
        return Truncated();
      FBlock = lzma_block{};
      FBlock.version = 1;
      FBlock.check = FCheck;
      FBlock.filters = FFilters;
      FBlock.header_size = size;
      if (lzma_block_header_decode(&FBlock, nullptr, In.Next()) != LZMA_OK)
        return Fail();
      FHaveFilters = true;
      if (lzma_raw_decoder_memusage(FFilters) > MemoryLimit)
        return Fail();
      In.Consume(size);
      started = lzma_block_decoder(&FStream, &FBlock);
      FPhase = TPhase::Block;
    }
    if (started != LZMA_OK)
      Fail();
  }

  // A block's data or the index, through liblzma.
  size_t Code(uint8_t* Out, size_t Count) {
    const bool more = In.Fill();
    FStream.next_in = In.Next();
    FStream.avail_in = In.Avail();
    FStream.next_out = Out;
    FStream.avail_out = Count;
    const lzma_ret result = lzma_code(&FStream, more ? LZMA_RUN : LZMA_FINISH);
    const size_t used = In.Avail() - FStream.avail_in;
    In.Consume(used);
    const size_t made = Count - FStream.avail_out;
    // What the call that failed gave is suspect (see the gzip decoder).
    if (result != LZMA_OK && result != LZMA_STREAM_END && result != LZMA_BUF_ERROR) {
      Fail();
      return 0;
    }
    if (result == LZMA_STREAM_END) {
      if (FPhase == TPhase::Index) {
        lzma_index_end(FIndex, nullptr);
        FIndex = nullptr;
      }
      FreeFilters();
      FPhase = FPhase == TPhase::Index ? TPhase::Footer : TPhase::BlockStart;
    } else if (result == LZMA_BUF_ERROR || (!more && made == 0 && used == 0)) {
      FStop = more ? TStop::Damaged : TStop::Truncated;
      FDamageAt = In.Consumed();
    }
    return made;
  }

  // The footer, stream padding, and maybe another stream.
  void Footer() {
    if (!In.Peek(LZMA_STREAM_HEADER_SIZE))
      return Truncated();
    lzma_stream_flags flags{};
    if (lzma_stream_footer_decode(&flags, In.Next()) != LZMA_OK)
      return Fail();
    In.Consume(LZMA_STREAM_HEADER_SIZE);
    while (In.Peek(1) && In.Next()[0] == 0)
      In.Consume(1);
    if (!In.Peek(sizeof Magic) || std::memcmp(In.Next(), Magic, sizeof Magic) != 0)
      FStop = TStop::End;
    else
      FPhase = TPhase::StreamHeader;
  }

  void FreeFilters() {
    if (FHaveFilters)
      for (lzma_filter& filter : FFilters) {
        if (filter.id == LZMA_VLI_UNKNOWN)
          break;
        std::free(filter.options);
        filter.options = nullptr;
      }
    FHaveFilters = false;
    if (FIndex)
      lzma_index_end(FIndex, nullptr);
    FIndex = nullptr;
  }

  lzma_stream FStream = LZMA_STREAM_INIT;
  lzma_block FBlock{};
  lzma_filter FFilters[LZMA_FILTERS_MAX + 1]{};
  bool FHaveFilters = false;
  lzma_index* FIndex = nullptr;
  lzma_check FCheck = LZMA_CHECK_NONE;
  TPhase FPhase = TPhase::StreamHeader;
  bool FFreshStream = true; // the first block of a stream: its checkpoint is the stream's
};

} // namespace

std::unique_ptr<TDecoder> MakeXzDecoder(TCompressedInput Input) {
  return std::make_unique<TXzDecoder>(std::move(Input));
}

} // namespace platform
