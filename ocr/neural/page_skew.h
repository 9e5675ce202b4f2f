// PageSkew: how far a scanned page is turned, measured on its ink, and the page turned level. The
// detector's boxes are upright: on a page turned by 2 degrees, neighbouring lines would merge.
#pragma once

#include "common/one_bit_image.h"
#include "ocr/line_text.h"

namespace brevis::neural {

// The largest turn measured, in degrees, either way.
inline constexpr double kLargestSkew = 3.0;

// The angle, in degrees, at which the page's lines fall to the right (y grows with x), from -3
// to 3 to a tenth of a degree: the one along which the rows of ink are most sharply
// separated. 0 for a page without ink.
double SkewAngle(const OneBitImage& page);

// `page` turned about its middle so that lines falling at `degrees` lie level; the same size,
// white where no page pixel falls, each pixel the nearest one of the page.
OneBitImage Levelled(const OneBitImage& page, double degrees);

// The box of `box`, a box in Levelled(page, degrees), on the page itself: the upright box around
// its turned corners, clipped to the page.
TextBox OnPage(const TextBox& box, double degrees, int width, int height);

}  // namespace brevis::neural
