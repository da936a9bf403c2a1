// libFuzzer target: any byte string as a backup archive, read and extracted the way UnCompress
// does it. A crash, a sanitizer report, an exception that is not an archive error, or a file
// written outside the destination stops the run.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/ArchiveErrors.h"
#include "archive/ArchiveReader.h"
#include "platform/Dialogs.h"

namespace {

// Answers every box without recording it (a recording script would grow without end).
class Answering : public platform::IDialogs {
 public:
  int MessageBox(const std::string&, const std::string&, int style) override {
    yes_ = !yes_;
    if ((style & 0x0F) == platform::kMbYesNo) return yes_ ? platform::kIdYes : platform::kIdNo;
    return platform::kIdOk;
  }
  std::optional<std::string> SelectFolder(const platform::FolderDialogTexts&) override { return std::nullopt; }
  std::optional<std::string> OpenFile() override { return std::nullopt; }

 private:
  bool yes_ = false;
};

struct Sandbox {
  std::string root;
  std::string archive;
  std::string dest;
  Sandbox() {
    const char* base = std::getenv("DM_FUZZ_DIR");
    std::string parent = base ? base : (std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp");
    std::string tmpl = parent + "/dmfuzz-XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    root = tmpl;
    archive = root + "/input.dmp";
    dest = root + "/dest";
  }
  ~Sandbox() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

Sandbox& TheSandbox() {
  static Sandbox sandbox;
  return sandbox;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Answering dialogs;
  platform::SetDialogs(&dialogs);
  Sandbox& box = TheSandbox();
  std::error_code ec;
  std::filesystem::remove_all(box.dest, ec);
  {
    std::ofstream out(box.archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  // The last byte picks a few settings so that more paths are reached.
  const std::uint8_t knobs = size > 0 ? data[size - 1] : 0;
  archive::ArchiveReader reader;
  reader.DoProcessMessages = false;
  reader.RecreateDirs = (knobs & 1) != 0;
  reader.OverwriteMode = (knobs & 2) ? archive::TOverwriteMode::Always : archive::TOverwriteMode::Prompt;
  reader.IncompleteZipMode = (knobs & 4) ? archive::TIncompleteZipMode::izAssumeBad : archive::TIncompleteZipMode::izAssumeMulti;
  try {
    reader.SetZipName(box.archive);
    reader.SetDestDir(box.dest);
    reader.ReadDirectory();
    reader.Password = "pw";
    for (int i = 0; i < reader.EntryCount(); ++i) reader.SelectEntry(i, true);
    reader.ExtractSelected();
  } catch (const archive::EZipError&) {
  }
  if (reader.IsBusy()) std::abort();
  for (const auto& entry : std::filesystem::recursive_directory_iterator(box.root, ec)) {
    const std::string p = entry.path().string();
    if (p == box.archive || p == box.dest || p.rfind(box.dest + "/", 0) == 0) continue;
    std::fprintf(stderr, "written outside the destination: %s\n", p.c_str());
    std::abort();
  }
  return 0;
}
