#include "platform/Decompress.h"

#include <algorithm>
#include <bzlib.h>
#include <cstring>
#include <gtest/gtest.h>
#include <lzma.h>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>
#include <zstd.h>

namespace {

using platform::TCompression;
using platform::TDecodeState;
using platform::TDecompressedStream;
using TBytes = std::vector<uint8_t>;

// Smooth 16-bit values with noise in the low bits: compresses, yet no run repeats.
TBytes Volume(size_t Count, unsigned Seed) {
  std::mt19937 random(Seed);
  TBytes bytes(Count);
  for (size_t i = 0; i < Count; i += 2) {
    const auto value = static_cast<uint16_t>(2000 + 1000 * ((i / 512) % 7) + random() % 64);
    bytes[i] = static_cast<uint8_t>(value);
    if (i + 1 < Count)
      bytes[i + 1] = static_cast<uint8_t>(value >> 8);
  }
  return bytes;
}

TBytes Gzip(const TBytes& Data) {
  z_stream stream{};
  deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  TBytes out(deflateBound(&stream, Data.size()));
  stream.next_in = const_cast<Bytef*>(Data.data());
  stream.avail_in = static_cast<uInt>(Data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

TBytes Bzip2(const TBytes& Data) {
  TBytes out(Data.size() + Data.size() / 100 + 600);
  auto length = static_cast<unsigned>(out.size());
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length,
                                     const_cast<char*>(reinterpret_cast<const char*>(Data.data())),
                                     static_cast<unsigned>(Data.size()), 1, 0, 0),
            BZ_OK);
  out.resize(length);
  return out;
}

// In blocks of 256 KiB, as xz -T writes them.
TBytes Xz(const TBytes& Data) {
  lzma_mt options{};
  options.threads = 1;
  options.block_size = 256 << 10;
  options.preset = 1;
  options.check = LZMA_CHECK_CRC64;
  lzma_stream stream = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_stream_encoder_mt(&stream, &options), LZMA_OK);
  TBytes out(lzma_stream_buffer_bound(Data.size()));
  stream.next_in = Data.data();
  stream.avail_in = Data.size();
  stream.next_out = out.data();
  stream.avail_out = out.size();
  EXPECT_EQ(lzma_code(&stream, LZMA_FINISH), LZMA_STREAM_END);
  out.resize(stream.total_out);
  lzma_end(&stream);
  return out;
}

TBytes Zstd(const TBytes& Data) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  TBytes out(ZSTD_compressBound(Data.size()));
  const size_t length = ZSTD_compress2(context, out.data(), out.size(), Data.data(), Data.size());
  EXPECT_FALSE(ZSTD_isError(length));
  out.resize(length);
  ZSTD_freeCCtx(context);
  return out;
}

TBytes Compress(TCompression Kind, const TBytes& Data) {
  switch (Kind) {
  case TCompression::Gzip:
    return Gzip(Data);
  case TCompression::Bzip2:
    return Bzip2(Data);
  case TCompression::Xz:
    return Xz(Data);
  default:
    return Zstd(Data);
  }
}

// Pieces compressed one by one and laid end to end, as BGZF, pbzip2, xz -T
// and multi-frame zstd lay them.
TBytes CompressPieces(TCompression Kind, const TBytes& Data, size_t Piece) {
  TBytes out;
  for (size_t from = 0; from < Data.size(); from += Piece) {
    const TBytes part(Data.begin() + static_cast<std::ptrdiff_t>(from),
                      Data.begin() +
                          static_cast<std::ptrdiff_t>(std::min(Data.size(), from + Piece)));
    const TBytes packed = Compress(Kind, part);
    out.insert(out.end(), packed.begin(), packed.end());
  }
  return out;
}

platform::TSourceRead Source(const TBytes& File) {
  return [&File](int64_t Offset, void* Buffer, int64_t Count) -> int64_t {
    if (Offset < 0 || Offset >= static_cast<int64_t>(File.size()))
      return 0;
    const int64_t got = std::min<int64_t>(Count, static_cast<int64_t>(File.size()) - Offset);
    std::memcpy(Buffer, File.data() + Offset, static_cast<size_t>(got));
    return got;
  };
}

// Small spacing and no share limit, so that a few MiB give many checkpoints.
platform::TIndexOptions DenseIndex() {
  platform::TIndexOptions options;
  options.Spacing = 64 << 10;
  options.MaxShare = 1.0;
  return options;
}

std::unique_ptr<TDecompressedStream>
OpenBytes(TCompression Kind, const TBytes& File,
          const platform::TIndexOptions& Options = DenseIndex(),
          const platform::TIndexProgress& Progress = {}) {
  std::unique_ptr<TDecompressedStream> stream;
  EXPECT_EQ(TDecompressedStream::Open(Kind, Source(File), static_cast<int64_t>(File.size()),
                                      Progress, Options, stream),
            TDecompressedStream::TOpen::Opened);
  return stream;
}

TBytes ReadAll(TDecompressedStream& Stream) {
  TBytes bytes(static_cast<size_t>(Stream.Size()));
  EXPECT_EQ(Stream.ReadAt(0, bytes.data(), Stream.Size()), Stream.Size());
  return bytes;
}

// Reads at random offsets, some running past the end, must give what the
// whole decompressed bytes hold there.
void ExpectRandomReadsMatch(TDecompressedStream& Stream, const TBytes& Whole) {
  std::mt19937 random(7);
  const auto size = static_cast<int64_t>(Whole.size());
  for (int i = 0; i < 60; ++i) {
    const int64_t offset = static_cast<int64_t>(random() % static_cast<uint64_t>(size + 1000));
    const int64_t count = 1 + static_cast<int64_t>(random() % 200000);
    TBytes got(static_cast<size_t>(count), 0xEE);
    const int64_t read = Stream.ReadAt(offset, got.data(), count);
    const int64_t expected = std::clamp<int64_t>(size - offset, 0, count);
    ASSERT_EQ(read, expected) << "at " << offset;
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + read, Whole.begin() + offset))
        << "at " << offset;
  }
}

// Reads across each checkpoint, from the last one back, so that every read
// starts over: one exactly at the checkpoint, one from just before it.
void ExpectBoundaryReadsMatch(TDecompressedStream& Stream, const TBytes& Whole) {
  std::vector<int64_t> points;
  for (int64_t offset = Stream.Size() - 1; offset > 0; offset -= 20000) {
    const int64_t point = Stream.CheckpointBefore(offset);
    if (point > 0 && (points.empty() || points.back() != point))
      points.push_back(point);
  }
  TBytes got(6000);
  for (const int64_t point : points)
    for (const int64_t from : {point, point - 3, point + 1}) {
      const int64_t count = std::min<int64_t>(std::ssize(got), Stream.Size() - from);
      ASSERT_EQ(Stream.ReadAt(from, got.data(), count), count) << "at " << from;
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + count, Whole.begin() + from))
          << "at " << from;
    }
}

struct TFormatCase {
  TCompression Kind;
  const char* Name;
};

class TDecompressTest : public testing::TestWithParam<TFormatCase> {};

TEST_P(TDecompressTest, WholeAndMultiMemberReadAsTheOriginal) {
  const TBytes data = Volume(3 << 20, 1);
  const TBytes files[] = {Compress(GetParam().Kind, data),
                          CompressPieces(GetParam().Kind, data, 100 << 10)};
  for (const TBytes& file : files) {
    auto stream = OpenBytes(GetParam().Kind, file);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->State().Kind, TDecodeState::Complete);
    // Deflate, bzip2 and xz blocks give checkpoints within one member or stream.
    const bool within = GetParam().Kind != TCompression::Zstd;
    EXPECT_EQ(stream->Checkpoints() > 1, &file == &files[1] || within);
    // bzip2 -1 blocks hold 100 kB each.
    if (GetParam().Kind == TCompression::Bzip2 && &file == &files[0]) {
      EXPECT_GE(stream->Checkpoints(), data.size() / 100000);
    }
    ASSERT_EQ(stream->Size(), static_cast<int64_t>(data.size()));
    ExpectRandomReadsMatch(*stream, data);
    ExpectBoundaryReadsMatch(*stream, data);
    EXPECT_EQ(ReadAll(*stream), data);
  }
}

TEST_P(TDecompressTest, TruncatedReadsWhatDecompresses) {
  const TBytes data = Volume(2 << 20, 2);
  for (const TBytes& whole :
       {Compress(GetParam().Kind, data), CompressPieces(GetParam().Kind, data, 100 << 10)}) {
    const TBytes file(whole.begin(),
                      whole.begin() + static_cast<std::ptrdiff_t>(whole.size() * 3 / 5));
    auto stream = OpenBytes(GetParam().Kind, file);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->State().Kind, TDecodeState::Truncated);
    EXPECT_GT(stream->Size(), 0);
    EXPECT_LT(stream->Size(), static_cast<int64_t>(data.size()));
    const TBytes prefix(data.begin(), data.begin() + stream->Size());
    ExpectRandomReadsMatch(*stream, prefix);
  }
}

TEST_P(TDecompressTest, DamageIsFoundAndWhatCameBeforeIsReadable) {
  const TBytes data = Volume(2 << 20, 3);
  for (const TBytes& whole :
       {Compress(GetParam().Kind, data), CompressPieces(GetParam().Kind, data, 100 << 10)}) {
    TBytes file = whole;
    const size_t hit = file.size() / 2;
    for (size_t i = hit; i < hit + 64; ++i)
      file[i] ^= 0x5A;
    auto stream = OpenBytes(GetParam().Kind, file);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->State().Kind, TDecodeState::Damaged);
    // zstd tells the start of the block it refused, up to 128 KiB before.
    EXPECT_GE(stream->State().CompressedOffset + (128 << 10), static_cast<int64_t>(hit));
    EXPECT_LE(stream->State().CompressedOffset, static_cast<int64_t>(file.size()));
    EXPECT_LT(stream->Size(), static_cast<int64_t>(data.size()));
    // The damaged piece may give wrong bytes before a check catches it; what
    // came before it may not differ.
    const int64_t sound = std::min<int64_t>(stream->Size(), static_cast<int64_t>(data.size() / 3));
    const TBytes all = ReadAll(*stream);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + sound, all.begin()));
    ExpectRandomReadsMatch(*stream, all);
  }
}

TEST_P(TDecompressTest, ReadsInFileOrderNeverStartOver) {
  const TBytes data = Volume(3 << 20, 4);
  const TBytes file = CompressPieces(GetParam().Kind, data, 200 << 10);
  auto stream = OpenBytes(GetParam().Kind, file);
  ASSERT_TRUE(stream);
  // The rows of a cross-slice: short reads far apart, going forward.
  TBytes row(512);
  for (int64_t offset = 1000; offset + 512 < stream->Size(); offset += 40000) {
    ASSERT_EQ(stream->ReadAt(offset, row.data(), 512), 512) << offset;
    ASSERT_TRUE(std::equal(row.begin(), row.end(), data.begin() + offset));
  }
  EXPECT_LE(stream->Restarts(), static_cast<int64_t>(stream->Checkpoints()));
  const int64_t before = stream->Restarts();
  for (int64_t offset = 0; offset < 100000; offset += 512)
    stream->ReadAt(offset, row.data(), 512);
  EXPECT_EQ(stream->Restarts(), before + 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, TDecompressTest,
                         testing::Values(TFormatCase{TCompression::Gzip, "gzip"},
                                         TFormatCase{TCompression::Bzip2, "bzip2"},
                                         TFormatCase{TCompression::Xz, "xz"},
                                         TFormatCase{TCompression::Zstd, "zstd"}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// How often the 48 bits Mark occur in File, at any bit offset.
size_t CountMarks(const TBytes& File, uint64_t Mark) {
  uint64_t bits = 0;
  size_t count = 0;
  for (size_t i = 0; i < File.size(); ++i) {
    bits = bits << 8 | File[i];
    for (int shift = 0; shift < 8 && i >= 6; ++shift)
      count += ((bits >> shift) & 0xFFFFFFFFFFFF) == Mark;
  }
  return count;
}

// Data of only those byte values whose symbol map, written near the start of
// each bzip2 block, spells Mark: the map of the 16 ranges used, then those of
// the first two ranges. They cycle, without runs, so that they compress well.
TBytes Spelling(uint64_t Mark, size_t Count) {
  TBytes values;
  for (int range = 0, seen = 0; range < 16; ++range) {
    if ((Mark >> (47 - range) & 1) == 0)
      continue;
    const uint64_t map = seen == 0 ? Mark >> 16 : seen == 1 ? Mark : 0x8000;
    ++seen;
    for (int value = 0; value < 16; ++value)
      if ((map >> (15 - value) & 1) != 0)
        values.push_back(static_cast<uint8_t>(16 * range + value));
  }
  TBytes bytes(Count);
  for (size_t i = 0; i < Count; ++i)
    bytes[i] = values[(i + i / 997) % values.size()];
  return bytes;
}

// A block start or stream end mark inside every block's data: only the real
// ones may give checkpoints or end a stream, read from any checkpoint.
TEST(DecompressBzip2, MarksInsideTheDataAreNoBoundaries) {
  for (const uint64_t mark : {uint64_t{0x314159265359}, uint64_t{0x177245385090}}) {
    const TBytes data = Spelling(mark, 1200000);
    for (const TBytes& file : {Bzip2(data), CompressPieces(TCompression::Bzip2, data, 300000)}) {
      const size_t blocks = data.size() / 100000;
      ASSERT_GE(CountMarks(file, mark), blocks) << std::hex << mark;
      auto stream = OpenBytes(TCompression::Bzip2, file);
      ASSERT_TRUE(stream);
      EXPECT_EQ(stream->State().Kind, TDecodeState::Complete);
      EXPECT_GE(stream->Checkpoints(), blocks);
      ASSERT_EQ(stream->Size(), std::ssize(data));
      ExpectBoundaryReadsMatch(*stream, data);
      ExpectRandomReadsMatch(*stream, data);
    }
  }
}

// One byte hit in a late block of one stream: every block before it reads,
// from its own checkpoint too, and the damage is told about where it is.
TEST(DecompressBzip2, DamageInALateBlockIsFoundWhereItIs) {
  const TBytes data = Volume(3 << 20, 11);
  TBytes file = Bzip2(data);
  const size_t hit = file.size() * 4 / 5;
  file[hit] ^= 0x10;
  auto stream = OpenBytes(TCompression::Bzip2, file);
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->State().Kind, TDecodeState::Damaged);
  EXPECT_NEAR(static_cast<double>(stream->State().CompressedOffset), static_cast<double>(hit),
              64 << 10);
  const int64_t sound = std::ssize(data) * 4 / 5 - 200000;
  EXPECT_GT(stream->Size(), sound);
  EXPECT_LT(stream->Size(), std::ssize(data));
  const TBytes all = ReadAll(*stream);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + sound, all.begin()));
  auto again = TDecompressedStream::Reopen(stream->Index(), Source(file), std::ssize(file));
  ASSERT_TRUE(again);
  ExpectBoundaryReadsMatch(*again, all);
  ExpectRandomReadsMatch(*again, all);
}

TEST(DecompressDetect, RecognisesEachMagicAndNothingElse) {
  const TBytes data = Volume(1000, 5);
  for (const TCompression kind :
       {TCompression::Gzip, TCompression::Bzip2, TCompression::Xz, TCompression::Zstd}) {
    const TBytes file = Compress(kind, data);
    EXPECT_EQ(platform::DetectCompression(file.data(), file.size()), kind)
        << platform::CompressionName(kind);
    EXPECT_EQ(platform::DetectCompression(file.data(), 2), TCompression::None);
  }
  EXPECT_EQ(platform::DetectCompression(data.data(), data.size()), TCompression::None);
  const uint8_t bz0[] = {'B', 'Z', 'h', '0'};
  EXPECT_EQ(platform::DetectCompression(bz0, sizeof bz0), TCompression::None);
}

TEST(DecompressDetect, AMagicFollowedByNoiseIsNotCompressed) {
  TBytes file = Volume(5000, 6);
  const uint8_t magic[] = {0x1F, 0x8B, 0x08, 0xFF};
  std::copy(std::begin(magic), std::end(magic), file.begin());
  std::unique_ptr<TDecompressedStream> stream;
  EXPECT_EQ(TDecompressedStream::Open(TCompression::Gzip, Source(file),
                                      static_cast<int64_t>(file.size()), {}, {}, stream),
            TDecompressedStream::TOpen::NotCompressed);
  EXPECT_FALSE(stream);
}

// A zstd frame of one raw block whose header asks for a window of 2^WindowLog bytes.
TBytes RawZstdFrame(int WindowLog, const TBytes& Payload) {
  const auto block = static_cast<uint32_t>(1 | Payload.size() << 3); // last, raw
  TBytes frame = {0x28,
                  0xB5,
                  0x2F,
                  0xFD,
                  0x00,
                  static_cast<uint8_t>((WindowLog - 10) << 3),
                  static_cast<uint8_t>(block),
                  static_cast<uint8_t>(block >> 8),
                  static_cast<uint8_t>(block >> 16)};
  frame.insert(frame.end(), Payload.begin(), Payload.end());
  return frame;
}

// A frame asking for more than the largest window is refused where it starts,
// alone (nothing decompresses, yet the file is no plain file) or after one
// that reads; at the limit it reads.
TEST(DecompressZstdWindow, AFrameOverTheLimitIsSaidWhereItStarts) {
  const TBytes data = Volume(1000, 8);
  const TBytes first = Zstd(data);
  for (const int log : {27, 28, 31}) {
    for (const bool after : {false, true}) {
      TBytes file = after ? first : TBytes{};
      const TBytes big = RawZstdFrame(log, data);
      file.insert(file.end(), big.begin(), big.end());
      auto stream = OpenBytes(TCompression::Zstd, file);
      ASSERT_TRUE(stream);
      const bool refused = int64_t{1} << log > platform::MaxWindowBytes;
      EXPECT_EQ(stream->State().Kind, refused ? TDecodeState::TooLarge : TDecodeState::Complete)
          << log;
      TBytes expected = after ? data : TBytes{};
      if (!refused)
        expected.insert(expected.end(), data.begin(), data.end());
      EXPECT_EQ(ReadAll(*stream), expected) << log;
      if (refused) {
        EXPECT_EQ(stream->State().CompressedOffset, after ? std::ssize(first) : 0) << log;
      }
    }
  }
}

TEST(DecompressBomb, IndexStaysBoundedAndBuildingCancels) {
  const TBytes zeros(size_t{96} << 20, 0);
  const TBytes file = Gzip(zeros);
  auto stream = OpenBytes(TCompression::Gzip, file, platform::TIndexOptions{});
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->Size(), static_cast<int64_t>(zeros.size()));
  EXPECT_GT(stream->Checkpoints(), 10u);
  EXPECT_LE(stream->IndexBytes(), stream->Size() / 100);

  platform::TIndexOptions tight = DenseIndex();
  tight.MaxBytes = 300 << 10;
  stream = OpenBytes(TCompression::Gzip, file, tight);
  ASSERT_TRUE(stream);
  EXPECT_LE(stream->IndexBytes(), tight.MaxBytes);
  TBytes middle(1000, 0xEE);
  EXPECT_EQ(stream->ReadAt(50 << 20, middle.data(), 1000), 1000);
  EXPECT_EQ(middle, TBytes(1000, 0));

  int calls = 0;
  std::unique_ptr<TDecompressedStream> cancelled;
  EXPECT_EQ(TDecompressedStream::Open(
                TCompression::Gzip, Source(file), static_cast<int64_t>(file.size()),
                [&calls](double Done) {
                  EXPECT_GE(Done, 0.0);
                  EXPECT_LE(Done, 1.0);
                  return ++calls < 3;
                },
                {}, cancelled),
            TDecompressedStream::TOpen::Cancelled);
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(cancelled);
}

} // namespace
