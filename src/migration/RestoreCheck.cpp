#include "migration/RestoreCheck.h"

#include <algorithm>
#include <exception>

#include "db/DbCatalog.h"
#include "db/DbConnection.h"
#include "db/DbError.h"
#include "db/DbQuery.h"
#include "db/DbRowSource.h"
#include "db/TableFileReader.h"
#include "diag/Trace.h"
#include "migration/MigrationHost.h"
#include "migration/MigrationText.h"
#include "migration/RecordImport.h"
#include "migration/RestoreProcedure.h"
#include "migration/StatementSender.h"
#include "platform/EventPump.h"

namespace migration {
namespace {

// Opens `sql` on `lookup` while events are handled, tracing it.
void OpenLookup(db::TDbQuery& lookup, const std::string& sql) {
  lookup.Close();
  lookup.SQL().assign(1, sql);
  diag::TraceLine(sql);
  RunHandlingEvents([&] { lookup.Open(); });
}

// The target table's column names, read from a query that returns no row; the table name is
// resolved the way the INSERT statements will resolve it.
std::vector<std::string> TargetColumns(db::TDbQuery& lookup, const std::string& fileName,
                                       const std::string& table) {
  if (SameTextAscii(table, "B01REPORT")) return RecreatedB01ReportColumns();
  std::string why;
  if (!TargetHasTable(lookup, table, &why)) {
    throw EMissingInTarget("The target table " + table + " for the TableFile " + fileName +
                           " cannot be read: " + why);
  }
  std::vector<std::string> columns;
  for (int i = 0; i < lookup.FieldCount(); ++i) columns.push_back(lookup.FieldName(i));
  lookup.Close();
  return columns;
}

// Why the target table's rows go in one per statement: it takes part in a foreign key or carries
// triggers. A question the server cannot answer counts as yes. B01REPORT has neither once the
// truncation has created it anew. Empty when several rows may share a statement.
std::string OneRowPerStatementReason(db::TDbConnection& connection, db::TDbQuery& lookup,
                                     const std::string& table) {
  if (SameTextAscii(table, "B01REPORT")) return {};
  try {
    bool keyed = false;
    RunHandlingEvents([&] { keyed = db::TakesPartInForeignKey(connection, table); });
    if (keyed) return "the table takes part in a foreign key";
  } catch (const db::EDatabaseError& e) {
    return std::string("the server cannot tell whether the table takes part in a foreign key: ") + e.what();
  }
  // The PostgreSQL family (KingbaseES included) lists a table's triggers in pg_trigger; the
  // internal ones are those of foreign keys, asked about above.
  try {
    OpenLookup(lookup, "select count(*) from pg_trigger where tgrelid = " + QuotedText(table) +
                           "::regclass and not tgisinternal");
    const std::string count = lookup.IsEmpty() ? std::string() : lookup.AsString(0);
    lookup.Close();
    if (count == "0") return {};
    return count.empty() ? "the server does not tell whether the table carries triggers"
                         : "the table carries " + count + " trigger" + (count == "1" ? "" : "s");
  } catch (const db::EDatabaseError& e) {
    lookup.Close();
    return std::string("the server cannot tell whether the table carries triggers: ") + e.what();
  }
}

// Unquoted names meet the target's names without regard to the case of ASCII letters.
bool HasColumn(const std::vector<std::string>& columns, const std::string& name) {
  return std::any_of(columns.begin(), columns.end(),
                     [&](const std::string& column) { return SameTextAscii(column, name); });
}

}  // namespace

const std::vector<std::string>& RecreatedB01ReportColumns() {
  static const std::vector<std::string> columns = {"DURATIONID", "B0140", "B0141", "B0142",
                                                   "B0143",      "B0111", "B0101"};
  return columns;
}

bool IsImportedName(const std::string& trimmedName) { return ExtensionOf(trimmedName) == ".xml"; }

std::vector<std::string> TruncatedTables() {
  static const std::string kHead = "truncate table  ";
  std::vector<std::string> tables;
  for (const std::string& line : TruncateSQLLines()) {
    if (line.rfind(kHead, 0) != 0) continue;
    std::string table = line.substr(kHead.size());
    if (!table.empty() && table.back() == ';') table.pop_back();
    tables.push_back(table);
  }
  return tables;
}

bool TargetHasTable(db::TDbQuery& lookup, const std::string& table, std::string* why) {
  try {
    OpenLookup(lookup, "select * from " + table + " where 1=0");
    return true;
  } catch (const db::EDatabaseError& e) {
    lookup.Close();
    if (why != nullptr) *why = e.what();
    return false;
  }
}

std::int64_t TargetRowCount(db::TDbQuery& lookup, const std::string& table) {
  OpenLookup(lookup, "select count(*) from " + table);
  const std::int64_t count = lookup.IsEmpty() ? 0 : std::stoll(lookup.AsString(0));
  lookup.Close();
  return count;
}

std::int64_t RowsAfterRestore(const std::string& table, db::DbRowSource* rows) {
  // The fix-up adds a report period and a duration.
  const std::int64_t added =
      SameTextAscii(table, "RPTDURATION") || SameTextAscii(table, "T_RPT_DURATION") ? 1 : 0;
  if (rows == nullptr) return added;
  int b0140 = -1;
  if (SameTextAscii(table, "B01REPORT")) {
    const std::vector<db::DbColumn>& columns = rows->Columns();
    for (size_t i = 0; i < columns.size(); ++i) {
      if (SameTextAscii(TargetColumnName(table, columns[i].name), "B0140")) b0140 = static_cast<int>(i);
    }
  }
  if (b0140 < 0 && rows->RowCount() >= 0) return rows->RowCount() + added;
  std::int64_t count = 0;
  rows->Restart();
  db::DbRow row;
  while (rows->Fetch(row)) {
    // A NULL text goes in as '', which the fix-up deletes as it deletes an empty one.
    const bool deleted = b0140 >= 0 && (row.nulls[b0140] != 0 || row.values[b0140].empty() ||
                                        row.values[b0140] == "XXX");
    if (!deleted) ++count;
  }
  return count + added;
}

TTableFileFit CheckTableFile(db::TDbConnection& connection, db::TDbQuery& lookup,
                             const std::string& workDirectory, const std::string& name) {
  TTableFileFit fit;
  fit.name = TrimText(name);
  lookup.SetConnection(&connection);
  try {
    fit.columns = db::ReadTableFileSchema(workDirectory + "/" + fit.name);
    fit.schemaLoaded = true;
    fit.table = CheckedTableName(fit.name);
    const std::vector<std::string> targetColumns = TargetColumns(lookup, fit.name, fit.table);
    fit.insertColumns = InsertColumnNames(fit.name, fit.table, fit.columns);
    for (const std::string& column : fit.insertColumns) {
      if (!column.empty() && !HasColumn(targetColumns, column)) fit.missingColumns.push_back(column);
    }
    if (!fit.missingColumns.empty()) {
      throw EMissingInTarget("The target has no column " + fit.missingColumns.front() + " in the table " +
                             fit.table + " for the TableFile " + fit.name);
    }
    fit.rowByRowReason = OneRowPerStatementReason(connection, lookup, fit.table);
  } catch (const std::exception& e) {
    fit.misfit = std::current_exception();
    fit.misfitText = e.what();
  }
  return fit;
}

std::set<std::string> CheckTableFiles(IMigrationHost& host, const std::string& workDirectory,
                                      const std::vector<std::string>& names) {
  diag::TraceEnter("CheckTableFiles");
  std::set<std::string> rowByRow;
  for (const std::string& listed : names) {
    const std::string name = TrimText(listed);
    if (!IsImportedName(name)) continue;
    const TTableFileFit fit = CheckTableFile(host.conADOConParty(), host.qry3(), workDirectory, name);
    if (fit.misfit) {
      // A schema that does not load fails the import whatever the file holds. Otherwise a file
      // without rows sends no statement, so neither its table nor its column names reach the
      // target; whether it has rows takes reading it whole, which is asked only of a file that
      // does not fit.
      if (!fit.schemaLoaded || db::TableFileReader(workDirectory + "/" + name).RowCount() != 0)
        std::rethrow_exception(fit.misfit);
    } else if (!fit.rowByRowReason.empty()) {
      rowByRow.insert(name);
    }
    platform::PumpEvents();
  }
  diag::TraceLeave("CheckTableFiles");
  return rowByRow;
}

}  // namespace migration
