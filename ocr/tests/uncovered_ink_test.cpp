// Uncovered ink on a small drawn page: glyph-sized pieces outside the lines make rows, strokes
// of drawings, specks and covered glyphs do not.
#include "ocr/uncovered_ink.h"

#include <gtest/gtest.h>

#include <vector>

namespace brevis {
namespace {

TEST(UncoveredTextRowsTest, GlyphsOutsideTheLinesMakeRows) {
  OneBitImage page(400, 300);
  // A row of three glyphs, one made of two strokes touching at a corner only.
  page.FillBlack(10, 20, 30, 40);
  page.FillBlack(40, 20, 50, 30);
  page.FillBlack(50, 30, 60, 40);
  page.FillBlack(70, 18, 90, 40);
  // Further right than a glyph's height: a row of its own.
  page.FillBlack(300, 22, 320, 40);
  // A covered line.
  page.FillBlack(10, 100, 30, 120);
  page.FillBlack(40, 100, 60, 120);
  // A frame with a numeral inside and one beside it, and a rule: strokes, not glyphs.
  page.FillBlack(100, 150, 300, 152);
  page.FillBlack(100, 250, 300, 252);
  page.FillBlack(100, 150, 102, 252);
  page.FillBlack(298, 150, 300, 252);
  page.FillBlack(190, 190, 200, 210);
  page.FillBlack(320, 140, 335, 160);
  page.FillBlack(0, 280, 400, 283);
  // A speck alone.
  page.FillBlack(200, 60, 202, 62);

  const std::vector<TextBox> rows = UncoveredTextRows(page, {{0, 95, 100, 125}}, 40);
  const std::vector<TextBox> expected = {
      {10, 18, 90, 40}, {300, 22, 320, 40}, {320, 140, 335, 160}, {190, 190, 200, 210}};
  EXPECT_EQ(rows, expected);
  // A page without ink has none.
  EXPECT_TRUE(UncoveredTextRows(OneBitImage(50, 50), {}, 40).empty());
}

}  // namespace
}  // namespace brevis
