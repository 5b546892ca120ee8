// Reading compressed volumes: the seek index's one pass against a plain
// decompression of the same bytes (the library alone, and the format's own
// command-line tool), and a slice from the middle against decompressing from
// the checkpoint before it. The ratios follow the table.
//
//   decompress_bench [--benchmark_filter=...]   ZANDREL_BENCH_MIB sets the size (default 256)
#include "platform/Decompress.h"

#include <benchmark/benchmark.h>
#include <bzlib.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <lzma.h>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>
#include <zstd.h>

namespace {

using platform::TCompression;
using TBytes = std::vector<uint8_t>;

constexpr int64_t SliceSide = 2048;
constexpr int64_t SliceBytes = SliceSide * SliceSide * 2; // int16

const TCompression Kinds[] = {TCompression::Gzip, TCompression::Bzip2, TCompression::Xz,
                              TCompression::Zstd};

// int16 slices of smooth anatomy-like values with a few bits of noise, as a
// scanner writes them: they compress about 2:1 to 3:1.
TBytes Volume() {
  const char* mib = std::getenv("ZANDREL_BENCH_MIB");
  const int64_t bytes = (mib ? std::atoll(mib) : 256) << 20;
  TBytes data(static_cast<size_t>(bytes / SliceBytes * SliceBytes));
  std::mt19937 random(5);
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    const int64_t voxel = static_cast<int64_t>(i / 2);
    const int64_t x = voxel % SliceSide, y = voxel / SliceSide % SliceSide;
    const auto value = static_cast<uint16_t>(800 + (x * x + y * y) / 4096 % 1200 + random() % 32);
    data[i] = static_cast<uint8_t>(value);
    data[i + 1] = static_cast<uint8_t>(value >> 8);
  }
  return data;
}

TBytes Compress(TCompression Kind, const TBytes& Data) {
  TBytes out;
  switch (Kind) {
  case TCompression::Gzip: {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    out.resize(deflateBound(&z, Data.size()));
    z.next_in = const_cast<Bytef*>(Data.data());
    z.avail_in = static_cast<uInt>(Data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    break;
  }
  case TCompression::Bzip2: {
    out.resize(Data.size() + Data.size() / 100 + 600);
    auto length = static_cast<unsigned>(out.size());
    BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length,
                             const_cast<char*>(reinterpret_cast<const char*>(Data.data())),
                             static_cast<unsigned>(Data.size()), 9, 0, 0);
    out.resize(length);
    break;
  }
  case TCompression::Xz: { // in the blocks of three dictionaries that xz -T0 writes
    lzma_mt options{};
    options.threads = 1;
    options.preset = 3;
    options.check = LZMA_CHECK_CRC64;
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_stream_encoder_mt(&stream, &options) != LZMA_OK)
      throw std::runtime_error("the xz encoder cannot start");
    out.resize(lzma_stream_buffer_bound(Data.size()));
    stream.next_in = Data.data();
    stream.avail_in = Data.size();
    stream.next_out = out.data();
    stream.avail_out = out.size();
    const lzma_ret finished = lzma_code(&stream, LZMA_FINISH);
    if (finished != LZMA_STREAM_END)
      throw std::runtime_error("the xz encoder failed");
    out.resize(stream.total_out);
    lzma_end(&stream);
    break;
  }
  default:
    out.resize(ZSTD_compressBound(Data.size()));
    out.resize(ZSTD_compress(out.data(), out.size(), Data.data(), Data.size(), 3));
    break;
  }
  return out;
}

struct TSample {
  TBytes File;
  std::string Path; // a copy on disk for the command-line tool
};

const TBytes& Data() {
  static const TBytes data = Volume();
  return data;
}

const TSample& Sample(TCompression Kind) {
  static std::map<TCompression, TSample> samples;
  auto found = samples.find(Kind);
  if (found == samples.end()) {
    TSample sample{Compress(Kind, Data()), {}};
    sample.Path =
        "/tmp/zandrel-bench-" + std::to_string(::getpid()) + "." + platform::CompressionName(Kind);
    std::ofstream(sample.Path, std::ios::binary)
        .write(reinterpret_cast<const char*>(sample.File.data()),
               static_cast<std::streamsize>(sample.File.size()));
    found = samples.emplace(Kind, std::move(sample)).first;
  }
  return found->second;
}

platform::TSourceRead Source(const TBytes& File) {
  return [&File](int64_t Offset, void* Buffer, int64_t Count) -> int64_t {
    const int64_t got = std::clamp<int64_t>(static_cast<int64_t>(File.size()) - Offset, 0, Count);
    std::memcpy(Buffer, File.data() + Offset, static_cast<size_t>(got));
    return got;
  };
}

std::unique_ptr<platform::TDecompressedStream> Open(const TBytes& File, TCompression Kind) {
  std::unique_ptr<platform::TDecompressedStream> stream;
  platform::TDecompressedStream::Open(Kind, Source(File), static_cast<int64_t>(File.size()), {}, {},
                                      stream);
  return stream;
}

void IndexBuild(benchmark::State& State, TCompression Kind) {
  const TSample& sample = Sample(Kind);
  int64_t size = 0;
  for (auto _ : State) {
    const auto stream = Open(sample.File, Kind);
    size = stream->Size();
    State.counters["index_KiB"] = static_cast<double>(stream->IndexBytes()) / 1024.0;
  }
  if (size != static_cast<int64_t>(Data().size()))
    State.SkipWithError("the index does not cover the data");
  State.SetBytesProcessed(State.iterations() * size);
}

// The one pass a reader without an index makes: the library straight through.
void PlainDecompress(benchmark::State& State, TCompression Kind) {
  const TSample& sample = Sample(Kind);
  TBytes out(256 << 10);
  for (auto _ : State) {
    size_t total = 0;
    switch (Kind) {
    case TCompression::Gzip: {
      z_stream z{};
      inflateInit2(&z, 31);
      z.next_in = const_cast<Bytef*>(sample.File.data());
      z.avail_in = static_cast<uInt>(sample.File.size());
      int result = Z_OK;
      while (result == Z_OK) {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        result = inflate(&z, Z_NO_FLUSH);
        total += out.size() - z.avail_out;
      }
      inflateEnd(&z);
      break;
    }
    case TCompression::Bzip2: {
      bz_stream b{};
      BZ2_bzDecompressInit(&b, 0, 0);
      b.next_in = const_cast<char*>(reinterpret_cast<const char*>(sample.File.data()));
      b.avail_in = static_cast<unsigned>(sample.File.size());
      int result = BZ_OK;
      while (result == BZ_OK) {
        b.next_out = reinterpret_cast<char*>(out.data());
        b.avail_out = static_cast<unsigned>(out.size());
        result = BZ2_bzDecompress(&b);
        total += out.size() - b.avail_out;
      }
      BZ2_bzDecompressEnd(&b);
      break;
    }
    case TCompression::Xz: {
      lzma_stream l = LZMA_STREAM_INIT;
      if (lzma_stream_decoder(&l, UINT64_MAX, 0) != LZMA_OK)
        throw std::runtime_error("the xz decoder cannot start");
      l.next_in = sample.File.data();
      l.avail_in = sample.File.size();
      lzma_ret result = LZMA_OK;
      while (result == LZMA_OK) {
        l.next_out = out.data();
        l.avail_out = out.size();
        result = lzma_code(&l, LZMA_FINISH);
        total += out.size() - l.avail_out;
      }
      lzma_end(&l);
      break;
    }
    default: {
      ZSTD_DCtx* context = ZSTD_createDCtx();
      ZSTD_inBuffer in{sample.File.data(), sample.File.size(), 0};
      while (in.pos < in.size) {
        ZSTD_outBuffer o{out.data(), out.size(), 0};
        if (ZSTD_isError(ZSTD_decompressStream(context, &o, &in)))
          break;
        total += o.pos;
      }
      ZSTD_freeDCtx(context);
      break;
    }
    }
    benchmark::DoNotOptimize(total);
    if (total != Data().size())
      State.SkipWithError("plain decompression fell short");
  }
  State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(Data().size()));
}

double ChildSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& Time) {
    return static_cast<double>(Time.tv_sec) + static_cast<double>(Time.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// `gzip -dc FILE > /dev/null` and its siblings. The tool's own processor
// time goes in a counter, since on a shared machine the wall clock of either
// side also holds whatever else ran.
void Tool(benchmark::State& State, TCompression Kind) {
  const std::string command =
      std::string(platform::CompressionName(Kind)) + " -dc " + Sample(Kind).Path + " > /dev/null";
  const double before = ChildSeconds();
  for (auto _ : State)
    if (std::system(command.c_str()) != 0)
      State.SkipWithError(("cannot run " + command).c_str());
  State.counters["child_cpu_ms"] =
      (ChildSeconds() - before) * 1e3 / static_cast<double>(State.iterations());
}

// The slice view's read of a 2048 x 2048 int16 slice in the middle.
void MiddleSlice(benchmark::State& State, TCompression Kind) {
  const auto stream = Open(Sample(Kind).File, Kind);
  const int64_t offset = Data().size() / SliceBytes / 2 * SliceBytes;
  TBytes slice(SliceBytes);
  for (auto _ : State)
    if (stream->ReadAt(offset, slice.data(), SliceBytes) != SliceBytes ||
        std::memcmp(slice.data(), Data().data() + offset, SliceBytes) != 0)
      State.SkipWithError("the slice reads wrong");
}

// The least a read of that slice can cost: decompressing from the checkpoint
// before it to the slice's end, with nothing skipped into a scratch buffer.
void FromCheckpoint(benchmark::State& State, TCompression Kind) {
  const auto stream = Open(Sample(Kind).File, Kind);
  const int64_t offset = Data().size() / SliceBytes / 2 * SliceBytes;
  const int64_t from = stream->CheckpointBefore(offset);
  TBytes bytes(static_cast<size_t>(offset + SliceBytes - from));
  TBytes other(1);
  for (auto _ : State) {
    stream->ReadAt(0, other.data(), 1); // away, so that the read starts at the checkpoint
    benchmark::DoNotOptimize(stream->ReadAt(from, bytes.data(), std::ssize(bytes)));
  }
  State.counters["from_MiB_before"] = static_cast<double>(offset - from) / (1 << 20);
}

// Keeps every run's time per iteration, for the ratios.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& run : Runs) {
      if (run.error_occurred)
        continue;
      const std::string name =
          run.benchmark_name().substr(0, run.benchmark_name().find("/iterations"));
      Times[name] = run.GetAdjustedRealTime();
      const auto child = run.counters.find("child_cpu_ms");
      Cpu[name] = child != run.counters.end() ? child->second.value : run.GetAdjustedCPUTime();
    }
  }
  std::map<std::string, double> Times;
  std::map<std::string, double> Cpu; // ms; a tool's own
};

void PrintRatios(const std::map<std::string, double>& Times, const char* What) {
  const auto ratio = [&Times](const std::string& A, const std::string& B) {
    const auto a = Times.find(A), b = Times.find(B);
    if (a == Times.end() || b == Times.end() || b->second <= 0)
      return std::string("-");
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", a->second / b->second);
    return std::string(text);
  };
  std::printf("\n%s\n%-6s %22s %22s %26s\n", What, "format", "index / library pass",
              "index / tool -dc", "middle slice / checkpoint");
  for (const TCompression kind : Kinds) {
    const std::string name = platform::CompressionName(kind);
    std::printf("%-6s %22s %22s %26s\n", name.c_str(),
                ratio("IndexBuild/" + name, "PlainDecompress/" + name).c_str(),
                ratio("IndexBuild/" + name, "Tool/" + name).c_str(),
                ratio("MiddleSlice/" + name, "FromCheckpoint/" + name).c_str());
  }
}

} // namespace

int main(int argc, char** argv) {
  for (const TCompression kind : Kinds) {
    const std::string name = platform::CompressionName(kind);
    benchmark::RegisterBenchmark(("IndexBuild/" + name).c_str(), IndexBuild, kind)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(2);
    benchmark::RegisterBenchmark(("PlainDecompress/" + name).c_str(), PlainDecompress, kind)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(2);
    benchmark::RegisterBenchmark(("Tool/" + name).c_str(), Tool, kind)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(2);
    benchmark::RegisterBenchmark(("MiddleSlice/" + name).c_str(), MiddleSlice, kind)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("FromCheckpoint/" + name).c_str(), FromCheckpoint, kind)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(reporter.Times, "By the wall clock:");
  PrintRatios(reporter.Cpu, "By processor time (the tool's own for -dc):");
  for (const TCompression kind : Kinds)
    std::remove(
        ("/tmp/zandrel-bench-" + std::to_string(::getpid()) + "." + platform::CompressionName(kind))
            .c_str());
  benchmark::Shutdown();
  return 0;
}
