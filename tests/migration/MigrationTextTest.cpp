// The small text rules of the procedures, and the hidden file list as the restore reads it.
#include "migration/MigrationText.h"

#include <gtest/gtest.h>

#include <fstream>

#include "migration/FileList.h"
#include "support/TempDir.h"

namespace migration {
namespace {

TEST(MigrationTextTest, TrimRemovesBlanksAndControlCharacters) {
  EXPECT_EQ(TrimText(" \t\r\nselect *  from  b01 \x01\x1f"), "select *  from  b01");
  EXPECT_EQ(TrimText("   "), "");
  EXPECT_EQ(TrimText("表\t"), "表");  // bytes above 0x7f are text, not control characters
}

TEST(MigrationTextTest, FolderPartKeepsTheLastSeparator) {
  const struct {
    const char* path;
    const char* folder;
  } cases[] = {
      {"/data/backup/20130615bak.dmp", "/data/backup/"},
      {"/20130615bak.dmp", "/"},
      {"20130615bak.dmp", ""},
      {"/a/b/", "/a/b/"},
  };
  for (const auto& c : cases) EXPECT_EQ(FolderPart(c.path), c.folder) << c.path;
}

TEST(MigrationTextTest, ExtensionStartsAtTheLastDot) {
  EXPECT_EQ(ExtensionOf("rptreport.xml"), ".xml");
  EXPECT_EQ(ExtensionOf("a.b.XML"), ".XML");
  EXPECT_EQ(ExtensionOf("noext"), "");
  EXPECT_EQ(ExtensionOf("trailing."), ".");
}

TEST(MigrationTextTest, QuotedTextDoublesSingleQuotesOnly) {
  EXPECT_EQ(QuotedText("O'Brien"), "'O''Brien'");
  EXPECT_EQ(QuotedText(""), "''");
  EXPECT_EQ(QuotedText("''"), "''''''");
  EXPECT_EQ(QuotedText("a:b \\ \"x\""), "'a:b \\ \"x\"'");
}

TEST(MigrationTextTest, PlainIdentifiers) {
  for (const char* ok : {"rptreport", "B01REPORT", "T_RPT_DURATION", "a.b", "_x$1", "DBO.b01report"})
    EXPECT_TRUE(IsPlainIdentifier(ok)) << ok;
  for (const char* bad : {"", "1abc", "a b", "a;b", "a.", ".a", "a..b", "x\"y", "a'b", "id) values (1); --",
                          "名称", "a-b", "a.1b"})
    EXPECT_FALSE(IsPlainIdentifier(bad)) << bad;
}

TEST(MigrationTextTest, IntegerLiterals) {
  for (const char* ok : {"0", "-2147483648", "2147483647", "007"}) EXPECT_TRUE(IsIntegerLiteral(ok)) << ok;
  for (const char* bad : {"", "-", "1.5", "1e3", " 1", "1)", "+1", "1; drop table x"})
    EXPECT_FALSE(IsIntegerLiteral(bad)) << bad;
}

TEST(MigrationTextTest, SameTextIgnoresAsciiCaseOnly) {
  EXPECT_TRUE(SameTextAscii("b01", "B01"));
  EXPECT_TRUE(SameTextAscii("t_rpt_duration", "T_RPT_DURATION"));
  EXPECT_FALSE(SameTextAscii("B01 ", "B01"));
  EXPECT_FALSE(SameTextAscii("B0l", "B01"));
}

TEST(FileListTest, PlainFilesSortedWithoutRegardToCase) {
  testsupport::TempDir dir;
  for (const char* name : {"rptreport.xml", "RPTDURATION.xml", "B01REPORT.xml", "rptaddresslist.xml",
                           "rptreportdata.xml", "rptcombinefetchcondition.xml", "rptcombinefetch.xml",
                           ".hidden.xml", "notes.XML"}) {
    std::ofstream(dir / name) << "x";
  }
  std::filesystem::create_directory(dir / "sub.xml");
  const std::vector<std::string> expected = {
      "B01REPORT.xml",      "notes.XML",   "rptaddresslist.xml", "rptcombinefetch.xml",
      "rptcombinefetchcondition.xml", "RPTDURATION.xml", "rptreport.xml", "rptreportdata.xml"};
  EXPECT_EQ(ListPlainFiles(dir.path()), expected);
}

TEST(FileListTest, MissingDirectoryRaises) {
  testsupport::TempDir dir;
  EXPECT_THROW(ListPlainFiles(dir / "absent"), std::filesystem::filesystem_error);
}

}  // namespace
}  // namespace migration
