#include "archive/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <random>
#include <utility>

#include "platform/FileSystem.h"

namespace archive::fileio {
namespace {

FileStatus FromStat(const struct stat& st) {
  FileStatus s;
  s.exists = true;
  s.isRegular = S_ISREG(st.st_mode);
  s.isDirectory = S_ISDIR(st.st_mode);
  s.size = static_cast<std::uint64_t>(st.st_size);
  s.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.device = static_cast<std::uint64_t>(st.st_dev);
  s.inode = static_cast<std::uint64_t>(st.st_ino);
  s.permissions = static_cast<std::uint32_t>(st.st_mode & 07777);
  return s;
}

// Six characters that make a file name unique.
std::string RandomSuffix() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 rng(
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<std::uint64_t>(::getpid()) << 32));
  std::string s(6, 'X');
  for (char& c : s) c = kChars[rng() % (sizeof kChars - 1)];
  return s;
}

int OpenAt(int base, const char* name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::openat(base, name, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

File OpenPath(const std::string& path, int flags, std::uint32_t permissions) {
  const int fd = OpenAt(AT_FDCWD, path.c_str(), flags, static_cast<mode_t>(permissions));
  return File::Opened(fd, fd < 0 ? errno : 0);
}

}  // namespace

// Beyond every errno value: "not a regular file" is the archive's own reason for refusing a file.
constexpr int kNotRegularFile = 1 << 20;

std::string ErrorText(int error) {
  return error == kNotRegularFile ? "Not a regular file" : std::strerror(error);
}

bool IsLinkError(int error) { return error == ELOOP; }

bool IsCrossDeviceError(int error) { return error == EXDEV; }

int NotRegularFileError() { return kNotRegularFile; }

FileStatus StatusOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return FromStat(st);
}

// --- File ---

File File::Opened(NativeFile fd, int error) {
  File f;
  f.fd_ = fd;
  f.error_ = fd < 0 ? error : 0;
  return f;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    error_ = other.error_;
  }
  return *this;
}

File File::OpenForReading(const std::string& path) {
  File f = OpenPath(path, O_RDONLY | O_NONBLOCK, 0);
  if (!f.IsOpen()) return f;
  const FileStatus s = f.Status();
  if (!s.exists || !s.isRegular) {
    const int error = !s.exists ? f.error_ : s.isDirectory ? EISDIR : NotRegularFileError();
    return Opened(-1, error);
  }
  return f;
}

File File::CreateTemporary(const std::string& folder, const std::string& prefix,
                           std::uint32_t permissions, std::string& path) {
  const std::string base = folder.empty() ? std::string("./") : folder.back() == '/' ? folder : folder + "/";
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    path = base + prefix + RandomSuffix();
    File f = OpenPath(path, O_RDWR | O_CREAT | O_EXCL, permissions);
    if (f.IsOpen()) return f;
    error = f.error_;
  }
  path.clear();
  return Opened(-1, error);
}

File File::Duplicate() const {
  const int fd = fd_ < 0 ? -1 : ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  return Opened(fd, fd_ < 0 ? EBADF : errno);
}

FileStatus File::Status() {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    error_ = fd_ < 0 ? EBADF : errno;
    return {};
  }
  return FromStat(st);
}

std::optional<std::size_t> File::ReadAt(std::uint64_t position, void* data, std::size_t size) {
  auto* out = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error_ = errno;
      return std::nullopt;
    }
    if (n == 0) break;  // the end of the file
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool File::WriteAt(std::uint64_t position, const void* data, std::size_t size) {
  const auto* in = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, in + done, size - done, static_cast<off_t>(position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool File::SetSize(std::uint64_t size) {
  if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    error_ = EFBIG;
    return false;
  }
  if (::ftruncate(fd_, static_cast<off_t>(size)) == 0) return true;
  error_ = errno;
  return false;
}

bool File::Sync() {
  if (::fsync(fd_) == 0) return true;
  error_ = errno;
  return false;
}

bool File::SetPermissions(std::uint32_t permissions) {
  if (::fchmod(fd_, static_cast<mode_t>(permissions)) == 0) return true;
  error_ = errno;
  return false;
}

bool File::SetReadOnly(bool readOnly) {
  const FileStatus s = Status();
  if (!s.exists) return false;
  std::uint32_t mode = s.permissions;
  if (readOnly) {
    mode &= ~static_cast<std::uint32_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  return SetPermissions(mode);
}

bool File::SetDosAttributes(std::uint32_t attributes) {
  return SetReadOnly((attributes & platform::kAttrReadOnly) != 0);
}

bool File::Close() {
  if (fd_ < 0) return true;
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) == 0) return true;
  error_ = errno;
  return false;
}

// --- paths ---

int Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int Remove(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

void SyncFolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = OpenAt(AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// --- Folder ---

Folder::~Folder() {
  if (fd_ >= 0) ::close(fd_);
}

Folder::Folder(Folder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), current_(std::exchange(other.current_, false)), error_(other.error_) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    current_ = std::exchange(other.current_, false);
    error_ = other.error_;
  }
  return *this;
}

NativeFile Folder::Base() const { return current_ ? AT_FDCWD : fd_; }

Folder Folder::Open(const std::string& path, bool create) {
  std::string bare = path;
  while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
  Folder start;
  if (!bare.empty() && bare[0] == '/') {
    start.fd_ = OpenAt(AT_FDCWD, "/", O_RDONLY | O_DIRECTORY);
    if (start.fd_ < 0) start.error_ = errno;
  } else {
    start.current_ = true;
  }
  if (!start.IsOpen() || bare == "/") return start;
  // The way to the folder is the user's and is taken as any program takes it, links included
  // (a home folder or the temporary folder may be a link); the folder itself and everything
  // below it are entered without following links.
  const auto slash = bare.find_last_of('/');
  const std::string parent = slash == std::string::npos ? std::string() : bare.substr(0, slash);
  const std::string last = slash == std::string::npos ? bare : bare.substr(slash + 1);
  Folder above = start.Walk(parent, create, true);
  if (!above.IsOpen()) return above;
  return above.Walk(last, create, false);
}

Folder Folder::Copy() const {
  Folder folder;
  if (current_) {
    folder.current_ = true;
  } else {
    folder.fd_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (folder.fd_ < 0) folder.error_ = errno;
  }
  return folder;
}

Folder Folder::Enter(const std::string& name, bool create, bool followLinks) const {
  Folder sub;
  const int flags = O_RDONLY | O_DIRECTORY | (followLinks ? 0 : O_NOFOLLOW);
  int fd = OpenAt(Base(), name.c_str(), flags);
  if (fd < 0 && errno == ENOENT && create) {
    if (::mkdirat(Base(), name.c_str(), 0777) == 0 || errno == EEXIST) fd = OpenAt(Base(), name.c_str(), flags);
  }
  if (fd < 0) {
    // A link where a folder belongs reads as ENOTDIR on some systems: say what it is.
    struct stat st {};
    const int error = errno;
    sub.error_ = !followLinks && ::fstatat(Base(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)
                     ? ELOOP
                     : error;
    return sub;
  }
  sub.fd_ = fd;
  return sub;
}

bool Folder::Holds(const std::string& name) const {
  struct stat st {};
  return ::fstatat(Base(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::optional<std::time_t> Folder::ModifiedTime(const std::string& name) const {
  struct stat st {};
  if (::fstatat(Base(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  return st.st_mtime;
}

File Folder::CreateFile(const std::string& name) const {
  // Only a regular file is written. A named pipe of that name would hold the open until a reader
  // came, for ever, and a device is no place for an entry: what stands there is looked at first,
  // and the open itself never waits (a pipe put there in between fails it, or is found after it).
  struct stat st {};
  if (::fstatat(Base(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode) &&
      !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode))
    return File::Opened(-1, NotRegularFileError());
  const int fd = OpenAt(Base(), name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (fd < 0) return File::Opened(-1, errno == ENXIO ? NotRegularFileError() : errno);
  File file = File::Opened(fd, 0);
  if (!file.Status().isRegular) return File::Opened(-1, NotRegularFileError());
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return File::Opened(-1, errno);
  return file;
}

bool Folder::MakeWritable(const std::string& name) const {
  struct stat st {};
  if (::fstatat(Base(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return false;
  return ::fchmodat(Base(), name.c_str(), (st.st_mode & 07777) | S_IWUSR, 0) == 0;
}

bool Folder::RemoveFile(const std::string& name) const { return ::unlinkat(Base(), name.c_str(), 0) == 0; }

}  // namespace archive::fileio
