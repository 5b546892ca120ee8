// The readers of self-describing headers, on a head held in memory. The first
// byte picks the file's name (so that the paths a name opens run, with no file
// beside it) and how large the file claims to be; the rest is the head.
#include "guess/formats/FormatHeaders.h"

#include <cstdint>

using namespace guess;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0)
    return 0;
  static const char* const Names[] = {
      "/nonexistent/zandrel-fuzz/a.nii", "/nonexistent/zandrel-fuzz/a.img",
      "/nonexistent/zandrel-fuzz/a.hdr", "/nonexistent/zandrel-fuzz/a.raw",
      "/nonexistent/zandrel-fuzz/a.mhd", "/nonexistent/zandrel-fuzz/\xff.nhdr"};
  const uint8_t choice = Data[0];
  const auto headBytes = static_cast<int64_t>(Size - 1);
  const int64_t fileSizes[] = {headBytes, headBytes / 2, headBytes + 1000, int64_t{1} << 40};
  const int64_t fileSize = fileSizes[(choice / 6) % 4];
  const THeaderFinding finding =
      ReadFormatHeaders(Names[choice % 6], Data + 1, headBytes, fileSize);
  // A proposal must be one the window can apply and the file can hold.
  for (const TLayoutCandidate& candidate : finding.Candidates) {
    const TLayout& l = candidate.Layout;
    const bool inRange = WithinRanges(l) && candidate.Score > 0 && candidate.Score <= 1;
    const int64_t volumeBytes = int64_t{l.VoxelsPerRow} * l.RowsPerSlice * l.SlicesPerVolume *
                                BytesPerVoxel[l.VoxelType % VoxelTypeCount];
    if (!inRange || l.HeaderBytes + volumeBytes > fileSize)
      __builtin_trap();
  }
  return 0;
}
