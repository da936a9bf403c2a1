#pragma once
// Deflating files ahead of the archive that will hold them. A backup writes its TableFiles one
// after the other and packs them all at the end; each file handed here is deflated while it is
// still being written (it is read as it grows) and while the later ones are written, so that the
// archive writer later finds most of its work done.
//
// The archive writer takes a file's prepared stream only when the file is, byte for byte, what was
// deflated (its size and CRC-32 agree) and encrypts it in the archive's own entry order, as it
// encrypts what it deflates itself. The stream is cut into the same pieces the writer's own
// workers use (PackWorkers::kPieceSize, each with the 32 KiB before it as its dictionary), so the
// archive is the same with or without preparation.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/EntryBody.h"

namespace archive {

// The raw deflate stream of one file, made ahead.
struct PreparedFile {
  std::uint64_t size = 0;  // the bytes of the file that were deflated
  std::uint32_t crc = 0;   // their CRC-32
  int level = 6;
  std::unique_ptr<EntryBody> deflated;
};

class PackAhead {
 public:
  // `threads`: deflating threads, 0 for one per hardware thread. A file's stream is held in
  // memory up to `memoryLimit` bytes, the rest in a temporary file.
  PackAhead(int level, int threads, std::size_t memoryLimit);
  // Stops at once; everything held, temporary files included, is removed.
  ~PackAhead();
  PackAhead(const PackAhead&) = delete;
  PackAhead& operator=(const PackAhead&) = delete;

  // Starts on `path`, which is being written or is still to be created (a stale file of that name
  // must be gone already). Its stream waits beyond the memory limit in a temporary file "ARZ…" in
  // `spillFolder`. Files are deflated in the order given.
  void Follow(const std::string& path, const std::string& spillFolder);
  // `path` is written whole: its reading ends at its end. With `written` false it was given up
  // and nothing of it is kept.
  void Complete(const std::string& path, bool written);
  // The stream of `path`, waiting for it while it is made; nullptr when there is none (the file
  // was never followed, was given up, or could not be read). The caller owns it then.
  std::unique_ptr<PreparedFile> Take(const std::string& path);
  // Waits until every file given is deflated or dropped; each must have been completed.
  void Wait();

 private:
  struct Piece;
  struct Job;

  void Stop();
  void Coordinate();
  void DeflatePieces();
  void Prepare(Job& job);
  std::shared_ptr<Job> Find(const std::string& key);

  const int level_;
  const std::size_t memoryLimit_;
  std::size_t workers_ = 1;

  std::mutex mutex_;
  std::condition_variable changed_;  // a job or piece changed state, or a file grew or ended
  std::deque<std::shared_ptr<Job>> jobs_;  // in the order given; done ones wait to be taken
  std::deque<std::shared_ptr<Piece>> pieces_;  // waiting for a deflating thread
  bool stop_ = false;
  std::thread coordinator_;
  std::vector<std::thread> deflaters_;
};

}  // namespace archive
