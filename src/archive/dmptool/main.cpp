// dmptool: the command-line companion of the migration tool for backup archives.
//
//   dmptool [--password TEXT] list ARCHIVE
//   dmptool [--password TEXT] verify ARCHIVE
//   dmptool [--password TEXT] [--overwrite] extract ARCHIVE DIR
//   dmptool [--password TEXT] [--threads N] pack DIR ARCHIVE
//   dmptool check ARCHIVE [--password TEXT] [--target bf|hy] [--after]
//   dmptool --version
//
// Without --password the archive password of the migration tool is used (never printed).
// pack deflates the files on N threads at once, by default one per hardware thread; the archive
// does not depend on N.
// check reads every TableFile of the archive and, with --target, runs the restore's look at the
// target without changing it (with --after: compares the target's rows with the archive's).
// Exit codes: 0 success (check: the restore would go through, or every count matches); 1 the archive was read but an entry is unsound (damaged, wrong password,
// unsupported) or was not written; 2 wrong usage; 3 the archive could not be read or written (a
// damaged central directory included: the message says what is wrong and where).
// Names are printed with control bytes escaped (\xNN).

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "archive/ArchiveErrors.h"
#include "archive/ArchiveReader.h"
#include "archive/ArchiveSettings.h"
#include "archive/ArchiveWriter.h"
#include "archive/DosDateTime.h"
#include "archive/FileIo.h"
#include "archive/PackWorkers.h"
#include "archive/ZipFormat.h"
#include "platform/FileSystem.h"
#include "platform/ProgramVersion.h"
#include "CheckCommand.h"
#include "ToolCommon.h"
#ifdef _WIN32
#include "platform/Win32Text.h"
#endif

namespace {

using namespace dmptool;

int Usage(const std::string& problem) {
  if (!problem.empty()) std::cerr << "dmptool: " << problem << "\n";
  std::cerr << "usage: dmptool [--password TEXT] list ARCHIVE\n"
               "       dmptool [--password TEXT] verify ARCHIVE\n"
               "       dmptool [--password TEXT] [--overwrite] extract ARCHIVE DIR\n"
               "       dmptool [--password TEXT] [--threads N] pack DIR ARCHIVE\n"
               "       dmptool check ARCHIVE [--password TEXT] [--target bf|hy] [--after]\n"
               "       dmptool --version\n";
  return kExitUsage;
}

int List(const std::string& path) {
  archive::ArchiveReader reader;
  if (!OpenDirectory(reader, path)) return kExitFailure;
  std::printf("%-19s %12s %12s %-8s %-3s %s\n", "Modified", "Size", "Packed", "Method", "Enc",
              "Name");
  std::uint64_t total = 0;
  for (int i = 0; i < reader.EntryCount(); ++i) {
    const archive::TZipHeaderInfo& e = reader.Entry(i);
    const platform::LocalDateTime t = archive::DosDateTime::FromDos(e.dosDateTime);
    const char* method = e.compressionMethod == archive::zip::kMethodDeflated ? "deflate"
                         : e.compressionMethod == archive::zip::kMethodStored ? "stored"
                                                                                : "other";
    std::printf("%04d-%02d-%02d %02d:%02d:%02d %12llu %12llu %-8s %-3s %s\n", t.year, t.month,
                t.day, t.hour, t.minute, t.second,
                static_cast<unsigned long long>(e.UncompressedSize64()),
                static_cast<unsigned long long>(e.CompressedSize64()), method,
                e.IsEncrypted() ? "yes" : "no", archive::PrintableName(e.FullName()).c_str());
    total += e.UncompressedSize64();
  }
  std::printf("%d entries, %llu bytes\n", reader.EntryCount(),
              static_cast<unsigned long long>(total));
  return kExitOk;
}

// Reports every entry that did not come through; returns the exit code.
int Report(const archive::ArchiveReader& reader, int good, const char* verb) {
  for (const archive::TEntryResult& r : reader.LastResults())
    if (r.outcome != archive::TEntryOutcome::Extracted)
      std::cerr << "dmptool: " << archive::PrintableName(r.name) << ": " << OutcomeText(r) << "\n";
  const int files = reader.FileEntryCount();
  std::printf("%d of %d files %s\n", good, files, verb);
  return good == files ? kExitOk : kExitUnsound;
}

int Verify(const std::string& path, const std::string& password) {
  archive::ArchiveReader reader;
  if (!OpenDirectory(reader, path)) return kExitFailure;
  reader.Password = password;
  reader.DoAll = true;
  const int good = reader.TestSelected();
  return Report(reader, good, "sound");
}

int Extract(const std::string& path, const std::string& dir, const std::string& password,
            bool overwrite) {
  archive::ArchiveReader reader;
  if (!OpenDirectory(reader, path)) return kExitFailure;
  reader.SetDestDir(dir);
  reader.Password = password;
  reader.OverwriteMode = overwrite ? archive::TOverwriteMode::Always : archive::TOverwriteMode::Never;
  reader.DoAll = true;
  const int good = reader.ExtractSelected();
  return Report(reader, good, "extracted");
}

int Pack(const std::string& dir, const std::string& path, const std::string& password, int threads) {
  if (!archive::fileio::StatusOf(dir).isDirectory) {
    std::cerr << "dmptool: " << archive::PrintableName(dir) << ": no such directory\n";
    return kExitFailure;
  }
  std::string source = dir;
  while (source.size() > 1 && (source.back() == '/' || source.back() == platform::kPathSeparator)) source.pop_back();
  archive::ArchiveWriter writer;
  writer.FilesList = {source + "/*.*"};
  writer.AddDirEntriesOnRecurse = true;
  writer.SetRelativePaths(true);
  writer.SetZipName(path);
  writer.Password = password;
  writer.PackThreads = threads;
  // All or nothing: a file that cannot be read whole raises, and no archive is written.
  const int count = writer.PackFiles();
  const int used = archive::PackWorkers::ThreadsFor(threads);
  std::printf("%d entries packed into %s on %d thread%s\n", count, archive::PrintableName(path).c_str(), used,
              used == 1 ? "" : "s");
  return kExitOk;
}

// The command line as UTF-8. Windows hands main() its arguments in the ANSI code page, which
// cannot spell every file name: there they are read again in UTF-16.
std::vector<std::string> CommandLine(int argc, char** argv) {
#ifdef _WIN32
  int count = 0;
  if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
    std::vector<std::string> line;
    for (int i = 0; i < count; ++i) line.push_back(platform::win32::Narrow(wide[i]));
    ::LocalFree(wide);
    return line;
  }
#endif
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace

int main(int argc, char** argv) {
  if (platform::HandleVersionOption(argc, argv, "dmptool")) return kExitOk;
  const std::vector<std::string> line = CommandLine(argc, argv);
  argc = static_cast<int>(line.size());
  std::vector<std::string> args;
  std::string password;
  bool passwordGiven = false;
  bool overwrite = false;
  bool after = false;
  std::string target;
  int threads = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string& a = line[i];
    if (a == "--password") {
      if (i + 1 >= argc) return Usage("--password needs a value");
      password = line[++i];
      passwordGiven = true;
    } else if (a == "--threads") {
      const std::string value = i + 1 < argc ? line[++i] : "";
      if (value.empty() || value.size() > 4 || value.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(value) < 1)
        return Usage("--threads needs a number from 1 to 9999");
      threads = std::stoi(value);
    } else if (a == "--overwrite") {
      overwrite = true;
    } else if (a == "--target") {
      if (i + 1 >= argc || (line[i + 1] != "bf" && line[i + 1] != "hy")) return Usage("--target needs bf or hy");
      target = line[++i];
    } else if (a == "--after") {
      after = true;
    } else if (a == "-h" || a == "--help") {
      Usage("");
      return kExitOk;
    } else if (a.size() > 1 && a[0] == '-' && a.rfind("--", 0) == 0) {
      return Usage("unknown option " + a);
    } else {
      args.push_back(a);
    }
  }
  if (args.empty()) return Usage("no command given");
  if (!passwordGiven) password = archive::ArchivePassword();

  const std::string& command = args[0];
  const std::size_t want = command == "extract" || command == "pack" ? 3 : 2;
  if (command != "list" && command != "verify" && command != "extract" && command != "pack" && command != "check")
    return Usage("unknown command " + command);
  if (args.size() != want) return Usage("wrong number of arguments for " + command);
  if (command != "check" && (after || !target.empty())) return Usage("--target and --after are for check");
  if (after && target.empty()) return Usage("--after needs --target");

  try {
    if (command == "list") return List(args[1]);
    if (command == "verify") return Verify(args[1], password);
    if (command == "extract") return Extract(args[1], args[2], password, overwrite);
    if (command == "check") return Check({args[1], password, target, after});
    return Pack(args[1], args[2], password, threads);
  } catch (const std::exception& e) {
    std::cerr << "dmptool: " << command << " failed: " << e.what() << "\n";
    return kExitFailure;
  }
}
