#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace testfiles {

// A private folder for the files of one test, removed with everything in it.
class TTempDir {
public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zandrel-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot make a temporary folder");
    FRoot = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FRoot, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Root() const { return FRoot; }
  std::string Path(const std::string& Name) const { return FRoot + "/" + Name; }

  std::string MakeFile(const std::string& Name, const std::vector<uint8_t>& Bytes) const {
    const std::string path = Path(Name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(Bytes.data()),
              static_cast<std::streamsize>(Bytes.size()));
    if (!out)
      throw std::runtime_error("cannot write " + path);
    return path;
  }

private:
  std::string FRoot;
};

} // namespace testfiles
