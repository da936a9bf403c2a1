// File-system services on POSIX systems: attributes derived from permissions and names, the
// executable's directory from /proc, case-sensitive names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/FileSystem.h"

namespace platform {
namespace fs = std::filesystem;
namespace {

std::error_code LastError() { return {errno, std::system_category()}; }

// fsync of a file or directory opened for reading: enough on POSIX systems, where the flush
// covers the whole file and not only what this descriptor wrote.
std::error_code Sync(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) return LastError();
  std::error_code result;
  if (::fsync(fd) != 0) result = LastError();
  ::close(fd);
  return result;
}

}  // namespace

std::optional<std::uint32_t> GetFileAttributes(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  std::uint32_t attrs = 0;
  if (S_ISDIR(st.st_mode)) {
    attrs |= kAttrDirectory;
  } else {
    attrs |= kAttrArchive;
  }
  if ((st.st_mode & S_IWUSR) == 0) attrs |= kAttrReadOnly;
  std::string name = fs::path(path).filename().string();
  if (name.empty()) name = fs::path(path).parent_path().filename().string();
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") attrs |= kAttrHidden;
  return attrs;
}

bool SetFileAttributes(const std::string& path, std::uint32_t attributes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  return ::chmod(path.c_str(), mode) == 0;
}

bool RemoveTree(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !fs::exists(fs::symlink_status(path, ec))) return false;
  fs::remove_all(path, ec);
  return !ec;
}

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::string ExecutableDirectory() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  std::string dir = exe.parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool SameFileName(std::string_view a, std::string_view b) { return a == b; }

std::error_code ReplaceFileAtomically(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return LastError();
  return {};
}

std::error_code FlushFileToDisk(const std::string& path) { return Sync(path, 0); }

std::error_code FlushDirectoryToDisk(const std::string& path) { return Sync(path, O_DIRECTORY); }

}  // namespace platform
