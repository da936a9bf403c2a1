#pragma once
// The one exception the database layer raises: the driver's diagnostic text with its SQLSTATE and
// native error code.

#include <stdexcept>
#include <string>

namespace db {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message, std::string sqlState = {}, int nativeError = 0);

  // Five-character SQLSTATE of the first diagnostic record; empty for errors raised by this layer
  // itself (misuse, not a driver diagnostic).
  const std::string& sqlState() const noexcept { return sqlState_; }
  int nativeError() const noexcept { return nativeError_; }

 private:
  std::string sqlState_;
  int nativeError_;
};

}  // namespace db
