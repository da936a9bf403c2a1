// The reader against archives made by the real ZIP tools: Info-ZIP zip, 7-Zip and python's
// zipfile, with the features each offers (deflate, stored, traditional encryption, data
// descriptors and the time check byte, archive comments, directory entries, UTF-8 names).
// Every file must come out byte-identical, flat in the destination.

#include <gtest/gtest.h>

#include <map>

#include "archive/ArchiveErrors.h"
#include "archive/ArchiveReader.h"
#include "archive/ZipTestTools.h"
#include "platform/Dialogs.h"
#include "support/TempDir.h"

namespace {

using namespace ziptest;

struct ToolCase {
  const char* label;
  const char* command;  // run inside the source folder; ARCH is the archive path
  const char* password;
  bool streamed;        // the archive holds one entry "-" made from a.xml on standard input
};

const ToolCase kCases[] = {
    {"zip_deflated", "zip -q -r -P pw ARCH .", "pw", false},
    {"zip_stored", "zip -q -r -0 -P pw ARCH .", "pw", false},
    {"zip_data_descriptors", "zip -q -r -fd -P pw ARCH .", "pw", false},
    {"zip_stdin_to_stdout", "cat a.xml | zip -q -P pw - - > ARCH", "pw", true},
    {"zip_stdin_to_file", "cat a.xml | zip -q -P pw ARCH -", "pw", true},
    {"zip_with_comment", "zip -q -r -P pw ARCH . && echo 'backup of the day' | zip -q -z ARCH", "pw", false},
    {"zip_level9_plain", "zip -q -r -9 ARCH .", "", false},
    {"7z_zipcrypto_deflate", "7z a -tzip -mem=ZipCrypto -ppw ARCH .", "pw", false},
    {"7z_zipcrypto_stored", "7z a -tzip -mx0 -mem=ZipCrypto -ppw ARCH .", "pw", false},
    {"7z_plain_deflate64_free", "7z a -tzip -mm=Deflate -mx9 ARCH .", "", false},
    {"python_deflated",
     "python3 -c \"import zipfile,os\nz=zipfile.ZipFile('ARCH','w',zipfile.ZIP_DEFLATED)\n"
     "for r,d,f in os.walk('.'):\n  for n in sorted(d): z.write(os.path.join(r,n))\n  for n in sorted(f): z.write(os.path.join(r,n))\nz.close()\"",
     "", false},
    // Data before the archive, as in a self-extractor: Info-ZIP's unzip reads it too (warning of
    // the extra bytes), with a plain and with a Zip64 end record.
    {"zip_after_a_stub", "zip -q -r -P pw ARCH.zip . && (seq 3000; cat ARCH.zip) > ARCH && unzip -tq -P pw ARCH | grep -q 'No errors'", "pw", false},
    {"zip64_after_a_stub", "zip -q -r -fz ARCH.zip . && (seq 3000; cat ARCH.zip) > ARCH && unzip -tq ARCH | grep -q 'No errors'", "", false},
    {"python_stored",
     "python3 -c \"import zipfile,os\nz=zipfile.ZipFile('ARCH','w',zipfile.ZIP_STORED)\n"
     "for r,d,f in os.walk('.'):\n  for n in sorted(f): z.write(os.path.join(r,n))\nz.close()\"",
     "", false},
};

class ReaderInteropTest : public ::testing::TestWithParam<ToolCase> {
 protected:
  void SetUp() override {
    // Names are unique across folders, since extraction is flat.
    files_["a.xml"] = SampleText(300000, 1);
    files_["b.bin"] = RandomBytes(70000, 5);
    files_["empty.txt"] = "";
    files_["c.xml"] = SampleText(5000, 3);
    files_["d.txt"] = "d";
    files_["名单.xml"] = SampleText(1000, 9);
    WriteFile(src_ / "a.xml", files_["a.xml"]);
    WriteFile(src_ / "b.bin", files_["b.bin"]);
    WriteFile(src_ / "empty.txt", files_["empty.txt"]);
    WriteFile(src_ / "sub/c.xml", files_["c.xml"]);
    WriteFile(src_ / "sub/deeper/d.txt", files_["d.txt"]);
    WriteFile(src_ / "sub/名单.xml", files_["名单.xml"]);
  }

  testsupport::TempDir src_;
  testsupport::TempDir work_;
  std::map<std::string, std::string> files_;
};

TEST_P(ReaderInteropTest, ExtractsEveryFileByteIdentically) {
  const ToolCase& c = GetParam();
  const std::string archivePath = work_ / "backup.dmp";
  std::string command = c.command;
  for (std::size_t at; (at = command.find("ARCH")) != std::string::npos;) command.replace(at, 4, archivePath);
  ASSERT_EQ(Shell("cd " + Quote(src_.path()) + " && " + command), 0) << command;

  platform::ScriptedDialogs dialogs;
  platform::ScopedDialogs scoped(&dialogs);
  archive::ArchiveReader reader;
  reader.SetZipName(archivePath);
  reader.SetDestDir(work_ / "out/");
  reader.ReadDirectory();
  reader.Password = c.password;
  for (int i = 0; i < reader.EntryCount(); ++i) reader.SelectEntry(i, true);
  const int written = reader.ExtractSelected();

  std::map<std::string, std::string> expected;
  if (c.streamed) {
    expected["-"] = files_["a.xml"];
  } else {
    expected = files_;
  }
  EXPECT_EQ(written, static_cast<int>(expected.size()));
  EXPECT_EQ(reader.FileEntryCount(), static_cast<int>(expected.size()));
  std::map<std::string, std::string> got;
  for (const auto& [name, content] : ListFiles(work_ / "out")) got[name] = content;
  ASSERT_EQ(got.size(), expected.size());
  for (const auto& [name, content] : expected) {
    ASSERT_TRUE(got.count(name)) << name;
    EXPECT_TRUE(got[name] == content) << name << " differs";
  }
  EXPECT_TRUE(dialogs.shown.empty());
  EXPECT_FALSE(reader.IsBusy());
}

TEST_P(ReaderInteropTest, TestSelectedVerifiesWithoutWriting) {
  const ToolCase& c = GetParam();
  const std::string archivePath = work_ / "backup.dmp";
  std::string command = c.command;
  for (std::size_t at; (at = command.find("ARCH")) != std::string::npos;) command.replace(at, 4, archivePath);
  ASSERT_EQ(Shell("cd " + Quote(src_.path()) + " && " + command), 0) << command;

  archive::ArchiveReader reader;
  reader.SetZipName(archivePath);
  reader.SetDestDir(work_ / "out");
  reader.Password = c.password;
  reader.DoAll = true;
  const int sound = reader.TestSelected();
  EXPECT_EQ(sound, c.streamed ? 1 : static_cast<int>(files_.size()));
  EXPECT_FALSE(Exists(work_ / "out"));
}

INSTANTIATE_TEST_SUITE_P(Tools, ReaderInteropTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ToolCase>& info) { return std::string(info.param.label); });

// A wrong password writes nothing and shows nothing, whichever tool encrypted the archive.
TEST(ReaderInteropPassword, WrongPasswordSkipsSilently) {
  testsupport::TempDir dir;
  WriteFile(dir / "src/a.xml", SampleText(20000));
  WriteFile(dir / "src/b.xml", SampleText(300, 2));
  for (const std::string tool : {"zip -q -r -P right ARCH .", "7z a -tzip -mem=ZipCrypto -pright ARCH ."}) {
    const std::string archivePath = dir / "w.zip";
    std::filesystem::remove(archivePath);
    std::string command = tool;
    command.replace(command.find("ARCH"), 4, archivePath);
    ASSERT_EQ(Shell("cd " + Quote(dir / "src") + " && " + command), 0);
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scoped(&dialogs);
    archive::ArchiveReader reader;
    reader.SetZipName(archivePath);
    reader.SetDestDir(dir / "out");
    reader.Password = "wrong";
    reader.DoAll = true;
    // The check is one byte: about one entry in 256 lets a wrong password through, and then its
    // data decodes to garbage, which fails the CRC check or the decoder (a damaged deflate
    // stream). Either way nothing stays.
    int written = 0;
    try {
      written = reader.ExtractSelected();
    } catch (const archive::EZipError&) {
    }
    EXPECT_EQ(written, 0) << tool;
    EXPECT_TRUE(ListFiles(dir / "out").empty()) << tool;
    EXPECT_TRUE(dialogs.shown.empty());
    for (const auto& r : reader.LastResults())
      EXPECT_TRUE(r.outcome == archive::TEntryOutcome::BadPassword || r.outcome == archive::TEntryOutcome::BadCrc ||
                  r.outcome == archive::TEntryOutcome::Damaged)
          << r.name;
  }
}

// WinZip AES entries (7-Zip writes them) are refused as what they are, even with the right
// password: no file, no box, and not taken for a wrong password.
TEST(ReaderInteropAes, AesEntriesAreUnsupportedEncryption) {
  testsupport::TempDir dir;
  WriteFile(dir / "src/a.xml", SampleText(2000));
  const std::string archivePath = dir / "aes.zip";
  ASSERT_EQ(Shell("cd " + Quote(dir / "src") + " && 7z a -tzip -mem=AES256 -ppw " + Quote(archivePath) + " ."), 0);
  platform::ScriptedDialogs dialogs;
  platform::ScopedDialogs scoped(&dialogs);
  archive::ArchiveReader reader;
  reader.SetZipName(archivePath);
  reader.SetDestDir(dir / "out");
  reader.Password = "pw";
  reader.DoAll = true;
  EXPECT_EQ(reader.ExtractSelected(), 0);
  ASSERT_EQ(reader.LastResults().size(), 1u);
  EXPECT_EQ(reader.LastResults()[0].outcome, archive::TEntryOutcome::Unsupported);
  EXPECT_EQ(reader.LastResults()[0].reason, "unsupported encryption (AES)");
  EXPECT_TRUE(ListFiles(dir / "out").empty());
  EXPECT_TRUE(dialogs.shown.empty());
}

// An archive comment written by zip is found behind the end record.
TEST(ReaderInteropComment, CommentIsReadOnDemand) {
  testsupport::TempDir dir;
  WriteFile(dir / "src/a.xml", "abc");
  const std::string archivePath = dir / "c.zip";
  ASSERT_EQ(Shell("cd " + Quote(dir / "src") + " && zip -q c.zip a.xml && echo 'the comment' | zip -q -z c.zip && mv c.zip " + Quote(archivePath)), 0);
  archive::ArchiveReader reader;
  reader.SetZipName(archivePath);
  reader.ReadDirectory();
  EXPECT_EQ(reader.EntryCount(), 1);
  EXPECT_EQ(reader.ArchiveComment(), "the comment");
}

// More than 65 535 entries: the counts live in the Zip64 end record (python writes it).
TEST(ReaderInteropZip64, ReadsZip64EndRecords) {
  testsupport::TempDir dir;
  const std::string archivePath = dir / "many.zip";
  ASSERT_EQ(Shell("python3 -c \"import zipfile\nz=zipfile.ZipFile('" + archivePath +
                "','w',zipfile.ZIP_STORED)\nfor i in range(65540): z.writestr('f%05d.txt' % i, str(i))\nz.close()\""),
            0);
  archive::ArchiveReader reader;
  reader.DoProcessMessages = false;
  reader.SetZipName(archivePath);
  reader.ReadDirectory();
  ASSERT_EQ(reader.EntryCount(), 65540);
  ASSERT_NE(reader.EndCentral(), nullptr);
  EXPECT_TRUE(reader.EndCentral()->zip64End.has_value());
  EXPECT_EQ(reader.EndCentral()->totalEntries, 0xFFFF);
  EXPECT_EQ(reader.EndCentral()->TotalEntries64(), 65540u);
  EXPECT_EQ(reader.Entry(65539).FileName(), "f65539.txt");
  reader.DoAll = true;
  EXPECT_EQ(reader.TestSelected(), 65540);
  // The last few are extracted for real.
  reader.DoAll = false;
  reader.SetDestDir(dir / "out");
  for (int i = 65535; i < 65540; ++i) reader.SelectEntry(i, true);
  EXPECT_EQ(reader.ExtractSelected(), 5);
  EXPECT_EQ(ReadFile(dir / "out/f65537.txt"), "65537");
}

}  // namespace
