#include "archive/ArchiveSettings.h"

#include <cstdint>

#include "archive/ArchiveReader.h"
#include "archive/ArchiveWriter.h"
#include "diag/Trace.h"

namespace archive {
namespace {

// Stored constant from which the ArchivePassword is derived. Every character's code is low
// enough that the derived password stays printable ASCII, so that support staff can type it into
// any ZIP tool regardless of its code page. Changing it makes older backups unreadable.
constexpr char kStoredPasswordSource[] = "K4T8bW2hXe6Jc9NfD";
static_assert(sizeof kStoredPasswordSource - 1 == 17);

}  // namespace

std::string BuildArchivePassword(std::string_view text) {
  std::string result;
  if (text.empty()) return result;
  result.reserve(text.size());
  const std::size_t n = text.size();
  unsigned k = static_cast<unsigned>(n + 11);
  for (std::size_t i = 1; i <= n; ++i) {
    k = static_cast<unsigned>((k + i) % 19);
    const unsigned code = static_cast<unsigned char>(text[i - 1]);
    result.push_back(static_cast<char>(static_cast<std::uint8_t>((k + code) % 256)));
  }
  return result;
}

std::string ArchivePassword() { return BuildArchivePassword(kStoredPasswordSource); }

namespace {

// Wipes the password from a component once the operation is over, whatever happened: it is
// derived again for the next one and need not stay in memory.
struct PasswordWipe {
  std::string& password;
  ~PasswordWipe() {
    for (char& c : password) c = '\0';
    password.clear();
  }
};

}  // namespace

void compress(ArchiveWriter& writer, const std::string& archivePath,
              const std::string& workDirectory) {
  diag::TraceEnter("compress");
  writer.FilesList.clear();
  writer.FilesList.push_back(workDirectory + "/*.*");
  writer.AddDirEntriesOnRecurse = true;
  writer.SetRelativePaths(true);
  writer.SetZipName(archivePath);
  writer.MultiZipInfo.WriteDiskLabels = true;
  writer.MultiZipInfo.FirstBlockSize = 200000;
  PasswordWipe wipe{writer.Password};
  writer.Password = ArchivePassword();
  // The writer puts the archive in place only when every TableFile was packed whole: a backup
  // without one of its tables must not look complete, or a restore of it would empty that table
  // for nothing.
  writer.PackFiles();
  diag::TraceLeave("compress");
}

int UnCompress(ArchiveReader& reader, const std::string& archivePath,
               const std::string& archiveFolder) {
  return UnCompressInto(reader, archivePath, archiveFolder + "/qimzorstatistics", ArchivePassword());
}

int UnCompressInto(ArchiveReader& reader, const std::string& archivePath, const std::string& destDir,
                   std::string password) {
  PasswordWipe given{password};
  diag::TraceEnter("UnCompress");
  int result = 0;
  if (!reader.IsBusy()) {
    PasswordWipe wipe{reader.Password};
    try {
      reader.SetZipName(archivePath);
      reader.SetDestDir(destDir);
      reader.DoAll = false;
      reader.ReadDirectory();
      reader.RecreateDirs = false;
      reader.RetainAttributes = true;
      reader.Password = password;
      const int count = reader.EntryCount();
      const int files = reader.FileEntryCount();
      for (int i = 0; i < count; ++i) reader.SelectEntry(i, true);
      const int written = reader.ExtractSelected();
      // A restore must not go on to empty the target tables when the archive held nothing to
      // restore or an entry was skipped (wrong password, bad CRC, refused overwrite, file not
      // creatable): the reader reports those only through its count.
      if (files == 0 || written < files) result = -99;
    } catch (...) {
      result = -99;
    }
    if (result != 0) diag::TraceLine("解压失败！");
  }
  diag::TraceLeave("UnCompress");
  return result;
}

}  // namespace archive
