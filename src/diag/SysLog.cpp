#include "diag/SysLog.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <random>

#include "diag/Trace.h"
#include "platform/FileSystem.h"

namespace diag {
namespace {

std::string TwoDigits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::string FormatDate(const platform::LocalDateTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
  return buf;
}

}  // namespace

const char* LevelName(std::uint8_t level) {
  static const char* const kNames[] = {"SQL", "错误", "警告", "信息"};
  return level < 4 ? kNames[level] : "";
}

std::string FormatLogLine(const TSysLogModel& entry) {
  const auto& t = entry.time;
  return "时间=" + FormatDate(t) + " " + TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" +
         TwoDigits(t.second) + "; 内容=" + entry.text;
}

// State shared between the owner, the callers and the writer thread.
struct TSysLogOperate::Shared {
  std::string directory;

  // The queue. Once `closed` is set (under the lock, when the writer thread stops taking
  // entries), callers write their entries themselves instead of queueing them.
  std::mutex queueLock;
  std::deque<std::unique_ptr<TSysLogModel>> queue;
  bool closed = false;

  // The wake-up counter: a counting semaphore with a maximum, built on a condition variable
  // because releasing a std::counting_semaphore past its maximum is undefined. The stop request
  // and its deadline travel with it.
  std::mutex wakeLock;
  std::condition_variable wakeCv;
  int wakeups = 0;
  bool stopRequested = false;
  std::chrono::steady_clock::time_point deadline;

  std::mutex writeLock;  // one append at a time (the writer thread, or callers after the stop)
  mutable std::mutex linesLock;
  std::vector<std::string> errorLines, warningLines, otherLines;
  std::atomic<std::uint8_t> lastLevel{0};
  std::atomic<std::size_t> notWritten{0};

  bool Release() {
    std::lock_guard lock(wakeLock);
    if (wakeups >= kMaxWakeups) return false;
    ++wakeups;
    wakeCv.notify_one();
    return true;
  }

  // Waits for queued entries or the stop; one wake-up takes everything queued by then.
  bool WaitForWork(std::chrono::steady_clock::time_point& stopDeadline) {
    std::unique_lock lock(wakeLock);
    wakeCv.wait(lock, [&] { return wakeups > 0 || stopRequested; });
    wakeups = 0;
    stopDeadline = deadline;
    return stopRequested;
  }

  // The oldest queued entry, or null when the queue is empty. While stopping, an empty queue is
  // closed, and what is still queued after the deadline is counted as not written.
  std::unique_ptr<TSysLogModel> Take(bool stopping, std::chrono::steady_clock::time_point stopDeadline) {
    std::lock_guard lock(queueLock);
    if (stopping && !queue.empty() && std::chrono::steady_clock::now() >= stopDeadline) {
      notWritten += queue.size();
      queue.clear();
    }
    if (queue.empty()) {
      if (stopping) closed = true;
      return nullptr;
    }
    std::unique_ptr<TSysLogModel> entry = std::move(queue.front());
    queue.pop_front();
    return entry;
  }

  // After the writer thread ended, for whatever reason: nothing more is queued.
  void Close() {
    std::lock_guard lock(queueLock);
    notWritten += queue.size();
    queue.clear();
    closed = true;
  }

  // Appends one entry to its file. A file that cannot be written loses this one entry (counted);
  // an exception (no memory, a clock that fails) counts the entry and passes.
  void Write(const TSysLogModel& entry) {
    try {
      const std::string line = FormatLogLine(entry);
      const std::string path = PathFor(entry.level);
      std::lock_guard lock(writeLock);
      lastLevel = entry.level;
      std::error_code ec;
      std::filesystem::create_directories(platform::PathFromUtf8(directory), ec);
      bool written = false;
      // By the UTF-8 path through the platform: the level names are Chinese, which the ANSI code
      // page of a Windows system need not spell.
      if (std::FILE* f = platform::OpenFile(path, "ab")) {
        const std::string record = line + "\r\n";
        written = std::fwrite(record.data(), 1, record.size(), f) == record.size();
        written = std::fclose(f) == 0 && written;
      }
      if (!written) {
        ++notWritten;
        return;
      }
      std::lock_guard lines(linesLock);
      (entry.level == 1   ? errorLines
       : entry.level == 2 ? warningLines
                          : otherLines)
          .push_back(line);
    } catch (...) {
      ++notWritten;
      throw;
    }
  }

  std::string PathFor(std::uint8_t level) const {
    return directory + "SysLog_" + FormatDate(platform::Clock().Now()) + "_" + LevelName(level) + ".log";
  }
};

TSysLogOperate::TSysLogOperate(std::string directory) : shared_(std::make_shared<Shared>()) {
  if (!directory.empty() && directory.back() != '/' && directory.back() != platform::kPathSeparator)
    directory += platform::kPathSeparator;
  shared_->directory = std::move(directory);
  std::mt19937 rng(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<int> dist(0, 2147483646);
  eventName_ = "MyLog_EventName_" + std::to_string(dist(rng));
  mutexName_ = "MyLog_MutexName_" + std::to_string(dist(rng));
  thread_ = std::thread([shared = shared_] { Run(*shared); });
}

TSysLogOperate::~TSysLogOperate() {
  try {
    Stop();
  } catch (...) {
    // A destructor never raises; the thread has been joined or could not be.
  }
}

int TSysLogOperate::Enqueue(std::unique_ptr<TSysLogModel> entry) {
  {
    std::lock_guard lock(shared_->queueLock);
    if (!shared_->closed) {
      shared_->queue.push_back(std::move(entry));
    }
  }
  if (entry == nullptr) return shared_->Release() ? 1 : 0;
  // The writer has stopped: the caller writes the entry itself rather than lose it.
  try {
    shared_->Write(*entry);
  } catch (...) {
    return 0;  // counted as not written
  }
  return 1;
}

void TSysLogOperate::Run(Shared& shared) {
  try {
    for (;;) {
      std::chrono::steady_clock::time_point deadline;
      const bool stopping = shared.WaitForWork(deadline);
      while (std::unique_ptr<TSysLogModel> entry = shared.Take(stopping, deadline)) shared.Write(*entry);
      if (stopping) break;
    }
  } catch (...) {
    // Any exception ends the writer quietly; the entry in hand was counted, and what is still
    // queued is counted below. Later entries are written by their callers.
  }
  shared.Close();
}

std::size_t TSysLogOperate::Stop(std::chrono::milliseconds bound) {
  std::lock_guard guard(stopLock_);
  if (thread_.joinable()) {
    {
      std::lock_guard lock(shared_->wakeLock);
      shared_->stopRequested = true;
      shared_->deadline = std::chrono::steady_clock::now() + bound;
      shared_->wakeCv.notify_one();
    }
    // The writer finishes the entry in hand and then writes only until the deadline: it can
    // always be joined, and never runs on into the program's end.
    thread_.join();
  }
  return NotWritten();
}

std::size_t TSysLogOperate::NotWritten() const { return shared_->notWritten.load(); }

std::vector<std::string> TSysLogOperate::LinesForLevel(std::uint8_t level) const {
  std::lock_guard lock(shared_->linesLock);
  return level == 1 ? shared_->errorLines : level == 2 ? shared_->warningLines : shared_->otherLines;
}

std::uint8_t TSysLogOperate::LastLevel() const { return shared_->lastLevel.load(); }

std::string TSysLogOperate::FilePathFor(std::uint8_t level) const { return shared_->PathFor(level); }

namespace {

// The program's writer. Callers hold it through a shared pointer, so a concurrent stop never
// destroys it under them; the last holder joins its thread.
struct ProgramWriter {
  std::mutex lock;
  std::shared_ptr<TSysLogOperate> writer;

  // At program end the trace sink may already be gone: a loss is reported on standard error.
  ~ProgramWriter() {
    if (!writer) return;
    const std::size_t lost = writer->Stop();
    if (lost > 0) std::fprintf(stderr, "SysLog: %zu log entries could not be written\n", lost);
  }
};

ProgramWriter& TheProgramWriter() {
  static ProgramWriter instance;
  return instance;
}

}  // namespace

int WriteSysLog(std::uint8_t level, const std::string& text, bool copyLines,
                std::vector<std::string>* target) {
  auto entry = std::make_unique<TSysLogModel>();
  entry->level = level;
  entry->time = platform::Clock().Now();
  entry->text = text;
  std::shared_ptr<TSysLogOperate> writer;
  {
    ProgramWriter& program = TheProgramWriter();
    std::lock_guard lock(program.lock);
    if (!program.writer) {
      const std::string directory = platform::ExecutableDirectory() + "Log" + platform::kPathSeparator;
      program.writer = std::make_shared<TSysLogOperate>(directory);
    }
    writer = program.writer;
  }
  const int result = writer->Enqueue(std::move(entry));
  if (copyLines && target != nullptr) *target = writer->LinesForLevel(writer->LastLevel());
  return result;
}

void StopSysLog() {
  std::shared_ptr<TSysLogOperate> writer;
  {
    ProgramWriter& program = TheProgramWriter();
    std::lock_guard lock(program.lock);
    writer = std::move(program.writer);
  }
  if (!writer) return;
  const std::size_t lost = writer->Stop();
  if (lost > 0) TraceLine("SysLog: " + std::to_string(lost) + " log entries could not be written");
}

}  // namespace diag
