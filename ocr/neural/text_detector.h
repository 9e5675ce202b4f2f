// TextDetector: the boxes of a page's text lines, from a DB network's map of how likely each
// pixel is to lie in text, the page scaled down to at most kLongestSide pixels.
#pragma once

#include <string>
#include <vector>

#include "common/one_bit_image.h"
#include "ocr/line_text.h"
#include "ocr/neural/network.h"

namespace brevis::neural {

// What a DB map holds of text: a pixel above kTextLikely is in text, a region whose mean is below
// kRegionLikely is noise; a region is the core of a line, grown by kGrowth times its area over
// its outline to the line's box.
inline constexpr float kTextLikely = 0.3f;
inline constexpr float kRegionLikely = 0.6f;
inline constexpr float kGrowth = 2.0f;

// The boxes of the regions of a `width` x `height` map, in map pixels, in no particular order:
// 4-connected pixels above kTextLikely, at least 3 pixels across both ways, mean above
// kRegionLikely, each grown by kGrowth and clipped to the map.
std::vector<TextBox> RegionBoxes(const std::vector<float>& map, int width, int height);

class TextDetector {
 public:
  static constexpr int kLongestSide = 1760;

  // Loads the detector network; throws ModelError.
  explicit TextDetector(const std::string& modelPath);

  // The boxes of the page's text lines in page pixels. Throws ModelError when the network fails.
  std::vector<TextBox> Detect(const OneBitImage& page);

 private:
  Network network_;
};

}  // namespace brevis::neural
