#include "archive/EntryBody.h"

#include <algorithm>
#include <utility>

#include "archive/ArchiveErrors.h"
#include "archive/ZipOutput.h"

namespace archive {
namespace {

// Memory is taken in blocks of this size, so that holding a body never copies it.
constexpr std::size_t kBlock = 256 * 1024;
constexpr std::size_t kCopyBlock = 64 * 1024;

}  // namespace

EntryBody::EntryBody(std::size_t memoryLimit, std::string spillFolder, std::uint64_t expectedSize)
    : memoryLimit_(memoryLimit),
      spillFolder_(std::move(spillFolder)),
      firstBlock_(static_cast<std::size_t>(std::clamp<std::uint64_t>(expectedSize, 64, kBlock))) {}

EntryBody::~EntryBody() { DropSpill(); }

void EntryBody::DropSpill() {
  if (spillPath_.empty()) return;
  spill_ = fileio::File();
  fileio::Remove(spillPath_);
  spillPath_.clear();
  spilled_ = 0;
}

void EntryBody::Append(const std::uint8_t* data, std::size_t size) {
  size_ += size;
  if (out_ != nullptr) {
    out_->Write(data, size);
    return;
  }
  // Once bytes went to the temporary file, everything after them goes there too.
  while (size > 0 && spilled_ == 0 && held_ < memoryLimit_) {
    if (blocks_.empty() || blocks_.back().size() == blocks_.back().capacity()) {
      blocks_.emplace_back();
      blocks_.back().reserve(std::min(blocks_.size() == 1 ? firstBlock_ : kBlock, memoryLimit_ - held_));
    }
    std::vector<std::uint8_t>& block = blocks_.back();
    const std::size_t n = std::min(size, block.capacity() - block.size());
    block.insert(block.end(), data, data + n);
    held_ += n;
    data += n;
    size -= n;
  }
  if (size > 0) Spill(data, size);
}

void EntryBody::Spill(const std::uint8_t* data, std::size_t size) {
  if (!spill_.IsOpen()) {
    spill_ = fileio::File::CreateTemporary(spillFolder_, "ARZ", 0600, spillPath_);
    if (!spill_.IsOpen()) throw ENotEnoughRoom();
  }
  if (!spill_.WriteAt(spilled_, data, size)) throw ENotEnoughRoom();
  spilled_ += size;
}

void EntryBody::Restart() {
  size_ = 0;
  if (out_ != nullptr) {
    out_->Seek(start_);
    return;
  }
  blocks_.clear();
  held_ = 0;
  spilled_ = 0;  // the temporary file is written over from its start
}

void EntryBody::Drain(const std::function<void(std::uint8_t*, std::size_t)>& take) {
  for (std::vector<std::uint8_t>& block : blocks_) {
    take(block.data(), block.size());
    std::vector<std::uint8_t>().swap(block);
  }
  blocks_.clear();
  held_ = 0;
  if (spilled_ > 0) {
    std::vector<std::uint8_t> buffer(kCopyBlock);
    for (std::uint64_t at = 0; at < spilled_;) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), spilled_ - at));
      const std::optional<std::size_t> got = spill_.ReadAt(at, buffer.data(), want);
      if (!got || *got != want)
        throw EZipError("Cannot read the temporary file " + PrintableName(spillPath_) + ": " +
                        (got ? "it is shorter than written" : fileio::ErrorText(spill_.Error())));
      take(buffer.data(), want);
      at += want;
    }
  }
  DropSpill();
}

void EntryBody::SendTo(ZipOutput& out, const std::function<void()>& between) {
  start_ = out.Position();
  Drain([&](std::uint8_t* data, std::size_t size) {
    out.Write(data, size);
    if (between) between();
  });
  out_ = &out;
}

}  // namespace archive
