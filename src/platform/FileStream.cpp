#include "platform/FileStream.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

TIndexProgress& DefaultProgress() {
  static TIndexProgress progress;
  return progress;
}

// A file as it stands now: another open that finds the same inode with the
// same size, times and ends reads the same bytes, so it may take the same
// index. The times tick coarsely, so a file rewritten in place at once would
// pass for the old one but for its first and last bytes (the trailers hold
// a check of the whole).
using TFileIdentity =
    std::tuple<dev_t, ino_t, off_t, int64_t, int64_t, int64_t, int64_t, std::vector<uint8_t>>;
constexpr int64_t IdentityEndBytes = 64;

std::optional<TFileIdentity> IdentityOf(int Handle) {
  struct stat info {};
  if (::fstat(Handle, &info) != 0)
    return std::nullopt;
  const int64_t head = std::min<int64_t>(info.st_size, IdentityEndBytes);
  const int64_t tail = std::min<int64_t>(info.st_size - head, IdentityEndBytes);
  std::vector<uint8_t> ends(static_cast<size_t>(head + tail));
  if (::pread(Handle, ends.data(), static_cast<size_t>(head), 0) != head ||
      ::pread(Handle, ends.data() + head, static_cast<size_t>(tail),
              static_cast<off_t>(info.st_size - tail)) != tail)
    return std::nullopt;
  return TFileIdentity{info.st_dev,          info.st_ino,          info.st_size,
                       info.st_mtim.tv_sec,  info.st_mtim.tv_nsec, info.st_ctim.tv_sec,
                       info.st_ctim.tv_nsec, std::move(ends)};
}

// The indexes of the compressed files open now, held weakly: the guess, the
// pictures of its proposals and the header writer open the file the window
// shows again, and must not read it through each time. Closing the last
// stream of a file lets its index go, so memory stays what the open files need.
class TOpenIndexes {
public:
  std::shared_ptr<const TSeekIndex> Find(const TFileIdentity& File) {
    const std::lock_guard<std::mutex> hold(FLock);
    std::erase_if(FKnown, [](const TKnown& Known) { return Known.Index.expired(); });
    for (const TKnown& known : FKnown)
      if (known.File == File)
        return known.Index.lock();
    return nullptr;
  }
  void Add(const TFileIdentity& File, const std::shared_ptr<const TSeekIndex>& Index) {
    const std::lock_guard<std::mutex> hold(FLock);
    FKnown.push_back({File, Index});
  }

private:
  struct TKnown {
    TFileIdentity File;
    std::weak_ptr<const TSeekIndex> Index;
  };
  std::mutex FLock;
  std::vector<TKnown> FKnown;
};

TOpenIndexes& OpenIndexes() {
  static TOpenIndexes indexes;
  return indexes;
}

} // namespace

void SetDefaultIndexProgress(TIndexProgress Progress) {
  DefaultProgress() = std::move(Progress);
}

bool FileExists(const std::string& Name) {
  struct stat info {};
  return !Name.empty() && ::stat(Name.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

TFileStream::TFileStream(const std::string& Name, const TIndexProgress& Progress) {
  // O_NONBLOCK: a FIFO must not wait for a writer, and a device must not stall
  // a read. Regular files ignore it.
  do {
    FHandle = ::open(Name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (FHandle < 0 && errno == EINTR);
  if (FHandle < 0)
    throw EFOpenError("Cannot open file " + Name);
  struct stat info {};
  FRegular = ::fstat(FHandle, &info) == 0 && S_ISREG(info.st_mode);
  // Only a regular file is looked into: a pipe or device would have to be
  // read, and could block, to tell.
  if (FRegular)
    OpenCompressed(Progress);
}

void TFileStream::OpenCompressed(const TIndexProgress& Progress) {
  uint8_t head[CompressionMagicBytes] = {};
  const int64_t got = ReadAt(0, head, sizeof head);
  const TCompression kind = DetectCompression(head, static_cast<size_t>(std::max<int64_t>(got, 0)));
  if (kind == TCompression::None)
    return;
  // The file's own bytes, whatever FDecompressed becomes.
  const auto source = [this](int64_t Offset, void* Buffer, int64_t Count) {
    return ReadRegularAt(Offset, Buffer, Count);
  };
  const std::optional<TFileIdentity> identity = IdentityOf(FHandle);
  if (auto known = identity ? OpenIndexes().Find(*identity) : nullptr) {
    FDecompressed = TDecompressedStream::Reopen(std::move(known), source, Size());
    if (FDecompressed)
      return;
  }
  std::unique_ptr<TDecompressedStream> stream;
  switch (TDecompressedStream::Open(kind, source, Size(), Progress ? Progress : DefaultProgress(),
                                    TIndexOptions{}, stream)) {
  case TDecompressedStream::TOpen::Cancelled:
    ::close(FHandle);
    FHandle = -1;
    throw EOpenCancelled();
  case TDecompressedStream::TOpen::Opened:
    FDecompressed = std::move(stream);
    if (identity)
      OpenIndexes().Add(*identity, FDecompressed->Index());
    break;
  case TDecompressedStream::TOpen::NotCompressed:
    break;
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0)
    ::close(FHandle);
}

int64_t TFileStream::Seek(int64_t Offset) {
  if (Offset < 0)
    return -1;
  if (FDecompressed)
    return FPosition = Offset;
  const off_t reached = ::lseek(FHandle, static_cast<off_t>(Offset), SEEK_SET);
  return reached < 0 ? -1 : static_cast<int64_t>(reached);
}

namespace {

// A single read() or pread() may deliver less than asked (large requests,
// devices), so keep going until the end of the file or an error.
template <typename TReadChunk>
int64_t ReadFully(void* Buffer, int64_t Count, TReadChunk ReadChunk) {
  auto* target = static_cast<char*>(Buffer);
  int64_t total = 0;
  while (total < Count) {
    const auto chunk = static_cast<size_t>(std::min<int64_t>(Count - total, INT_MAX));
    const ssize_t got = ReadChunk(target + total, chunk, total);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    total += got;
  }
  return total;
}

} // namespace

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
  if (FDecompressed) {
    const int64_t got = FDecompressed->ReadAt(FPosition, Buffer, Count);
    FPosition += got;
    return got;
  }
  return ReadFully(Buffer, Count, [this](char* Target, size_t Chunk, int64_t) {
    return ::read(FHandle, Target, Chunk);
  });
}

int64_t TFileStream::ReadAt(int64_t Offset, void* Buffer, int64_t Count) {
  if (Offset < 0)
    return 0;
  if (FDecompressed)
    return FDecompressed->ReadAt(Offset, Buffer, Count);
  // A device may read at any offset while its seek reports another place, and
  // the callers count on a seek that does not land reading nothing.
  if (!FRegular)
    return Seek(Offset) == Offset ? Read(Buffer, Count) : 0;
  return ReadRegularAt(Offset, Buffer, Count);
}

int64_t TFileStream::ReadRegularAt(int64_t Offset, void* Buffer, int64_t Count) {
  if (Offset < 0)
    return 0;
  return ReadFully(Buffer, Count, [this, Offset](char* Target, size_t Chunk, int64_t Done) {
    return ::pread(FHandle, Target, Chunk, static_cast<off_t>(Offset + Done));
  });
}

int64_t TFileStream::Size() const {
  if (FDecompressed)
    return FDecompressed->Size();
  struct stat info {};
  if (::fstat(FHandle, &info) != 0 || !S_ISREG(info.st_mode))
    return -1;
  return static_cast<int64_t>(info.st_size);
}

} // namespace platform
