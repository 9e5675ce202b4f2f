// Synthetic text-like page bitmaps.
#include "pdf/tests/text_page.h"

#include <algorithm>
#include <random>

namespace brevis::test {

std::vector<uint8_t> TextPageRows(int width, int height, uint32_t seed) {
  const std::size_t row_bytes = (static_cast<std::size_t>(width) + 7) / 8;
  std::vector<uint8_t> rows(row_bytes * static_cast<std::size_t>(height));
  const auto set = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    rows[static_cast<std::size_t>(y) * row_bytes + static_cast<std::size_t>(x) / 8] |=
        static_cast<uint8_t>(0x80u >> (x % 8));
  };
  // A stroke from (x0, y0) going `length` steps of (dx, dy), 3 pixels thick.
  const auto stroke = [&](int x0, int y0, int dx, int dy, int length) {
    for (int i = 0; i < length; ++i) {
      for (int t = 0; t < 3; ++t) {
        for (int u = 0; u < 3; ++u) set(x0 + i * dx + t, y0 + i * dy + u);
      }
    }
  };
  std::mt19937 rng(seed);
  const auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const int margin = width / 10;
  for (int x = margin; x < width - margin; ++x) {
    set(x, 40);
    set(x, 41);
  }
  for (int top = 80; top + 40 < height - margin / 2; top += 60) {
    const int line_end = (below(8) == 0) ? margin + (width - 2 * margin) / 3 : width - margin;
    for (int x = margin + (below(5) == 0 ? 60 : 0); x + 30 < line_end; x += 34) {
      if (below(9) == 0) continue;  // a space
      const int strokes = 2 + below(3);
      for (int s = 0; s < strokes; ++s) {
        switch (below(4)) {
          case 0:  // horizontal
            stroke(x + below(8), top + below(30), 1, 0, 10 + below(18));
            break;
          case 1:  // vertical
            stroke(x + below(24), top + below(8), 0, 1, 14 + below(20));
            break;
          case 2:  // slanted down to the right
            stroke(x + below(10), top + below(10), 1, 1, 10 + below(16));
            break;
          default:  // slanted down to the left
            stroke(x + 16 + below(10), top + below(10), -1, 1, 10 + below(16));
            break;
        }
      }
    }
  }
  return rows;
}

}  // namespace brevis::test
