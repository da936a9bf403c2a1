#pragma once
// The pseudo-random source of the ten leading bytes of an entry's encryption header. A linear
// congruential generator, reseeded for every entry from the high-resolution clock; tests replace
// the seed source so that the bytes of an archive become reproducible.

#include <cstdint>
#include <functional>

namespace archive {

class EncryptionHeaderRandom {
 public:
  void Seed(std::uint32_t seed) { state_ = seed; }

  // A draw below n: advance the state, then scale it into 0 .. n-1.
  std::uint32_t Below(std::uint32_t n) {
    state_ = state_ * 0x08088405u + 1u;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(state_) * n) >> 32);
  }

  // One header byte: a draw below 32767 reduced to 0..255.
  std::uint8_t NextHeaderByte() { return static_cast<std::uint8_t>(Below(32767) >> 7); }

 private:
  std::uint32_t state_ = 0;
};

using SeedSource = std::function<std::uint32_t()>;

// The seed for the next entry: the low 32 bits of the steady clock's tick count, unless a test
// installed another source.
std::uint32_t NextHeaderSeed();

// Installs a seed source; an empty function restores the clock.
void SetHeaderSeedSource(SeedSource source);

}  // namespace archive
