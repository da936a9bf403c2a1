// The database tests of the procedures share one executable, so that nothing else changes the
// stand-in servers while they run: the servers are started and freshly seeded once, before the
// first test. Under Wine scripts/test-windows.sh has done both before the suites.
#include <gtest/gtest.h>

#include <cstdlib>

#include "MigrationTestHost.h"

namespace {

class SeededDatabases : public ::testing::Environment {
 public:
  void SetUp() override {
#ifndef _WIN32
    // Comparing a target that the Windows program restored: the databases stay as they are.
    if (std::getenv("DM_COMPARE_TARGET") != nullptr) return;
    migrationtest::DbEnv("start");
    migrationtest::DbEnv("seed");
#endif
  }
};

const auto* const kSeeded = ::testing::AddGlobalTestEnvironment(new SeededDatabases);

}  // namespace
