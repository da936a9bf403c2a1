#include "archive/ArchiveWriter.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "archive/ArchiveErrors.h"
#include "archive/ArchiveReader.h"
#include "archive/Crc32.h"
#include "archive/EncryptionHeaderRandom.h"
#include "archive/ZipCrypto.h"
#include "platform/Dialogs.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"
#include "support/FolderLink.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"
#include "archive/WriterTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace writertest;
using archive::ArchiveWriter;

constexpr char kPassword[] = "Secret-Pass_42";


std::string RawDeflate(const std::string& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Incompressible(std::size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

void SetMTime(const std::string& path, std::time_t when) {
  const auto at = std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(when));
  std::error_code ec;
  fs::last_write_time(Native(path), at, ec);
}

class ArchiveWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(work);
    std::uint32_t next = 1000;
    archive::SetHeaderSeedSource([next]() mutable { return next += 7; });
  }
  void TearDown() override { archive::SetHeaderSeedSource({}); }

  // Packs the work directory the way a backup does (recursing, directory entries, full paths).
  int Pack(const std::string& password = kPassword, int level = 6) {
    writer.FilesList = {work + "/*.*"};
    writer.AddDirEntriesOnRecurse = true;
    writer.SetRelativePaths(true);
    writer.SetZipName(zip);
    writer.Password = password;
    writer.PackLevel = level;
    return writer.PackFiles();
  }

  testsupport::TempDir tmp;
  std::string work = tmp / "work";
  std::string zip = tmp / "out.dmp";
  ArchiveWriter writer;
  platform::ScriptedDialogs dialogs;
  platform::ScopedDialogs scoped{&dialogs};
};

TEST_F(ArchiveWriterTest, DefaultsAndCouplingsOfTheSettings) {
  ArchiveWriter w;
  EXPECT_EQ(w.PackLevel, 6);
  EXPECT_EQ(w.ZipAction, archive::TZipAction::zaUpdate);
  EXPECT_FALSE(w.Recurse());
  EXPECT_FALSE(w.StorePaths());
  EXPECT_EQ(w.AttributeMask(), 0x39u);
  EXPECT_TRUE(w.IncludeReadOnlyFiles());
  EXPECT_TRUE(w.IncludeArchiveFiles());
  EXPECT_FALSE(w.IncludeHiddenFiles());
  EXPECT_FALSE(w.IncludeSysFiles());
  EXPECT_EQ(w.OEMConvert, archive::TOEMConvert::oemAlways);
  EXPECT_TRUE(w.DoProcessMessages);
  EXPECT_EQ(w.MultiZipInfo.BlockSize, 1457600);
  EXPECT_EQ(w.MultiZipInfo.MultiMode, archive::TMultiMode::mmNone);

  w.SetRelativePaths(true);
  EXPECT_TRUE(w.StorePaths());
  EXPECT_TRUE(w.Recurse());
  w.SetStoreVolumes(true);
  w.SetStorePaths(false);
  EXPECT_FALSE(w.StoreVolumes());
  EXPECT_FALSE(w.RelativePaths());
  EXPECT_TRUE(w.Recurse());
  w.SetStoreVolumes(true);
  EXPECT_TRUE(w.StorePaths());

  w.SetIncludeHiddenFiles(true);
  w.SetIncludeSysFiles(true);
  EXPECT_EQ(w.AttributeMask(), 0x3Fu);
  w.SetIncludeReadOnlyFiles(false);
  w.SetIncludeArchiveFiles(false);
  EXPECT_EQ(w.AttributeMask(), 0x1Eu);
}

TEST_F(ArchiveWriterTest, EmptyFolderGivesTheBareEndRecord) {
  EXPECT_EQ(Pack(), 0);
  const std::string bytes = ReadFile(zip);
  ASSERT_EQ(bytes.size(), 22u);
  EXPECT_EQ(bytes, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST_F(ArchiveWriterTest, BlankZipNameDoesNothingAndClearsTheList) {
  writer.FilesList = {work + "/*.*"};
  writer.SetZipName("   ");
  EXPECT_EQ(writer.PackFiles(), 0);
  EXPECT_TRUE(writer.FilesList.empty());
}

TEST_F(ArchiveWriterTest, EncryptedEntriesHaveTheDocumentedLayout) {
  const std::string xml = "<xml>" + std::string(5000, 'r') + "</xml>";
  WriteFile(work + "/a.xml", xml);
  WriteFile(work + "/empty.xml", "");
  fs::create_directories(work + "/sub");
  WriteFile(work + "/sub/b.xml", "bee");
  WriteFile(work + "/z.xml", "zed");

  ASSERT_EQ(Pack(), 5);
  const std::string bytes = ReadFile(zip);
  const ParsedArchive a = Parse(bytes);
  ASSERT_TRUE(a.ok);
  ASSERT_EQ(a.entries.size(), 5u);
  const std::string dir = StoredDir(work);
  const std::vector<std::string> names = {dir + "a.xml", dir + "empty.xml", dir + "sub/",
                                          dir + "sub/b.xml", dir + "z.xml"};
  const std::vector<std::string> contents = {xml, "", "", "bee", "zed"};
  EXPECT_EQ(a.entries[0].localOffset, 0u);

  std::uint32_t seed = 1000;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const ParsedEntry& e = a.entries[i];
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(e.name, names[i]);
    EXPECT_EQ(e.versionNeeded, 20u);
    EXPECT_EQ(e.versionMadeBy, 45u);
    EXPECT_EQ(e.internalAttributes, 0u);
    EXPECT_EQ(e.centralExtraLength, 0u);
    EXPECT_EQ(e.centralFlags, e.flags);
    EXPECT_EQ(e.centralMethod, e.method);
    EXPECT_EQ(e.centralCrc, e.crc);
    EXPECT_EQ(e.centralCompressed, e.compressedSize);
    if (names[i].back() == '/') {
      EXPECT_EQ(e.flags, 0u);
      EXPECT_EQ(e.method, 0u);
      EXPECT_EQ(e.crc, 0u);
      EXPECT_EQ(e.compressedSize, 0u);
      EXPECT_EQ(e.uncompressedSize, 0u);
      EXPECT_EQ(e.externalAttributes & 0x10u, 0x10u);
      EXPECT_EQ(a.entries[i + 1].localOffset, e.dataOffset) << "no data after a directory entry";
      continue;
    }
    const std::string deflated = RawDeflate(contents[i], 6);
    EXPECT_EQ(e.flags, 0x0001u);
    EXPECT_EQ(e.method, 8u);
    EXPECT_EQ(e.externalAttributes, 0x20u);
    EXPECT_EQ(e.crc, archive::Crc32Of(contents[i].data(), contents[i].size()));
    EXPECT_EQ(e.uncompressedSize, contents[i].size());
    EXPECT_EQ(e.compressedSize, deflated.size() + 12);
    if (contents[i].empty()) {
      EXPECT_EQ(e.compressedSize, 14u);
      EXPECT_EQ(e.crc, 0u);
    }

    // Decrypt the header and the data with the password's keys.
    archive::ZipKeys keys(kPassword);
    std::string data = bytes.substr(e.dataOffset, e.compressedSize);
    keys.Decrypt(reinterpret_cast<std::uint8_t*>(data.data()), data.size());
    archive::EncryptionHeaderRandom random;
    random.Seed(seed += 7);
    for (int b = 0; b < 10; ++b)
      EXPECT_EQ(static_cast<std::uint8_t>(data[b]), random.NextHeaderByte()) << "byte " << b;
    EXPECT_EQ(static_cast<std::uint8_t>(data[10]), static_cast<std::uint8_t>(e.crc >> 16));
    EXPECT_EQ(static_cast<std::uint8_t>(data[11]), static_cast<std::uint8_t>(e.crc >> 24));
    EXPECT_EQ(data.substr(12), deflated);
  }
  EXPECT_EQ(a.entriesThisDisk, 5u);
  EXPECT_EQ(a.totalEntries, 5u);
  EXPECT_EQ(a.commentLength, 0u);
  EXPECT_EQ(a.centralOffset, a.entries.back().dataOffset + a.entries.back().compressedSize);
}

TEST_F(ArchiveWriterTest, LevelPasswordAndMethodDecideTheFlags) {
  WriteFile(work + "/t.xml", std::string(3000, 'q'));
  struct Case {
    int level;
    const char* password;
    std::uint32_t flags;
    std::uint32_t method;
  } cases[] = {
      {0, kPassword, 0x0005, 0}, {1, kPassword, 0x0005, 8}, {2, "", 0x0004, 8},
      {3, kPassword, 0x0001, 8}, {6, "", 0x0000, 8},        {8, kPassword, 0x0003, 8},
      {9, "", 0x0002, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    fs::remove(zip);
    ASSERT_EQ(Pack(c.password, c.level), 1);
    const std::string bytes = ReadFile(zip);
    const ParsedArchive a = Parse(bytes);
    ASSERT_TRUE(a.ok);
    const ParsedEntry& e = a.entries.at(0);
    EXPECT_EQ(e.flags, c.flags);
    EXPECT_EQ(e.method, c.method);
    const std::size_t header = *c.password ? 12 : 0;
    const std::string expected =
        c.method == 0 ? std::string(3000, 'q') : RawDeflate(std::string(3000, 'q'), c.level);
    EXPECT_EQ(e.compressedSize, expected.size() + header);
    if (!*c.password) {
      EXPECT_EQ(bytes.substr(e.dataOffset, e.compressedSize), expected);
    }
  }
}

TEST_F(ArchiveWriterTest, IdenticalFilesGiveDifferentEncryptedBytes) {
  archive::SetHeaderSeedSource({});  // the real clock
  const std::string content = Incompressible(4096, 7);
  WriteFile(work + "/one.xml", content);
  WriteFile(work + "/two.xml", content);
  ASSERT_EQ(Pack(), 2);
  const std::string bytes = ReadFile(zip);
  const ParsedArchive a = Parse(bytes);
  ASSERT_EQ(a.entries.size(), 2u);
  const std::string first = bytes.substr(a.entries[0].dataOffset, a.entries[0].compressedSize);
  const std::string second = bytes.substr(a.entries[1].dataOffset, a.entries[1].compressedSize);
  ASSERT_EQ(first.size(), second.size());
  EXPECT_NE(first.substr(0, 10), second.substr(0, 10));
  std::size_t same = 0;
  for (std::size_t i = 12; i < first.size(); ++i) same += first[i] == second[i];
  EXPECT_LT(same, first.size() / 64) << "the data must not repeat between the entries";
}

TEST_F(ArchiveWriterTest, HiddenFilesAndDirectoriesAreLeftOutUnlessIncluded) {
  WriteFile(work + "/.hidden.xml", "h");
  WriteFile(work + "/.dir/inside.xml", "i");
  WriteFile(work + "/seen.xml", "s");
  ASSERT_EQ(Pack(), 1);
  EXPECT_EQ(Parse(ReadFile(zip)).entries.at(0).name, StoredDir(work) + "seen.xml");

  fs::remove(zip);
  writer.SetIncludeHiddenFiles(true);
  ASSERT_EQ(Pack(), 4);
  const ParsedArchive a = Parse(ReadFile(zip));
  EXPECT_EQ(a.entries.at(0).name, StoredDir(work) + ".dir/");
  EXPECT_EQ(a.entries.at(0).externalAttributes, 0x12u);
  EXPECT_EQ(a.entries.at(2).externalAttributes, 0x22u);
}

// A link to a folder is named in the trace and left out, on both systems (this one leads back to
// the packed folder: followed, the walk would never end); a link to a file packs as the file.
TEST_F(ArchiveWriterTest, ALinkToAFolderIsNamedInTheTraceAndLeftOut) {
  WriteFile(work + "/sub/a.xml", "a");
  const testsupport::FolderLink up(Native(work), Native(work + "/sub/up"));
  if (!up.Failure().empty()) GTEST_SKIP() << up.Failure();
  std::error_code ec;
  fs::create_symlink(Native(work + "/sub/a.xml"), Native(work + "/sub/b.xml"), ec);
  const bool fileLink = !ec && fs::exists(Native(work + "/sub/b.xml"));  // not under Wine
  testsupport::TraceCapture trace;
  ASSERT_EQ(Pack(), fileLink ? 3 : 2);
  const ParsedArchive a = Parse(ReadFile(zip));
  ASSERT_EQ(a.entries.size(), fileLink ? 3u : 2u);
  EXPECT_EQ(a.entries[0].name, StoredDir(work) + "sub/");
  EXPECT_EQ(a.entries[1].name, StoredDir(work) + "sub/a.xml");
  if (fileLink) {
    EXPECT_EQ(a.entries[2].name, StoredDir(work) + "sub/b.xml");
  }
  std::string link = work + "/sub/up";
#ifdef _WIN32
  std::replace(link.begin(), link.end(), '\\', '/');  // the walk names paths with '/'
#endif
  EXPECT_TRUE(trace.Contains("Link to a folder not followed: " + link)) << trace.lines.size();
}

// A folder that exists but cannot be listed fails the pack as an unreadable file does, below the
// packed folder or as the packed folder itself: an archive without its files must not pass for a
// complete one. Mode 000 does not stop root, so the pack runs as 'nobody' then.
TEST_F(ArchiveWriterTest, AFolderThatCannotBeListedFailsThePack) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux-only: POSIX permissions";
#else
  WriteFile(work + "/A.xml", "a");
  WriteFile(work + "/locked/B.xml", "b");
  const passwd* nobody = ::getuid() == 0 ? ::getpwnam("nobody") : nullptr;
  if (::getuid() == 0 && nobody == nullptr) GTEST_SKIP() << "no user 'nobody' to run the pack as";
  if (nobody != nullptr) {
    // Theirs, so that only the mode keeps them out and the archive could be written.
    ASSERT_EQ(::chown(tmp.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    for (const auto& e : fs::recursive_directory_iterator(tmp.path()))
      ASSERT_EQ(::lchown(e.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  }
  for (const std::string& locked : {work + "/locked", work}) {
    SCOPED_TRACE(locked);
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      if (nobody != nullptr && (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)) ::_exit(3);
      const std::string expected = "Cannot open folder \"" + locked + "\". " + std::strerror(EACCES);
      try {
        Pack();
      } catch (const archive::EFOpenError& e) {
        if (e.what() == expected) ::_exit(0);
        std::fprintf(stderr, "%s\n", e.what());
        ::_exit(2);
      } catch (...) {
        ::_exit(2);
      }
      ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(locked.c_str(), 0755);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot run the pack as 'nobody'";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_FALSE(fs::exists(zip));
  }
#endif
}

// An update of a read-only archive succeeds and leaves it read-only, on both systems: on Linux the
// folder's permission decides and the new file keeps the old one's mode; on Windows the
// replacement lifts the read-only attribute and sets it again.
TEST_F(ArchiveWriterTest, AnUpdateOfAReadOnlyArchiveKeepsItReadOnly) {
  WriteFile(work + "/a.xml", "a");
  Pack();
  ASSERT_TRUE(platform::SetFileAttributes(zip, platform::kAttrReadOnly | platform::kAttrArchive));
  WriteFile(work + "/b.xml", "b");
  Pack();
  EXPECT_EQ(Parse(ReadFile(zip)).entries.size(), 2u);
  const auto attributes = platform::GetFileAttributes(zip);
  ASSERT_TRUE(attributes.has_value());
  EXPECT_TRUE(*attributes & platform::kAttrReadOnly);
  platform::SetFileAttributes(zip, platform::kAttrArchive);  // so that the folder can go
}

TEST_F(ArchiveWriterTest, ReadOnlyFileKeepsItsAttributeBit) {
  WriteFile(work + "/ro.xml", "r");
  fs::permissions(work + "/ro.xml", fs::perms::owner_write, fs::perm_options::remove);
  ASSERT_EQ(Pack(), 1);
  EXPECT_EQ(Parse(ReadFile(zip)).entries.at(0).externalAttributes, 0x21u);
}

TEST_F(ArchiveWriterTest, ChineseNamesAreStoredInGbk) {
  WriteFile(work + "/报表数据.xml", "数据");
  ASSERT_EQ(Pack(), 1);
  // 报表数据 in GBK.
  const std::string gbk = "\xB1\xA8\xB1\xED\xCA\xFD\xBE\xDD";
  EXPECT_EQ(Parse(ReadFile(zip)).entries.at(0).name, StoredDir(work) + gbk + ".xml");
}

TEST_F(ArchiveWriterTest, TheArchiveNeverPacksItself) {
  zip = work + "/inside.dmp";
  WriteFile(work + "/a.xml", "a");
  ASSERT_EQ(Pack(), 1);
  ASSERT_EQ(Pack(), 1);  // second run: the archive now exists inside the walked folder
  const ParsedArchive a = Parse(ReadFile(zip));
  ASSERT_EQ(a.entries.size(), 1u);
  EXPECT_EQ(a.entries[0].name, StoredDir(work) + "a.xml");
}

TEST_F(ArchiveWriterTest, NamesEqualButForCaseArePackedOnce) {
  WriteFile(work + "/Data.xml", "upper");
  WriteFile(work + "/data.xml", "lower");
  ASSERT_EQ(Pack(), 1);
  const ParsedArchive a = Parse(ReadFile(zip));
  ASSERT_EQ(a.entries.size(), 1u);
  EXPECT_EQ(a.entries[0].name, StoredDir(work) + "Data.xml");
}

TEST_F(ArchiveWriterTest, NamedFilesAndMissingOnesInTheList) {
  WriteFile(work + "/named.xml", "n");
  writer.FilesList = {work + "/named.xml", work + "/missing.xml", work + "/"};
  writer.SetStorePaths(true);
  writer.SetZipName(zip);
  writer.Password = kPassword;
  EXPECT_EQ(writer.PackFiles(), 2);
  const ParsedArchive a = Parse(ReadFile(zip));
  ASSERT_EQ(a.entries.size(), 2u);
  EXPECT_EQ(a.entries[0].name, StoredDir(work) + "named.xml");
  EXPECT_EQ(a.entries[1].name, StoredDir(work));
  EXPECT_TRUE(writer.FilesList.empty());
}

TEST_F(ArchiveWriterTest, WithoutStorePathsOnlyFileNamesAreStored) {
  WriteFile(work + "/flat.xml", "f");
  writer.FilesList = {work + "/*.*"};
  writer.SetZipName(zip);
  EXPECT_EQ(writer.PackFiles(), 1);
  EXPECT_EQ(Parse(ReadFile(zip)).entries.at(0).name, "flat.xml");
}

TEST_F(ArchiveWriterTest, ReaderSideDescribesTheNewArchiveAndBusyIsRestored) {
  WriteFile(work + "/a.xml", "a");
  WriteFile(work + "/b.xml", "b");
  ASSERT_EQ(Pack(), 2);
  EXPECT_FALSE(writer.IsBusy());
  ASSERT_EQ(writer.EntryCount(), 2);
  EXPECT_EQ(writer.Entry(1).FileName(), "b.xml");
  EXPECT_TRUE(writer.FilesList.empty());
}

// --- packing on several threads ---

// Text that deflate finds repeats in, all along and across the pieces of a large file.
std::string RepetitiveText(std::size_t size) {
  std::string s;
  for (unsigned i = 0; s.size() < size; ++i)
    s += "<z:row id='" + std::to_string(i) + "' name='name" + std::to_string(i * 7919 % 1009) + "'/>\n";
  s.resize(size);
  return s;
}

// The workers pack the files in any order; the archive is the same whatever their number, with
// the same header bytes. Files of several sizes, some far beyond the memory a file may hold, so
// that they wait in temporary files until their turn, and some deflated in pieces (one ending
// exactly on a piece's end).
class ParallelPackTest : public ArchiveWriterTest {
 protected:
  void SetUp() override {
    ArchiveWriterTest::SetUp();
    WriteFile(work + "/A_big.xml", Incompressible(3 << 20, 1));
    WriteFile(work + "/B_empty.xml", "");
    WriteFile(work + "/C_text.xml", RepetitiveText(2500000));
    WriteFile(work + "/D_rand.bin", Incompressible(1 << 20, 3));
    WriteFile(work + "/sub/E_tiny.xml", "e");
    WriteFile(work + "/sub/F_rand.bin", Incompressible(600000, 4));
  }
  // Packs `work` into `target` on `threads` threads at `level`, with the seed sequence of a fresh
  // test.
  std::string PackOn(const std::string& target, int threads, std::size_t bufferSize, int level = 6) {
    std::uint32_t next = 5000;
    archive::SetHeaderSeedSource([next]() mutable { return next += 13; });
    writer.TempPath = temps;
    writer.PackThreads = threads;
    writer.PackBufferSize = bufferSize;
    zip = target;
    Pack(kPassword, level);
    return ReadFile(target);
  }
  // Info-ZIP's unzip finds every entry sound and unpacks each file's own content under its name.
  void ExpectSoundToOtherTools(const std::string& path) {
#ifdef _WIN32
    (void)path;  // scripts/test-windows.sh checks the Windows-made archives with the host's tools
    return;
#endif
    const CommandResult test = RunCommand("unzip -t -P " + Quote(kPassword) + " " + Quote(path));
    EXPECT_EQ(test.exitCode, 0) << test.output;
    const std::string out = tmp / "unzipped";
    fs::remove_all(out);
    const CommandResult unzip = RunCommand("unzip -q -P " + Quote(kPassword) + " " + Quote(path) + " -d " + Quote(out));
    EXPECT_EQ(unzip.exitCode, 0) << unzip.output;
    for (const auto& e : fs::recursive_directory_iterator(work)) {
      if (!e.is_regular_file()) continue;
      EXPECT_TRUE(ReadFile(out + e.path().string()) == ReadFile(e.path())) << e.path();
    }
  }
  // Our own reader restores every file, decrypting ahead of the decoder for the large ones.
  void ExpectRestored(const std::string& path) {
    const std::string out = tmp / "restored";
    fs::remove_all(out);
    archive::ArchiveReader reader;
    reader.SetZipName(path);
    reader.SetDestDir(out);
    reader.RecreateDirs = true;
    reader.Password = kPassword;
    reader.DoAll = true;
    EXPECT_EQ(reader.ExtractSelected(), 6);
    for (const auto& e : fs::recursive_directory_iterator(work)) {
      if (!e.is_regular_file()) continue;
      const std::string stored = StoredDir(e.path().generic_string());  // "<path>/"
      EXPECT_TRUE(ReadFile(out + "/" + stored.substr(0, stored.size() - 1)) == ReadFile(e.path())) << e.path();
    }
  }
  // No "ARZ…" file (an archive in the making, or a file's packed data waiting for its turn) is
  // left beside the archive or in the temporary folder.
  void ExpectNoTemporaryFiles() {
    for (const std::string& dir : {tmp.path(), temps})
      for (const auto& e : fs::directory_iterator(dir))
        EXPECT_NE(e.path().filename().string().rfind("ARZ", 0), 0u) << e.path();
  }
  std::string temps = tmp / "temps";
};

TEST_F(ParallelPackTest, ArchiveIsTheSameOnAnyNumberOfThreads) {
  fs::create_directories(temps);
  const std::string reference = PackOn(tmp / "one.dmp", 1, 0);
  ASSERT_EQ(Parse(reference).entries.size(), 7u);
  ExpectSoundToOtherTools(tmp / "one.dmp");
  // Each piece draws on the one before it: the text packs nearly as small as in one stream.
  const ParsedEntry text = Parse(reference).entries[2];
  ASSERT_EQ(text.name, StoredDir(work) + "C_text.xml");
  EXPECT_LE(text.compressedSize, RawDeflate(RepetitiveText(2500000), 6).size() * 101 / 100 + 12);
  struct Case {
    int threads;
    std::size_t bufferSize;  // bytes a file holds in memory before it waits in a temporary file
  } cases[] = {{2, 0}, {4, 64 << 10}, {8, 1}, {1, 1000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.threads) + " threads, buffer " + std::to_string(c.bufferSize));
    const std::string path = tmp / ("t" + std::to_string(c.threads) + ".dmp");
    EXPECT_TRUE(PackOn(path, c.threads, c.bufferSize) == reference);
    ExpectNoTemporaryFiles();
  }
  ExpectSoundToOtherTools(tmp / "t4.dmp");
  ExpectRestored(tmp / "t4.dmp");
  PackOn(tmp / "stored.dmp", 4, 0, 0);  // stored entries, decrypted as they are written out
  ExpectRestored(tmp / "stored.dmp");
}

// Files deflated ahead of the pack, one of them read while it is still being written, give the
// archive of a plain pack, with their streams in memory or in temporary files. A file changed
// after it was deflated (same size, same time) and a file given up are packed from what they are.
TEST_F(ParallelPackTest, FilesDeflatedAheadGiveTheSameArchive) {
  fs::create_directories(temps);
  const std::vector<std::string> names = {"/A_big.xml", "/B_empty.xml", "/C_text.xml",
                                          "/D_rand.bin", "/sub/E_tiny.xml", "/sub/F_rand.bin"};
  const auto prepareAll = [&](std::size_t bufferSize) {
    writer.PackThreads = 2;
    writer.PackBufferSize = bufferSize;
    for (const std::string& name : names) writer.PrepareFile(work + name, temps);
  };
  // Rewrites a file in slices while it is followed, keeping its time.
  const auto rewrite = [&](const std::string& name, const std::string& content, fs::file_time_type time) {
    {
      std::ofstream out(work + name, std::ios::binary | std::ios::trunc);
      for (std::size_t at = 0; at < content.size(); at += 300000) {
        out.write(content.data() + at, static_cast<std::streamsize>(std::min<std::size_t>(300000, content.size() - at)));
        out.flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
      }
    }
    fs::last_write_time(work + name, time);
  };
  const std::string reference = PackOn(tmp / "plain.dmp", 2, 0);
  const std::string text = ReadFile(work + "/C_text.xml");
  const auto textTime = fs::last_write_time(work + "/C_text.xml");
  for (const std::size_t bufferSize : {std::size_t{0}, std::size_t{64 << 10}}) {
    SCOPED_TRACE("buffer " + std::to_string(bufferSize));
    fs::remove(work + "/C_text.xml");  // made anew while it is followed
    prepareAll(bufferSize);
    rewrite("/C_text.xml", text, textTime);
    for (const std::string& name : names) writer.PreparedFileComplete(work + name, true);
    EXPECT_TRUE(PackOn(tmp / ("ahead" + std::to_string(bufferSize) + ".dmp"), 2, bufferSize) == reference);
    EXPECT_EQ(writer.PreparedFilesUsed(), 6);
    ExpectNoTemporaryFiles();
  }

  prepareAll(64 << 10);
  for (const std::string& name : names) writer.PreparedFileComplete(work + name, name != "/A_big.xml");
  writer.WaitForPrepared();
  std::string changed = ReadFile(work + "/D_rand.bin");
  changed[changed.size() / 2] ^= 1;
  rewrite("/D_rand.bin", changed, fs::last_write_time(work + "/D_rand.bin"));
  const std::string mixed = PackOn(tmp / "mixed.dmp", 2, 64 << 10);
  EXPECT_EQ(writer.PreparedFilesUsed(), 4);
  EXPECT_TRUE(PackOn(tmp / "fresh.dmp", 2, 64 << 10) == mixed);
  EXPECT_EQ(writer.PreparedFilesUsed(), 0);
  ExpectSoundToOtherTools(tmp / "mixed.dmp");
  ExpectNoTemporaryFiles();
}

// A file that cannot be read in the middle of the run fails it while the workers have files in
// flight, some of them waiting in temporary files: no new archive, an old one unchanged, and no
// temporary file left behind.
TEST_F(ParallelPackTest, AFailingFileLeavesNoArchiveAndTheOldOneUnchanged) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux-only: a link to /proc/self/mem as the unreadable file";
#else
  fs::create_directories(temps);
  const std::string existing = tmp / "old.dmp";
  PackOn(existing, 1, 0);
  const std::string before = ReadFile(existing);
  for (const char* name : {"/A_big.xml", "/C_text.xml", "/D_rand.bin", "/sub/F_rand.bin"})
    fs::last_write_time(work + name, fs::file_time_type::clock::now() + std::chrono::hours(1));
  fs::create_symlink("/proc/self/mem", work + "/C_unreadable.xml");
  for (const std::string& target : {std::string(tmp / "new.dmp"), existing}) {
    SCOPED_TRACE(target);
    try {
      PackOn(target, 4, 64 << 10);
      ADD_FAILURE() << "no error";
    } catch (const archive::EZipError& e) {
      EXPECT_NE(std::string(e.what()).find("C_unreadable.xml"), std::string::npos) << e.what();
    }
    ExpectNoTemporaryFiles();
  }
  EXPECT_FALSE(fs::exists(tmp / "new.dmp"));
  EXPECT_TRUE(ReadFile(existing) == before);
#endif
}

// A cancel request, made by a window event handled while the workers pack, stops them: no
// archive, no temporary file, and the writer is no longer busy.
TEST_F(ParallelPackTest, ACancelRequestStopsTheWorkers) {
  struct CancelOnFirstEvent : platform::IEventPump {
    ArchiveWriter* writer = nullptr;
    void PumpEvents() override { writer->Cancel(); }
    bool WaitForEvents(int) override {
      writer->Cancel();
      return true;
    }
  } events;
  events.writer = &writer;
  platform::ScopedEventPump installed(&events);
  fs::create_directories(temps);
  EXPECT_THROW(PackOn(tmp / "cancelled.dmp", 4, 64 << 10), archive::EUserCanceled);
  EXPECT_FALSE(fs::exists(tmp / "cancelled.dmp"));
  EXPECT_FALSE(writer.IsBusy());
  ExpectNoTemporaryFiles();
}

// An update keeps old entries and replaces others in place while the workers pack the new files:
// the same archive on one thread and on four.
TEST_F(ParallelPackTest, UpdateIsTheSameOnAnyNumberOfThreads) {
  fs::create_directories(temps);
  fs::remove(work + "/C_text.xml");
  const std::string old = PackOn(tmp / "old.dmp", 1, 0);
  WriteFile(work + "/C_text.xml", Incompressible(900000, 9));
  WriteFile(work + "/D_rand.bin", Incompressible(800000, 8));
  fs::last_write_time(work + "/D_rand.bin", fs::file_time_type::clock::now() + std::chrono::hours(1));
  std::vector<std::string> results;
  for (int threads : {1, 4}) {
    const std::string path = tmp / ("update" + std::to_string(threads) + ".dmp");
    WriteFile(path, old);
    results.push_back(PackOn(path, threads, 32 << 10));
    ExpectNoTemporaryFiles();
  }
  EXPECT_TRUE(results[0] == results[1]);
  const ParsedArchive a = Parse(results[1]);
  ASSERT_EQ(a.entries.size(), 7u);
  const ParsedArchive o = Parse(old);
  EXPECT_EQ(a.entries[0].crc, o.entries[0].crc);  // A_big kept
  EXPECT_EQ(a.entries[2].name, o.entries[2].name);  // D_rand replaced in place
  EXPECT_NE(a.entries[2].crc, o.entries[2].crc);
  EXPECT_EQ(a.entries[6].name, StoredDir(work) + "C_text.xml");  // appended
  ExpectSoundToOtherTools(tmp / "update4.dmp");
}

// --- updates ---

class ArchiveWriterUpdateTest : public ArchiveWriterTest {
 protected:
  void SetUp() override {
    ArchiveWriterTest::SetUp();
    fs::create_directories(temps);
    writer.TempPath = temps;
    WriteFile(work + "/a.xml", "first a");
    WriteFile(work + "/b.xml", "first b");
    SetMTime(work + "/a.xml", base);
    SetMTime(work + "/b.xml", base);
    ASSERT_EQ(Pack(), 2);
    first = ReadFile(zip);
  }

  std::string EntryData(const std::string& bytes, std::size_t index) {
    const ParsedArchive a = Parse(bytes);
    const ParsedEntry& e = a.entries.at(index);
    std::string data = bytes.substr(e.dataOffset, e.compressedSize);
    archive::ZipKeys keys(kPassword);
    keys.Decrypt(reinterpret_cast<std::uint8_t*>(data.data()), data.size());
    return data.substr(12);
  }

  std::string temps = tmp / "temps";
  std::time_t base = 1700000000;  // an even second
  std::string first;
};

TEST_F(ArchiveWriterUpdateTest, SameTwoSecondStepKeepsTheOldEntry) {
  WriteFile(work + "/a.xml", "second a, longer");
  SetMTime(work + "/a.xml", base + 1);
  WriteFile(work + "/b.xml", "second b");
  SetMTime(work + "/b.xml", base + 10);
  WriteFile(work + "/c.xml", "new c");
  ASSERT_EQ(Pack(), 3);

  const std::string second = ReadFile(zip);
  const ParsedArchive a = Parse(second);
  ASSERT_TRUE(a.ok);
  ASSERT_EQ(a.entries.size(), 3u);
  const std::string dir = StoredDir(work);
  EXPECT_EQ(a.entries[0].name, dir + "a.xml");
  EXPECT_EQ(a.entries[1].name, dir + "b.xml");
  EXPECT_EQ(a.entries[2].name, dir + "c.xml");
  // a.xml kept: its encrypted bytes are copied unchanged.
  const ParsedArchive old = Parse(first);
  EXPECT_EQ(second.substr(a.entries[0].dataOffset, a.entries[0].compressedSize),
            first.substr(old.entries[0].dataOffset, old.entries[0].compressedSize));
  EXPECT_EQ(a.entries[0].crc, old.entries[0].crc);
  // b.xml replaced, c.xml appended.
  EXPECT_EQ(EntryData(second, 1), RawDeflate("second b", 6));
  EXPECT_EQ(EntryData(second, 2), RawDeflate("new c", 6));
  EXPECT_TRUE(fs::is_empty(temps));
}

TEST_F(ArchiveWriterUpdateTest, BusyAsSeenThroughTheReaderWhilePacking) {
  // Window events handled in the middle of the run ask the component, held as a reader, whether
  // it is busy; the first of them comes while the old archive's directory is read again.
  struct Probe : platform::IEventPump {
    const archive::ArchiveReader* asReader = nullptr;
    std::vector<bool> seen;
    void PumpEvents() override { seen.push_back(asReader->IsBusy()); }
    bool WaitForEvents(int) override { return false; }
  } events;
  const archive::ArchiveReader& asReader = writer;
  events.asReader = &asReader;
  platform::ScopedEventPump installed(&events);
  const std::vector<bool>& seen = events.seen;
  WriteFile(work + "/big.xml", Incompressible(2 << 20, 5));
  ASSERT_EQ(Pack(), 3);
  ASSERT_FALSE(seen.empty());
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_TRUE(seen[i]) << i;
  EXPECT_FALSE(asReader.IsBusy());
}

TEST_F(ArchiveWriterUpdateTest, ReplaceActionRewritesEveryMatchingEntry) {
  WriteFile(work + "/a.xml", "second a");
  SetMTime(work + "/a.xml", base);
  writer.ZipAction = archive::TZipAction::zaReplace;
  ASSERT_EQ(Pack(), 2);
  EXPECT_EQ(EntryData(ReadFile(zip), 0), RawDeflate("second a", 6));
}

TEST_F(ArchiveWriterUpdateTest, OldEntriesMissingFromTheFolderAreKept) {
  fs::remove(work + "/b.xml");
  WriteFile(work + "/a.xml", "second a");
  SetMTime(work + "/a.xml", base + 100);
  ASSERT_EQ(Pack(), 2);
  const std::string bytes = ReadFile(zip);
  EXPECT_EQ(EntryData(bytes, 0), RawDeflate("second a", 6));
  EXPECT_EQ(EntryData(bytes, 1), RawDeflate("first b", 6));
}

TEST_F(ArchiveWriterUpdateTest, MovingAcrossFileSystemsCopiesTheArchive) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux-only: /dev/shm as a second file system";
#else
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no second file system at /dev/shm";
  std::string shmTemps = "/dev/shm/dmwriter-" + std::to_string(::getpid());
  fs::create_directories(shmTemps);
  writer.TempPath = shmTemps;
  WriteFile(work + "/a.xml", "second a");
  SetMTime(work + "/a.xml", base + 100);
  // A link planted where the copy once went: its target stays untouched.
  WriteFile(tmp / "victim", "victim");
  fs::create_symlink(tmp / "victim", zip + "$$$");
  ASSERT_EQ(Pack(), 2);
  EXPECT_EQ(EntryData(ReadFile(zip), 0), RawDeflate("second a", 6));
  EXPECT_TRUE(fs::is_empty(shmTemps));
  EXPECT_EQ(ReadFile(tmp / "victim"), "victim");
  fs::remove_all(shmTemps);
#endif
}

TEST_F(ArchiveWriterUpdateTest, UpdateIsMadeBesideTheArchiveNotInTheTemporaryFolder) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux-only: /proc as TMPDIR";
#else
  // A temporary folder where not even root can make a file, like a full or read-only one: an
  // update does not use it.
  ::setenv("TMPDIR", "/proc", 1);
  writer.TempPath.clear();
  int packed = 0;
  EXPECT_NO_THROW(packed = Pack());
  ::unsetenv("TMPDIR");
  EXPECT_EQ(packed, 2);
#endif
}

TEST_F(ArchiveWriterUpdateTest, UpdatedArchiveKeepsItsPermissions) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux-only: POSIX permissions";
#else
  struct Case {
    std::string tempPath;  // same file system, or another one (copied)
    mode_t mode;
  };
  std::vector<Case> cases = {{temps, 0644}, {temps, 0640}, {temps, 0604}};
  const std::string shm = "/dev/shm/dmwriter-mode-" + std::to_string(::getpid());
  if (fs::is_directory("/dev/shm")) {
    fs::create_directories(shm);
    cases.push_back({shm, 0640});
  }
  std::time_t when = base;
  for (const Case& c : cases) {
    writer.TempPath = c.tempPath;
    ASSERT_EQ(::chmod(zip.c_str(), c.mode), 0);
    WriteFile(work + "/a.xml", "changed a");
    SetMTime(work + "/a.xml", when += 100);
    ASSERT_EQ(Pack(), 2);
    struct stat st {};
    ASSERT_EQ(::stat(zip.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode) << c.tempPath;
  }
  fs::remove_all(shm);
#endif
}

TEST_F(ArchiveWriterUpdateTest, ExistingFileThatIsNoArchiveIsLeftAlone) {
  const std::string text = std::string(100, 'x') + " this is no archive";
  WriteFile(zip, text);
  WriteFile(work + "/a.xml", "second a");
  EXPECT_THROW(Pack(), archive::EIncompleteZip);
  EXPECT_EQ(ReadFile(zip), text);
  EXPECT_TRUE(fs::is_empty(temps));
  EXPECT_TRUE(writer.FilesList.empty());
  EXPECT_FALSE(writer.IsBusy());
  EXPECT_EQ(writer.ZipName(), zip);
}

TEST_F(ArchiveWriterUpdateTest, FailureHalfWayLeavesTheOldArchiveUnchanged) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux-only: a file-size limit (setrlimit) as the full disk";
#else
  // A write failure: the temporary folder runs out of room when the file-size limit is reached.
  WriteFile(work + "/big.xml", Incompressible(3 << 20, 3));
  struct rlimit old {};
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = old;
  limited.rlim_cur = 1 << 20;
  ::setrlimit(RLIMIT_FSIZE, &limited);
  EXPECT_THROW(Pack(), archive::ENotEnoughRoom);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(ReadFile(zip), first);
  EXPECT_TRUE(fs::is_empty(temps));
#endif
}

TEST_F(ArchiveWriterTest, NoRoomForANewArchiveRemovesThePartialFile) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux-only: a file-size limit (setrlimit) as the full disk";
#else
  WriteFile(work + "/big.xml", Incompressible(3 << 20, 4));
  struct rlimit old {};
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = old;
  limited.rlim_cur = 1 << 20;
  ::setrlimit(RLIMIT_FSIZE, &limited);
  try {
    Pack();
    ADD_FAILURE() << "no exception";
  } catch (const archive::ENotEnoughRoom& e) {
    EXPECT_STREQ(e.what(), "Not enough room to write archive");
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(fs::exists(zip));
  EXPECT_FALSE(writer.IsBusy());
#endif
}

// A file just under 4 GiB that does not compress (stored here) gets 12 bytes of encryption header
// on top and so reaches 4 GiB: its local header, written before that is known, must already
// hold the Zip64 block that the sizes then need. The file is sparse, the archive real.
TEST_F(ArchiveWriterTest, AnEntryThatMayReachFourGiBReservesItsZip64Block) {
#if defined(DM_SANITIZER_BUILD) || defined(_WIN32)
  GTEST_SKIP() << "4 GiB through the sanitizers or Wine takes minutes; the normal Linux build runs this test";
#endif
  const std::uint64_t size = 0xFFFFFFFFull - 6;
  {
    std::ofstream(work + "/big.bin");
  }
  fs::resize_file(work + "/big.bin", size);
  ASSERT_EQ(Pack(kPassword, 0), 1);
  fs::remove(work + "/big.bin");

  std::ifstream in(zip, std::ios::binary);
  std::string local(30 + 200, '\0');
  in.read(local.data(), static_cast<std::streamsize>(local.size()));
  EXPECT_EQ(U16(local, 4), 45u);                         // version needed: Zip64
  EXPECT_EQ(U32(local, 18), 0xFFFFFFFFu);                // both sizes in the Zip64 block
  EXPECT_EQ(U32(local, 22), 0xFFFFFFFFu);
  const std::size_t extra = 30 + U16(local, 26);
  EXPECT_EQ(U16(local, 28), 20u);
  EXPECT_EQ(U16(local, extra), 1u);
  archive::ArchiveReader reader;
  reader.SetZipName(zip);
  reader.ReadDirectory();
  ASSERT_EQ(reader.EntryCount(), 1);
  EXPECT_TRUE(reader.Entry(0).damage.empty()) << reader.Entry(0).damage;
  EXPECT_EQ(reader.Entry(0).UncompressedSize64(), size);
  EXPECT_EQ(reader.Entry(0).CompressedSize64(), size + 12);
  // Another reader agrees on the sizes and opens the entry through its local header.
  const CommandResult python = RunCommand(
      "python3 -c \"import zipfile\nz=zipfile.ZipFile('" + zip + "')\ni=z.infolist()[0]\n"
      "print(i.file_size, i.compress_size, z.open(i, pwd=b'" + kPassword + "').read(8))\"");
  EXPECT_EQ(python.output, std::to_string(size) + " " + std::to_string(size + 12) + " b'\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00'\n");
}

TEST_F(ArchiveWriterTest, UncreatableArchiveRaisesAndClearsTheList) {
  WriteFile(work + "/a.xml", "a");
  zip = tmp / "no/such/dir/out.dmp";
  EXPECT_THROW(Pack(), archive::EZipError);
  EXPECT_TRUE(writer.FilesList.empty());
  EXPECT_FALSE(writer.IsBusy());
}

}  // namespace
