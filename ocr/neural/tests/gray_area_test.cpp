// GrayArea: shares of white in the page areas each pixel covers, scaled down and up, with the
// parts of an area outside the page white.
#include "ocr/neural/gray_area.h"

#include <gtest/gtest.h>

#include <vector>

namespace brevis::neural {
namespace {

TEST(GrayAreaTest, EachPixelIsTheShareOfWhiteItCovers) {
  OneBitImage checkerboard(8, 8);
  for (int y = 0; y < 8; ++y) {
    for (int x = (y + 1) % 2; x < 8; x += 2) checkerboard.FillBlack(x, y, x + 1, y + 1);
  }
  OneBitImage halfBlack(8, 8);
  halfBlack.FillBlack(0, 0, 4, 8);
  OneBitImage black(8, 8);
  black.FillBlack(0, 0, 8, 8);
  // Two black columns of six, and one pixel of four.
  OneBitImage columns(6, 2);
  columns.FillBlack(0, 0, 2, 2);
  OneBitImage dots(4, 4);
  dots.FillBlack(1, 1, 2, 2);
  dots.FillBlack(3, 3, 4, 4);

  struct Case {
    const char* name;
    const OneBitImage& page;
    TextBox from;
    int width, height;
    std::vector<float> gray;
  };
  const Case kCases[] = {
      {"checkerboard halved", checkerboard, {0, 0, 8, 8}, 4, 4, std::vector<float>(16, 0.5f)},
      {"checkerboard to one pixel", checkerboard, {0, 0, 8, 8}, 1, 1, {0.5f}},
      {"checkerboard, one row", checkerboard, {0, 0, 8, 1}, 4, 1, {0.5f, 0.5f, 0.5f, 0.5f}},
      {"half black, quartered", halfBlack, {0, 0, 8, 8}, 2, 2, {0, 1, 0, 1}},
      {"half black, by columns", halfBlack, {0, 0, 8, 8}, 4, 1, {0, 0, 1, 1}},
      {"a part across the edge", halfBlack, {2, 0, 6, 8}, 1, 1, {0.5f}},
      // Six columns to four: [0, 1), [1, 3), [3, 4), [4, 6).
      {"uneven areas", columns, {0, 0, 6, 2}, 4, 1, {0, 0.5f, 1, 1}},
      // Scaled up, each page pixel becomes 2 x 2; the page beyond the area is not read.
      {"doubled", dots, {0, 0, 2, 2}, 4, 4, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1, 1, 0, 0}},
      {"doubled, one row", dots, {0, 1, 3, 2}, 6, 1, {1, 1, 0, 0, 1, 1}},
      // Outside the page is white.
      {"a quarter on the page", black, {-4, -4, 4, 4}, 2, 2, {1, 1, 1, 0}},
      {"half off the left", black, {-2, 0, 2, 2}, 1, 1, {0.5f}},
      {"off the bottom right", black, {6, 6, 10, 10}, 2, 2, {0, 1, 1, 1}},
      {"all outside", black, {20, 20, 24, 24}, 2, 2, {1, 1, 1, 1}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GrayArea(c.page, c.from, c.width, c.height), c.gray);
  }
}

}  // namespace
}  // namespace brevis::neural
