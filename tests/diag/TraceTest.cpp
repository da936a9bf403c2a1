#include "diag/Trace.h"

#include <gtest/gtest.h>

#ifdef DM_WITH_QT
#include <QTimer>
#endif
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/EventPump.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override { diag::SetTraceDepth(0); }
  void TearDown() override { diag::SetTraceDepth(0); }
  testsupport::TraceCapture trace;
};

TEST_F(TraceTest, EnterAndLeaveNestByOneBlankPerLevel) {
  diag::TraceEnter("btnBeginBackupClick");
  diag::TraceEnter("ConnectKingbase");
  diag::TraceLeave("ConnectKingbase");
  diag::TraceEnter("BackupData");
  diag::TraceLine("rptreportdata");
  diag::TraceEnter("SaveSQL");
  diag::TraceLine("select *  from  rptreportdata");
  const std::vector<std::string> expected = {
      "Enter btnBeginBackupClick", " Enter ConnectKingbase", " Leave ConnectKingbase",
      " Enter BackupData",         "  rptreportdata",        "  Enter SaveSQL",
      "   select *  from  rptreportdata"};
  EXPECT_EQ(trace.lines, expected);
  EXPECT_EQ(diag::TraceDepth(), 3);
}

TEST_F(TraceTest, DepthBelowZeroWritesNoBlanksUntilPositiveAgain) {
  diag::TraceLeave("Orphan");
  EXPECT_EQ(diag::TraceDepth(), -1);
  diag::TraceLine("flat");
  diag::TraceEnter("A");  // depth -1 -> 0
  diag::TraceEnter("B");  // depth 0 -> 1
  diag::TraceLine("deeper");
  const std::vector<std::string> expected = {"Leave Orphan", "flat", "Enter A", "Enter B", " deeper"};
  EXPECT_EQ(trace.lines, expected);
}

TEST_F(TraceTest, DeleteDirectoryRemovesTreeAndTracesWithFullWidthColon) {
  testsupport::TempDir tmp;
  const std::string root = tmp / "work";
  std::filesystem::create_directories(root + "/sub/deeper");
  std::ofstream(root + "/a.xml") << "x";
  std::ofstream(root + "/sub/deeper/b.xml") << "y";

  EXPECT_TRUE(diag::SHMyDelDirectory(root));
  EXPECT_FALSE(std::filesystem::exists(root));
  ASSERT_EQ(trace.lines.size(), 2u);
  EXPECT_EQ(trace.lines[0], "Enter SHMyDelDirectory\xEF\xBC\x9A" + root);
  EXPECT_EQ(trace.lines[1], "Leave SHMyDelDirectory\xEF\xBC\x9A" + root);
}

TEST_F(TraceTest, DeleteMissingDirectoryReportsFalseAndStillTraces) {
  testsupport::TempDir tmp;
  EXPECT_FALSE(diag::SHMyDelDirectory(tmp / "missing"));
  EXPECT_EQ(trace.lines.size(), 2u);
  EXPECT_EQ(diag::TraceDepth(), 0);
}

TEST(DelayPumpingTest, ZeroReturnsAtOnce) {
  const auto start = std::chrono::steady_clock::now();
  diag::DelayPumping(0);
  diag::DelayPumping(-5);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST(DelayPumpingTest, WaitsThroughTheInstalledPumpUntilItsTime) {
  // A pump whose wait sees an event every 20 ms, as a window system with a ticking timer would.
  struct Ticking : platform::IEventPump {
    int handled = 0;
    void PumpEvents() override { ++handled; }
    bool WaitForEvents(int ms) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20)));
      return ms > 20;
    }
  } pump;
  platform::ScopedEventPump installed(&pump);
  const auto start = std::chrono::steady_clock::now();
  diag::DelayPumping(300);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_GE(pump.handled, 5);
}

TEST(DelayPumpingTest, SleepsWithoutAPump) {
  platform::ScopedEventPump none(nullptr);
  const auto start = std::chrono::steady_clock::now();
  diag::DelayPumping(100);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

#ifdef DM_WITH_QT
TEST(DelayPumpingTest, HandlesQtEventsAndReturnsAfterItsTime) {
  int fired = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++fired; });
  ticker.start(20);
  const auto start = std::chrono::steady_clock::now();
  diag::DelayPumping(300);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(300));
  EXPECT_GE(fired, 5);  // the timer kept firing during the wait
}
#endif

}  // namespace
