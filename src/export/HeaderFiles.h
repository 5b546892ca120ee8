#pragma once

#include "data/Layout.h"
#include "export/DetachedHeader.h"

#include <cstdint>
#include <string>

// Writing what other tools read beside the data file, which is never written.
// Names are the host's bytes; every error text is one line that a person can
// read, with the file's name in double quotes.
namespace layoutexport {

// Name fit for a one-line message: control characters become '?'.
std::string ShownName(const std::string& Name);

// The data file as a header written to HeaderName names it: relative to the
// header's folder when the data file lies there or below, absolute otherwise.
std::string DataFileReference(const std::string& HeaderName, const std::string& DataFile);

// An ENVI header names no data file: readers find it beside the data file
// as <stem>.hdr or <name>.hdr. Elsewhere it is found by no one, which this
// says; empty where it will be found.
std::string EnviPlacementNote(const std::string& HeaderName, const std::string& DataFile);

// The size of the data file, or -1 with Why when it is not a regular file
// (a folder, a pipe or a device says nothing by its size). A compressed file
// gives its decompressed size, and Compression (when given) says how.
int64_t DataFileBytes(const std::string& DataFile, std::string& Why,
                      platform::TCompression* Compression = nullptr);

// Why Name cannot take a written file that may replace it: a folder, a pipe
// or device, or DataFile itself under any of its names. Empty when it can.
std::string TargetProblem(const std::string& Name, const std::string& DataFile);

// Whether an entry of that name exists, a dangling link included.
bool EntryExists(const std::string& Name);

// Writes Bytes to a new file beside Name that takes Name's place only once
// every byte is on disk, so that a full disk or a size limit leaves no
// partial file and an existing one as it was. A link is followed, as editors
// do, and keeps pointing at the new file. Returns the error text, or empty.
std::string WriteFileAtomically(const std::string& Name, const std::string& Bytes);

// The whole of writing the header of DataFile, laid out by Layout, to Name in
// Format: the checks above, the extent of the file as it is now, the text and
// the careful write. Returns the error text, or empty.
std::string WriteDetachedHeader(THeaderFormat Format, const std::string& Name,
                                const std::string& DataFile, const TLayout& Layout);

} // namespace layoutexport
