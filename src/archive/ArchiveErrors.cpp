#include "archive/ArchiveErrors.h"

#include <cstring>

namespace archive {

EFOpenError MakeOpenError(const std::string& path, int err) {
  return EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(err));
}

EListError MakeIndexError(long long index) {
  return EListError("Index " + std::to_string(index) + " is out of range");
}

}  // namespace archive
