#pragma once
// The restore's look before it empties anything: the schema of every TableFile that it is about
// to import must load, name plain identifiers only and fit the target's tables, so that the common
// mismatch (an archive of another V3.1 generation, a target without a column) fails in a second and
// names the table and the column, instead of failing after a long import. The rows themselves are
// read only by the import.

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace migration {

class IMigrationHost;

// Raised for a table or column that a TableFile inserts into and the target does not have.
class EMissingInTarget : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Checks the files of `names` (as listed in the WorkDirectory `workDirectory`) that the restore
// imports. Raises on the first misfit: ETableFileError for a schema that does not load; and, for a
// file that holds rows, EUnsafeName for a table or column name that is not plain and
// EMissingInTarget for a table or column the target lacks (a file without rows sends no
// statement, as the import does not either). Returns the names (trimmed) of the files whose rows
// must go in one per statement (TInsertForm::RowByRow): those whose target table takes part in a
// foreign key or carries triggers, or of which the server cannot tell. Touches no row of the
// target.
std::set<std::string> CheckTableFiles(IMigrationHost& host, const std::string& workDirectory,
                                      const std::vector<std::string>& names);

// True for the names the restore imports: ".xml" exactly, after trimming.
bool IsImportedName(const std::string& trimmedName);

}  // namespace migration
