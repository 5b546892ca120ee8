#include "platform/Decompress.h"

#include "platform/Decoder.h"

#include <algorithm>
#include <cstring>

namespace platform {

TCompression DetectCompression(const uint8_t* Head, size_t Count) {
  const auto starts = [Head, Count](std::initializer_list<uint8_t> Magic) {
    return Count >= Magic.size() && std::equal(Magic.begin(), Magic.end(), Head);
  };
  if (starts({0x1F, 0x8B, 0x08}))
    return TCompression::Gzip;
  if (starts({'B', 'Z', 'h'}) && Count >= 4 && Head[3] >= '1' && Head[3] <= '9')
    return TCompression::Bzip2;
  if (starts({0xFD, '7', 'z', 'X', 'Z', 0x00}))
    return TCompression::Xz;
  if (starts({0x28, 0xB5, 0x2F, 0xFD}))
    return TCompression::Zstd;
  return TCompression::None;
}

const char* CompressionName(TCompression Kind) {
  switch (Kind) {
  case TCompression::Gzip:
    return "gzip";
  case TCompression::Bzip2:
    return "bzip2";
  case TCompression::Xz:
    return "xz";
  case TCompression::Zstd:
    return "zstd";
  case TCompression::None:
    break;
  }
  return "";
}

std::string DecodeTrouble(const TDecodeState& State) {
  switch (State.Kind) {
  case TDecodeState::Truncated:
    return "truncated";
  case TDecodeState::Damaged:
    return "damaged at byte " + std::to_string(State.CompressedOffset) + " of the file";
  case TDecodeState::TooLarge:
    return "the frame at byte " + std::to_string(State.CompressedOffset) +
           " of the file needs a window over " + std::to_string(MaxWindowBytes >> 20) + " MiB";
  case TDecodeState::Complete:
    break;
  }
  return {};
}

namespace {

constexpr size_t InputPiece = size_t{256} << 10;
constexpr size_t OutputPiece = size_t{256} << 10;
constexpr size_t History = size_t{32} << 10;        // the deflate window
constexpr int64_t ProgressEvery = int64_t{1} << 20; // of output or of input

int64_t CheckpointBytes(const TCheckpoint& Point) {
  return static_cast<int64_t>(sizeof(TCheckpoint) + Point.Window.size());
}

std::unique_ptr<TDecoder> MakeDecoder(TCompression Kind, TCompressedInput Input) {
  switch (Kind) {
  case TCompression::Gzip:
    return MakeGzipDecoder(std::move(Input));
  case TCompression::Bzip2:
    return MakeBzip2Decoder(std::move(Input));
  case TCompression::Xz:
    return MakeXzDecoder(std::move(Input));
  case TCompression::Zstd:
    return MakeZstdDecoder(std::move(Input));
  case TCompression::None:
    break;
  }
  return nullptr;
}

// Every other checkpoint goes, the first (the start) always stays.
void Thin(std::vector<TCheckpoint>& Index) {
  size_t kept = 1;
  for (size_t i = 2; i < Index.size(); i += 2)
    Index[kept++] = std::move(Index[i]);
  Index.resize(kept);
}

} // namespace

TCompressedInput::TCompressedInput(TSourceRead Read, int64_t Size)
    : FRead(std::move(Read))
    , FSize(Size)
    , FBuffer(InputPiece) {
  FNext = FBuffer.data();
}

void TCompressedInput::SeekTo(int64_t Offset) {
  FPos = std::clamp<int64_t>(Offset, 0, FSize);
  FNext = FBuffer.data();
  FAvail = 0;
}

bool TCompressedInput::Fill() {
  return FAvail > 0 || Peek(1);
}

bool TCompressedInput::Peek(size_t Count) {
  if (FAvail >= Count)
    return true;
  std::memmove(FBuffer.data(), FNext, FAvail);
  FNext = FBuffer.data();
  while (FAvail < Count && FPos < FSize) {
    const int64_t want =
        std::min<int64_t>(static_cast<int64_t>(FBuffer.size() - FAvail), FSize - FPos);
    const int64_t got = FRead(FPos, FBuffer.data() + FAvail, want);
    if (got <= 0) {
      FSize = FPos; // the file shrank or failed: its end is here
      break;
    }
    FPos += got;
    FAvail += static_cast<size_t>(got);
  }
  return FAvail >= Count;
}

int TCompressedInput::ByteAt(int64_t Offset) {
  uint8_t byte = 0;
  return Offset >= 0 && Offset < FSize && FRead(Offset, &byte, 1) == 1 ? byte : -1;
}

TDecompressedStream::TDecompressedStream(TCompression Kind, std::unique_ptr<TDecoder> Decoder)
    : FKind(Kind)
    , FDecoder(std::move(Decoder)) {}

TDecompressedStream::~TDecompressedStream() = default;

TDecompressedStream::TOpen TDecompressedStream::Open(TCompression Kind, TSourceRead Source,
                                                     int64_t CompressedSize,
                                                     const TIndexProgress& Progress,
                                                     const TIndexOptions& Options,
                                                     std::unique_ptr<TDecompressedStream>& Result) {
  Result.reset();
  auto decoder = MakeDecoder(Kind, TCompressedInput(std::move(Source), CompressedSize));
  if (!decoder)
    return TOpen::NotCompressed;
  std::unique_ptr<TDecompressedStream> stream(new TDecompressedStream(Kind, std::move(decoder)));
  if (!stream->Build(Progress, Options, CompressedSize))
    return TOpen::Cancelled;
  // A window too large is no coincidence: the frame header asked for it.
  if (stream->Size() == 0 && stream->FState.Kind != TDecodeState::Complete &&
      stream->FState.Kind != TDecodeState::TooLarge)
    return TOpen::NotCompressed;
  Result = std::move(stream);
  return TOpen::Opened;
}

std::unique_ptr<TDecompressedStream>
TDecompressedStream::Reopen(std::shared_ptr<const TSeekIndex> Index, TSourceRead Source,
                            int64_t CompressedSize) {
  auto decoder = Index
                     ? MakeDecoder(Index->Kind, TCompressedInput(std::move(Source), CompressedSize))
                     : nullptr;
  if (!decoder)
    return nullptr;
  std::unique_ptr<TDecompressedStream> stream(
      new TDecompressedStream(Index->Kind, std::move(decoder)));
  stream->FState = Index->State;
  stream->FIndex = std::move(Index);
  return stream;
}

bool TDecompressedStream::Build(const TIndexProgress& Progress, const TIndexOptions& Options,
                                int64_t CompressedSize) {
  auto built = std::make_shared<TSeekIndex>();
  built->Kind = FKind;
  std::vector<TCheckpoint>& index = built->Points;
  // The last History bytes decoded always lie just before the write position,
  // so a checkpoint can copy its window from there.
  std::vector<uint8_t> buffer(History + OutputPiece);
  size_t at = 0;
  int64_t out = 0;
  int64_t spacing = std::max<int64_t>(Options.Spacing, 1);
  int64_t next = spacing;
  int64_t indexBytes = 0;
  int64_t nextProgress = ProgressEvery;
  int64_t nextProgressIn = ProgressEvery;
  index.assign(1, TCheckpoint{});
  FDecoder->Restart(index.front());
  while (FDecoder->Stop() == TStop::Running) {
    if (at == buffer.size()) {
      std::memmove(buffer.data(), buffer.data() + at - History, History);
      at = History;
    }
    const bool toBoundary = out >= next;
    size_t room = buffer.size() - at;
    if (!toBoundary)
      room = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(room), next - out));
    const size_t got = FDecoder->Decode(buffer.data() + at, room, toBoundary);
    at += got;
    out += static_cast<int64_t>(got);
    if (toBoundary && FDecoder->AtBoundary() && FDecoder->Stop() == TStop::Running) {
      size_t need = 0;
      TCheckpoint point = FDecoder->Boundary(need);
      point.Out = out;
      point.Window.assign(buffer.begin() + static_cast<std::ptrdiff_t>(at - need),
                          buffer.begin() + static_cast<std::ptrdiff_t>(at));
      indexBytes += CheckpointBytes(point);
      index.push_back(std::move(point));
      while (index.size() > 1 &&
             (indexBytes > Options.MaxBytes ||
              static_cast<double>(indexBytes) > Options.MaxShare * static_cast<double>(out))) {
        Thin(index);
        indexBytes = 0;
        for (const TCheckpoint& kept : index)
          indexBytes += kept.Window.empty() && kept.Out == 0 ? 0 : CheckpointBytes(kept);
        spacing *= 2;
      }
      next = out + spacing;
    } else if (got == 0 && FDecoder->Stop() == TStop::Running && !FDecoder->AtBoundary()) {
      break; // no progress: treat as the end of what decodes
    }
    // Output or input: a bomb gives much output for little input, skippable
    // frames the other way round.
    if (Progress && (out >= nextProgress || FDecoder->Consumed() >= nextProgressIn)) {
      nextProgress = out + ProgressEvery;
      nextProgressIn = FDecoder->Consumed() + ProgressEvery;
      const double done = CompressedSize > 0 ? static_cast<double>(FDecoder->Consumed()) /
                                                   static_cast<double>(CompressedSize)
                                             : 1.0;
      if (!Progress(std::min(done, 1.0)))
        return false;
    }
  }
  FState.DecompressedOffset = out;
  FState.CompressedOffset = FDecoder->Consumed();
  switch (FDecoder->Stop()) {
  case TStop::Damaged:
    FState.Kind = TDecodeState::Damaged;
    FState.CompressedOffset = FDecoder->DamageAt();
    break;
  case TStop::TooLarge:
    FState.Kind = TDecodeState::TooLarge;
    FState.CompressedOffset = FDecoder->DamageAt();
    break;
  case TStop::End:
    FState.Kind = TDecodeState::Complete;
    break;
  default:
    FState.Kind = TDecodeState::Truncated;
    break;
  }
  FPosition = -1;
  built->State = FState;
  FIndex = std::move(built);
  return true;
}

int64_t TDecompressedStream::IndexBytes() const {
  int64_t total = 0;
  for (const TCheckpoint& point : FIndex->Points)
    total += CheckpointBytes(point);
  return total;
}

size_t TDecompressedStream::Checkpoints() const {
  return FIndex->Points.size();
}

namespace {

const TCheckpoint& Before(const std::vector<TCheckpoint>& Index, int64_t Offset) {
  const auto after =
      std::upper_bound(Index.begin(), Index.end(), Offset,
                       [](int64_t Value, const TCheckpoint& Point) { return Value < Point.Out; });
  return *std::prev(after);
}

} // namespace

int64_t TDecompressedStream::CheckpointBefore(int64_t Offset) const {
  const std::lock_guard<std::mutex> hold(FLock);
  return Before(FIndex->Points, std::max<int64_t>(Offset, 0)).Out;
}

void TDecompressedStream::PositionAt(int64_t Offset) {
  const TCheckpoint& before = Before(FIndex->Points, Offset);
  // Going on is cheaper unless the decoder stands past Offset or a checkpoint
  // lies between it and Offset.
  if (FPosition < 0 || FPosition > Offset || before.Out > FPosition ||
      FDecoder->Stop() != TStop::Running) {
    FDecoder->Restart(before);
    FPosition = before.Out;
    ++FRestarts;
  }
  if (FScratch.empty())
    FScratch.resize(OutputPiece);
  while (FPosition < Offset) {
    const auto want = static_cast<size_t>(
        std::min<int64_t>(Offset - FPosition, static_cast<int64_t>(FScratch.size())));
    const size_t got = FDecoder->Decode(FScratch.data(), want, false);
    if (got == 0)
      return Shorten(FPosition);
    FPosition += static_cast<int64_t>(got);
  }
}

// Damaged data can decode a little further in one pass than in another, as
// the libraries give up at a point that depends on the room they are offered.
// The first pass that stops short sets the end for good, so that every byte
// before Size() reads, always the same.
void TDecompressedStream::Shorten(int64_t End) {
  if (End >= FState.DecompressedOffset)
    return;
  FState.DecompressedOffset = End;
  if (FState.Kind == TDecodeState::Complete)
    FState.Kind = TDecodeState::Damaged;
  FState.CompressedOffset = std::min(FState.CompressedOffset, FDecoder->Consumed());
}

int64_t TDecompressedStream::ReadAt(int64_t Offset, void* Buffer, int64_t Count) {
  const std::lock_guard<std::mutex> hold(FLock);
  const int64_t size = FState.DecompressedOffset;
  if (Offset < 0 || Count <= 0 || Offset >= size)
    return 0;
  Count = std::min(Count, size - Offset);
  PositionAt(Offset);
  if (FPosition != Offset)
    return 0;
  auto* target = static_cast<uint8_t*>(Buffer);
  int64_t done = 0;
  while (done < Count) {
    const auto want = static_cast<size_t>(std::min<int64_t>(Count - done, int64_t{1} << 30));
    const size_t got = FDecoder->Decode(target + done, want, false);
    if (got == 0)
      break;
    done += static_cast<int64_t>(got);
  }
  FPosition += done;
  if (done < Count)
    Shorten(FPosition);
  return done;
}

} // namespace platform
