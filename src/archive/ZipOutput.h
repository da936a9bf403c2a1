#pragma once
// The writer's output file: an 8192-byte buffered stream over a file descriptor that knows its
// position and can seek back to rewrite a local header in place. Every write that stores fewer
// bytes than requested raises ENotEnoughRoom.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace archive {

class ZipOutput {
 public:
  static constexpr std::size_t kBufferSize = 8192;

  ZipOutput() = default;
  ~ZipOutput();  // closes without raising; a failure there is lost (call Close to see it)
  ZipOutput(const ZipOutput&) = delete;
  ZipOutput& operator=(const ZipOutput&) = delete;

  // Creates (truncates) the file for writing. False when it cannot be created; errno is kept.
  bool Create(const std::string& path);
  // Takes over an open descriptor (for a temporary file made by mkstemp).
  void Adopt(int fd);
  bool IsOpen() const { return fd_ >= 0; }

  void Write(const void* data, std::size_t size);
  std::uint64_t Position() const { return position_; }
  // Moves to an absolute position (written bytes are flushed first).
  void Seek(std::uint64_t position);
  void Flush();
  // Flushes and closes; raises ENotEnoughRoom when the last bytes cannot be stored. The file
  // ends at the current position (bytes written beyond it, by an entry written again, are cut).
  void Close();
  // Closes without raising (the file is being abandoned).
  void Abandon();

 private:
  void WriteThrough(const std::uint8_t* data, std::size_t size);

  int fd_ = -1;
  std::uint64_t position_ = 0;  // logical position, buffered bytes included
  std::uint64_t highWater_ = 0; // furthest position written
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(kBufferSize);
  std::size_t used_ = 0;  // bytes waiting in buffer_
};

}  // namespace archive
