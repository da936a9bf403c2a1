// The backup and the restore of the 15 tables, run through the real main window (offscreen), with
// the references measured on the same data in the same run:
//   restore  vs  the same INSERT statements one per round trip through ODBC in one transaction,
//                psql -1 -f of the same statements, and COPY FROM as the limit;
//   export   vs  a bare ODBC fetch loop of the same 15 queries, and psql \copy of them;
// plus the packing and unpacking phases, the peak memory of the procedures and the longest time the
// event loop went without handling events during the restore.
//
// With DM_INSERT_BOUNDS="ROWS:BYTES,..." the restore runs again once per bound of its multi-row
// statements, and the import phase of each is printed beside the one of the bound in force.
//
//   migration_bench WORKDIR      (the stand-in servers running, the source seeded; see run.sh)

#include <sql.h>
#include <sqlext.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ui/TFImportDate.h"
#include "archive/ArchiveReader.h"
#include "archive/ArchiveSettings.h"
#include "migration/BackupProcedure.h"
#include "db/ConnectionProfile.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "migration/FileList.h"
#include "migration/MigrationText.h"
#include "migration/RecordImport.h"
#include "migration/RestoreProcedure.h"
#include "platform/Dialogs.h"
#include "platform/TraceSink.h"
#include "ui/QtEventPump.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string RepoDir() {
  const char* dir = std::getenv("DM_SOURCE_DIR");
  return dir ? dir : ".";
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

std::string ShellOutput(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

std::string Psql(const std::string& profile) { return RepoDir() + "/scripts/dbenv.sh psql " + profile + " -X -q "; }

// Seconds a shell command takes; aborts the bench when it fails.
double TimeShell(const std::string& command) {
  const auto t0 = Clock::now();
  if (Shell(command) != 0) {
    std::fprintf(stderr, "bench: failed: %s\n", command.c_str());
    std::exit(1);
  }
  return Seconds(Clock::now() - t0);
}

// Peak resident memory: reset, then read.
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
long PeakMemoryKb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The moments at which the procedures enter and leave their phases, taken from the trace; every
// other trace line is dropped (a million INSERT lines on a terminal would measure the terminal).
struct PhaseMarks {
  std::map<std::string, Clock::time_point> at;
  void Install() {
    platform::SetTraceSink([this](std::string_view line) {
      size_t i = 0;
      while (i < line.size() && line[i] == ' ') ++i;
      const std::string_view bare = line.substr(i);
      if (bare.rfind("Enter ", 0) == 0 || bare.rfind("Leave ", 0) == 0) {
        if (bare.find("SHMyDelDirectory") == std::string_view::npos) at[std::string(bare)] = Clock::now();
      } else if (bare.rfind("Exception Message:", 0) == 0) {
        std::fprintf(stderr, "bench: %.*s\n", static_cast<int>(bare.size()), bare.data());
      }
    });
  }
  double Between(const std::string& a, const std::string& b) const {
    if (!at.count(a) || !at.count(b)) return -1;
    return Seconds(at.at(b) - at.at(a));
  }
};

// The longest time between two ticks of a timer on the user-interface thread.
class GapMeter {
 public:
  GapMeter() {
    timer_.setInterval(2);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const auto now = Clock::now();
      longest_ = std::max(longest_, now - last_);
      last_ = now;
    });
  }
  void Start() {
    longest_ = {};
    last_ = Clock::now();
    timer_.start();
  }
  double Stop() {
    timer_.stop();
    longest_ = std::max(longest_, Clock::now() - last_);
    return Seconds(longest_) * 1000;
  }

 private:
  QTimer timer_;
  Clock::time_point last_;
  Clock::duration longest_{};
};

// The same statements the restore sends, written once for the references: NUL-separated for the
// ODBC loop, ';'-terminated for psql, and joined into the multi-row statements the restore sends
// (statements-joined.sql, at the bound in force) for the server's own time of those.
long long WriteStatements(const std::string& archivePath, const std::string& dir, migration::TBackslashes backslashes) {
  archive::ArchiveReader reader;
  if (archive::UnCompress(reader, archivePath, dir + "/") != 0) {
    std::fprintf(stderr, "bench: cannot unpack %s\n", archivePath.c_str());
    std::exit(1);
  }
  const std::string work = dir + "/qimzorstatistics";
  std::ofstream sql(dir + "/statements.sql", std::ios::binary);
  std::ofstream bin(dir + "/statements.bin", std::ios::binary);
  std::ofstream joined(dir + "/statements-joined.sql", std::ios::binary);
  std::string batchHead, batch;
  int batchRows = 0;
  const auto flush = [&] {
    if (batchRows > 0) joined << batchHead << batch << ";\n";
    batch.clear();
    batchRows = 0;
  };
  // A psql session's backend can fall into an allocation mode that makes the same file take two or
  // three times as long; one large allocation at its start keeps it in the fast mode that the ODBC
  // sessions are always in, so the reference is not measured in the slow one.
  joined << "select length(repeat('x', 20000000));\n";
  long long count = 0;
  for (const std::string& name : migration::ListPlainFiles(work)) {
    if (migration::ExtensionOf(name) != ".xml") continue;
    const std::string table = migration::TableNameFromFile(name);
    db::TDbQuery file;
    file.LoadFromFile(work + "/" + name);
    std::vector<std::string> columns;
    for (int i = 0; i < file.FieldCount(); ++i) columns.push_back(migration::TargetColumnName(table, file.FieldName(i)));
    for (; !file.Eof(); file.Next()) {
      std::string cols, values;
      for (int i = 0; i < file.FieldCount(); ++i) {
        bool included = false;
        const std::string value = migration::ValueText(file, i, included, backslashes);
        if (!included) continue;
        cols.append(columns[i]).push_back(',');
        values.append(value).push_back(',');
      }
      cols.pop_back();
      values.pop_back();
      const std::string statement = "insert into " + table + " (" + cols + ") values (" + values + ")";
      sql << statement << ";\n";
      bin << statement << '\0';
      ++count;
      const std::string head = "insert into " + table + " (" + cols + ") values ";
      if (head != batchHead) flush();
      batchHead = head;
      batch.append(batchRows > 0 ? ",(" : "(").append(values).push_back(')');
      if (++batchRows >= migration::kInsertBatchBound.rows || batch.size() >= migration::kInsertBatchBound.bytes) flush();
    }
    flush();
  }
  fs::remove_all(work);
  return count;
}

void TruncateTarget() {
  std::string text;
  for (const auto& line : migration::TruncateSQLLines()) text += line + "\n";
  std::ofstream(fs::temp_directory_path() / "dm-bench-truncate.sql") << text;
  if (Shell(Psql("hy") + "-f " + (fs::temp_directory_path() / "dm-bench-truncate.sql").string() + " >/dev/null") != 0) {
    std::fprintf(stderr, "bench: truncate failed\n");
    std::exit(1);
  }
}

// The same statements, one ExecSQL (one round trip) each, in one transaction.
double BareInsertLoop(const std::string& binPath) {
  TruncateTarget();
  db::TDbConnection connection;
  if (!db::ConnectKingbase(connection, "hy")) std::exit(1);
  db::TDbQuery query(&connection);
  query.ParamCheck = false;
  std::ifstream in(binPath, std::ios::binary);
  const auto t0 = Clock::now();
  connection.BeginTrans();
  for (std::string statement; std::getline(in, statement, '\0');) {
    query.SQL().assign(1, statement);
    query.ExecSQL();
  }
  connection.CommitTrans();
  return Seconds(Clock::now() - t0);
}

// The 15 queries fetched through bare ODBC: every column of every row as text, nothing kept.
double BareFetchLoop(long long& rows) {
  db::TDbConnection connection;
  if (!db::ConnectKingbase(connection, "bf")) std::exit(1);
  SQLHDBC dbc = static_cast<SQLHDBC>(connection.NativeHandle());
  std::vector<char> buffer(1 << 16);
  rows = 0;
  const auto t0 = Clock::now();
  for (const std::string& q : migration::BackupQueries()) {
    SQLHSTMT stmt = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(q.c_str())), SQL_NTS))) {
      std::fprintf(stderr, "bench: fetch query failed\n");
      std::exit(1);
    }
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    while (SQL_SUCCEEDED(SQLFetch(stmt))) {
      for (SQLUSMALLINT c = 1; c <= columns; ++c) {
        SQLLEN indicator = 0;
        SQLRETURN r;
        do {
          r = SQLGetData(stmt, c, SQL_C_CHAR, buffer.data(), static_cast<SQLLEN>(buffer.size()), &indicator);
        } while (r == SQL_SUCCESS_WITH_INFO);
      }
      ++rows;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }
  return Seconds(Clock::now() - t0);
}

std::string CopyCommands(const std::string& dir, bool in) {
  std::string text;
  for (const char* t : {"rptreportdata", "rptreport", "rptsetreportcover", "rptsingletmp", "rptsingletmpcondition",
                        "rptcombinefetch", "rptcombinefetchcondition", "rptaddresslist", "rpttemplateclassvalid",
                        "t_org_sumclass_new", "t_org_sumclass_org_new", "rptreportremark", "b01report", "rptduration",
                        "t_rpt_duration"}) {
    text += std::string("\\copy ") + t + (in ? " from '" : " to '") + dir + "/" + t + ".copy'\n";
  }
  return text;
}

long long SourceRows() {
  long long rows = 0;
  for (const std::string& q : migration::BackupQueries()) {
    rows += std::stoll(ShellOutput(Psql("bf") + "-At -c \"select count(*) from (" + q + ") q\""));
  }
  return rows;
}

void Row(const char* what, double seconds, long long rows, double reference = 0) {
  std::printf("  %-52s %9.2f s %12.0f rows/s", what, seconds, rows / seconds);
  if (reference > 0) std::printf("   %5.2f x", reference / seconds);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: migration_bench WORKDIR\n");
    return 2;
  }
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string dir = fs::absolute(argv[1]).string();
  fs::create_directories(dir);
  QApplication application(argc, argv);
  ui::QtEventPump events;

  platform::ScriptedDialogs dialogs;
  dialogs.messageAnswers.assign(8, platform::kIdYes);
  platform::ScopedDialogs scoped(&dialogs);
  PhaseMarks marks;
  marks.Install();

  const long long rows = SourceRows();
  std::printf("rows in the 15 queries: %lld\n", rows);
  std::fflush(stdout);

  ui::TFImportDate window;
  window.show();
  const std::string archivePath = dir + "/bench.dmp";
  fs::remove(archivePath);

  // Each phase and its reference run DM_BENCH_RUNS times (default 3), taking turns, and the best
  // time of each is kept: on a machine shared with other work that is the figure least disturbed.
  const char* runsText = std::getenv("DM_BENCH_RUNS");
  const int runs = std::max(1, runsText ? std::atoi(runsText) : 3);
  const auto best = [](double& kept, double seconds) { kept = kept < 0 ? seconds : std::min(kept, seconds); };

  // --- backup, beside the bare fetch loop ---
  window.rbBackup->setChecked(true);
  window.Form().SetArchivePath(archivePath);
  double backupTotal = -1, exportPhase = -1, packing = -1, bareFetch = -1;
  long backupPeak = 0;
  long long fetched = 0;
  for (int run = 0; run < runs; ++run) {
    fs::remove(archivePath);
    if (!db::ConnectKingbase(window.Form().conADOConParty(), "bf")) return 1;
    dialogs.shown.clear();
    dialogs.messageAnswers.assign(8, platform::kIdYes);
    ResetPeakMemory();
    const auto t0 = Clock::now();
    marks.at.clear();
    migration::BackupData(window.Form());
    const double total = Seconds(Clock::now() - t0);
    backupPeak = std::max(backupPeak, PeakMemoryKb());
    if (dialogs.shown.empty() || dialogs.shown.back().text != "数据备份完成！") {
      std::fprintf(stderr, "bench: the backup failed\n");
      return 1;
    }
    const double packed = marks.Between("Enter compress", "Leave compress");
    best(backupTotal, total);
    best(packing, packed);
    best(exportPhase, total - packed);
    window.Form().conADOConParty().SetConnected(false);
    best(bareFetch, BareFetchLoop(fetched));
  }
  const auto archiveSize = fs::file_size(archivePath);

  // --- restore, beside psql running the restore's own statements ---
  window.rbRestore->setChecked(true);
  window.Form().SetArchivePath(archivePath);
  if (!db::ConnectKingbase(window.Form().conADOConParty(), "hy")) return 1;
  const auto backslashes = window.Form().conADOConParty().StandardConformingStrings() ? migration::TBackslashes::Literal
                                                                               : migration::TBackslashes::Escape;
  std::printf("statements for the references ...\n");
  std::fflush(stdout);
  const long long statements = WriteStatements(archivePath, dir, backslashes);
  GapMeter gaps;
  // One whole restore through the main window; the seconds of the import phase.
  double restoreTotal = 0, longestGapMs = 0, unpacking = 0;
  long restorePeak = 0;
  const auto restore = [&] {
    ResetPeakMemory();
    marks.at.clear();
    dialogs.shown.clear();
    dialogs.messageAnswers.assign(1, platform::kIdYes);  // the warning before the tables are emptied
    gaps.Start();
    const auto start = Clock::now();
    migration::RestoreData(window.Form());
    restoreTotal = Seconds(Clock::now() - start);
    longestGapMs = gaps.Stop();
    restorePeak = PeakMemoryKb();
    unpacking = marks.Between("Enter UnCompress", "Leave UnCompress");
    if (dialogs.shown.empty() || dialogs.shown.back().text != "数据还原完成！") {
      std::fprintf(stderr, "bench: the restore failed: %s\n",
                   dialogs.shown.empty() ? "no message box" : dialogs.shown.back().text.c_str());
      std::exit(1);
    }
    return marks.Between("Leave ExecTruncateSQLText", "Enter ExecSQLText");
  };
  double importPhase = -1, wholeRestore = -1, unpackingPhase = -1, longestGap = 0, psqlJoined = -1;
  long restoreMemory = 0;
  for (int run = 0; run < runs; ++run) {
    best(importPhase, restore());
    best(wholeRestore, restoreTotal);
    best(unpackingPhase, unpacking);
    longestGap = std::max(longestGap, longestGapMs);
    restoreMemory = std::max(restoreMemory, restorePeak);
    TruncateTarget();
    best(psqlJoined, TimeShell(Psql("hy") + "-v ON_ERROR_STOP=1 -1 -f '" + dir + "/statements-joined.sql' >/dev/null"));
  }
  std::vector<std::pair<migration::TInsertBatchBound, double>> bounds;
  if (const char* list = std::getenv("DM_INSERT_BOUNDS")) {
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');) {
      const migration::TInsertBatchBound bound{std::stoi(item), std::stoul(item.substr(item.find(':') + 1))};
      migration::SetInsertBatchBound(bound);
      bounds.emplace_back(bound, restore());
    }
    migration::SetInsertBatchBound(migration::kInsertBatchBound);
  }
  platform::SetTraceSink({});
  window.Form().conADOConParty().SetConnected(false);

  // --- the other references: COPY always; one statement per round trip and psql of the single-row
  // statements (minutes for a million rows) only with DM_BENCH_ALL_REFERENCES=1 ---
  std::printf("references ...\n");
  std::fflush(stdout);
  const bool allReferences = std::getenv("DM_BENCH_ALL_REFERENCES") != nullptr;
  double bareInsert = -1, psqlFile = -1;
  if (allReferences) {
    bareInsert = BareInsertLoop(dir + "/statements.bin");
    TruncateTarget();
    psqlFile = TimeShell(Psql("hy") + "-v ON_ERROR_STOP=1 -1 -f '" + dir + "/statements.sql' >/dev/null");
  }
  std::ofstream(dir + "/copy-out.sql") << CopyCommands(dir, false);
  std::ofstream(dir + "/copy-in.sql") << CopyCommands(dir, true);
  TimeShell(Psql("hy") + "-v ON_ERROR_STOP=1 -f '" + dir + "/copy-out.sql' >/dev/null");
  TruncateTarget();
  const double copyIn = TimeShell(Psql("hy") + "-v ON_ERROR_STOP=1 -1 -f '" + dir + "/copy-in.sql' >/dev/null");
  std::string copyOut;
  for (const std::string& q : migration::BackupQueries()) copyOut += "\\copy (" + q + ") to '/dev/null'\n";
  std::ofstream(dir + "/copy-queries.sql") << copyOut;
  const double psqlCopyOut = TimeShell(Psql("bf") + "-v ON_ERROR_STOP=1 -f '" + dir + "/copy-queries.sql' >/dev/null");

  // --- report ---
  std::printf("\nBest of %d interleaved runs of each phase and of its reference (the machine is shared: the best run is the "
              "least disturbed)\n", runs);
  std::printf("\nBackup of %lld rows (archive %.1f MB)\n", rows, archiveSize / 1e6);
  Row("backup, whole procedure", backupTotal, rows);
  Row("  export phase (15 queries -> TableFiles)", exportPhase, rows);
  Row("  packing phase (compress, after the last query)", packing, rows);
  Row("bare ODBC fetch loop of the same queries", bareFetch, fetched);
  Row("psql \\copy (query) to /dev/null (limit)", psqlCopyOut, rows);

  std::printf("\nRestore of %lld rows (%lld INSERT statements)\n", rows, statements);
  Row("restore, whole procedure", wholeRestore, statements);
  Row("  unpacking phase (UnCompress)", unpackingPhase, statements);
  Row("  import phase (Restore of every TableFile)", importPhase, statements);
  if (allReferences) {
    Row("one INSERT per round trip, one transaction", bareInsert, statements);
    Row("psql -1 -f of the same statements", psqlFile, statements);
  }
  Row("psql -1 -f of the restore's multi-row statements", psqlJoined, statements);
  Row("COPY FROM", copyIn, statements);
  const migration::TInsertBatchBound inForce = migration::kInsertBatchBound;
  std::printf("  rows per multi-row statement: at most %d, sent from %zu bytes on\n", inForce.rows, inForce.bytes);
  // The factor beside each bound: the import phase of the bound in force over this one's.
  for (const auto& [bound, seconds] : bounds) {
    char what[96];
    std::snprintf(what, sizeof what, "  import phase with at most %d rows / %zu bytes", bound.rows, bound.bytes);
    Row(what, seconds, statements, importPhase);
  }

  std::printf("\nRatios against the limits of the same run:\n");
  const auto ratio = [](const char* what, double ours, double limit, double goal) {
    std::printf("  %-58s %5.2f x   goal <= %.2f x   %s\n", what, ours / limit, goal,
                ours / limit <= goal ? "reached" : "NOT reached");
  };
  ratio("import phase / psql -1 -f of the multi-row statements", importPhase, psqlJoined, 1.35);
  ratio("export phase / bare ODBC fetch loop", exportPhase, bareFetch, 1.15);
  ratio("whole backup / its export phase", backupTotal, exportPhase, 1.10);
  std::printf("  (pack 200 MB / Info-ZIP zip -P: printed by bench/archive/run.sh)\n");
  std::printf("\nPeak memory: backup %.1f MB, restore %.1f MB (goal < 200 MB)\n", backupPeak / 1024.0,
              restoreMemory / 1024.0);
  std::printf("Longest time without handling events during the restore: %.0f ms (goal <= 100 ms)\n",
              longestGap);
  return 0;
}
