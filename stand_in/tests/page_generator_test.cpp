// PageGenerator: libtiff reads back exactly the drawn page with the promised format, the bytes
// repeat from run to run, and the figure pages fall where documented.
#include "stand_in/page_generator.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace brevis {
namespace {

// Decodes a one-strip bilevel TIFF file with libtiff into packed rows, 1 = black.
struct Decoded {
  uint32_t Width = 0, Height = 0;
  uint16_t Compression = 0, Photometric = 0, Bits = 0;
  float XRes = 0, YRes = 0;
  std::vector<uint8_t> Rows;
};

Decoded Decode(const std::string& path) {
  Decoded d;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) {
    ADD_FAILURE() << "libtiff cannot open " << path;
    return d;
  }
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &d.Width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &d.Height);
  TIFFGetField(tiff, TIFFTAG_COMPRESSION, &d.Compression);
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &d.Photometric);
  TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &d.Bits);
  TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &d.XRes);
  TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &d.YRes);
  EXPECT_EQ(TIFFNumberOfStrips(tiff), 1u);
  d.Rows.resize(static_cast<std::size_t>(TIFFStripSize(tiff)));
  EXPECT_EQ(TIFFReadEncodedStrip(tiff, 0, d.Rows.data(), static_cast<tmsize_t>(d.Rows.size())),
            static_cast<tmsize_t>(d.Rows.size()));
  TIFFClose(tiff);
  return d;
}

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

TEST(PageGeneratorTest, LibtiffReadsBackTheDrawnPage) {
  const PageGenerator generator("200710038426", 12);
  for (int page : {1, 2, 12}) {
    SCOPED_TRACE(page);
    const std::string path = TempPath("page_generator_test_" + std::to_string(page) + ".tif");
    generator.WriteTiff(page, path);
    const Decoded d = Decode(path);
    std::filesystem::remove(path);
    EXPECT_EQ(d.Width, 2480u);
    EXPECT_EQ(d.Height, 3508u);
    EXPECT_EQ(d.Bits, 1);
    EXPECT_EQ(d.Compression, COMPRESSION_CCITTFAX4);
    EXPECT_EQ(d.Photometric, PHOTOMETRIC_MINISWHITE);
    EXPECT_FLOAT_EQ(d.XRes, 300.0f);
    EXPECT_FLOAT_EQ(d.YRes, 300.0f);
    const PageBitmap drawn = generator.Render(page);
    EXPECT_TRUE(d.Rows == drawn.Bits);
    // Text-like: some ink, mostly paper.
    const double ink = static_cast<double>(drawn.CountBlack()) / (2480.0 * 3508.0);
    EXPECT_GT(ink, 0.01);
    EXPECT_LT(ink, 0.25);
  }
}

TEST(PageGeneratorTest, SameBytesEveryRunAndEveryPageItsOwn) {
  const std::string a = PageGenerator("98123456", 3).Tiff(2);
  EXPECT_EQ(a, PageGenerator("98123456", 3).Tiff(2));
  EXPECT_NE(a, PageGenerator("98123456", 3).Tiff(3));
  EXPECT_NE(a, PageGenerator("98123457", 3).Tiff(2));
  // The header prints the page count too.
  EXPECT_NE(a, PageGenerator("98123456", 4).Tiff(2));
}

TEST(PageGeneratorTest, HeaderCarriesTheNumberAndThePage) {
  // The header band (above the rule) differs exactly where the number or the page differs.
  const auto header = [](const PageBitmap& page) {
    return std::vector<uint8_t>(page.Bits.begin(), page.Bits.begin() + 260 * page.Stride);
  };
  const PageBitmap base = PageGenerator("200710038426", 12).Render(3);
  EXPECT_GT(PageBitmap(base).CountBlack(), 0);
  EXPECT_NE(header(base), header(PageGenerator("200710038427", 12).Render(3)));
  EXPECT_NE(header(base), header(PageGenerator("200710038426", 12).Render(4)));
}

TEST(PageGeneratorTest, FilingDateIsARealDate) {
  struct Case {
    const char* number;
    const char* date;
  };
  const Case cases[] = {
      {"200710038426", "2007.01.15"},
      {"98123456", "1998.01.15"},
      {"85100001", "1985.01.15"},
      {"03123456", "2003.01.15"},
  };
  for (const Case& c : cases) EXPECT_EQ(FilingDate(c.number), c.date) << c.number;
}

TEST(PageGeneratorTest, FiguresOnTheFirstPageAndTheLastSixth) {
  struct Case {
    int pages;
    std::vector<int> figures;
  };
  const Case kCases[] = {
      {1, {}},
      {3, {1}},
      {12, {1, 11, 12}},
      {50, {1, 43, 44, 45, 46, 47, 48, 49, 50}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.pages);
    const PageGenerator generator("201910987654", c.pages);
    std::vector<int> figures;
    for (int page = 1; page <= c.pages; ++page) {
      if (generator.HasFigure(page)) figures.push_back(page);
    }
    EXPECT_EQ(figures, c.figures);
  }
}

TEST(PageGeneratorTest, RefusesBadArguments) {
  EXPECT_THROW(PageGenerator("12a4", 3), std::invalid_argument);
  EXPECT_THROW(PageGenerator("", 3), std::invalid_argument);
  EXPECT_THROW(PageGenerator("1234", 0), std::invalid_argument);
  EXPECT_THROW(PageGenerator("1234", 3).Render(4), std::out_of_range);
  EXPECT_THROW(PageGenerator("1234", 3).Render(0), std::out_of_range);
}

}  // namespace
}  // namespace brevis
