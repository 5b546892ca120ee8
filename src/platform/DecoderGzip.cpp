// gzip through zlib: members one after another (BGZF is such a chain), and
// checkpoints at deflate block boundaries holding the 32 KiB window.
#include "platform/Decoder.h"

#include <algorithm>
#include <climits>
#include <zlib.h>

namespace platform {

namespace {

constexpr size_t Window = size_t{32} << 10;
constexpr int GzipBits = 15 + 16; // a gzip header and trailer around the deflate data
constexpr int RawBits = -15;
constexpr size_t TrailerBytes = 8; // CRC-32 and size

class TGzipDecoder final : public TDecoder {
public:
  using TDecoder::TDecoder;
  ~TGzipDecoder() override { End(); }

  void Restart(const TCheckpoint& At) override {
    End();
    Reset();
    FStream = z_stream{};
    In.SeekTo(At.In);
    FRaw = !At.Fresh;
    if (inflateInit2(&FStream, FRaw ? RawBits : GzipBits) != Z_OK)
      return Fail();
    FLive = true;
    FMemberOut = FRaw ? Window : 0;
    if (!FRaw)
      return;
    if (At.Bits > 0) {
      const int byte = In.ByteAt(At.In - 1);
      if (byte < 0 || inflatePrime(&FStream, At.Bits, byte >> (8 - At.Bits)) != Z_OK)
        return Fail();
    }
    if (!At.Window.empty() && inflateSetDictionary(&FStream, At.Window.data(),
                                                   static_cast<uInt>(At.Window.size())) != Z_OK)
      Fail();
  }

  size_t Decode(uint8_t* Out, size_t Count, bool ToBoundary) override {
    FAtBoundary = false;
    size_t done = 0;
    while (done < Count && FStop == TStop::Running) {
      const bool more = In.Fill();
      FStream.next_in = const_cast<Bytef*>(In.Next());
      FStream.avail_in = static_cast<uInt>(std::min<size_t>(In.Avail(), UINT_MAX));
      FStream.next_out = Out + done;
      FStream.avail_out = static_cast<uInt>(std::min<size_t>(Count - done, UINT_MAX));
      const uInt inBefore = FStream.avail_in;
      const uInt outBefore = FStream.avail_out;
      const int result = inflate(&FStream, ToBoundary ? Z_BLOCK : Z_NO_FLUSH);
      In.Consume(inBefore - FStream.avail_in);
      const size_t made = outBefore - FStream.avail_out;
      // What the call that failed gave is suspect, and how much of it comes
      // depends on the room offered, so a second pass could not repeat it.
      if (result != Z_OK && result != Z_BUF_ERROR && result != Z_STREAM_END) {
        Fail();
        break;
      }
      done += made;
      FMemberOut += made;
      if (result == Z_STREAM_END) {
        NextMember();
        if (ToBoundary && FStop == TStop::Running) {
          FAtBoundary = true;
          FFreshBoundary = true;
          break;
        }
        continue;
      }
      if (!more && made == 0) {
        FStop = TStop::Truncated;
        break;
      }
      if (ToBoundary && (FStream.data_type & 128) != 0 && (FStream.data_type & 64) == 0) {
        FAtBoundary = true;
        FFreshBoundary = false;
        break;
      }
    }
    return done;
  }

  TCheckpoint Boundary(size_t& WindowNeeded) const override {
    TCheckpoint point;
    point.In = In.Consumed();
    point.Fresh = FFreshBoundary;
    point.Bits = FFreshBoundary ? 0 : FStream.data_type & 7;
    WindowNeeded = FFreshBoundary ? 0 : static_cast<size_t>(std::min<int64_t>(FMemberOut, Window));
    return point;
  }

private:
  void End() {
    if (FLive)
      inflateEnd(&FStream);
    FLive = false;
  }

  // After a member: another follows only when its magic does; anything else
  // is trailing padding, ignored as gzip itself ignores it.
  void NextMember() {
    if (FRaw) {
      // Started inside the member: its trailer was checked when the index was built.
      if (!In.Peek(TrailerBytes)) {
        FStop = TStop::Truncated;
        return;
      }
      In.Consume(TrailerBytes);
    }
    if (!In.Peek(2) || In.Next()[0] != 0x1F || In.Next()[1] != 0x8B) {
      FStop = TStop::End;
      return;
    }
    FRaw = false;
    FMemberOut = 0;
    if (inflateReset2(&FStream, GzipBits) != Z_OK)
      Fail();
  }

  z_stream FStream{};
  bool FLive = false;
  bool FRaw = false;
  bool FFreshBoundary = false;
  int64_t FMemberOut = 0;
};

} // namespace

std::unique_ptr<TDecoder> MakeGzipDecoder(TCompressedInput Input) {
  return std::make_unique<TGzipDecoder>(std::move(Input));
}

} // namespace platform
