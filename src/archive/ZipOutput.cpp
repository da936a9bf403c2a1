#include "archive/ZipOutput.h"

#include <cstring>
#include <utility>

#include "archive/ArchiveErrors.h"

namespace archive {
namespace {

[[noreturn]] void NoRoom() { throw ENotEnoughRoom(); }

}  // namespace

ZipOutput::~ZipOutput() { Abandon(); }

void ZipOutput::Adopt(fileio::File file) {
  Abandon();
  file_ = std::move(file);
  position_ = 0;
  bufferStart_ = 0;
  highWater_ = 0;
  used_ = 0;
}

void ZipOutput::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (used_ + size > kBufferSize) Flush();
  if (size >= kBufferSize) {
    if (!file_.IsOpen() || !file_.WriteAt(position_, bytes, size)) NoRoom();
    bufferStart_ = position_ + size;
  } else if (size > 0) {
    std::memcpy(buffer_.data() + used_, bytes, size);
    used_ += size;
  }
  position_ += size;
  if (position_ > highWater_) highWater_ = position_;
}

void ZipOutput::Seek(std::uint64_t position) {
  Flush();
  position_ = position;
  bufferStart_ = position;
}

void ZipOutput::Flush() {
  if (used_ == 0) return;
  // Emptied first: a failed flush is not retried.
  const std::size_t pending = std::exchange(used_, 0);
  if (!file_.IsOpen() || !file_.WriteAt(bufferStart_, buffer_.data(), pending)) NoRoom();
  bufferStart_ += pending;
}

void ZipOutput::Close() {
  if (!file_.IsOpen()) return;
  Flush();
  if (highWater_ > position_ && !file_.SetSize(position_)) NoRoom();
  if (!file_.Sync()) NoRoom();
  if (!file_.Close()) NoRoom();
}

void ZipOutput::Abandon() {
  used_ = 0;
  file_ = fileio::File();
}

}  // namespace archive
