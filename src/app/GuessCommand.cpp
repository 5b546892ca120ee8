#include "app/GuessCommand.h"

#include "app/CommandLine.h"

#include <algorithm>
#include <cmath>

namespace {

// A reason can quote a file name, whose bytes may include line breaks; one
// proposal must stay one line, whatever else the name holds.
std::string OneLine(std::string Text) {
  for (char& c : Text)
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7F')
      c = ' ';
  return Text;
}

// Written by hand rather than by printf, whose decimal point follows the
// locale that the application object sets.
std::string ScoreText(double Score) {
  const double bounded = std::isnan(Score) ? 0.0 : std::clamp(Score, 0.0, 1.0);
  const int hundredths = static_cast<int>(std::lround(bounded * 100.0));
  const int fraction = hundredths % 100;
  return std::to_string(hundredths / 100) + (fraction < 10 ? ".0" : ".") + std::to_string(fraction);
}

} // namespace

std::string LayoutOptions(const TLayout& Layout) {
  const std::pair<const char*, int32_t> numbers[] = {
      {"--skip-header ", Layout.HeaderBytes},
      {" --voxels-per-row ", Layout.VoxelsPerRow},
      {" --rows-per-slice ", Layout.RowsPerSlice},
      {" --slices-per-volume ", Layout.SlicesPerVolume}};
  std::string options;
  for (const auto& [option, value] : numbers)
    options.append(option).append(std::to_string(value));
  const bool bigEndian = Layout.ByteOrder == boBigEndian && BytesPerVoxel.at(Layout.VoxelType) > 1;
  options.append(" --type ").append(VoxelTypeNames().at(Layout.VoxelType).toStdString());
  return options.append(" --byte-order ").append(bigEndian ? "big" : "little");
}

std::string CandidateLine(const guess::TLayoutCandidate& Candidate) {
  std::string line = LayoutOptions(Candidate.Layout);
  line.append("  # ").append(ScoreText(Candidate.Score));
  if (!Candidate.Reason.empty())
    line.append(" ").append(OneLine(Candidate.Reason));
  return line;
}

TGuessReport ReportGuess(const guess::TLayoutGuess& Guess) {
  TGuessReport report;
  // The options then go with the data file, not with the header that was named.
  if (!Guess.DataFile.empty() && !Guess.Candidates.empty())
    report.Text.append("# the voxels are in ").append(OneLine(Guess.DataFile)).append("\n");
  for (const guess::TLayoutCandidate& candidate : Guess.Candidates)
    report.Text.append(CandidateLine(candidate)).append("\n");
  if (Guess.Candidates.empty()) {
    report.Text.append("# ").append(Guess.Why.empty() ? "No layout found" : OneLine(Guess.Why));
    report.Text.append("\n");
    report.ExitCode = 1;
  }
  return report;
}
