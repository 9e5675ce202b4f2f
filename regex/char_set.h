// Set of UTF-16 units with a bitmap for Latin-1, used for the engine's character-set
// properties (word, space and line-separator units).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace brevis {

// One bit for each unit U+0000..U+00FF.
struct Latin1Bitmap {
  std::array<uint64_t, 4> Bits{};
  void Add(char16_t c) { Bits[c >> 6] |= uint64_t{1} << (c & 63); }             // c < 256
  bool Has(char16_t c) const { return ((Bits[c >> 6] >> (c & 63)) & 1) != 0; }  // c < 256
};

class CharSet {
 public:
  CharSet() = default;
  explicit CharSet(std::u16string_view units) { Assign(units); }

  void Assign(std::u16string_view units) {
    low_ = {};
    high_.clear();
    for (char16_t c : units) {
      if (c < 256)
        low_.Add(c);
      else
        high_.push_back(c);
    }
    std::sort(high_.begin(), high_.end());
  }

  bool Contains(char16_t c) const {
    if (c < 256) return low_.Has(c);
    return !high_.empty() && std::binary_search(high_.begin(), high_.end(), c);
  }

 private:
  Latin1Bitmap low_;
  std::vector<char16_t> high_;
};

}  // namespace brevis
