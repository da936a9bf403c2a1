// Damaged and hostile archives: every truncation of valid archives and byte changes at every
// position. The reader must not crash or hang, must raise only archive errors (EZipError, the
// archive's open error included), must never write outside the destination, and must not leave a
// file that does not match its entry.

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "archive/ArchiveErrors.h"
#include "archive/ArchiveReader.h"
#include "archive/Crc32.h"
#include "archive/ZipTestTools.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace {

using namespace ziptest;

class ReaderHostileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(src_ / "a.xml", SampleText(3000, 1));
    WriteFile(src_ / "sub/b.xml", SampleText(400, 2));
    WriteFile(src_ / "c.bin", RandomBytes(300, 3));
    WriteFile(src_ / "e.txt", "");
    for (const auto& [name, content] : ListFiles(src_.path())) {
      const std::string file = name.substr(name.rfind('/') + 1);
      crcs_[file] = archive::Crc32Of(content.data(), content.size());
      sizes_[file] = content.size();
    }
  }

  std::string Make(const std::string& command) {
    const std::string path = sandbox_ / "made.zip";
    std::filesystem::remove(path);
    std::string c = command;
    c.replace(c.find("ARCH"), 4, path);
    EXPECT_EQ(Shell("cd " + Quote(src_.path()) + " && " + c), 0) << c;
    std::string bytes = ReadFile(path);
    std::filesystem::remove(path);
    return bytes;
  }

  // Reads and extracts `bytes` as UnCompress does, then checks what was left behind.
  void Attack(const std::string& bytes, const std::string& label, int round) {
    const std::string path = sandbox_ / "hostile.dmp";
    const std::string dest = sandbox_ / "dest";
    platform::RemoveTree(dest);  // read-only files too, as an archive may make them
    WriteFile(path, bytes);
    const auto start = std::chrono::steady_clock::now();
    archive::ArchiveReader reader;
    reader.DoProcessMessages = false;
    reader.OverwriteMode = (round % 2) ? archive::TOverwriteMode::Always : archive::TOverwriteMode::Prompt;
    reader.RecreateDirs = (round % 3) == 0;
    try {
      reader.SetZipName(path);
      reader.SetDestDir(dest);
      reader.ReadDirectory();
      reader.Password = "pw";
      for (int i = 0; i < reader.EntryCount(); ++i) reader.SelectEntry(i, true);
      reader.ExtractSelected();
    } catch (const archive::EZipError&) {
      // documented failure
    } catch (const std::exception& e) {
      ADD_FAILURE() << label << ": unexpected exception " << e.what();
    }
    EXPECT_FALSE(reader.IsBusy()) << label;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(5)) << label;
    // Nothing outside the destination but the archive itself; every file left is sound.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Native(sandbox_.path()))) {
      // Compared with '/' separators: Windows lists its entries with '\'.
      const std::string p = Utf8(entry.path());
      if (p == Utf8(Native(path)) || p == Utf8(Native(dest))) continue;
      ASSERT_EQ(p.rfind(Utf8(Native(dest)) + "/", 0), 0u) << label << ": wrote " << p;
      if (!entry.is_regular_file()) continue;
      const std::string file = Utf8(entry.path().filename());
      const std::string content = ReadFile(p);
      const auto crc = archive::Crc32Of(content.data(), content.size());
      // A hostile archive may carry any content under any name, but then its entry said so:
      // the content must match the CRC and size of one of the entries of the list.
      bool matches = false;
      for (int i = 0; i < reader.EntryCount() && !matches; ++i)
        matches = reader.Entry(i).crc32 == crc && reader.Entry(i).UncompressedSize64() == content.size();
      EXPECT_TRUE(matches || reader.EntryCount() == 0) << label << ": unsound file " << file;
    }
  }

  void Sweep(const std::string& valid, const std::string& label, std::size_t flipStride) {
    for (std::size_t n = 0; n < valid.size(); ++n) Attack(valid.substr(0, n), label + " cut " + std::to_string(n), static_cast<int>(n));
    for (std::size_t at = 0; at < valid.size(); at += flipStride) {
      for (const unsigned char v : {0x00, 0xFF, 0x80}) {
        std::string bytes = valid;
        bytes[at] = static_cast<char>(v == 0x80 ? (bytes[at] ^ 0x80) : v);
        Attack(bytes, label + " byte " + std::to_string(at) + "=" + std::to_string(v), static_cast<int>(at + v));
      }
    }
    std::mt19937 rng(42);
    for (int round = 0; round < 300; ++round) {
      std::string bytes = valid;
      const int changes = 1 + static_cast<int>(rng() % 8);
      for (int k = 0; k < changes; ++k) bytes[rng() % bytes.size()] = static_cast<char>(rng());
      Attack(bytes, label + " random " + std::to_string(round), round);
    }
  }

  testsupport::TempDir src_;
  testsupport::TempDir sandbox_;
  std::map<std::string, std::uint32_t> crcs_;
  std::map<std::string, std::size_t> sizes_;
  platform::ScriptedDialogs dialogs_;
  platform::ScopedDialogs scoped_{&dialogs_};
};

// Archives made by the host's tools: Info-ZIP zip and python3 (not reachable from inside Wine).
#ifdef _WIN32
#define DM_NEEDS_HOST_TOOLS() GTEST_SKIP() << "Linux-only: archives made by the host's zip and python3"
#else
#define DM_NEEDS_HOST_TOOLS() (void)0
#endif

TEST_F(ReaderHostileTest, EncryptedZipArchive) {
  DM_NEEDS_HOST_TOOLS();
  Sweep(Make("zip -q -r -P pw ARCH ."), "zip -P", 1);
}

TEST_F(ReaderHostileTest, StreamedArchiveWithDataDescriptors) {
  DM_NEEDS_HOST_TOOLS();
  Sweep(Make("zip -q -r -fd -P pw ARCH ."), "zip -fd", 2);
}

TEST_F(ReaderHostileTest, PlainPythonArchive) {
  DM_NEEDS_HOST_TOOLS();
  Sweep(Make("python3 -c \"import zipfile\nz=zipfile.ZipFile('ARCH','w',zipfile.ZIP_DEFLATED)\n"
             "z.write('a.xml')\nz.write('sub/b.xml')\nz.writestr('st.txt','stored',zipfile.ZIP_STORED)\nz.close()\""),
        "python", 1);
}

TEST_F(ReaderHostileTest, HandBuiltArchiveWithComment) {
  Sweep(BuildArchive({{"x/a.txt", "alpha"}, {"b.txt", "beta"}, {"dir/", ""}}, "note"), "hand", 1);
}

}  // namespace
