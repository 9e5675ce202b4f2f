// RegionBoxes on a small drawn map: connected regions of likely text grown to line boxes, noise,
// thin strokes and faint regions dropped, boxes clipped to the map.
#include "ocr/neural/text_detector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

namespace brevis::neural {
namespace {

constexpr int kWidth = 40, kHeight = 24;

void Fill(std::vector<float>& map, int x0, int y0, int x1, int y1, float value) {
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) map[static_cast<std::size_t>(y * kWidth + x)] = value;
  }
}

TEST(TextDetectorTest, RegionBoxesGrowLikelyRegionsAndDropTheRest) {
  std::vector<float> map(kWidth * kHeight, 0.1f);
  // 10 x 4 at the top: grown by 10 * 4 * 2 / (2 * 14) = 2.9, so 3, clipped at the top. The row
  // below it at exactly kTextLikely is not text.
  Fill(map, 4, 1, 14, 5, 0.9f);
  Fill(map, 4, 5, 14, 6, kTextLikely);
  // 10 x 6 in the bottom right corner, one column faint but above kTextLikely, the mean above
  // kRegionLikely: grown by 60 * 2 / 32 = 3.75, so 4, clipped right and below.
  Fill(map, 30, 18, 40, 24, 1.0f);
  Fill(map, 30, 18, 31, 24, 0.35f);
  // 5 x 6 at the left edge: grown by 30 * 2 / 22 = 2.7, so 3, clipped on the left.
  Fill(map, 0, 14, 5, 20, 0.8f);
  // Two 3 x 3 squares touching at a corner only: two regions, each grown by 1.5, so 2.
  Fill(map, 8, 12, 11, 15, 0.9f);
  Fill(map, 11, 15, 14, 18, 0.9f);
  // Dropped: a region whose mean is below kRegionLikely, and strokes 2 pixels thin.
  Fill(map, 20, 2, 28, 8, 0.5f);
  Fill(map, 20, 11, 35, 13, 1.0f);
  Fill(map, 16, 12, 18, 22, 1.0f);

  std::vector<TextBox> boxes = RegionBoxes(map, kWidth, kHeight);
  const auto order = [](const TextBox& a, const TextBox& b) {
    return std::tie(a.X0, a.Y0, a.X1, a.Y1) < std::tie(b.X0, b.Y0, b.X1, b.Y1);
  };
  std::sort(boxes.begin(), boxes.end(), order);
  const std::vector<TextBox> expected = {
      {0, 11, 8, 23}, {1, 0, 17, 8}, {6, 10, 13, 17}, {9, 13, 16, 20}, {26, 14, 40, 24}};
  EXPECT_EQ(boxes, expected);

  // A map without likely text has no boxes.
  EXPECT_TRUE(RegionBoxes(std::vector<float>(kWidth * kHeight, 0.2f), kWidth, kHeight).empty());
}

}  // namespace
}  // namespace brevis::neural
