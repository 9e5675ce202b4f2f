// OneBitImage: a black and white page as packed rows, the one bilevel image type: the TIFF reader
// decodes pages into it for recognition, and the page generator draws its pages in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brevis {

// Rows of Stride bytes, top row first, pixels from the most significant bit of each byte; a 0 bit
// is black, a 1 bit white, as Tesseract and the PDF writer's monochrome Bitmap take them. (Fax
// codings and TIFF's MinIsWhite have a 1 bit black: invert the rows where they meet.) Bits beyond
// the width in a row's last byte are free.
//
// The drawing methods expect Stride >= (Width + 7) / 8 and Rows of Stride * Height bytes.
struct OneBitImage {
  int32_t Width = 0;
  int32_t Height = 0;
  std::size_t Stride = 0;
  int32_t Dpi = 0;  // the image's resolution; 0 when the file does not say
  std::vector<uint8_t> Rows;

  OneBitImage() = default;
  // A white image of `width` x `height` pixels, (width + 7) / 8 bytes a row, free bits white too.
  OneBitImage(int32_t width, int32_t height);

  // The pixel at (x, y), which must lie in the image.
  bool Black(int32_t x, int32_t y) const;
  // Paints the rectangle [x0, x1) x [y0, y1) black; the parts outside the image are ignored.
  void FillBlack(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
  // The black pixels within the width, free bits not counted.
  int64_t CountBlack() const;
};

}  // namespace brevis
