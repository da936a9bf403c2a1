#include "archive/ZipInput.h"

#include <algorithm>
#include <cstring>

#include "archive/ArchiveErrors.h"

namespace archive {

ZipInput::~ZipInput() { Close(); }

void ZipInput::Open(const std::string& path) {
  Close();
  fileio::File file = fileio::File::OpenDenyingWriters(path);
  if (!file.IsOpen()) throw MakeOpenError(path, file.Error());
  const fileio::FileStatus st = file.Status();
  Adopt(std::move(file), path, st.size, st.modified, st.device, st.inode);
}

void ZipInput::OpenSame(const ZipInput& other) {
  Close();
  fileio::File file = other.file_.Duplicate();
  if (!file.IsOpen()) throw MakeOpenError(other.path_, file.Error());
  Adopt(std::move(file), other.path_, other.size_, other.stamp_, other.device_, other.inode_);
}

void ZipInput::Adopt(fileio::File file, const std::string& path, std::uint64_t size, std::int64_t stamp,
                     std::uint64_t device, std::uint64_t inode) {
  file_ = std::move(file);
  path_ = path;
  size_ = size;
  stamp_ = stamp;
  device_ = device;
  inode_ = inode;
  pos_ = 0;
  buffer_.resize(kBufferSize);
  bufferStart_ = 0;
  bufferFill_ = 0;
}

void ZipInput::Close() {
  file_.Close();
  bufferFill_ = 0;
}

std::size_t ZipInput::ReadAt(std::uint64_t position, std::uint8_t* data, std::size_t size) {
  if (position >= size_) return 0;
  if (size > size_ - position) size = static_cast<std::size_t>(size_ - position);
  const std::optional<std::size_t> got = file_.ReadAt(position, data, size);
  if (!got) throw EZipError("Cannot read the archive \"" + PrintableName(path_) + "\": " + fileio::ErrorText(file_.Error()));
  return *got;
}

std::size_t ZipInput::Read(void* data, std::size_t size) {
  if (!file_.IsOpen() || size == 0) return 0;
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
