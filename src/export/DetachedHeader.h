#pragma once

#include "data/Layout.h"
#include "platform/Decompress.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The layout said in the words of other tools: detached headers that point
// at the data file where it lies, and a line of Python that maps it.
namespace layoutexport {

enum class THeaderFormat { Nrrd, MetaImage, Envi };

// The format that a header file's extension names (.nhdr, .mhd, .hdr in any
// case), or none.
std::optional<THeaderFormat> HeaderFormatOf(const std::string& Name);
const char* ExtensionOf(THeaderFormat Format); // ".nhdr", ".mhd", ".hdr"
const char* FormatName(THeaderFormat Format);  // "NRRD", "MetaImage", "ENVI"

// How much of a file of FileBytes bytes the layout describes, fastest axis
// first: the row, the rows and the slices, then the volumes when more than
// one whole volume is there. Only whole slices count, so that no reader runs
// past the end of the file; with none, Why says so.
struct TExtent {
  std::vector<int64_t> Sizes;
  std::string Why;
};
TExtent ExtentOf(const TLayout& Layout, int64_t FileBytes);

// A text for a file, or why there is none.
struct TText {
  std::string Text;
  std::string Why;
};

// The header text of a file laid out by Layout over Extent, naming the data
// file as DataFileReference (NRRD and MetaImage; an ENVI header is found by
// the data file's name instead). Nothing where the format cannot say the
// voxel type or the reference cannot stand in a header line. A compressed
// data file is laid out in its decompressed bytes: NRRD says so for gzip
// ("encoding: gzip"); for any other pairing there is nothing, with the reason.
TText HeaderText(THeaderFormat Format, const TLayout& Layout, const TExtent& Extent,
                 const std::string& DataFileReference,
                 platform::TCompression Compression = platform::TCompression::None);

// numpy.memmap(...) over the file FileName as given, slowest axis first.
std::string NumpyLine(const std::string& FileName, const TLayout& Layout, const TExtent& Extent);

} // namespace layoutexport
