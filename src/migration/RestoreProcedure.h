#pragma once
// The restore: the BackupArchive named in edtFile unpacked into the WorkDirectory beside it, the
// target tables emptied, every TableFile imported and the fix-up statements run.

#include <string>
#include <vector>

namespace migration {

class IMigrationHost;

// The lines of the command that empties the target tables and re-creates B01REPORT.
const std::vector<std::string>& TruncateSQLLines();

// Runs the whole restore with the main window `host`. Every failure ends in a message box (or in
// none, for a missing archive or the answer No); no exception leaves it, and none leaves a target
// table changed: the TableFiles are checked against the target before anything is emptied, and
// everything from the truncation through the fix-up is one transaction.
void RestoreData(IMigrationHost& host);

// Empties the 15 target tables and re-creates B01REPORT, as one command on qry1. Failures
// propagate.
void ExecTruncateSQLText(IMigrationHost& host);

// The fix-up statements run after the imports. Failures propagate.
void ExecSQLText(IMigrationHost& host);

}  // namespace migration
