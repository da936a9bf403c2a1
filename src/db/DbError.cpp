#include "db/DbError.h"

#include <utility>

namespace db {

EDatabaseError::EDatabaseError(const std::string& message, std::string sqlState, int nativeError)
    : std::runtime_error(message), sqlState_(std::move(sqlState)), nativeError_(nativeError) {}

}  // namespace db
