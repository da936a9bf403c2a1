#include "archive/ZipInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/ArchiveErrors.h"

namespace archive {

ZipInput::~ZipInput() { Close(); }

void ZipInput::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw MakeOpenError(path, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    throw MakeOpenError(path, err ? err : EINVAL);
  }
  fd_ = fd;
  path_ = path;
  size_ = static_cast<std::uint64_t>(st.st_size);
  stamp_ = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  device_ = static_cast<std::uint64_t>(st.st_dev);
  inode_ = static_cast<std::uint64_t>(st.st_ino);
  pos_ = 0;
  buffer_.resize(kBufferSize);
  bufferStart_ = 0;
  bufferFill_ = 0;
}

void ZipInput::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  bufferFill_ = 0;
}

std::size_t ZipInput::ReadAt(std::uint64_t position, std::uint8_t* data, std::size_t size) {
  if (position >= size_) return 0;
  if (size > size_ - position) size = static_cast<std::size_t>(size_ - position);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, data + done, size - done, static_cast<off_t>(position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t ZipInput::Read(void* data, std::size_t size) {
  if (fd_ < 0 || size == 0) return 0;
  auto* out = static_cast<std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < size) {
    if (pos_ >= bufferStart_ && pos_ < bufferStart_ + bufferFill_) {
      const std::size_t offset = static_cast<std::size_t>(pos_ - bufferStart_);
      const std::size_t n = std::min(size - done, bufferFill_ - offset);
      std::memcpy(out + done, buffer_.data() + offset, n);
      done += n;
      pos_ += n;
      continue;
    }
    if (size - done >= kBufferSize) {
      // Large reads bypass the buffer.
      const std::size_t n = ReadAt(pos_, out + done, size - done);
      done += n;
      pos_ += n;
      break;
    }
    bufferStart_ = pos_;
    bufferFill_ = ReadAt(pos_, buffer_.data(), kBufferSize);
    if (bufferFill_ == 0) break;
  }
  return done;
}

bool ZipInput::ReadExact(void* data, std::size_t size) {
  const std::uint64_t start = pos_;
  if (Read(data, size) == size) return true;
  pos_ = start;
  return false;
}

}  // namespace archive
