#pragma once
// The packed bytes of one entry (encryption header and compressed data) on their way from the
// worker that makes them into the archive. Workers finish their files in any order, but the
// archive takes its entries in entry order: until the entry's turn comes its bytes wait in memory
// up to a bound, and beyond that in a temporary file beside the archive's temporary file; once
// its turn has come they go straight into the archive.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/FileIo.h"

namespace archive {

class ZipOutput;

class EntryBody {
 public:
  // At most `memoryLimit` bytes are held in memory; the first block held is at most
  // `expectedSize` bytes, so that a small entry takes little. Overflow goes to a temporary file
  // "ARZ…" in `spillFolder`.
  EntryBody(std::size_t memoryLimit, std::string spillFolder, std::uint64_t expectedSize);
  ~EntryBody();  // removes the temporary file
  EntryBody(const EntryBody&) = delete;
  EntryBody& operator=(const EntryBody&) = delete;

  // Raises ENotEnoughRoom when the temporary file or the archive cannot take the bytes.
  void Append(const std::uint8_t* data, std::size_t size);
  // The entry is written again from its start (its file changed while it was packed).
  void Restart();
  // Bytes appended since the start (or the last restart).
  std::uint64_t Size() const { return size_; }

  // Moves what is held to `out` at its position, and sends everything appended later straight
  // there. `between` runs between the blocks of a long move (the main thread handles events).
  void SendTo(ZipOutput& out, const std::function<void()>& between = {});
  bool SentToArchive() const { return out_ != nullptr; }
  // Hands what is held to `take` in order, block by block (the blocks may be changed in place),
  // and lets go of each block, the temporary file included, once it was taken.
  void Drain(const std::function<void(std::uint8_t*, std::size_t)>& take);

 private:
  void Spill(const std::uint8_t* data, std::size_t size);
  void DropSpill();

  std::size_t memoryLimit_;
  std::string spillFolder_;
  std::size_t firstBlock_;
  std::vector<std::vector<std::uint8_t>> blocks_;
  std::size_t held_ = 0;       // bytes in blocks_
  fileio::File spill_;
  std::string spillPath_;
  std::uint64_t spilled_ = 0;  // bytes in the temporary file
  ZipOutput* out_ = nullptr;
  std::uint64_t start_ = 0;    // where the entry's bytes begin in `out_`
  std::uint64_t size_ = 0;
};

}  // namespace archive
