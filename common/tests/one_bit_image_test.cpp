// OneBitImage: a white start, rectangles painted black across byte edges and clipped at the
// image's edges, and the count of black pixels leaving the free bits out.
#include "common/one_bit_image.h"

#include <gtest/gtest.h>

namespace brevis {
namespace {

// 13 pixels wide: two bytes a row, the last three bits free.
TEST(OneBitImageTest, FillsRectanglesBlackAsZeroBits) {
  OneBitImage image(13, 4);
  EXPECT_EQ(image.Stride, 2u);
  EXPECT_EQ(image.Rows, std::vector<uint8_t>(8, 0xFF));
  EXPECT_EQ(image.CountBlack(), 0);

  image.FillBlack(3, 1, 11, 2);     // across the byte edge
  image.FillBlack(-5, 3, 100, 99);  // clipped to the last row
  image.FillBlack(6, 0, 6, 4);      // empty
  const std::vector<uint8_t> expected = {
      0xFF, 0xFF,  // 11111111 11111
      0xE0, 0x1F,  // 11100000 00011: x 3 to 10
      0xFF, 0xFF,  //
      0x00, 0x07,  // 00000000 00000: the free bits stay white
  };
  EXPECT_EQ(image.Rows, expected);
  EXPECT_EQ(image.CountBlack(), 8 + 13);
  EXPECT_TRUE(image.Black(3, 1));
  EXPECT_TRUE(image.Black(10, 1));
  EXPECT_FALSE(image.Black(11, 1));
  EXPECT_FALSE(image.Black(2, 1));
  EXPECT_TRUE(image.Black(12, 3));

  // A wide rectangle takes whole bytes between its partial ends.
  OneBitImage wide(40, 1);
  wide.FillBlack(4, 0, 36, 1);
  EXPECT_EQ(wide.Rows, (std::vector<uint8_t>{0xF0, 0x00, 0x00, 0x00, 0x0F}));
  EXPECT_EQ(wide.CountBlack(), 32);
}

}  // namespace
}  // namespace brevis
