#include "db/OdbcHandle.h"

#include <string>

#include "db/DbError.h"
#include "db/OdbcApi.h"
#include "db/OdbcText.h"

namespace db {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the wide ODBC functions must use UTF-16");
static_assert(OdbcHandle::kEnv == SQL_HANDLE_ENV && OdbcHandle::kDbc == SQL_HANDLE_DBC &&
              OdbcHandle::kStmt == SQL_HANDLE_STMT);

OdbcHandle::OdbcHandle(Kind kind, void* parent) : kind_(kind) {
  SQLHANDLE made = SQL_NULL_HANDLE;
  SQLRETURN rc = SQLAllocHandle(kind, parent ? static_cast<SQLHANDLE>(parent) : SQL_NULL_HANDLE, &made);
  if (!SQL_SUCCEEDED(rc)) {
    if (parent) {
      OdbcCheck(rc, kind == kEnv ? kEnv : static_cast<Kind>(kind - 1), parent, "SQLAllocHandle");
    }
    throw EDatabaseError("SQLAllocHandle failed: no ODBC handle could be allocated");
  }
  handle_ = made;
}

OdbcHandle::~OdbcHandle() { reset(); }

OdbcHandle::OdbcHandle(OdbcHandle&& other) noexcept : kind_(other.kind_), handle_(other.handle_) {
  other.handle_ = nullptr;
}

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& other) noexcept {
  if (this != &other) {
    reset();
    kind_ = other.kind_;
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

void OdbcHandle::reset() noexcept {
  if (handle_) {
    SQLFreeHandle(kind_, handle_);
    handle_ = nullptr;
  }
}

namespace {

// The first diagnostic record's text (with the SQLSTATE and native code); further records are
// appended, since psqlODBC puts the server's message in the first and context in later ones.
EDatabaseError Diagnose(short rc, OdbcHandle::Kind kind, void* handle, std::string_view what) {
  std::string text, firstState;
  int firstNative = 0;
  if (handle) {
    for (SQLSMALLINT rec = 1; rec <= 8; ++rec) {
      SQLWCHAR state[6] = {};
      SQLINTEGER native = 0;
      SQLWCHAR message[1024];
      SQLSMALLINT length = 0;
      SQLRETURN drc = SQLGetDiagRecW(kind, handle, rec, state, &native, message,
                                     static_cast<SQLSMALLINT>(sizeof message / sizeof message[0]), &length);
      if (!SQL_SUCCEEDED(drc)) break;
      std::size_t units = 0;
      if (length > 0) units = std::min<std::size_t>(static_cast<std::size_t>(length), sizeof message / sizeof message[0] - 1);
      std::string msg;
      AppendUtf16AsUtf8(reinterpret_cast<const char16_t*>(message), units, msg);
      while (!msg.empty() && (msg.back() == '\n' || msg.back() == '\r' || msg.back() == ' ')) msg.pop_back();
      if (rec == 1) {
        AppendUtf16AsUtf8(reinterpret_cast<const char16_t*>(state), 5, firstState);
        firstNative = native;
      }
      if (!text.empty()) text += "; ";
      text += msg;
    }
  }
  if (text.empty()) {
    text = std::string(what) + " failed (ODBC return code " + std::to_string(rc) + ")";
  }
  return EDatabaseError(text, firstState, firstNative);
}

}  // namespace

short OdbcCheck(short rc, OdbcHandle::Kind kind, void* handle, std::string_view what, bool noDataOk) {
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) return rc;
  if (rc == SQL_NO_DATA && noDataOk) return rc;
  if (rc == SQL_INVALID_HANDLE) throw EDatabaseError(std::string(what) + " failed: invalid ODBC handle");
  throw Diagnose(rc, kind, handle, what);
}

}  // namespace db
