// The two fixed profiles, the 18-piece connection string, and ConnectKingbase's trace, log entry
// and result on success and failure.

#include <gtest/gtest.h>

#include <fstream>

#include "diag/SysLog.h"
#include "diag/Trace.h"
#include "db/ConnectionProfile.h"
#include "db/DbConnection.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "support/StandIn.h"
#include "support/TraceCapture.h"

using namespace db;

namespace {

std::string ErrorLogPath() {
  const auto now = platform::Clock().Now();
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", now.year, now.month, now.day);
  return platform::ExecutableDirectory() + "Log" + platform::kPathSeparator + "SysLog_" + date + "_" +
         diag::LevelName(1) + ".log";
}

int CountLinesContaining(const std::string& path, const std::string& needle) {
  std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find(needle) != std::string::npos) ++count;
  return count;
}

}  // namespace

TEST(ConnectionProfile, TheTwoProfilesHoldTheirFixedValues) {
  auto bf = ProfileFor("bf");
  ASSERT_TRUE(bf);
  EXPECT_EQ(bf->provider, "MSDASQL.1");
  EXPECT_EQ(bf->driver, "{KingbaseES ODBC driver}");
  EXPECT_EQ(bf->database, "ZOR");
  EXPECT_EQ(bf->user, "SYSTEM");
  EXPECT_EQ(bf->password, "PLOVERX");
  EXPECT_EQ(bf->server, "127.0.0.1");
  EXPECT_EQ(bf->port, "59021");
  auto hy = ProfileFor("hy");
  ASSERT_TRUE(hy);
  EXPECT_EQ(hy->driver, "{KingbaseES 6 ODBC driver}");
  EXPECT_EQ(hy->database, "STAT");
  EXPECT_EQ(hy->user, "QIMZORTJ");
  EXPECT_EQ(hy->password, "7F3A1C9E5B2D4086A1E3C5F7092B4D6E");
  EXPECT_EQ(hy->port, "54321");
  for (const char* other : {"", "BF", "Hy", "bf ", "xx"}) EXPECT_FALSE(ProfileFor(other)) << other;
}

TEST(ConnectionProfile, TheConnectionStringIsTheEighteenPiecesExactly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"bf",
       "Provider=MSDASQL.1;DRIVER={KingbaseES ODBC driver};Extended Properties='';PWD=PLOVERX;Persist Security Info=True;"
       "UID=SYSTEM;MaxVarcharSize=8000;DATABASE=ZOR;SERVER=127.0.0.1;PORT=59021;"},
      {"hy",
       "Provider=MSDASQL.1;DRIVER={KingbaseES 6 ODBC driver};Extended Properties='';PWD=7F3A1C9E5B2D4086A1E3C5F7092B4D6E;"
       "Persist Security Info=True;UID=QIMZORTJ;MaxVarcharSize=8000;DATABASE=STAT;SERVER=127.0.0.1;PORT=54321;"},
      {"xx",
       "Provider=MSDASQL.1;DRIVER=;Extended Properties='';PWD=;Persist Security Info=True;UID=;MaxVarcharSize=8000;"
       "DATABASE=;SERVER=127.0.0.1;PORT=;"},
      {"HY",
       "Provider=MSDASQL.1;DRIVER=;Extended Properties='';PWD=;Persist Security Info=True;UID=;MaxVarcharSize=8000;"
       "DATABASE=;SERVER=127.0.0.1;PORT=;"},
  };
  for (const auto& [key, expected] : cases) EXPECT_EQ(BuildConnectionString(key), expected) << key;
}

TEST(ConnectKingbase, SucceedsWithBothProfilesAndTracesOnlyEnterAndLeave) {
  for (const char* key : {"bf", "hy"}) {
    TDbConnection connection;
    diag::SetTraceDepth(0);
    testsupport::TraceCapture trace;
    EXPECT_TRUE(ConnectKingbase(connection, key)) << key;
    EXPECT_TRUE(connection.Connected());
    EXPECT_EQ(connection.ConnectionString(), BuildConnectionString(key));
    EXPECT_EQ(trace.lines, (std::vector<std::string>{"Enter ConnectKingbase", "Leave ConnectKingbase"}));
    EXPECT_EQ(diag::TraceDepth(), 0);
  }
}

TEST(ConnectKingbase, ReconnectingClosesTheFirstConnection) {
  TDbConnection connection;
  platform::SetTraceSink([](std::string_view) {});
  ASSERT_TRUE(ConnectKingbase(connection, "bf"));
  EXPECT_EQ(standin::Scalar(connection, "select current_database()"), "ZOR");
  ASSERT_TRUE(ConnectKingbase(connection, "hy"));
  EXPECT_EQ(standin::Scalar(connection, "select current_database()"), "STAT");
  platform::SetTraceSink({});
}

TEST(ConnectKingbase, AnUnknownKeyTriesTheEmptyProfileAndReportsFalseWithOneLogLine) {
  TDbConnection connection;
  platform::SetTraceSink([](std::string_view) {});
  ASSERT_TRUE(ConnectKingbase(connection, "bf"));
  platform::SetTraceSink({});

  const std::string log = ErrorLogPath();
  diag::StopSysLog();
  const int before = CountLinesContaining(log, "内容=");
  std::vector<std::string> lines;
  bool result = true;
  {
    diag::SetTraceDepth(0);
    testsupport::TraceCapture trace;
    result = ConnectKingbase(connection, "xx");
    lines = trace.lines;
  }
  diag::StopSysLog();  // writes what is queued

  EXPECT_FALSE(result);
  EXPECT_FALSE(connection.Connected());  // the earlier connection was closed first
  EXPECT_EQ(connection.ConnectionString(), BuildConnectionString("xx"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Enter ConnectKingbase");
  const std::string prefix = " Exception Message: ";  // one level deep, one blank after the colon
  ASSERT_EQ(lines[1].compare(0, prefix.size(), prefix), 0) << lines[1];
  const std::string message = lines[1].substr(prefix.size());
  EXPECT_FALSE(message.empty());
  // No driver is named, so the driver manager's default (if any) is tried; either way it fails.
  EXPECT_EQ(lines[2], "Leave ConnectKingbase");

  EXPECT_EQ(CountLinesContaining(log, "内容="), before + 1) << log;
  EXPECT_GE(CountLinesContaining(log, "内容=" + message.substr(0, message.find('\n'))), 1) << message;
}
