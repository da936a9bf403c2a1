// Archives written by our writer, read by the real ZIP tools (Info-ZIP unzip, 7-Zip, Python's
// zipfile) and by our own reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "archive/ArchiveReader.h"
#include "archive/ArchiveWriter.h"
#include "archive/WriterTestSupport.h"
#include "archive/ZipTestTools.h"
#include "platform/CodePage.h"
#include "platform/Dialogs.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace writertest;

constexpr char kPassword[] = "Interop-Pass_7";
const std::string kChineseName = "报表数据.xml";

std::string Incompressible(std::size_t size) {
  std::mt19937 gen(11);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

std::string XmlRows(int rows) {
  std::string s = "<xml>\n<rs:data>\n";
  for (int i = 0; i < rows; ++i)
    s += "\t<z:row DURATIONID='" + std::to_string(i % 400) + "' ORGANID='" +
         std::to_string(110000 + i * 7) + "' REMARK='已审核'/>\n";
  return s + "</rs:data>\n</xml>\n";
}

class WriterInteropTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testsupport::TempDir;
    work_ = *dir_ / "qimzorstatistics";
    files_ = {
        {"B01REPORT.xml", XmlRows(20000)},
        {"EMPTY.xml", ""},
        {"sub/RAND.bin", Incompressible(3 << 20)},
        {kChineseName, "中文内容 " + XmlRows(50)},
    };
    for (const auto& [name, content] : files_) WriteFile(work_ + "/" + name, content);
    archive_ = *dir_ / "ours.dmp";
    archive::ArchiveWriter writer;
    writer.FilesList = {work_ + "/*.*"};
    writer.AddDirEntriesOnRecurse = true;
    writer.SetRelativePaths(true);
    writer.SetZipName(archive_);
    writer.Password = kPassword;
    packed_ = writer.PackFiles();
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  // The stored directory of the work folder.
  static std::string Stored() { return work_.substr(1) + "/"; }

  // Compares every extracted file under `root` + stored path; `chineseAs` is the name under
  // which the tool wrote the Chinese-named file.
  static void ExpectFiles(const std::string& root, const std::string& chineseAs) {
    for (const auto& [name, content] : files_) {
      const std::string onDisk = name == kChineseName ? chineseAs : name;
      const std::string path = root + "/" + work_.substr(1) + "/" + onDisk;
      ASSERT_TRUE(fs::exists(path)) << path;
      EXPECT_TRUE(ReadFile(path) == content) << path;
    }
  }

  static testsupport::TempDir* dir_;
  static std::string work_, archive_;
  static std::vector<std::pair<std::string, std::string>> files_;
  static int packed_;
};

testsupport::TempDir* WriterInteropTest::dir_ = nullptr;
std::string WriterInteropTest::work_, WriterInteropTest::archive_;
std::vector<std::pair<std::string, std::string>> WriterInteropTest::files_;
int WriterInteropTest::packed_ = 0;

TEST_F(WriterInteropTest, PackedEveryEntry) { EXPECT_EQ(packed_, 5); }

TEST_F(WriterInteropTest, InfoZipListsTestsAndExtracts) {
  const CommandResult list = RunCommand("unzip -l " + Quote(archive_));
  EXPECT_EQ(list.exitCode, 0) << list.output;
  EXPECT_NE(list.output.find(Stored() + "B01REPORT.xml"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find(Stored() + "sub/"), std::string::npos);
  EXPECT_NE(list.output.find("5 files"), std::string::npos) << list.output;

  const CommandResult test = RunCommand("unzip -t -P " + Quote(kPassword) + " " + Quote(archive_));
  EXPECT_EQ(test.exitCode, 0) << test.output;
  EXPECT_NE(test.output.find("No errors detected"), std::string::npos) << test.output;

  const std::string out = *dir_ / "unzip-out";
  const CommandResult x = RunCommand("unzip -q -P " + Quote(kPassword) + " " + Quote(archive_) + " -d " + Quote(out));
  ASSERT_EQ(x.exitCode, 0) << x.output;
  // Info-ZIP maps the OEM name bytes through its own table; find the one non-ASCII name.
  std::string chinese;
  for (const auto& e : fs::directory_iterator(out + "/" + work_.substr(1))) {
    const std::string n = e.path().filename().string();
    const bool nonAscii = std::any_of(n.begin(), n.end(), [](char ch) { return (ch & 0x80) != 0; });
    if (nonAscii)
      chinese = n;
  }
  ASSERT_FALSE(chinese.empty());
  ExpectFiles(out, chinese);

  const CommandResult wrong = RunCommand("unzip -t -P wrong " + Quote(archive_));
  EXPECT_NE(wrong.exitCode, 0);
}

TEST_F(WriterInteropTest, SevenZipTestsAndExtracts) {
  const CommandResult test = RunCommand("7z t -p" + Quote(kPassword) + " " + Quote(archive_));
  EXPECT_EQ(test.exitCode, 0) << test.output;
  EXPECT_NE(test.output.find("Everything is Ok"), std::string::npos) << test.output;

  const std::string out = *dir_ / "7z-out";
  const CommandResult x = RunCommand("7z x -y -p" + Quote(kPassword) + " -o" + Quote(out) + " " + Quote(archive_));
  ASSERT_EQ(x.exitCode, 0) << x.output;
  // 7-Zip writes the stored GBK bytes of the name unchanged.
  ExpectFiles(out, platform::Utf8ToGbk(kChineseName));

  const CommandResult wrong = RunCommand("7z t -pwrong " + Quote(archive_));
  EXPECT_NE(wrong.exitCode, 0);
}

TEST_F(WriterInteropTest, PythonZipfileReadsEveryEntry) {
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "z.setpassword(sys.argv[2].encode())\n"
      "assert z.testzip() is None\n"
      "for i in z.infolist():\n"
      "    name = i.filename.encode('cp437').decode('gbk')\n"
      "    data = b'' if i.is_dir() else z.read(i)\n"
      "    print(name, i.flag_bits, i.compress_type, len(data), i.external_attr)\n";
  WriteFile(*dir_ / "read.py", script);
  const CommandResult r =
      RunCommand("python3 " + Quote(*dir_ / "read.py") + " " + Quote(archive_) + " " + Quote(kPassword));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find(Stored() + kChineseName + " 1 8 " +
                          std::to_string(files_[3].second.size()) + " 32"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find(Stored() + "sub/ 0 0 0 16"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(Stored() + "EMPTY.xml 1 8 0 32"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(Stored() + "sub/RAND.bin 1 8 3145728 32"), std::string::npos) << r.output;
}

TEST_F(WriterInteropTest, OurReaderRoundTrips) {
  platform::ScriptedDialogs dialogs;
  platform::ScopedDialogs scoped(&dialogs);
  archive::ArchiveReader reader;
  reader.SetZipName(archive_);
  reader.SetDestDir(*dir_ / "ours-out");
  reader.Password = kPassword;
  reader.DoAll = true;
  EXPECT_EQ(reader.ExtractSelected(), 4);
  for (const auto& [name, content] : files_) {
    const std::string flat = name.substr(name.find_last_of('/') + 1);
    EXPECT_TRUE(ReadFile(*dir_ / "ours-out/" + flat) == content) << name;
  }
}

// --- updating archives made by Info-ZIP zip ---

class WriterUpdateInteropTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(work); }

  // Runs Info-ZIP zip in the temporary folder, so that names are stored relative to it.
  void Zip(const std::string& arguments) {
    const CommandResult r = RunCommand("cd " + Quote(tmp.path()) + " && zip -q " + arguments);
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }

  // Updates the archive with what the folder "d" holds, names stored as "d/...".
  int Update(const std::string& password,
             archive::TIncompleteZipMode incomplete = archive::TIncompleteZipMode::izAssumeMulti) {
    archive::ArchiveWriter writer;
    writer.IncompleteZipMode = incomplete;
    writer.FilesList = {work + "/*.*"};
    writer.SetRelativePaths(true);
    writer.RelativePathList = {tmp.path() + "/"};
    writer.TempPath = tmp.path();
    writer.SetZipName(zip);
    writer.Password = password;
    return writer.PackFiles();
  }

  // Every entry extracted by our reader, with its stored directories.
  void ExtractWithOurReader(const std::string& password, const std::string& out, int expected) {
    archive::ArchiveReader reader;
    reader.SetZipName(zip);
    reader.SetDestDir(out);
    reader.Password = password;
    reader.RecreateDirs = true;
    reader.DoAll = true;
    EXPECT_EQ(reader.ExtractSelected(), expected);
  }

  testsupport::TempDir tmp;
  std::string work = tmp / "d";
  std::string zip = tmp / "s.zip";
  platform::ScriptedDialogs dialogs;
  platform::ScopedDialogs scoped{&dialogs};
};

// zip -P writes every encrypted entry with a data descriptor: its password check byte is the
// high byte of the DOS time, and the entry must stay that way when it is copied.
TEST_F(WriterUpdateInteropTest, KeptEncryptedEntriesWithDataDescriptorsStillOpen) {
  const std::string deflated = XmlRows(300);
  const std::string stored = Incompressible(5000);
  const std::string streamed = XmlRows(40);
  WriteFile(work + "/old.xml", deflated);
  WriteFile(work + "/stored.bin", stored);
  WriteFile(tmp / "stream.txt", streamed);
  Zip("-P pw s.zip d/old.xml");
  Zip("-0 -P pw s.zip d/stored.bin");
  // Read from standard input: a Zip64 block in the local header and 8-byte descriptor sizes.
  Zip("-P pw s.zip - < stream.txt");
  // (zip ends this archive with Zip64 end records, which Parse does not follow: only the
  // entries are looked at.)
  const ParsedArchive before = Parse(ReadFile(zip));
  ASSERT_EQ(before.entries.size(), 3u);
  for (const ParsedEntry& e : before.entries) ASSERT_EQ(e.centralFlags & 9u, 9u) << e.name;

  // The old files are gone from the folder: their entries are kept as they are.
  fs::remove(work + "/old.xml");
  fs::remove(work + "/stored.bin");
  WriteFile(work + "/new.xml", "new file");
  ASSERT_EQ(Update("pw"), 4);

  const std::string bytes = ReadFile(zip);
  const ParsedArchive after = Parse(bytes);
  ASSERT_TRUE(after.ok);
  ASSERT_EQ(after.entries.size(), 4u);
  for (std::size_t i = 0; i < 3; ++i) {
    const ParsedEntry& e = after.entries[i];
    EXPECT_EQ(e.flags & 9u, 9u) << e.name;
    EXPECT_EQ(e.centralFlags & 9u, 9u) << e.name;
    EXPECT_EQ(U32(bytes, e.dataOffset + e.compressedSize), 0x08074B50u) << e.name;
    EXPECT_EQ(U32(bytes, e.dataOffset + e.compressedSize + 4), e.crc) << e.name;
  }

  const CommandResult unzip = RunCommand("unzip -t -P pw " + Quote(zip));
  EXPECT_EQ(unzip.exitCode, 0) << unzip.output;
  EXPECT_EQ(unzip.output.find("incorrect password"), std::string::npos) << unzip.output;
  const CommandResult sevenZip = RunCommand("7z t -ppw " + Quote(zip));
  EXPECT_EQ(sevenZip.exitCode, 0) << sevenZip.output;

  const std::string pyOut = tmp / "py-out";
  const CommandResult py = RunCommand(
      "python3 -c \"import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2], "
      "pwd=b'pw')\" " + Quote(zip) + " " + Quote(pyOut));
  ASSERT_EQ(py.exitCode, 0) << py.output;
  const std::string ours = tmp / "ours-out";
  ExtractWithOurReader("pw", ours, 4);
  for (const std::string& root : {pyOut, ours}) {
    EXPECT_TRUE(ReadFile(root + "/d/old.xml") == deflated) << root;
    EXPECT_TRUE(ReadFile(root + "/d/stored.bin") == stored) << root;
    EXPECT_TRUE(ReadFile(root + "/-") == streamed) << root;
    EXPECT_EQ(ReadFile(root + "/d/new.xml"), "new file") << root;
  }
}

// An entry whose stored time has out-of-range fields: its check byte comes from that time, so
// the kept entry must carry the time exactly as it was stored.
TEST_F(WriterUpdateInteropTest, KeptStreamedEntryKeepsItsTimeAsStored) {
  const std::uint32_t wild = (33u << 25 | 7u << 21 | 15u << 16) | 31u << 11 | 63u << 5;
  const std::string plain = XmlRows(20);
  WriteFile(zip, ziptest::BuildArchive({ziptest::EncryptedStreamedEntry("d/wild.xml", plain, "pw", wild)}));
  WriteFile(work + "/new.xml", "new file");
  ASSERT_EQ(Update("pw"), 2);

  const std::string bytes = ReadFile(zip);
  const ParsedArchive a = Parse(bytes);
  ASSERT_TRUE(a.ok);
  ASSERT_EQ(a.entries.size(), 2u);
  EXPECT_EQ(a.entries[0].time, wild & 0xFFFFu);
  EXPECT_EQ(U16(bytes, a.entries[0].centralLocalOffset), 0x4B50u);
  const CommandResult unzip = RunCommand("unzip -t -P pw " + Quote(zip));
  EXPECT_EQ(unzip.exitCode, 0) << unzip.output;
  const CommandResult py = RunCommand(
      "python3 -c \"import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).read('d/wild.xml', "
      "pwd=b'pw')))\" " + Quote(zip));
  EXPECT_EQ(py.exitCode, 0) << py.output;
  EXPECT_EQ(py.output, std::to_string(plain.size()) + "\n");
  const std::string ours = tmp / "ours-out";
  ExtractWithOurReader("pw", ours, 2);
  EXPECT_TRUE(ReadFile(ours + "/d/wild.xml") == plain);
}

// An archive without its end record is rebuilt from the local headers when the writer is told to
// take such an archive as damaged: the entries found that way are completed from the central
// records that follow them, and are kept.
TEST_F(WriterUpdateInteropTest, EntriesRebuiltFromLocalHeadersAreKept) {
  ziptest::HandEntry first{"d/first.txt", "first"};
  first.versionMadeBy = 0x031E;
  std::string bytes = ziptest::BuildArchive({first, {"d/second.txt", "second"}, {"d/third.txt", "third"}});
  bytes.resize(bytes.size() - 22);  // no end record
  WriteFile(zip, bytes);
  WriteFile(work + "/new.xml", "new file");
  ASSERT_EQ(Update("", archive::TIncompleteZipMode::izAssumeBad), 4);

  const ParsedArchive a = Parse(ReadFile(zip));
  ASSERT_TRUE(a.ok);
  ASSERT_EQ(a.entries.size(), 4u);
  EXPECT_EQ(a.entries[0].versionMadeBy, 0x031Eu) << "taken from its central record";
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(a.entries[i].centralExtraLength, 0u) << i;
  const CommandResult unzip = RunCommand("unzip -t " + Quote(zip));
  EXPECT_EQ(unzip.exitCode, 0) << unzip.output;
  const CommandResult py = RunCommand(
      "python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
      "print(*(n + '=' + z.read(n).decode() + '/' + z.getinfo(n).comment.decode() for n in z.namelist()))\" " +
      Quote(zip));
  EXPECT_EQ(py.exitCode, 0) << py.output;
  EXPECT_EQ(py.output, "d/first.txt=first/ d/second.txt=second/ d/third.txt=third/ d/new.xml=new file/\n");
}

// An update keeps the archive comment when the writer had read the archive before (as after a
// listing); a writer that meets the archive for the first time starts a new end record.
TEST_F(WriterUpdateInteropTest, CommentIsKeptWhenTheArchiveWasReadBefore) {
  WriteFile(tmp / "a.txt", "a");
  Zip("s.zip a.txt");
  ASSERT_EQ(RunCommand("cd " + Quote(tmp.path()) + " && echo 'kept comment' | zip -q -z s.zip").exitCode, 0);
  WriteFile(work + "/b.xml", "b");
  {
    archive::ArchiveWriter writer;
    writer.FilesList = {work + "/*.*"};
    writer.SetRelativePaths(true);
    writer.RelativePathList = {tmp.path() + "/"};
    writer.SetZipName(zip);
    writer.ReadDirectory();
    ASSERT_EQ(writer.PackFiles(), 2);
  }
  CommandResult listing = RunCommand("unzip -z " + Quote(zip));
  EXPECT_NE(listing.output.find("kept comment"), std::string::npos) << listing.output;
  EXPECT_EQ(RunCommand("unzip -tq " + Quote(zip)).exitCode, 0);

  WriteFile(work + "/c.xml", "c");
  EXPECT_EQ(Update(""), 3);
  listing = RunCommand("unzip -z " + Quote(zip));
  EXPECT_EQ(listing.output.find("kept comment"), std::string::npos) << listing.output;
}

// Names of kept entries are copied byte for byte: Info-ZIP's raw UTF-8 (Unix host, no flag),
// Python's flagged UTF-8 and our own GBK all come out as they went in.
TEST_F(WriterUpdateInteropTest, KeptEntriesKeepTheirStoredNames) {
  // Python first: appending, it would write Info-ZIP's name again as its own reading of it.
  const CommandResult py = RunCommand(
      "python3 -c \"import sys, zipfile; zipfile.ZipFile(sys.argv[1], 'w').writestr('w/数据.txt', "
      "b'from Python')\" " + Quote(zip));
  ASSERT_EQ(py.exitCode, 0) << py.output;
  // An entry with a comment and an extra block of its own in the central header.
  const CommandResult note = RunCommand(
      "python3 -c \"import sys, zipfile; i = zipfile.ZipInfo('w/note.txt'); i.comment = b'a note'; "
      "i.extra = b'\\xfe\\xca\\x02\\x00ok'; zipfile.ZipFile(sys.argv[1], 'a').writestr(i, b'noted')\" " +
      Quote(zip));
  ASSERT_EQ(note.exitCode, 0) << note.output;
  WriteFile(tmp / "u/中文.txt", "from Info-ZIP");
  Zip("s.zip u/中文.txt");
  WriteFile(work + "/名单.xml", "from us");
  ASSERT_EQ(Update(""), 4);
  fs::remove(work + "/名单.xml");
  WriteFile(work + "/new.xml", "new file");
  ASSERT_EQ(Update(""), 5);

  const ParsedArchive a = Parse(ReadFile(zip));
  ASSERT_TRUE(a.ok);
  ASSERT_EQ(a.entries.size(), 5u);
  EXPECT_EQ(a.entries[0].name, "w/数据.txt");
  EXPECT_EQ(a.entries[0].centralFlags & 0x0800u, 0x0800u);
  EXPECT_EQ(a.entries[1].name, "w/note.txt");
  EXPECT_EQ(a.entries[2].name, "u/中文.txt");
  EXPECT_EQ(a.entries[2].versionMadeBy >> 8, 3u);
  EXPECT_EQ(a.entries[3].name, "d/" + platform::Utf8ToGbk("名单.xml"));
  EXPECT_EQ(a.entries[4].name, "d/new.xml");
  const CommandResult kept = RunCommand(
      "python3 -c \"import sys, zipfile; i = zipfile.ZipFile(sys.argv[1]).getinfo('w/note.txt'); "
      "print(i.comment, i.extra)\" " + Quote(zip));
  EXPECT_EQ(kept.output, "b'a note' b'\\xfe\\xca\\x02\\x00ok'\n");

  const CommandResult list = RunCommand("unzip -l " + Quote(zip));
  EXPECT_EQ(list.exitCode, 0) << list.output;
  EXPECT_NE(list.output.find("u/中文.txt"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find("w/数据.txt"), std::string::npos) << list.output;

  archive::ArchiveReader reader;
  reader.SetZipName(zip);
  reader.ReadDirectory();
  ASSERT_EQ(reader.EntryCount(), 5);
  EXPECT_EQ(reader.Entry(0).FullName(), "w/数据.txt");
  EXPECT_EQ(reader.Entry(2).FullName(), "u/中文.txt");
  EXPECT_EQ(reader.Entry(3).FullName(), "d/名单.xml");
  const std::string out = tmp / "ours-out";
  ExtractWithOurReader("", out, 5);
  EXPECT_EQ(ReadFile(out + "/u/中文.txt"), "from Info-ZIP");
  EXPECT_EQ(ReadFile(out + "/w/数据.txt"), "from Python");
  EXPECT_EQ(ReadFile(out + "/d/名单.xml"), "from us");
}

// More than 65 535 entries: the end record's counts saturate and the Zip64 end record and
// locator carry them.
TEST(WriterZip64Test, MoreThan65535EntriesAreReadByTheTools) {
  testsupport::TempDir tmp;
  const std::string work = tmp / "many";
  constexpr int kFiles = 65600;
  for (int d = 0; d < 41; ++d) fs::create_directories(work + "/d" + std::to_string(d));
  for (int i = 0; i < kFiles; ++i)
    WriteFile(work + "/d" + std::to_string(i % 41) + "/f" + std::to_string(i), std::to_string(i));
  const std::string zip = tmp / "many.zip";
  archive::ArchiveWriter writer;
  writer.FilesList = {work + "/*.*"};
  writer.SetRelativePaths(true);
  writer.SetZipName(zip);
  writer.Password = kPassword;
  ASSERT_EQ(writer.PackFiles(), kFiles);

  const std::string bytes = ReadFile(zip);
  const std::size_t end = bytes.size() - 22;
  ASSERT_EQ(U32(bytes, end), 0x06054B50u);
  EXPECT_EQ(U16(bytes, end + 8), 0xFFFFu);
  EXPECT_EQ(U16(bytes, end + 10), 0xFFFFu);
  EXPECT_EQ(U32(bytes, end - 20), 0x07064B50u) << "Zip64 locator right before the end record";
  EXPECT_EQ(U32(bytes, end - 76), 0x06064B50u) << "Zip64 end record right before the locator";

  const CommandResult list = RunCommand("unzip -l " + Quote(zip) + " | tail -1");
  EXPECT_NE(list.output.find(std::to_string(kFiles) + " files"), std::string::npos) << list.output;
  const CommandResult py = RunCommand(
      "python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); z.setpassword(b'" +
      std::string(kPassword) + "'); print(len(z.namelist()), z.read(z.namelist()[-1]).decode())\" " +
      Quote(zip));
  EXPECT_EQ(py.exitCode, 0) << py.output;
  EXPECT_NE(py.output.find(std::to_string(kFiles) + " "), std::string::npos) << py.output;

  archive::ArchiveReader reader;
  reader.SetZipName(zip);
  reader.ReadDirectory();
  EXPECT_EQ(reader.EntryCount(), kFiles);
}

}  // namespace
