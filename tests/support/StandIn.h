#pragma once
// Helpers for tests that talk to the stand-in servers (scripts/dbenv.sh) through psqlODBC with
// the program's own profiles.

#include <gtest/gtest.h>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "db/ConnectionProfile.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "platform/TraceSink.h"

namespace standin {

// The checkout the tests belong to: DM_SOURCE_DIR from the test environment, else the directory
// the build was configured from.
inline std::string SourceDir() {
  const char* dir = std::getenv("DM_SOURCE_DIR");
  return dir && *dir ? dir : DM_TEST_SOURCE_DIR;
}

// The project-local driver registry of scripts/dbenv.sh, unless the environment names one. A
// Windows program finds its drivers in the system's ODBC registry instead; under Wine that is the
// host's unixODBC, which reads ODBCSYSINI from the test environment.
#ifndef _WIN32
inline const bool kDriverRegistrySet = [] {
  setenv("ODBCSYSINI", (SourceDir() + "/.dbenv/odbc").c_str(), 0);
  return true;
}();
#endif

// Names the tables of this test process, so that the Linux and the Windows suites (whose process
// ids come from different counters) never share one.
inline std::string ProcessTag() {
#ifdef _WIN32
  return "w" + std::to_string(::_getpid());
#else
  return std::to_string(::getpid());
#endif
}

// A connection opened with db::ConnectKingbase; raises when the stand-ins do not answer. Its trace
// lines are dropped.
inline std::unique_ptr<db::TDbConnection> Connect(const std::string& key) {
  auto connection = std::make_unique<db::TDbConnection>();
  platform::SetTraceSink([](std::string_view) {});
  const bool ok = db::ConnectKingbase(*connection, key);
  platform::SetTraceSink({});
  if (!ok) throw std::runtime_error("cannot connect with profile " + key + " (is scripts/dbenv.sh start running?)");
  return connection;
}

// The first column of the first row, "<NULL>" for NULL, "<none>" without rows.
inline std::string Scalar(db::TDbConnection& connection, const std::string& sql) {
  db::TDbQuery q(&connection);
  q.SQL().push_back(sql);
  q.Open();
  if (q.Eof()) return "<none>";
  return q.IsNull(0) ? "<NULL>" : q.AsString(0);
}

inline void Exec(db::TDbConnection& connection, const std::string& sql) {
  db::TDbQuery q(&connection);
  q.ParamCheck = false;
  q.SQL().push_back(sql);
  q.ExecSQL();
}

// A table of the test's own, with a name no other test uses, dropped at the end.
class ScratchTable {
 public:
  ScratchTable(const std::string& key, const std::string& stem, const std::string& columns) : key_(key) {
    static std::atomic<int> counter{0};
    name_ = "dmtest_" + stem + "_" + ProcessTag() + "_" + std::to_string(counter++);
    auto c = Connect(key_);
    Exec(*c, "DROP TABLE IF EXISTS " + name_);
    Exec(*c, "CREATE TABLE " + name_ + " (" + columns + ")");
  }
  ~ScratchTable() {
    try {
      auto c = Connect(key_);
      Exec(*c, "DROP TABLE IF EXISTS " + name_);
    } catch (...) {
    }
  }
  ScratchTable(const ScratchTable&) = delete;
  ScratchTable& operator=(const ScratchTable&) = delete;
  const std::string& name() const { return name_; }

 private:
  std::string key_;
  std::string name_;
};

}  // namespace standin
