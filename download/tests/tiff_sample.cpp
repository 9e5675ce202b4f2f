// TiffSample: builds a minimal TIFF file byte by byte.
#include "download/tests/tiff_sample.h"

namespace brevis::test {

namespace {

void Put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// One directory entry holding a single SHORT (3) or LONG (4) value inline.
void Entry(std::string& out, uint32_t tag, uint32_t type, uint32_t value) {
  Put16(out, tag);
  Put16(out, type);
  Put32(out, 1);
  if (type == 3) {
    Put16(out, value);
    Put16(out, 0);
  } else {
    Put32(out, value);
  }
}

}  // namespace

std::string TiffSample(uint32_t marker) {
  constexpr uint32_t kEntries = 9;
  constexpr uint32_t kData = 8 + 2 + kEntries * 12 + 4;
  std::string out = "II";
  Put16(out, 42);
  Put32(out, 8);  // first directory right after the header
  Put16(out, kEntries);
  Entry(out, 256, 4, 32);     // ImageWidth
  Entry(out, 257, 4, 1);      // ImageLength
  Entry(out, 258, 3, 1);      // BitsPerSample
  Entry(out, 259, 3, 1);      // Compression: none
  Entry(out, 262, 3, 0);      // PhotometricInterpretation: white is zero
  Entry(out, 273, 4, kData);  // StripOffsets
  Entry(out, 277, 3, 1);      // SamplesPerPixel
  Entry(out, 278, 4, 1);      // RowsPerStrip
  Entry(out, 279, 4, 4);      // StripByteCounts
  Put32(out, 0);              // no further directory
  Put32(out, marker);
  return out;
}

}  // namespace brevis::test
