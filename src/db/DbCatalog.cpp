#include "db/DbCatalog.h"

#include <algorithm>
#include <string>
#include <vector>

#include "db/DbConnection.h"
#include "db/OdbcApi.h"
#include "db/OdbcHandle.h"
#include "db/OdbcText.h"

namespace db {
namespace {

// How an unquoted name part may be stored: as the PostgreSQL family folds it (ASCII letters to
// lower case), as the standard folds it (upper case), or as written.
std::vector<std::string> Spellings(std::string_view part) {
  std::string lower(part), upper(part);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  std::vector<std::string> spellings = {lower};
  for (const std::string& other : {upper, std::string(part)}) {
    if (std::find(spellings.begin(), spellings.end(), other) == spellings.end()) spellings.push_back(other);
  }
  return spellings;
}

// The catalog, schema and table parts of a name, each empty when not given.
struct TTableName {
  std::u16string catalog, schema, table;
};

// Every way the name `name` may be stored, one spelling per part.
std::vector<TTableName> StoredNames(std::string_view name) {
  std::vector<std::vector<std::string>> parts;
  for (size_t start = 0;;) {
    const size_t dot = name.find('.', start);
    parts.push_back(Spellings(name.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start)));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  // Catalog, schema and table: a statement never names more.
  if (parts.size() > 3) parts.erase(parts.begin(), parts.end() - 3);
  std::vector<std::vector<std::string>> combined = {{}};
  for (const auto& spellings : parts) {
    std::vector<std::vector<std::string>> longer;
    for (const auto& prefix : combined) {
      for (const std::string& spelling : spellings) {
        longer.push_back(prefix);
        longer.back().push_back(spelling);
      }
    }
    combined = std::move(longer);
  }
  std::vector<TTableName> names;
  for (const auto& split : combined) {
    TTableName stored;
    stored.table = Utf8ToUtf16(split.back());
    if (split.size() >= 2) stored.schema = Utf8ToUtf16(split[split.size() - 2]);
    if (split.size() >= 3) stored.catalog = Utf8ToUtf16(split[split.size() - 3]);
    names.push_back(std::move(stored));
  }
  return names;
}

// A part not given is left open (a null argument), not matched against an empty name.
SQLWCHAR* Arg(std::u16string& part) { return part.empty() ? nullptr : reinterpret_cast<SQLWCHAR*>(part.data()); }
SQLSMALLINT ArgLength(const std::u16string& part) { return part.empty() ? 0 : SQL_NTS; }

// Whether SQLForeignKeys returns a row with `name` as the referenced (`referenced`) or the
// referencing table.
bool AnyForeignKey(SQLHDBC dbc, TTableName name, bool referenced) {
  OdbcHandle stmt(OdbcHandle::kStmt, dbc);
  SQLRETURN rc;
  if (referenced) {
    rc = SQLForeignKeysW(stmt.get(), Arg(name.catalog), ArgLength(name.catalog), Arg(name.schema),
                         ArgLength(name.schema), Arg(name.table), SQL_NTS, nullptr, 0, nullptr, 0, nullptr, 0);
  } else {
    rc = SQLForeignKeysW(stmt.get(), nullptr, 0, nullptr, 0, nullptr, 0, Arg(name.catalog), ArgLength(name.catalog),
                         Arg(name.schema), ArgLength(name.schema), Arg(name.table), SQL_NTS);
  }
  OdbcCheck(rc, OdbcHandle::kStmt, stmt.get(), "SQLForeignKeys");
  return OdbcCheck(SQLFetch(stmt.get()), OdbcHandle::kStmt, stmt.get(), "SQLFetch", true) != SQL_NO_DATA;
}

}  // namespace

bool TakesPartInForeignKey(TDbConnection& connection, std::string_view table) {
  auto* dbc = static_cast<SQLHDBC>(connection.NativeHandle());
  for (const TTableName& name : StoredNames(table)) {
    for (const bool referenced : {true, false}) {
      if (AnyForeignKey(dbc, name, referenced)) return true;
    }
  }
  return false;
}

}  // namespace db
