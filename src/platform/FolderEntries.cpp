#include "platform/FolderEntries.h"

#include <algorithm>
#include <dirent.h>
#include <string_view>
#include <sys/stat.h>

namespace platform {

std::vector<std::string> FolderEntries(const std::string& Folder) {
  std::vector<std::string> names;
  DIR* folder = ::opendir(Folder.c_str());
  if (folder == nullptr)
    return names;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..")
      names.emplace_back(name);
  }
  ::closedir(folder);
  std::sort(names.begin(), names.end());
  return names;
}

bool EntryExists(const std::string& Path) {
  struct stat info {};
  return !Path.empty() && ::lstat(Path.c_str(), &info) == 0;
}

} // namespace platform
