// SeededRandom: the stand-ins' random numbers, fixed by their seed on every platform, for invented
// pages and data sets that repeat byte for byte.
#pragma once

#include <cstdint>

namespace brevis {

// splitmix64: small, fast and the same on every platform, unlike the standard library's
// distributions, whose outputs differ between implementations.
class SeededRandom {
 public:
  explicit SeededRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // A value in [lo, hi] (lo <= hi). The modulo's bias, below one in 2^32 for ranges of up to
  // 2^31, does not matter for invented data.
  int Between(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  bool Chance(int percent) { return Between(0, 99) < percent; }

 private:
  uint64_t state_;
};

}  // namespace brevis
