// The PDF writer's bitmap: 1, 4, 8, 24 or 32 bits per pixel, a palette for the indexed formats,
// row access, and conversions between the formats and to black and white.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brevis {

enum class PixelFormat { pf1bit, pf4bit, pf8bit, pf24bit, pf32bit };

// A palette entry. A 32-bit pixel has the same layout (blue in the lowest byte, then green, red
// and a fourth byte); a 24-bit pixel is its first three bytes.
struct RgbQuad {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;
  friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};

inline constexpr RgbQuad kBlack = {0, 0, 0, 0};
inline constexpr RgbQuad kWhite = {255, 255, 255, 0};

// Pixel memory is one block, top row first. Each row starts on a 4-byte boundary and holds its
// pixels from the left: indexed pixels of 1 or 4 bits are packed from the most significant bit of
// each byte, 8-bit pixels are palette indexes, 24-bit pixels blue, green, red, 32-bit pixels blue,
// green, red and a fourth byte. A 32-bit bitmap's rows are exactly 4 * width bytes apart, so its
// memory is a plain width x height array of 32-bit pixels.
//
// The indexed formats (1, 4 and 8 bits) carry a palette of at most 2, 16 or 256 entries; true
// colour bitmaps carry none. Bits beyond the width in a row's last byte are free and may hold
// anything.
//
// Misuse (a negative size, a row or pixel outside the bitmap, a palette too large for the
// format) throws std::out_of_range or std::invalid_argument.
class Bitmap {
 public:
  // An empty (0 x 0) 24-bit bitmap.
  Bitmap() = default;
  // A bitmap with every pixel 0: black for the true colour formats, palette entry 0 for the
  // indexed ones, whose palette is the default one of the format (see SetPixelFormat).
  Bitmap(int width, int height, PixelFormat format);

  int Width() const { return width_; }
  int Height() const { return height_; }
  PixelFormat GetPixelFormat() const { return format_; }
  int BitsPerPixel() const;
  // Bytes from the start of one row to the start of the next.
  std::size_t RowStride() const { return stride_; }

  // Changing the size keeps the pixels of the area that the old and the new size share; new
  // pixels are 0.
  void SetWidth(int width) { SetSize(width, height_); }
  void SetHeight(int height) { SetSize(width_, height); }
  void SetSize(int width, int height);

  // Converts every pixel to `format`:
  // - Widening an indexed format (1 to 4 or 8 bits, 4 to 8) keeps the indexes and the palette.
  // - Indexed to true colour looks each pixel's colour up; 24 to 32 bits sets the fourth byte to
  //   0; 32 to 24 bits drops it.
  // - Narrowing to an indexed format gives the format's default palette and maps each colour
  //   to it: 1 bit is black (entry 0) and white (entry 1) split at half luminance, 4 bits the
  //   16 standard VGA colours (nearest colour), 8 bits 3 bits of red, 3 of green and 2 of blue.
  // Converting to the current format changes nothing.
  void SetPixelFormat(PixelFormat format);

  // Makes the bitmap one bit per pixel with palette entry 0 black and entry 1 white: a pixel
  // becomes white when its colour's luminance is at least half, else black. A one-bit bitmap
  // with another palette is remapped (for example inverted when its entry 0 is white).
  void ReduceToMonochrome();
  // True when the bitmap is one bit per pixel with entry 0 black and entry 1 white.
  bool IsMonochrome() const;

  // The first byte of a row, row 0 being the top row.
  uint8_t* ScanLine(int row);
  const uint8_t* ScanLine(int row) const;
  // The whole pixel memory (Height() * RowStride() bytes); null when the bitmap has no pixels.
  uint8_t* Bits() { return pixels_.empty() ? nullptr : pixels_.data(); }
  const uint8_t* Bits() const { return pixels_.empty() ? nullptr : pixels_.data(); }

  const std::vector<RgbQuad>& Palette() const { return palette_; }
  // Replaces the palette of an indexed bitmap; the pixels keep their indexes.
  void SetPalette(std::vector<RgbQuad> palette);

  // Single-pixel access for tests and small work; rows are the way to touch many pixels.
  // PixelColor resolves an index through the palette (an index past its end reads black).
  RgbQuad PixelColor(int x, int y) const;
  // The raw value of a pixel: the index for indexed formats, the colour packed as 0xAARRGGBB
  // (blue lowest) for true colour.
  uint32_t PixelValue(int x, int y) const;
  void SetPixelValue(int x, int y, uint32_t value);

 private:
  static std::size_t StrideFor(int width, PixelFormat format);
  void CheckPixel(int x, int y) const;

  int width_ = 0;
  int height_ = 0;
  PixelFormat format_ = PixelFormat::pf24bit;
  std::size_t stride_ = 0;
  std::vector<uint8_t> pixels_;
  std::vector<RgbQuad> palette_;
};

}  // namespace brevis
