#pragma once

#include "guess/LayoutGuess.h"

#include <string>

// The layout options of this program that read a file as Layout, in the form
// the command line takes them back.
std::string LayoutOptions(const TLayout& Layout);

// One printed proposal: the layout options, then "  # ", the score with two
// decimals and the reason, on one line.
std::string CandidateLine(const guess::TLayoutCandidate& Candidate);

struct TGuessReport {
  std::string Text; // the host's bytes, one line per proposal
  int ExitCode = 0; // 0 with proposals, 1 without
};

// What "--guess" prints: the proposals best first, or one comment line that
// says why there is none.
TGuessReport ReportGuess(const guess::TLayoutGuess& Guess);
