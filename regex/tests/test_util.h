// Helpers shared by the pattern engine's tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/text.h"
#include "regex/pattern.h"

namespace brevis::test {

inline std::string U8(std::u16string_view s) { return Utf16ToUtf8(s); }

// The code of the PatternError that f raises; 0 when it raises none.
inline int ErrorCodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const PatternError& e) {
    return e.ErrorCode();
  }
  return 0;
}
// Seeded pseudo-random numbers for generated cases: xorshift64*, the same on every platform,
// unlike the standard distributions. The seed must not be 0.
class TestRandom {
 public:
  explicit TestRandom(uint64_t seed) : state_(seed) {}
  // A number in [0, n).
  uint32_t Next(uint32_t n) {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<uint32_t>((state_ * 2685821657736338717ull) >> 33) % n;
  }
  // True in `percent` cases out of 100.
  bool Chance(uint32_t percent) { return Next(100) < percent; }

 private:
  uint64_t state_;
};

// Opcode names and operands of a compiled pattern, positions and links left out:
// "BRANCH BOL EXACTLY(ab) END".
inline std::string Ops(Pattern& p) {
  const std::string dump = U8(p.Dump());
  std::string out;
  size_t pos = 0;
  while (pos < dump.size()) {
    size_t eol = dump.find('\n', pos);
    if (eol == std::string::npos) eol = dump.size();
    const std::string line = dump.substr(pos, eol - pos);
    pos = eol + 1;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;  // the start-up facts line
    const size_t paren = line.find(" (");
    const size_t close = line.find(')', paren);
    if (!out.empty()) out += ' ';
    out += line.substr(colon + 1, paren - colon - 1);
    if (close + 1 < line.size()) {
      out += '(';
      out += line.substr(close + 2);
      out += ')';
    }
  }
  return out;
}

}  // namespace brevis::test
