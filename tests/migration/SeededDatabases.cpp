// The database tests of the procedures share one executable, so that nothing else changes the
// stand-in servers while they run: the servers are started and freshly seeded once, before the
// first test.
#include <gtest/gtest.h>

#include "MigrationTestHost.h"

namespace {

class SeededDatabases : public ::testing::Environment {
 public:
  void SetUp() override {
    migrationtest::DbEnv("start");
    migrationtest::DbEnv("seed");
  }
};

const auto* const kSeeded = ::testing::AddGlobalTestEnvironment(new SeededDatabases);

}  // namespace
