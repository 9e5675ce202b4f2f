// TiffSample: a small but complete TIFF file for tests, whose pixels carry a marker so that each
// page of a test download has bytes of its own.
#pragma once

#include <cstdint>
#include <string>

namespace brevis::test {

// A little-endian, uncompressed, one-strip bilevel image of 32 x 1 pixels whose four bytes of
// pixel data are `marker` (least significant byte first).
std::string TiffSample(uint32_t marker);

}  // namespace brevis::test
