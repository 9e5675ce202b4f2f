// GrayArea: box filtering of packed bits, a band of page rows at a time summed per column.
#include "ocr/neural/gray_area.h"

#include <algorithm>
#include <cstdint>

namespace brevis::neural {

std::vector<float> GrayArea(const OneBitImage& page, const TextBox& from, int width, int height) {
  std::vector<float> gray(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 1.0f);
  const int sourceWidth = std::max(1, from.X1 - from.X0);
  const int sourceHeight = std::max(1, from.Y1 - from.Y0);
  // The page columns of each output column: [columns[i], columns[i + 1]), at least one.
  auto bounds = [](int count, int source, int origin) {
    std::vector<int> edges(static_cast<std::size_t>(count) + 1);
    for (int i = 0; i <= count; ++i) {
      edges[i] = origin + static_cast<int>(static_cast<int64_t>(i) * source / count);
    }
    for (int i = 0; i < count; ++i) edges[i + 1] = std::max(edges[i + 1], edges[i] + 1);
    return edges;
  };
  const std::vector<int> columns = bounds(width, sourceWidth, from.X0);
  const std::vector<int> rows = bounds(height, sourceHeight, from.Y0);
  const int firstColumn = columns.front(), lastColumn = columns.back();
  std::vector<int> black(static_cast<std::size_t>(lastColumn - firstColumn), 0);
  for (int y = 0; y < height; ++y) {
    std::fill(black.begin(), black.end(), 0);
    for (int row = rows[y]; row < rows[y + 1]; ++row) {
      if (row < 0 || row >= page.Height) continue;
      const uint8_t* bits = page.Rows.data() + static_cast<std::size_t>(row) * page.Stride;
      const int x0 = std::max(firstColumn, 0), x1 = std::min(lastColumn, page.Width);
      for (int x = x0; x < x1; ++x) {
        black[x - firstColumn] += (bits[x >> 3] >> (7 - (x & 7)) & 1) == 0;
      }
    }
    float* out = gray.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    const int band = rows[y + 1] - rows[y];
    for (int x = 0; x < width; ++x) {
      int sum = 0;
      for (int c = columns[x]; c < columns[x + 1]; ++c) sum += black[c - firstColumn];
      out[x] = 1.0f - static_cast<float>(sum) / static_cast<float>(band * (columns[x + 1] - columns[x]));
    }
  }
  return gray;
}

}  // namespace brevis::neural
