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
#ifdef _WIN32
      {"C:\\data\\20130615bak.dmp", "C:\\data\\"},
      {"C:\\data/b\\", "C:\\data/b\\"},
#endif
  };
  for (const auto& c : cases) EXPECT_EQ(FolderPart(c.path), c.folder) << c.path;
}

TEST(MigrationTextTest, ExtensionStartsAtTheLastDot) {
  EXPECT_EQ(ExtensionOf("rptreport.xml"), ".xml");
  EXPECT_EQ(ExtensionOf("a.b.XML"), ".XML");
  EXPECT_EQ(ExtensionOf("noext"), "");
  EXPECT_EQ(ExtensionOf("trailing."), ".");
}

TEST(MigrationTextTest, QuotedTextMeansTheTextUnderBothBackslashRules) {
  const struct {
    const char *text, *literal, *escape;
  } cases[] = {
      {"O'Brien", "'O''Brien'", "'O''Brien'"},
      {"", "''", "''"},
      {"''", "''''''", "''''''"},
      {R"(a:b \ "x")", R"('a:b \ "x"')", R"('a:b \\ "x"')"},
      {R"(C:\new\t.txt)", R"('C:\new\t.txt')", R"('C:\\new\\t.txt')"},
      {R"(ends\)", R"('ends\')", R"('ends\\')"},
      {R"(\')", R"('\''')", R"('\\''')"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuotedText(c.text), c.literal) << c.text;
    EXPECT_EQ(QuotedText(c.text, TBackslashes::Escape), c.escape) << c.text;
  }
}

TEST(MigrationTextTest, PlainIdentifiers) {
  // Beyond ASCII every well-formed character counts as a letter, as in the server's unquoted names.
  for (const char* ok : {"rptreport", "B01REPORT", "T_RPT_DURATION", "a.b", "_x$1", "DBO.b01report", "名称",
                         "备注说明2", "DBO.报表", "Größe", "имя_1", "_𠀀", "金额（元）", "项目１", "〇号", "名称；x",
                         "名　称", "a\u037eb", "a\u00a0b", "a×b", "名、称", "a\u200bb", "\uffff", "x$"})
    EXPECT_TRUE(IsPlainIdentifier(ok)) << ok;
  for (const char* bad : {"", "1abc", "a b", "a;b", "a.", ".a", "a..b", "x\"y", "a'b", "id) values (1); --",
                          "a-b", "a.1b", "$a$", "$$", "$1", "DBO.$1", "a\x80", "a\xc3", "\xc0\x80", "\xe0\x83\x80",
                          "\xed\xa0\x80", "\xf8\x88\x80\x80\x80", "\xf4\x90\x80\x80"})
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
