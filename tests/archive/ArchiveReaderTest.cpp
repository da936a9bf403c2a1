// The reader's documented behaviour on small hand-built archives: the end-record search, the
// directory reading with its retry and rebuild, the selection, the overwrite question, CRC and
// size checks, DOS date-times, attributes, names that must not leave the destination.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdio>
#include <functional>
#include <iterator>

#include "archive/ArchiveErrors.h"
#include "archive/ArchiveReader.h"
#include "archive/DosDateTime.h"
#include "archive/FileIo.h"
#include "archive/ZipTestTools.h"
#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace {

using namespace ziptest;
using archive::ArchiveReader;
using archive::TEntryOutcome;

std::uint32_t RawDos(unsigned yearField, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned half) {
  return (((yearField << 9) | (month << 5) | day) << 16) | (hour << 11) | (minute << 5) | half;
}

class ArchiveReaderTest : public ::testing::Test {
 protected:
  std::string Archive(const std::string& bytes, const std::string& name = "backup.dmp") {
    const std::string path = dir_ / name;
    WriteFile(path, bytes);
    return path;
  }
  // UnCompress's sequence: ZipName, DestDir, ReadDirectory, select all, ExtractSelected.
  int ExtractAll(const std::string& path, const std::function<void(ArchiveReader&)>& setup = {}) {
    reader_.SetZipName(path);
    reader_.SetDestDir(dest_);
    reader_.DoAll = false;
    if (setup) setup(reader_);
    reader_.ReadDirectory();
    for (int i = 0; i < reader_.EntryCount(); ++i) reader_.SelectEntry(i, true);
    return reader_.ExtractSelected();
  }
  // Every file below the temporary folder, so that a file written outside DestDir shows up.
  std::vector<std::pair<std::string, std::string>> Everything() { return ListFiles(dir_.path()); }

  testsupport::TempDir dir_;
  std::string dest_ = dir_ / "out";
  platform::ScriptedDialogs dialogs_;
  platform::ScopedDialogs scoped_{&dialogs_};
  ArchiveReader reader_;
};

TEST_F(ArchiveReaderTest, DefaultsOfTheSettings) {
  EXPECT_TRUE(reader_.ZipName().empty());
  EXPECT_TRUE(reader_.DestDir().empty());
  EXPECT_FALSE(reader_.DoAll);
  EXPECT_FALSE(reader_.RecreateDirs);
  EXPECT_TRUE(reader_.RetainAttributes);
  EXPECT_EQ(reader_.OverwriteMode, archive::TOverwriteMode::Prompt);
  EXPECT_FALSE(reader_.ReplaceReadOnly);
  EXPECT_EQ(reader_.IncompleteZipMode, archive::TIncompleteZipMode::izAssumeMulti);
  EXPECT_EQ(reader_.SortMode, archive::TZipSortMode::ByNone);
  EXPECT_EQ(reader_.OEMConvert, archive::TOEMConvert::oemAlways);
  EXPECT_FALSE(reader_.KeepZipOpen);
  EXPECT_TRUE(reader_.DoProcessMessages);
  EXPECT_FALSE(reader_.FlushFilesOnClose);
  EXPECT_FALSE(reader_.IsBusy());
  EXPECT_EQ(reader_.EntryCount(), 0);
}

TEST_F(ArchiveReaderTest, ZeroByteFileIsAnEmptyArchive) {
  EXPECT_EQ(ExtractAll(Archive("")), 0);
  EXPECT_EQ(reader_.EntryCount(), 0);
}

TEST_F(ArchiveReaderTest, FilesWithoutEndRecordReadAsNoEntriesAndFailToExtract) {
  const std::string valid = BuildArchive({{"a.txt", "hello"}});
  std::vector<std::string> inputs = {"x", std::string(21, 'P'), valid.substr(0, valid.size() - 1),
                                     SampleText(100000)};
  for (const auto& bytes : inputs) {
    const std::string path = Archive(bytes, "n" + std::to_string(bytes.size()) + ".dmp");
    reader_.SetZipName(path);
    reader_.SetDestDir(dest_);
    EXPECT_NO_THROW(reader_.ReadDirectory());
    EXPECT_EQ(reader_.EntryCount(), 0);
    EXPECT_EQ(reader_.ZipName(), path);  // EIncompleteZip does not reset the reader
    try {
      reader_.ExtractSelected();
      ADD_FAILURE() << bytes.size();
    } catch (const archive::EIncompleteZip& e) {
      EXPECT_STREQ(e.what(), "Incomplete Zip File");
    }
    EXPECT_FALSE(reader_.IsBusy());
  }
}

TEST_F(ArchiveReaderTest, IncompleteZipModes) {
  const std::string valid = BuildArchive({{"a.txt", "hello"}, {"b.txt", "world"}});
  const std::string cut = Archive(valid.substr(0, valid.size() - 1));
  reader_.IncompleteZipMode = archive::TIncompleteZipMode::izAssumeNotAZip;
  reader_.SetZipName(cut);
  EXPECT_THROW(reader_.ReadDirectory(), archive::ENotAZipFile);
  EXPECT_EQ(reader_.ZipName(), "");  // reset
  // izAssumeBad rebuilds the list from the local headers.
  reader_.IncompleteZipMode = archive::TIncompleteZipMode::izAssumeBad;
  EXPECT_EQ(ExtractAll(cut), 2);
  EXPECT_EQ(ReadFile(dest_ + "/b.txt"), "world");
  reader_.SetZipName("");
  EXPECT_THROW(ExtractAll(Archive(SampleText(3000), "text.dmp")), archive::EBadZipFile);
}

TEST_F(ArchiveReaderTest, MissingArchiveRaisesTheOpenErrorAndResets) {
  reader_.SetZipName(dir_ / "missing.dmp");
  try {
    reader_.ReadDirectory();
    FAIL();
  } catch (const archive::EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + dir_ / "missing.dmp" + "\". " + NoSuchFileText());
  }
  EXPECT_EQ(reader_.ZipName(), "");
  EXPECT_FALSE(reader_.IsBusy());
}

TEST_F(ArchiveReaderTest, EndRecordNearestTheEndWins) {
  std::string bytes = BuildArchive({{"a.txt", "one"}, {"b.txt", "two"}});
  // An earlier, false end record (no entries) between the directory and the real one.
  Bytes fake;
  fake.u32(0x06054B50).u16(0).u16(0).u16(0).u16(0).u32(0).u32(0).u16(0);
  bytes.insert(bytes.size() - 22, fake.data);
  EXPECT_EQ(ExtractAll(Archive(bytes)), 2);

  // A later one inside the comment wins over the real one.
  std::string withFakeInComment = BuildArchive({{"a.txt", "one"}}, fake.data);
  reader_.SetZipName("");
  EXPECT_EQ(ExtractAll(Archive(withFakeInComment, "c.dmp")), 0);
  EXPECT_EQ(reader_.EntryCount(), 0);
}

TEST_F(ArchiveReaderTest, LongestCommentIsFoundAndAnEndRecordFurtherBackIsNot) {
  EXPECT_EQ(ExtractAll(Archive(BuildArchive({{"a.txt", "one"}}, std::string(65535, 'c')))), 1);
  EXPECT_EQ(reader_.ArchiveComment(), std::string(65535, 'c'));

  // Trailing bytes beyond the comment: 65 535 still leave the record inside the window.
  reader_.SetZipName("");
  EXPECT_EQ(ExtractAll(Archive(BuildArchive({{"b.txt", "two"}}) + std::string(65535, 'x'), "t1.dmp")), 1);
  reader_.SetZipName("");
  const std::string far = Archive(BuildArchive({{"c.txt", "three"}}) + std::string(65536, 'x'), "t2.dmp");
  reader_.SetZipName(far);
  reader_.ReadDirectory();
  EXPECT_EQ(reader_.EntryCount(), 0);
  EXPECT_THROW(reader_.ExtractSelected(), archive::EIncompleteZip);
}

TEST_F(ArchiveReaderTest, BadCrcLeavesNoFile) {
  HandEntry bad{"bad.txt", "payload"};
  bad.crc = 0x12345678;
  EXPECT_EQ(ExtractAll(Archive(BuildArchive({bad, {"good.txt", "fine"}}))), 1);
  EXPECT_FALSE(Exists(dest_ + "/bad.txt"));
  EXPECT_EQ(ReadFile(dest_ + "/good.txt"), "fine");
  ASSERT_EQ(reader_.LastResults().size(), 2u);
  EXPECT_EQ(reader_.LastResults()[0].outcome, TEntryOutcome::BadCrc);
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(ArchiveReaderTest, SizeMismatchesAreNotWrittenCorrectly) {
  HandEntry longer{"longer.txt", "0123456789"};
  longer.uncompressedSize = 4;  // decodes to more than stored: caught at the entry
  HandEntry shorter{"shorter.txt", "abc"};
  shorter.uncompressedSize = 10;  // CRC matches the three bytes, but seven are missing
  EXPECT_EQ(ExtractAll(Archive(BuildArchive({longer, shorter}))), 0);
  EXPECT_TRUE(ListFiles(dest_).empty());
  EXPECT_EQ(reader_.LastResults()[0].outcome, TEntryOutcome::BadCrc);
  EXPECT_EQ(reader_.LastResults()[1].outcome, TEntryOutcome::BadCrc);
}

// Data that runs past its end is the damage of that entry alone: it is reported with its reason,
// leaves no partial file, and the entries after it are still written.
TEST_F(ArchiveReaderTest, DataRunningPastItsEndDamagesOnlyThatEntry) {
  std::string bytes = BuildArchive({{"first.txt", "1"}, {"cut.txt", std::string(100000, 'z')}, {"last.txt", "3"}});
  // Declare more compressed data than the file holds (central header).
  const std::size_t cd = Get32(bytes, bytes.size() - 6);
  Put32(bytes, cd + 46 + 9 + 20, 1u << 30);
  Put32(bytes, cd + 46 + 9 + 24, 1u << 30);
  EXPECT_EQ(ExtractAll(Archive(bytes)), 2);
  EXPECT_EQ(ReadFile(dest_ + "/first.txt"), "1");
  EXPECT_EQ(ReadFile(dest_ + "/last.txt"), "3");
  EXPECT_FALSE(Exists(dest_ + "/cut.txt"));
  ASSERT_EQ(reader_.LastResults().size(), 3u);
  EXPECT_EQ(reader_.LastResults()[1].outcome, TEntryOutcome::Damaged);
  EXPECT_EQ(reader_.LastResults()[1].reason, "its data runs past the start of the central directory");
  EXPECT_FALSE(reader_.IsBusy());
}

TEST_F(ArchiveReaderTest, SameNameInTwoFoldersAsksBeforeReplacing) {
  const std::string path = Archive(BuildArchive({{"a/b/x.xml", "first"}, {"c/x.xml", "second"}}));
  struct Case {
    int answer;
    int written;
    std::string content;
  };
  for (const Case& c : {Case{platform::kIdYes, 2, "second"}, Case{platform::kIdNo, 1, "first"}}) {
    std::filesystem::remove_all(dest_);
    dialogs_.shown.clear();
    dialogs_.messageAnswers = {c.answer};
    EXPECT_EQ(ExtractAll(path), c.written);
    EXPECT_EQ(ReadFile(dest_ + "/x.xml"), c.content);
    ASSERT_EQ(dialogs_.shown.size(), 1u);
    EXPECT_EQ(dialogs_.shown[0].text, "Replace existing file x.xml?");
    EXPECT_EQ(dialogs_.shown[0].caption, "File Exists Alert");
    EXPECT_EQ(dialogs_.shown[0].style, platform::kMbYesNo);
  }
  EXPECT_EQ(ListFiles(dest_).size(), 1u);  // flat: no folders recreated
}

TEST_F(ArchiveReaderTest, OtherOverwriteModes) {
  const std::string path = Archive(BuildArchive({{"x.txt", "new"}}));
  struct Case {
    archive::TOverwriteMode mode;
    int written;
  };
  for (const Case& c : {Case{archive::TOverwriteMode::Always, 1}, Case{archive::TOverwriteMode::Never, 0}}) {
    WriteFile(dest_ + "/x.txt", "old");
    EXPECT_EQ(ExtractAll(path, [&](ArchiveReader& r) { r.OverwriteMode = c.mode; }), c.written);
    EXPECT_EQ(ReadFile(dest_ + "/x.txt"), c.written ? "new" : "old");
  }
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(ArchiveReaderTest, OutOfRangeDateIsClampedAndSetOnTheFile) {
  HandEntry wild{"wild.txt", "w"};
  wild.dosDateTime = RawDos(125, 13, 0, 25, 61, 31);
  HandEntry fine{"fine.txt", "f"};
  fine.dosDateTime = RawDos(33, 7, 15, 10, 20, 15);  // 2013-07-15 10:20:30
  EXPECT_EQ(ExtractAll(Archive(BuildArchive({wild, fine}))), 2);
  EXPECT_EQ(reader_.Entry(0).dosDateTime, RawDos(119, 12, 1, 23, 59, 29));  // 2099-12-01 23:59:58
  EXPECT_EQ(reader_.Entry(1).dosDateTime, fine.dosDateTime);
  EXPECT_EQ(archive::DosDateTime::FileTime(dest_ + "/wild.txt"), RawDos(119, 12, 1, 23, 59, 29));
  EXPECT_EQ(archive::DosDateTime::FileTime(dest_ + "/fine.txt"), fine.dosDateTime);
}

TEST_F(ArchiveReaderTest, PasswordCheckOfStreamedEntriesUsesTheTimeAsStored) {
  // Hour 31, minute 63: the stored time's high byte is 0xFF, the normalised one's 0xBF.
  const std::uint32_t wild = RawDos(33, 7, 15, 31, 63, 0);
  const std::uint32_t fine = RawDos(33, 7, 15, 10, 20, 15);
  const std::string path = Archive(BuildArchive({EncryptedStreamedEntry("wild.txt", "wild time", "pw", wild),
                                                 EncryptedStreamedEntry("fine.txt", "fine time", "pw", fine)}));
  EXPECT_EQ(ExtractAll(path, [](ArchiveReader& r) { r.Password = "pw"; }), 2);
  EXPECT_EQ(ReadFile(dest_ + "/wild.txt"), "wild time");
  EXPECT_EQ(ReadFile(dest_ + "/fine.txt"), "fine time");
  EXPECT_EQ(reader_.Entry(0).storedDosDateTime, wild);
  EXPECT_EQ(reader_.Entry(0).dosDateTime, archive::DosDateTime::NormaliseDos(wild));
  reader_.Password = "wrong";
  reader_.DoAll = true;
  EXPECT_EQ(reader_.TestSelected(), 0);
}

TEST_F(ArchiveReaderTest, StoredAttributesAreRetained) {
  // Windows keeps every DOS attribute; elsewhere only read-only has a meaning.
#ifdef _WIN32
  // (The archive bit is left out: Wine shows it on every file.)
  constexpr std::uint32_t kKept = platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem;
#else
  constexpr std::uint32_t kKept = platform::kAttrReadOnly;
#endif
  const std::vector<std::pair<std::string, std::uint32_t>> files = {
      {"ro.txt", 0x21}, {"rw.txt", 0x20}, {"hidden.txt", 0x22}, {"system.txt", 0x24}};
  std::vector<HandEntry> entries;
  for (const auto& [name, attributes] : files) {
    entries.push_back({name, name});
    entries.back().externalAttributes = attributes;
  }
  EXPECT_EQ(ExtractAll(Archive(BuildArchive(entries))), static_cast<int>(files.size()));
  for (const auto& [name, attributes] : files) {
    const auto found = platform::GetFileAttributes(dest_ + "/" + name);
    ASSERT_TRUE(found.has_value()) << name;
    EXPECT_EQ(*found & kKept, attributes & kKept) << name;
  }
}

TEST_F(ArchiveReaderTest, DirectoryEntriesAreNeitherSelectedNorCreated) {
  EXPECT_EQ(ExtractAll(Archive(BuildArchive({{"dir/", ""}, {"dir/f.txt", "f"}}))), 1);
  EXPECT_EQ(reader_.EntryCount(), 2);
  EXPECT_EQ(reader_.FileEntryCount(), 1);
  EXPECT_EQ(ReadFile(dest_ + "/f.txt"), "f");
  EXPECT_FALSE(Exists(dest_ + "/dir"));
}

TEST_F(ArchiveReaderTest, OemNamesBecomeProgramText) {
  EXPECT_EQ(ExtractAll(Archive(BuildArchive({{platform::Utf8ToGbk("统计/名单.xml"), "n"}}))), 1);
  EXPECT_EQ(reader_.Entry(0).Directory(), "统计/");
  EXPECT_EQ(ReadFile(dest_ + "/名单.xml"), "n");
}

TEST_F(ArchiveReaderTest, UnknownMethodShowsTheBoxAndLeavesNoFile) {
  HandEntry bz{"b.txt", "BZh91AY&SY"};
  bz.method = 12;
  EXPECT_EQ(ExtractAll(Archive(BuildArchive({bz}))), 0);
  ASSERT_EQ(dialogs_.shown.size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].text, "Unknown Compression Method");
  EXPECT_EQ(dialogs_.shown[0].caption, "Zip Error");
  EXPECT_EQ(dialogs_.shown[0].style, platform::kMbOk);
  EXPECT_FALSE(Exists(dest_ + "/b.txt"));
  EXPECT_EQ(reader_.LastResults()[0].outcome, TEntryOutcome::UnknownMethod);
}

TEST_F(ArchiveReaderTest, NamesThatCouldLeaveTheDestinationAreRefused) {
  const std::vector<HandEntry> hostile = {
      {"../escape1.txt", "1"}, {"/abs/escape2.txt", "2"}, {"..", "3"},        {"a/..", "4"},
      {".", "5"},              {std::string("nul\0x.txt", 9), "6"},          {"..\\escape7.txt", "7"},
      {"ok.txt", "8"}};
  const std::string path = Archive(BuildArchive(hostile));
  EXPECT_EQ(ExtractAll(path), 4);  // escape1, escape2, escape7 (flat, inside DestDir) and ok
  for (const auto& [name, content] : Everything()) {
    EXPECT_TRUE(name.rfind("out/", 0) == 0 || name == "backup.dmp") << name;
  }
  EXPECT_EQ(ReadFile(dest_ + "/escape1.txt"), "1");
  EXPECT_EQ(ReadFile(dest_ + "/escape7.txt"), "7");

  // Recreating folders: only plain components are used.
  std::filesystem::remove_all(dest_);
  EXPECT_EQ(ExtractAll(path, [](ArchiveReader& r) { r.RecreateDirs = true; }), 2);
  EXPECT_EQ(ReadFile(dest_ + "/abs/escape2.txt"), "2");
  EXPECT_EQ(ReadFile(dest_ + "/ok.txt"), "8");
  for (const auto& [name, content] : Everything())
    EXPECT_TRUE(name.rfind("out/", 0) == 0 || name == "backup.dmp") << name;
}

// On Windows a name that Win32 would store under another name (a trailing dot or blank is
// dropped, ':' names a stream of another file) or take for a device (with or without an
// extension, in any case) is refused as a name that could leave the destination; elsewhere these
// are plain names.
TEST_F(ArchiveReaderTest, NamesWindowsWouldRewriteOrTakeForADeviceAreRefusedThere) {
  const struct {
    const char* name;
    bool windowsRefuses;
  } cases[] = {{"trail.", true},     {"blank ", true},    {"a:b.xml", true},    {"NUL", true},
               {"nul.xml", true},    {"Con.tar.gz", true}, {"aux .xml", true},  {"COM1", true},
               {"lpt9.txt", true},   {"prn", true},       {"COM10.xml", false}, {"NULL.xml", false},
               {"com0.xml", false},  {"con_x.xml", false}, {"a.b.xml", false}};
#ifdef _WIN32
  constexpr bool windows = true;
#else
  constexpr bool windows = false;
#endif
  std::vector<HandEntry> entries;
  for (const auto& c : cases) entries.push_back({c.name, c.name});
  ExtractAll(Archive(BuildArchive(entries)));
  ASSERT_EQ(reader_.LastResults().size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const bool refused = windows && cases[i].windowsRefuses;
    EXPECT_EQ(reader_.LastResults()[i].outcome, refused ? TEntryOutcome::CreateError : TEntryOutcome::Extracted)
        << cases[i].name;
    if (!refused) {
      EXPECT_EQ(ReadFile(dest_ + "/" + cases[i].name), cases[i].name);
    }
  }
  for (const auto& [name, content] : Everything())
    EXPECT_TRUE(name.rfind("out/", 0) == 0 || name == "backup.dmp") << name;
}

// While an archive is read, others may read it but neither write to it nor delete it; while a
// folder is open for extraction, it cannot be renamed (and a link put in its place).
TEST_F(ArchiveReaderTest, WhatIsReadOrExtractedIntoIsHeldMeanwhile) {
#ifndef _WIN32
  GTEST_SKIP() << "Windows-only: share modes";
#else
  namespace fs = std::filesystem;
  const std::string path = Archive(BuildArchive({{"a.txt", "a"}}));
  reader_.KeepZipOpen = true;
  reader_.SetZipName(path);
  reader_.ReadDirectory();
  EXPECT_EQ(ReadFile(path).size(), fs::file_size(Native(path)));
  std::FILE* writer = platform::OpenFile(path, "ab");
  EXPECT_EQ(writer, nullptr);
  if (writer != nullptr) std::fclose(writer);
  std::error_code ec;
  EXPECT_FALSE(fs::remove(Native(path), ec));
  reader_.KeepZipOpen = false;
  reader_.SetZipName(dir_ / "other.dmp");  // lets the archive go
  EXPECT_TRUE(fs::remove(Native(path), ec)) << ec.message();

  fs::create_directories(Native(dest_));
  {
    const archive::fileio::Folder held = archive::fileio::Folder::Open(dest_, false);
    ASSERT_TRUE(held.IsOpen());
    fs::rename(Native(dest_), Native(dest_ + "-moved"), ec);
    EXPECT_TRUE(ec);
  }
  fs::rename(Native(dest_), Native(dest_ + "-moved"), ec);
  EXPECT_FALSE(ec) << ec.message();
#endif
}

// A symbolic link planted in the destination (the file itself, DestDir's own name, a folder below
// it) is never followed: the entry is not written, and nothing lands outside. The way to DestDir
// is the user's: a link there (a home folder that is a link) is followed.
TEST_F(ArchiveReaderTest, SymbolicLinksOnTheWayAreNotFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux-only: plants symbolic links, which a Windows program under Wine cannot make";
#else
  namespace fs = std::filesystem;
  const std::string archive = Archive(BuildArchive({{"sub/x.txt", "evil"}}));
  const std::string outside = dir_ / "outside";
  struct Case {
    std::string link;  // planted as a link to `outside`
    std::string dest;
    bool recreateDirs;
  } cases[] = {{dest_ + "/x.txt", dest_, false},
               {dir_ / "planted", dir_ / "planted", false},
               {dest_ + "/sub", dest_, true}};
  for (const Case& c : cases) {
    fs::remove_all(dest_);
    fs::remove_all(outside);
    WriteFile(outside + "/x.txt", "keep");
    fs::create_directories(fs::path(c.link).parent_path());
    fs::create_symlink(c.link.find("x.txt") != std::string::npos ? outside + "/x.txt" : outside, c.link);
    fs::create_directories(outside + "/inner");
    reader_.SetZipName(archive);
    reader_.SetDestDir(c.dest);
    reader_.RecreateDirs = c.recreateDirs;
    reader_.OverwriteMode = archive::TOverwriteMode::Always;
    reader_.DoAll = true;
    EXPECT_EQ(reader_.ExtractSelected(), 0) << c.link;
    EXPECT_EQ(ReadFile(outside + "/x.txt"), "keep");
    EXPECT_FALSE(Exists(outside + "/inner/x.txt"));
    ASSERT_EQ(reader_.LastResults().size(), 1u);
    EXPECT_EQ(reader_.LastResults()[0].outcome, TEntryOutcome::CreateError);
    EXPECT_NE(reader_.LastResults()[0].reason.find("symbolic link"), std::string::npos) << reader_.LastResults()[0].reason;
    fs::remove(c.link);
  }

  fs::create_directory_symlink(outside, dir_ / "home");
  reader_.SetDestDir(dir_ / "home/restore");
  reader_.RecreateDirs = false;
  EXPECT_EQ(reader_.ExtractSelected(), 1);
  EXPECT_EQ(ReadFile(outside + "/restore/x.txt"), "evil");
#endif
}

// A name in an Info-ZIP Unicode Path block is taken when the block belongs to the stored name (its
// CRC-32 matches); a block left over from another name is ignored.
TEST_F(ArchiveReaderTest, UnicodePathNamesAreTakenWhenTheyBelongToTheStoredName) {
  const auto unicodeBlock = [](const std::string& stored, const std::string& utf8) {
    Bytes b;
    b.u16(0x7075).u16(static_cast<std::uint16_t>(5 + utf8.size())).u8(1).u32(archive::Crc32Of(stored.data(), stored.size())).str(utf8);
    return b.data;
  };
  HandEntry matching{"\x84rger.txt", "a"};  // CP437 of a WinZip-era tool
  matching.extra = unicodeBlock(matching.name, "Ärger.txt");
  HandEntry stale{"plain.txt", "b"};
  stale.extra = unicodeBlock("renamed.txt", "Überholt.txt");
  EXPECT_EQ(ExtractAll(Archive(BuildArchive({matching, stale}))), 2);
  EXPECT_EQ(ReadFile(dest_ + "/Ärger.txt"), "a");
  EXPECT_EQ(ReadFile(dest_ + "/plain.txt"), "b");
  EXPECT_EQ(reader_.Entry(0).StoredName(), "\x84rger.txt");
}

TEST_F(ArchiveReaderTest, ExtraFieldDeclaredButNeverWrittenIsRetriedOnce) {
  std::string bytes = BuildArchive({{"a.txt", "one"}, {"b.txt", "two"}});
  const std::size_t cd = Get32(bytes, bytes.size() - 6);
  Put16(bytes, cd + 30, 9);  // the first central header declares 9 extra bytes it does not have
  EXPECT_EQ(ExtractAll(Archive(bytes)), 2);
  EXPECT_EQ(reader_.Entry(0).centralExtraLength, 0);
  EXPECT_EQ(ReadFile(dest_ + "/b.txt"), "two");
}

TEST_F(ArchiveReaderTest, SelectionAndItsErrors) {
  reader_.SetZipName(Archive(BuildArchive({{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}})));
  reader_.SetDestDir(dest_);
  reader_.ReadDirectory();
  for (int bad : {-1, 3}) {
    try {
      reader_.SelectEntry(bad, true);
      FAIL();
    } catch (const archive::EListError& e) {
      EXPECT_EQ(std::string(e.what()), "Index " + std::to_string(bad) + " is out of range");
    }
  }
  reader_.SelectEntry(1, true);
  reader_.SelectEntry(1, true);
  EXPECT_EQ(reader_.SelectedCount(), 1);
  EXPECT_EQ(reader_.ExtractSelected(), 1);
  EXPECT_EQ(reader_.SelectedCount(), 0);
  EXPECT_EQ(ListFiles(dest_).size(), 1u);
  EXPECT_EQ(ReadFile(dest_ + "/b.txt"), "b");
  EXPECT_EQ(reader_.ExtractSelected(), 0);  // marks were cleared as taken
}

TEST_F(ArchiveReaderTest, ZipNameAndDestDirAssignment) {
  const std::string path = Archive(BuildArchive({{"a.txt", "a"}}), "Backup.dmp");
  reader_.SetZipName(path);
  reader_.ReadDirectory();
  ASSERT_EQ(reader_.EntryCount(), 1);
  // Same but for case, and the same file (a second link): the directory stays, the new
  // spelling is taken. (On Windows the two spellings name one file anyway.)
  const std::string link = dir_ / "BACKUP.DMP";
#ifndef _WIN32
  ASSERT_EQ(::link(path.c_str(), link.c_str()), 0);
#endif
  reader_.SetZipName(link);
  EXPECT_EQ(reader_.EntryCount(), 1);
  EXPECT_EQ(reader_.ZipName(), link);
  reader_.SetZipName(path);
  EXPECT_EQ(reader_.EntryCount(), 1);
#ifdef _WIN32
  std::filesystem::rename(Native(path), Native(path + ".away"));
#else
  ::unlink(link.c_str());
#endif
  // Same but for case, and no such file: another archive.
  reader_.SetZipName(link);
  EXPECT_EQ(reader_.EntryCount(), 0);
  EXPECT_EQ(reader_.ZipName(), link);
  reader_.SetZipName(dir_ / "else.dmp");
  EXPECT_EQ(reader_.EntryCount(), 0);
#ifdef _WIN32
  std::filesystem::rename(Native(path + ".away"), Native(path));
#endif

  reader_.SetDestDir("/x/y/");
  EXPECT_EQ(reader_.DestDir(), "/x/y");
  reader_.SetDestDir("/x/y//");
  EXPECT_EQ(reader_.DestDir(), "/x/y/");
  // A doubled separator inside the destination still receives the files.
  reader_.SetZipName(path);
  reader_.SetDestDir(dir_.path() + "//twice");
  reader_.DoAll = true;
  EXPECT_EQ(reader_.ExtractSelected(), 1);
  EXPECT_EQ(ReadFile(dir_ / "twice/a.txt"), "a");
}

TEST_F(ArchiveReaderTest, NamesDifferingOnlyInCaseAreDifferentArchives) {
#ifdef _WIN32
  GTEST_SKIP() << "Linux-only: two files whose names differ only in letter case";
#else
  const std::string upper = Archive(BuildArchive({{"upper.txt", "U"}}), "Backup.zip");
  const std::string lower = Archive(BuildArchive({{"lower.txt", "l"}, {"two.txt", "2"}}), "backup.zip");
  for (const bool keepOpen : {false, true}) {
    reader_.KeepZipOpen = keepOpen;
    reader_.SetZipName(upper);
    reader_.ReadDirectory();
    ASSERT_EQ(reader_.EntryCount(), 1);
    reader_.SetZipName(lower);
    EXPECT_EQ(reader_.ZipName(), lower);
    reader_.ReadDirectory();
    ASSERT_EQ(reader_.EntryCount(), 2) << keepOpen;
    EXPECT_EQ(reader_.Entry(0).FileName(), "lower.txt");
    reader_.SetDestDir(dest_);
    reader_.DoAll = true;
    reader_.OverwriteMode = archive::TOverwriteMode::Always;
    EXPECT_EQ(reader_.ExtractSelected(), 2);
    EXPECT_EQ(ReadFile(dest_ + "/lower.txt"), "l");
    reader_.DoAll = false;
  }
  reader_.KeepZipOpen = false;
#endif
}

TEST_F(ArchiveReaderTest, BusyWhileWorkingAndRestoredOnEveryWayOut) {
  struct Probe : platform::ScriptedDialogs {
    ArchiveReader* reader = nullptr;
    bool busySeen = false;
    int MessageBox(const std::string& t, const std::string& c, int s) override {
      busySeen = reader->IsBusy();
      return ScriptedDialogs::MessageBox(t, c, s);
    }
  } probe;
  probe.reader = &reader_;
  platform::ScopedDialogs scoped(&probe);
  EXPECT_EQ(ExtractAll(Archive(BuildArchive({{"a/x.txt", "1"}, {"b/x.txt", "2"}}))), 1);
  EXPECT_TRUE(probe.busySeen);
  EXPECT_FALSE(reader_.IsBusy());
  reader_.SetZipName(dir_ / "missing.dmp");
  EXPECT_THROW(reader_.ExtractSelected(), archive::EFOpenError);
  EXPECT_FALSE(reader_.IsBusy());
}

TEST_F(ArchiveReaderTest, CancelRequestEndsThePassAtTheNextCheck) {
  struct Canceller : platform::ScriptedDialogs {
    ArchiveReader* reader = nullptr;
    int MessageBox(const std::string&, const std::string&, int) override {
      reader->Cancel();
      return platform::kIdYes;
    }
  } canceller;
  canceller.reader = &reader_;
  platform::ScopedDialogs scoped(&canceller);
  try {
    ExtractAll(Archive(BuildArchive({{"a/x.txt", "1"}, {"b/x.txt", "2"}, {"c.txt", "3"}})));
    FAIL();
  } catch (const archive::EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User Aborted Operation");
  }
  EXPECT_FALSE(reader_.IsBusy());
  EXPECT_FALSE(Exists(dest_ + "/c.txt"));
  // The next operation starts afresh.
  reader_.DoAll = true;
  reader_.OverwriteMode = archive::TOverwriteMode::Always;
  EXPECT_EQ(reader_.ExtractSelected(), 3);
}

TEST_F(ArchiveReaderTest, RewrittenArchiveIsReadAgain) {
  const std::string path = Archive(BuildArchive({{"a.txt", "first"}}));
  reader_.SetZipName(path);
  reader_.ReadDirectory();
  EXPECT_EQ(reader_.Entry(0).FileName(), "a.txt");
  Archive(BuildArchive({{"b.txt", "second"}, {"c.txt", "third"}}));  // same path, same second
  reader_.SetDestDir(dest_);
  reader_.DoAll = true;
  EXPECT_EQ(reader_.ExtractSelected(), 2);
  EXPECT_EQ(ReadFile(dest_ + "/c.txt"), "third");
}

}  // namespace
