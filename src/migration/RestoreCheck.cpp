#include "migration/RestoreCheck.h"

#include <algorithm>
#include <exception>

#include "db/DbCatalog.h"
#include "db/DbColumn.h"
#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/DbQuery.h"
#include "db/TableFileReader.h"
#include "diag/Trace.h"
#include "migration/MigrationHost.h"
#include "migration/MigrationText.h"
#include "migration/RecordImport.h"
#include "migration/StatementSender.h"
#include "platform/EventPump.h"

namespace migration {
namespace {

// B01REPORT is dropped and created anew by the truncation, so a TableFile meets the columns of
// that CREATE TABLE, whatever the table holds before the restore.
const std::vector<std::string>& RecreatedB01ReportColumns() {
  static const std::vector<std::string> columns = {"DURATIONID", "B0140", "B0141", "B0142",
                                                   "B0143",      "B0111", "B0101"};
  return columns;
}

// The target table's column names, read from a query that returns no row; the table name is
// resolved the way the INSERT statements will resolve it.
std::vector<std::string> TargetColumns(IMigrationHost& host, const std::string& fileName,
                                       const std::string& table) {
  if (SameTextAscii(table, "B01REPORT")) return RecreatedB01ReportColumns();
  db::TDbQuery& qry3 = host.qry3();
  qry3.SetConnection(&host.conADOConParty());
  qry3.Close();
  qry3.SQL().assign(1, "select * from " + table + " where 1=0");
  diag::TraceLine(qry3.SQL().front());
  try {
    RunHandlingEvents([&] { qry3.Open(); });
  } catch (const db::EDatabaseError& e) {
    throw EMissingInTarget("The target table " + table + " for the TableFile " + fileName +
                           " cannot be read: " + e.what());
  }
  std::vector<std::string> columns;
  for (int i = 0; i < qry3.FieldCount(); ++i) columns.push_back(qry3.FieldName(i));
  qry3.Close();
  return columns;
}

// Whether the target table takes part in a foreign key or carries triggers: its rows then go in
// one per statement (TInsertForm). A question the server cannot answer counts as yes. B01REPORT
// has neither once the truncation has created it anew.
bool NeedsOneRowPerStatement(IMigrationHost& host, const std::string& table) {
  if (SameTextAscii(table, "B01REPORT")) return false;
  db::TDbConnection& connection = host.conADOConParty();
  try {
    bool keyed = false;
    RunHandlingEvents([&] { keyed = db::TakesPartInForeignKey(connection, table); });
    if (keyed) return true;
  } catch (const db::EDatabaseError&) {
    return true;
  }
  // The PostgreSQL family (KingbaseES included) lists a table's triggers in pg_trigger; the
  // internal ones are those of foreign keys, asked about above.
  db::TDbQuery& qry3 = host.qry3();
  qry3.SetConnection(&connection);
  qry3.Close();
  qry3.SQL().assign(1, "select count(*) from pg_trigger where tgrelid = " + QuotedText(table) +
                           "::regclass and not tgisinternal");
  diag::TraceLine(qry3.SQL().front());
  try {
    RunHandlingEvents([&] { qry3.Open(); });
    const bool triggers = qry3.IsEmpty() || qry3.AsString(0) != "0";
    qry3.Close();
    return triggers;
  } catch (const db::EDatabaseError&) {
    qry3.Close();
    return true;
  }
}

// Unquoted names meet the target's names without regard to the case of ASCII letters.
bool HasColumn(const std::vector<std::string>& columns, const std::string& name) {
  return std::any_of(columns.begin(), columns.end(),
                     [&](const std::string& column) { return SameTextAscii(column, name); });
}

}  // namespace

bool IsImportedName(const std::string& trimmedName) { return ExtensionOf(trimmedName) == ".xml"; }

std::set<std::string> CheckTableFiles(IMigrationHost& host, const std::string& workDirectory,
                                      const std::vector<std::string>& names) {
  diag::TraceEnter("CheckTableFiles");
  std::set<std::string> rowByRow;
  for (const std::string& listed : names) {
    const std::string name = TrimText(listed);
    if (!IsImportedName(name)) continue;
    const std::string path = workDirectory + "/" + name;
    const std::vector<db::DbColumn> fileColumns = db::ReadTableFileSchema(path);
    // A file without rows sends no statement, so neither its table nor its column names reach
    // the target. Whether it has rows takes reading it whole: that is asked only of a file that
    // does not fit.
    bool oneRowPerStatement = false;
    try {
      const std::string table = CheckedTableName(name);
      const std::vector<std::string> targetColumns = TargetColumns(host, name, table);
      for (const std::string& column : InsertColumnNames(name, table, fileColumns)) {
        if (!column.empty() && !HasColumn(targetColumns, column)) {
          throw EMissingInTarget("The target has no column " + column + " in the table " + table +
                                 " for the TableFile " + name);
        }
      }
      oneRowPerStatement = NeedsOneRowPerStatement(host, table);
    } catch (const std::exception&) {
      if (db::TableFileReader(path).RowCount() != 0) throw;
    }
    if (oneRowPerStatement) rowByRow.insert(name);
    platform::PumpEvents();
  }
  diag::TraceLeave("CheckTableFiles");
  return rowByRow;
}

}  // namespace migration
