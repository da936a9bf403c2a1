#pragma once
// A headless main window for the backup and restore tests: the real connection, query objects,
// archive writer and reader, with a progress window that records what the procedures show in it.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/ArchiveWriter.h"
#include "db/ConnectionProfile.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "migration/FileList.h"
#include "migration/MigrationHost.h"
#include "migration/ProgressView.h"
#include "diag/SysLog.h"
#include "diag/Trace.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

// A Windows test program under Wine reaches the stand-ins only through ODBC: the host's psql
// (through scripts/dbenv.sh), zip, unzip and mkfifo cannot be started from inside Wine, and
// scripts/test-windows.sh starts and seeds the servers before the suites run.
#ifdef _WIN32
#define DM_NEEDS_HOST_TOOLS(what) GTEST_SKIP() << "Linux-only: " what
#else
#define DM_NEEDS_HOST_TOOLS(what) (void)0
#endif

namespace migrationtest {

struct DetailSetup {
  std::string caption;
  int maximum = 0, position = 0, step = 0;
};

class RecordingProgressView : public migration::IProgressView {
 public:
  void SetInfoText(const std::string& text) override { infoTexts.push_back(text); }
  void SetDetailVisible(bool visible) override { detailVisible = visible; }
  void SetWindowHeight(int h) override { height = h; }
  void ShowWindow() override { shown = true; }
  void CloseWindow() override { closed = true; }
  void SetGaugeMinimum(int v) override { gaugeMin = v; }
  void SetGaugeMaximum(int v) override { gaugeMax = v; }
  void SetGaugeProgress(int v) override { gaugeProgress = v; }
  void SetDetailProgress(const std::string& caption, int maximum, int position,
                         int step) override {
    detailSetups.push_back({caption, maximum, position, step});
    detailText = caption;
    detailPosition = position;
  }
  void UpdateDetailProgress(int position, const std::string& text) override {
    if (!text.empty()) detailText = text;
    detailPosition = position;
    ++detailUpdates;
    if (onDetailUpdate) onDetailUpdate(position, text);
  }

  // Called at every row of the import, to act in the middle of it.
  std::function<void(int position, const std::string& text)> onDetailUpdate;

  std::vector<std::string> infoTexts;
  bool detailVisible = true;
  int height = 174;
  bool shown = false, closed = false;
  int gaugeMin = 0, gaugeMax = 100, gaugeProgress = 0;
  std::vector<DetailSetup> detailSetups;
  std::string detailText;
  int detailPosition = 0;
  int detailUpdates = 0;
};

class MigrationTestHost : public migration::IMigrationHost {
 public:
  MigrationTestHost() {
    // Every test reads the trace from depth 0, whatever an earlier failure left behind.
    diag::SetTraceDepth(0);
    for (auto* q : {&qry1_, &qry2_, &qry3_, &qryExecute_}) q->SetConnection(&connection_);
  }
  ~MigrationTestHost() override {
    for (auto* q : {&qry1_, &qry2_, &qry3_, &qryExecute_}) q->Close();
    connection_.SetConnected(false);
  }

  // Opens conADOConParty with profile "bf" or "hy"; false when it cannot.
  bool Connect(const std::string& key) { return db::ConnectKingbase(connection_, key); }

  std::string ArchivePathText() override { return archivePath; }
  void FocusArchivePath() override { ++focusCount; }

  migration::IProgressView& CreateProgressWindow() override {
    if (progress_) throw std::logic_error("a second progress window");
    progress_ = std::make_unique<RecordingProgressView>();
    progress_->onDetailUpdate = onDetailUpdate;
    ++windowsCreated;
    return *progress_;
  }
  migration::IProgressView* ProgressWindow() override { return progress_.get(); }
  void DestroyProgressWindow() override {
    if (progress_ && !progress_->closed) throw std::logic_error("destroyed while on screen");
    lastWindow = std::move(progress_);
  }

  void SetProgressBase(int value) override { progressBase = value; }
  void SetProgressCount(int value) override { progressCount = value; }
  void StepProgress() override {
    ++progressCount;
    ++steps;
    if (progress_) progress_->SetGaugeProgress(progressBase + progressCount);
    platform::PumpEvents();
  }
  void SetCurrentItem(const std::string& item) override { currentItems.push_back(item); }

  db::TDbConnection& conADOConParty() override { return connection_; }
  db::TDbQuery& qry1() override { return qry1_; }
  db::TDbQuery& qry2() override { return qry2_; }
  db::TDbQuery& qry3() override { return qry3_; }
  db::TDbQuery& qryExecute() override { return qryExecute_; }

  archive::ArchiveWriter& ArchiveWriter() override { return writer_; }
  archive::ArchiveReader& ArchiveReader() override { return reader_; }

  std::vector<std::string> ListFiles(const std::string& directory) override {
    return migration::ListPlainFiles(directory);
  }

  std::string WorkDirectory() override { return workDirectory; }
  void SetWorkDirectory(const std::string& path) override { workDirectory = path; }

  std::string archivePath;
  std::string workDirectory;
  std::function<void(int position, const std::string& text)> onDetailUpdate;  // for every new window
  int focusCount = 0;
  int windowsCreated = 0;
  int progressBase = -1, progressCount = -1, steps = 0;
  std::vector<std::string> currentItems;
  std::unique_ptr<RecordingProgressView> lastWindow;

 private:
  db::TDbConnection connection_;
  db::TDbQuery qry1_, qry2_, qry3_, qryExecute_;
  archive::ArchiveWriter writer_;
  archive::ArchiveReader reader_;
  std::unique_ptr<RecordingProgressView> progress_;
};

inline std::string SourceDir() {
  const char* dir = std::getenv("DM_SOURCE_DIR");
  return dir ? dir : ".";
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a shell command and returns its standard output; throws when it exits non-zero.
inline std::string RunCommand(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  if (status != 0) {
    throw std::runtime_error("command failed (" + std::to_string(status) + "): " + command + "\n" + out);
  }
  return out;
}

// Runs SQL through psql on the stand-in server of profile "bf" or "hy", unaligned, tuples only,
// NULL shown as <NULL>; returns the output.
inline std::string Psql(const std::string& profile, const std::string& sql) {
  testsupport::TempDir dir;
  const std::string file = dir / "q.sql";
  {
    std::ofstream out(file, std::ios::binary);
    out << sql;
  }
  return RunCommand(SourceDir() + "/scripts/dbenv.sh psql " + profile +
                    " -q -At -v ON_ERROR_STOP=1 -P null='<NULL>' -f '" + file + "' 2>&1");
}

// One fingerprint of every target table's rows.
inline std::string TargetFingerprint() {
  static const char* tables[] = {"rptreportdata", "rptreport", "rptsetreportcover", "rptsingletmp",
                                 "rptsingletmpcondition", "rptcombinefetch", "rptcombinefetchcondition",
                                 "rptaddresslist", "rpttemplateclassvalid", "t_org_sumclass_new",
                                 "t_org_sumclass_org_new", "rptreportremark", "b01report", "rptduration",
                                 "t_rpt_duration"};
  std::string sql;
  for (const char* t : tables) {
    if (!sql.empty()) sql += " union all ";
    sql += std::string("select '") + t + "', count(*), md5(coalesce(string_agg(x::text, '|' order by x::text), '')) from " + t + " x";
  }
  return Psql("hy", sql + ";");
}

// Runs scripts/dbenv.sh. Its output goes through a file, not a pipe: a server it starts must not
// hold the pipe open.
inline std::string DbEnv(const std::string& args) {
  testsupport::TempDir dir;
  const std::string out = dir / "out.txt";
  try {
    RunCommand(SourceDir() + "/scripts/dbenv.sh " + args + " >'" + out + "' 2>&1 </dev/null");
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string(e.what()) + "\n" + ReadWholeFile(out));
  }
  return ReadWholeFile(out);
}

// Entries in the level-1 (error) log files beside the test executable (their names hold Chinese, so
// they are listed and read by their UTF-8 names).
inline int CountErrorLogEntries() {
  const std::string dir = platform::ExecutableDirectory() + "Log";
  const std::string suffix = std::string("_") + diag::LevelName(1) + ".log";
  int count = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(platform::PathFromUtf8(dir), ec)) {
    const std::string name = platform::PathToUtf8(entry.path().filename());
    if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    std::istringstream lines(ReadWholeFile(platform::PathToUtf8(entry.path())));
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("时间=", 0) == 0) ++count;
  }
  return count;
}

// Waits until the error log holds `expected` entries (the writer is a background thread), then
// a little longer to see that no further entry follows; returns the final count.
inline int WaitForErrorLogEntries(int expected) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (CountErrorLogEntries() < expected && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  return CountErrorLogEntries();
}

}  // namespace migrationtest
