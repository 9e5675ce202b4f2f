// Writes a one-bit page as Group 4 TIFF with libtiff, through a file held in memory.
#include "stand_in/group4_tiff.h"

#include <tiffio.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "common/tiff_memory_file.h"

namespace brevis {

std::string EncodeGroup4Tiff(const OneBitImage& page) {
  // MinIsWhite codes black as 1, the image holds it as 0: the strip gets the rows inverted, free
  // bits black-free (0).
  const std::size_t rowBytes = (static_cast<std::size_t>(page.Width) + 7) / 8;
  std::vector<uint8_t> strip(rowBytes * static_cast<std::size_t>(page.Height));
  for (std::size_t y = 0; y < static_cast<std::size_t>(page.Height); ++y) {
    const uint8_t* in = page.Rows.data() + y * page.Stride;
    uint8_t* out = strip.data() + y * rowBytes;
    for (std::size_t i = 0; i < rowBytes; ++i) out[i] = static_cast<uint8_t>(~in[i]);
    if (page.Width % 8 != 0) out[rowBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (page.Width % 8));
  }
  TiffMemoryFile file;
  TIFF* tiff = OpenTiffMemoryFile(file, "page.tif", "w");
  bool ok = tiff != nullptr;
  if (ok) {
    const auto width = static_cast<uint32_t>(page.Width);
    const auto height = static_cast<uint32_t>(page.Height);
    ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width) &&
         TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
         TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1) &&
         TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1) &&
         TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
         TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
         TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
         TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height) &&
         TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<double>(page.Dpi)) &&
         TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<double>(page.Dpi)) &&
         TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
         TIFFWriteEncodedStrip(tiff, 0, strip.data(), static_cast<tmsize_t>(strip.size())) >= 0 &&
         TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
  }
  if (!ok) throw std::runtime_error("Could not encode the page as Group 4 TIFF.");
  return std::move(file.Bytes);
}

}  // namespace brevis
