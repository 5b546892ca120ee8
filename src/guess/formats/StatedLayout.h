#pragma once

#include "data/VoxelTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace guess {

// A layout as a header states it, before it is held against the file it
// describes. Where the voxels start is worked out in steps, because the text
// formats count lines and bytes after the header, or count back from the end.
struct TStatedLayout {
  std::vector<int64_t> Dims; // fastest first, as stated (not yet checked)
  TVoxelType VoxelType = vtByte;
  TByteOrder ByteOrder = boLittleEndian;
  int64_t DataStart = 0;  // offset in the data file where the skips begin
  int64_t LineSkip = 0;   // lines skipped from DataStart
  int64_t ByteSkip = 0;   // bytes skipped after those lines
  bool DataAtEnd = false; // the voxels end the data file; the skips do not apply
  double Score = 0.99;    // for a file that holds exactly the stated voxels
  // The file holds other parts beside these voxels (a container's other
  // images, tables, its directory), so more bytes after them are no doubt.
  bool PartOfMore = false;
  // The reason for a person, naming the format and the part of the file, such
  // as "FITS image extension 2, BITPIX -32"; empty: "<format> header".
  std::string Note;
};

// What a container that states its layout outright (DICOM, FITS, TIFF, ...)
// says of the file it starts.
struct TContainerReading {
  std::string Format;                 // "DICOM", "FITS", ...; empty when not this container
  std::vector<TStatedLayout> Layouts; // best first; a multi-part file gives one per part
  // Set when the container is recognised but none of its images can be shown
  // as raw voxels, such as "DICOM with JPEG-compressed pixel data: the file
  // holds no raw voxels".
  std::string NoRawVoxels;
};

// What one header says about where and how its voxels lie.
struct THeaderReading {
  std::string Format;    // "NIfTI-1", "MetaImage", ...; empty when not recognised
  std::string Detail;    // said after the format, such as " (big-endian)"
  bool Detached = false; // the voxels are in another file
  // The other file as the header names it; empty when the header file's own
  // name implies it (an .img beside an .hdr).
  std::string DataFile;
  bool SeveralDataFiles = false;       // a list or pattern of files: not offered
  std::optional<TStatedLayout> Layout; // absent when the layout cannot be offered
};

} // namespace guess
