// TiffMemoryFile: libtiff writes a file into memory and reads it back from there, several images
// and a strip it seeks back to; a file that is no TIFF is refused.
#include "common/tiff_memory_file.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace brevis {
namespace {

void WriteImage(TIFF* tif, uint32_t width, uint32_t height, uint8_t value) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
  std::vector<uint8_t> pixels(std::size_t{width} * height, value);
  ASSERT_GE(TIFFWriteEncodedStrip(tif, 0, pixels.data(), static_cast<tmsize_t>(pixels.size())), 0);
  ASSERT_TRUE(TIFFWriteDirectory(tif));
}

TEST(TiffMemoryFileTest, WritesAndReadsBackThroughMemory) {
  TiffMemoryFile file;
  TIFF* out = OpenTiffMemoryFile(file, "test.tif", "w");
  ASSERT_NE(out, nullptr);
  WriteImage(out, 16, 16, 0x40);
  WriteImage(out, 5, 3, 0xC0);
  TIFFClose(out);
  ASSERT_GE(file.Bytes.size(), 16u * 16u + 15u);
  EXPECT_EQ(file.Bytes.substr(0, 4), std::string("II*\0", 4));  // little-endian, as this machine

  // Reading starts again at the front, whatever the last write left.
  TIFF* in = OpenTiffMemoryFile(file, "test.tif", "r");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(TIFFNumberOfDirectories(in), 2);
  const struct {
    uint32_t width, height;
    uint8_t value;
  } kImages[] = {{16, 16, 0x40}, {5, 3, 0xC0}};
  for (int d = 0; d < 2; ++d) {
    SCOPED_TRACE(d);
    ASSERT_TRUE(TIFFSetDirectory(in, static_cast<tdir_t>(d)));
    uint32_t width = 0, height = 0;
    TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height);
    EXPECT_EQ(width, kImages[d].width);
    EXPECT_EQ(height, kImages[d].height);
    std::vector<uint8_t> pixels(std::size_t{width} * height);
    ASSERT_EQ(TIFFReadEncodedStrip(in, 0, pixels.data(), static_cast<tmsize_t>(pixels.size())),
              static_cast<tmsize_t>(pixels.size()));
    EXPECT_EQ(pixels, std::vector<uint8_t>(pixels.size(), kImages[d].value));
  }
  TIFFClose(in);

  // Too short to be a TIFF file: refused, not read past its end.
  TIFFSetErrorHandler(nullptr);
  TiffMemoryFile junk{"II*", 0};
  EXPECT_EQ(OpenTiffMemoryFile(junk, "junk.tif", "r"), nullptr);
}

}  // namespace
}  // namespace brevis
