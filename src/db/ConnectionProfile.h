#pragma once
// The two fixed database connection profiles and ConnectKingbase, which (re)connects the program's
// connection with one of them.

#include <optional>
#include <string>

namespace db {

class TDbConnection;

struct ConnectionProfile {
  std::string provider, driver, database, user, password, server, port;
};

// "bf" (backup source) and "hy" (restore target), compared exactly; nullopt for other keys.
std::optional<ConnectionProfile> ProfileFor(const std::string& key);

// The 18-piece connection string for the key. For an unknown key provider and server keep their
// fixed values and the other five values are empty.
std::string BuildConnectionString(const std::string& key);

// Closes the connection and opens it with the key's profile. Traced; a failure is logged at
// level 1, traced as "Exception Message: <message>" and returned as false. Never raises.
bool ConnectKingbase(TDbConnection& connection, const std::string& key);

}  // namespace db
