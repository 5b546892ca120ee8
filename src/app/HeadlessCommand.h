#pragma once

#include "data/Layout.h"
#include "data/VoxelTypes.h"
#include "data/Zoom.h"

#include <cstdint>
#include <string>

// The commands that end without a window: a detached header, a NumPy line,
// and the picture of one view.
struct THeadlessCommand {
  enum TKind { WriteHeader, PrintLayout, ExportView };
  TKind Kind = WriteHeader;
  std::string Out{};  // the host's bytes; the header or picture written
  std::string File{}; // the host's bytes; the data file, only ever read
  bool Force = false; // an existing Out may be replaced
  // The window's working defaults, then the options.
  TLayout Layout{0, 256, 256, 256, vtByte, boLittleEndian};
  int32_t IntensityMin = 0;
  int32_t IntensityMax = 256;
  bool FlagOverUnder = false;
  TViewKind View = vkSlice;
  int32_t Slice = 0;
  int32_t CrossSliceRow = 0;
  int32_t Volume = 1;
  int ZoomStep = zoom::ActualSize;
};

struct THeadlessResult {
  std::string Output{}; // for standard output
  std::string Error{};  // one line, for standard error: the reason, or a note on success
  int ExitCode = 0;     // 0 done, 1 nothing written
};

THeadlessResult RunHeadless(const THeadlessCommand& Command);

// The picture of one view as the window paints it, shown at the zoom step, in
// the format that Name's extension asks for (.png or .bmp), as the bytes of
// that file; empty, with the reason in Why, when there is no picture. A step
// at which the picture would pass 2 GiB is lowered to the largest that
// fits, and Why says so.
std::string ViewPictureFile(const THeadlessCommand& Command, std::string& Why);
