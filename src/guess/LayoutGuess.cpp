#include "guess/LayoutGuess.h"

#include "guess/content/ContentGuess.h"
#include "guess/formats/FormatHeaders.h"
#include "platform/FileStream.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace guess {

namespace {

// Enough for any header the readers know and for the preamble of a raw file.
constexpr int64_t HeadBytes = int64_t{64} << 10;

// Whether B differs from A only in the signedness of its integers: the two
// are right or wrong together, so the second wastes a place near the top;
// they go behind the candidates that differ more.
bool TwinOf(const TLayout& A, const TLayout& B) {
  const auto unsignedOf = [](TVoxelType T) {
    switch (T) {
    case vtInt8:
      return vtByte;
    case vtInt16:
      return vtUInt16;
    case vtInt32:
      return vtUInt32;
    case vtInt64:
      return vtUInt64;
    default:
      return T;
    }
  };
  TLayout b = B;
  b.VoxelType = A.VoxelType;
  return A.VoxelType != B.VoxelType && b == A && unsignedOf(A.VoxelType) == unsignedOf(B.VoxelType);
}

// Whether B only moves A's header or its slice height a little while keeping
// the rest: such variants are right or wrong mostly together.
bool Variant(const TLayout& A, const TLayout& B) {
  return A.VoxelsPerRow == B.VoxelsPerRow && A.VoxelType == B.VoxelType &&
         A.ByteOrder == B.ByteOrder &&
         (A.RowsPerSlice == B.RowsPerSlice ||
          (A.HeaderBytes == B.HeaderBytes && std::abs(A.RowsPerSlice - B.RowsPerSlice) <= 2));
}

// Whether A and B decode the bytes differently.
bool OtherReading(const TLayout& A, const TLayout& B) {
  TLayout b = B;
  b.VoxelType = A.VoxelType;
  b.ByteOrder = A.ByteOrder;
  return (A.VoxelType != B.VoxelType || A.ByteOrder != B.ByteOrder) && !TwinOf(A, b) &&
         !TwinOf(A, B);
}

// The first three hold a second reading of the values when there is one:
// smoothness tells an integer from a float of the same width only weakly,
// and a choice between two types is easier to offer than to make.
void PromoteOtherReading(std::vector<TLayoutCandidate>& Ranked) {
  constexpr ptrdiff_t place = 2;
  if (static_cast<ptrdiff_t>(Ranked.size()) <= place)
    return;
  const TLayout& top = Ranked.front().Layout;
  const auto otherOf = [&](bool SameWidth) {
    return std::find_if(Ranked.begin() + 1, Ranked.end(), [&](const auto& C) {
      return OtherReading(top, C.Layout) &&
             (!SameWidth || BytesPerVoxel[C.Layout.VoxelType] == BytesPerVoxel[top.VoxelType]);
    });
  };
  // Of the same width first: the likelier mistake.
  auto other = otherOf(true);
  if (other == Ranked.end())
    other = otherOf(false);
  if (other != Ranked.end() && other - Ranked.begin() > place)
    std::rotate(Ranked.begin() + place, other, other + 1);
}

// Header findings first (a header that fits the file states the layout), then
// what the content says; one entry per layout, within the control ranges.
std::vector<TLayoutCandidate> Combine(std::vector<TLayoutCandidate> FromHeaders,
                                      std::vector<TLayoutCandidate> FromContent) {
  const auto byScore = [](const TLayoutCandidate& A, const TLayoutCandidate& B) {
    return A.Score > B.Score;
  };
  std::stable_sort(FromHeaders.begin(), FromHeaders.end(), byScore);
  std::stable_sort(FromContent.begin(), FromContent.end(), byScore);
  std::vector<TLayoutCandidate> fresh, twins;
  for (TLayoutCandidate& candidate : FromContent)
    (std::any_of(fresh.begin(), fresh.end(),
                 [&](const auto& Kept) {
                   return TwinOf(Kept.Layout, candidate.Layout) ||
                          Variant(Kept.Layout, candidate.Layout);
                 })
         ? twins
         : fresh)
        .push_back(std::move(candidate));
  FromContent = std::move(fresh);
  FromContent.insert(FromContent.end(), twins.begin(), twins.end());
  PromoteOtherReading(FromContent);
  std::vector<TLayoutCandidate> ranked;
  for (auto* list : {&FromHeaders, &FromContent})
    for (TLayoutCandidate& candidate : *list) {
      const bool known = std::any_of(ranked.begin(), ranked.end(), [&](const auto& Kept) {
        return Kept.Layout == candidate.Layout;
      });
      if (known || !WithinRanges(candidate.Layout) ||
          static_cast<int>(ranked.size()) >= MaxLayoutCandidates)
        continue;
      // Best first, so no later candidate may claim a higher score.
      candidate.Score =
          std::clamp(candidate.Score, 0.0, ranked.empty() ? 1.0 : ranked.back().Score);
      ranked.push_back(std::move(candidate));
    }
  return ranked;
}

} // namespace

TLayoutGuess GuessLayout(const std::string& Name) {
  if (!platform::FileExists(Name))
    return {{}, "The file does not exist"};
  std::unique_ptr<platform::TFileStream> stream;
  try {
    stream = std::make_unique<platform::TFileStream>(Name);
  } catch (const platform::EFOpenError& error) {
    return {{}, error.what()};
  }
  const int64_t size = stream->Size();
  if (size < 0)
    return {{}, "Not a regular file: a pipe or device has no layout to guess"};
  if (size == 0)
    return {{}, "The file is empty"};
  std::vector<uint8_t> head(static_cast<size_t>(std::min(size, HeadBytes)));
  head.resize(
      static_cast<size_t>(stream->ReadAt(0, head.data(), static_cast<int64_t>(head.size()))));
  if (head.empty())
    return {{}, "The file cannot be read"};

  const THeaderFinding finding =
      ReadFormatHeaders(Name, head.data(), static_cast<int64_t>(head.size()), size);
  TLayoutGuess guess;
  guess.Candidates = Combine(finding.Candidates, GuessFromContent(*stream, size, head));
  if (guess.Candidates.empty())
    guess.Why = !finding.Note.empty() ? finding.Note
                : size < 64           ? "The file is too small to hold an image"
                                      : "Nothing in the file suggests a layout";
  return guess;
}

} // namespace guess
