// OneBitImage: a decoded black and white page as packed rows, the form in which pages go from
// the TIFF reader to recognition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brevis {

// Rows of Stride bytes, top row first, pixels from the most significant bit of each byte; a 0 bit
// is black, a 1 bit white. Bits beyond the width in a row's last byte are free.
struct OneBitImage {
  int32_t Width = 0;
  int32_t Height = 0;
  std::size_t Stride = 0;
  int32_t Dpi = 0;  // the image's resolution; 0 when the file does not say
  std::vector<uint8_t> Rows;
};

}  // namespace brevis
