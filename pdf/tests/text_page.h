// Synthetic page bitmaps that look like scanned text to a fax coder: lines of glyph-like strokes
// on white, for the tests and the benchmarks.
#pragma once

#include <cstdint>
#include <vector>

namespace brevis::test {

// Packed rows of (width + 7) / 8 bytes, most significant bit first, 1 = black, free bits 0.
// Glyph cells of about 30 x 36 pixels on lines 60 pixels apart, margins of a tenth of the width,
// a rule at the top; strokes are horizontal, vertical and slanted, 3 pixels thick. The same
// seed gives the same page.
std::vector<uint8_t> TextPageRows(int width, int height, uint32_t seed);

}  // namespace brevis::test
