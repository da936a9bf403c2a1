#include "diag/SysLog.h"

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <random>

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

// State shared between the owner and the writer thread, so that a writer abandoned at the stop
// bound never touches a destroyed object.
struct TSysLogOperate::Shared {
  std::string directory;
  std::mutex queueLock;
  std::deque<std::unique_ptr<TSysLogModel>> queue;
  // The wake-up counter: a counting semaphore with a maximum, built on a condition variable
  // because releasing a std::counting_semaphore past its maximum is undefined.
  std::mutex wakeLock;
  std::condition_variable wakeCv;
  int wakeups = 0;
  std::atomic<bool> stop{false};
  std::atomic<bool> abandoned{false};
  mutable std::mutex linesLock;
  std::vector<std::string> errorLines, warningLines, otherLines;
  std::atomic<std::uint8_t> lastLevel{0};
  std::mutex doneLock;
  std::condition_variable doneCv;
  bool done = false;

  bool Release() {
    std::lock_guard lock(wakeLock);
    if (wakeups >= kMaxWakeups) return false;
    ++wakeups;
    wakeCv.notify_one();
    return true;
  }
  void Acquire() {
    std::unique_lock lock(wakeLock);
    wakeCv.wait(lock, [&] { return wakeups > 0; });
    --wakeups;
  }
  std::string PathFor(std::uint8_t level) const {
    return directory + "SysLog_" + FormatDate(platform::Clock().Now()) + "_" + LevelName(level) + ".log";
  }
};

TSysLogOperate::TSysLogOperate(std::string directory) : shared_(std::make_shared<Shared>()) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  shared_->directory = std::move(directory);
  std::mt19937 rng(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<int> dist(0, 2147483646);
  eventName_ = "MyLog_EventName_" + std::to_string(dist(rng));
  mutexName_ = "MyLog_MutexName_" + std::to_string(dist(rng));
  thread_ = std::thread(&TSysLogOperate::Run, shared_);
}

TSysLogOperate::~TSysLogOperate() { Stop(); }

int TSysLogOperate::Enqueue(std::unique_ptr<TSysLogModel> entry) {
  {
    std::lock_guard lock(shared_->queueLock);
    shared_->queue.push_back(std::move(entry));
  }
  return shared_->Release() ? 1 : 0;
}

void TSysLogOperate::Run(std::shared_ptr<Shared> shared) {
  while (!shared->stop.load()) {
    shared->Acquire();
    HandleWakeup(*shared);
  }
  // Stopping: write what was queued before the stop, unless the owner gave up waiting.
  while (!shared->abandoned.load() && HandleWakeup(*shared)) {
  }
  std::lock_guard lock(shared->doneLock);
  shared->done = true;
  shared->doneCv.notify_all();
}

// Takes the oldest queued entry and appends it to its file. Returns false when the queue was
// empty. A file that cannot be written loses this one entry; the writer carries on.
bool TSysLogOperate::HandleWakeup(Shared& shared) {
  std::unique_ptr<TSysLogModel> entry;
  {
    std::lock_guard lock(shared.queueLock);
    if (shared.queue.empty()) return false;
    entry = std::move(shared.queue.front());
    shared.queue.pop_front();
  }
  const std::string line = FormatLogLine(*entry);
  shared.lastLevel = entry->level;
  std::error_code ec;
  std::filesystem::create_directories(shared.directory, ec);
  const std::string path = shared.PathFor(entry->level);
  bool written = false;
  if (std::FILE* f = std::fopen(path.c_str(), "ab")) {
    const std::string record = line + "\r\n";
    written = std::fwrite(record.data(), 1, record.size(), f) == record.size();
    written = std::fclose(f) == 0 && written;
  }
  if (!written) return true;
  std::lock_guard lock(shared.linesLock);
  (entry->level == 1   ? shared.errorLines
   : entry->level == 2 ? shared.warningLines
                       : shared.otherLines)
      .push_back(line);
  return true;
}

void TSysLogOperate::Stop(std::chrono::milliseconds bound) {
  if (!thread_.joinable()) return;
  shared_->stop = true;
  {
    // The extra wake-up of the stop; it may exceed the counter's maximum, which only matters
    // when the writer is already busy with a full queue.
    std::lock_guard lock(shared_->wakeLock);
    ++shared_->wakeups;
    shared_->wakeCv.notify_one();
  }
  std::unique_lock lock(shared_->doneLock);
  if (shared_->doneCv.wait_for(lock, bound, [&] { return shared_->done; })) {
    lock.unlock();
    thread_.join();
  } else {
    // The writer did not finish in time: it stops after the entry it is writing.
    shared_->abandoned = true;
    lock.unlock();
    thread_.detach();
  }
}

std::vector<std::string> TSysLogOperate::LinesForLevel(std::uint8_t level) const {
  std::lock_guard lock(shared_->linesLock);
  return level == 1 ? shared_->errorLines : level == 2 ? shared_->warningLines : shared_->otherLines;
}

std::uint8_t TSysLogOperate::LastLevel() const { return shared_->lastLevel.load(); }

std::string TSysLogOperate::FilePathFor(std::uint8_t level) const { return shared_->PathFor(level); }

namespace {

std::mutex& InstanceLock() {
  static std::mutex m;
  return m;
}

// The program's writer; destroyed (and so stopped) at program end.
std::unique_ptr<TSysLogOperate>& Instance() {
  static std::unique_ptr<TSysLogOperate> instance;
  return instance;
}

}  // namespace

int WriteSysLog(std::uint8_t level, const std::string& text, bool copyLines,
                std::vector<std::string>* target) {
  auto entry = std::make_unique<TSysLogModel>();
  entry->level = level;
  entry->time = platform::Clock().Now();
  entry->text = text;
  TSysLogOperate* writer;
  {
    std::lock_guard lock(InstanceLock());
    if (!Instance()) Instance() = std::make_unique<TSysLogOperate>(platform::ExecutableDirectory() + "Log/");
    writer = Instance().get();
  }
  const int result = writer->Enqueue(std::move(entry));
  if (copyLines && target != nullptr) *target = writer->LinesForLevel(writer->LastLevel());
  return result;
}

void StopSysLog() {
  std::lock_guard lock(InstanceLock());
  Instance().reset();
}

}  // namespace diag
