#pragma once

#include "platform/Decompress.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace platform {

// Raised when an existing file cannot be opened; the text is the one the user sees.
class EFOpenError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Raised when the user cancels reading a compressed file through; nothing is open.
class EOpenCancelled : public EFOpenError {
public:
  EOpenCancelled()
      : EFOpenError("Opening cancelled") {}
};

// The progress a stream opened without one of its own reports to (the
// command line's, on a terminal); none by default. Set it before any thread
// opens a file.
void SetDefaultIndexProgress(TIndexProgress Progress);

// True when Name is an existing entry that is not a directory.
bool FileExists(const std::string& Name);

// A read-only view of a file. Opening never blocks (a named pipe without a
// writer opens at once and reads as empty) and never locks other programs out.
// A regular file compressed with gzip, bzip2, xz or zstd reads as its
// decompressed bytes; opening it reads it through once (see TDecompressedStream).
class TFileStream {
public:
  // Throws EFOpenError with "Cannot open file <Name>" when the file cannot be
  // opened, and EOpenCancelled when Progress cancels reading a compressed file.
  explicit TFileStream(const std::string& Name, const TIndexProgress& Progress = {});
  ~TFileStream();
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  // Moves to Offset bytes from the start and returns the position the file
  // reports afterwards, or -1 when it cannot be positioned there.
  int64_t Seek(int64_t Offset);
  // Reads up to Count bytes at the current position; returns how many arrived
  // (0 at the end of the file or on failure).
  int64_t Read(void* Buffer, int64_t Count);
  // Reads what Seek(Offset) followed by Read(Buffer, Count) would: up to Count
  // bytes at Offset, or nothing when the seek would not land there (a negative
  // Offset, a named pipe, a device that stays put). A regular file takes one
  // system call and keeps its current position.
  int64_t ReadAt(int64_t Offset, void* Buffer, int64_t Count);
  // The size of a regular file as it is now, or -1 for a pipe, device or
  // anything else whose size says nothing about what a read would give.
  int64_t Size() const;

  // None for a file read as it is.
  TCompression Compression() const {
    return FDecompressed ? FDecompressed->Kind() : TCompression::None;
  }
  // How far a compressed file decompressed; Complete for any other.
  TDecodeState DecodeState() const {
    return FDecompressed ? FDecompressed->State() : TDecodeState{};
  }

private:
  void OpenCompressed(const TIndexProgress& Progress);
  int64_t ReadRegularAt(int64_t Offset, void* Buffer, int64_t Count);

  int FHandle = -1;
  bool FRegular = false; // pread means what a seek and a read mean
  std::unique_ptr<TDecompressedStream> FDecompressed;
  int64_t FPosition = 0; // of a compressed file, in its decompressed bytes
};

} // namespace platform
