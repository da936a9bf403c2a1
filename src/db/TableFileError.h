#pragma once
// Raised when a TableFile cannot be written or read: missing or unreadable file, malformed,
// truncated or foreign XML, a value that the format cannot hold.

#include <stdexcept>
#include <string>

namespace db {

class ETableFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace db
