#include "guess/formats/FormatHeaders.h"

#include "guess/formats/EnviHeader.h"
#include "guess/formats/NiftiHeader.h"
#include "guess/formats/TextHeaders.h"
#include "platform/FileStream.h"

#include <algorithm>
#include <optional>

namespace guess {

namespace {

// A text header beside a data file is read this far and no further.
constexpr int64_t SiblingHeadBytes = int64_t{64} << 10;
// Enough for the larger binary header, NIfTI-2's.
constexpr int64_t PairHeaderBytes = 540;

std::string BaseName(const std::string& Name) {
  const size_t slash = Name.rfind('/');
  return slash == std::string::npos ? Name : Name.substr(slash + 1);
}

// Where the extension starts (its dot), or the length when there is none; a
// leading dot names a hidden file and starts no extension.
size_t ExtensionStart(const std::string& Name) {
  const size_t slash = Name.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = Name.rfind('.');
  return dot == std::string::npos || dot <= base ? Name.size() : dot;
}

bool SameNoCase(std::string_view A, std::string_view B) {
  return std::equal(A.begin(), A.end(), B.begin(), B.end(), [](char X, char Y) {
    auto lower = [](char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C + 32) : C; };
    return lower(X) == lower(Y);
  });
}

bool HasExtension(const std::string& Name, std::string_view Extension) {
  return SameNoCase(std::string_view(Name).substr(ExtensionStart(Name)), Extension);
}

// Name with its extension replaced, in the case the old one was written in.
std::string WithExtension(const std::string& Name, const std::string& Lower,
                          const std::string& Upper) {
  const size_t dot = ExtensionStart(Name);
  const bool upper = dot + 1 < Name.size() && Name[dot + 1] >= 'A' && Name[dot + 1] <= 'Z';
  return Name.substr(0, dot) + (upper ? Upper : Lower);
}

// Up to Count bytes from the start of the file Name; nothing when it cannot
// be opened. Never waits: a pipe or a device reads as nothing.
std::vector<uint8_t> ReadHeadOf(const std::string& Name, int64_t Count) {
  try {
    platform::TFileStream stream(Name);
    std::vector<uint8_t> bytes(static_cast<size_t>(Count));
    bytes.resize(static_cast<size_t>(std::max<int64_t>(stream.ReadAt(0, bytes.data(), Count), 0)));
    return bytes;
  } catch (const platform::EFOpenError&) {
    return {};
  }
}

// Where the voxels start, after the stated skips; nothing when that cannot be
// known from the head or is negative.
std::optional<int64_t> VoxelStart(const TStatedLayout& Stated, const uint8_t* Head,
                                  int64_t HeadBytes) {
  int64_t at = Stated.DataStart;
  if (at < 0)
    return std::nullopt;
  for (int64_t line = 0; line < Stated.LineSkip; ++line) {
    const auto* begin = Head + std::min(at, HeadBytes);
    const auto* end = Head + HeadBytes;
    const auto* lineBreak = std::find(begin, end, uint8_t{'\n'});
    if (lineBreak == end)
      return std::nullopt;
    at = lineBreak - Head + 1;
  }
  int64_t start = 0;
  if (Stated.ByteSkip < 0 || __builtin_add_overflow(at, Stated.ByteSkip, &start))
    return std::nullopt;
  return start;
}

void Offer(THeaderFinding& Finding, std::optional<TLayoutCandidate> Candidate) {
  if (!Candidate || static_cast<int>(Finding.Candidates.size()) >= MaxLayoutCandidates)
    return;
  for (const TLayoutCandidate& known : Finding.Candidates)
    if (known.Layout == Candidate->Layout)
      return;
  Finding.Candidates.push_back(std::move(*Candidate));
}

THeaderReading ReadOwnHeader(const uint8_t* Head, int64_t HeadBytes) {
  for (auto* reader :
       {ReadNiftiHeader, ReadNrrdHeader, ReadPnmHeader, ReadMetaImageHeader, ReadEnviHeader}) {
    THeaderReading reading = reader(Head, HeadBytes);
    if (!reading.Format.empty())
      return reading;
  }
  return {};
}

// The data file beside an ENVI header: the header's name without its .hdr,
// or with one of the extensions ENVI writers use; the first that exists.
std::string EnviDataFile(const std::string& Name) {
  const std::string stem = Name.substr(0, ExtensionStart(Name));
  for (const char* extension : {"", ".img", ".dat", ".raw", ".bsq", ".bil", ".bip", ".bin", ".IMG",
                                ".DAT", ".RAW", ".BSQ", ".BIL", ".BIP", ".BIN"})
    if (platform::FileExists(stem + extension) && stem + extension != Name)
      return stem + extension;
  return stem;
}

// For a header file whose voxels are elsewhere: where, for a person.
std::string NoteFor(const THeaderReading& Reading, const std::string& Name) {
  const std::string where = Reading.SeveralDataFiles    ? "several other files"
                            : !Reading.DataFile.empty() ? Reading.DataFile
                            : Reading.Format == "ENVI"
                                ? BaseName(EnviDataFile(Name))
                                : BaseName(WithExtension(Name, ".img", ".IMG"));
  return Reading.Format + " header; its voxels are in " + where;
}

// The data file a detached header names, as a path: beside the header unless
// the header gives an absolute path; an .img beside an Analyze-style .hdr in
// whichever case exists. Empty when it names several.
std::string DataFileOf(const THeaderReading& Reading, const std::string& Name) {
  if (Reading.SeveralDataFiles)
    return {};
  if (Reading.DataFile.empty() && Reading.Format == "ENVI")
    return EnviDataFile(Name);
  if (Reading.DataFile.empty()) {
    const std::string lower = WithExtension(Name, ".img", ".img");
    const std::string upper = WithExtension(Name, ".IMG", ".IMG");
    return !platform::FileExists(lower) && platform::FileExists(upper) ? upper : lower;
  }
  if (Reading.DataFile.starts_with('/'))
    return Reading.DataFile;
  const size_t slash = Name.rfind('/');
  return (slash == std::string::npos ? std::string() : Name.substr(0, slash + 1)) +
         Reading.DataFile;
}

// A header file's name for a data file: the same, or the data file's own name
// in the header's folder (which is the data file's).
bool NamesFile(const std::string& Named, const std::string& Name) {
  std::string_view named(Named);
  while (named.starts_with("./"))
    named.remove_prefix(2);
  return Named == Name || named == BaseName(Name);
}

void OfferSiblings(THeaderFinding& Finding, const std::string& Name, const uint8_t* Head,
                   int64_t HeadBytes, int64_t FileSize) {
  auto offer = [&](const THeaderReading& Reading, const std::string& Sibling) {
    if (Reading.Layout)
      Offer(Finding,
            FitStated(*Reading.Layout, Head, HeadBytes, FileSize,
                      Reading.Format + " header in " + BaseName(Sibling) + Reading.Detail));
  };
  const std::string stem = Name.substr(0, ExtensionStart(Name));
  if (HasExtension(Name, ".img"))
    for (const std::string& sibling : {stem + ".hdr", stem + ".HDR"}) {
      const std::vector<uint8_t> bytes = ReadHeadOf(sibling, PairHeaderBytes);
      const THeaderReading reading = ReadNiftiHeader(bytes.data(), std::ssize(bytes));
      if (reading.Detached && reading.DataFile.empty())
        offer(reading, sibling);
    }
  // ENVI names its header after the data file, with or without the data
  // file's extension; an Analyze .hdr beside an .img is binary and says no "ENVI".
  std::vector<std::string> enviSiblings = {Name + ".hdr", Name + ".HDR"};
  if (stem != Name)
    enviSiblings.insert(enviSiblings.end(), {stem + ".hdr", stem + ".HDR"});
  for (const std::string& sibling : enviSiblings) {
    if (sibling == Name)
      continue;
    const std::vector<uint8_t> bytes = ReadHeadOf(sibling, SiblingHeadBytes);
    offer(ReadEnviHeader(bytes.data(), std::ssize(bytes)), sibling);
  }
  // A .mha or .nrrd usually holds its data, but may name another file as well.
  for (const char* extension :
       {".mhd", ".MHD", ".mha", ".MHA", ".nhdr", ".NHDR", ".nrrd", ".NRRD"}) {
    const std::string sibling = stem + extension;
    if (sibling == Name)
      continue;
    const std::vector<uint8_t> bytes = ReadHeadOf(sibling, SiblingHeadBytes);
    THeaderReading reading = ReadMetaImageHeader(bytes.data(), std::ssize(bytes));
    if (reading.Format.empty())
      reading = ReadNrrdHeader(bytes.data(), std::ssize(bytes));
    if (reading.Detached && !reading.SeveralDataFiles && NamesFile(reading.DataFile, Name))
      offer(reading, sibling);
  }
}

} // namespace

std::optional<TLayoutCandidate> FitStated(const TStatedLayout& Stated, const uint8_t* Head,
                                          int64_t HeadBytes, int64_t FileSize, std::string Reason) {
  const std::vector<int64_t>& dims = Stated.Dims;
  if (dims.empty() || std::any_of(dims.begin(), dims.end(), [](int64_t D) { return D < 1; }))
    return std::nullopt;
  const int64_t shown[3] = {dims[0], dims.size() > 1 ? dims[1] : 1, dims.size() > 2 ? dims[2] : 1};
  if (std::any_of(std::begin(shown), std::end(shown), [](int64_t D) { return D > MaxDimension; }))
    return std::nullopt;
  // At most 10^12 voxels of 8 bytes: no overflow within a volume.
  const int64_t volumeBytes = shown[0] * shown[1] * shown[2] * BytesPerVoxel[Stated.VoxelType];
  int64_t dataBytes = volumeBytes;
  for (size_t i = 3; i < dims.size(); ++i)
    if (__builtin_mul_overflow(dataBytes, dims[i], &dataBytes))
      return std::nullopt;
  const std::optional<int64_t> start = Stated.DataAtEnd
                                           ? std::optional<int64_t>(FileSize - dataBytes)
                                           : VoxelStart(Stated, Head, HeadBytes);
  if (!start || *start < 0 || *start > MaxHeaderBytes || *start + volumeBytes > FileSize)
    return std::nullopt;
  const int64_t room = FileSize - *start;
  TLayoutCandidate candidate;
  candidate.Layout = {static_cast<int32_t>(*start),
                      static_cast<int32_t>(shown[0]),
                      static_cast<int32_t>(shown[1]),
                      static_cast<int32_t>(shown[2]),
                      Stated.VoxelType,
                      Stated.ByteOrder};
  // More bytes than stated may be a trailer; fewer means volumes are missing.
  const double more = Stated.PartOfMore ? 0.0 : 0.09;
  candidate.Score = Stated.Score - (room == dataBytes ? 0.0 : room > dataBytes ? more : 0.19);
  candidate.Reason = std::move(Reason);
  return candidate;
}

THeaderFinding ReadFormatHeaders(const std::string& Name, const uint8_t* Head, int64_t HeadBytes,
                                 int64_t FileSize) {
  THeaderFinding finding;
  if (Head == nullptr || HeadBytes < 0)
    HeadBytes = 0;
  FileSize = std::max<int64_t>(FileSize, 0); // keeps the counting back from the end in range
  const THeaderReading own = ReadOwnHeader(Head, HeadBytes);
  if (own.Detached && !own.Format.empty()) {
    // A lone 348 in the first four bytes of some other file is no Analyze header.
    if (own.Format != "Analyze 7.5" || HasExtension(Name, ".hdr")) {
      finding.Note = NoteFor(own, Name);
      finding.DataFile = DataFileOf(own, Name);
      finding.DataLayout = own.Layout;
      finding.DataReason = own.Format + " header in " + BaseName(Name) + own.Detail;
    }
  } else if (own.Layout) {
    Offer(finding,
          FitStated(*own.Layout, Head, HeadBytes, FileSize, own.Format + " header" + own.Detail));
  }
  OfferSiblings(finding, Name, Head, HeadBytes, FileSize);
  return finding;
}

} // namespace guess
