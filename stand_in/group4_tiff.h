// The page generator's TIFF form: a bilevel page as a complete one-strip CCITT Group 4 TIFF file,
// written with libtiff in memory.
#pragma once

#include <string>

#include "common/one_bit_image.h"

namespace brevis {

// Encodes `page` (0 = black, common/one_bit_image.h) as a one-strip Group 4 TIFF file, MinIsWhite
// (1 = black, so the rows are written inverted), FillOrder 1, `page.Dpi` in both directions.
// Throws std::runtime_error when libtiff refuses it.
std::string EncodeGroup4Tiff(const OneBitImage& page);

}  // namespace brevis
