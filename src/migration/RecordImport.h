#pragma once
// The record import: one TableFile of the WorkDirectory inserted into the table named like the
// file, every saved row as one generated INSERT statement, all in one transaction per file.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "migration/MigrationText.h"

namespace db {
class TDbQuery;
struct DbColumn;
}  // namespace db

namespace migration {

class IMigrationHost;

// Raised for a table or column name that is not a plain identifier: such a name never reaches a
// generated statement.
class EUnsafeName : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The table name of a TableFile: the file name without its extension.
std::string TableNameFromFile(std::string_view fileName);

// The table name of the TableFile `fileName`, refused (EUnsafeName) unless it is a plain
// identifier.
std::string CheckedTableName(const std::string& fileName);

// The column name used in the INSERT for column `column` of table `table` (two renames).
std::string TargetColumnName(std::string_view table, std::string_view column);

// The names the INSERT statements of `table` give the TableFile's `columns`, in the file's order:
// renamed, and empty for a column that is left out (binary large objects). A name that is not a
// plain identifier is refused (EUnsafeName) before any statement is built from it.
std::vector<std::string> InsertColumnNames(const std::string& fileName, const std::string& table,
                                           const std::vector<db::DbColumn>& columns);

// The value text of column `i` of the current row of `query`, quoted for a target that reads
// backslashes as `backslashes` says; `included` is set false for a column that is left out of
// the statement (binary large objects).
std::string ValueText(db::TDbQuery& query, int i, bool& included, TBackslashes backslashes);

// Appends the value text of column `i` of the current row of `query` to `out`, as ValueText
// gives it; nothing for a column that is left out.
void AppendValueText(db::TDbQuery& query, int i, std::string& out, TBackslashes backslashes);

// How the rows of a file reach the database. A multi-row INSERT does what one INSERT per row does
// only for a table without foreign keys and triggers: a key that is not deferred is checked at the
// end of each statement (a child listed before its parent fails alone and passes in one statement
// with it), and statement-level triggers fire once per statement. The restore's look at the
// target decides.
enum class TInsertForm { MultiRow, RowByRow };

// Imports the TableFile `fileName` (a name without path) from the WorkDirectory beside the
// archive in edtFile. On a connection without an open transaction the file is imported in a
// transaction of its own, rolled back when the import fails; inside the restore's transaction it
// adds to that one, and the restore rolls back. Raises on any failure.
//
// Every row's own statement is built and traced; with TInsertForm::MultiRow consecutive rows of
// the file reach the database together, as one multi-row statement "insert into T (cols) values
// (...),(...)" with the same column list: inside an INSERT the server fits every row's values to
// the target columns one row at a time, so a value means the same in the list as alone. A failure
// reads as with one statement per row: the failing row's statement is the last traced, the
// detail line names it and its own error is raised. The table name is checked (EUnsafeName) only
// for a file that holds rows; one without rows sends nothing.
void Restore(IMigrationHost& host, const std::string& fileName, TInsertForm form = TInsertForm::MultiRow);

// The size of one multi-row statement: at most `rows` rows, and sent earlier once its text
// reaches `bytes`.
struct TInsertBatchBound {
  int rows;
  size_t bytes;
};

// Chosen from the migration benchmark: a hundred rows per statement imports faster than thirty and
// faster than a thousand or more (longer statements cost more per row, not less), and keeps each
// command small; the byte bound only matters for rows with long texts.
constexpr TInsertBatchBound kInsertBatchBound{100, 256 * 1024};

// Sets the bound later imports use, kInsertBatchBound until set otherwise (the benchmark compares
// bounds; a bound of one row sends every statement alone).
void SetInsertBatchBound(TInsertBatchBound bound);

}  // namespace migration
