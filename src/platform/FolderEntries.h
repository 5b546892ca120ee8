#pragma once

#include <string>
#include <vector>

namespace platform {

// The names in Folder as the host's bytes, in byte order, without "." and
// "..". A folder that cannot be read has none.
std::vector<std::string> FolderEntries(const std::string& Folder);

// Whether Path names an entry of any kind; a link counts even when it dangles.
bool EntryExists(const std::string& Path);

} // namespace platform
