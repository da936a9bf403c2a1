#pragma once
// The workers that pack the files of one archive on all cores: each takes the next file in entry
// order, reads it once for its CRC-32, then deflates, encrypts and hands it into an EntryBody. A
// file longer than a piece (kPieceSize) is deflated in pieces, and the workers that have no file
// of their own deflate the pieces of the others, so one large file keeps every core busy. The
// writer, on the main thread, takes the files back in entry order: it waits for a file to be
// opened, writes its local header, hands it the archive output, and waits until its packed bytes
// follow that header. Whichever worker packs a file, its bytes are the same: the random part of
// each encryption header is drawn by the writer, in entry order, before the workers start.
//
// Memory stays bounded: a worker runs at most a few files ahead of the one the archive is
// waiting for, and each file holds at most a fixed share of memory before the rest goes to a
// temporary file. The main thread waits in short slices and handles events between them (the
// `pump` given, which may raise to cancel the run); a failed or cancelled run stops the workers
// before the writer lets go of the archive.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/EntryBody.h"

namespace archive {

class PackAhead;
class ZipOutput;

// One file to pack, as the writer planned it.
struct PackSource {
  std::string path;
  bool stored = false;  // copied without compressing (level 0, or a name on NoCompressList)
  std::array<std::uint8_t, 10> headerBytes{};  // the encryption header's random part
};

// What became of one file.
struct PackedFile {
  // Found when the file was opened.
  std::uint32_t dosDateTime = 0;
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  // Found when it was packed.
  std::uint32_t crc = 0;
  std::uint64_t uncompressed = 0;
  std::uint64_t compressed = 0;  // the encryption header included
  bool prepared = false;         // encrypted from a stream deflated ahead
};

class PackWorkers {
 public:
  struct Settings {
    int threads = 0;             // 0: one per hardware thread
    int level = 6;
    std::string password;        // empty: no encryption
    std::string spillFolder;     // where bodies that outgrow memory go
    std::size_t bufferSize = 0;  // memory per file before it spills; 0: a share of kMemoryBudget
    // Files deflated ahead of the run: a file whose stream is there and matches the file as it
    // is now is encrypted from that stream instead of being deflated again.
    PackAhead* ahead = nullptr;
  };
  // Packed bytes held in memory by all the files in flight together, by default.
  static constexpr std::size_t kMemoryBudget = 32u << 20;
  // The bytes of a file deflated as one piece. Each piece in flight holds about twice this.
  static constexpr std::size_t kPieceSize = 1u << 20;

  // The number of workers for a setting: the setting itself, or one per hardware thread (at
  // least one) for 0.
  static int ThreadsFor(int setting);

  // Starts the workers (none without files).
  PackWorkers(std::vector<PackSource> sources, const Settings& settings, std::function<void()> pump);
  // Stops the workers and waits for them; nothing they held is left behind.
  ~PackWorkers();
  PackWorkers(const PackWorkers&) = delete;
  PackWorkers& operator=(const PackWorkers&) = delete;

  // Waits until file `index` is open: its date, attributes and size are then known. Raises the
  // file's failure (it could not be opened, read or packed).
  const PackedFile& Opened(std::size_t index);
  // Gives file `index` the archive output, positioned after its local header, and waits until
  // all its packed bytes are there. Raises the file's failure. Files are finished in order.
  const PackedFile& Finish(std::size_t index, ZipOutput& out);

 private:
  enum class State { Waiting, Opened, Done, Failed };
  struct Slot {
    PackSource source;
    PackedFile file;
    State state = State::Waiting;
    std::exception_ptr failure;
    std::unique_ptr<EntryBody> body;
    ZipOutput* output = nullptr;  // set when the file's turn has come
  };
  class Worker;
  struct Piece;

  void Work();
  void Stop();
  bool Pack(Worker& worker, Slot& slot);
  std::uint64_t DeflateInPieces(Worker& worker, const std::function<std::size_t(std::uint8_t*, std::size_t)>& read,
                                const std::function<void(std::uint8_t*, std::size_t)>& write, std::uint32_t& crc);
  void RunPiece(Worker& worker, Piece& piece);
  void Deliver(Slot& slot, const std::uint8_t* data, std::size_t size);
  void CheckStop() const;
  void WaitFor(std::size_t index, State state);

  std::vector<Slot> slots_;
  Settings settings_;
  std::function<void()> pump_;
  std::size_t workers_;     // threads started
  std::size_t window_;      // files in flight at most
  std::size_t bufferSize_;  // memory per file

  std::mutex mutex_;
  std::condition_variable workAvailable_;  // workers wait for a file to take
  std::condition_variable progress_;       // the main thread waits for a file
  std::size_t next_ = 0;                   // the next file to take
  std::size_t finished_ = 0;               // files the archive has taken
  std::size_t packing_ = 0;                // files a worker is packing
  std::deque<std::shared_ptr<Piece>> pieces_;  // pieces waiting for a worker
  std::size_t piecesInFlight_ = 0;         // pieces read and not yet written, of all files
  std::condition_variable pieceDone_;      // a worker finished a piece
  bool failed_ = false;                    // a file failed: take no more
  std::atomic<bool> stop_ = false;         // the run ends: stop at once
  std::vector<std::thread> threads_;
};

}  // namespace archive
