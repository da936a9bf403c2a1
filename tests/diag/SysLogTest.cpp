#include "diag/SysLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <atomic>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace {

class FixedClock : public platform::IClock {
 public:
  explicit FixedClock(platform::LocalDateTime t) : now_(t) {}
  platform::LocalDateTime Now() const override {
    std::lock_guard lock(m_);
    return now_;
  }
  void Set(platform::LocalDateTime t) {
    std::lock_guard lock(m_);
    now_ = t;
  }

 private:
  mutable std::mutex m_;
  platform::LocalDateTime now_;
};

// Paths are UTF-8 (the level names are Chinese): they reach the file system as the writer's do.
std::string ReadAll(const std::string& path) {
  std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::unique_ptr<diag::TSysLogModel> Entry(std::uint8_t level, std::string text, platform::LocalDateTime t) {
  auto e = std::make_unique<diag::TSysLogModel>();
  e->level = level;
  e->text = std::move(text);
  e->time = t;
  return e;
}

class SysLogTest : public ::testing::Test {
 protected:
  SysLogTest() { platform::SetClock(&clock); }
  ~SysLogTest() override { platform::SetClock(nullptr); }
  std::string Dir() const { return tmp.path() + "/Log/"; }

  testsupport::TempDir tmp;
  const platform::LocalDateTime june15{2013, 6, 15, 10, 20, 30};
  FixedClock clock{june15};
};

TEST_F(SysLogTest, EntriesOfOneDayAndLevelShareOneFileInQueueOrder) {
  diag::TSysLogOperate writer(Dir());
  writer.Enqueue(Entry(1, "first", june15));
  writer.Enqueue(Entry(1, "second: with 'quotes'\nand a line break", june15));
  writer.Enqueue(Entry(1, "", june15));
  writer.Stop();
  EXPECT_EQ(ReadAll(Dir() + "SysLog_2013-06-15_错误.log"),
            "时间=2013-06-15 10:20:30; 内容=first\r\n"
            "时间=2013-06-15 10:20:30; 内容=second: with 'quotes'\nand a line break\r\n"
            "时间=2013-06-15 10:20:30; 内容=\r\n");
}

TEST_F(SysLogTest, EachLevelHasItsOwnFile) {
  diag::TSysLogOperate writer(Dir());
  for (std::uint8_t level : {0, 1, 2, 3}) writer.Enqueue(Entry(level, "level " + std::to_string(level), june15));
  writer.Stop();
  const std::pair<const char*, const char*> expected[] = {
      {"SQL", "level 0"}, {"错误", "level 1"}, {"警告", "level 2"}, {"信息", "level 3"}};
  for (const auto& [name, text] : expected) {
    EXPECT_EQ(ReadAll(Dir() + "SysLog_2013-06-15_" + name + ".log"),
              std::string("时间=2013-06-15 10:20:30; 内容=") + text + "\r\n")
        << name;
  }
}

TEST_F(SysLogTest, FileIsNamedByTheDayOfWritingLineKeepsTheEntryTime) {
  clock.Set({2013, 6, 16, 0, 0, 1});
  diag::TSysLogOperate writer(Dir());
  writer.Enqueue(Entry(1, "late", {2013, 6, 15, 23, 59, 59}));
  writer.Stop();
  EXPECT_EQ(ReadAll(Dir() + "SysLog_2013-06-16_错误.log"), "时间=2013-06-15 23:59:59; 内容=late\r\n");
}

TEST_F(SysLogTest, StopWritesEveryEntryQueuedBeforeIt) {
  diag::TSysLogOperate writer(Dir());
  constexpr int kCount = 2000;
  for (int i = 0; i < kCount; ++i) writer.Enqueue(Entry(1, "entry " + std::to_string(i), june15));
  // Each entry opens and closes its file: where that is slow (Windows, Wine) the program's 2 s
  // would not cover 2000 of them, and the bound is not what this case is about.
  writer.Stop(std::chrono::minutes(1));
  const std::string content = ReadAll(Dir() + "SysLog_2013-06-15_错误.log");
  int lines = 0;
  for (size_t pos = 0; (pos = content.find("\r\n", pos)) != std::string::npos; pos += 2) ++lines;
  EXPECT_EQ(lines, kCount);
  EXPECT_NE(content.find("内容=entry 1999\r\n"), std::string::npos);
}

TEST_F(SysLogTest, UnwritableFileLosesOnlyThatEntry) {
  // A directory standing where the error file of the day belongs makes its open fail.
  std::filesystem::create_directories(platform::PathFromUtf8(Dir() + "SysLog_2013-06-15_错误.log"));
  diag::TSysLogOperate writer(Dir());
  writer.Enqueue(Entry(1, "lost", june15));
  writer.Enqueue(Entry(2, "kept", june15));
  writer.Stop();
  EXPECT_EQ(ReadAll(Dir() + "SysLog_2013-06-15_警告.log"), "时间=2013-06-15 10:20:30; 内容=kept\r\n");
  EXPECT_TRUE(writer.LinesForLevel(1).empty());

  std::filesystem::remove(platform::PathFromUtf8(Dir() + "SysLog_2013-06-15_错误.log"));
  diag::TSysLogOperate again(Dir());
  again.Enqueue(Entry(1, "after", june15));
  again.Stop();
  EXPECT_EQ(ReadAll(Dir() + "SysLog_2013-06-15_错误.log"), "时间=2013-06-15 10:20:30; 内容=after\r\n");
}

TEST_F(SysLogTest, WriteSysLogCreatesTheLogBesideTheExecutable) {
  const std::string file =
      platform::ExecutableDirectory() + "Log" + platform::kPathSeparator + "SysLog_2013-06-15_错误.log";
  std::filesystem::remove(platform::PathFromUtf8(file));
  EXPECT_NE(diag::WriteSysLog(1, "connection refused"), 0);
  diag::StopSysLog();
  EXPECT_EQ(ReadAll(file), "时间=2013-06-15 10:20:30; 内容=connection refused\r\n");

  diag::WriteSysLog(1, "again");  // a new writer after the stop
  diag::StopSysLog();
  EXPECT_EQ(ReadAll(file), "时间=2013-06-15 10:20:30; 内容=connection refused\r\n"
                           "时间=2013-06-15 10:20:30; 内容=again\r\n");
  std::filesystem::remove(platform::PathFromUtf8(file));
}

// A clock that fails when the writer names the file: the writer thread ends quietly (the program
// lives on), and every entry, queued before or handed in after, is counted as not written.
TEST_F(SysLogTest, AWriterWhoseClockThrowsKeepsTheProgramAlive) {
  struct BrokenClock : platform::IClock {
    platform::LocalDateTime Now() const override { throw std::runtime_error("no clock"); }
  } broken;
  platform::SetClock(&broken);
  diag::TSysLogOperate writer(Dir());
  for (int i = 0; i < 3; ++i) writer.Enqueue(Entry(1, "lost", june15));
  // Handed in after the writer thread has ended: written (here: tried) by the caller.
  while (writer.NotWritten() < 3) std::this_thread::yield();
  EXPECT_EQ(writer.Enqueue(Entry(1, "after", june15)), 0);
  EXPECT_EQ(writer.Stop(), 4u);
  platform::SetClock(&clock);
}

// Two threads hand in a burst of entries while a third stops the writer half-way: the entries
// queued before the stop are written by the writer thread, those handed in while it stops race
// with it, the last quarter comes after it and is written by the callers; none is lost.
TEST_F(SysLogTest, ABurstFromTwoThreadsWithAStopInTheMiddleLosesNothing) {
#ifdef _WIN32
  constexpr int kPerThread = 10000;  // each entry opens and closes its file, slowly under Wine
#else
  constexpr int kPerThread = 50000;
#endif
  diag::TSysLogOperate writer(Dir());
  std::atomic<int> handedIn{0};
  std::atomic<bool> stopped{false};
  const auto burst = [&](const std::string& tag) {
    for (int i = 0; i < kPerThread; ++i) {
      if (i == kPerThread * 3 / 4)
        while (!stopped) std::this_thread::yield();
      writer.Enqueue(Entry(1, tag + std::to_string(i), june15));
      ++handedIn;
    }
  };
  std::thread first(burst, "a"), second(burst, "b");
  while (handedIn < kPerThread) std::this_thread::yield();
  writer.Stop(std::chrono::minutes(5));
  stopped = true;
  first.join();
  second.join();
  EXPECT_EQ(writer.NotWritten(), 0u);
  std::istringstream lines(ReadAll(Dir() + "SysLog_2013-06-15_错误.log"));
  std::set<std::string> seen;
  for (std::string line; std::getline(lines, line);) seen.insert(line);
  EXPECT_EQ(seen.size(), 2u * kPerThread);
  EXPECT_EQ(seen.count("时间=2013-06-15 10:20:30; 内容=b" + std::to_string(kPerThread - 1) + "\r"), 1u);
}

TEST(SysLogLevelTest, NamesOfTheFourLevels) {
  EXPECT_STREQ(diag::LevelName(0), "SQL");
  EXPECT_STREQ(diag::LevelName(1), "错误");
  EXPECT_STREQ(diag::LevelName(2), "警告");
  EXPECT_STREQ(diag::LevelName(3), "信息");
  EXPECT_STREQ(diag::LevelName(4), "");
}

}  // namespace
