// TextDetector: the page as the network's gray three-channel input (its sides multiples of 32,
// as its five halvings need), then the regions of the map it returns.
#include "ocr/neural/text_detector.h"

#include <algorithm>
#include <cmath>

#include "ocr/neural/gray_area.h"

namespace brevis::neural {

namespace {

// The channel means and spreads the detector was trained with (on colour pictures).
constexpr float kMean[3] = {0.485f, 0.456f, 0.406f};
constexpr float kSpread[3] = {0.229f, 0.224f, 0.225f};

}  // namespace

std::vector<TextBox> RegionBoxes(const std::vector<float>& map, int width, int height) {
  std::vector<TextBox> boxes;
  if (width <= 0 || height <= 0) return boxes;
  const auto w = static_cast<std::size_t>(width);
  const std::size_t size = std::min(map.size(), w * static_cast<std::size_t>(height));
  std::vector<uint8_t> seen(size, 0);
  std::vector<std::size_t> stack;
  for (std::size_t start = 0; start < size; ++start) {
    if (seen[start] || !(map[start] > kTextLikely)) continue;
    const int x0 = static_cast<int>(start % w), y0 = static_cast<int>(start / w);
    TextBox box{x0, y0, x0 + 1, y0 + 1};
    double sum = 0;
    int64_t count = 0;
    seen[start] = 1;
    stack.push_back(start);
    while (!stack.empty()) {
      const std::size_t at = stack.back();
      stack.pop_back();
      const int x = static_cast<int>(at % w), y = static_cast<int>(at / w);
      sum += map[at];
      ++count;
      box = {std::min(box.X0, x), std::min(box.Y0, y), std::max(box.X1, x + 1),
             std::max(box.Y1, y + 1)};
      auto visit = [&](std::size_t n) {
        if (n < size && !seen[n] && map[n] > kTextLikely) {
          seen[n] = 1;
          stack.push_back(n);
        }
      };
      if (x > 0) visit(at - 1);
      if (x + 1 < width) visit(at + 1);
      if (y > 0) visit(at - w);
      visit(at + w);
    }
    const int bw = box.X1 - box.X0, bh = box.Y1 - box.Y0;
    if (std::min(bw, bh) < 3 || sum / static_cast<double>(count) < kRegionLikely) continue;
    // The map marks a line's core, shrunk from its box by area / outline (times a ratio):
    // growing it back by kGrowth times that gives the box with a margin.
    const double grow = static_cast<double>(bw) * bh * kGrowth / (2.0 * (bw + bh));
    const int g = static_cast<int>(std::lround(grow));
    boxes.push_back({std::max(0, box.X0 - g), std::max(0, box.Y0 - g), std::min(width, box.X1 + g),
                     std::min(height, box.Y1 + g)});
  }
  return boxes;
}

TextDetector::TextDetector(const std::string& modelPath) : network_(ReadOnnxModel(modelPath)) {}

std::vector<TextBox> TextDetector::Detect(const OneBitImage& page) {
  const double scale =
      std::min(1.0, static_cast<double>(kLongestSide) / std::max(page.Width, page.Height));
  const int width = std::max(1, static_cast<int>(std::lround(page.Width * scale)));
  const int height = std::max(1, static_cast<int>(std::lround(page.Height * scale)));
  // The network's input, padded white to multiples of 32.
  const int paddedWidth = (width + 31) / 32 * 32, paddedHeight = (height + 31) / 32 * 32;
  const std::vector<float> gray = GrayArea(page, {0, 0, page.Width, page.Height}, width, height);
  Tensor input;
  input.Shape = {1, 3, paddedHeight, paddedWidth};
  const auto columns = static_cast<std::size_t>(width),
             paddedColumns = static_cast<std::size_t>(paddedWidth);
  const std::size_t plane = paddedColumns * static_cast<std::size_t>(paddedHeight);
  input.Floats.resize(3 * plane);
  const auto rows = static_cast<std::size_t>(height);
  for (std::size_t c = 0; c < 3; ++c) {
    float* channel = input.Floats.data() + c * plane;
    std::fill_n(channel, plane, (1.0f - kMean[c]) / kSpread[c]);
    for (std::size_t y = 0; y < rows; ++y) {
      for (std::size_t x = 0; x < columns; ++x) {
        channel[y * paddedColumns + x] = (gray[y * columns + x] - kMean[c]) / kSpread[c];
      }
    }
  }
  const Tensor map = network_.Run(std::move(input));
  if (map.Shape.size() != 4 || map.Shape[2] != paddedHeight || map.Shape[3] != paddedWidth) {
    throw ModelError("The text detector's map is not the size of the page.");
  }
  // Only the page's part of the map; its boxes back in page pixels.
  std::vector<float> part(columns * rows);
  for (std::size_t y = 0; y < rows; ++y) {
    std::copy_n(map.Floats.data() + y * paddedColumns, columns, part.data() + y * columns);
  }
  std::vector<TextBox> boxes = RegionBoxes(part, width, height);
  for (TextBox& box : boxes) {
    box = {std::max(0, static_cast<int>(std::floor(box.X0 / scale))),
           std::max(0, static_cast<int>(std::floor(box.Y0 / scale))),
           std::min(page.Width, static_cast<int>(std::ceil(box.X1 / scale))),
           std::min(page.Height, static_cast<int>(std::ceil(box.Y1 / scale)))};
  }
  return boxes;
}

}  // namespace brevis::neural
