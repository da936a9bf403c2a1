#include "archive/ZipOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive/ArchiveErrors.h"

namespace archive {
namespace {

[[noreturn]] void NoRoom() { throw ENotEnoughRoom("Not enough room to write archive"); }

}  // namespace

ZipOutput::~ZipOutput() { Abandon(); }

bool ZipOutput::Create(const std::string& path) {
  Abandon();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  Adopt(fd);
  return true;
}

void ZipOutput::Adopt(int fd) {
  Abandon();
  fd_ = fd;
  position_ = 0;
  highWater_ = 0;
  used_ = 0;
}

void ZipOutput::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (used_ + size > kBufferSize) Flush();
  if (size >= kBufferSize) {
    WriteThrough(bytes, size);
  } else if (size > 0) {
    std::memcpy(buffer_.data() + used_, bytes, size);
    used_ += size;
  }
  position_ += size;
  if (position_ > highWater_) highWater_ = position_;
}

void ZipOutput::Seek(std::uint64_t position) {
  Flush();
  if (::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0) NoRoom();
  position_ = position;
}

void ZipOutput::Flush() {
  if (used_ == 0) return;
  // Emptied first: a failed flush is not retried.
  const std::size_t pending = used_;
  used_ = 0;
  WriteThrough(buffer_.data(), pending);
}

void ZipOutput::WriteThrough(const std::uint8_t* data, std::size_t size) {
  if (fd_ < 0) NoRoom();
  while (size > 0) {
    const ssize_t done = ::write(fd_, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) NoRoom();
    data += done;
    size -= static_cast<std::size_t>(done);
  }
}

void ZipOutput::Close() {
  if (fd_ < 0) return;
  Flush();
  if (highWater_ > position_ && ::ftruncate(fd_, static_cast<off_t>(position_)) != 0) NoRoom();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) NoRoom();
}

void ZipOutput::Abandon() {
  used_ = 0;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace archive
