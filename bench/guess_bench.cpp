// How often the layout guesser is right on a corpus whose truth.tsv gives each
// file's layout (scripts/guess-corpus writes one), and how long a guess takes.
//
// A candidate is right when its header, row length and rows per slice are the
// truth's and its type and byte order decode the same numbers as the truth's,
// so int16 and uint16 agree on data below 32768.

#include "data/VoxelDecoder.h"
#include "guess/LayoutGuess.h"
#include "platform/FileStream.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace guess;

namespace {

constexpr std::array<const char*, VoxelTypeCount> TypeNames = {
    "byte",   "int16", "int32",  "float32", "uint16", "int8",
    "uint32", "int64", "uint64", "float16", "float64"};

struct TTruthLine {
  std::string Path;
  std::string Kind;
  std::optional<TLayout> Layout; // none for a file that is only timed
};

struct TResult {
  const TTruthLine* Truth;
  TLayoutGuess Guess;
  double Seconds = 0.0;
  int RightAt = -1; // index of the first right candidate
};

std::optional<TLayout> ParseLayout(const std::vector<std::string>& Fields) {
  if (Fields[1] == "-")
    return std::nullopt;
  TLayout layout;
  layout.HeaderBytes = std::stoi(Fields[1]);
  layout.VoxelsPerRow = std::stoi(Fields[2]);
  layout.RowsPerSlice = std::stoi(Fields[3]);
  layout.SlicesPerVolume = std::stoi(Fields[4]);
  const auto type = std::find(TypeNames.begin(), TypeNames.end(), Fields[5]);
  if (type == TypeNames.end())
    throw std::runtime_error("unknown type " + Fields[5]);
  layout.VoxelType = static_cast<TVoxelType>(type - TypeNames.begin());
  layout.ByteOrder = Fields[6] == "big" ? boBigEndian : boLittleEndian;
  return layout;
}

std::vector<TTruthLine> ReadTruth(const std::string& Dir) {
  std::ifstream in(Dir + "/truth.tsv");
  if (!in)
    throw std::runtime_error("cannot read " + Dir + "/truth.tsv (scripts/guess-corpus makes it)");
  std::vector<TTruthLine> lines;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#')
      continue;
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');)
      fields.push_back(field);
    if (fields.size() != 8)
      throw std::runtime_error("truth line without 8 fields: " + line);
    lines.push_back({Dir + "/" + fields[0], fields[7], ParseLayout(fields)});
  }
  return lines;
}

// Every value a decoder yields, exactly: 64-bit integers and doubles alike.
static_assert(std::numeric_limits<long double>::digits >= 64);
long double Number(const TVoxelValue& V) {
  switch (V.Kind) {
  case TVoxelValue::Signed:
    return static_cast<long double>(V.SignedValue);
  case TVoxelValue::Unsigned:
    return static_cast<long double>(V.UnsignedValue);
  case TVoxelValue::Real:
    break;
  }
  return V.RealValue;
}

// Equal as numbers whatever the types that stored them; a NaN equals a NaN.
bool SameNumber(const TVoxelValue& A, const TVoxelValue& B) {
  const long double a = Number(A), b = Number(B);
  return a == b || (std::isnan(a) && std::isnan(b));
}

// Voxels First .. First + Count - 1 after Header as Type and Order; fewer when
// the file ends sooner.
std::vector<TVoxelValue> Voxels(platform::TFileStream& File, int64_t Header, int64_t First,
                                int64_t Count, TVoxelType Type, TByteOrder Order) {
  const int64_t size = BytesPerVoxel[Type];
  std::vector<uint8_t> bytes(static_cast<size_t>(Count * size));
  const int64_t got = File.ReadAt(Header + First * size, bytes.data(), Count * size);
  std::vector<TVoxelValue> values;
  for (int64_t p = 0; p < got / size; ++p)
    values.push_back(voxeldecoder::DecodeVoxel(bytes.data(), p, Type, Order));
  return values;
}

// The first megabyte of the truth's voxels and 16 stretches spread over the rest.
bool SameValues(platform::TFileStream& File, int64_t FileSize, const TLayout& Truth,
                const TLayout& Guess) {
  const int64_t voxels = (FileSize - Truth.HeaderBytes) / BytesPerVoxel[Truth.VoxelType];
  std::vector<std::pair<int64_t, int64_t>> stretches = {
      {0, (int64_t{1} << 20) / BytesPerVoxel[Truth.VoxelType]}};
  for (int64_t i = 1; i <= 16; ++i)
    stretches.emplace_back(voxels * i / 17, 4096);
  for (auto [first, count] : stretches) {
    count = std::min(count, voxels - first);
    if (count <= 0)
      continue;
    const auto want =
        Voxels(File, Truth.HeaderBytes, first, count, Truth.VoxelType, Truth.ByteOrder);
    const auto got =
        Voxels(File, Guess.HeaderBytes, first, count, Guess.VoxelType, Guess.ByteOrder);
    if (got.size() != want.size() || !std::equal(want.begin(), want.end(), got.begin(), SameNumber))
      return false;
  }
  return true;
}

int FirstRight(const TTruthLine& Truth, const TLayoutGuess& Guess) {
  const TLayout& t = *Truth.Layout;
  platform::TFileStream file(Truth.Path);
  const auto size = static_cast<int64_t>(std::filesystem::file_size(Truth.Path));
  for (size_t i = 0; i < Guess.Candidates.size(); ++i) {
    const TLayout& g = Guess.Candidates[i].Layout;
    if (g.VoxelType < VoxelTypeCount && g.HeaderBytes == t.HeaderBytes &&
        g.VoxelsPerRow == t.VoxelsPerRow && g.RowsPerSlice == t.RowsPerSlice &&
        SameValues(file, size, t, g))
      return static_cast<int>(i);
  }
  return -1;
}

const char* TypeName(TVoxelType Type) {
  return Type < VoxelTypeCount ? TypeNames[Type] : "?";
}

// "header+row x rows x slices type order", short enough for one line per file.
std::string Brief(const TLayout& L) {
  char text[120];
  std::snprintf(text, sizeof text, "%d+%dx%dx%d %s %s", L.HeaderBytes, L.VoxelsPerRow,
                L.RowsPerSlice, L.SlicesPerVolume, TypeName(L.VoxelType),
                L.ByteOrder == boBigEndian ? "big" : "little");
  return text;
}

double Percent(int Part, int Whole) {
  return Whole == 0 ? 0.0 : 100.0 * Part / Whole;
}

std::string Best(const TLayoutGuess& Guess) {
  if (Guess.Candidates.empty())
    return "none: " + Guess.Why;
  const TLayoutCandidate& c = Guess.Candidates.front();
  char score[16];
  std::snprintf(score, sizeof score, "%.2f", c.Score);
  return Brief(c.Layout) + " " + score + " (" + c.Reason + ")";
}

void ReportFigures(const std::vector<TResult>& Results) {
  int judged = 0, best = 0, topThree = 0;
  for (const TResult& r : Results) {
    judged += r.Truth->Layout.has_value();
    best += r.RightAt == 0;
    topThree += r.RightAt >= 0 && r.RightAt < 3;
  }
  std::vector<const TResult*> byTime;
  for (const TResult& r : Results)
    byTime.push_back(&r);
  std::sort(byTime.begin(), byTime.end(),
            [](const TResult* A, const TResult* B) { return A->Seconds < B->Seconds; });
  std::printf("files judged:           %d (+%zu timed only)\n", judged, Results.size() - judged);
  std::printf("best candidate right:   %.1f %% (%d)\n", Percent(best, judged), best);
  std::printf("one of first three:     %.1f %% (%d)\n", Percent(topThree, judged), topThree);
  std::printf("time per file:          median %.1f ms, worst %.1f ms (%s)\n",
              1e3 * byTime[byTime.size() / 2]->Seconds, 1e3 * byTime.back()->Seconds,
              byTime.back()->Truth->Path.c_str());
  std::printf("\ntimed only, no layout to find:\n");
  for (const TResult& r : Results)
    if (!r.Truth->Layout)
      std::printf("  %-28s %7.1f ms  best: %s\n", r.Truth->Kind.c_str(), 1e3 * r.Seconds,
                  Best(r.Guess).c_str());
}

// Sorted by kind, so that what is still wrong with one source or header shows as a block.
void ReportWrong(const std::vector<TResult>& Results) {
  std::vector<const TResult*> wrong;
  std::map<std::string, int> byType;
  for (const TResult& r : Results)
    if (r.Truth->Layout && r.RightAt != 0) {
      wrong.push_back(&r);
      ++byType[TypeName(r.Truth->Layout->VoxelType)];
    }
  std::sort(wrong.begin(), wrong.end(),
            [](const TResult* A, const TResult* B) { return A->Truth->Kind < B->Truth->Kind; });
  std::printf("\nbest candidate wrong: %zu; by true type:", wrong.size());
  for (const auto& [type, count] : byType)
    std::printf(" %s %d", type.c_str(), count);
  std::printf("\nkind | first right candidate | truth | best candidate (score, reason)\n");
  for (const TResult* r : wrong) {
    const std::string rank = r->RightAt > 0 ? std::to_string(r->RightAt + 1) : "-";
    std::printf("%s | %s | %s | %s\n", r->Truth->Kind.c_str(), rank.c_str(),
                Brief(*r->Truth->Layout).c_str(), Best(r->Guess).c_str());
  }
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: guess_bench CORPUS_DIR\n");
    return 2;
  }
  try {
    const std::vector<TTruthLine> truth = ReadTruth(argv[1]);
    if (truth.empty())
      throw std::runtime_error("the truth lists no file");
    std::vector<TResult> results;
    for (const TTruthLine& line : truth) {
      TResult result{&line, {}};
      const auto start = std::chrono::steady_clock::now();
      try {
        result.Guess = GuessLayout(line.Path);
      } catch (const std::exception& error) {
        // One file's failure is a finding to list, not a reason to lose the run.
        result.Guess.Why = std::string("threw: ") + error.what();
      }
      result.Seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (line.Layout)
        result.RightAt = FirstRight(line, result.Guess);
      results.push_back(std::move(result));
    }
    ReportFigures(results);
    ReportWrong(results);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "guess_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
