// PageGenerator: libtiff reads back exactly the drawn page with the promised format, the bytes
// repeat from run to run, the figure pages fall where documented, and the printed lines it
// reports are the text and the ink of the page.
#include "stand_in/page_generator.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
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
    const OneBitImage drawn = generator.Render(page);
    EXPECT_EQ(drawn.Dpi, 300);
    // MinIsWhite: the file's 1 bits are the image's black, its 0 bits.
    std::vector<uint8_t> inverted = drawn.Rows;
    for (uint8_t& byte : inverted) byte = static_cast<uint8_t>(~byte);
    EXPECT_TRUE(d.Rows == inverted);
    // Text-like: some ink, mostly paper.
    const double ink = static_cast<double>(drawn.CountBlack()) / (2480.0 * 3508.0);
    EXPECT_GT(ink, 0.01);
    EXPECT_LT(ink, 0.25);
  }
}

TEST(PageGeneratorTest, SameBytesEveryRunAndEveryPageItsOwn) {
  const std::string a = PageGenerator("98123456", 3).Tiff(2);
  EXPECT_EQ(a, PageGenerator("98123456", 3).Tiff(2));
  EXPECT_EQ(PageGenerator("98123456", 3).GroundTruth(2),
            PageGenerator("98123456", 3).GroundTruth(2));
  EXPECT_NE(a, PageGenerator("98123456", 3).Tiff(3));
  EXPECT_NE(a, PageGenerator("98123457", 3).Tiff(2));
  // The header prints the page count too.
  EXPECT_NE(a, PageGenerator("98123456", 4).Tiff(2));
}

TEST(PageGeneratorTest, HeaderCarriesTheNumberAndThePage) {
  // The header band (above the rule) differs exactly where the number or the page differs.
  const auto header = [](const OneBitImage& page) {
    return std::vector<uint8_t>(page.Rows.begin(),
                                page.Rows.begin() + static_cast<std::ptrdiff_t>(260 * page.Stride));
  };
  const OneBitImage base = PageGenerator("200710038426", 12).Render(3);
  EXPECT_GT(base.CountBlack(), 0);
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

// Pages of every kind: front pages with and without a figure, claims, the first and a later
// description page, drawing pages with one or two figures.
struct PageCase {
  const char* Number;
  int Pages;
  int Page;
};
constexpr PageCase kPageCases[] = {
    {"200710038426", 12, 1},  {"200710038426", 12, 2},  {"200710038426", 12, 3},
    {"200710038426", 12, 6},  {"200710038426", 12, 11}, {"200710038426", 12, 12},
    {"98123456", 1, 1},       {"200820123456", 3, 3},   {"201910987654", 50, 4},
    {"201910987654", 50, 30}, {"201910987654", 50, 45},
};

TEST(PageGeneratorTest, LinesAndDrawingsCoverAllTheInk) {
  for (const PageCase& c : kPageCases) {
    SCOPED_TRACE(std::string(c.Number) + " page " + std::to_string(c.Page));
    const PageGenerator generator(c.Number, c.Pages);
    const OneBitImage page = generator.Render(c.Page);
    const std::vector<PrintedLine> lines = generator.Lines(c.Page);
    OneBitImage covered(page.Width, page.Height);
    for (const PrintedLine& line : lines) {
      // Each box holds ink of its own and lies on the page.
      ASSERT_LT(line.X0, line.X1) << line.Text;
      ASSERT_LT(line.Y0, line.Y1) << line.Text;
      EXPECT_GE(line.X0, 0);
      EXPECT_GE(line.Y0, 0);
      EXPECT_LE(line.X1, page.Width);
      EXPECT_LE(line.Y1, page.Height);
      OneBitImage box(page.Width, page.Height);
      box.FillBlack(line.X0, line.Y0, line.X1, line.Y1);
      // Black (0) where both are black.
      for (std::size_t i = 0; i < box.Rows.size(); ++i) box.Rows[i] |= page.Rows[i];
      EXPECT_GT(box.CountBlack(), 0) << line.Text;
      covered.FillBlack(line.X0, line.Y0, line.X1, line.Y1);
    }
    for (const PageArea& area : generator.Drawings(c.Page)) {
      covered.FillBlack(area.X0, area.Y0, area.X1, area.Y1);
    }
    // Black (0) where the page is black and nothing covers it.
    OneBitImage outside(page.Width, page.Height);
    for (std::size_t i = 0; i < page.Rows.size(); ++i) {
      outside.Rows[i] = static_cast<uint8_t>(page.Rows[i] | ~covered.Rows[i]);
    }
    EXPECT_EQ(outside.CountBlack(), 0);
  }
}

// True when a Chinese character or full-width punctuation (U+3000 to U+FFFF, three bytes in
// UTF-8) starts at byte `i`.
bool WideAt(const std::string& text, std::size_t i) {
  return i < text.size() && static_cast<uint8_t>(text[i]) >= 0xE3 &&
         static_cast<uint8_t>(text[i]) <= 0xEF;
}

TEST(PageGeneratorTest, LinesReadAsPrinted) {
  for (const PageCase& c : kPageCases) {
    SCOPED_TRACE(std::string(c.Number) + " page " + std::to_string(c.Page));
    const std::vector<PrintedLine> lines = PageGenerator(c.Number, c.Pages).Lines(c.Page);
    ASSERT_GE(lines.size(), 2u);
    // The header's row comes first, as one line from the number on the left to the page on the
    // right.
    EXPECT_TRUE(lines[0].Text.starts_with(std::string("CN") + c.Number + " ")) << lines[0].Text;
    EXPECT_TRUE(
        lines[0].Text.ends_with(" " + std::to_string(c.Page) + "/" + std::to_string(c.Pages)))
        << lines[0].Text;
    EXPECT_GT(lines[0].X1 - lines[0].X0, PageGenerator::kWidth / 2);
    for (const PrintedLine& line : lines) {
      const std::string& text = line.Text;
      SCOPED_TRACE(text);
      ASSERT_FALSE(text.empty());
      EXPECT_NE(text.front(), ' ');
      EXPECT_NE(text.back(), ' ');
      EXPECT_EQ(text.find("  "), std::string::npos);
      EXPECT_EQ(text.find('\n'), std::string::npos);
      // No blank between two Chinese characters (each three bytes in UTF-8), but for the wide
      // gap between a bibliographic field's name and its value: "(72) 发明人 王伟、李静".
      if (text.front() == '(') continue;
      for (std::size_t at = text.find(' '); at != std::string::npos; at = text.find(' ', at + 1)) {
        EXPECT_FALSE(at >= 3 && WideAt(text, at - 3) && WideAt(text, at + 1)) << at;
      }
    }
  }
}

TEST(PageGeneratorTest, EachPartPrintsItsText) {
  const std::string number = "200710038426";
  const PageGenerator generator(number, 12);
  const auto contains = [](const std::vector<PrintedLine>& lines, const std::string& text) {
    for (const PrintedLine& line : lines) {
      if (line.Text.rfind(text, 0) == 0) return true;
    }
    return false;
  };
  struct Case {
    int Page;
    std::vector<std::string> Starts;  // lines that begin so, in any order
  };
  const Case kCases[] = {
      {1,
       {"CN" + number + " 发明专利申请 1/12", "(21) 申请号 " + number,
        "(22) 申请日 " + FilingDate(number), "(71) 申请人 ", "(72) 发明人 ", "(54) 发明名称 一种",
        "(57) 摘要", "本发明公开了一种", "图1"}},
      {2, {"CN" + number + " 权利要求书 2/12", "1. 一种", "2. 根据权利要求1所述的"}},
      {3,
       {"CN" + number + " 说明书 3/12", "技术领域", "[0001] 本发明涉及", "背景技术", "发明内容",
        "具体实施方式"}},
      {11, {"CN" + number + " 说明书附图 11/12", "图1", "11"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Page);
    const std::vector<PrintedLine> lines = generator.Lines(c.Page);
    for (const std::string& start : c.Starts) EXPECT_TRUE(contains(lines, start)) << start;
  }
  // The ground truth file holds the lines in order, each ended by a line feed.
  const std::string path = TempPath("page_generator_test_1.txt");
  generator.WriteGroundTruth(1, path);
  std::ifstream file(path, std::ios::binary);
  std::stringstream written;
  written << file.rdbuf();
  std::filesystem::remove(path);
  std::string expected;
  for (const PrintedLine& line : generator.Lines(1)) expected += line.Text + "\n";
  EXPECT_EQ(written.str(), expected);
}

TEST(PageGeneratorTest, DifferentNumbersTellDifferentPatents) {
  // The title line of page 1 ("(54) 发明名称 一种…") differs between most numbers, and the
  // claims differ between any two.
  const char* kNumbers[] = {"200710038426", "200710038427", "201910987654",
                            "200820123456", "98123456",     "201210345678"};
  std::vector<std::string> titles;
  std::vector<std::string> claims;
  for (const char* number : kNumbers) {
    const PageGenerator generator(number, 6);
    for (const PrintedLine& line : generator.Lines(1)) {
      if (line.Text.rfind("(54)", 0) == 0) titles.push_back(line.Text);
    }
    std::string text = generator.GroundTruth(2);
    claims.push_back(text.substr(text.find('\n', text.find('\n', text.find('\n') + 1) + 1)));
  }
  ASSERT_EQ(titles.size(), std::size(kNumbers));
  std::sort(titles.begin(), titles.end());
  EXPECT_GE(std::unique(titles.begin(), titles.end()) - titles.begin(), 3);
  std::sort(claims.begin(), claims.end());
  EXPECT_EQ(std::unique(claims.begin(), claims.end()), claims.end());
}

TEST(PageGeneratorTest, RefusesBadArguments) {
  EXPECT_THROW(PageGenerator("12a4", 3), std::invalid_argument);
  EXPECT_THROW(PageGenerator("", 3), std::invalid_argument);
  EXPECT_THROW(PageGenerator("1234", 0), std::invalid_argument);
  EXPECT_THROW(PageGenerator("1234", 3).Render(4), std::out_of_range);
  EXPECT_THROW(PageGenerator("1234", 3).Render(0), std::out_of_range);
  EXPECT_THROW(PageGenerator("1234", 3).Lines(4), std::out_of_range);
}

}  // namespace
}  // namespace brevis
