// Flate (zlib format) coding of PDF stream data; zlib stays behind this interface.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace brevis {

// One zlib stream (header and Adler-32 trailer), deflate level 9, window 15 bits, memory level 8,
// default strategy. Throws PdfError ("Flate compression failed.") when zlib refuses.
std::vector<uint8_t> FlateCompress(std::span<const uint8_t> data);

// Inflates one zlib stream. Throws PdfError ("Flate data is invalid.") for damaged or cut data.
std::vector<uint8_t> FlateDecompress(std::span<const uint8_t> data);

}  // namespace brevis
