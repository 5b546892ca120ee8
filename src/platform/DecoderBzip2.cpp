// bzip2 through libbz2: streams one after another (as parallel compressors
// write them), with a checkpoint at each stream start.
#include "platform/Decoder.h"

#include <algorithm>
#include <bzlib.h>
#include <climits>
#include <cstring>

namespace platform {

namespace {

class TBzip2Decoder final : public TDecoder {
public:
  using TDecoder::TDecoder;
  ~TBzip2Decoder() override { End(); }

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
      FStream.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(In.Next()));
      FStream.avail_in = static_cast<unsigned>(std::min<size_t>(In.Avail(), UINT_MAX));
      FStream.next_out = reinterpret_cast<char*>(Out + done);
      FStream.avail_out = static_cast<unsigned>(std::min<size_t>(Count - done, UINT_MAX));
      const unsigned inBefore = FStream.avail_in;
      const unsigned outBefore = FStream.avail_out;
      const int result = BZ2_bzDecompress(&FStream);
      const unsigned used = inBefore - FStream.avail_in;
      In.Consume(used);
      const size_t made = outBefore - FStream.avail_out;
      // What the call that failed gave is suspect (see the gzip decoder).
      if (result != BZ_OK && result != BZ_STREAM_END) {
        Fail();
        break;
      }
      done += made;
      if (result == BZ_STREAM_END) {
        NextStream();
        if (ToBoundary && FStop == TStop::Running) {
          FAtBoundary = true;
          break;
        }
        continue;
      }
      if (made == 0 && used == 0) {
        if (!more)
          FStop = TStop::Truncated;
        else
          Fail(); // input on offer and room for output, yet nothing moves
        break;
      }
    }
    return done;
  }

private:
  void Begin() {
    End();
    FStream = bz_stream{};
    if (BZ2_bzDecompressInit(&FStream, 0, 0) != BZ_OK)
      return Fail();
    FLive = true;
  }
  void End() {
    if (FLive)
      BZ2_bzDecompressEnd(&FStream);
    FLive = false;
  }
  void NextStream() {
    if (!In.Peek(4) || std::memcmp(In.Next(), "BZh", 3) != 0) {
      FStop = TStop::End;
      return;
    }
    Begin();
  }

  bz_stream FStream{};
  bool FLive = false;
};

} // namespace

std::unique_ptr<TDecoder> MakeBzip2Decoder(TCompressedInput Input) {
  return std::make_unique<TBzip2Decoder>(std::move(Input));
}

} // namespace platform
