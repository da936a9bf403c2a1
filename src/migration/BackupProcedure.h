#pragma once
// The backup: the 15 fixed queries saved as TableFiles in the WorkDirectory and packed into the
// BackupArchive named in edtFile.

#include <string>
#include <string_view>
#include <vector>

namespace migration {

class IMigrationHost;

// The queries of a backup, in table order.
const std::vector<std::string>& BackupQueries();

// The table name a query saves under: the text between the first "from" and the first "where"
// (or the end), without surrounding blanks. Both words are matched case-sensitively.
std::string TableNameFromQuery(std::string_view query);

// Runs the whole backup with the main window `host`. Every failure ends in a message box; no
// exception leaves it.
void BackupData(IMigrationHost& host);

// One step of the backup: runs `query` on qry1 and saves its result set as the TableFile of
// `tableName` in the WorkDirectory. Failures propagate.
void SaveSQL(IMigrationHost& host, const std::string& query, const std::string& tableName);

// The TableFile a table is saved as in the WorkDirectory: "<table>.xml", B01 as B01REPORT.xml.
std::string TableFileOf(IMigrationHost& host, const std::string& tableName);

}  // namespace migration
