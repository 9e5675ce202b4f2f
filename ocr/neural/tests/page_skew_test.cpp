// The skew of pages turned by another program (the fixture turned by 2 degrees counterclockwise
// with PIL), the page turned level, and boxes turned back onto the page.
#include "ocr/neural/page_skew.h"

#include <gtest/gtest.h>

#include <string>

#include "pdf/tiff_import.h"

namespace brevis::neural {
namespace {

const std::string kData = std::string(OCR_TEST_DATA_DIR) + "/";

OneBitImage Page(const std::string& name) {
  std::vector<OneBitImage> images = DecodeTiffPages(kData + name);
  EXPECT_EQ(images.size(), 1u);
  return images.empty() ? OneBitImage() : std::move(images[0]);
}

TEST(PageSkewTest, MeasuresTheTurnAndLevelsIt) {
  struct Case {
    const char* name;
    OneBitImage page;
    double degrees;
  };
  const Case kCases[] = {
      {"straight", Page("four_lines.tif"), 0.0},
      // Turned counterclockwise, its lines rise to the right.
      {"turned", Page("four_lines_turned.tif"), -2.0},
      {"no ink", OneBitImage(400, 300), 0.0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const double skew = SkewAngle(c.page);
    EXPECT_NEAR(skew, c.degrees, 0.15);
    // Turned level, the page measures straight.
    EXPECT_NEAR(SkewAngle(Levelled(c.page, skew)), 0.0, 0.15);
  }
}

TEST(PageSkewTest, BoxesTurnBackOntoThePage) {
  struct Case {
    TextBox box;
    double degrees;
    TextBox expected;
  };
  // On a 1000 x 600 page, turned about its middle: a line 800 pixels long at 2 degrees spans
  // 800 sin 2 = 28 pixels more in height; corners turned off the page are clipped.
  const Case kCases[] = {
      {{100, 200, 900, 240}, 0.0, {100, 200, 900, 240}},
      {{100, 280, 900, 320}, 2.0, {99, 266, 901, 334}},
      {{0, 0, 1000, 600}, 2.0, {0, 0, 1000, 600}},
  };
  for (const Case& c : kCases) {
    const TextBox on = OnPage(c.box, c.degrees, 1000, 600);
    EXPECT_EQ(on, c.expected) << on.X0 << "," << on.Y0 << " " << on.X1 << "," << on.Y1;
  }
}

}  // namespace
}  // namespace brevis::neural
