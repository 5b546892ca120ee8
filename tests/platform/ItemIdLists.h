#pragma once

// Builds item-id lists in this host's encoding, for the tests of the readers
// that walk them.

#include "platform/Shell.h"

#include <cstdint>
#include <string>

namespace testing_shell {

// One item: a 16-bit little-endian size (itself included), the kind, the name.
inline std::string Item(uint8_t Kind, const std::string& Name) {
  const auto size = static_cast<uint16_t>(3 + Name.size());
  return std::string{static_cast<char>(size & 0xFF), static_cast<char>(size >> 8),
                     static_cast<char>(Kind)} +
         Name;
}

inline std::string Fs(const std::string& Name) {
  return Item(platform::ITEMKIND_FILESYSTEM, Name);
}

// The terminating item of size 0.
inline const std::string End(2, '\0');

} // namespace testing_shell
