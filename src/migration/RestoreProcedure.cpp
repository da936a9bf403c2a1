#include "migration/RestoreProcedure.h"

#include <exception>
#include <filesystem>
#include <set>
#include <system_error>

#include "archive/ArchiveSettings.h"
#include "diag/Trace.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "migration/MigrationHost.h"
#include "migration/MigrationText.h"
#include "migration/ProcedureFailure.h"
#include "migration/ProgressView.h"
#include "migration/RecordImport.h"
#include "migration/RestoreCheck.h"
#include "migration/StatementSender.h"
#include "platform/Dialogs.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"

namespace migration {
namespace {

constexpr const char* kRestoreFailedText = "数据还原失败！请确认数据库连接状态！";

constexpr const char* kWorkFolderName = "qimzorstatistics";

// Binds the query to the connection, closes it and gives it `lines` as its SQL.
void PrepareQuery(IMigrationHost& host, db::TDbQuery& query, const std::vector<std::string>& lines) {
  query.SetConnection(&host.conADOConParty());
  query.Close();
  query.SQL().clear();
  for (const std::string& line : lines) query.SQL().push_back(line);
}

// The command text as the trace shows it: every line followed by CR LF.
void TraceCommand(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text.append(line).append("\r\n");
  diag::TraceLine(text);
}

void ExecTraced(IMigrationHost& host, db::TDbQuery& query, const std::vector<std::string>& lines) {
  PrepareQuery(host, query, lines);
  TraceCommand(lines);
  RunHandlingEvents([&] { query.ExecSQL(); });
}

// Opens the look-up and returns the text of the first column of the first row; nullopt-like
// `found` = false when it returns no row.
std::string OpenTraced(IMigrationHost& host, db::TDbQuery& query, const std::string& sql,
                       bool& found) {
  PrepareQuery(host, query, {sql});
  TraceCommand({sql});
  RunHandlingEvents([&] { query.Open(); });
  found = !query.IsEmpty();
  if (!found) return {};
  query.First();
  return query.AsString(0);
}

// Only a regular file (or a link to one) counts as an archive: a named pipe or a device would
// block the unpacking or feed it endless data, so it is treated like a missing file.
bool ArchiveFileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(platform::PathFromUtf8(path), ec);
}

bool DirectoryExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(platform::PathFromUtf8(path), ec);
}

}  // namespace

const std::vector<std::string>& TruncateSQLLines() {
  static const std::vector<std::string> lines = {
      "truncate table  rptreportdata;",
      "truncate table  rptreport;",
      "truncate table  rptsetreportcover;",
      "truncate table  rptsingletmp;",
      "truncate table  rptsingletmpcondition;",
      "truncate table  rptcombinefetch;",
      "truncate table  rptcombinefetchcondition;",
      "truncate table  rptaddresslist;",
      "truncate table  RPTTEMPLATECLASSVALID;",
      "truncate table  T_ORG_SUMCLASS_NEW;",
      "truncate table  T_ORG_SUMCLASS_ORG_NEW;",
      "truncate table  RPTREPORTREMARK;",
      "truncate table  B01Report;",
      "truncate table  RPTDURATION;",
      "truncate table  T_RPT_DURATION;",
      "Drop Table B01Report;",
      "CREATE TABLE \"DBO\".\"B01REPORT\"(  \"DURATIONID\" VARCHAR (10) NOT NULL ,  \"B0140\" "
      "VARCHAR (100) NOT NULL ,  \"B0141\" VARCHAR (100),  \"B0142\" INTEGER,  \"B0143\" VARCHAR "
      "(10),  \"B0111\" VARCHAR (100),  \"B0101\" VARCHAR (200),  PRIMARY KEY "
      "(\"DURATIONID\",\"B0140\") USING INDEX TABLESPACE \"SYSTEM\") WITHOUT OIDS TABLESPACE "
      "\"SYSTEM\";",
  };
  return lines;
}

void ExecTruncateSQLText(IMigrationHost& host) {
  diag::TraceEnter("ExecTruncateSQLText");
  db::TDbQuery& qry1 = host.qry1();
  PrepareQuery(host, qry1, TruncateSQLLines());
  RunHandlingEvents([&] { qry1.ExecSQL(); });
  diag::TraceLeave("ExecTruncateSQLText");
}

void ExecSQLText(IMigrationHost& host) {
  diag::TraceEnter("ExecSQLText");

  ExecTraced(host, host.qry1(),
             {"INSERT INTO rptduration  (rptname,  rpttype,  rptduartionid) VALUES "
              "('2013年统计报表',   '[13]', '');",
              "INSERT INTO t_rpt_duration  (orgid, durname,  label,  begintime, endtime,  "
              "connection,  id) VALUES ('',  '2013年统计',  '2013年统计',  '20130101', "
              "'20131231', '当前数据库',  (SELECT MAX(id)+ 1   FROM  t_rpt_duration));"});

  bool found = false;
  const std::string maxId =
      OpenTraced(host, host.qry3(), "SELECT MAX(id)   FROM  t_rpt_duration", found);

  OpenTraced(host, host.qry3(),
             "SELECT b0140 FROM   b01report WHERE  b0141 IS NULL  OR b0141 = '' order by "
             "durationid desc limit 1;",
             found);
  // Without a highest id there is no duration row to give the b0140 to; an UPDATE ending in
  // "where id=" would only fail the whole restore. Whatever else the look-up returned is not
  // spliced into a statement unless it is a whole number.
  if (found && IsIntegerLiteral(maxId)) {
    ExecTraced(host, host.qry2(),
               {"UPDATE t_rpt_duration SET    orgid = (SELECT b0140  FROM   b01report   WHERE  "
                "b0141 IS NULL  OR b0141 = '' order by durationid desc limit 1) where id=" +
                maxId});
  }

  ExecTraced(host, host.qry2(),
             {"update RptDuration set rptduartionid = rptduartionid||'['||(select max(id) from "
              "T_RPT_DURATION)||']' where rptname ='2013年统计报表'"});
  ExecTraced(host, host.qry2(),
             {"DELETE FROM b01report WHERE (b0140 IS NULL)  OR b0140 = '' OR b0140 = 'XXX'"});

  diag::TraceLeave("ExecSQLText");
}

void RestoreData(IMigrationHost& host) {
  diag::TraceEnter("RestoreData");
  const std::string archivePath = host.ArchivePathText();
  if (archivePath.empty()) {
    platform::Dialogs().MessageBox("请选择保存备份数据的文件！", "提示", platform::kMbOk);
    host.FocusArchivePath();
    diag::TraceLeave("RestoreData");
    return;
  }
  if (!ArchiveFileExists(archivePath)) {
    diag::TraceLeave("RestoreData");
    return;
  }
  if (platform::Dialogs().MessageBox(
          "还原操作将会清空NorvaleV4.0的相关数据并且不可恢复，请确认是否继续还原？", "警告",
          platform::kMbYesNoWarning) == platform::kIdNo) {
    diag::TraceLeave("RestoreData");
    return;
  }

  const std::string archiveFolder = FolderPart(archivePath);
  const std::string workDirectory = archiveFolder + kWorkFolderName;

  db::TDbConnection& connection = host.conADOConParty();
  IProgressView& progress = host.CreateProgressWindow();
  try {
    progress.SetDetailVisible(true);
    progress.SetWindowHeight(200);
    progress.SetInfoText("正在还原数据，请稍候...");
    progress.ShowWindow();
    platform::PumpEvents();
    progress.SetGaugeMinimum(0);
    host.SetProgressBase(0);
    host.SetProgressCount(0);

    if (archive::UnCompress(host.ArchiveReader(), archivePath, archiveFolder) == -99) {
      // Nothing of an archive that did not unpack completely is imported, and no table is
      // emptied for it.
      platform::Dialogs().MessageBox("文件解压不成功，请重启软件再进行还原！", "提示",
                                     platform::kMbOk);
    } else {
      const std::vector<std::string> names = host.ListFiles(workDirectory);
      progress.SetGaugeMaximum(static_cast<int>(names.size()));
      const std::set<std::string> rowByRow = CheckTableFiles(host, workDirectory, names);

      // One transaction from the truncation through the fix-up: a restore that fails at any
      // point leaves every target table as it was (the PostgreSQL family, KingbaseES included,
      // runs TRUNCATE, DROP and CREATE TABLE inside a transaction). Each file's import joins it.
      // The driver undoes only a failing statement and keeps the transaction open, so the first
      // error ends the restore and the whole transaction is rolled back; nothing runs after it but
      // the import's search for the failing row of a multi-row command.
      // Every command that may keep the database busy for long (the truncation of large tables,
      // the fix-up, the commit) runs while the windows keep handling events.
      connection.BeginTrans();
      ExecTruncateSQLText(host);
      for (const std::string& listed : names) {
        const std::string name = TrimText(listed);
        host.SetCurrentItem(name);
        if (IsImportedName(name)) {
          Restore(host, name, rowByRow.count(name) != 0 ? TInsertForm::RowByRow : TInsertForm::MultiRow);
          host.StepProgress();
        }
        platform::PumpEvents();
      }
      ExecSQLText(host);
      RunHandlingEvents([&] { connection.CommitTrans(); });
      platform::PumpEvents();
      platform::Dialogs().MessageBox("数据还原完成！", "提示", platform::kMbIconInformation);
    }
  } catch (const std::exception& e) {
    RollbackQuietly(connection);
    ReportProcedureFailure(e.what(), kRestoreFailedText);
  } catch (...) {
    RollbackQuietly(connection);
    ReportProcedureFailure("unknown exception", kRestoreFailedText);
  }

  // The queries are closed first: qry1 still holds the last TableFile open, and a file held open
  // cannot be deleted everywhere (the decrypted TableFiles would stay on disk). No statement
  // stays open into the next connection test either, which closes the connection.
  for (db::TDbQuery* query : {&host.qry1(), &host.qry2(), &host.qry3(), &host.qryExecute()}) query->Close();
  if (DirectoryExists(workDirectory)) diag::SHMyDelDirectory(workDirectory);
  progress.CloseWindow();
  host.DestroyProgressWindow();
  diag::TraceLeave("RestoreData");
}

}  // namespace migration
