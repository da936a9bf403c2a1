#pragma once
// How the backup and the restore report the exception that ended them.

#include <string>

namespace migration {

// Writes `message` to the error log and the trace line "Exception Message:" + message, then shows
// `boxText` in the error box (caption "错误", style 16). Called inside the procedure's catch, it
// never raises, so the clean-up after it always runs.
void ReportProcedureFailure(const std::string& message, const char* boxText) noexcept;

}  // namespace migration
