// Image objects: the dictionary of each coding, the data (decoded again by libtiff, zlib and
// libjpeg), names, masks and failures; the BMP and JPEG loaders behind the file form.
#include "pdf/pdf_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pdf/bitmap.h"
#include "pdf/bitmap_file.h"
#include "pdf/flate.h"
#include "pdf/jpeg_image.h"
#include "pdf/object_writer.h"
#include "pdf/pdf_document.h"
#include "pdf/pdf_error.h"
#include "pdf/tests/fax_oracle.h"
#include "pdf/tests/pdf_test_support.h"
#include "pdf/tests/text_page.h"

namespace brevis {
namespace {

using test::ScratchFolder;

std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string text = test::ReadFile(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string DictionaryText(PdfStreamObject& image) {
  MemoryStream out;
  ObjectWriter(out).WriteObject(image.Dictionary(), true);
  return out.ToString();
}

PdfStreamObject& ImageAt(PdfDocument& document, int32_t index) {
  return static_cast<PdfStreamObject&>(
      *document.XImages().at(static_cast<std::size_t>(index)).ImageObject);
}

// A one-bit bitmap of text-like rows; in the bitmap a 0 bit is black.
Bitmap TextBitmap(int width, int height, uint32_t seed) {
  const std::vector<uint8_t> rows = test::TextPageRows(width, height, seed);
  Bitmap bitmap(width, height, PixelFormat::pf1bit);
  bitmap.SetPalette({kBlack, kWhite});
  const std::size_t stride = (static_cast<std::size_t>(width) + 7) / 8;
  for (int y = 0; y < height; ++y) {
    for (std::size_t i = 0; i < stride; ++i) {
      bitmap.ScanLine(y)[i] = static_cast<uint8_t>(~rows[static_cast<std::size_t>(y) * stride + i]);
    }
  }
  return bitmap;
}

Bitmap ColourBitmap(int width, int height) {
  Bitmap bitmap(width, height, PixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bitmap.SetPixelValue(x, y, static_cast<uint32_t>((x * 40) << 16 | (y * 30) << 8 | (x + y)));
    }
  }
  return bitmap;
}

class PdfImageTest : public ::testing::Test {
 protected:
  PdfImageTest() { document.BeginDoc(); }
  PdfDocument document;
};

// Dictionaries and data.

TEST_F(PdfImageTest, FaxCodingsGiveTheirDictionaryAndDataLibtiffDecodes) {
  struct Case {
    PdfImageCompressionType type;
    test::FaxCoding coding;
    const char* k;
  };
  const Case kCases[] = {{icCCITT31, test::FaxCoding::k1D, "0"},
                         {icCCITT32, test::FaxCoding::k2D, "1"},
                         {icCCITT42, test::FaxCoding::kGroup4, "-1"}};
  const Bitmap bitmap = TextBitmap(2480, 1200, 7);
  const std::vector<uint8_t> rows = test::TextPageRows(2480, 1200, 7);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.k);
    document.BeginDoc();
    ASSERT_EQ(document.AddImage(bitmap, c.type), 0);
    PdfStreamObject& image = ImageAt(document, 0);
    EXPECT_EQ(DictionaryText(image),
              std::string("<< /Type /XObject /Subtype /Image /ColorSpace /DeviceGray /Filter [ "
                          "/CCITTFaxDecode ] /Width 2480 /Height 1200 /BitsPerComponent 1 "
                          "/DecodeParms [ << /K ") +
                  c.k + " /Columns 2480 /Rows 1200 >>  ] /Name /Im0 >> ");
    const std::vector<uint8_t>& data = image.Stream().Bytes();
    EXPECT_EQ(test::LibtiffDecode(data, 2480, 1200, c.coding), rows);
    if (c.type == icCCITT42) {
      // Two EOLs end the data: ...0000 0000 0001 0000 0000 0001, then fill bits.
      ASSERT_GE(data.size(), 3u);
      EXPECT_EQ(test::LibtiffGroup4(rows, 2480, 1200), data);
    }
  }
}

TEST_F(PdfImageTest, FlateTrueColourIsRedGreenBlueTopRowFirst) {
  const Bitmap bitmap = ColourBitmap(5, 3);
  document.AddImage(bitmap, icFlate);
  PdfStreamObject& image = ImageAt(document, 0);
  EXPECT_EQ(DictionaryText(image),
            "<< /Type /XObject /Subtype /Image /Filter [ /FlateDecode ] /ColorSpace /DeviceRGB "
            "/Width 5 /Height 3 /BitsPerComponent 8 /Name /Im0 >> ");
  const std::vector<uint8_t> raw = FlateDecompress(image.Stream().Bytes());
  ASSERT_EQ(raw.size(), 45u);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      const RgbQuad c = bitmap.PixelColor(x, y);
      const uint8_t* p = raw.data() + 3 * (y * 5 + x);
      EXPECT_EQ((std::vector<uint8_t>{p[0], p[1], p[2]}),
                (std::vector<uint8_t>{c.red, c.green, c.blue}));
    }
  }
}

TEST_F(PdfImageTest, FlateIndexedFormatsWidenToEightBitsWithALookupString) {
  Bitmap bitmap(3, 2, PixelFormat::pf4bit);
  bitmap.SetPalette({{0x10, 0x20, 0x30, 0}, {0xAB, 0xCD, 0xEF, 0}, {1, 2, 3, 0}});
  bitmap.SetPixelValue(1, 0, 1);
  bitmap.SetPixelValue(2, 1, 2);
  document.AddImage(bitmap, icFlate);
  PdfStreamObject& image = ImageAt(document, 0);
  const std::string text = DictionaryText(image);
  const std::string head = "/ColorSpace [ /Indexed /DeviceRGB 255 <302010 EFCDAB 030201 000000 ";
  EXPECT_NE(text.find(head), std::string::npos) << text;
  const std::size_t open = text.find('<', text.find("255"));
  const std::size_t close = text.find('>', open);
  EXPECT_EQ(close - open - 1, 1792u);
  EXPECT_EQ(FlateDecompress(image.Stream().Bytes()), (std::vector<uint8_t>{0, 1, 0, 0, 0, 2}));
}

TEST_F(PdfImageTest, JpegFromABitmapAndFromJpegData) {
  document.SetJpegQuality(90);
  const Bitmap bitmap = ColourBitmap(16, 8);
  document.AddImage(bitmap, icJpeg);
  PdfStreamObject& image = ImageAt(document, 0);
  EXPECT_EQ(DictionaryText(image),
            "<< /Type /XObject /Subtype /Image /ColorSpace /DeviceRGB /Filter [ /DCTDecode ] "
            "/Width 16 /Height 8 /BitsPerComponent 8 /Name /Im0 >> ");
  // The data is a JPEG file libjpeg reads back close to the original colours.
  const JpegImage back = JpegImage::FromData(image.Stream().Bytes(), 90);
  const Bitmap pixels = back.ToBitmap();
  ASSERT_EQ(pixels.Width(), 16);
  EXPECT_NEAR(pixels.PixelColor(15, 0).red, bitmap.PixelColor(15, 0).red, 24);

  // A JPEG picture keeps its data.
  const JpegImage jpeg = JpegImage::FromBitmap(bitmap, 50);
  document.AddImage(jpeg, icJpeg);
  EXPECT_EQ(ImageAt(document, 1).Stream().Bytes(), jpeg.Data());
  // A grey JPEG is coded again in three components, as DeviceRGB needs.
  ScratchFolder scratch;
  const std::string grey = scratch.File("grey.jpg");
  ASSERT_EQ(
      pdf_test::Run("convert -size 8x8 gradient: -colorspace Gray '" + grey + "'", scratch).status,
      0);
  const auto components = [](const std::vector<uint8_t>& data) {
    for (std::size_t i = 0; i + 9 < data.size(); ++i) {
      if (data[i] == 0xFF && data[i + 1] == 0xC0) return static_cast<int>(data[i + 9]);
    }
    return 0;
  };
  EXPECT_EQ(components(JpegImage::FromData(ReadBytes(grey), 90).Data()), 3);
  EXPECT_EQ(components(ReadBytes(grey)), 1);
  EXPECT_THROW(JpegImage::LoadFromFile(scratch.File("none.jpg"), 90), PdfError);
  EXPECT_THROW(JpegImage::FromData({1, 2, 3}, 90), PdfError);
}

// Names, masks and failures.

TEST_F(PdfImageTest, NamesCountUpAndSkipNamesTakenOnThePage) {
  const Bitmap bitmap = TextBitmap(8, 8, 1);
  EXPECT_EQ(document.AddImage(bitmap, icCCITT42), 0);
  EXPECT_EQ(document.AddImage(bitmap, icCCITT42), 1);
  EXPECT_EQ(document.XImages()[0].Name, "Im0");
  EXPECT_EQ(document.XImages()[1].Name, "Im1");
  EXPECT_EQ(document.XImages()[1].Index, 1);
  EXPECT_EQ(document.XImages()[1].ImageObject->ID().ObjectNumber, 7);
}

TEST_F(PdfImageTest, MasksAndMaskReferences) {
  const Bitmap bitmap = TextBitmap(16, 4, 2);
  // IsMask makes Group 4 data whatever coding was asked for.
  document.AddImage(bitmap, icJpeg, true);
  EXPECT_NE(DictionaryText(ImageAt(document, 0))
                .find("/K -1 /Columns 16 /Rows 4 >>  ] "
                      "/ImageMask true /Name /Im0 >> "),
            std::string::npos);
  document.AddImage(ColourBitmap(4, 4), icFlate, false, 0);
  EXPECT_NE(DictionaryText(ImageAt(document, 1)).find("/Mask 6 0 R /Name /Im1 >> "),
            std::string::npos);
  document.AddImage(bitmap, icCCITT42);  // Im2

  const std::size_t objects = document.IndirectObjects().size();
  try {
    document.AddImage(bitmap, icCCITT42, false, 5);
    FAIL();
  } catch (const PdfError& e) {
    EXPECT_STREQ(e.what(), "Incorrect mask index.");
  }
  // The newest image may serve as a mask.
  EXPECT_EQ(document.AddImage(bitmap, icCCITT42, false, 2), 3);
  EXPECT_NE(DictionaryText(ImageAt(document, 3)).find("/Mask 8 0 R"), std::string::npos);
  EXPECT_EQ(document.IndirectObjects().size(), objects + 1);
}

TEST_F(PdfImageTest, FailuresAddNothing) {
  struct Case {
    Bitmap bitmap;
    PdfImageCompressionType type;
    bool mask;
    const char* message;
  };
  const Case kCases[] = {
      {Bitmap(8, 8, PixelFormat::pf8bit), icCCITT42, false, "Image format must be B/W."},
      {Bitmap(8, 8, PixelFormat::pf24bit), icJpeg, true, "Image format must be B/W."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.message);
    try {
      document.AddImage(c.bitmap, c.type, c.mask);
      FAIL();
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_TRUE(document.XImages().empty());
    EXPECT_EQ(document.IndirectObjects().size(), 5u);
  }
}

// The file form and the BMP loader.

std::string BmpFile(const Bitmap& bitmap, bool topDown) {
  const std::size_t palette = bitmap.Palette().size();
  const std::size_t pixels = 54 + 4 * palette;
  const std::size_t size = pixels + bitmap.RowStride() * static_cast<std::size_t>(bitmap.Height());
  std::string file(size, '\0');
  const auto put = [&file](std::size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
      file[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put(2, static_cast<uint32_t>(size), 4);
  put(10, static_cast<uint32_t>(pixels), 4);
  put(14, 40, 4);
  put(18, static_cast<uint32_t>(bitmap.Width()), 4);
  put(22, static_cast<uint32_t>(topDown ? -bitmap.Height() : bitmap.Height()), 4);
  put(26, 1, 2);
  put(28, static_cast<uint32_t>(bitmap.BitsPerPixel()), 2);
  for (std::size_t i = 0; i < palette; ++i) {
    const RgbQuad c = bitmap.Palette()[i];
    put(54 + 4 * i, static_cast<uint32_t>(c.blue | c.green << 8 | c.red << 16), 4);
  }
  for (int y = 0; y < bitmap.Height(); ++y) {
    const int row = topDown ? y : bitmap.Height() - 1 - y;
    std::memcpy(file.data() + pixels + static_cast<std::size_t>(y) * bitmap.RowStride(),
                bitmap.ScanLine(row), bitmap.RowStride());
  }
  return file;
}

TEST(BitmapFileTest, ReadsEveryFormatBothRowOrders) {
  ScratchFolder scratch;
  for (const PixelFormat format : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit,
                                   PixelFormat::pf24bit, PixelFormat::pf32bit}) {
    for (const bool topDown : {false, true}) {
      SCOPED_TRACE(static_cast<int>(format) * 2 + topDown);
      Bitmap bitmap = ColourBitmap(13, 5);
      bitmap.SetPixelFormat(format);
      const std::string path = scratch.File("b.bmp");
      test::WriteFile(path, BmpFile(bitmap, topDown));
      const Bitmap back = LoadBitmapFile(path);
      ASSERT_EQ(back.GetPixelFormat(), format);
      EXPECT_EQ(back.Palette(), bitmap.Palette());
      for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 13; ++x) ASSERT_EQ(back.PixelValue(x, y), bitmap.PixelValue(x, y));
      }
    }
  }
  const std::string good = BmpFile(ColourBitmap(4, 4), false);
  struct Case {
    std::string bytes;
    const char* message;
  };
  std::string rle = good;
  rle[30] = 1;
  const Case kCases[] = {{good.substr(0, good.size() - 1), "Invalid bitmap file."},
                         {"GIF89a", "Invalid bitmap file."},
                         {rle, "Unsupported image format."}};
  for (const Case& c : kCases) {
    test::WriteFile(scratch.File("bad.bmp"), c.bytes);
    try {
      LoadBitmapFile(scratch.File("bad.bmp"));
      ADD_FAILURE() << c.message;
    } catch (const PdfError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST_F(PdfImageTest, FileFormPicksTheLoaderByExtension) {
  ScratchFolder scratch;
  const Bitmap colour = ColourBitmap(8, 6);
  test::WriteFile(scratch.File("c.bmp"), BmpFile(colour, false));
  const JpegImage jpeg = JpegImage::FromBitmap(colour, 80);
  test::WriteFile(scratch.File("c.jpg"), std::string(jpeg.Data().begin(), jpeg.Data().end()));
  test::WriteFile(scratch.File("c.jpeg"), std::string(jpeg.Data().begin(), jpeg.Data().end()));
  Bitmap mono = TextBitmap(32, 8, 3);
  test::WriteFile(scratch.File("m.bmp"), BmpFile(mono, false));

  document.AddImage(scratch.File("c.bmp"), icFlate);
  EXPECT_EQ(FlateDecompress(ImageAt(document, 0).Stream().Bytes()).size(), 8u * 6 * 3);
  document.AddImage(scratch.File("c.jpeg"), icJpeg);  // anything but .bmp is JPEG for icJpeg
  EXPECT_EQ(ImageAt(document, 1).Stream().Bytes(), jpeg.Data());
  document.AddImage(scratch.File("c.jpg"), icFlate);  // decoded to 24 bits
  EXPECT_NE(DictionaryText(ImageAt(document, 2)).find("/ColorSpace /DeviceRGB"), std::string::npos);
  document.AddImage(scratch.File("m.bmp"), icCCITT42);
  EXPECT_EQ(
      test::LibtiffDecode(ImageAt(document, 3).Stream().Bytes(), 32, 8, test::FaxCoding::kGroup4),
      test::TextPageRows(32, 8, 3));
  EXPECT_THROW(document.AddImage(scratch.File("c.jpeg"), icCCITT42), PdfError);
  EXPECT_EQ(document.XImages().size(), 4u);
}

TEST_F(PdfImageTest, EveryCodingInOneDocumentReadsBack) {
  ScratchFolder scratch;
  const Bitmap mono = TextBitmap(200, 100, 4);
  const Bitmap colour = ColourBitmap(50, 40);
  Bitmap indexed = colour;
  indexed.SetPixelFormat(PixelFormat::pf8bit);
  const int32_t images[] = {
      document.AddImage(mono, icCCITT31),      document.AddImage(mono, icCCITT32),
      document.AddImage(mono, icCCITT42),      document.AddImage(colour, icFlate),
      document.AddImage(indexed, icFlate),     document.AddImage(colour, icJpeg),
      document.AddImage(mono, icCCITT42, true)};
  for (const int32_t index : images) {
    document.CurrentPage()->ShowImage(index, 10, 10 + 100 * index, 200, 90, 0);
  }
  document.SetFileName(scratch.File("all.pdf"));
  document.EndDoc();
  pdf_test::ExpectValidPdf(scratch.File("all.pdf"), 1);
}

}  // namespace
}  // namespace brevis
