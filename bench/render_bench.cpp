// RenderView throughput, each view measured beside its floor (the same file
// reads and one write of its bitmap, which no painting can beat) and beside a
// plain memcpy of as many bytes, all in the same run and interleaved, so that
// the ratios stay meaningful on a busy machine.

#include "data/Bitmap24.h"
#include "data/Histogram.h"
#include "data/VoxelTypes.h"
#include "data/VxDataMgr.h"
#include "platform/FileStream.h"

#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>
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
  int32_t IntensityMin;
  int32_t IntensityMax;
  std::string Path;
  // Two volumes of two slices make a redraw whose four views all hold data;
  // one volume of one slice leaves the next slice and volume 1 past the end.
  int32_t Volumes = 1;

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
    cases.push_back({std::string(TypeName(type)) + "_2048x2048x2x2",
                     std::string(TypeName(type)) + " 2048x2048, 2x2 slices", type, 2048, 2048, 2,
                     vkSlice, 0, min, max, "", 2});
  }
  for (TVoxelType type : {vtInt16, vtFloat32})
    cases.push_back({std::string(TypeName(type)) + "_cross_512x512x512",
                     std::string(TypeName(type)) + " cross-slice of 512^3", type, 512, 512, 512,
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

int64_t SliceOffset(const TViewCase& c) {
  return int64_t{c.Index} * c.Rows * c.Width * BytesPerVoxel.at(c.Type);
}

// The file has the whole volume's size, but only the voxels the view reads are
// written; the rest stays a hole, which keeps a 512 MiB volume cheap to make.
void WriteVolume(const TViewCase& c) {
  std::ofstream file(c.Path, std::ios::binary | std::ios::trunc);
  TPhantom phantom(c);
  const int32_t bytesPerVoxel = BytesPerVoxel.at(c.Type);
  const int64_t rowBytes = int64_t{c.Width} * bytesPerVoxel;
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  const auto writeRow = [&](int32_t y, int32_t z) {
    uint8_t* target = row.data();
    for (int32_t x = 0; x < c.Width; ++x, target += bytesPerVoxel)
      StoreVoxel(target, c.Type, phantom.Value(x, y, z));
    file.seekp((int64_t{z} * c.Rows + y) * rowBytes);
    file.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(rowBytes));
  };
  if (c.View == vkCrossSlice)
    for (int32_t z = 0; z < c.Slices && file; ++z)
      writeRow(c.Index, z);
  else
    for (const int32_t z : c.Volumes == 1 ? std::vector{c.Index}
                                          : std::vector{c.Index, c.Index + 1, c.Slices + c.Index})
      for (int32_t y = 0; y < c.Rows && file; ++y)
        writeRow(y, z);
  file.close();
  std::error_code failed;
  fs::resize_file(c.Path, int64_t{c.Volumes} * c.Slices * c.Rows * rowBytes, failed);
  if (!file || failed)
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

// The least any render of the view can cost: the same positioned reads from
// the page cache, one per run of bytes the view needs, and one write of the
// whole bitmap. Nothing is decoded or mapped.
class TFloor {
public:
  explicit TFloor(const TViewCase& c)
      : FCase(c)
      , FStream(c.Path)
      , FVoxels(static_cast<size_t>(c.VoxelBytes())) {
    FBitmap.SetSize(c.Width, c.ViewHeight());
  }

  // Bytes read, so that a short file shows.
  int64_t Run() {
    int64_t got = 0;
    if (FCase.View == vkCrossSlice) {
      const int64_t rowBytes = int64_t{FCase.Width} * BytesPerVoxel.at(FCase.Type);
      for (int32_t k = 0; k < FCase.Slices; ++k)
        got += FStream.ReadAt((int64_t{k} * FCase.Rows + FCase.Index) * rowBytes,
                              FVoxels.data() + k * rowBytes, rowBytes);
    } else {
      got = FStream.ReadAt(SliceOffset(FCase), FVoxels.data(), FCase.VoxelBytes());
    }
    std::memset(FBitmap.ScanLine(0), 0x5A,
                static_cast<size_t>(FBitmap.Stride()) * FBitmap.Height());
    return got;
  }

private:
  const TViewCase& FCase;
  platform::TFileStream FStream;
  std::vector<uint8_t> FVoxels;
  TBitmap24 FBitmap;
};

// The copy baseline: a memcpy of as many voxel bytes and as many pixel bytes
// between buffers sized for the largest view and touched once.
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

  void Copy(const TViewCase& c) {
    std::memcpy(VoxelsTo.data(), VoxelsFrom.data(), static_cast<size_t>(c.VoxelBytes()));
    std::memcpy(PixelsTo.data(), PixelsFrom.data(), static_cast<size_t>(c.PixelBytes()));
    benchmark::DoNotOptimize(VoxelsTo.data());
    benchmark::DoNotOptimize(PixelsTo.data());
    benchmark::ClobberMemory();
  }
};

// One view's three measurements; each keeps the fastest of its runs.
struct TViewRuns {
  explicit TViewRuns(const TViewCase& c)
      : Case(c)
      , Floor(c) {
    Manager.OpenFile(c.Path);
    Manager.SetParameters(0, c.Width, c.Rows, c.Slices, c.Type, boLittleEndian, c.IntensityMin,
                          c.IntensityMax, true);
  }

  const TViewCase& Case;
  TVxDataMgr Manager;
  TBenchImage Image;
  TFloor Floor;
  double Render = INFINITY, FloorTime = INFINITY, Copy = INFINITY, Histogram = INFINITY;
  // A whole redraw of the four views, as the window makes it: without the
  // histogram, with it counted beside the other three views as the window
  // counts it, and with it counted in line between the first and the second.
  double Redraw = INFINITY, RedrawAside = INFINITY, RedrawWrong = INFINITY, RedrawInLine = INFINITY;
  std::array<TBenchImage, ViewKindCount> Views;

  // The histogram window follows every redraw of the first view: full-size
  // slices are counted after each render as well.
  bool CountsHistogram() const { return Case.View == vkSlice && Case.Width == 2048; }

  // The first view as the histogram window takes it, with the render's slice range as a guess.
  THistogramSource Source() const {
    return {Manager.ViewBuffer(vkSlice).data(),
            Manager.ViewVoxelCount(vkSlice),
            Case.Type,
            boLittleEndian,
            Manager.SliceMin(),
            Manager.SliceMax()};
  }

  int64_t CountHistogram() {
    const THistogram histogram =
        ComputeHistogram(Source(), Manager.IntensityMin(), Manager.IntensityMax());
    benchmark::DoNotOptimize(histogram.Bins.data());
    return histogram.Values;
  }

  enum TCounting { NoCount, CountAlong, CountAlongWrongGuess, CountInLine };

  // The last count's range, which the window guesses for the next redraw.
  double GuessLow = NAN, GuessHigh = NAN;

  // The window's redraw at its working defaults: slice 0, the next slice,
  // the cross-slice at row 0 and the same slice of volume 1, which for a file
  // of one slice are painted as lying past its end. The window counts along
  // the first render with the last count's range as its guess; a wrong
  // guess stands for a redraw of another slice, or the first one.
  int64_t RedrawViews(TCounting Counting) {
    auto counted = std::make_shared<THistogram>();
    if (Counting == CountAlong || Counting == CountAlongWrongGuess) {
      THistogramSource source{nullptr, 0, Case.Type, boLittleEndian, GuessLow, GuessHigh};
      if (Counting == CountAlongWrongGuess)
        source.GuessLow -= 1.0;
      Manager.ReadViewAlongRender(
          vkSlice, [&, counted, source](const TVxDataMgr::TViewAsRead& View) {
            THistogramSource read = source;
            read.Bytes = View.Bytes;
            read.Count = View.Size / BytesPerVoxel[read.Type];
            read.Progress = View.Progress.get();
            *counted = ComputeHistogram(read, Manager.IntensityMin(), Manager.IntensityMax());
          });
    }
    Manager.RenderView(0, Case.Index, vkSlice, Views[vkSlice]);
    if (Counting == CountInLine)
      *counted = ComputeHistogram(Source(), Manager.IntensityMin(), Manager.IntensityMax());
    Manager.RenderView(0, Case.Index + 1, vkNextSlice, Views[vkNextSlice]);
    Manager.RenderView(0, 0, vkCrossSlice, Views[vkCrossSlice]);
    Manager.RenderView(1, Case.Index, vkOtherVolume, Views[vkOtherVolume]);
    Manager.WaitForReadAside();
    benchmark::DoNotOptimize(counted->Bins.data());
    benchmark::ClobberMemory();
    if (Counting == CountAlong && counted->Shape == THistogram::Spread) {
      GuessLow = counted->Low.AsDouble();
      GuessHigh = counted->High.AsDouble();
    }
    return counted->Values;
  }

  bool Whole() {
    Manager.RenderView(0, Case.Index, Case.View, Image);
    return Manager.IsOpen() && Manager.ViewVoxelCount(Case.View) == Case.Voxels() &&
           Image.Picture().Width() == Case.Width && Image.Picture().Height() == Case.ViewHeight() &&
           Floor.Run() == Case.VoxelBytes() &&
           (!CountsHistogram() ||
            (CountHistogram() == Case.Voxels() && RedrawViews(CountAlong) == Case.Voxels() &&
             RedrawViews(CountInLine) == Case.Voxels()));
  }
};

template <typename TWork> double Seconds(TWork&& Work) {
  const auto start = std::chrono::steady_clock::now();
  Work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every round measures every view once, render, floor and copy in turn, so a
// busy moment of the machine hits them alike; the minimum over the rounds is
// the figure least disturbed by the rest of the machine.
void MeasureViews(std::vector<std::unique_ptr<TViewRuns>>& Runs, TCopyBuffers& Buffers,
                  int32_t Rounds) {
  for (int32_t round = 0; round < Rounds; ++round)
    for (std::unique_ptr<TViewRuns>& run : Runs) {
      TViewRuns& r = *run;
      const auto render = [&] {
        r.Render = std::min(r.Render, Seconds([&] {
                              r.Manager.RenderView(0, r.Case.Index, r.Case.View, r.Image);
                              benchmark::ClobberMemory();
                            }));
      };
      const auto floor = [&] {
        r.FloorTime =
            std::min(r.FloorTime, Seconds([&] { benchmark::DoNotOptimize(r.Floor.Run()); }));
      };
      // Whichever runs second finds the pages the first read still in the
      // caches, so each goes second in every other round.
      if (round % 2 == 0) {
        render();
        floor();
      } else {
        floor();
        render();
      }
      r.Copy = std::min(r.Copy, Seconds([&] { Buffers.Copy(r.Case); }));
      if (r.CountsHistogram()) {
        r.Manager.RenderView(0, r.Case.Index, r.Case.View, r.Image);
        r.Histogram = std::min(r.Histogram, Seconds([&] { r.CountHistogram(); }));
        r.Redraw = std::min(r.Redraw, Seconds([&] { r.RedrawViews(TViewRuns::NoCount); }));
        r.RedrawAside =
            std::min(r.RedrawAside, Seconds([&] { r.RedrawViews(TViewRuns::CountAlong); }));
        r.RedrawWrong = std::min(r.RedrawWrong,
                                 Seconds([&] { r.RedrawViews(TViewRuns::CountAlongWrongGuess); }));
        r.RedrawInLine =
            std::min(r.RedrawInLine, Seconds([&] { r.RedrawViews(TViewRuns::CountInLine); }));
      }
    }
}

std::string FormatTime(double seconds) {
  char text[32];
  if (seconds < 1e-3)
    std::snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
  else
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1e3);
  return text;
}

void PrintTable(const std::vector<std::unique_ptr<TViewRuns>>& Runs, int32_t Rounds) {
  std::printf(
      "minimum of %d interleaved runs; floor = the view's preads + one write of its bitmap\n",
      Rounds);
  std::printf("%-28s %11s %11s %7s %11s %7s %10s\n", "view", "render", "floor", "/floor", "memcpy",
              "/memcpy", "voxels/s");
  for (const std::unique_ptr<TViewRuns>& run : Runs) {
    const TViewRuns& r = *run;
    if (r.Case.Volumes > 1)
      continue;
    const double voxelsPerSecond = static_cast<double>(r.Case.Voxels()) / r.Render;
    std::printf("%-28s %11s %11s %7.2f %11s %7.2f %8.1f M\n", r.Case.Label.c_str(),
                FormatTime(r.Render).c_str(), FormatTime(r.FloorTime).c_str(),
                r.Render / r.FloorTime, FormatTime(r.Copy).c_str(), r.Render / r.Copy,
                voxelsPerSecond / 1e6);
  }
  std::printf("\n%-28s %11s %11s %17s\n", "first view", "render", "histogram", "render+histogram");
  for (const std::unique_ptr<TViewRuns>& run : Runs)
    if (run->CountsHistogram() && run->Case.Volumes == 1)
      std::printf("%-28s %11s %11s %16.2fx\n", run->Case.Label.c_str(),
                  FormatTime(run->Render).c_str(), FormatTime(run->Histogram).c_str(),
                  (run->Render + run->Histogram) / run->Render);
  std::printf("\n%-28s %11s %11s %7s %11s %7s %11s %7s\n", "redraw of four views", "views",
              "+histogram", "ratio", "wrong guess", "ratio", "in line", "ratio");
  for (const int32_t volumes : {1, 2})
    for (const std::unique_ptr<TViewRuns>& run : Runs)
      if (run->CountsHistogram() && run->Case.Volumes == volumes)
        std::printf("%-28s %11s %11s %7.3f %11s %7.3f %11s %7.3f\n", run->Case.Label.c_str(),
                    FormatTime(run->Redraw).c_str(), FormatTime(run->RedrawAside).c_str(),
                    run->RedrawAside / run->Redraw, FormatTime(run->RedrawWrong).c_str(),
                    run->RedrawWrong / run->Redraw, FormatTime(run->RedrawInLine).c_str(),
                    run->RedrawInLine / run->Redraw);
  std::fflush(stdout);
}

struct TOptions {
  int32_t Rounds = 40;
  std::string Views; // only the views whose key contains it
};

// --rounds=N and --views=TEXT; the rest of the arguments go to the benchmark library.
TOptions TakeOptions(int& argc, char** argv) {
  TOptions options;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--rounds=", 9) == 0)
      options.Rounds = std::max(1, std::atoi(argv[i] + 9));
    else if (std::strncmp(argv[i], "--views=", 8) == 0)
      options.Views = argv[i] + 8;
    else
      argv[kept++] = argv[i];
  }
  argc = kept;
  return options;
}

void RunAll(const TOptions& Options) {
  TTempDir dir;
  std::vector<TViewCase> cases = MakeCases();
  std::erase_if(cases,
                [&](const TViewCase& c) { return c.Key.find(Options.Views) == std::string::npos; });
  for (TViewCase& c : cases) {
    c.Path = (dir.Path() / (c.Key + ".raw")).string();
    WriteVolume(c);
  }
  TCopyBuffers buffers(cases);
  std::vector<std::unique_ptr<TViewRuns>> runs;
  for (const TViewCase& c : cases) {
    // The first render pulls the file into the page cache and grows the buffers.
    if (!runs.emplace_back(std::make_unique<TViewRuns>(c))->Whole())
      throw std::runtime_error("the view " + c.Key + " did not come whole from the file");
  }
  MeasureViews(runs, buffers, Options.Rounds);
  PrintTable(runs, Options.Rounds);
}

} // namespace

int main(int argc, char** argv) {
  const TOptions options = TakeOptions(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  int result = 1;
  try {
    RunAll(options);
    result = 0;
  } catch (const std::exception& e) {
    std::cerr << "render_bench: " << e.what() << '\n';
  }
  benchmark::Shutdown();
  return result;
}
