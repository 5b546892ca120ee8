// zstd through libzstd: frames one after another (multi-frame files and the
// seekable format, whose seek table is a skippable frame the library passes
// over), with a checkpoint at each frame start. A frame is never entered
// part-way: its blocks refer back anywhere in the window, and carry their
// entropy tables and repeat offsets over from block to block, which libzstd
// offers no call to set, so a file of one frame is read from its start.
#include "platform/Decoder.h"

#include <bit>
#include <zstd.h>
#include <zstd_errors.h>

namespace platform {

namespace {

class TZstdDecoder final : public TDecoder {
public:
  explicit TZstdDecoder(TCompressedInput Input)
      : TDecoder(std::move(Input))
      , FContext(ZSTD_createDCtx()) {
    const int windowLog = std::countr_zero(static_cast<uint64_t>(MaxWindowBytes));
    if (FContext != nullptr &&
        ZSTD_isError(ZSTD_DCtx_setParameter(FContext, ZSTD_d_windowLogMax, windowLog))) {
      ZSTD_freeDCtx(FContext);
      FContext = nullptr;
    }
  }
  ~TZstdDecoder() override { ZSTD_freeDCtx(FContext); }

  void Restart(const TCheckpoint& At) override {
    Reset();
    In.SeekTo(At.In);
    FFrameStart = At.In;
    if (FContext == nullptr || ZSTD_isError(ZSTD_DCtx_reset(FContext, ZSTD_reset_session_only)))
      Fail();
  }

  size_t Decode(uint8_t* Out, size_t Count, bool ToBoundary) override {
    FAtBoundary = false;
    size_t done = 0;
    while (done < Count && FStop == TStop::Running) {
      const bool more = In.Fill();
      ZSTD_inBuffer input{In.Next(), In.Avail(), 0};
      ZSTD_outBuffer output{Out + done, Count - done, 0};
      const size_t result = ZSTD_decompressStream(FContext, &output, &input);
      In.Consume(input.pos);
      // What the call that failed gave is suspect (see the gzip decoder).
      if (ZSTD_isError(result)) {
        Refuse(result);
        break;
      }
      done += output.pos;
      if (result == 0) { // a frame ends, flushed
        FFrameStart = In.Consumed();
        if (!In.Peek(1)) {
          FStop = TStop::End;
          break;
        }
        if (ToBoundary) {
          FAtBoundary = true;
          break;
        }
        continue;
      }
      if (!more && output.pos == 0) {
        FStop = TStop::Truncated;
        break;
      }
    }
    return done;
  }

private:
  // A frame that asks for a larger window than allowed is sound data this
  // decoder will not take on; said apart from damage, at the frame's start.
  void Refuse(size_t Error) {
    Fail();
    if (ZSTD_getErrorCode(Error) == ZSTD_error_frameParameter_windowTooLarge) {
      FStop = TStop::TooLarge;
      FDamageAt = FFrameStart;
    }
  }

  ZSTD_DCtx* FContext;
  int64_t FFrameStart = 0;
};

} // namespace

std::unique_ptr<TDecoder> MakeZstdDecoder(TCompressedInput Input) {
  return std::make_unique<TZstdDecoder>(std::move(Input));
}

} // namespace platform
