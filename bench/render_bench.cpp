// RenderView throughput, each view measured beside a plain memcpy of the same
// bytes in the same run, so the ratio stays meaningful on a busy machine. The
// cross-slice view is also measured beside its file reads alone, which no
// painting can beat.

#include "data/Bitmap24.h"
#include "data/Histogram.h"
#include "data/VoxelTypes.h"
#include "data/VxDataMgr.h"
#include "platform/FileStream.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <numbers>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What the benchmark paints into: the bitmap alone, with nothing to show it.
class TBenchImage final : public TImageControl {
public:
  TBitmap24& Picture() override { return FBitmap; }
  void Repaint() override {}

private:
  TBitmap24 FBitmap;
};

constexpr const char* CrossKey = "int16_cross_512x512x512";

struct TViewCase {
  std::string Key;   // benchmark name suffix, shell- and regex-friendly
  std::string Label; // the row of the summary table
  TVoxelType Type;
  int32_t Width;  // Dims[0]
  int32_t Rows;   // Dims[1]
  int32_t Slices; // Dims[2]
  TViewKind View;
  int32_t Index;
  int32_t IntensityMin;
  int32_t IntensityMax;
  std::string Path;

  int32_t ViewHeight() const { return View == vkCrossSlice ? Slices : Rows; }
  int64_t Voxels() const { return int64_t{Width} * ViewHeight(); }
  int64_t VoxelBytes() const { return Voxels() * BytesPerVoxel.at(Type); }
  int64_t PixelBytes() const { return Voxels() * 3; }
};

const char* TypeName(TVoxelType type) {
  static constexpr const char* names[VoxelTypeCount] = {"byte",   "int16",   "int32",  "float32",
                                                        "uint16", "int8",    "uint32", "int64",
                                                        "uint64", "float16", "float64"};
  return names[type];
}

// Grouped by voxel size, the order in which the targets are stated.
std::vector<TViewCase> MakeCases() {
  std::vector<TViewCase> cases;
  for (TVoxelType type : {vtByte, vtInt8, vtInt16, vtUInt16, vtFloat16, vtInt32, vtUInt32,
                          vtFloat32, vtInt64, vtUInt64, vtFloat64}) {
    const int32_t min = type == vtInt8 ? -128 : 0;
    const int32_t max = type == vtByte ? 255 : type == vtInt8 ? 127 : 1000;
    for (int32_t size : {256, 2048}) {
      const std::string dims = std::to_string(size) + "x" + std::to_string(size);
      cases.push_back({std::string(TypeName(type)) + "_" + dims,
                       std::string(TypeName(type)) + " slice " + dims, type, size, size, 1, vkSlice,
                       0, min, max, ""});
    }
  }
  cases.push_back({std::string(CrossKey), "int16 cross-slice of 512^3", vtInt16, 512, 512, 512,
                   vkCrossSlice, 256, 0, 1000, ""});
  return cases;
}

// A smooth field (slow waves along each axis) plus noise: roughly what a
// scanner slice looks like, so the colour paths are taken in realistic mixes.
class TPhantom {
public:
  explicit TPhantom(const TViewCase& c)
      : FWaveX(Wave(c.Width, 97.0, 300.0))
      , FWaveY(Wave(c.Rows, 131.0, 300.0))
      , FWaveZ(Wave(c.Slices, 61.0, 150.0))
      , FState(0x9E3779B97F4A7C15ull ^ c.Key.size()) {}

  // Within 0..2000, with a fraction.
  float Value(int32_t x, int32_t y, int32_t z) {
    const float noise = static_cast<float>(Next() % 50'000) / 100.0f - 250.0f;
    return 1000.0f + FWaveX[x] + FWaveY[y] + FWaveZ[z] + noise;
  }

private:
  static std::vector<float> Wave(int32_t count, double period, double amplitude) {
    std::vector<float> wave(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
      wave[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * i / period));
    return wave;
  }
  uint32_t Next() { // xorshift64: cheap and the same on every run
    FState ^= FState << 13;
    FState ^= FState >> 7;
    FState ^= FState << 17;
    return static_cast<uint32_t>(FState >> 32);
  }

  std::vector<float> FWaveX, FWaveY, FWaveZ;
  uint64_t FState;
};

template <typename TBits> void StoreLittleEndian(uint8_t* target, TBits bits) {
  for (size_t i = 0; i < sizeof bits; ++i)
    target[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// IEEE binary16 of a single, rounded to nearest with ties to even.
uint16_t HalfBits(float value) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  const auto sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
  const uint32_t magnitude = bits & 0x7FFF'FFFFu;
  if (magnitude > 0x7F80'0000u) // NaN: kept quiet, with the top of its payload
    return static_cast<uint16_t>(sign | 0x7E00u | ((magnitude >> 13) & 0x3FFu));
  if (magnitude >= 0x4780'0000u) // 65520 and beyond round to infinity
    return static_cast<uint16_t>(sign | 0x7C00u);
  const int32_t exponent = static_cast<int32_t>(magnitude >> 23) - 127;
  if (exponent < -25) // below half the smallest subnormal
    return sign;
  const uint32_t fraction = magnitude & 0x7F'FFFFu;
  // A normal keeps 10 of the 23 fraction bits; a subnormal shifts further,
  // its implicit leading one included. A carry out of the kept bits moves
  // into the exponent, which is what rounding up should do.
  const bool normal = exponent >= -14;
  const int32_t shift = normal ? 13 : -1 - exponent;
  const uint32_t significand = normal ? fraction : fraction | 0x80'0000u;
  const uint32_t kept =
      (normal ? static_cast<uint32_t>(exponent + 15) << 10 : 0u) | (significand >> shift);
  const uint32_t rest = significand & ((1u << shift) - 1);
  const uint32_t halfway = 1u << (shift - 1);
  const bool up = rest > halfway || (rest == halfway && (kept & 1u) != 0);
  return static_cast<uint16_t>(sign | (kept + (up ? 1u : 0u)));
}

// value lies within 0..2000 with a fraction; each type gets what a file of that
// type plausibly holds for it.
void StoreVoxel(uint8_t* target, TVoxelType type, float value) {
  const auto integer = std::lround(value);
  switch (type) {
  case vtByte:
    *target = static_cast<uint8_t>(std::clamp(value, 0.0f, 2000.0f) * 255.0f / 2000.0f);
    break;
  case vtInt8:
    *target = static_cast<uint8_t>(static_cast<int8_t>(
        std::lround(std::clamp(value, 0.0f, 2000.0f) * 255.0f / 2000.0f) - 128));
    break;
  case vtInt16:
  case vtUInt16:
    StoreLittleEndian(target, static_cast<uint16_t>(integer));
    break;
  case vtInt32:
  case vtUInt32:
    StoreLittleEndian(target, static_cast<uint32_t>(integer));
    break;
  case vtInt64:
  case vtUInt64:
    StoreLittleEndian(target, static_cast<uint64_t>(integer));
    break;
  case vtFloat16:
    StoreLittleEndian(target, HalfBits(value));
    break;
  case vtFloat32:
    StoreLittleEndian(target, std::bit_cast<uint32_t>(value));
    break;
  case vtFloat64:
    StoreLittleEndian(target, std::bit_cast<uint64_t>(static_cast<double>(value)));
    break;
  }
}

// One slice in memory at a time keeps the 256 MiB volume cheap to write.
void WriteVolume(const TViewCase& c) {
  std::ofstream file(c.Path, std::ios::binary | std::ios::trunc);
  TPhantom phantom(c);
  const int32_t bytesPerVoxel = BytesPerVoxel.at(c.Type);
  std::vector<uint8_t> slice(static_cast<size_t>(int64_t{c.Width} * c.Rows * bytesPerVoxel));
  for (int32_t z = 0; z < c.Slices && file; ++z) {
    uint8_t* target = slice.data();
    for (int32_t y = 0; y < c.Rows; ++y)
      for (int32_t x = 0; x < c.Width; ++x, target += bytesPerVoxel)
        StoreVoxel(target, c.Type, phantom.Value(x, y, z));
    file.write(reinterpret_cast<const char*>(slice.data()),
               static_cast<std::streamsize>(slice.size()));
  }
  file.close();
  if (!file)
    throw std::runtime_error("cannot write " + c.Path);
}

class TTempDir {
public:
  TTempDir() {
    std::string pattern = (fs::temp_directory_path() / "zandrel-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot create a temporary directory");
    FPath = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const fs::path& Path() const { return FPath; }

private:
  fs::path FPath;
};

void CountWork(benchmark::State& state, const TViewCase& c) {
  state.SetItemsProcessed(state.iterations() * c.Voxels());
  state.SetBytesProcessed(state.iterations() * (c.VoxelBytes() + c.PixelBytes()));
}

void BM_Render(benchmark::State& state, const TViewCase& c) {
  TVxDataMgr mgr;
  mgr.OpenFile(c.Path);
  mgr.SetParameters(0, c.Width, c.Rows, c.Slices, c.Type, boLittleEndian, c.IntensityMin,
                    c.IntensityMax, true);
  TBenchImage image;
  // The first render pulls the file into the page cache and grows the buffers.
  mgr.RenderView(0, c.Index, c.View, image);
  if (!mgr.IsOpen() || mgr.ViewVoxelCount(c.View) != c.Voxels() ||
      image.Picture().Width() != c.Width || image.Picture().Height() != c.ViewHeight()) {
    state.SkipWithError("the view did not come whole from the file");
    return;
  }
  for (auto _ : state) {
    mgr.RenderView(0, c.Index, c.View, image);
    benchmark::ClobberMemory();
  }
  CountWork(state, c);
}

// Sized for the largest view and touched once, so no page faults are timed.
struct TCopyBuffers {
  std::vector<uint8_t> VoxelsFrom, VoxelsTo, PixelsFrom, PixelsTo;

  explicit TCopyBuffers(const std::vector<TViewCase>& cases) {
    int64_t voxelBytes = 0, pixelBytes = 0;
    for (const TViewCase& c : cases) {
      voxelBytes = std::max(voxelBytes, c.VoxelBytes());
      pixelBytes = std::max(pixelBytes, c.PixelBytes());
    }
    VoxelsFrom.assign(static_cast<size_t>(voxelBytes), 0x5A);
    VoxelsTo.assign(static_cast<size_t>(voxelBytes), 0);
    PixelsFrom.assign(static_cast<size_t>(pixelBytes), 0xA5);
    PixelsTo.assign(static_cast<size_t>(pixelBytes), 0);
  }
};

void BM_Copy(benchmark::State& state, const TViewCase& c, TCopyBuffers& buffers) {
  const auto voxelBytes = static_cast<size_t>(c.VoxelBytes());
  const auto pixelBytes = static_cast<size_t>(c.PixelBytes());
  for (auto _ : state) {
    std::memcpy(buffers.VoxelsTo.data(), buffers.VoxelsFrom.data(), voxelBytes);
    std::memcpy(buffers.PixelsTo.data(), buffers.PixelsFrom.data(), pixelBytes);
    benchmark::DoNotOptimize(buffers.VoxelsTo.data());
    benchmark::DoNotOptimize(buffers.PixelsTo.data());
    benchmark::ClobberMemory();
  }
  CountWork(state, c);
}

// The reads of the cross-slice view alone: one positioned read per slice of
// the row the view shows, into one buffer, as the data manager issues them.
void BM_Pread(benchmark::State& state, const TViewCase& c) {
  platform::TFileStream stream(c.Path);
  const int64_t rowBytes = int64_t{c.Width} * BytesPerVoxel.at(c.Type);
  std::vector<uint8_t> rows(static_cast<size_t>(rowBytes * c.Slices));
  const auto readAll = [&] {
    int64_t total = 0;
    for (int32_t k = 0; k < c.Slices; ++k)
      total += stream.ReadAt((int64_t{k} * c.Rows + c.Index) * rowBytes, rows.data() + k * rowBytes,
                             rowBytes);
    return total;
  };
  if (readAll() != rowBytes * c.Slices) {
    state.SkipWithError("the rows did not come whole from the file");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(readAll());
    benchmark::ClobberMemory();
  }
  CountWork(state, c);
}

std::string FormatTime(double seconds) {
  char text[32];
  if (seconds < 1e-3)
    std::snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
  else
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1e3);
  return text;
}

void RegisterHistogram(const std::vector<TViewCase>& cases);
std::string HistogramRows(const std::vector<TViewCase>& cases,
                          const std::map<std::string, double>& seconds);

// The console output as usual, then one line per view: render against memcpy.
class TTableReporter : public benchmark::ConsoleReporter {
public:
  TTableReporter(const std::vector<TViewCase>& cases, OutputOptions options)
      : ConsoleReporter(options)
      , FCases(cases) {}

  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports)
      Collect(run);
  }

  void Finalize() override {
    std::ostream& out = GetOutputStream();
    char line[160];
    std::snprintf(line, sizeof line, "\n%-28s %12s %12s %7s %14s\n", "view", "render", "baseline",
                  "ratio", "voxels/s");
    out << line;
    for (const TViewCase& c : FCases) {
      out << Row(c.Label, c, "memcpy/");
      if (c.View == vkCrossSlice)
        out << Row("  the same beside its preads", c, "pread/");
    }
    out << HistogramRows(FCases, FSeconds);
    out.flush();
  }

private:
  // Repeated runs are summed up by their median, which is reported after them
  // and so overwrites them; a single run stands for itself.
  void Collect(const Run& run) {
    if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
      return;
    FSeconds[run.run_name.function_name] =
        run.error_occurred
            ? -1.0
            : run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
  }

  std::string Row(const std::string& Label, const TViewCase& c, const std::string& Baseline) const {
    const double render = Seconds("render/" + c.Key);
    const double base = Seconds(Baseline + c.Key);
    char line[160];
    if (render <= 0.0 || base <= 0.0)
      std::snprintf(line, sizeof line, "%-28s %12s %12s %7s %14s\n", Label.c_str(),
                    render < 0.0 ? "failed" : "-", base < 0.0 ? "failed" : "-", "-", "-");
    else
      std::snprintf(line, sizeof line, "%-28s %12s %12s %7.2f %12.1f M\n", Label.c_str(),
                    FormatTime(render).c_str(), FormatTime(base).c_str(), render / base,
                    static_cast<double>(c.Voxels()) / render / 1e6);
    return line;
  }

  double Seconds(const std::string& name) const {
    const auto found = FSeconds.find(name);
    return found == FSeconds.end() ? 0.0 : found->second;
  }

  const std::vector<TViewCase>& FCases;
  std::map<std::string, double> FSeconds; // 0 = not run, -1 = failed
};

// Short minimum times keep the whole run well under a minute on two cores;
// three repetitions and their median keep one noisy moment from deciding a row.
void Register(const std::vector<TViewCase>& cases, TCopyBuffers& buffers) {
  for (const TViewCase& c : cases) {
    const std::string render = "render/" + c.Key;
    const std::string copy = "memcpy/" + c.Key;
    std::vector<benchmark::internal::Benchmark*> runs = {
        benchmark::RegisterBenchmark(render.c_str(), BM_Render, c),
        benchmark::RegisterBenchmark(copy.c_str(), BM_Copy, c, std::ref(buffers))};
    if (c.View == vkCrossSlice)
      runs.push_back(benchmark::RegisterBenchmark(("pread/" + c.Key).c_str(), BM_Pread, c));
    for (benchmark::internal::Benchmark* b : runs)
      b->UseRealTime()
          ->Unit(benchmark::kMicrosecond)
          ->MinTime(0.15)
          ->Repetitions(3)
          ->ReportAggregatesOnly(true);
  }
  RegisterHistogram(cases);
}

void RunAll() {
  TTempDir dir;
  std::vector<TViewCase> cases = MakeCases();
  for (TViewCase& c : cases) {
    c.Path = (dir.Path() / (c.Key + ".raw")).string();
    WriteVolume(c);
  }
  TCopyBuffers buffers(cases);
  Register(cases, buffers);
  const auto options = isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                             : benchmark::ConsoleReporter::OO_Tabular;
  TTableReporter reporter(cases, options);
  benchmark::RunSpecifiedBenchmarks(&reporter);
}

// The histogram window follows every redraw of the first view: a full-size
// slice of each type rendered, then counted, beside the render alone.
bool CountsHistogram(const TViewCase& c) {
  return c.View == vkSlice && c.Width == 2048;
}

void BM_RenderHistogram(benchmark::State& state, const TViewCase& c) {
  TVxDataMgr mgr;
  mgr.OpenFile(c.Path);
  mgr.SetParameters(0, c.Width, c.Rows, c.Slices, c.Type, boLittleEndian, c.IntensityMin,
                    c.IntensityMax, true);
  TBenchImage image;
  mgr.RenderView(0, c.Index, c.View, image);
  int64_t counted = 0;
  for (auto _ : state) {
    mgr.RenderView(0, c.Index, c.View, image);
    const THistogram histogram = ComputeHistogram(
        {mgr.ViewBuffer(c.View).data(), mgr.ViewVoxelCount(c.View), c.Type, boLittleEndian},
        mgr.IntensityMin(), mgr.IntensityMax());
    counted = histogram.Values;
    benchmark::DoNotOptimize(histogram.Bins.data());
    benchmark::ClobberMemory();
  }
  if (counted != c.Voxels())
    state.SkipWithError("the histogram did not count the whole view");
  CountWork(state, c);
}

void RegisterHistogram(const std::vector<TViewCase>& cases) {
  for (const TViewCase& c : cases)
    if (CountsHistogram(c))
      benchmark::RegisterBenchmark(("render+histogram/" + c.Key).c_str(), BM_RenderHistogram, c)
          ->UseRealTime()
          ->Unit(benchmark::kMicrosecond)
          ->MinTime(0.15)
          ->Repetitions(3)
          ->ReportAggregatesOnly(true);
}

std::string HistogramRows(const std::vector<TViewCase>& cases,
                          const std::map<std::string, double>& seconds) {
  const auto time = [&](const std::string& name) {
    const auto found = seconds.find(name);
    return found == seconds.end() ? 0.0 : found->second;
  };
  char line[160];
  std::snprintf(line, sizeof line, "\n%-28s %12s %16s %7s\n", "first view", "render",
                "render+histogram", "ratio");
  std::string rows = line;
  for (const TViewCase& c : cases) {
    if (!CountsHistogram(c))
      continue;
    const double render = time("render/" + c.Key);
    const double both = time("render+histogram/" + c.Key);
    if (render <= 0.0 || both <= 0.0)
      std::snprintf(line, sizeof line, "%-28s %12s %16s %7s\n", c.Label.c_str(), "-", "-", "-");
    else
      std::snprintf(line, sizeof line, "%-28s %12s %16s %7.3f\n", c.Label.c_str(),
                    FormatTime(render).c_str(), FormatTime(both).c_str(), both / render);
    rows += line;
  }
  return rows;
}

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  int result = 1;
  try {
    RunAll();
    result = 0;
  } catch (const std::exception& e) {
    std::cerr << "render_bench: " << e.what() << '\n';
  }
  benchmark::Shutdown();
  return result;
}
