// The restore's early ways out, none of which may touch the target: no archive chosen, a missing
// archive, the answer No, and archives that do not unpack (foreign, wrong password).
#include "migration/RestoreProcedure.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "MigrationTestHost.h"
#include "platform/Dialogs.h"
#include "support/TraceCapture.h"

namespace migration {
namespace {

using migrationtest::MigrationTestHost;
namespace fs = std::filesystem;

TEST(TruncateSQLTest, SeventeenLinesAsOneCommand) {
  const auto& lines = TruncateSQLLines();
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0], "truncate table  rptreportdata;");
  EXPECT_EQ(lines[12], "truncate table  B01Report;");
  EXPECT_EQ(lines[15], "Drop Table B01Report;");
  EXPECT_EQ(lines[16].size(), 319u);
  for (size_t i = 0; i < 15; ++i) EXPECT_EQ(lines[i].rfind("truncate table  ", 0), 0u) << lines[i];
}

class RestoreProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.Connect("hy")) << "target stand-in not running (scripts/dbenv.sh start)";
    host.archivePath = dir / "20130615bak.dmp";
  }

  testsupport::TempDir dir;
  platform::ScriptedDialogs dialogs;
  platform::ScopedDialogs scoped{&dialogs};
  MigrationTestHost host;
};

TEST_F(RestoreProcedureTest, EmptyArchivePathAsksForAFile) {
  host.archivePath.clear();
  RestoreData(host);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "请选择保存备份数据的文件！");
  EXPECT_EQ(dialogs.shown[0].caption, "提示");
  EXPECT_EQ(dialogs.shown[0].style, 0);
  EXPECT_EQ(host.focusCount, 1);
  EXPECT_EQ(host.windowsCreated, 0);
}

// A folder or a named pipe under the archive's name is no archive either: a pipe would block the
// unpacking.
TEST_F(RestoreProcedureTest, MissingArchiveReturnsWithoutAWord) {
  DM_NEEDS_HOST_TOOLS("a named pipe (mkfifo) as the archive");
  fs::create_directory(dir / "folder.dmp");
  migrationtest::RunCommand("mkfifo '" + dir / "pipe.dmp" + "'");
  for (const char* name : {"20130615bak.dmp", "folder.dmp", "pipe.dmp"}) {
    host.archivePath = dir / name;
    testsupport::TraceCapture trace;
    RestoreData(host);
    EXPECT_TRUE(dialogs.shown.empty()) << name;
    EXPECT_EQ(host.windowsCreated, 0) << name;
    EXPECT_EQ(trace.lines, (std::vector<std::string>{"Enter RestoreData", "Leave RestoreData"})) << name;
  }
}

TEST_F(RestoreProcedureTest, AnswerNoTouchesNothing) {
  DM_NEEDS_HOST_TOOLS("the target compared through psql");
  std::ofstream(host.archivePath) << "any content";
  const std::string before = migrationtest::TargetFingerprint();
  dialogs.messageAnswers = {platform::kIdNo};
  RestoreData(host);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "还原操作将会清空NorvaleV4.0的相关数据并且不可恢复，请确认是否继续还原？");
  EXPECT_EQ(dialogs.shown[0].caption, "警告");
  EXPECT_EQ(dialogs.shown[0].style, 52);
  EXPECT_EQ(host.windowsCreated, 0);
  EXPECT_FALSE(fs::exists(dir / "qimzorstatistics"));
  EXPECT_EQ(migrationtest::TargetFingerprint(), before);
}

TEST_F(RestoreProcedureTest, ArchivesThatDoNotUnpackTouchNoTable) {
  DM_NEEDS_HOST_TOOLS("archives made by the host's zip, the target compared through psql");
  // A file that is no archive, and an archive of another tool with another password.
  testsupport::TempDir src;
  std::ofstream(src / "rptreport.xml") << "<xml/>";
  const struct {
    const char* name;
    std::string make;
  } archives[] = {
      {"garbage.dmp", "head -c 5000 /dev/urandom > '" + dir / "garbage.dmp" + "'"},
      {"wrongpw.dmp", "cd '" + src.path() + "' && zip -q -P wrongpassword '" + dir / "wrongpw.dmp" + "' rptreport.xml"},
  };
  const std::string before = migrationtest::TargetFingerprint();
  for (const auto& a : archives) {
    migrationtest::RunCommand(a.make);
    host.archivePath = dir / a.name;
    dialogs.shown.clear();
    dialogs.messageAnswers = {platform::kIdYes};
    RestoreData(host);
    ASSERT_EQ(dialogs.shown.size(), 2u) << a.name;
    EXPECT_EQ(dialogs.shown[1].text, "文件解压不成功，请重启软件再进行还原！") << a.name;
    EXPECT_EQ(dialogs.shown[1].caption, "提示");
    EXPECT_EQ(dialogs.shown[1].style, 0);
    EXPECT_FALSE(fs::exists(dir / "qimzorstatistics")) << a.name;
    ASSERT_TRUE(host.lastWindow);
    EXPECT_TRUE(host.lastWindow->closed);
    EXPECT_EQ(host.lastWindow->height, 200);
    EXPECT_TRUE(host.lastWindow->detailVisible);
  }
  EXPECT_EQ(migrationtest::TargetFingerprint(), before);
}

// An archive without any duration leaves the inserted duration row without an id. The update
// that would hand it a b0140 would end in "where id=" and fail the whole restore; it matches no
// row anyway, so it is left out and the other fix-ups still run.
TEST_F(RestoreProcedureTest, FixUpWithoutAnyDurationLeavesOutOnlyTheUpdate) {
  DM_NEEDS_HOST_TOOLS("rows planted and compared through psql");
  ExecTruncateSQLText(host);
  migrationtest::Psql("hy",
                      "insert into b01report (durationid, b0140, b0141, b0142, b0101) values "
                      "('2013', 'ORG1', '', 1, 'a'), ('2013', 'XXX', '', 2, 'b');");
  testsupport::TraceCapture trace;
  ASSERT_NO_THROW(ExecSQLText(host));
  EXPECT_FALSE(trace.Contains("where id="));
  EXPECT_EQ(migrationtest::Psql("hy", "select count(*), count(id), max(orgid) from t_rpt_duration;"), "1|0|\n");
  EXPECT_EQ(migrationtest::Psql("hy", "select rptduartionid from rptduration;"), "<NULL>\n");
  EXPECT_EQ(migrationtest::Psql("hy", "select b0140 from b01report;"), "ORG1\n");
}

}  // namespace
}  // namespace migration
