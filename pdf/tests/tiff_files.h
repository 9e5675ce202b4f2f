// TIFF files for the import tests, written with libtiff: bilevel pages in several codings,
// photometries and fill orders, colour pages, strips or tiles, several images per file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brevis::test {

enum class TiffCoding { kNone, kGroup4, kGroup3, kLzw, kPackBits };

struct TiffPicture {
  int width = 0;
  int height = 0;
  bool colour = false;  // false: packed rows of (width + 7) / 8 bytes, 1 = black
                        // true: rows of 3 * width bytes, red, green, blue
  std::vector<uint8_t> pixels;
  TiffCoding coding = TiffCoding::kGroup4;
  bool minIsBlack = false;  // bilevel photometry; MinIsWhite otherwise
  int rowsPerStrip = 0;     // 0: one strip
  int tileWidth = 0;        // with tileLength: tiles of this size instead of strips
  int tileLength = 0;
  bool lsbFirst = false;  // fill order: coded bytes from their least significant bit
};

// Writes the pictures as the images of one TIFF file; throws std::runtime_error on failure.
void WriteTiffFile(const std::string& path, const std::vector<TiffPicture>& pictures);

// A bilevel picture of text-like rows (seeded) with the given coding.
TiffPicture TextPicture(int width, int height, uint32_t seed,
                        TiffCoding coding = TiffCoding::kGroup4);
// A colour picture of bands and gradients.
TiffPicture ColourPicture(int width, int height);

}  // namespace brevis::test
