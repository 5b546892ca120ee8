// How often the layout guesser is right on a corpus whose truth.tsv gives each
// file's layout (scripts/guess-corpus writes one), and how long a guess takes.
//
// A candidate is right when its header, row length and rows per slice are the
// truth's and its type and byte order decode the same numbers as the truth's,
// so int16 and uint16 agree on data below 32768.
//
// The figures come per group of sources: "tuned" (the MRI sources the guesser
// was tuned on), "tune" (other fields, free to tune on) and "heldout" (sources
// never tuned on: the honest measure), and within the held-out group per
// class of file.

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
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace guess;

namespace {

const std::array<std::string, 3> Groups = {"tuned", "tune", "heldout"};

struct TTruthLine {
  std::string Path;
  std::string Kind;
  std::optional<TLayout> Layout; // none for a file that is only timed
  std::string Source;
  std::string Group = "tuned"; // a truth without the columns predates the other sources
  std::string Class;           // container, written, trailing, single, stack, counts, ...
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
  const auto type = std::find_if(VoxelTypeTable.begin(), VoxelTypeTable.end(),
                                 [&](const TVoxelTypeFacts& F) { return Fields[5] == F.Name; });
  if (type == VoxelTypeTable.end())
    throw std::runtime_error("unknown type " + Fields[5]);
  layout.VoxelType = static_cast<TVoxelType>(type - VoxelTypeTable.begin());
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
    if (fields.size() != 8 && fields.size() != 11)
      throw std::runtime_error("truth line without 8 or 11 fields: " + line);
    TTruthLine truth;
    truth.Path = Dir + "/" + fields[0];
    truth.Kind = fields[7];
    truth.Layout = ParseLayout(fields);
    if (fields.size() == 11) {
      truth.Source = fields[8];
      truth.Group = fields[9];
      truth.Class = fields[10];
    }
    if (std::find(Groups.begin(), Groups.end(), truth.Group) == Groups.end())
      throw std::runtime_error("unknown group " + truth.Group);
    lines.push_back(std::move(truth));
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
  return Type < VoxelTypeCount ? VoxelTypeTable[Type].Name : "?";
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

struct TTally {
  int Judged = 0, Best = 0, TopThree = 0;
  void Count(const TResult& R) {
    Judged += R.Truth->Layout.has_value();
    Best += R.RightAt == 0;
    TopThree += R.RightAt >= 0 && R.RightAt < 3;
  }
};

void PrintTally(const std::string& Label, const TTally& T) {
  std::printf("  %-22s %4d files  best %5.1f %% (%d)  first three %5.1f %% (%d)\n", Label.c_str(),
              T.Judged, Percent(T.Best, T.Judged), T.Best, Percent(T.TopThree, T.Judged),
              T.TopThree);
}

// Per group, per class of file and per source within the tune and held-out
// groups, and how many containers as shipped have their own layout as the
// best candidate.
void ReportGroups(const std::vector<TResult>& Results) {
  std::map<std::string, TTally> byGroup, containers, written;
  std::map<std::string, std::map<std::string, TTally>> byClass, bySource;
  std::map<std::string, std::set<std::string>> sources;
  for (const TResult& r : Results) {
    if (!r.Truth->Layout)
      continue;
    byGroup[r.Truth->Group].Count(r);
    sources[r.Truth->Group].insert(r.Truth->Source);
    if (r.Truth->Group != "tuned") {
      byClass[r.Truth->Group][r.Truth->Class].Count(r);
      bySource[r.Truth->Group][r.Truth->Source].Count(r);
    }
    if (r.Truth->Class == "container")
      containers[r.Truth->Group].Count(r);
    if (r.Truth->Class == "written")
      written[r.Truth->Group].Count(r);
  }
  std::printf("\nby group of sources:\n");
  for (const std::string& group : Groups) {
    PrintTally(group, byGroup[group]);
    std::string names;
    for (const std::string& source : sources[group])
      names += " " + source;
    std::printf("  %-22s sources:%s\n", "", names.c_str());
  }
  for (const auto& [group, classes] : byClass) {
    std::printf("\n%s, by class of file:\n", group.c_str());
    for (const auto& [cls, tally] : classes)
      PrintTally(cls.empty() ? "?" : cls, tally);
    // Sources join the corpus over time: each one's own figure shows what a
    // newcomer found on first sight.
    std::printf("%s, by source:\n", group.c_str());
    for (const auto& [source, tally] : bySource[group])
      PrintTally(source, tally);
  }
  std::printf("\nevery container recognised exactly (containers as shipped, best candidate):\n");
  int all = 0, right = 0;
  for (const std::string& group : Groups) {
    all += containers[group].Judged;
    right += containers[group].Best;
    std::printf("  %-22s %d of %d\n", group.c_str(), containers[group].Best,
                containers[group].Judged);
  }
  std::printf("  %-22s %d of %d\n", "all", right, all);
  // Containers this corpus wrote from real data, beside those the packages ship.
  std::printf("written containers, best candidate:");
  for (const std::string& group : Groups)
    std::printf(" %s %d of %d;", group.c_str(), written[group].Best, written[group].Judged);
  std::printf("\n");
}

void ReportFigures(const std::vector<TResult>& Results) {
  TTally tally;
  for (const TResult& r : Results)
    tally.Count(r);
  const int judged = tally.Judged, best = tally.Best, topThree = tally.TopThree;
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
void ReportWrong(const std::vector<TResult>& Results, const std::string& Group) {
  std::vector<const TResult*> wrong;
  std::map<std::string, int> byType;
  for (const TResult& r : Results)
    if (r.Truth->Layout && r.RightAt != 0 && r.Truth->Group == Group) {
      wrong.push_back(&r);
      ++byType[TypeName(r.Truth->Layout->VoxelType)];
    }
  std::sort(wrong.begin(), wrong.end(),
            [](const TResult* A, const TResult* B) { return A->Truth->Kind < B->Truth->Kind; });
  std::printf("\n%s: best candidate wrong: %zu; by true type:", Group.c_str(), wrong.size());
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
    ReportGroups(results);
    for (auto group = Groups.rbegin(); group != Groups.rend(); ++group)
      ReportWrong(results, *group);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "guess_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
