// Writing the import tests' TIFF files with libtiff.
#include "pdf/tests/tiff_files.h"

#include <tiffio.h>

#include <algorithm>
#include <stdexcept>

#include "pdf/tests/text_page.h"

namespace brevis::test {

namespace {

// Writes the packed rows of a bilevel picture tile by tile; a tile's pixels past the picture are
// white (0).
void WriteTiles(TIFF* tif, const TiffPicture& p, const std::vector<uint8_t>& data,
                std::size_t row_bytes, const std::string& path) {
  if (p.colour || p.tileSize % 8 != 0) throw std::runtime_error("bilevel tiles only");
  const auto side = static_cast<std::size_t>(p.tileSize);
  const std::size_t tile_row_bytes = side / 8;
  std::vector<uint8_t> tile(tile_row_bytes * side);
  for (int ty = 0; ty < p.height; ty += p.tileSize) {
    for (int tx = 0; tx < p.width; tx += p.tileSize) {
      std::fill(tile.begin(), tile.end(), 0);
      for (std::size_t y = 0; y < side && ty + static_cast<int>(y) < p.height; ++y) {
        for (std::size_t x = 0; x < side && tx + static_cast<int>(x) < p.width; ++x) {
          const std::size_t from = static_cast<std::size_t>(tx) + x;
          const uint8_t byte = data[(static_cast<std::size_t>(ty) + y) * row_bytes + from / 8];
          if ((byte >> (7 - from % 8)) & 1) {
            tile[y * tile_row_bytes + x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
          }
        }
      }
      if (TIFFWriteTile(tif, tile.data(), static_cast<uint32_t>(tx), static_cast<uint32_t>(ty), 0,
                        0) < 0) {
        throw std::runtime_error("cannot write a tile of " + path);
      }
    }
  }
}

}  // namespace

void WriteTiffFile(const std::string& path, const std::vector<TiffPicture>& pictures) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) throw std::runtime_error("cannot write " + path);
  for (const TiffPicture& p : pictures) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(p.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(p.height));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (p.tileSize > 0) {
      TIFFSetField(tif, TIFFTAG_TILEWIDTH, static_cast<uint32_t>(p.tileSize));
      TIFFSetField(tif, TIFFTAG_TILELENGTH, static_cast<uint32_t>(p.tileSize));
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
    if (p.tileSize > 0) {
      WriteTiles(tif, p, data, row_bytes, path);
    }
    for (int y = 0; p.tileSize == 0 && y < p.height; ++y) {
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
