// Tests of LooksLikeTiff, with files written by libtiff as the reference for real TIFFs.
#include "download/tiff_check.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "download/tests/tiff_sample.h"

namespace brevis {
namespace {

bool Check(const std::string& bytes) {
  return LooksLikeTiff(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("tiff_check_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

// A bilevel page of `width` x `height` with a diagonal line, written by libtiff with CCITT
// Group 4 coding; `mode` "w" for little-endian, "wb" for big-endian byte order.
std::string LibtiffPage(const char* mode, uint32_t width, uint32_t height) {
  const std::string path = TempPath(mode);
  TIFF* tif = TIFFOpen(path.c_str(), mode);
  if (tif == nullptr) return {};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
  std::vector<uint8_t> row((width + 7) / 8);
  for (uint32_t y = 0; y < height; ++y) {
    std::fill(row.begin(), row.end(), 0);
    const uint32_t x = y % width;
    row[x / 8] = static_cast<uint8_t>(0x80u >> (x % 8));
    TIFFWriteScanline(tif, row.data(), y, 0);
  }
  TIFFClose(tif);
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  return bytes;
}

// libtiff can open the bytes and read their first directory's image.
bool LibtiffReads(const std::string& bytes) {
  const std::string path = TempPath("read.tif");
  std::ofstream(path, std::ios::binary) << bytes;
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  bool ok = false;
  if (tif != nullptr) {
    uint32_t width = 0;
    uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    std::vector<uint32_t> pixels(std::size_t{width} * height);
    ok = width > 0 && TIFFReadRGBAImage(tif, width, height, pixels.data(), 0) == 1;
    TIFFClose(tif);
  }
  std::filesystem::remove(path);
  return ok;
}

TEST(TiffCheckTest, AcceptsRealTiffs) {
  const std::string samples[] = {test::TiffSample(7), LibtiffPage("w", 200, 300),
                                 LibtiffPage("wb", 64, 40)};
  for (const std::string& bytes : samples) {
    SCOPED_TRACE(bytes.substr(0, 2));
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(LibtiffReads(bytes));
    EXPECT_TRUE(Check(bytes));
  }
}

TEST(TiffCheckTest, RejectsBodiesThatAreNoTiff) {
  const std::string sample = test::TiffSample(7);
  const std::string g4 = LibtiffPage("w", 200, 300);
  std::string strip_past_end = sample;
  strip_past_end[8 + 2 + 5 * 12 + 8] = 0x7F;  // StripOffsets value far beyond the data
  std::string no_entries = sample.substr(0, 8) + std::string(6, '\0');
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case kCases[] = {
      {"empty", ""},
      {"html error page", "<html><body>Service busy, try again</body></html>"},
      {"header only", sample.substr(0, 8)},
      {"wrong magic number", "II+\0" + sample.substr(4)},
      {"unknown byte order", "IM" + sample.substr(2)},
      {"directory before the header's end",
       sample.substr(0, 4) + std::string("\4\0\0\0", 4) + sample.substr(8)},
      {"directory cut short", sample.substr(0, 40)},
      {"strip data cut short", sample.substr(0, sample.size() - 1)},
      {"strip past the end", strip_past_end},
      {"directory without entries", no_entries},
      {"G4 page cut in its strips", g4.substr(0, g4.size() / 2)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(Check(c.bytes));
  }
}

}  // namespace
}  // namespace brevis
