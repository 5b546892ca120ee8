#include "export/HeaderFiles.h"

#include "platform/FileStream.h"
#include "platform/ScopeExit.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace layoutexport {
namespace {

namespace fs = std::filesystem;

// Built by appends: GCC 12 warns falsely of overlap in a chain of operator+.
std::string Quoted(const std::string& Name) {
  std::string quoted(1, '"');
  quoted.append(ShownName(Name)).push_back('"');
  return quoted;
}

std::string Reason(int Error) {
  return std::strerror(Error);
}

// The folder as the system resolves it, so that links to folders compare
// alike; the lexical path when it cannot be resolved.
fs::path ResolvedFolder(const fs::path& Path) {
  fs::path folder = fs::absolute(Path).lexically_normal().parent_path();
  std::error_code error;
  fs::path resolved = fs::canonical(folder, error);
  return error ? folder : resolved;
}

// Where a write to Name lands: through every link, as far as they lead.
std::string FinalName(const std::string& Name) {
  std::string name = Name;
  for (int depth = 0; depth < 40; ++depth) {
    std::error_code error;
    if (!fs::is_symlink(name, error))
      return name;
    const fs::path target = fs::read_symlink(name, error);
    if (error)
      return name;
    name =
        target.is_absolute() ? target.string() : (fs::path(name).parent_path() / target).string();
  }
  return name;
}

mode_t ModeFor(const std::string& Name) {
  struct stat info {};
  if (::stat(Name.c_str(), &info) == 0)
    return info.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool WriteAll(int Handle, const std::string& Bytes) {
  size_t written = 0;
  while (written < Bytes.size()) {
    const ssize_t count = ::write(Handle, Bytes.data() + written, Bytes.size() - written);
    if (count < 0 && errno == EINTR)
      continue;
    if (count <= 0) {
      if (count == 0)
        errno = ENOSPC;
      return false;
    }
    written += static_cast<size_t>(count);
  }
  return true;
}

} // namespace

std::string ShownName(const std::string& Name) {
  std::string shown = Name;
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7F')
      c = '?';
  return shown;
}

std::string DataFileReference(const std::string& HeaderName, const std::string& DataFile) {
  const fs::path headerFolder = ResolvedFolder(HeaderName);
  const fs::path data = ResolvedFolder(DataFile) / fs::path(DataFile).filename();
  const fs::path relative = data.lexically_relative(headerFolder);
  if (!relative.empty() && *relative.begin() != "..")
    return relative.string();
  return data.string();
}

std::string EnviPlacementNote(const std::string& HeaderName, const std::string& DataFile) {
  const fs::path data(DataFile);
  const std::string stem = data.stem().string() + ".hdr";
  const std::string whole = data.filename().string() + ".hdr";
  const std::string header = fs::path(HeaderName).filename().string();
  if (ResolvedFolder(HeaderName) == ResolvedFolder(DataFile) && (header == stem || header == whole))
    return {};
  return "Note: ENVI readers look for this header beside the data file, as " +
         Quoted((ResolvedFolder(DataFile) / stem).string()) + ".";
}

int64_t DataFileBytes(const std::string& DataFile, std::string& Why,
                      platform::TCompression* Compression) {
  if (Compression)
    *Compression = platform::TCompression::None;
  struct stat info {};
  if (::stat(DataFile.c_str(), &info) != 0) {
    Why = "Cannot read file " + Quoted(DataFile) + ". " + Reason(errno);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    Why = Quoted(DataFile) + " is not a regular file, so no header can describe it.";
    return -1;
  }
  try {
    const platform::TFileStream stream(DataFile);
    if (Compression)
      *Compression = stream.Compression();
    return stream.Size();
  } catch (const platform::EFOpenError&) {
    return info.st_size; // unreadable: its size is still what the header describes
  }
}

std::string TargetProblem(const std::string& Name, const std::string& DataFile) {
  struct stat target {};
  if (::stat(Name.c_str(), &target) != 0)
    return errno == ENOENT ? std::string()
                           : "Cannot write file " + Quoted(Name) + ". " + Reason(errno);
  if (S_ISDIR(target.st_mode))
    return Quoted(Name) + " is a folder.";
  if (!S_ISREG(target.st_mode))
    return Quoted(Name) + " is not a regular file (a pipe or a device).";
  struct stat data {};
  if (::stat(DataFile.c_str(), &data) == 0 && data.st_dev == target.st_dev &&
      data.st_ino == target.st_ino)
    return Quoted(Name) + " is the data file itself, or a link to it.";
  return {};
}

bool EntryExists(const std::string& Name) {
  struct stat info {};
  return ::lstat(Name.c_str(), &info) == 0;
}

std::string WriteFileAtomically(const std::string& Name, const std::string& Bytes) {
  const std::string final = FinalName(Name);
  const fs::path folder = fs::path(final).parent_path();
  std::string temporary = ((folder.empty() ? fs::path(".") : folder) / ".zandrel-XXXXXX").string();
  const int handle = ::mkstemp(temporary.data());
  if (handle < 0)
    return "Cannot create file " + Quoted(Name) + ". " + Reason(errno);
  bool committed = false;
  const platform::TScopeExit cleanUp([&] {
    if (!committed)
      ::unlink(temporary.c_str());
  });
  int error = 0;
  if (::fchmod(handle, ModeFor(final)) != 0 || !WriteAll(handle, Bytes) || ::fsync(handle) != 0)
    error = errno;
  if (::close(handle) != 0 && error == 0)
    error = errno;
  if (error == 0 && ::rename(temporary.c_str(), final.c_str()) != 0)
    error = errno;
  if (error != 0)
    return "Cannot write file " + Quoted(Name) + ". " + Reason(error);
  committed = true;
  return {};
}

std::string WriteDetachedHeader(THeaderFormat Format, const std::string& Name,
                                const std::string& DataFile, const TLayout& Layout) {
  std::string why;
  platform::TCompression compression = platform::TCompression::None;
  const int64_t bytes = DataFileBytes(DataFile, why, &compression);
  if (bytes < 0)
    return why;
  if (!(why = TargetProblem(Name, DataFile)).empty())
    return why;
  const TText text = HeaderText(Format, Layout, ExtentOf(Layout, bytes),
                                DataFileReference(Name, DataFile), compression);
  if (!text.Why.empty())
    return "No " + std::string(FormatName(Format)) + " header written: " + text.Why;
  return WriteFileAtomically(Name, text.Text);
}

} // namespace layoutexport
