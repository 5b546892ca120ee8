#pragma once

#include <string>
#include <string_view>

// File names on this host are byte strings, mostly but not always UTF-8. These
// two convert between them and UTF-16 without losing a byte: a byte that is not
// part of a valid UTF-8 sequence becomes the lone surrogate U+DC00 + byte, and
// such a surrogate becomes that byte again (the "surrogate escape" of other
// toolkits). Any other lone surrogate has no byte form and becomes U+FFFD.
namespace platform {

std::u16string BytesToWide(std::string_view Bytes);
std::string WideToBytes(std::u16string_view Wide);

} // namespace platform
