#include "platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace platform {
namespace fs = std::filesystem;

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

std::string ExecutableDirectory() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "./";
  std::string dir = exe.parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace platform
