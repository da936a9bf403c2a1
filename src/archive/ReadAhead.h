#pragma once
// The stored data of one entry, read and decrypted ahead of its decoder on a second thread. The
// traditional encryption is a byte-by-byte chain that costs about a third of an extraction; this
// way it runs beside the inflating and writing instead of before them. A short entry is read in
// line, where a thread would cost more than it saves.
//
// The read-ahead reads through its own handle of the archive, so that nothing the main thread
// does with its own (closing it while events are handled) disturbs a read in flight.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/ZipCrypto.h"
#include "archive/ZipInput.h"

namespace archive {

class ReadAhead {
 public:
  // Reads `archive` (through a handle of its own) in chunks of `chunk` bytes.
  ReadAhead(const ZipInput& archive, std::size_t chunk);
  ~ReadAhead();  // ends the entry in progress
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Begins an entry: `size` bytes from `position`, decrypted with a copy of `keys` unless it is
  // null. Ends the one before.
  void Begin(std::uint64_t position, std::uint64_t size, const ZipKeys* keys);
  // The entry's next chunk (`chunk` bytes, fewer for the last; nullptr after the last), valid
  // until the next call. Raises EFatalUnzipError where the archive ends before the entry does,
  // and whatever reading the archive raised.
  const std::uint8_t* Next(std::size_t& size);
  // Ends the entry in progress (its thread stops).
  void End();

 private:
  static constexpr std::size_t kRing = 4;  // chunks read ahead at most

  // Reads and decrypts one chunk into `slot`; false when the archive ends first.
  bool Fill(std::size_t slot, std::size_t size);
  void Produce();

  ZipInput input_;
  std::size_t chunk_;
  std::vector<std::vector<std::uint8_t>> ring_;
  std::vector<std::size_t> sizes_;
  ZipKeys keys_;
  bool decrypt_ = false;
  std::uint64_t position_ = 0;  // the next chunk to read
  std::uint64_t left_ = 0;      // bytes still to read
  bool threaded_ = false;

  // With a thread: chunks made and taken so far; the one taken last is held until the next call.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
  std::size_t chunks_ = 0;  // in the entry
  std::size_t produced_ = 0;
  std::size_t consumed_ = 0;
  bool held_ = false;
  bool stop_ = false;
  std::exception_ptr failure_;  // raised when the chunk it stands in place of is taken
};

}  // namespace archive
