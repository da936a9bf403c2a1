#include "CheckCommand.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "ToolCommon.h"
#include "archive/ArchiveErrors.h"
#include "archive/ArchiveReader.h"
#include "archive/ArchiveSettings.h"
#include "db/ConnectionProfile.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "db/FieldType.h"
#include "db/TableFileReader.h"
#include "migration/FileList.h"
#include "migration/MigrationText.h"
#include "migration/RecordImport.h"
#include "migration/RestoreCheck.h"
#include "platform/FileSystem.h"

namespace dmptool {
namespace {

namespace fs = std::filesystem;
using migration::SameTextAscii;

// The folder being used, for the interrupt handler: a fixed buffer, set before and cleared after.
char g_folder[4096] = {};

#ifdef _WIN32
BOOL WINAPI OnConsoleInterrupt(DWORD) {
  if (g_folder[0] != '\0') platform::RemoveTree(g_folder);
  return FALSE;  // the default handler ends the program
}
#else
// The extraction is flat: the folder holds plain files only. Removes them and the folder with
// calls that are safe in a signal handler (and readdir, which is in practice), then dies of the
// signal as it would have.
void OnInterrupt(int signal) {
  if (g_folder[0] != '\0') {
    if (DIR* dir = ::opendir(g_folder)) {
      const int fd = ::dirfd(dir);
      while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
          ::unlinkat(fd, entry->d_name, 0);
      }
      ::closedir(dir);
    }
    ::rmdir(g_folder);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}
#endif

// A new folder under the system's temporary folder, removed with everything in it when the
// guard ends, on every way out, and when the program is interrupted (Ctrl+C, a hang-up, kill).
class TemporaryFolder {
 public:
  TemporaryFolder() {
    const fs::path base = fs::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; path_.empty(); ++attempt) {
      const fs::path candidate = base / ("dmptool-check-" + std::to_string(random()));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) {
        path_ = platform::PathToUtf8(candidate);
      } else if (attempt >= 100) {
        throw std::runtime_error("no temporary folder can be created in " + platform::PathToUtf8(base) +
                                 (ec ? ": " + ec.message() : ""));
      }
    }
    if (path_.size() < sizeof g_folder) std::memcpy(g_folder, path_.c_str(), path_.size() + 1);
#ifdef _WIN32
    ::SetConsoleCtrlHandler(OnConsoleInterrupt, TRUE);
#else
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(signal, OnInterrupt);
#endif
  }
  ~TemporaryFolder() {
#ifdef _WIN32
    ::SetConsoleCtrlHandler(OnConsoleInterrupt, FALSE);
#else
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(signal, SIG_DFL);
#endif
    g_folder[0] = '\0';
    platform::RemoveTree(path_);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// One TableFile of the archive as read from the temporary folder.
struct TableFileFacts {
  std::string name;  // trimmed
  std::string table;
  std::unique_ptr<db::TableFileReader> rows;  // null when it does not read
  std::string problem;
};

std::string ColumnText(const db::DbColumn& column) {
  std::string text = column.name + " " + db::FieldTypeName(column.type);
  if (column.size > 0) text += "(" + std::to_string(column.size) + ")";
  return text;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

void PrintFile(const TableFileFacts& file) {
  std::string line = file.name + ": table " + file.table;
  if (file.rows) {
    line += ", " + std::to_string(file.rows->RowCount()) + " rows, columns ";
    std::vector<std::string> columns;
    for (const db::DbColumn& column : file.rows->Columns()) columns.push_back(ColumnText(column));
    line += JoinNames(columns);
  }
  if (!file.problem.empty()) line += "; PROBLEM: " + file.problem;
  std::printf("%s\n", line.c_str());
}

// The restore's look before the truncation, for one file; returns whether it stops the restore.
bool PrintFit(db::TDbConnection& connection, db::TDbQuery& lookup, const std::string& folder,
              TableFileFacts& file) {
  const migration::TTableFileFit fit = migration::CheckTableFile(connection, lookup, folder, file.name);
  const std::int64_t rows = file.rows ? file.rows->RowCount() : -1;
  std::vector<std::string> notes;
  bool stops = false;
  if (fit.misfit) {
    stops = !fit.schemaLoaded || rows != 0;
    std::string note = (stops ? "PROBLEM: " : "not a problem, the file holds no row: ") + fit.misfitText;
    if (fit.missingColumns.size() > 1) note += " (missing columns: " + JoinNames(fit.missingColumns) + ")";
    notes.push_back(note);
  }
  const bool b01 = SameTextAscii(fit.table, "B01REPORT");
  if (!fit.table.empty() && !b01 && migration::TargetHasTable(lookup, fit.table)) {
    notes.push_back(std::to_string(migration::TargetRowCount(lookup, fit.table)) + " rows in the target today");
  }
  for (size_t i = 0; i < fit.insertColumns.size() && i < fit.columns.size(); ++i) {
    if (fit.insertColumns[i].empty()) {
      notes.push_back(fit.columns[i].name + " is left out (binary large object)");
    } else if (fit.insertColumns[i] != fit.columns[i].name) {
      notes.push_back(fit.columns[i].name + " goes in as " + fit.insertColumns[i]);
    }
  }
  if (b01) {
    notes.push_back("the truncation drops the table and creates it anew with the columns " +
                    JoinNames(migration::RecreatedB01ReportColumns()));
    if (file.rows) {
      const std::int64_t kept = migration::RowsAfterRestore(fit.table, file.rows.get());
      notes.push_back("the fix-up deletes " + std::to_string(rows - kept) +
                      " rows whose B0140 is NULL, empty or XXX");
    }
  }
  if (SameTextAscii(fit.table, "RPTDURATION") || SameTextAscii(fit.table, "T_RPT_DURATION"))
    notes.push_back("the fix-up adds one row");
  if (!fit.misfit && rows > 0) {
    notes.push_back(fit.rowByRowReason.empty() ? "rows go in several to a statement"
                                               : "rows go in one per statement: " + fit.rowByRowReason);
  }
  std::string line = "  target " + (fit.table.empty() ? file.name : fit.table) + ": ";
  for (size_t i = 0; i < notes.size(); ++i) line += (i == 0 ? "" : "; ") + notes[i];
  std::printf("%s\n", line.c_str());
  return stops;
}

// The tables the truncation empties: it fails when one of them cannot be read.
int PrintTruncation(db::TDbQuery& lookup) {
  int problems = 0;
  const std::vector<std::string> tables = migration::TruncatedTables();
  for (const std::string& table : tables) {
    std::string why;
    if (SameTextAscii(table, "B01REPORT") || migration::TargetHasTable(lookup, table, &why)) continue;
    std::printf("truncation: PROBLEM: the target has no table %s to empty: %s\n", table.c_str(), why.c_str());
    ++problems;
  }
  if (problems == 0) std::printf("truncation: the target has all %zu tables it empties\n", tables.size());
  return problems;
}

// Compares the target's rows with what a restore of the archive leaves; returns the differences.
int PrintAfter(db::TDbQuery& lookup, std::vector<TableFileFacts>& files) {
  int differences = 0;
  std::vector<std::string> tables = migration::TruncatedTables();
  for (const TableFileFacts& file : files) {
    bool listed = false;
    for (const std::string& table : tables) listed = listed || SameTextAscii(table, file.table);
    if (!listed && !file.table.empty()) tables.push_back(file.table);
  }
  for (const std::string& table : tables) {
    TableFileFacts* file = nullptr;
    for (TableFileFacts& f : files) {
      if (SameTextAscii(f.table, table)) file = &f;
    }
    if (file != nullptr && !file->rows) continue;  // reported with the file
    const std::int64_t expected = migration::RowsAfterRestore(table, file ? file->rows.get() : nullptr);
    std::string why;
    if (!migration::TargetHasTable(lookup, table, &why)) {
      std::printf("  target %s: DIFFERS: the table cannot be read: %s\n", table.c_str(), why.c_str());
      ++differences;
      continue;
    }
    const std::int64_t actual = migration::TargetRowCount(lookup, table);
    const bool same = actual == expected;
    if (!same) ++differences;
    std::printf("  target %s: %lld rows, %lld expected from %s%s\n", table.c_str(), static_cast<long long>(actual),
                static_cast<long long>(expected), file ? file->name.c_str() : "no TableFile",
                same ? "" : "; DIFFERS");
  }
  return differences;
}

}  // namespace

int Check(const CheckOptions& options) {
  archive::ArchiveReader reader;
  if (!OpenDirectory(reader, options.archive)) return kExitFailure;
  TemporaryFolder folder;

  int problems = 0;
  const int unpacked = archive::UnCompressInto(reader, options.archive, folder.path(), options.password);
  for (const archive::TEntryResult& r : reader.LastResults()) {
    if (r.outcome == archive::TEntryOutcome::Extracted) continue;
    std::printf("%s: PROBLEM: %s\n", archive::PrintableName(r.name).c_str(), OutcomeText(r).c_str());
    ++problems;
  }
  if (unpacked != 0 && problems == 0) {
    std::printf("%s: PROBLEM: %s\n", archive::PrintableName(options.archive).c_str(),
                reader.FileEntryCount() == 0 ? "the archive holds no file to restore" : "the archive did not unpack");
    ++problems;
  }

  std::vector<TableFileFacts> files;
  std::int64_t totalRows = 0;
  for (const std::string& listed : migration::ListPlainFiles(folder.path())) {
    const std::string name = migration::TrimText(listed);
    if (!migration::IsImportedName(name)) {
      std::printf("%s: not imported (the restore imports names ending in .xml)\n", archive::PrintableName(name).c_str());
      continue;
    }
    TableFileFacts file;
    file.name = name;
    file.table = migration::TableNameFromFile(name);
    try {
      file.rows = std::make_unique<db::TableFileReader>(folder.path() + "/" + name);
      totalRows += file.rows->RowCount();
    } catch (const std::exception& e) {
      file.problem = e.what();
      ++problems;
    }
    PrintFile(file);
    files.push_back(std::move(file));
  }

  std::string verdict;
  int code = problems == 0 ? kExitOk : kExitUnsound;
  if (!options.target.empty()) {
    db::TDbConnection connection;
    try {
      connection.SetConnectionString(db::BuildConnectionString(options.target));
      connection.SetConnected(true);
    } catch (const std::exception& e) {
      std::cerr << "dmptool: check: cannot connect with the profile " << options.target << ": " << e.what() << "\n";
      return kExitFailure;
    }
    db::TDbQuery lookup(&connection);
    if (options.after) {
      const int differences = PrintAfter(lookup, files);
      problems += differences;
      verdict = differences == 0 && problems == 0 ? "every table holds the rows the restore brings"
                                                  : std::to_string(problems) + " tables or files differ";
    } else {
      for (TableFileFacts& file : files) {
        if (PrintFit(connection, lookup, folder.path(), file)) ++problems;
      }
      problems += PrintTruncation(lookup);
      verdict = problems == 0 ? "the restore would go through"
                              : "the restore would not go through: " + std::to_string(problems) + " problems";
    }
    lookup.Close();
    connection.SetConnected(false);
    code = problems == 0 ? kExitOk : kExitUnsound;
  } else {
    verdict = problems == 0 ? "every TableFile reads" : std::to_string(problems) + " problems";
  }
  std::printf("check: %zu TableFiles, %lld rows; %s\n", files.size(), static_cast<long long>(totalRows),
              verdict.c_str());
  return code;
}

}  // namespace dmptool
