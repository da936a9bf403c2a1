#pragma once
// Questions to the driver's catalog about the target's tables, asked through the ODBC catalog
// functions, which every driver answers the same way whatever the server.

#include <string_view>

namespace db {

class TDbConnection;

// Whether the table named `table` takes part in a foreign key, as the referencing or as the
// referenced table (SQLForeignKeys). `table` is an unquoted name as a statement writes it,
// optionally qualified by its schema (and catalog); each part is looked up as the PostgreSQL
// family folds such names (ASCII letters to lower case), as the standard folds them (to upper
// case) and as written. A name without a schema is looked up in every schema, so a table of the
// same name elsewhere counts too: a yes too many only costs time. Raises EDatabaseError when the
// catalog cannot be asked.
bool TakesPartInForeignKey(TDbConnection& connection, std::string_view table);

}  // namespace db
