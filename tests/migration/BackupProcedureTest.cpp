// The backup against the seeded source stand-in: the queries and table names, the TableFiles in the
// archive, the progress texts, the trace, and the failures that must leave nothing behind.
#include "migration/BackupProcedure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "MigrationTestHost.h"
#include "archive/ArchiveSettings.h"
#include "platform/Dialogs.h"
#include "support/TraceCapture.h"

namespace migration {
namespace {

using migrationtest::MigrationTestHost;
namespace fs = std::filesystem;

const std::vector<std::string> kTables = {
    "rptreportdata",      "rptreport",          "rptsetreportcover",      "rptsingletmp",
    "rptsingletmpcondition", "rptcombinefetch", "rptcombinefetchcondition", "rptaddresslist",
    "RPTTEMPLATECLASSVALID", "T_ORG_SUMCLASS_NEW", "T_ORG_SUMCLASS_ORG_NEW", "RPTREPORTREMARK",
    "b01",                "RPTDURATION",        "T_RPT_DURATION"};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

TEST(BackupQueriesTest, FifteenQueriesGiveTheTableNames) {
  const auto& queries = BackupQueries();
  ASSERT_EQ(queries.size(), 15u);
  for (size_t i = 0; i < queries.size(); ++i) {
    EXPECT_EQ(TableNameFromQuery(queries[i]), kTables[i]) << queries[i];
    if (i != 12) {
      EXPECT_EQ(queries[i], "select *  from  " + kTables[i]);
    }
  }
  EXPECT_EQ(queries[12].size(), 117u);
  EXPECT_EQ(queries[12],
            "SELECT b0191,  b0140,  b0141,  b0142,  b0101 from  b01 where  b0140 <> 'XXX' AND "
            "(b0140 IS NOT NULL)  AND b0140 <> ''");
}

TEST(BackupQueriesTest, TableNameRule) {
  EXPECT_EQ(TableNameFromQuery("select * from  x  where a=1"), "x");
  EXPECT_EQ(TableNameFromQuery("select * from\tx\t"), "x");
  // Only the lower-case words count.
  EXPECT_EQ(TableNameFromQuery("select * FROM y from z WHERE a where b"), "z WHERE a");
}

class BackupProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.archivePath = dir / "20130615bak.dmp";
    dialogs.messageAnswers.clear();
  }

  std::string WorkDir() const { return dir / "qimzorstatistics"; }

  testsupport::TempDir dir;
  platform::ScriptedDialogs dialogs;
  platform::ScopedDialogs scoped{&dialogs};
  MigrationTestHost host;
};

TEST_F(BackupProcedureTest, EmptyArchivePathAsksForAPathAndDoesNothingElse) {
  host.archivePath.clear();
  host.workDirectory = "/unchanged";
  testsupport::TraceCapture trace;
  BackupData(host);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "请选择保存数据备份的路径！");
  EXPECT_EQ(dialogs.shown[0].caption, "提示");
  EXPECT_EQ(dialogs.shown[0].style, 0);
  EXPECT_EQ(host.focusCount, 1);
  EXPECT_EQ(host.windowsCreated, 0);
  EXPECT_EQ(host.workDirectory, "/unchanged");
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"Enter BackupData", "Leave BackupData"}));
}

TEST_F(BackupProcedureTest, UnreachableServerFailsOnceAndLeavesNothing) {
  host.conADOConParty().SetConnectionString(
      "DRIVER={KingbaseES ODBC driver};SERVER=127.0.0.1;PORT=1;DATABASE=ZOR;UID=SYSTEM;PWD=x");
  EXPECT_ANY_THROW(host.conADOConParty().SetConnected(true));
  const int logBefore = migrationtest::CountErrorLogEntries();
  testsupport::TraceCapture trace;

  BackupData(host);

  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "数据备份不成功，请确认数据库连接状态！");
  EXPECT_EQ(dialogs.shown[0].caption, "错误");
  EXPECT_EQ(dialogs.shown[0].style, 16);
  EXPECT_FALSE(fs::exists(host.archivePath));
  EXPECT_FALSE(fs::exists(WorkDir()));
  EXPECT_EQ(host.workDirectory, WorkDir());
  ASSERT_TRUE(host.lastWindow);
  EXPECT_TRUE(host.lastWindow->closed);
  EXPECT_EQ(host.steps, 0);
  EXPECT_EQ(migrationtest::WaitForErrorLogEntries(logBefore + 1), logBefore + 1);
  const auto failure = std::find_if(trace.lines.begin(), trace.lines.end(), [](const std::string& l) {
    return l.find("Exception Message:") != std::string::npos;
  });
  ASSERT_NE(failure, trace.lines.end());
  EXPECT_NE(failure->find("Exception Message:"), std::string::npos);
  EXPECT_EQ(failure->find("Exception Message: "), std::string::npos);
  EXPECT_EQ(trace.lines.back(), "Leave BackupData");
}

class SeededBackupTest : public BackupProcedureTest {
 protected:
  void SetUp() override {
    BackupProcedureTest::SetUp();
    ASSERT_TRUE(host.Connect("bf")) << "source stand-in not running (scripts/dbenv.sh start && seed)";
  }
};

TEST_F(SeededBackupTest, WritesOneArchiveWithFifteenTableFiles) {
  testsupport::TraceCapture trace;
  BackupData(host);

  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "数据备份完成！");
  EXPECT_EQ(dialogs.shown[0].caption, "提示");
  EXPECT_EQ(dialogs.shown[0].style, 64);
  EXPECT_FALSE(fs::exists(WorkDir()));
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.path())) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"20130615bak.dmp"});

#ifndef _WIN32
  // The names in the archive, as another ZIP tool lists them: the WorkDirectory's full path
  // without its leading separator, then the TableFile. (The Windows build's archives meet the
  // other tools in scripts/windows-interop.sh.)
  auto names = Lines(migrationtest::RunCommand("unzip -Z1 '" + host.archivePath + "'"));
  const std::string prefix = WorkDir().substr(1) + "/";
  for (auto& name : names) {
    EXPECT_EQ(name.rfind(prefix, 0), 0u) << name;
    name = name.substr(name.rfind('/') + 1);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected;
  for (const auto& t : kTables) expected.push_back((t == "b01" ? "B01REPORT" : t) + ".xml");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);

  const std::string dmptool = std::string(std::getenv("DM_BINARY_DIR") ? std::getenv("DM_BINARY_DIR") : ".") +
                              "/bin/dmptool";
  if (fs::exists(dmptool)) {
    EXPECT_NO_THROW(migrationtest::RunCommand("'" + dmptool + "' verify '" + host.archivePath + "'"));
  }
#endif

  // The progress window: set up for a backup, three dots per table, 15 of 15 before packing.
  const auto& w = *host.lastWindow;
  EXPECT_FALSE(w.detailVisible);
  EXPECT_EQ(w.height, 120);
  EXPECT_TRUE(w.shown);
  EXPECT_TRUE(w.closed);
  EXPECT_EQ(w.gaugeMin, 0);
  EXPECT_EQ(w.gaugeMax, 15);
  EXPECT_EQ(w.gaugeProgress, 15);
  EXPECT_EQ(host.progressBase, 0);
  EXPECT_EQ(host.progressCount, 15);
  ASSERT_EQ(w.infoTexts.size(), 1u + 15 * 3);
  EXPECT_EQ(w.infoTexts[0], "正在备份数据，请稍候...");
  for (size_t i = 0; i < 15; ++i) {
    EXPECT_EQ(w.infoTexts[1 + 3 * i], "正在备份数据表，请稍候.");
    EXPECT_EQ(w.infoTexts[2 + 3 * i], "正在备份数据表，请稍候..");
    EXPECT_EQ(w.infoTexts[3 + 3 * i], "正在备份数据表，请稍候...");
  }
  EXPECT_EQ(host.currentItems, BackupQueries());

  // The trace: per table its name, then SaveSQL with the query and the TableFile, at growing depth.
  std::vector<std::string> expectedTrace = {"Enter BackupData"};
  for (size_t i = 0; i < 15; ++i) {
    const std::string file = (kTables[i] == "b01" ? std::string("B01REPORT") : kTables[i]) + ".xml";
    expectedTrace.push_back(" " + kTables[i]);
    expectedTrace.push_back(" Enter SaveSQL");
    expectedTrace.push_back("  " + BackupQueries()[i]);
    expectedTrace.push_back("  " + WorkDir() + "/" + file);
    expectedTrace.push_back(" Leave SaveSQL");
  }
  ASSERT_GE(trace.lines.size(), expectedTrace.size());
  EXPECT_EQ(std::vector<std::string>(trace.lines.begin(), trace.lines.begin() + expectedTrace.size()),
            expectedTrace);
  EXPECT_TRUE(trace.Contains("Enter compress"));
  EXPECT_TRUE(trace.Contains("Enter SHMyDelDirectory"));
  EXPECT_EQ(trace.lines.back(), "Leave BackupData");
}

// A save that fails while the TableFiles before it are deflated ahead, their streams waiting in
// temporary files beside the archive, leaves no archive, no temporary file and no WorkDirectory.
TEST_F(SeededBackupTest, AFailedSaveWithPackingInFlightLeavesNothing) {
  fs::create_directories(WorkDir() + "/rptaddresslist.xml");
  std::ofstream(WorkDir() + "/rptaddresslist.xml/in-the-way") << "x";  // the eighth TableFile cannot be made
  host.ArchiveWriter().PackBufferSize = 1;
  BackupData(host);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "数据备份不成功，请确认数据库连接状态！");
  EXPECT_EQ(host.steps, 7);
  EXPECT_FALSE(fs::exists(host.archivePath));
  EXPECT_FALSE(fs::exists(WorkDir()));
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_NE(e.path().filename().string().rfind("ARZ", 0), 0u) << e.path();
}

TEST_F(SeededBackupTest, B01ReportHoldsFiveColumnsAndOnlyTheValidRows) {
  DM_NEEDS_HOST_TOOLS("the valid rows counted by psql");
  BackupData(host);
  ASSERT_TRUE(fs::exists(host.archivePath));

  testsupport::TempDir unpacked;
  ASSERT_EQ(archive::UnCompress(host.ArchiveReader(), host.archivePath, unpacked.path() + "/"), 0);
  db::TDbQuery file;
  file.LoadFromFile(unpacked / "qimzorstatistics/B01REPORT.xml");
  ASSERT_EQ(file.FieldCount(), 5);
  const char* columns[] = {"b0191", "b0140", "b0141", "b0142", "b0101"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(file.FieldName(i), columns[i]);

  const std::string validRows = migrationtest::Psql(
      "bf", "select count(*) from b01 where b0140 <> 'XXX' and b0140 is not null and b0140 <> ''");
  EXPECT_EQ(std::to_string(file.RecordCount()) + "\n", validRows);
  for (file.First(); !file.Eof(); file.Next()) {
    EXPECT_FALSE(file.IsNull(1));
    EXPECT_NE(file.AsString(1), "");
    EXPECT_NE(file.AsString(1), "XXX");
  }
}

// Also in a folder whose name is not UTF-8 text (the file system takes any bytes): nothing on the
// way to the archive needs the name as text.
TEST_F(SeededBackupTest, FilesLeftInTheWorkDirectoryArePackedAndRemovedToo) {
  DM_NEEDS_HOST_TOOLS("a folder name that is not UTF-8, the archive listed by unzip");
  const std::string folder = dir / "\xE5\xA4\x87\xFF\xFE";
  const std::string work = folder + "/qimzorstatistics";
  fs::create_directories(work);
  std::ofstream(work + "/left-over.txt") << "from an interrupted run";
  host.archivePath = folder + "/20130615bak.dmp";
  BackupData(host);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "数据备份完成！");
  EXPECT_EQ(Lines(migrationtest::RunCommand("unzip -Z1 '" + host.archivePath + "'")).size(), 16u);
  EXPECT_FALSE(fs::exists(work));
}

}  // namespace
}  // namespace migration
