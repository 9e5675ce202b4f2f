// OneBitImage: construction, pixel access and rectangle filling on packed rows, 0 = black.
#include "common/one_bit_image.h"

#include <algorithm>
#include <cstring>

namespace brevis {

OneBitImage::OneBitImage(int32_t width, int32_t height)
    : Width(width),
      Height(height),
      Stride((static_cast<std::size_t>(width) + 7) / 8),
      Rows(Stride * static_cast<std::size_t>(height), 0xFF) {}

bool OneBitImage::Black(int32_t x, int32_t y) const {
  const std::size_t index = static_cast<std::size_t>(y) * Stride + static_cast<std::size_t>(x / 8);
  return (Rows[index] >> (7 - x % 8) & 1) == 0;
}

void OneBitImage::FillBlack(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, Width);
  y1 = std::min(y1, Height);
  if (x0 >= x1 || y0 >= y1) return;
  for (int32_t y = y0; y < y1; ++y) {
    uint8_t* row = Rows.data() + static_cast<std::size_t>(y) * Stride;
    int32_t x = x0;
    // Partial leading byte, whole bytes, partial trailing byte.
    while (x < x1 && x % 8 != 0) {
      row[x / 8] = static_cast<uint8_t>(row[x / 8] & ~(0x80 >> (x % 8)));
      ++x;
    }
    if (x + 8 <= x1) {
      const int32_t whole = (x1 - x) / 8;
      std::memset(row + x / 8, 0x00, static_cast<std::size_t>(whole));
      x += whole * 8;
    }
    while (x < x1) {
      row[x / 8] = static_cast<uint8_t>(row[x / 8] & ~(0x80 >> (x % 8)));
      ++x;
    }
  }
}

int64_t OneBitImage::CountBlack() const {
  const std::size_t whole = static_cast<std::size_t>(Width) / 8;
  const int rest = Width % 8;
  int64_t white = 0;
  for (int32_t y = 0; y < Height; ++y) {
    const uint8_t* row = Rows.data() + static_cast<std::size_t>(y) * Stride;
    for (std::size_t i = 0; i < whole; ++i) white += __builtin_popcount(row[i]);
    if (rest != 0) white += __builtin_popcount(row[whole] & (0xFF00 >> rest) & 0xFF);
  }
  return int64_t{Width} * Height - white;
}

}  // namespace brevis
