// dmptool as its users run it: each command's output, messages and exit codes.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "archive/ArchiveReader.h"
#include "archive/ArchiveSettings.h"
#include "archive/WriterTestSupport.h"
#include "archive/ZipTestTools.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace writertest;

// The dmptool of the same build: <build>/bin beside this test's <build>/tests.
std::string Tool() {
  if (const char* bin = std::getenv("DM_BINARY_DIR")) return std::string(bin) + "/bin/dmptool";
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return (exe.parent_path().parent_path() / "bin" / "dmptool").string();
}

CommandResult Dmptool(const std::string& args) { return RunCommand(Quote(Tool()) + " " + args); }

class DmptoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(work + "/B01REPORT.xml", "<xml>rows</xml>");
    WriteFile(work + "/EMPTY.xml", "");
    WriteFile(work + "/sub/deep.xml", "deep");
  }
  testsupport::TempDir tmp;
  std::string work = tmp / "qimzorstatistics";
  std::string zip = tmp / "20130715bak.dmp";
};

TEST_F(DmptoolTest, PackListVerifyExtractWithTheProgramPassword) {
  const CommandResult pack = Dmptool("pack " + Quote(work) + " " + Quote(zip));
  ASSERT_EQ(pack.exitCode, 0) << pack.output;
  EXPECT_NE(pack.output.find("4 entries packed"), std::string::npos) << pack.output;
  // Deflated on every core unless told otherwise.
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  EXPECT_NE(pack.output.find(" on " + std::to_string(cores) + " thread"), std::string::npos) << pack.output;

  const CommandResult list = Dmptool("list " + Quote(zip));
  EXPECT_EQ(list.exitCode, 0) << list.output;
  EXPECT_NE(list.output.find("deflate  yes " + work.substr(1) + "/B01REPORT.xml"), std::string::npos)
      << list.output;
  EXPECT_NE(list.output.find("stored   no  " + work.substr(1) + "/sub/"), std::string::npos);
  EXPECT_NE(list.output.find("4 entries, 19 bytes"), std::string::npos) << list.output;

  const CommandResult verify = Dmptool("verify " + Quote(zip));
  EXPECT_EQ(verify.exitCode, 0) << verify.output;
  EXPECT_NE(verify.output.find("3 of 3 files sound"), std::string::npos) << verify.output;

  const std::string out = tmp / "out";
  const CommandResult extract = Dmptool("extract " + Quote(zip) + " " + Quote(out));
  EXPECT_EQ(extract.exitCode, 0) << extract.output;
  EXPECT_EQ(ReadFile(out + "/deep.xml"), "deep");
  EXPECT_EQ(ReadFile(out + "/B01REPORT.xml"), "<xml>rows</xml>");

  // A second extraction finds the files there and writes nothing without --overwrite.
  const CommandResult again = Dmptool("extract " + Quote(zip) + " " + Quote(out));
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.output.find("the file exists"), std::string::npos) << again.output;
  EXPECT_EQ(Dmptool("--overwrite extract " + Quote(zip) + " " + Quote(out)).exitCode, 0);
  // A named pipe in a file's place is refused at once, not waited on (ctest's time-out guards).
  ASSERT_TRUE(fs::remove(out + "/deep.xml") && ::mkfifo((out + "/deep.xml").c_str(), 0600) == 0);
  const CommandResult pipe = Dmptool("--overwrite extract " + Quote(zip) + " " + Quote(out));
  EXPECT_EQ(pipe.exitCode, 1);
  EXPECT_NE(pipe.output.find("deep.xml: the file could not be created: Not a regular file"), std::string::npos)
      << pipe.output;

  // The program's password never appears in what the tool prints.
  for (const CommandResult* r : {&pack, &list, &verify, &extract})
    EXPECT_EQ(r->output.find("--password"), std::string::npos);
}

TEST_F(DmptoolTest, OtherPasswordsAndWrongOnes) {
  CommandResult wrong;
  // The password check is one byte of a random header, so about one entry in 256 lets a wrong
  // password through to a CRC or decoding error instead; a fresh pack draws new headers.
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::filesystem::remove(zip);
    const CommandResult pack = Dmptool("--password s3cret --threads 3 pack " + Quote(work) + " " + Quote(zip));
    ASSERT_EQ(pack.exitCode, 0) << pack.output;
    EXPECT_NE(pack.output.find(" on 3 threads"), std::string::npos) << pack.output;
    EXPECT_EQ(RunCommand("unzip -t -P s3cret " + Quote(zip)).exitCode, 0);
    EXPECT_EQ(Dmptool("--password s3cret verify " + Quote(zip)).exitCode, 0);
    wrong = Dmptool("verify " + Quote(zip));
    EXPECT_EQ(wrong.exitCode, 1);
    if (wrong.output.find("0 of 3 files sound") != std::string::npos) break;
  }
  EXPECT_NE(wrong.output.find("wrong password"), std::string::npos) << wrong.output;
  EXPECT_NE(wrong.output.find("0 of 3 files sound"), std::string::npos) << wrong.output;
}

TEST_F(DmptoolTest, PackSaysWhatItCouldNotReadAndWritesNoArchive) {
  ASSERT_EQ(::mkfifo((work + "/pipe.xml").c_str(), 0600), 0);
  const CommandResult pack = Dmptool("pack " + Quote(work) + " " + Quote(zip));
  EXPECT_EQ(pack.exitCode, 3);
  EXPECT_NE(pack.output.find("pipe.xml\". Not a regular file"), std::string::npos) << pack.output;
  EXPECT_FALSE(fs::exists(zip));
}

TEST_F(DmptoolTest, VerifyFindsDamagedData) {
  ASSERT_EQ(RunCommand("cd " + Quote(work) + " && zip -q -0 -r " + Quote(tmp / "plain.zip") + " .").exitCode, 0);
  std::string bytes = ReadFile(tmp / "plain.zip");
  // Flip a byte of the first entry's stored data ("<xml>rows</xml>" is stored, not deflated).
  const std::size_t at = bytes.find("<xml>rows");
  ASSERT_NE(at, std::string::npos);
  bytes[at + 2] ^= 0x20;
  WriteFile(tmp / "plain.zip", bytes);
  const CommandResult r = Dmptool("--password '' verify " + Quote(tmp / "plain.zip"));
  EXPECT_EQ(r.exitCode, 1) << r.output;
  EXPECT_NE(r.output.find("CRC mismatch"), std::string::npos) << r.output;
}

// Archives whose records contradict each other, built by hand from a sound one: each is
// reported as damaged, and UnCompress refuses it, so that a restore touches nothing. Data before
// the archive is none: offsets are shifted, or the entries rebuilt when that finds no directory.
TEST_F(DmptoolTest, InconsistentArchivesAreDamaged) {
  using ziptest::Put16;
  using ziptest::Put32;
  const std::string sound = ziptest::BuildArchive({{"a.xml", "alpha"}, {"b.xml", "beta"}, {"c.xml", "gamma"}});
  const std::size_t end = sound.size() - 22;
  const std::size_t cd = ziptest::Get32(sound, end + 16);
  const std::size_t second = cd + 46 + 5;  // the second central header
  struct Case {
    const char* label;
    std::function<void(std::string&)> damage;
    std::string reason;
  } cases[] = {
      {"sound", [](std::string&) {}, ""},
      {"data before it", [](std::string& b) { b.insert(0, "#!/bin/sh\nexit 0\n"); }, ""},
      {"data before it, size wrong", [&](std::string& b) { Put32(b, end + 12, static_cast<std::uint32_t>(end - cd - 1)), b.insert(0, "#!"); }, ""},
      {"central signature", [&](std::string& b) { b[second + 1] = 'X'; }, "central header 2 of 3"},
      {"one entry more", [&](std::string& b) { Put16(b, end + 8, 4), Put16(b, end + 10, 4); }, "counts 4 entries, the central directory holds 3"},
      {"offset shifted", [&](std::string& b) { Put32(b, end + 16, static_cast<std::uint32_t>(cd + 16)); }, "no central header signature"},
      {"central size", [&](std::string& b) { Put32(b, end + 12, static_cast<std::uint32_t>(end - cd + 16)); },
       "the central directory ends at offset " + std::to_string(end) + ", the end record says " + std::to_string(end + 16)},
      {"local name", [](std::string& b) { b[30] = 'x'; }, "a.xml: damaged: its local header at offset 0 names \"x.xml\""},
      {"overlap", [&](std::string& b) { Put32(b, cd + 20, 40); }, "a.xml: damaged: its data overlaps entry \"b.xml\""},
      {"same local header", [&](std::string& b) { Put32(b, second + 42, 0); }, "two central records point to the same local header"},
  };
  for (const Case& c : cases) {
    std::string bytes = sound;
    c.damage(bytes);
    WriteFile(zip, bytes);
    fs::remove_all(tmp / "restore");
    const CommandResult verify = Dmptool("--password '' verify " + Quote(zip));
    archive::ArchiveReader reader;
    const int unpacked = archive::UnCompress(reader, zip, tmp / "restore/");
    if (c.reason.empty()) {
      EXPECT_EQ(verify.exitCode, 0) << verify.output;
      EXPECT_EQ(unpacked, 0);
      continue;
    }
    EXPECT_NE(verify.exitCode, 0) << c.label;
    EXPECT_NE(verify.output.find("damaged"), std::string::npos) << c.label << "\n" << verify.output;
    EXPECT_NE(verify.output.find(c.reason), std::string::npos) << c.label << "\n" << verify.output;
    EXPECT_EQ(unpacked, -99) << c.label;
  }
}

// One damaged entry is named with what is wrong and where; the others are still tested. Names
// are printed with their control bytes escaped.
TEST_F(DmptoolTest, ADamagedEntryIsReportedByNameAndTheOthersStillTested) {
  ziptest::HandEntry broken{"b\x1B[2J.xml", std::string("\x07garbage", 8)};  // reserved block type
  broken.method = 8;
  broken.uncompressedSize = 100;
  WriteFile(zip, ziptest::BuildArchive({{"a.xml", "alpha"}, broken, {"c.xml", "gamma"}}));
  const CommandResult verify = Dmptool("--password '' verify " + Quote(zip));
  EXPECT_EQ(verify.exitCode, 1);
  EXPECT_NE(verify.output.find("b\\x1B[2J.xml: damaged: its deflate data is damaged at byte 1 (invalid block type)"),
            std::string::npos) << verify.output;
  EXPECT_NE(verify.output.find("2 of 3 files sound"), std::string::npos) << verify.output;
  EXPECT_EQ(verify.output.find('\x1B'), std::string::npos);
  const CommandResult list = Dmptool("list " + Quote(zip));
  EXPECT_NE(list.output.find("b\\x1B[2J.xml"), std::string::npos) << list.output;
}

TEST_F(DmptoolTest, FailuresHaveMessagesAndExitCodes) {
  struct Case {
    std::string args;
    int exitCode;
    std::string message;
  } cases[] = {
      {"", 2, "no command given"},
      {"frobnicate x", 2, "unknown command frobnicate"},
      {"list", 2, "wrong number of arguments for list"},
      {"extract a.dmp", 2, "wrong number of arguments for extract"},
      {"--password", 2, "--password needs a value"},
      {"--bogus list x", 2, "unknown option --bogus"},
      {"--threads 0 pack a b", 2, "--threads needs a number"},
      {"--threads pack a b", 2, "--threads needs a number"},
      {"list " + Quote(tmp / "absent.dmp"), 3, "no such archive file"},
      {"verify " + Quote(work + "/B01REPORT.xml"), 3, "not a ZIP archive"},
      {"pack " + Quote(tmp / "nodir") + " " + Quote(zip), 3, "no such directory"},
      {"pack " + Quote(work) + " " + Quote(tmp / "no/such/dir/x.dmp"), 3, "pack failed: Cannot open file"},
  };
  for (const Case& c : cases) {
    const CommandResult r = Dmptool(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
  }
}

}  // namespace
