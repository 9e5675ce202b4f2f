// The text layer: lines written over a page's image come back from poppler, mupdf and pdf.js as
// the same lines in the same order; they sit on their boxes; the picture does not change; a
// document without text is the same file as before; the font's widths and codes.
#include "pdf/text_layer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <iterator>
#include <regex>
#include <stdexcept>

#include "common/text.h"
#include "pdf/pdf_document.h"
#include "pdf/tests/masked_pdf.h"
#include "pdf/tests/pdf_test_support.h"
#include "pdf/tests/text_readers.h"
#include "pdf/tests/tiff_files.h"
#include "pdf/text_layer_font.h"

namespace brevis {
namespace {

using pdf_test::ReadPdfText;
using pdf_test::TextReader;
using test::ScratchFolder;

// A page of the fixture: its picture, how it is placed, and its printed lines as UTF-8 with the
// line's height and how much wider than the font's advance it was printed (so that the layer
// has to scale each line).
struct FixtureLine {
  const char* text;
  double x0, y0, height, stretch;
};
struct FixturePage {
  int width, height;
  TiffPaintType paint;
  std::vector<FixtureLine> lines;
};

// The first page is as large as its picture; the second, an A4 page, shows a picture of twice
// its size in points, taller than one slice.
const FixturePage kPages[] = {
    {1000,
     420,
     tptResizePage,
     {
         // Chinese with CJK punctuation.
         {"本实用新型涉及一种不锈钢容器，特别是一种保温杯。", 40, 30, 36, 1.0},
         {"所述杯盖（1）、杯身（2）；连接方式：螺纹“紧固”。", 40, 90, 34, 1.1},
         // Chinese with numbers, units and a standard's number.
         {"采用304不锈钢，厚度0.8mm，符合GB/T 3280-2015的规定。", 40, 150, 36, 0.95},
         // Latin words, and digits.
         {"Stainless steel vessel with a vacuum layer", 40, 210, 30, 1.2},
         {"2015 3280 0.8 12345", 40, 270, 30, 1.0},
         {"Fig. 2 shows the lid (3) at 45° to the axis.", 40, 330, 28, 1.05},
     }},
    {1240,
     1754,
     tptResizeImage,
     {
         {"权利要求书", 500, 120, 48, 1.3},
         {"1．一种保温杯，其特征在于：包括杯身和杯盖。", 100, 300, 40, 1.0},
         // An ideograph beyond the Basic Multilingual Plane.
         {"𠮷字在基本多文种平面之外。", 100, 1300, 40, 1.0},
     }},
};

std::vector<TextLine> LinesOf(const FixturePage& page) {
  PdfDocument unused;
  TextLayerFont widths(unused);  // adds nothing to the document until its Object is asked for
  std::vector<TextLine> lines;
  for (const FixtureLine& line : page.lines) {
    const std::u16string text = Utf8ToUtf16(line.text);
    const int64_t advance = widths.Encode(text).Advance;
    const double width = static_cast<double>(advance) / 1000.0 * line.height * line.stretch;
    lines.push_back({text, line.x0, line.y0, line.x0 + width, line.y0 + line.height});
  }
  return lines;
}

enum class Layer {
  kNone,       // no AddTextLayer call
  kNothing,    // AddTextLayer with lines that have nothing to write
  kInvisible,  // the fixture's lines
  kVisible,    // the fixture's lines, shown
};

// Writes the fixture's pages with the chosen text layer.
std::string WriteFixture(const ScratchFolder& scratch, const std::string& name, Layer layer) {
  const std::string path = scratch.File(name);
  PdfDocument document;
  document.SetFileName(path);
  document.BeginDoc();
  for (std::size_t p = 0; p < std::size(kPages); ++p) {
    const FixturePage& page = kPages[p];
    if (p > 0) document.AddPage();
    const std::string tiff = scratch.File("page" + std::to_string(p) + ".tif");
    test::WriteTiffFile(tiff, {test::TextPicture(page.width, page.height, 5)});
    document.AddTiffFromFile(tiff, icCCITT42, page.paint);
    switch (layer) {
      case Layer::kNone:
        break;
      case Layer::kNothing:
        document.AddTextLayer({}, page.width, page.height);
        document.AddTextLayer({{u"", 10, 10, 50, 50}, {u"empty box", 10, 10, 10, 50}}, page.width,
                              page.height);
        break;
      case Layer::kInvisible:
      case Layer::kVisible:
        document.AddTextLayer(LinesOf(page), page.width, page.height,
                              layer == Layer::kVisible ? tlVisible : tlInvisible);
        break;
    }
  }
  document.EndDoc();
  return path;
}

// The fixture with its text layer, written once for all tests.
const std::string& FixtureWithText() {
  static const ScratchFolder scratch;
  static const std::string path = WriteFixture(scratch, "layer.pdf", Layer::kInvisible);
  return path;
}

// Every reader gives each printed line as one line of its own, in order, with exactly the text
// written: no blank between Chinese characters, the blanks between Latin words and numbers as
// they were, nothing split or joined.
class TextLayerReaders : public ::testing::TestWithParam<TextReader> {};

TEST_P(TextLayerReaders, GiveEveryLineWholeAndInOrder) {
  const pdf_test::ReadText read = ReadPdfText(GetParam(), FixtureWithText());
  if (!read.missing.empty()) GTEST_SKIP() << read.missing;
  ASSERT_EQ(read.error, "");
  ASSERT_EQ(read.pages.size(), std::size(kPages)) << read.raw;
  for (std::size_t p = 0; p < std::size(kPages); ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    std::vector<std::string> expected;
    for (const FixtureLine& line : kPages[p].lines) expected.emplace_back(line.text);
    EXPECT_EQ(read.pages[p], expected) << read.raw;
  }
}

INSTANTIATE_TEST_SUITE_P(, TextLayerReaders,
                         ::testing::Values(TextReader::kPdftotext, TextReader::kPdftotextLayout,
                                           TextReader::kMutool, TextReader::kPdfjs),
                         [](const ::testing::TestParamInfo<TextReader>& reader) {
                           std::string name = pdf_test::ReaderName(reader.param);
                           return std::regex_replace(name, std::regex("[^A-Za-z]"), "");
                         });

// poppler's box of each line is the line's box on the page: the text starts and ends where the
// printed line does and is as tall.
TEST(TextLayerFile, LinesSitOnTheirBoxes) {
  if (!pdf_test::OnPath("pdftotext")) GTEST_SKIP() << "pdftotext is not installed";
  ScratchFolder logs;
  const pdf_test::ToolRun run =
      pdf_test::Run("pdftotext -bbox-layout '" + FixtureWithText() + "' -", logs);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::regex line(
      "<line xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">");
  const std::regex tokens("<page |<line [^>]*>");
  std::vector<std::vector<std::array<double, 4>>> found;
  for (std::sregex_iterator it(run.out.begin(), run.out.end(), tokens), end; it != end; ++it) {
    std::smatch box;
    const std::string token = it->str();
    if (std::regex_match(token, box, line)) {
      ASSERT_FALSE(found.empty());
      found.back().push_back(
          {std::stod(box[1]), std::stod(box[2]), std::stod(box[3]), std::stod(box[4])});
    } else {
      found.emplace_back();
    }
  }
  ASSERT_EQ(found.size(), std::size(kPages)) << run.out;
  for (std::size_t p = 0; p < std::size(kPages); ++p) {
    // Points per pixel: the first page is its picture's size, the second page's picture is
    // scaled to the A4 width.
    const double scale = kPages[p].paint == tptResizePage ? 1.0 : 595.0 / kPages[p].width;
    const std::vector<TextLine> lines = LinesOf(kPages[p]);
    ASSERT_EQ(found[p].size(), lines.size()) << run.out;
    for (std::size_t k = 0; k < lines.size(); ++k) {
      SCOPED_TRACE(kPages[p].lines[k].text);
      const TextLine& want = lines[k];
      const std::array<double, 4> expected = {want.X0 * scale, want.Y0 * scale, want.X1 * scale,
                                              want.Y1 * scale};
      for (std::size_t e = 0; e < 4; ++e) EXPECT_NEAR(found[p][k][e], expected[e], 0.5) << e;
    }
  }
}

// The layer draws nothing: both renderers give the same pixels with and without it, while the
// shown layer does change them. The file is valid, and both pages share one font.
TEST(TextLayerFile, LeavesThePictureAsItWas) {
  ScratchFolder scratch;
  const std::string without = WriteFixture(scratch, "without.pdf", Layer::kNone);
  const std::string shown = WriteFixture(scratch, "shown.pdf", Layer::kVisible);
  pdf_test::ExpectValidPdf(FixtureWithText(), 2);
  pdf_test::ExpectValidPdf(shown, 2);
  const std::string pdf = test::ReadFile(FixtureWithText());
  const std::regex type0("/Type0");
  EXPECT_EQ(
      std::distance(std::sregex_iterator(pdf.begin(), pdf.end(), type0), std::sregex_iterator()),
      1);

  struct Renderer {
    const char* program;
    const char* command;  // %in: the PDF, %out: a prefix for one picture per page
  };
  constexpr Renderer kRenderers[] = {
      {"pdftoppm", "pdftoppm -r 50 -gray '%in' '%out'"},
      {"mutool", "mutool draw -q -r 50 -c gray -o '%out-%d.pgm' '%in'"},
  };
  for (const Renderer& renderer : kRenderers) {
    SCOPED_TRACE(renderer.program);
    if (!pdf_test::OnPath(renderer.program)) continue;
    const auto render = [&](const std::string& in, const std::string& name) {
      std::string command = renderer.command;
      command.replace(command.find("%in"), 3, in);
      command.replace(command.find("%out"), 4, scratch.File(name));
      const pdf_test::ToolRun run = pdf_test::Run(command, scratch);
      EXPECT_EQ(run.status, 0) << run.err;
      std::vector<std::string> pages;
      for (int p = 1; p <= 2; ++p) {
        pages.push_back(test::ReadFile(scratch.File(name + "-" + std::to_string(p) + ".pgm")));
        EXPECT_GT(pages.back().size(), 1000u);
      }
      return pages;
    };
    const std::vector<std::string> plain = render(without, "plain");
    const std::vector<std::string> layered = render(FixtureWithText(), "layered");
    const std::vector<std::string> visible = render(shown, "visible");
    for (std::size_t p = 0; p < 2; ++p) {
      EXPECT_TRUE(layered[p] == plain[p]) << "page " << p + 1;
      EXPECT_FALSE(visible[p] == plain[p]) << "page " << p + 1;
    }
  }
}

// A document given no line to write is the same file, byte for byte, as one never given a
// text layer.
TEST(TextLayerFile, NothingToWriteLeavesTheFileAsItWas) {
  ScratchFolder scratch;
  const std::string before = WriteFixture(scratch, "before.pdf", Layer::kNone);
  const std::string after = WriteFixture(scratch, "after.pdf", Layer::kNothing);
  EXPECT_TRUE(test::MaskedPdf(before) == test::MaskedPdf(after));
}

TEST(TextLayerFile, MisuseIsALogicError) {
  ScratchFolder scratch;
  PdfDocument document;
  const std::vector<TextLine> lines = {{u"一", 0, 0, 10, 10}};
  EXPECT_THROW(document.AddTextLayer(lines, 10, 10), std::logic_error);  // no document
  document.BeginDoc();
  EXPECT_THROW(document.AddTextLayer(lines, 10, 10), std::logic_error);  // no imported image
  const std::string tiff = scratch.File("page.tif");
  test::WriteTiffFile(tiff, {test::TextPicture(64, 64, 1)});
  document.AddTiffFromFile(tiff, icCCITT42, tptResizePage);
  EXPECT_THROW(document.AddTextLayer(lines, 0, 10), std::logic_error);
  EXPECT_THROW(document.AddTextLayer(lines, 10, -1), std::logic_error);
  EXPECT_NO_THROW(document.AddTextLayer(lines, 10, 10));
}

// Widths: 1000 for the characters of Chinese text, 500 for the rest.
TEST(TextLayerFont, Widths) {
  struct Case {
    char16_t cid;
    int32_t width;
  };
  constexpr Case kCases[] = {// Ideographs, CJK punctuation and full-width forms.
                             {u'中', 1000},
                             {u'㐀', 1000},
                             {u'，', 1000},
                             {u'。', 1000},
                             {u'、', 1000},
                             {u'（', 1000},
                             {u'）', 1000},
                             {u'；', 1000},
                             {u'：', 1000},
                             {u'“', 1000},
                             {u'”', 1000},
                             {u'　', 1000},
                             {u'Ａ', 1000},
                             {u'〔', 1000},
                             {u'가', 1000},
                             {u'あ', 1000},
                             {0xD800, 1000},
                             {0xDFFF, 1000},
                             // Latin letters, digits, blanks and other signs.
                             {u'A', 500},
                             {u'z', 500},
                             {u'0', 500},
                             {u' ', 500},
                             {u'.', 500},
                             {u'-', 500},
                             {u'/', 500},
                             {u'°', 500},
                             {u'é', 500},
                             {0xFFFD, 500},
                             {0xFF61, 500}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.cid));
    EXPECT_EQ(TextLayerFont::Width(c.cid), c.width);
  }
}

// Codes are UTF-16 code units; characters beyond the plane get CIDs from D800 on, the same one
// each time; controls become blanks and lone surrogates U+FFFD.
TEST(TextLayerFont, Codes) {
  PdfDocument document;
  TextLayerFont font(document);
  struct Case {
    std::u16string text;
    std::string codes;
    int64_t advance;
  };
  const Case kCases[] = {
      {u"中a", std::string("\x4E\x2D\x00\x61", 4), 1500},
      {u"𠮷", std::string("\xD8\x00", 2), 1000},
      {u"𠀀𠮷", std::string("\xD8\x01\xD8\x00", 4), 2000},
      {u"\t\u0085", std::string("\x00\x20\x00\x20", 4), 1000},
      {std::u16string(1, char16_t{0xDC00}) + u"x", std::string("\xFF\xFD\x00\x78", 4), 1000},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text));
    const TextLayerFont::Encoded encoded = font.Encode(c.text);
    EXPECT_EQ(encoded.Codes, c.codes);
    EXPECT_EQ(encoded.Advance, c.advance);
  }
  EXPECT_TRUE(document.IndirectObjects().empty());
}

TEST(TextLayerMode, FromTheEnvironment) {
  ::unsetenv("BREVISFETCH_SHOW_TEXT");
  EXPECT_EQ(TextLayerModeFromEnvironment(), tlInvisible);
  ::setenv("BREVISFETCH_SHOW_TEXT", "0", 1);
  EXPECT_EQ(TextLayerModeFromEnvironment(), tlInvisible);
  ::setenv("BREVISFETCH_SHOW_TEXT", "1", 1);
  EXPECT_EQ(TextLayerModeFromEnvironment(), tlVisible);
  ::unsetenv("BREVISFETCH_SHOW_TEXT");
}

}  // namespace
}  // namespace brevis
