// xz through liblzma: streams one after another, stream padding between
// them, with a checkpoint at each stream start.
#include "platform/Decoder.h"

#include <algorithm>
#include <cstring>
#include <lzma.h>

namespace platform {

namespace {

constexpr uint8_t Magic[6] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
// More than any preset needs; a stream asking for more is refused as damaged
// rather than allowed to take the machine's memory.
constexpr uint64_t MemoryLimit = uint64_t{1} << 30;

class TXzDecoder final : public TDecoder {
public:
  using TDecoder::TDecoder;
  ~TXzDecoder() override { lzma_end(&FStream); }

  void Restart(const TCheckpoint& At) override {
    Reset();
    In.SeekTo(At.In);
    Begin();
  }

  size_t Decode(uint8_t* Out, size_t Count, bool ToBoundary) override {
    FAtBoundary = false;
    size_t done = 0;
    while (done < Count && FStop == TStop::Running) {
      const bool more = In.Fill();
      FStream.next_in = In.Next();
      FStream.avail_in = In.Avail();
      FStream.next_out = Out + done;
      FStream.avail_out = Count - done;
      const lzma_ret result = lzma_code(&FStream, more ? LZMA_RUN : LZMA_FINISH);
      const size_t used = In.Avail() - FStream.avail_in;
      In.Consume(used);
      const size_t made = Count - done - FStream.avail_out;
      // What the call that failed gave is suspect (see the gzip decoder).
      if (result != LZMA_OK && result != LZMA_STREAM_END && result != LZMA_BUF_ERROR) {
        Fail();
        break;
      }
      done += made;
      if (result == LZMA_STREAM_END) {
        NextStream();
        if (ToBoundary && FStop == TStop::Running) {
          FAtBoundary = true;
          break;
        }
        continue;
      }
      if (result == LZMA_BUF_ERROR || (!more && made == 0 && used == 0)) {
        FStop = more ? TStop::Damaged : TStop::Truncated;
        FDamageAt = In.Consumed();
        break;
      }
    }
    return done;
  }

  TCheckpoint Boundary(size_t& WindowNeeded) const override {
    WindowNeeded = 0;
    TCheckpoint point;
    point.In = In.Consumed();
    return point;
  }

private:
  void Begin() {
    lzma_end(&FStream);
    FStream = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&FStream, MemoryLimit, 0) != LZMA_OK)
      Fail();
  }
  void NextStream() {
    while (In.Peek(1) && In.Next()[0] == 0) // stream padding
      In.Consume(1);
    if (!In.Peek(sizeof Magic) || std::memcmp(In.Next(), Magic, sizeof Magic) != 0) {
      FStop = TStop::End;
      return;
    }
    Begin();
  }

  lzma_stream FStream = LZMA_STREAM_INIT;
};

} // namespace

std::unique_ptr<TDecoder> MakeXzDecoder(TCompressedInput Input) {
  return std::make_unique<TXzDecoder>(std::move(Input));
}

} // namespace platform
