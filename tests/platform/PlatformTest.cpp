#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace {

TEST(CodePageTest, ChineseRoundTripsThroughGbkAndAsciiIsUnchanged) {
  const std::string name = "qimzorstatistics/报表数据.xml";
  const std::string gbk = platform::Utf8ToGbk(name);
  EXPECT_EQ(gbk.size(), name.size() - 4 * 3 + 4 * 2);  // four CJK characters, two bytes each
  EXPECT_EQ(platform::GbkToUtf8(gbk), name);
  EXPECT_EQ(platform::Utf8ToGbk("rptreport.xml"), "rptreport.xml");
}

TEST(CodePageTest, CharactersWithoutGbkEquivalentBecomeQuestionMarks) {
  EXPECT_EQ(platform::Utf8ToGbk("a\xF0\x9F\x98\x80" "b"), "a?b");  // U+1F600
  EXPECT_EQ(platform::GbkToUtf8("a\xFF" "b"), "a?b");
}

TEST(FileSystemTest, AttributesFollowPermissionsAndNames) {
  testsupport::TempDir tmp;
  std::ofstream(tmp / "plain.xml") << "x";
  std::ofstream(tmp / ".hidden") << "x";
  EXPECT_EQ(platform::GetFileAttributes(tmp / "plain.xml"), platform::kAttrArchive);
  EXPECT_EQ(platform::GetFileAttributes(tmp / ".hidden"), platform::kAttrArchive | platform::kAttrHidden);
  EXPECT_EQ(platform::GetFileAttributes(tmp.path()), platform::kAttrDirectory);
  EXPECT_FALSE(platform::GetFileAttributes(tmp / "missing").has_value());

  ASSERT_TRUE(platform::SetFileAttributes(tmp / "plain.xml", platform::kAttrArchive | platform::kAttrReadOnly));
  EXPECT_EQ(platform::GetFileAttributes(tmp / "plain.xml"), platform::kAttrArchive | platform::kAttrReadOnly);
  ASSERT_TRUE(platform::SetFileAttributes(tmp / "plain.xml", platform::kAttrArchive));
  EXPECT_EQ(platform::GetFileAttributes(tmp / "plain.xml"), platform::kAttrArchive);
}

TEST(FileSystemTest, RemoveTreeReportsInsteadOfRaising) {
  testsupport::TempDir tmp;
  std::filesystem::create_directories(tmp / "a/b");
  std::ofstream(tmp / "a/b/c.txt") << "x";
  EXPECT_TRUE(platform::RemoveTree(tmp / "a"));
  EXPECT_FALSE(std::filesystem::exists(tmp / "a"));
  EXPECT_FALSE(platform::RemoveTree(tmp / "a"));
  EXPECT_FALSE(platform::RemoveTree(""));
}

TEST(FileSystemTest, ExecutableDirectoryEndsWithSeparator) {
  const std::string dir = platform::ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_TRUE(std::filesystem::is_directory(dir));
}

TEST(ScriptedDialogsTest, AnswersFromQueueThenDefaultsAndRecordsEveryBox) {
  platform::ScriptedDialogs dialogs;
  platform::ScopedDialogs scope(&dialogs);
  dialogs.messageAnswers = {platform::kIdYes};
  EXPECT_EQ(platform::Dialogs().MessageBox("q?", "警告", platform::kMbYesNoWarning), platform::kIdYes);
  EXPECT_EQ(platform::Dialogs().MessageBox("q?", "警告", platform::kMbYesNoWarning), platform::kIdNo);
  EXPECT_EQ(platform::Dialogs().MessageBox("done", "提示", platform::kMbIconInformation), platform::kIdOk);
  ASSERT_EQ(dialogs.shown.size(), 3u);
  EXPECT_EQ(dialogs.shown[2].caption, "提示");
  EXPECT_EQ(dialogs.shown[2].style, 64);
  EXPECT_FALSE(platform::Dialogs().OpenFile().has_value());
}

}  // namespace
