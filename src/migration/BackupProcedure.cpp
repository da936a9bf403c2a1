#include "migration/BackupProcedure.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "archive/ArchiveSettings.h"
#include "archive/ArchiveWriter.h"
#include "diag/Trace.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "migration/MigrationHost.h"
#include "migration/MigrationText.h"
#include "migration/ProcedureFailure.h"
#include "migration/ProgressView.h"
#include "platform/Dialogs.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"

namespace migration {
namespace {

constexpr const char* kBackupFailedText = "数据备份不成功，请确认数据库连接状态！";

constexpr const char* kWorkFolderName = "qimzorstatistics";

// Writes the Leave line on every way out of a step, also when an exception passes.
class TraceScope {
 public:
  explicit TraceScope(const char* name) : name_(name) { diag::TraceEnter(name_); }
  ~TraceScope() { diag::TraceLeave(name_); }
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

 private:
  const char* name_;
};

}  // namespace

const std::vector<std::string>& BackupQueries() {
  static const std::vector<std::string> queries = {
      "select *  from  rptreportdata",
      "select *  from  rptreport",
      "select *  from  rptsetreportcover",
      "select *  from  rptsingletmp",
      "select *  from  rptsingletmpcondition",
      "select *  from  rptcombinefetch",
      "select *  from  rptcombinefetchcondition",
      "select *  from  rptaddresslist",
      "select *  from  RPTTEMPLATECLASSVALID",
      "select *  from  T_ORG_SUMCLASS_NEW",
      "select *  from  T_ORG_SUMCLASS_ORG_NEW",
      "select *  from  RPTREPORTREMARK",
      "SELECT b0191,  b0140,  b0141,  b0142,  b0101 from  b01 where  b0140 <> 'XXX' AND "
      "(b0140 IS NOT NULL)  AND b0140 <> ''",
      "select *  from  RPTDURATION",
      "select *  from  T_RPT_DURATION",
  };
  return queries;
}

std::string TableNameFromQuery(std::string_view query) {
  const size_t from = query.find("from");
  if (from == std::string_view::npos) return {};
  const size_t start = from + 4;
  const size_t where = query.find("where");
  if (where == std::string_view::npos) return TrimText(query.substr(start));
  if (where < start) return {};
  return TrimText(query.substr(start, where - start));
}

std::string TableFileOf(IMigrationHost& host, const std::string& tableName) {
  return host.WorkDirectory() + "/" + (SameTextAscii(tableName, "B01") ? std::string("B01REPORT") : tableName) + ".xml";
}

void SaveSQL(IMigrationHost& host, const std::string& query, const std::string& tableName) {
  TraceScope scope("SaveSQL");
  db::TDbQuery& qry1 = host.qry1();
  qry1.SetConnection(&host.conADOConParty());
  qry1.Close();
  qry1.SQL().clear();
  qry1.SQL().push_back(query);
  diag::TraceLine(query);
  // The query and the save run beside the window, which keeps handling events.
  platform::RunHandlingEvents([&] { qry1.Open(); });
  const std::string tableFile = TableFileOf(host, tableName);
  platform::RunHandlingEvents([&] { qry1.SaveToFile(tableFile, 0); });
  diag::TraceLine(tableFile);
}

void BackupData(IMigrationHost& host) {
  diag::TraceEnter("BackupData");
  if (host.ArchivePathText().empty()) {
    platform::Dialogs().MessageBox("请选择保存数据备份的路径！", "提示", platform::kMbOk);
    host.FocusArchivePath();
    diag::TraceLeave("BackupData");
    return;
  }

  // Where the archive goes, and the deflated TableFiles wait when they outgrow memory.
  const std::string archiveFolder = FolderPart(host.ArchivePathText());
  host.SetWorkDirectory(archiveFolder + kWorkFolderName);
  {
    // A directory that cannot be created shows up at the first save.
    std::error_code ignored;
    std::filesystem::create_directories(platform::PathFromUtf8(host.WorkDirectory()), ignored);
  }

  std::vector<std::string> queryList;
  IProgressView& progress = host.CreateProgressWindow();
  try {
    queryList = BackupQueries();

    progress.SetDetailVisible(false);
    progress.SetWindowHeight(120);
    progress.SetInfoText("正在备份数据，请稍候...");
    progress.ShowWindow();
    platform::PumpEvents();
    progress.SetGaugeMinimum(0);
    host.SetProgressBase(0);
    host.SetProgressCount(0);
    progress.SetGaugeMaximum(static_cast<int>(queryList.size()));

    for (const std::string& entry : queryList) {
      progress.SetInfoText("正在备份数据表，请稍候.");
      const std::string item = TrimText(entry);
      host.SetCurrentItem(item);
      if (!item.empty()) {
        const std::string tableName = TableNameFromQuery(item);
        diag::TraceLine(tableName);
        // The TableFile is deflated while it is written and while the later ones are, so that
        // compress finds most of its work done. A file left by an earlier run must not be taken
        // for the new one: it goes first (one that cannot go fails the save).
        const std::string tableFile = TableFileOf(host, tableName);
        {
          std::error_code ignored;
          std::filesystem::remove(platform::PathFromUtf8(tableFile), ignored);
        }
        host.ArchiveWriter().PrepareFile(tableFile, archiveFolder);
        try {
          SaveSQL(host, item, tableName);
        } catch (...) {
          host.ArchiveWriter().PreparedFileComplete(tableFile, false);
          throw;
        }
        host.ArchiveWriter().PreparedFileComplete(tableFile, true);
        host.StepProgress();
        progress.SetInfoText("正在备份数据表，请稍候..");
      }
      progress.SetInfoText("正在备份数据表，请稍候...");
      platform::PumpEvents();
    }

    archive::compress(host.ArchiveWriter(), host.ArchivePathText(), host.WorkDirectory());
    platform::PumpEvents();
    platform::Dialogs().MessageBox("数据备份完成！", "提示", platform::kMbIconInformation);
  } catch (const std::exception& e) {
    ReportProcedureFailure(e.what(), kBackupFailedText);
  } catch (...) {
    ReportProcedureFailure("unknown exception", kBackupFailedText);
  }

  // A failed backup leaves nothing of what was deflated ahead (compress dropped it otherwise);
  // the files are let go before their folder goes.
  host.ArchiveWriter().DiscardPrepared();
  diag::SHMyDelDirectory(host.WorkDirectory());
  // The result set is not needed any more, and an open statement must not outlive the next
  // connection test, which closes the connection.
  host.qry1().Close();
  queryList.clear();
  progress.CloseWindow();
  host.DestroyProgressWindow();
  diag::TraceLeave("BackupData");
}

}  // namespace migration
