#pragma once
// The reader's view of an archive file: a read-only file behind an 8192-byte buffer, with
// seeking, its size and its modification stamp. Reads never go past the end of the file: a short
// read returns what there was, and callers decide what a short read means. A read error is no
// end of file: it raises EZipError naming the archive and the reason.
// Owned by the archive reader; the writer may use it to copy old entries when updating.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/FileIo.h"

namespace archive {

class ZipInput {
 public:
  static constexpr std::size_t kBufferSize = 8192;

  ZipInput() = default;
  ~ZipInput();
  ZipInput(const ZipInput&) = delete;
  ZipInput& operator=(const ZipInput&) = delete;

  // Opens for reading (on Windows others may not write to it or delete it meanwhile); raises
  // EFOpenError "Cannot open file "<path>". <reason>" on failure, and for anything but a regular
  // file (which is opened without waiting for a writer).
  void Open(const std::string& path);
  // Opens the file `other` has open, through a handle of its own; raises EFOpenError when no
  // handle is to be had.
  void OpenSame(const ZipInput& other);
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }
  const std::string& Path() const { return path_; }

  std::uint64_t Size() const { return size_; }
  // Modification time in nanoseconds since the epoch, as found when the file was opened.
  std::int64_t ModificationStamp() const { return stamp_; }
  // The device and inode of the opened file: which file it is, whatever name led to it.
  std::uint64_t Device() const { return device_; }
  std::uint64_t Inode() const { return inode_; }

  std::uint64_t Position() const { return pos_; }
  void Seek(std::uint64_t position) { pos_ = position; }

  // Reads up to `size` bytes at the current position and advances; returns the count read, less
  // than `size` only at the end of the file.
  std::size_t Read(void* data, std::size_t size);
  // Reads exactly `size` bytes; false (and the position unchanged) when fewer are there.
  bool ReadExact(void* data, std::size_t size);

 private:
  // Takes `file` open on `path`, with what is known of it, and starts at its first byte.
  void Adopt(fileio::File file, const std::string& path, std::uint64_t size, std::int64_t stamp,
             std::uint64_t device, std::uint64_t inode);
  std::size_t ReadAt(std::uint64_t position, std::uint8_t* data, std::size_t size);

  fileio::File file_;
  std::string path_;
  std::uint64_t size_ = 0;
  std::int64_t stamp_ = 0;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  std::uint64_t pos_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t bufferStart_ = 0;  // file position of buffer_[0]
  std::size_t bufferFill_ = 0;
};

}  // namespace archive
