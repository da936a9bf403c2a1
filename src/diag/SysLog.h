#pragma once
// The log writer: a daily, per-level text log beside the program. Any thread hands it a message;
// the message is stamped, queued and written by one background thread, so callers never wait for
// the disk. The procedures hand it the message of every exception they catch, at level 1.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
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
  // Writes into `directory` (ending in '/'); the program uses "<executable dir>/Log/".
  explicit TSysLogOperate(std::string directory);
  ~TSysLogOperate();  // Stop()
  TSysLogOperate(const TSysLogOperate&) = delete;
  TSysLogOperate& operator=(const TSysLogOperate&) = delete;

  // Queues an entry and wakes the writer; returns non-zero when the wake-up was counted, 0 when
  // the wake-up counter was full (the entry stays queued and a later wake-up writes it).
  int Enqueue(std::unique_ptr<TSysLogModel> entry);

  // Stops the writer: every entry queued before the call is written, within `bound`; what is
  // still unwritten after that is abandoned.
  void Stop(std::chrono::milliseconds bound = std::chrono::milliseconds(2000));

  // Lines written so far for a level (level 1, level 2, any other level share a third list).
  std::vector<std::string> LinesForLevel(std::uint8_t level) const;
  // The level of the entry written last.
  std::uint8_t LastLevel() const;
  // The file an entry of `level` written today goes to.
  std::string FilePathFor(std::uint8_t level) const;

  static constexpr int kMaxWakeups = 8192;

 private:
  struct Shared;
  static void Run(std::shared_ptr<Shared> shared);
  static bool HandleWakeup(Shared& shared);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  std::string eventName_;  // labels kept from the named kernel objects of old
  std::string mutexName_;
};

// The one entry point. Creates and starts the writer on first use. With `copyLines` and a
// `target`, the target receives the lines written so far for the level of the entry written last.
int WriteSysLog(std::uint8_t level, const std::string& text, bool copyLines = false,
                std::vector<std::string>* target = nullptr);

// Stops the program's writer (writing what is queued). Also runs at program end.
void StopSysLog();

}  // namespace diag
