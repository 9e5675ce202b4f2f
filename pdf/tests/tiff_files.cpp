// Writing the import tests' TIFF files with libtiff.
#include "pdf/tests/tiff_files.h"

#include <tiffio.h>

#include <stdexcept>

#include "pdf/tests/text_page.h"

namespace brevis::test {

void WriteTiffFile(const std::string& path, const std::vector<TiffPicture>& pictures) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) throw std::runtime_error("cannot write " + path);
  for (const TiffPicture& p : pictures) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(p.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(p.height));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 static_cast<uint32_t>(p.rowsPerStrip > 0 ? p.rowsPerStrip : p.height));
    uint16_t compression = COMPRESSION_NONE;
    switch (p.coding) {
      case TiffCoding::kNone:
        compression = COMPRESSION_NONE;
        break;
      case TiffCoding::kGroup4:
        compression = COMPRESSION_CCITTFAX4;
        break;
      case TiffCoding::kGroup3:
        compression = COMPRESSION_CCITTFAX3;
        break;
      case TiffCoding::kLzw:
        compression = COMPRESSION_LZW;
        break;
      case TiffCoding::kPackBits:
        compression = COMPRESSION_PACKBITS;
        break;
    }
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    std::vector<uint8_t> data = p.pixels;
    std::size_t row_bytes = 0;
    if (p.colour) {
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
      row_bytes = 3 * static_cast<std::size_t>(p.width);
    } else {
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                   p.minIsBlack ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE);
      if (p.minIsBlack) {
        for (uint8_t& byte : data) byte = static_cast<uint8_t>(~byte);
      }
      row_bytes = (static_cast<std::size_t>(p.width) + 7) / 8;
    }
    for (int y = 0; y < p.height; ++y) {
      if (TIFFWriteScanline(tif, data.data() + static_cast<std::size_t>(y) * row_bytes,
                            static_cast<uint32_t>(y), 0) != 1) {
        TIFFClose(tif);
        throw std::runtime_error("cannot write a row of " + path);
      }
    }
    if (TIFFWriteDirectory(tif) != 1) {
      TIFFClose(tif);
      throw std::runtime_error("cannot write a directory of " + path);
    }
  }
  TIFFClose(tif);
}

TiffPicture TextPicture(int width, int height, uint32_t seed, TiffCoding coding) {
  TiffPicture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels = TextPageRows(width, height, seed);
  picture.coding = coding;
  return picture;
}

TiffPicture ColourPicture(int width, int height) {
  TiffPicture picture;
  picture.width = width;
  picture.height = height;
  picture.colour = true;
  picture.coding = TiffCoding::kLzw;
  picture.pixels.resize(3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* pixel = picture.pixels.data() + 3 * static_cast<std::size_t>(y * width + x);
      pixel[0] = static_cast<uint8_t>(x * 255 / width);
      pixel[1] = static_cast<uint8_t>((y / 7) % 2 == 0 ? 200 : 40);
      pixel[2] = static_cast<uint8_t>((x + y) % 256);
    }
  }
  return picture;
}

}  // namespace brevis::test
