#pragma once
// How the backup and the restore end after the exception that stopped them.

#include <string>

namespace db {
class TDbConnection;
}  // namespace db

namespace migration {

// Writes `message` to the error log and the trace line "Exception Message:" + message, then shows
// `boxText` in the error box (caption "错误", style 16). Called inside the procedure's catch, it
// never raises, so the clean-up after it always runs.
void ReportProcedureFailure(const std::string& message, const char* boxText) noexcept;

// Rolls back the connection's open transaction, if any. The exception that ended the work is the
// one that counts: a rollback that fails too (a lost connection, whose server drops the
// transaction anyway) must not replace it.
void RollbackQuietly(db::TDbConnection& connection) noexcept;

}  // namespace migration
