// GrayArea: box filtering of packed bits, a band of page rows at a time summed per column.
#include "ocr/neural/gray_area.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace brevis::neural {

std::vector<float> GrayArea(const OneBitImage& page, const TextBox& from, int width, int height) {
  std::vector<float> gray(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 1.0f);
  const int sourceWidth = std::max(1, from.X1 - from.X0);
  const int sourceHeight = std::max(1, from.Y1 - from.Y0);
  // The page columns of each output column: [first[i], last[i]). Scaling down, those its area
  // spans (at least one, as the area is at least a column wide); scaling up, the one its area's
  // centre lies in.
  auto spans = [](int count, int source, int origin) {
    std::vector<int> first(static_cast<std::size_t>(count)), last(first.size());
    const auto n = static_cast<int64_t>(count);
    for (int i = 0; i < count; ++i) {
      if (count > source) {
        first[i] = origin + static_cast<int>((2 * static_cast<int64_t>(i) + 1) * source / (2 * n));
        last[i] = first[i] + 1;
      } else {
        first[i] = origin + static_cast<int>(static_cast<int64_t>(i) * source / n);
        last[i] = origin + static_cast<int>((static_cast<int64_t>(i) + 1) * source / n);
      }
    }
    return std::pair{first, last};
  };
  const auto [columnFirst, columnLast] = spans(width, sourceWidth, from.X0);
  const auto [rowFirst, rowLast] = spans(height, sourceHeight, from.Y0);
  const int firstColumn = columnFirst.front(), lastColumn = columnLast.back();
  std::vector<int> black(static_cast<std::size_t>(lastColumn - firstColumn), 0);
  for (int y = 0; y < height; ++y) {
    std::fill(black.begin(), black.end(), 0);
    for (int row = rowFirst[y]; row < rowLast[y]; ++row) {
      if (row < 0 || row >= page.Height) continue;
      const uint8_t* bits = page.Rows.data() + static_cast<std::size_t>(row) * page.Stride;
      const int x0 = std::max(firstColumn, 0), x1 = std::min(lastColumn, page.Width);
      for (int x = x0; x < x1; ++x) {
        black[x - firstColumn] += (bits[x >> 3] >> (7 - (x & 7)) & 1) == 0;
      }
    }
    float* out = gray.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    const int band = rowLast[y] - rowFirst[y];
    for (int x = 0; x < width; ++x) {
      int sum = 0;
      for (int c = columnFirst[x]; c < columnLast[x]; ++c) sum += black[c - firstColumn];
      out[x] = 1.0f - static_cast<float>(sum) /
                          static_cast<float>(band * (columnLast[x] - columnFirst[x]));
    }
  }
  return gray;
}

}  // namespace brevis::neural
