#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using platform::PathFromUtf8;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// The five attribute bits the program stores and restores.
constexpr std::uint32_t kDosBits = platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem |
                                   platform::kAttrDirectory | platform::kAttrArchive;

void WriteFile(const std::string& path, const std::string& content) {
  std::FILE* f = platform::OpenFile(path, "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CodePageTest, ConvertsToAndFromGbkWithQuestionMarksForWhatGbkLacks) {
  struct Case {
    std::string utf8, gbk;
    bool roundTrips;
  };
  const Case cases[] = {
      {"rptreport.xml", "rptreport.xml", true},
      {"qimzorstatistics/报表数据.xml", "qimzorstatistics/\xB1\xA8\xB1\xED\xCA\xFD\xBE\xDD.xml", true},
      {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xA8\xA6 \x80", true},   // é and the euro sign have GBK codes
      {"\xC3\x84.xml", "?.xml", false},                         // Ä has none
      {"a\xF0\x9F\x98\x80" "b", "a?b", false},                  // nor has anything beyond U+FFFF
      {"", "", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::Utf8ToGbk(c.utf8), c.gbk) << c.utf8;
    if (c.roundTrips) {
      EXPECT_EQ(platform::GbkToUtf8(c.gbk), c.utf8) << c.utf8;
    }
  }
  EXPECT_EQ(platform::GbkToUtf8("a\xFF" "b"), "a?b");  // not a GBK byte
  EXPECT_EQ(platform::GbkToUtf8("a\xB1"), "a?");       // a lead byte cut off
}

TEST(FileSystemTest, StoredAttributesComeBackWithNonAsciiNamesToo) {
  // What the platform keeps of stored attributes: Windows all four bits (its file system always
  // reports the archive bit on files under Wine, so every row keeps it), elsewhere only read-only.
  struct Case {
    const char* name;
    std::uint32_t stored;
    std::uint32_t windows, posix;
  };
  using namespace platform;
  const Case cases[] = {
      {"plain.xml", kAttrArchive, kAttrArchive, kAttrArchive},
      {"readonly.xml", kAttrArchive | kAttrReadOnly, kAttrArchive | kAttrReadOnly, kAttrArchive | kAttrReadOnly},
      {"报表数据.xml", kAttrArchive | kAttrReadOnly | kAttrHidden, kAttrArchive | kAttrReadOnly | kAttrHidden,
       kAttrArchive | kAttrReadOnly},
      {"Übersicht.dat", kAttrArchive | kAttrSystem | kAttrHidden, kAttrArchive | kAttrSystem | kAttrHidden,
       kAttrArchive},
  };
  testsupport::TempDir tmp;
  for (const Case& c : cases) {
    const std::string path = tmp / c.name;
    WriteFile(path, "x");
    ASSERT_TRUE(SetFileAttributes(path, c.stored)) << c.name;
    EXPECT_EQ(GetFileAttributes(path).value_or(0) & kDosBits, kWindows ? c.windows : c.posix) << c.name;
    ASSERT_TRUE(SetFileAttributes(path, kAttrArchive)) << c.name;
    EXPECT_EQ(GetFileAttributes(path).value_or(0) & kDosBits, kAttrArchive) << c.name;
  }
  EXPECT_EQ(GetFileAttributes(tmp.path()).value_or(0) & kDosBits, kAttrDirectory);
  EXPECT_FALSE(GetFileAttributes(tmp / "missing").has_value());
  EXPECT_FALSE(SetFileAttributes(tmp / "missing", kAttrArchive));
}

TEST(FileSystemTest, AttributesFollowPermissionsAndNames) {
  if (kWindows) GTEST_SKIP() << "Linux-only: read-only as the owner's write permission, hidden as a leading dot";
  testsupport::TempDir tmp;
  std::ofstream(tmp / ".hidden") << "x";
  std::ofstream(tmp / "locked.xml") << "x";
  fs::permissions(tmp / "locked.xml", fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(platform::GetFileAttributes(tmp / ".hidden"), platform::kAttrArchive | platform::kAttrHidden);
  EXPECT_EQ(platform::GetFileAttributes(tmp / "locked.xml"), platform::kAttrArchive | platform::kAttrReadOnly);
}

TEST(FileSystemTest, RemoveTreeTakesNonAsciiAndReadOnlyEntriesAndReportsInsteadOfRaising) {
  testsupport::TempDir tmp;
  const std::string root = tmp / "数据";
  fs::create_directories(PathFromUtf8(root + "/子目录/deeper"));
  for (const char* name : {"/a.xml", "/子目录/报表.xml", "/子目录/deeper/b.xml"}) WriteFile(root + name, "x");
  ASSERT_TRUE(platform::SetFileAttributes(root + "/子目录/报表.xml", platform::kAttrReadOnly));

  std::vector<std::string> listed;
  for (const auto& entry : fs::directory_iterator(PathFromUtf8(root + "/子目录")))
    listed.push_back(platform::PathToUtf8(entry.path().filename()));
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"deeper", "报表.xml"}));

  EXPECT_TRUE(platform::RemoveTree(root));
  EXPECT_FALSE(fs::exists(PathFromUtf8(root)));
  EXPECT_FALSE(platform::RemoveTree(root));
  EXPECT_FALSE(platform::RemoveTree(""));
}

TEST(FileSystemTest, SameFileNameFollowsTheFileSystemsLetterCase) {
  struct Case {
    const char* a;
    const char* b;
    bool windows, posix;
  };
  const Case cases[] = {
      {"rptreport.xml", "rptreport.xml", true, true},
      {"RPTREPORT.xml", "rptreport.XML", true, false},
      {"D:\\Bak\\20130615bak.dmp", "d:\\bak\\20130615BAK.DMP", true, false},
      {"Übersicht.xml", "übersicht.xml", true, false},
      {"报表.xml", "报表.XML", true, false},
      {"a.xml", "b.xml", false, false},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::SameFileName(c.a, c.b), kWindows ? c.windows : c.posix) << c.a;
}

TEST(FileSystemTest, ReplaceFileAtomicallyPutsTheNewFileInPlace) {
  testsupport::TempDir tmp;
  const std::string archive = tmp / "备份.dmp";
  const std::string fresh = tmp / "备份.dmp.tmp";
  WriteFile(archive, "old");
  WriteFile(fresh, "new");
  EXPECT_FALSE(platform::FlushFileToDisk(fresh));
  EXPECT_FALSE(platform::ReplaceFileAtomically(fresh, archive));
  EXPECT_FALSE(platform::FlushDirectoryToDisk(tmp.path()));
  EXPECT_EQ(ReadFile(archive), "new");
  EXPECT_FALSE(fs::exists(PathFromUtf8(fresh)));

  EXPECT_TRUE(platform::ReplaceFileAtomically(fresh, archive));  // nothing to move any more
  EXPECT_EQ(ReadFile(archive), "new");
  EXPECT_TRUE(platform::FlushFileToDisk(tmp / "missing"));
  EXPECT_TRUE(platform::FlushDirectoryToDisk(tmp / "missing"));
}

TEST(FileSystemTest, ExecutableDirectoryEndsWithSeparator) {
  const std::string dir = platform::ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), platform::kPathSeparator);
  EXPECT_TRUE(fs::is_directory(PathFromUtf8(dir)));
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
