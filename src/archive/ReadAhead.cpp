#include "archive/ReadAhead.h"

#include <algorithm>

#include "archive/ArchiveErrors.h"

namespace archive {
namespace {

// Entries of more than this many chunks are read on a thread of their own.
constexpr std::uint64_t kThreadedChunks = 4;

}  // namespace

ReadAhead::ReadAhead(const ZipInput& archive, std::size_t chunk)
    : chunk_(chunk), ring_(kRing, std::vector<std::uint8_t>(chunk)), sizes_(kRing) {
  input_.OpenSame(archive);
}

ReadAhead::~ReadAhead() { End(); }

void ReadAhead::Begin(std::uint64_t position, std::uint64_t size, const ZipKeys* keys) {
  End();
  position_ = position;
  left_ = size;
  decrypt_ = keys != nullptr;
  if (decrypt_) keys_ = *keys;
  chunks_ = static_cast<std::size_t>((size + chunk_ - 1) / chunk_);
  produced_ = consumed_ = 0;
  held_ = stop_ = false;
  failure_ = nullptr;
  threaded_ = size > kThreadedChunks * chunk_;
  if (threaded_) thread_ = std::thread([this] { Produce(); });
}

void ReadAhead::End() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  threaded_ = false;
  left_ = 0;
}

bool ReadAhead::Fill(std::size_t slot, std::size_t size) {
  input_.Seek(position_);
  if (!input_.ReadExact(ring_[slot].data(), size)) return false;
  if (decrypt_) keys_.Decrypt(ring_[slot].data(), size);
  sizes_[slot] = size;
  position_ += size;
  left_ -= size;
  return true;
}

void ReadAhead::Produce() {
  try {
    while (left_ > 0) {
      std::size_t slot = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || produced_ - consumed_ < kRing; });
        if (stop_) return;
        slot = produced_ % kRing;
      }
      // The slot is the reader's alone until it is counted as produced.
      if (!Fill(slot, static_cast<std::size_t>(std::min<std::uint64_t>(chunk_, left_)))) throw EFatalUnzipError();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++produced_;
      }
      changed_.notify_all();
    }
  } catch (...) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      failure_ = std::current_exception();
    }
    changed_.notify_all();
  }
}

const std::uint8_t* ReadAhead::Next(std::size_t& size) {
  if (!threaded_) {
    size = 0;
    if (left_ == 0) return nullptr;
    if (!Fill(0, static_cast<std::size_t>(std::min<std::uint64_t>(chunk_, left_)))) throw EFatalUnzipError();
    size = sizes_[0];
    return ring_[0].data();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (held_) {
    ++consumed_;
    held_ = false;
    changed_.notify_all();
  }
  changed_.wait(lock, [this] { return produced_ > consumed_ || failure_ || consumed_ == chunks_; });
  if (produced_ > consumed_) {
    held_ = true;
    size = sizes_[consumed_ % kRing];
    return ring_[consumed_ % kRing].data();
  }
  if (failure_) std::rethrow_exception(failure_);
  size = 0;
  return nullptr;
}

}  // namespace archive
