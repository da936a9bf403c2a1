#include "archive/ArchiveSettings.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <filesystem>
#include <functional>

#include "archive/ArchiveErrors.h"
#include "archive/ArchiveReader.h"
#include "archive/ArchiveWriter.h"
#include "archive/WriterTestSupport.h"
#include "platform/Dialogs.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

namespace fs = std::filesystem;
using namespace writertest;

TEST(ArchivePasswordTest, DerivationTable) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"abc", "psd"},
      {"A", "N"},
      {"", ""},
      // n = 1: k = (12 + 1) mod 19 = 13, so 0xFF + 13 wraps to 0x0C.
      {"\xFF", "\x0C"},
      // n = 2: k runs 14, then 16; 0xF5 + 16 wraps to 0x05.
      {std::string("\x01\xF5", 2), std::string("\x0F\x05", 2)},
  };
  for (const Case& c : cases) EXPECT_EQ(archive::BuildArchivePassword(c.in), c.out) << c.in;
}

TEST(ArchivePasswordTest, OutputKeepsTheInputLength) {
  for (std::size_t n = 0; n < 40; ++n)
    EXPECT_EQ(archive::BuildArchivePassword(std::string(n, 'z')).size(), n);
}

TEST(ArchivePasswordTest, ArchivePasswordIsSeventeenPrintableCharacters) {
  const std::string password = archive::ArchivePassword();
  ASSERT_EQ(password.size(), 17u);
  for (char c : password) EXPECT_TRUE(c > 0x20 && c < 0x7F);
  EXPECT_EQ(password, archive::ArchivePassword());
}

class CompressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(work + "/B01REPORT.xml", "<xml>rows</xml>");
    WriteFile(work + "/RPTREPORT.xml", std::string(20000, 'r'));
    WriteFile(work + "/EMPTY.xml", "");
  }

  std::string Restored(const std::string& name) {
    return ReadFile(folder + "/qimzorstatistics/" + name);
  }

  testsupport::TempDir tmp;
  std::string folder = tmp / "backup";  // the chosen folder; the archive goes here
  std::string work = tmp / "source/qimzorstatistics";
  std::string archivePath = folder + "/20130715bak.dmp";
  archive::ArchiveWriter writer;
  archive::ArchiveReader reader;
  platform::ScriptedDialogs dialogs;
  platform::ScopedDialogs scoped{&dialogs};
};

TEST_F(CompressTest, RoundTripThroughCompressAndUnCompress) {
  fs::create_directories(folder);
  testsupport::TraceCapture trace;
  archive::compress(writer, archivePath, work);
  EXPECT_EQ(trace.lines.front(), "Enter compress");
  EXPECT_EQ(trace.lines.back(), "Leave compress");
  EXPECT_TRUE(writer.Password.empty()) << "the password does not outlive the run";
  EXPECT_TRUE(writer.FilesList.empty());

  // The backup settings: full directory names and the program's password.
  const ParsedArchive a = Parse(ReadFile(archivePath));
  ASSERT_EQ(a.entries.size(), 3u);
  EXPECT_EQ(a.entries[0].name, writertest::StoredDir(work) + "B01REPORT.xml");
  EXPECT_EQ(a.entries[0].flags, 0x0001u);

  trace.lines.clear();
  EXPECT_EQ(archive::UnCompress(reader, archivePath, folder + "/"), 0);
  EXPECT_EQ(trace.lines.front(), "Enter UnCompress");
  EXPECT_EQ(trace.lines.back(), "Leave UnCompress");
  EXPECT_FALSE(trace.Contains("解压失败！"));
  EXPECT_EQ(Restored("RPTREPORT.xml"), std::string(20000, 'r'));
  EXPECT_EQ(Restored("B01REPORT.xml"), "<xml>rows</xml>");
  EXPECT_TRUE(fs::exists(folder + "/qimzorstatistics/EMPTY.xml"));
  // Nothing of the password reaches the trace.
  for (const std::string& line : trace.lines)
    EXPECT_EQ(line.find(archive::ArchivePassword()), std::string::npos);
}

TEST_F(CompressTest, SecondBackupOfTheDayReplacesTheArchiveContent) {
  fs::create_directories(folder);
  archive::compress(writer, archivePath, work);
  WriteFile(work + "/B01REPORT.xml", "<xml>second backup</xml>");
  // A later modification time than the entry's (two-second DOS steps).
  const auto later = fs::last_write_time(work + "/B01REPORT.xml") + std::chrono::seconds(4);
  fs::last_write_time(work + "/B01REPORT.xml", later);
  archive::compress(writer, archivePath, work);
  ASSERT_EQ(archive::UnCompress(reader, archivePath, folder + "/"), 0);
  EXPECT_EQ(Restored("B01REPORT.xml"), "<xml>second backup</xml>");
}

TEST_F(CompressTest, WriterFailurePassesToTheCaller) {
  testsupport::TraceCapture trace;
  EXPECT_THROW(archive::compress(writer, tmp / "missing/dir/x.dmp", work), archive::EZipError);
  EXPECT_FALSE(trace.Contains("Leave compress"));
}

// A TableFile that cannot be read whole fails the backup, and the archive is all or nothing: no
// new archive appears, and an existing one stays byte for byte as it was. A named pipe cannot be
// opened for packing; /proc/self/mem opens as a regular file whose first read fails with EIO,
// which must not be taken for the end of the file.
TEST_F(CompressTest, AFileThatCannotBeReadLeavesNoArchiveAndTheOldOneUnchanged) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux-only: a named pipe and /proc/self/mem as unreadable files";
#else
  fs::create_directories(folder);
  const std::string existing = folder + "/20130714bak.dmp";
  archive::compress(writer, existing, work);
  const std::string before = ReadFile(existing);
  const std::string bad = work + "/T_RPT_DURATION.xml";
  const std::vector<std::function<void()>> plant = {
      [&] { ASSERT_EQ(::mkfifo(bad.c_str(), 0600), 0); },
      [&] { fs::create_symlink("/proc/self/mem", bad); },
  };
  for (const auto& makeUnreadable : plant) {
    fs::remove(bad);
    makeUnreadable();
    // Newer TableFiles, so that an update would replace every old entry.
    for (const char* name : {"/B01REPORT.xml", "/RPTREPORT.xml", "/EMPTY.xml"})
      fs::last_write_time(work + name, fs::file_time_type::clock::now() + std::chrono::hours(1));
    for (const std::string& target : {archivePath, existing}) {
      testsupport::TraceCapture trace;
      try {
        archive::compress(writer, target, work);
        ADD_FAILURE() << "no error for " << target;
      } catch (const archive::EZipError& e) {
        EXPECT_NE(std::string(e.what()).find("T_RPT_DURATION.xml"), std::string::npos) << e.what();
      }
      EXPECT_FALSE(trace.Contains("Leave compress"));
    }
    EXPECT_FALSE(fs::exists(archivePath));
    EXPECT_TRUE(ReadFile(existing) == before);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "a temporary file was left";
  }
#endif
}

// A cancel request that came after an operation ended does not stop the next one.
TEST_F(CompressTest, AStaleCancelDoesNotStopTheNextOperation) {
  fs::create_directories(folder);
  writer.Cancel();
  archive::compress(writer, archivePath, work);
  reader.Cancel();
  EXPECT_EQ(archive::UnCompress(reader, archivePath, folder + "/"), 0);
}

// A named pipe given as the archive is refused at once by the reader and by the writer, which
// neither wait for a writer at its other end nor replace it.
TEST_F(CompressTest, ANamedPipeAsTheArchiveIsRefusedWithoutWaiting) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux-only: named pipes (mkfifo)";
#else
  fs::create_directories(folder);
  ASSERT_EQ(::mkfifo(archivePath.c_str(), 0600), 0);
  EXPECT_EQ(archive::UnCompress(reader, archivePath, folder + "/"), -99);
  EXPECT_THROW(archive::compress(writer, archivePath, work), archive::EFOpenError);
  EXPECT_EQ(fs::status(archivePath).type(), fs::file_type::fifo);
#endif
}

TEST_F(CompressTest, UnCompressReportsMinus99WhenNotEveryFileCameOut) {
  fs::create_directories(folder);
  archive::compress(writer, archivePath, work);
  const std::string good = ReadFile(archivePath);

  // Wrong password: an archive packed with another password.
  {
    archive::ArchiveWriter other;
    other.FilesList = {work + "/*.*"};
    other.SetRelativePaths(true);
    other.SetZipName(tmp / "other.dmp");
    other.Password = "not the program's";
    other.PackFiles();
    testsupport::TraceCapture trace;
    EXPECT_EQ(archive::UnCompress(reader, tmp / "other.dmp", folder + "/"), -99);
    EXPECT_TRUE(trace.Contains("解压失败！"));
  }
  // An archive without file entries (the end record alone).
  {
    WriteFile(tmp / "empty.dmp", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    testsupport::TraceCapture trace;
    EXPECT_EQ(archive::UnCompress(reader, tmp / "empty.dmp", folder + "/"), -99);
    EXPECT_TRUE(trace.Contains("解压失败！"));
  }
  // A file that is no archive: the reader raises.
  {
    WriteFile(tmp / "text.dmp", "just text, no archive at all");
    EXPECT_EQ(archive::UnCompress(reader, tmp / "text.dmp", folder + "/"), -99);
  }
  // A missing archive.
  EXPECT_EQ(archive::UnCompress(reader, tmp / "absent.dmp", folder + "/"), -99);
  // Refused overwrite: the files are there and the user answers No.
  {
    ASSERT_EQ(archive::UnCompress(reader, archivePath, folder + "/"), 0);
    dialogs.messageAnswers = {platform::kIdNo, platform::kIdYes, platform::kIdYes};
    EXPECT_EQ(archive::UnCompress(reader, archivePath, folder + "/"), -99);
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown[0].caption, "File Exists Alert");
  }
  // Agreeing to every overwrite succeeds again.
  {
    dialogs.messageAnswers = {platform::kIdYes, platform::kIdYes, platform::kIdYes};
    EXPECT_EQ(archive::UnCompress(reader, archivePath, folder + "/"), 0);
  }
  EXPECT_EQ(ReadFile(archivePath), good);
}

// Answers every question with Yes, and on the first one tries a second unpack on the same reader
// while the first is still running (the message box runs inside the extraction).
class ReenteringDialogs : public platform::ScriptedDialogs {
 public:
  int MessageBox(const std::string& text, const std::string& caption, int style) override {
    if (nestedResult == 1) {
      nestedResult = archive::UnCompress(*reader, archivePath, folder);
      busyInside = reader->IsBusy();
    }
    ScriptedDialogs::MessageBox(text, caption, style);
    return platform::kIdYes;
  }
  archive::ArchiveReader* reader = nullptr;
  std::string archivePath, folder;
  int nestedResult = 1;
  bool busyInside = false;
};

TEST_F(CompressTest, BusyReaderReturnsZeroAtOnce) {
  fs::create_directories(folder);
  archive::compress(writer, archivePath, work);
  ASSERT_EQ(archive::UnCompress(reader, archivePath, folder + "/"), 0);

  ReenteringDialogs reentering;
  reentering.reader = &reader;
  reentering.archivePath = tmp / "absent.dmp";  // would give -99 if it were looked at
  reentering.folder = folder + "/";
  platform::ScopedDialogs scope(&reentering);
  EXPECT_EQ(archive::UnCompress(reader, archivePath, folder + "/"), 0);
  EXPECT_TRUE(reentering.busyInside);
  EXPECT_EQ(reentering.nestedResult, 0);
  EXPECT_EQ(reentering.shown.size(), 3u);
}

}  // namespace
