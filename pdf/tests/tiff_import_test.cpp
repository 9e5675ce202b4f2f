// TIFF page import: slicing, placement with both paint types, several images per file, colour
// pages, failures that leave the document usable, and the one-bit decoding giving the very bytes
// of the plain path.
#include "pdf/tiff_import.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "pdf/flate.h"
#include "pdf/object_writer.h"
#include "pdf/pdf_document.h"
#include "pdf/pdf_error.h"
#include "pdf/tests/fax_oracle.h"
#include "pdf/tests/pdf_test_support.h"
#include "pdf/tests/tiff_files.h"
#include "pdf/tiff_group4.h"

namespace brevis {
namespace {

using test::ScratchFolder;
using test::TiffCoding;
using test::TiffPicture;

const PdfStreamObject& ImageAt(PdfDocument& document, std::size_t index) {
  return static_cast<const PdfStreamObject&>(*document.XImages().at(index).ImageObject);
}

// The "cm" lines of the open page: translation, then scale, per placed image.
std::vector<std::string> Placements(PdfDocument& document) {
  std::vector<std::string> lines;
  for (const std::string& line : document.CurrentPage()->PageContent()) {
    if (line.ends_with(" cm")) lines.push_back(line);
  }
  return lines;
}

std::string ExpectThrows(const std::function<void()>& action) {
  try {
    action();
  } catch (const PdfError& e) {
    return e.what();
  }
  return "no error";
}

TEST(TiffSliceRangesTest, SliceRowCounts) {
  struct Case {
    int32_t height;
    std::vector<std::pair<int32_t, int32_t>> ranges;
  };
  const Case kCases[] = {
      {1, {{0, 1}}},
      {1199, {{0, 1199}}},
      {1200, {{0, 1200}}},
      {1201, {{0, 1201}}},
      {2400, {{0, 1200}, {1199, 1201}}},
      {2401, {{0, 1200}, {1199, 1200}, {2398, 3}}},
      {3508, {{0, 1200}, {1199, 1200}, {2398, 1110}}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.height);
    EXPECT_EQ(TiffSliceRanges(c.height), c.ranges);
  }
}

class TiffImportTest : public ::testing::Test {
 protected:
  TiffImportTest() { document.BeginDoc(); }

  std::string Write(const std::string& name, const std::vector<TiffPicture>& pictures) {
    const std::string path = scratch.File(name);
    test::WriteTiffFile(path, pictures);
    return path;
  }

  ScratchFolder scratch;
  PdfDocument document;
};

TEST_F(TiffImportTest, A4PageScaledToThePageWidthInThreeSlices) {
  const TiffPicture page = test::TextPicture(2480, 3508, 11);
  document.AddTiffFromFile(Write("a4.tif", {page}), icCCITT42, tptResizeImage);
  ASSERT_EQ(document.XImages().size(), 3u);
  const int32_t first[] = {0, 1199, 2398};
  const int32_t rows[] = {1200, 1200, 1110};
  const std::ptrdiff_t stride = 310;
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(document.XImages()[i].Width, 2480);
    EXPECT_EQ(document.XImages()[i].Height, rows[i]);
    const auto begin = page.pixels.begin() + first[i] * stride;
    EXPECT_EQ(test::LibtiffDecode(ImageAt(document, i).Stream().Bytes(), 2480, rows[i],
                                  test::FaxCoding::kGroup4),
              std::vector<uint8_t>(begin, begin + rows[i] * stride));
  }
  // 595 wide and 287.9, 287.9 and 266.3 high, each slice where its first row lies in the whole
  // image scaled to 595 units: y 0, 1199 and 2398 times 595 / 2480 (287.66 and 575.32).
  EXPECT_EQ(Placements(document),
            (std::vector<std::string>{"1 0 0 1 0 554.1 cm", "595 0 0 287.9 0 0 cm",
                                      "1 0 0 1 0 266.43 cm", "595 0 0 287.9 0 0 cm",
                                      "1 0 0 1 0 0.36 cm", "595 0 0 266.31 0 0 cm"}));
}

TEST_F(TiffImportTest, ResizePageGivesThePageTheImageSize) {
  document.AddTiffFromFile(Write("small.tif", {test::TextPicture(1000, 800, 1)}), icCCITT42,
                           tptResizePage);
  EXPECT_EQ(document.CurrentPage()->Width(), 1000);
  EXPECT_EQ(document.CurrentPage()->Height(), 800);
  EXPECT_EQ(Placements(document),
            (std::vector<std::string>{"1 0 0 1 0 0 cm", "1000 0 0 800 0 0 cm"}));

  document.AddPage();
  document.AddTiffFromFile(Write("a4.tif", {test::TextPicture(2480, 3508, 2)}), icCCITT42,
                           tptResizePage);
  EXPECT_EQ(document.CurrentPage()->Height(), 3508);
  // Slices at y 0, 1199 and 2398.
  EXPECT_EQ(
      Placements(document),
      (std::vector<std::string>{"1 0 0 1 0 2308 cm", "2480 0 0 1200 0 0 cm", "1 0 0 1 0 1109 cm",
                                "2480 0 0 1200 0 0 cm", "1 0 0 1 0 0 cm", "2480 0 0 1110 0 0 cm"}));
}

TEST_F(TiffImportTest, EveryImageOfAFileGetsItsPage) {
  const std::string path =
      Write("three.tif", {test::TextPicture(300, 200, 1), test::TextPicture(301, 1300, 2),
                          test::TextPicture(302, 100, 3)});
  document.AddTiffFromFile(path, icCCITT42, tptResizePage);
  EXPECT_EQ(document.PagesCount(), 3);
  EXPECT_EQ(document.CurrentPageNumber(), 2);
  EXPECT_EQ(document.CurrentPage()->Width(), 302);
  ASSERT_EQ(document.XImages().size(), 4u);  // the second image in two slices
  EXPECT_EQ(document.XImages()[3].Name, "Im3");
  document.SetFileName(scratch.File("three.pdf"));
  document.EndDoc();
  pdf_test::ExpectValidPdf(scratch.File("three.pdf"), 3);
}

TEST_F(TiffImportTest, ColourPagesKeepTheirColoursWithFlate) {
  for (const int height : {50, 1300}) {
    SCOPED_TRACE(height);
    document.BeginDoc();
    const TiffPicture picture = test::ColourPicture(60, height);
    document.AddTiffFromFile(Write("colour.tif", {picture}), icFlate, tptResizeImage);
    std::vector<uint8_t> rgb;
    for (std::size_t i = 0; i < document.XImages().size(); ++i) {
      const std::vector<uint8_t> slice = FlateDecompress(ImageAt(document, i).Stream().Bytes());
      // Slices after the first repeat the row they share with the slice above.
      const std::size_t skip = i == 0 ? 0 : 180;
      rgb.insert(rgb.end(), slice.begin() + static_cast<std::ptrdiff_t>(skip), slice.end());
    }
    EXPECT_EQ(rgb, picture.pixels);
  }
}

TEST_F(TiffImportTest, FailuresNameTheirCauseAndLeaveTheDocumentUsable) {
  const std::string good = Write("good.tif", {test::TextPicture(500, 300, 5)});
  const std::string text = test::ReadFile(good);
  test::WriteFile(scratch.File("empty.tif"), "");
  test::WriteFile(scratch.File("text.tif"), "not a picture\n");
  // Cut inside the fax data, which lies before the directory libtiff writes at the end.
  std::string cut = text;
  for (std::size_t i = 8; i < 208; ++i) cut[i] = '\0';
  test::WriteFile(scratch.File("damaged.tif"), cut);
  TiffPicture wide = test::TextPicture(30000, 2, 1);
  TiffPicture huge{12000, 12000, false, std::vector<uint8_t>(1500 * 12000, 0)};

  struct Case {
    std::string path;
    const char* message;
    int images;  // images added before the failure
  };
  const Case kCases[] = {
      {scratch.File("missing.tif"), "Invalid tiff file name", 0},
      {scratch.File("empty.tif"), "Invalid tiff file name", 0},
      {scratch.File("text.tif"), "Invalid tiff file name", 0},
      {scratch.File("damaged.tif"), "Cannot decode tiff image", 0},
      {Write("wide.tif", {wide}), "Tiff image too large", 0},
      {Write("huge.tif", {huge}), "Tiff image too large", 0},
      {Write("second.tif", {test::TextPicture(40, 40, 1), wide}), "Tiff image too large", 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    document.BeginDoc();
    EXPECT_EQ(ExpectThrows([&] { document.AddTiffFromFile(c.path, icCCITT42, tptResizeImage); }),
              c.message);
    EXPECT_EQ(document.XImages().size(), static_cast<std::size_t>(c.images));
    document.AddPage();
    document.AddTiffFromFile(good, icCCITT42, tptResizeImage);
    document.SetFileName(scratch.File("after.pdf"));
    document.EndDoc();
    pdf_test::ExpectValidPdf(scratch.File("after.pdf"), c.images == 0 ? 2 : 3);
  }
}

// One-bit decoding changes nothing in the file.

std::string DictionaryText(const PdfStreamObject& image) {
  MemoryStream out;
  ObjectWriter(out).WriteObject(const_cast<PdfStreamObject&>(image).Dictionary(), true);
  return out.ToString();
}

// A bilevel or colour picture stored in tiles of the given size.
TiffPicture Tiled(TiffPicture picture, int tileWidth, int tileLength) {
  picture.tileWidth = tileWidth;
  picture.tileLength = tileLength;
  return picture;
}

TEST_F(TiffImportTest, BandedDecodingsGiveTheImagesOfWholeDecoding) {
  TiffPicture black_is_zero = test::TextPicture(1001, 1201, 3, TiffCoding::kNone);
  black_is_zero.minIsBlack = true;
  black_is_zero.rowsPerStrip = 100;
  TiffPicture packbits = test::TextPicture(17, 2401, 4, TiffCoding::kPackBits);
  packbits.minIsBlack = true;
  TiffPicture striped = test::TextPicture(1728, 2400, 5, TiffCoding::kGroup3);
  striped.rowsPerStrip = 7;
  TiffPicture lsb_first = test::TextPicture(2479, 3508, 7);
  lsb_first.lsbFirst = true;
  TiffPicture tiled_lsb_first =
      Tiled(test::TextPicture(1003, 1300, 8, TiffCoding::kGroup3), 64, 48);
  tiled_lsb_first.lsbFirst = true;
  TiffPicture tiled_black_is_zero =
      Tiled(test::TextPicture(999, 2500, 9, TiffCoding::kLzw), 256, 1024);
  tiled_black_is_zero.minIsBlack = true;
  TiffPicture colour_strips = test::ColourPicture(61, 2500);
  colour_strips.rowsPerStrip = 9;
  const std::vector<std::vector<TiffPicture>> files = {
      // Strips: one, many, one row's worth of strips; both photometries and fill orders.
      {test::TextPicture(2480, 3508, 1)},
      {black_is_zero},
      {packbits, test::TextPicture(333, 57, 6, TiffCoding::kLzw)},
      {striped},
      {lsb_first},
      // Tiles smaller and larger than a slice, across widths that are no multiple of theirs or
      // of 8.
      {Tiled(test::TextPicture(2479, 3508, 10), 512, 512)},
      {Tiled(test::TextPicture(1001, 1250, 11), 16, 16),
       Tiled(test::TextPicture(40, 30, 12), 48, 32)},
      {Tiled(test::TextPicture(3000, 2403, 13), 2048, 1200)},
      {tiled_lsb_first},
      {tiled_black_is_zero},
      // Colour in one strip, in strips and in tiles.
      {test::ColourPicture(40, 1250)},
      {colour_strips},
      {Tiled(test::ColourPicture(150, 1300), 64, 32)},
  };
  for (std::size_t f = 0; f < files.size(); ++f) {
    const std::string path = Write("page.tif", files[f]);
    for (const PdfImageCompressionType type : {icFlate, icCCITT31, icCCITT32, icCCITT42}) {
      if (type == icFlate && !files[f][0].colour) continue;
      const PreparedTiff whole = PrepareTiff(path, type, 100, TiffDecoding::kWhole);
      ASSERT_FALSE(whole.Error);
      for (const TiffDecoding decoding :
           {TiffDecoding::kAuto, TiffDecoding::kOneBit, TiffDecoding::kRgba}) {
        SCOPED_TRACE(std::to_string(f) + " " + std::to_string(type) + " " +
                     std::to_string(static_cast<int>(decoding)));
        const PreparedTiff banded = PrepareTiff(path, type, 100, decoding);
        ASSERT_FALSE(banded.Error);
        ASSERT_EQ(banded.Images.size(), whole.Images.size());
        for (std::size_t i = 0; i < banded.Images.size(); ++i) {
          ASSERT_EQ(banded.Images[i].Slices.size(), whole.Images[i].Slices.size());
          for (std::size_t s = 0; s < banded.Images[i].Slices.size(); ++s) {
            const TiffSlice& a = banded.Images[i].Slices[s];
            const TiffSlice& b = whole.Images[i].Slices[s];
            EXPECT_EQ(a.Rows, b.Rows);
            EXPECT_EQ(DictionaryText(*a.Image), DictionaryText(*b.Image));
            EXPECT_EQ(a.Image->Stream().Bytes(), b.Image->Stream().Bytes());
          }
        }
      }
    }
  }
}

TEST_F(TiffImportTest, DecodedPagesHoldThePicturesRows) {
  TiffPicture black_is_zero = Tiled(test::TextPicture(1001, 300, 2), 64, 64);
  black_is_zero.minIsBlack = true;
  const std::vector<TiffPicture> pictures = {test::TextPicture(1001, 300, 1), black_is_zero,
                                             Tiled(test::TextPicture(2479, 700, 3), 512, 512)};
  const std::vector<OneBitImage> images = DecodeTiffPages(Write("pages.tif", pictures));
  ASSERT_EQ(images.size(), pictures.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    SCOPED_TRACE(i);
    const TiffPicture& p = pictures[i];
    const std::size_t stride = (static_cast<std::size_t>(p.width) + 7) / 8;
    ASSERT_EQ(images[i].Stride, stride);
    // The pictures' 1 bits are black, the decoded pages' 0 bits; the bits beyond the width are
    // free.
    const uint8_t tail =
        static_cast<uint8_t>(0xff << (8 * stride - static_cast<std::size_t>(p.width)));
    for (std::size_t y = 0; y < static_cast<std::size_t>(p.height); ++y) {
      for (std::size_t x = 0; x < stride; ++x) {
        const uint8_t mask = x + 1 == stride ? tail : 0xff;
        const uint8_t want = static_cast<uint8_t>(~p.pixels[y * stride + x]) & mask;
        const uint8_t got = images[i].Rows[y * stride + x] & mask;
        ASSERT_EQ(got, want) << "row " << y << " byte " << x;
      }
    }
  }
}

// --- Group 4 pages transcoded without a bitmap ---

// The slices TranscodeGroup4 codes for the first image of a file, or nullopt when it leaves the
// image to libtiff.
std::optional<std::vector<TiffSlice>> Transcoded(const std::string& path,
                                                 PdfImageCompressionType type) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) throw std::runtime_error("cannot open " + path);
  uint32_t w = 0, h = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  std::optional<std::vector<TiffSlice>> slices = TranscodeGroup4(
      tif, static_cast<int32_t>(w), static_cast<int32_t>(h), PdfImage::CreateCode(type));
  TIFFClose(tif);
  return slices;
}

void ExpectSameSlices(const std::vector<TiffSlice>& a, const std::vector<TiffSlice>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t s = 0; s < a.size(); ++s) {
    SCOPED_TRACE("slice " + std::to_string(s));
    EXPECT_EQ(a[s].Rows, b[s].Rows);
    EXPECT_EQ(DictionaryText(*a[s].Image), DictionaryText(*b[s].Image));
    EXPECT_EQ(a[s].Image->Stream().Bytes(), b[s].Image->Stream().Bytes());
  }
}

TEST_F(TiffImportTest, TranscodedGroup4PagesGiveTheBytesOfLibtiffDecoding) {
  struct Case {
    int width;
    int height;
    bool lsbFirst;    // FillOrder 2
    bool minIsBlack;  // PhotometricInterpretation 1
    int tileSize;     // 0: one strip
  };
  const Case kCases[] = {
      // One strip: widths at byte borders and the fax widths, heights at the slice borders.
      {1, 1, false, false, 0},
      {7, 1199, true, false, 0},
      {8, 1200, false, true, 0},
      {9, 1201, true, true, 0},
      {1727, 2400, false, false, 0},
      {1728, 2401, true, false, 0},
      {2480, 3508, false, true, 0},
      {2480, 37, true, true, 0},
      // Tiles: the band's rows joined across tiles, tiles past the right and bottom edges.
      {2480, 1201, false, false, 256},
      {1000, 1300, true, true, 512},
      {9, 33, false, true, 16},
      {300, 40, true, false, 16},
  };
  for (const Case& c : kCases) {
    TiffPicture picture = test::TextPicture(c.width, c.height, static_cast<uint32_t>(c.width));
    // A black column at the right edge and a black top row, so that rows end black and one row
    // is black across every tile border.
    const std::size_t stride = (static_cast<std::size_t>(c.width) + 7) / 8;
    const auto set_black = [&](int x, int y) {
      picture.pixels[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) / 8] |=
          static_cast<uint8_t>(0x80u >> (x % 8));
    };
    for (int y = 0; y < c.height; ++y) set_black(c.width - 1, y);
    for (int x = 0; x < c.width; ++x) set_black(x, 0);
    picture.lsbFirst = c.lsbFirst;
    picture.minIsBlack = c.minIsBlack;
    picture.tileWidth = c.tileSize;
    picture.tileLength = c.tileSize;
    const std::string path = Write("page.tif", {picture});
    for (const PdfImageCompressionType type : {icCCITT42, icCCITT31, icCCITT32}) {
      SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " fill " +
                   std::to_string(c.lsbFirst) + " min-is-black " + std::to_string(c.minIsBlack) +
                   " tiles " + std::to_string(c.tileSize) + " coding " + std::to_string(type));
      const std::optional<std::vector<TiffSlice>> transcoded = Transcoded(path, type);
      ASSERT_TRUE(transcoded.has_value());
      // libtiff decodes strips to one bit per pixel and tiles to colour.
      const PreparedTiff libtiff = PrepareTiff(path, type, 100, TiffDecoding::kOneBit);
      const PreparedTiff automatic = PrepareTiff(path, type, 100, TiffDecoding::kAuto);
      ASSERT_FALSE(libtiff.Error);
      ASSERT_FALSE(automatic.Error);
      ASSERT_EQ(libtiff.Images.size(), 1u);
      ExpectSameSlices(*transcoded, libtiff.Images[0].Slices);
      ExpectSameSlices(automatic.Images[0].Slices, libtiff.Images[0].Slices);
      if (type == icCCITT42) {
        // And the pixels are the picture's: libtiff decodes the first slice.
        const int rows = libtiff.Images[0].Slices[0].Rows;
        const std::vector<uint8_t> first(
            picture.pixels.begin(),
            picture.pixels.begin() + static_cast<std::ptrdiff_t>(stride) * rows);
        EXPECT_EQ(test::LibtiffDecode((*transcoded)[0].Image->Stream().Bytes(), c.width, rows,
                                      test::FaxCoding::kGroup4),
                  first);
      }
    }
  }
}

// Rows our coder would code otherwise than the page's coder did are coded again, not copied:
// pages coded in horizontal mode only, some with make-up codes split in two.
TEST_F(TiffImportTest, Group4RowsOfAnotherCoderAreCodedAgain) {
  const int width = 2480, height = 1300;
  const TiffPicture picture = test::TextPicture(width, height, 21);
  for (const bool split : {false, true}) {
    const std::vector<uint8_t> file = test::Group4FileOf(
        test::HorizontalGroup4(picture.pixels, width, height, split), width, height);
    const std::string path = scratch.File("horizontal.tif");
    test::WriteFile(path, std::string(file.begin(), file.end()));
    for (const PdfImageCompressionType type : {icCCITT42, icCCITT32}) {
      SCOPED_TRACE(std::to_string(split) + " " + std::to_string(type));
      const std::optional<std::vector<TiffSlice>> transcoded = Transcoded(path, type);
      ASSERT_TRUE(transcoded.has_value());
      const PreparedTiff libtiff = PrepareTiff(path, type, 100, TiffDecoding::kOneBit);
      ASSERT_FALSE(libtiff.Error);
      ExpectSameSlices(*transcoded, libtiff.Images.at(0).Slices);
    }
  }
}

// Group 4 data that our decoder does not take to the last row: libtiff decodes the page as
// before, refusing it with the import's error or mending it with a warning.
TEST_F(TiffImportTest, DamagedGroup4PagesAreLeftToLibtiff) {
  const int width = 200, height = 50;
  const TiffPicture picture = test::TextPicture(width, height, 3);
  const std::vector<uint8_t> good = test::LibtiffGroup4(picture.pixels, width, height);
  const std::vector<uint8_t> early_end =
      test::LibtiffGroup4({picture.pixels.begin(), picture.pixels.begin() + 25 * 10}, width, 10);
  std::vector<uint8_t> flipped = good;
  flipped[good.size() / 3] = static_cast<uint8_t>(~flipped[good.size() / 3]);
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    const char* error;  // the import's error, or null when libtiff mends the page
  };
  const Case kCases[] = {
      {"cut in half",
       {good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2)},
       nullptr},
      {"end of data after 10 rows", early_end, nullptr},
      {"a byte flipped", flipped, "Cannot decode tiff image"},
      {"zeros", std::vector<uint8_t>(good.size(), 0), "Cannot decode tiff image"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = scratch.File("damaged.tif");
    const std::vector<uint8_t> file = test::Group4FileOf(c.data, width, height);
    test::WriteFile(path, std::string(file.begin(), file.end()));
    EXPECT_FALSE(Transcoded(path, icCCITT42).has_value());
    const PreparedTiff automatic = PrepareTiff(path, icCCITT42, 100, TiffDecoding::kAuto);
    const PreparedTiff libtiff = PrepareTiff(path, icCCITT42, 100, TiffDecoding::kOneBit);
    if (c.error == nullptr) {
      ASSERT_FALSE(automatic.Error);
      ASSERT_FALSE(libtiff.Error);
      ExpectSameSlices(automatic.Images.at(0).Slices, libtiff.Images.at(0).Slices);
    } else {
      EXPECT_TRUE(automatic.Images.empty());
      EXPECT_EQ(ExpectThrows([&] { std::rethrow_exception(automatic.Error); }), c.error);
    }
  }
}

}  // namespace
}  // namespace brevis
