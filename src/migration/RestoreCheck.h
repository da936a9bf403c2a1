#pragma once
// The restore's look before it empties anything: the schema of every TableFile that it is about
// to import must load, name plain identifiers only and fit the target's tables, so that the common
// mismatch (an archive of another V3.1 generation, a target without a column) fails in a second and
// names the table and the column, instead of failing after a long import. The rows themselves are
// read only by the import. dmptool's check runs the same look, file by file, and reports it.

#include <cstdint>
#include <exception>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/DbColumn.h"

namespace db {
class TDbConnection;
class TDbQuery;
class DbRowSource;
}  // namespace db

namespace migration {

class IMigrationHost;

// Raised for a table or column that a TableFile inserts into and the target does not have.
class EMissingInTarget : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the look before the truncation finds for one TableFile.
struct TTableFileFit {
  std::string name;                       // the file name, trimmed
  std::string table;                      // the table it fills (empty when the name is not plain)
  bool schemaLoaded = false;              // false: the file's schema does not load
  std::vector<db::DbColumn> columns;      // the file's columns, as its schema describes them
  std::vector<std::string> insertColumns; // the names the INSERTs give them ("" = left out)
  std::vector<std::string> missingColumns;  // insert columns the target table lacks
  // The first misfit (ETableFileError, EUnsafeName or EMissingInTarget), null when the file fits.
  // A schema that does not load stops the restore; any other misfit only when the file holds
  // rows, since a file without rows sends no statement.
  std::exception_ptr misfit;
  std::string misfitText;
  // Why the rows go in one per statement (TInsertForm::RowByRow); empty when they go in
  // several to a statement.
  std::string rowByRowReason;
};

// Looks at the TableFile `name` (as listed, untrimmed) of `workDirectory` against the target that
// `connection` reaches, asking through `lookup` (a query of that connection). Never raises for a
// misfit: it is kept in the result. Touches no row of the target.
TTableFileFit CheckTableFile(db::TDbConnection& connection, db::TDbQuery& lookup,
                             const std::string& workDirectory, const std::string& name);

// Checks the files of `names` (as listed in the WorkDirectory `workDirectory`) that the restore
// imports. Raises on the first misfit of a file that holds rows (a schema that does not load
// raises whatever the file holds). Returns the names (trimmed) of the files whose rows must go in
// one per statement (TInsertForm::RowByRow): those whose target table takes part in a foreign key
// or carries triggers, or of which the server cannot tell. Touches no row of the target.
std::set<std::string> CheckTableFiles(IMigrationHost& host, const std::string& workDirectory,
                                      const std::vector<std::string>& names);

// True for the names the restore imports: ".xml" exactly, after trimming.
bool IsImportedName(const std::string& trimmedName);

// The tables the truncation empties, as its statements name them (B01Report among them).
std::vector<std::string> TruncatedTables();

// The columns B01REPORT has once the truncation has created it anew.
const std::vector<std::string>& RecreatedB01ReportColumns();

// Whether the target has the table `table`: a query of it that returns no row succeeds. The
// error text goes to `why` when it does not.
bool TargetHasTable(db::TDbQuery& lookup, const std::string& table, std::string* why = nullptr);

// The number of rows of the target table `table` today. Raises EDatabaseError.
std::int64_t TargetRowCount(db::TDbQuery& lookup, const std::string& table);

// The rows a restore leaves in the table `table` (a name of TruncatedTables(), any letter case)
// when its TableFile is `rows` (null when the archive holds none): the file's rows, less the
// B01REPORT rows whose B0140 the fix-up deletes (NULL, empty or XXX), plus the one row the fix-up
// adds to RPTDURATION and to T_RPT_DURATION. Reads `rows` from its start.
std::int64_t RowsAfterRestore(const std::string& table, db::DbRowSource* rows);

}  // namespace migration
