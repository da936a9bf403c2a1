#pragma once
// The log writer: a daily, per-level text log beside the program. Any thread hands it a message;
// the message is stamped, queued and written by one background thread, so callers never wait for
// the disk. The procedures hand it the message of every exception they catch, at level 1.
//
// Nothing handed in is dropped without a count: an entry handed in after the writer stopped is
// written at once by the caller's thread, and an entry that could not be written (the file could
// not be opened, the stop's time bound ran out, the writer thread ended on an exception) is
// counted in NotWritten() and reported when the writer stops.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"

namespace diag {

// Level names as they appear in the file names; levels outside 0..3 have none.
const char* LevelName(std::uint8_t level);

// One queued entry.
struct TSysLogModel {
  std::uint8_t level = 0;
  platform::LocalDateTime time;  // when the entry was created
  std::string text;
};

// The line written for an entry: "时间=<yyyy-MM-dd hh:mm:ss>; 内容=<text>" (without the line end).
std::string FormatLogLine(const TSysLogModel& entry);

// The writer thread and its queue.
class TSysLogOperate {
 public:
  // Writes into `directory` (a separator is added when it lacks one); the program uses the folder
  // "Log" under the executable's directory.
  explicit TSysLogOperate(std::string directory);
  ~TSysLogOperate();  // Stop()
  TSysLogOperate(const TSysLogOperate&) = delete;
  TSysLogOperate& operator=(const TSysLogOperate&) = delete;

  // Queues an entry and wakes the writer; returns non-zero when the wake-up was counted, 0 when
  // the wake-up counter was full (the entry stays queued and the next wake-up writes it). Once
  // the writer has stopped, the entry is written here, by the calling thread. Safe from any
  // thread, also while another thread stops the writer.
  int Enqueue(std::unique_ptr<TSysLogModel> entry);

  // Stops the writer and joins its thread: every entry queued before the call is written, as
  // long as `bound` allows; what is still queued then is counted as not written, so that the
  // stop never waits longer than the bound and the one write in progress. Returns NotWritten().
  // Later calls return at once.
  std::size_t Stop(std::chrono::milliseconds bound = std::chrono::milliseconds(2000));

  // Entries that were handed in but could not be written.
  std::size_t NotWritten() const;

  // Lines written so far for a level (level 1, level 2, any other level share a third list).
  std::vector<std::string> LinesForLevel(std::uint8_t level) const;
  // The level of the entry written last.
  std::uint8_t LastLevel() const;
  // The file an entry of `level` written today goes to.
  std::string FilePathFor(std::uint8_t level) const;

  static constexpr int kMaxWakeups = 8192;

 private:
  struct Shared;
  static void Run(Shared& shared);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  std::mutex stopLock_;  // one Stop at a time
  std::string eventName_;  // labels kept from the named kernel objects of old
  std::string mutexName_;
};

// The one entry point. Creates and starts the writer on first use. With `copyLines` and a
// `target`, the target receives the lines written so far for the level of the entry written last.
int WriteSysLog(std::uint8_t level, const std::string& text, bool copyLines = false,
                std::vector<std::string>* target = nullptr);

// Stops the program's writer (writing what is queued); a trace line reports entries that could
// not be written. Also runs at program end. A later WriteSysLog starts a new writer.
void StopSysLog();

}  // namespace diag
