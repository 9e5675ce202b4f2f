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
  std::vector<uint8_t> seen(map.size(), 0);
  std::vector<int> stack;
  for (int start = 0; start < width * height; ++start) {
    if (seen[start] || !(map[start] > kTextLikely)) continue;
    TextBox box{start % width, start / width, start % width + 1, start / width + 1};
    double sum = 0;
    int64_t count = 0;
    seen[start] = 1;
    stack.push_back(start);
    while (!stack.empty()) {
      const int at = stack.back();
      stack.pop_back();
      const int x = at % width, y = at / width;
      sum += map[at];
      ++count;
      box = {std::min(box.X0, x), std::min(box.Y0, y), std::max(box.X1, x + 1),
             std::max(box.Y1, y + 1)};
      const int next[4] = {x > 0 ? at - 1 : -1, x + 1 < width ? at + 1 : -1,
                           y > 0 ? at - width : -1, y + 1 < height ? at + width : -1};
      for (const int n : next) {
        if (n >= 0 && !seen[n] && map[n] > kTextLikely) {
          seen[n] = 1;
          stack.push_back(n);
        }
      }
    }
    const int w = box.X1 - box.X0, h = box.Y1 - box.Y0;
    if (std::min(w, h) < 3 || sum / static_cast<double>(count) < kRegionLikely) continue;
    // The map marks a line's core, shrunk from its box by area / outline (times a ratio):
    // growing it back by kGrowth times that gives the box with a margin.
    const double grow = static_cast<double>(w) * h * kGrowth / (2.0 * (w + h));
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
  const std::size_t plane = static_cast<std::size_t>(paddedWidth) * paddedHeight;
  input.Floats.resize(3 * plane);
  for (int c = 0; c < 3; ++c) {
    float* channel = input.Floats.data() + c * plane;
    std::fill_n(channel, plane, (1.0f - kMean[c]) / kSpread[c]);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        channel[static_cast<std::size_t>(y) * paddedWidth + x] =
            (gray[static_cast<std::size_t>(y) * width + x] - kMean[c]) / kSpread[c];
      }
    }
  }
  const Tensor map = network_.Run(std::move(input));
  if (map.Shape.size() != 4 || map.Shape[2] != paddedHeight || map.Shape[3] != paddedWidth) {
    throw ModelError("The text detector's map is not the size of the page.");
  }
  // Only the page's part of the map; its boxes back in page pixels.
  std::vector<float> part(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    std::copy_n(map.Floats.data() + static_cast<std::size_t>(y) * paddedWidth, width,
                part.data() + static_cast<std::size_t>(y) * width);
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
