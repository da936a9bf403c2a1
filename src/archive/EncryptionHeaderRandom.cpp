#include "archive/EncryptionHeaderRandom.h"

#include <chrono>
#include <utility>

namespace archive {
namespace {

SeedSource& InstalledSource() {
  static SeedSource source;
  return source;
}

}  // namespace

std::uint32_t NextHeaderSeed() {
  if (const SeedSource& source = InstalledSource()) return source();
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ticks));
}

void SetHeaderSeedSource(SeedSource source) { InstalledSource() = std::move(source); }

}  // namespace archive
