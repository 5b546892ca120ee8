// RenderView throughput, each view measured beside a plain memcpy of the same
// bytes in the same run, so the ratio stays meaningful on a busy machine.

#include "data/Bitmap24.h"
#include "data/VoxelTypes.h"
#include "data/VxDataMgr.h"

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

struct TViewCase {
  std::string Key;   // benchmark name suffix, shell- and regex-friendly
  std::string Label; // the row of the summary table
  TVoxelType Type;
  int32_t Width;  // Dims[0]
  int32_t Rows;   // Dims[1]
  int32_t Slices; // Dims[2]
  TViewKind View;
  int32_t Index;
  int32_t IntensityMax;
  std::string Path;

  int32_t ViewHeight() const { return View == vkCrossSlice ? Slices : Rows; }
  int64_t Voxels() const { return int64_t{Width} * ViewHeight(); }
  int64_t VoxelBytes() const { return Voxels() * BytesPerVoxel.at(Type); }
  int64_t PixelBytes() const { return Voxels() * 3; }
};

const char* TypeName(TVoxelType type) {
  static constexpr const char* names[] = {"byte", "int16", "int32", "float32"};
  return names[type];
}

std::vector<TViewCase> MakeCases() {
  std::vector<TViewCase> cases;
  for (TVoxelType type : {vtByte, vtInt16, vtInt32, vtFloat32}) {
    const int32_t max = type == vtByte ? 255 : 1000;
    for (int32_t size : {256, 2048}) {
      const std::string dims = std::to_string(size) + "x" + std::to_string(size);
      cases.push_back({std::string(TypeName(type)) + "_" + dims,
                       std::string(TypeName(type)) + " slice " + dims, type, size, size, 1, vkSlice,
                       0, max, ""});
    }
  }
  cases.push_back({"int16_cross_512x512x512", "int16 cross-slice of 512^3", vtInt16, 512, 512, 512,
                   vkCrossSlice, 256, 1000, ""});
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

void StoreVoxel(uint8_t* target, TVoxelType type, float value) {
  switch (type) {
  case vtByte:
    *target = static_cast<uint8_t>(std::clamp(value, 0.0f, 2000.0f) * 255.0f / 2000.0f);
    break;
  case vtInt16:
    StoreLittleEndian(target, static_cast<uint16_t>(std::lround(value)));
    break;
  case vtInt32:
    StoreLittleEndian(target, static_cast<uint32_t>(std::lround(value)));
    break;
  case vtFloat32:
    StoreLittleEndian(target, std::bit_cast<uint32_t>(value));
    break;
  default:
    throw std::invalid_argument("no benchmark volume for this type");
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
  mgr.SetParameters(0, c.Width, c.Rows, c.Slices, c.Type, boLittleEndian, 0, c.IntensityMax, true);
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

std::string FormatTime(double seconds) {
  char text[32];
  if (seconds < 1e-3)
    std::snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
  else
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1e3);
  return text;
}

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
    for (const TViewCase& c : FCases)
      out << Row(c);
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

  std::string Row(const TViewCase& c) const {
    const double render = Seconds("render/" + c.Key);
    const double copy = Seconds("memcpy/" + c.Key);
    char line[160];
    if (render <= 0.0 || copy <= 0.0)
      std::snprintf(line, sizeof line, "%-28s %12s %12s %7s %14s\n", c.Label.c_str(),
                    render < 0.0 ? "failed" : "-", copy < 0.0 ? "failed" : "-", "-", "-");
    else
      std::snprintf(line, sizeof line, "%-28s %12s %12s %7.2f %12.1f M\n", c.Label.c_str(),
                    FormatTime(render).c_str(), FormatTime(copy).c_str(), render / copy,
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
    for (benchmark::internal::Benchmark* b :
         {benchmark::RegisterBenchmark(render.c_str(), BM_Render, c),
          benchmark::RegisterBenchmark(copy.c_str(), BM_Copy, c, std::ref(buffers))})
      b->UseRealTime()
          ->Unit(benchmark::kMicrosecond)
          ->MinTime(0.15)
          ->Repetitions(3)
          ->ReportAggregatesOnly(true);
  }
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
