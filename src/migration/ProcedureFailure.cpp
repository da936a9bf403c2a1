#include "migration/ProcedureFailure.h"

#include "db/DbConnection.h"
#include "diag/SysLog.h"
#include "diag/Trace.h"
#include "migration/StatementSender.h"
#include "platform/Dialogs.h"

namespace migration {

void ReportProcedureFailure(const std::string& message, const char* boxText) noexcept {
  try {
    diag::WriteSysLog(1, message);
    diag::TraceLine("Exception Message:" + message);
    platform::Dialogs().MessageBox(boxText, "错误", platform::kMbIconError);
  } catch (...) {
  }
}

void RollbackQuietly(db::TDbConnection& connection) noexcept {
  try {
    if (connection.InTransaction()) RunHandlingEvents([&] { connection.RollbackTrans(); });
  } catch (...) {
  }
}

}  // namespace migration
