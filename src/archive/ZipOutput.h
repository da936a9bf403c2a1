#pragma once
// The writer's output file: an 8192-byte buffered stream over a file that knows its position and
// can seek back to rewrite a local header in place. Every write that stores fewer bytes than
// requested raises ENotEnoughRoom; closing waits until the data is on the disk, so that a file
// put in place of an archive afterwards is never an empty shell after a crash.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/FileIo.h"

namespace archive {

class ZipOutput {
 public:
  static constexpr std::size_t kBufferSize = 8192;

  ZipOutput() = default;
  ~ZipOutput();  // closes without raising; a failure there is lost (call Close to see it)
  ZipOutput(const ZipOutput&) = delete;
  ZipOutput& operator=(const ZipOutput&) = delete;

  // Takes over a file opened for writing, positioned at 0.
  void Adopt(fileio::File file);
  bool IsOpen() const { return file_.IsOpen(); }

  void Write(const void* data, std::size_t size);
  std::uint64_t Position() const { return position_; }
  // Moves to an absolute position (written bytes are flushed first).
  void Seek(std::uint64_t position);
  void Flush();
  // Flushes, syncs to the disk and closes; raises ENotEnoughRoom when the last bytes cannot be
  // stored. The file ends at the current position (bytes written beyond it, by an entry written
  // again, are cut).
  void Close();
  // Closes without raising (the file is being abandoned).
  void Abandon();

 private:
  fileio::File file_;
  std::uint64_t position_ = 0;     // logical position, buffered bytes included
  std::uint64_t bufferStart_ = 0;  // file position of buffer_[0]
  std::uint64_t highWater_ = 0;    // furthest position written
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(kBufferSize);
  std::size_t used_ = 0;  // bytes waiting in buffer_
};

}  // namespace archive
