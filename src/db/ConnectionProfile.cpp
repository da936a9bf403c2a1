#include "db/ConnectionProfile.h"

#include <exception>

#include "diag/SysLog.h"
#include "diag/Trace.h"
#include "db/DbConnection.h"

namespace db {

namespace {

constexpr char kProvider[] = "MSDASQL.1";
constexpr char kServer[] = "127.0.0.1";

}  // namespace

std::optional<ConnectionProfile> ProfileFor(const std::string& key) {
  if (key == "bf") {
    return ConnectionProfile{kProvider, "{KingbaseES ODBC driver}", "ZOR", "SYSTEM", "PLOVERX", kServer, "59021"};
  }
  if (key == "hy") {
    return ConnectionProfile{kProvider, "{KingbaseES 6 ODBC driver}", "STAT", "QIMZORTJ",
                             "7F3A1C9E5B2D4086A1E3C5F7092B4D6E", kServer, "54321"};
  }
  return std::nullopt;
}

std::string BuildConnectionString(const std::string& key) {
  ConnectionProfile p;
  p.provider = kProvider;
  p.server = kServer;
  if (auto known = ProfileFor(key)) p = *known;
  // The values go in as they are, unquoted: the profiles hold no ';', '{' or '}' beyond the
  // braces of the driver name.
  return "Provider=" + p.provider + ";DRIVER=" + p.driver + ";Extended Properties=''" + ";PWD=" + p.password +
         ";Persist Security Info=True" + ";UID=" + p.user + ";MaxVarcharSize=8000" + ";DATABASE=" + p.database +
         ";SERVER=" + p.server + ";PORT=" + p.port + ";";
}

bool ConnectKingbase(TDbConnection& connection, const std::string& key) {
  diag::TraceEnter("ConnectKingbase");
  bool result = false;
  try {
    connection.SetConnected(false);
    connection.SetConnectionString(BuildConnectionString(key));
    connection.SetConnected(true);
    result = true;
  } catch (const std::exception& e) {
    const std::string message = e.what();
    diag::WriteSysLog(1, message);
    diag::TraceLine("Exception Message: " + message);
    result = false;
  } catch (...) {
    const std::string message = "Unknown error while connecting";
    diag::WriteSysLog(1, message);
    diag::TraceLine("Exception Message: " + message);
    result = false;
  }
  diag::TraceLeave("ConnectKingbase");
  return result;
}

}  // namespace db
