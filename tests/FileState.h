#pragma once

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/stat.h>

namespace testfiles {

inline std::string Contents(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A file's bytes and what stat says of it, to show that nothing touched it.
struct TFileState {
  std::string Bytes;
  struct stat Info {};
};

inline TFileState StateOf(const std::string& Path) {
  TFileState state{Contents(Path), {}};
  ::stat(Path.c_str(), &state.Info);
  return state;
}

// The same bytes, modification time and inode: not rewritten, not replaced.
inline void ExpectUntouched(const TFileState& Before, const std::string& Path) {
  const TFileState after = StateOf(Path);
  EXPECT_EQ(after.Bytes, Before.Bytes) << Path;
  EXPECT_EQ(after.Info.st_mtim.tv_sec, Before.Info.st_mtim.tv_sec) << Path;
  EXPECT_EQ(after.Info.st_mtim.tv_nsec, Before.Info.st_mtim.tv_nsec) << Path;
  EXPECT_EQ(after.Info.st_ino, Before.Info.st_ino) << Path;
}

} // namespace testfiles
