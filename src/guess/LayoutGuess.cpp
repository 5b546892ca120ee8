#include "guess/LayoutGuess.h"

#include "guess/content/ContentGuess.h"
#include "guess/formats/ByteSource.h"
#include "guess/formats/Containers.h"
#include "guess/formats/FormatHeaders.h"
#include "platform/FileStream.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// Whether B reads the bytes as A does but for a little: the same rows behind
// another header, a row or two more or less per slice, or the header moved by
// a row or two. Such near-copies are right or wrong mostly together, so they
// are no alternative to a reading of another type, row length or height.
bool Variant(const TLayout& A, const TLayout& B) {
  if (A.VoxelsPerRow != B.VoxelsPerRow || A.VoxelType != B.VoxelType || A.ByteOrder != B.ByteOrder)
    return false;
  const int64_t rowBytes = int64_t{A.VoxelsPerRow} * BytesPerVoxel[A.VoxelType];
  const int64_t shift = std::abs(int64_t{A.HeaderBytes} - B.HeaderBytes);
  const bool nearRows = std::abs(A.RowsPerSlice - B.RowsPerSlice) <= 2;
  // One image ending a row or two sooner ends before padding, say: another end of the data.
  const bool images = A.SlicesPerVolume == 1 && B.SlicesPerVolume == 1 && shift == 0;
  return A.RowsPerSlice == B.RowsPerSlice || (nearRows && shift <= 2 * rowBytes && !images);
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
  // A score that is no number would leave the order undefined: it ranks last.
  for (auto* list : {&FromHeaders, &FromContent})
    for (TLayoutCandidate& candidate : *list)
      candidate.Score = std::isnan(candidate.Score) ? 0.0 : candidate.Score;
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

TLayoutGuess NoLayout(std::string Why) {
  TLayoutGuess guess;
  guess.Why = std::move(Why);
  return guess;
}

// A file opened for a guess: its stream, its size and its first bytes.
struct TOpenedFile {
  std::unique_ptr<platform::TFileStream> Stream;
  int64_t Size = 0;
  std::vector<uint8_t> Head;
};

// Opens Name for a guess; the reason for a person when there is nothing to guess.
std::string Open(const std::string& Name, TOpenedFile& File,
                 const platform::TIndexProgress& Progress) {
  std::error_code error;
  if (std::filesystem::is_directory(Name, error))
    return "This is a folder, not a file";
  if (!platform::FileExists(Name))
    return "The file does not exist";
  try {
    File.Stream = std::make_unique<platform::TFileStream>(Name, Progress);
  } catch (const platform::EOpenCancelled&) {
    throw;
  } catch (const platform::EFOpenError& openError) {
    return openError.what();
  }
  File.Size = File.Stream->Size();
  if (File.Size < 0)
    return "Not a regular file: a pipe or device has no layout to guess";
  // A compressed file of which nothing decompresses for a reason is not empty.
  const std::string trouble = platform::DecodeTrouble(File.Stream->DecodeState());
  if (File.Size == 0 && !trouble.empty())
    return std::string("Nothing of this ") + platform::CompressionName(File.Stream->Compression()) +
           " file decompresses (" + trouble + ")";
  // Kernel files (/proc, /sys) state no size yet hold text: not empty, and
  // no volume either.
  if (File.Size == 0 &&
      std::ifstream(Name, std::ios::binary).get() != std::ifstream::traits_type::eof())
    return "The file states no size, as kernel files such as those under /proc do: it has no "
           "layout to guess";
  if (File.Size == 0)
    return "The file is empty";
  File.Head.resize(static_cast<size_t>(std::min(File.Size, HeadBytes)));
  File.Head.resize(static_cast<size_t>(
      std::max<int64_t>(File.Stream->ReadAt(0, File.Head.data(), std::ssize(File.Head)), 0)));
  return File.Head.empty() ? "The file cannot be read" : "";
}

// The candidates a container states for the whole file, each fitted to it.
std::vector<TLayoutCandidate> FitContainer(const TContainerReading& Reading,
                                           const TOpenedFile& File) {
  std::vector<TLayoutCandidate> fitted;
  for (TStatedLayout stated : Reading.Layouts) {
    stated.PartOfMore = true;
    if (auto candidate = FitStated(stated, File.Head.data(), std::ssize(File.Head), File.Size,
                                   stated.Note.empty() ? Reading.Format + " header" : stated.Note))
      fitted.push_back(std::move(*candidate));
  }
  return fitted;
}

// The stated layouts (from a container or a header), then what the content
// says: a container that holds no raw voxels says so instead of a guess
// from bytes that are not voxels.
TLayoutGuess GuessOpened(const TOpenedFile& File, std::vector<TLayoutCandidate> Stated) {
  TByteSource source(*File.Stream, File.Size);
  const TContainerReading container = ReadContainers(source);
  std::vector<TLayoutCandidate> fromContainer = FitContainer(container, File);
  if (fromContainer.empty() && Stated.empty() && !container.NoRawVoxels.empty())
    return NoLayout(container.NoRawVoxels);
  fromContainer.insert(fromContainer.end(), std::make_move_iterator(Stated.begin()),
                       std::make_move_iterator(Stated.end()));
  TLayoutGuess guess;
  guess.Candidates =
      Combine(std::move(fromContainer), GuessFromContent(*File.Stream, File.Size, File.Head));
  if (guess.Candidates.empty())
    guess.Why = !container.Format.empty()
                    ? container.Format + " file whose stated images do not fit its size"
                : File.Size < 64 ? "The file is too small to hold an image"
                                 : "Nothing in the file suggests a layout";
  // What little there is may be all that a damaged or cut-off file gives.
  if (const std::string trouble = platform::DecodeTrouble(File.Stream->DecodeState());
      guess.Candidates.empty() && !trouble.empty())
    guess.Why += ": only " + std::to_string(File.Size) + " bytes of this " +
                 platform::CompressionName(File.Stream->Compression()) + " file decompress (" +
                 trouble + ")";
  return guess;
}

} // namespace

TLayoutGuess GuessLayout(const std::string& Name, const platform::TIndexProgress& Progress) {
  TOpenedFile file;
  if (const std::string why = Open(Name, file, Progress); !why.empty())
    return NoLayout(why);
  const THeaderFinding finding =
      ReadFormatHeaders(Name, file.Head.data(), std::ssize(file.Head), file.Size);
  // A detached header stands for its data file: the layouts worth proposing
  // are the data file's, with the header's own first.
  TOpenedFile data;
  if (!finding.DataFile.empty() && Open(finding.DataFile, data, Progress).empty()) {
    std::vector<TLayoutCandidate> stated;
    if (finding.DataLayout)
      if (auto fitted = FitStated(*finding.DataLayout, data.Head.data(), std::ssize(data.Head),
                                  data.Size, finding.DataReason))
        stated.push_back(std::move(*fitted));
    TLayoutGuess guess = GuessOpened(data, std::move(stated));
    guess.DataFile = finding.DataFile;
    return guess;
  }
  // Bytes of a header are no image: where the data file cannot be read, say where it is.
  if (!finding.Note.empty())
    return NoLayout(finding.Note);
  return GuessOpened(file, finding.Candidates);
}

} // namespace guess
