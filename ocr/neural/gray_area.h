// GrayArea: a part of a black and white page scaled to a gray image, each pixel the share of
// white in the area of the page it covers: the input the networks take.
#pragma once

#include <vector>

#include "common/one_bit_image.h"
#include "ocr/line_text.h"

namespace brevis::neural {

// The area `from` of `page` (clipped to the page; the rest counts as white) scaled to `width` x
// `height` pixels, row by row, 0 black to 1 white. Each pixel averages the page pixels whose
// centres its area holds, at least the nearest one. `width` and `height` must be positive.
std::vector<float> GrayArea(const OneBitImage& page, const TextBox& from, int width, int height);

}  // namespace brevis::neural
