// The 64-bit FNV-1a hash of bytes: cheap and stable across versions and machines, for shares of
// a list, fault plans, generated pages and the identity of a page file. Not for anything an
// adversary may choose to collide.
#pragma once

#include <cstdint>
#include <string_view>

namespace brevis {

constexpr uint64_t Fnv1a64(std::string_view bytes) {
  uint64_t hash = 0xCBF29CE484222325ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

}  // namespace brevis
