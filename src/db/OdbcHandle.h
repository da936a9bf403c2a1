#pragma once
// Move-only owner of one ODBC handle (environment, connection or statement), and the single
// checked-call helper through which every ODBC return code is judged. The ODBC headers stay in
// the .cpp files; handles travel as the plain pointers they are.

#include <string_view>

namespace db {

class OdbcHandle {
 public:
  // Handle types, with the values of SQL_HANDLE_ENV / DBC / STMT.
  enum Kind : short { kEnv = 1, kDbc = 2, kStmt = 3 };

  OdbcHandle() noexcept = default;
  // Allocates a handle of `kind` below `parent` (null for the environment). Raises EDatabaseError.
  OdbcHandle(Kind kind, void* parent);
  ~OdbcHandle();

  OdbcHandle(OdbcHandle&& other) noexcept;
  OdbcHandle& operator=(OdbcHandle&& other) noexcept;
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;

  void* get() const noexcept { return handle_; }
  Kind kind() const noexcept { return kind_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }
  // Frees the handle now; never raises.
  void reset() noexcept;
  // Forgets the handle without freeing it: for a statement that its connection's disconnect has
  // freed already.
  void release() noexcept { handle_ = nullptr; }

 private:
  Kind kind_ = kEnv;
  void* handle_ = nullptr;
};

// Judges an ODBC return code: success and success-with-info pass (returns the code), SQL_NO_DATA
// passes when `noDataOk`, everything else raises EDatabaseError with the SQLSTATE, native code
// and diagnostic text of the handle's first record (`what` names the call when the driver gave
// no record).
short OdbcCheck(short rc, OdbcHandle::Kind kind, void* handle, std::string_view what, bool noDataOk = false);

}  // namespace db
