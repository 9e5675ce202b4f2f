// libtiff as the tests' reference for fax data: its own Group 4 coder, and its decoders run on
// our data wrapped in a TIFF file held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace brevis::test {

// Rows are packed (width + 7) / 8 bytes each, most significant bit first, 1 = black.

// What libtiff's Group 4 coder writes for the rows (one strip, black is 1, MSB first).
std::vector<uint8_t> LibtiffGroup4(const std::vector<uint8_t>& rows, int width, int height);
// The whole TIFF file libtiff writes for the rows with Group 4 compression: the coding alone,
// for timing against our coder.
std::vector<uint8_t> LibtiffGroup4File(const std::vector<uint8_t>& rows, int width, int height);

enum class FaxCoding {
  k1D,      // Modified Huffman, rows back to back, no EOL, no fill bits
  k2D,      // T.4 two-dimensional: EOL and tag bit before every row, no fill bits
  kGroup4,  // T.6
};

// Decodes fax data with libtiff; the rows come back with their free bits 0. Throws
// std::runtime_error with libtiff's message when it reports an error or a warning.
std::vector<uint8_t> LibtiffDecode(const std::vector<uint8_t>& data, int width, int height,
                                   FaxCoding coding);

// Group 4 data of another coder than libtiff's and ours, valid but not what either writes: every
// row in horizontal mode only, and with `splitMakeups` every run of 128 pixels or more with a
// make-up code of 64 before the make-up code of the rest.
std::vector<uint8_t> HorizontalGroup4(const std::vector<uint8_t>& rows, int width, int height,
                                      bool splitMakeups);

// A whole TIFF file (one image, one strip, MinIsWhite, FillOrder 1) whose strip is the given
// Group 4 data as it is, damaged or not.
std::vector<uint8_t> Group4FileOf(const std::vector<uint8_t>& data, int width, int height);

// Decodes one strip of Group 4 data as the TIFF import reads a page with libtiff, a scanline at
// a time: an error (a read failing, or libtiff reporting one) refuses the data with nullopt;
// warnings are ignored and the rows libtiff gives are kept (free bits 0). `lsbFirst`: the data's
// FillOrder is 2.
std::optional<std::vector<uint8_t>> LibtiffDecodeAsImport(const uint8_t* data, std::size_t size,
                                                          int width, int height, bool lsbFirst);

}  // namespace brevis::test
