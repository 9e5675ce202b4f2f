// Writing the import tests' TIFF files with libtiff.
#include "pdf/tests/tiff_files.h"

#include <tiffio.h>

#include <algorithm>
#include <stdexcept>

#include "pdf/tests/text_page.h"

namespace brevis::test {

namespace {

// Cuts the picture's rows into tiles, the parts beyond its right and bottom edges 0, and writes
// them. The tile width is a multiple of 8 for bilevel pictures, so each tile starts on a byte.
bool WriteTiles(TIFF* tif, const TiffPicture& p, const std::vector<uint8_t>& data,
                std::size_t row_bytes) {
  const std::size_t pixel_bits = p.colour ? 24 : 1;
  const std::size_t tile_row_bytes = (static_cast<std::size_t>(p.tileWidth) * pixel_bits + 7) / 8;
  std::vector<uint8_t> tile(tile_row_bytes * static_cast<std::size_t>(p.tileLength));
  for (int y0 = 0; y0 < p.height; y0 += p.tileLength) {
    for (int x0 = 0; x0 < p.width; x0 += p.tileWidth) {
      std::fill(tile.begin(), tile.end(), 0);
      const std::size_t offset = static_cast<std::size_t>(x0) * pixel_bits / 8;
      const std::size_t bytes = std::min(tile_row_bytes, row_bytes - offset);
      for (int y = 0; y < p.tileLength && y0 + y < p.height; ++y) {
        std::copy_n(data.data() + static_cast<std::size_t>(y0 + y) * row_bytes + offset, bytes,
                    tile.data() + static_cast<std::size_t>(y) * tile_row_bytes);
      }
      if (TIFFWriteTile(tif, tile.data(), static_cast<uint32_t>(x0), static_cast<uint32_t>(y0), 0,
                        0) < 0) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

void WriteTiffFile(const std::string& path, const std::vector<TiffPicture>& pictures) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) throw std::runtime_error("cannot write " + path);
  for (const TiffPicture& p : pictures) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(p.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(p.height));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (p.tileWidth > 0) {
      TIFFSetField(tif, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(p.tileWidth));
      TIFFSetField(tif, TIFFTAG_TILELENGTH, static_cast<uint32_t>(p.tileLength));
    } else {
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                   static_cast<uint32_t>(p.rowsPerStrip > 0 ? p.rowsPerStrip : p.height));
    }
    if (p.lsbFirst) TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
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
    bool written = true;
    if (p.tileWidth > 0) {
      written = WriteTiles(tif, p, data, row_bytes);
    } else {
      for (int y = 0; written && y < p.height; ++y) {
        written = TIFFWriteScanline(tif, data.data() + static_cast<std::size_t>(y) * row_bytes,
                                    static_cast<uint32_t>(y), 0) == 1;
      }
    }
    if (!written) {
      TIFFClose(tif);
      throw std::runtime_error("cannot write the pixels of " + path);
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
