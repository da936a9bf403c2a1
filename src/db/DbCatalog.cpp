#include "db/DbCatalog.h"

#include <string>
#include <vector>

#include "db/DbConnection.h"
#include "db/OdbcApi.h"
#include "db/OdbcHandle.h"
#include "db/OdbcText.h"

namespace db {
namespace {

std::string FoldAscii(std::string_view text, bool upper) {
  std::string folded(text);
  for (char& c : folded) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// The catalog, schema and table parts of a name, each empty when not given.
struct TTableName {
  std::u16string catalog, schema, table;
};

TTableName SplitName(std::string_view name, bool upper) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    const size_t dot = name.find('.', start);
    parts.push_back(FoldAscii(name.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start), upper));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  TTableName split;
  split.table = Utf8ToUtf16(parts.back());
  if (parts.size() >= 2) split.schema = Utf8ToUtf16(parts[parts.size() - 2]);
  if (parts.size() >= 3) split.catalog = Utf8ToUtf16(parts[parts.size() - 3]);
  return split;
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
  for (const bool upper : {false, true}) {
    if (upper && FoldAscii(table, true) == FoldAscii(table, false)) break;
    for (const bool referenced : {true, false}) {
      if (AnyForeignKey(dbc, SplitName(table, upper), referenced)) return true;
    }
  }
  return false;
}

}  // namespace db
