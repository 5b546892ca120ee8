#include "guess/formats/ByteSource.h"

#include <algorithm>
#include <cstring>

namespace guess {

TByteSource::TByteSource(std::span<const uint8_t> Bytes, int64_t Budget)
    : FBytes(Bytes)
    , FSize(static_cast<int64_t>(Bytes.size()))
    , FBudget(std::max<int64_t>(Budget, 0)) {}

TByteSource::TByteSource(platform::TFileStream& Stream, int64_t Size, int64_t Budget)
    : FStream(&Stream)
    , FSize(std::max<int64_t>(Size, 0))
    , FBudget(std::max<int64_t>(Budget, 0)) {}

int64_t TByteSource::ReadAt(int64_t Offset, void* Buffer, int64_t Count) {
  if (Offset < 0 || Offset >= FSize || Count <= 0 || Buffer == nullptr)
    return 0;
  const int64_t wanted = std::min({Count, FSize - Offset, FBudget - FSpent});
  if (wanted <= 0)
    return 0;
  FSpent += wanted;
  if (FStream != nullptr)
    return std::max<int64_t>(FStream->ReadAt(Offset, Buffer, wanted), 0);
  std::memcpy(Buffer, FBytes.data() + Offset, static_cast<size_t>(wanted));
  return wanted;
}

std::vector<uint8_t> TByteSource::Read(int64_t Offset, int64_t Count) {
  std::vector<uint8_t> bytes(static_cast<size_t>(std::clamp<int64_t>(Count, 0, FBudget - FSpent)));
  bytes.resize(static_cast<size_t>(ReadAt(Offset, bytes.data(), std::ssize(bytes))));
  return bytes;
}

} // namespace guess
