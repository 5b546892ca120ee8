#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace guess {

// The unsigned little-endian field of Size bytes (1 to 8) at Bytes.
inline uint64_t Little(const uint8_t* Bytes, int Size) {
  uint64_t value = 0;
  for (int i = 0; i < Size; ++i)
    value |= uint64_t{Bytes[i]} << (8 * i);
  return value;
}

// The same At bytes into Bytes, or 0 where the field runs past their end.
inline uint64_t Little(const std::vector<uint8_t>& Bytes, size_t At, int Size) {
  return At + static_cast<size_t>(Size) <= Bytes.size() ? Little(Bytes.data() + At, Size) : 0;
}

} // namespace guess
