// A JPEG picture for the PDF writer: JPEG file data with its size, made from a bitmap at a
// quality or loaded from a file, and decoded back to a bitmap. libjpeg stays behind this file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pdf/bitmap.h"

namespace brevis {

// Holds complete JPEG file data (SOI to EOI) in three colour components, which is what an image
// object described as DeviceRGB needs. Failures throw PdfError with a fixed message.
class JpegImage {
 public:
  JpegImage() = default;

  // Compresses the bitmap (any pixel format; indexed pixels through their palette) as a
  // three-component baseline JPEG at `quality` (1 to 100, clamped).
  static JpegImage FromBitmap(const Bitmap& bitmap, int quality);
  // Reads a JPEG file. Three-component data is kept as it is; grey data is decoded and compressed
  // again in three components at `quality`, so that the data always matches DeviceRGB. Throws
  // "Cannot open file "<path>"." and "Invalid JPEG data." (also for data libjpeg cannot turn
  // into RGB, such as CMYK).
  static JpegImage LoadFromFile(const std::string& path, int quality);
  // The same for JPEG data held in memory.
  static JpegImage FromData(std::vector<uint8_t> data, int quality);

  int Width() const { return width_; }
  int Height() const { return height_; }
  const std::vector<uint8_t>& Data() const { return data_; }

  // Decodes the picture into a 24-bit bitmap. Throws "Invalid JPEG data.".
  Bitmap ToBitmap() const;

 private:
  std::vector<uint8_t> data_;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace brevis
