// Pages: operator lines, image placement, the content stream with and without Flate, page
// sizes and coordinate conversion.
#include "pdf/pdf_page.h"

#include <gtest/gtest.h>

#include "pdf/flate.h"
#include "pdf/object_writer.h"
#include "pdf/pdf_document.h"
#include "pdf/pdf_error.h"
#include "pdf/pdf_format.h"
#include "pdf/tests/pdf_test_support.h"

namespace brevis {
namespace {

using Lines = std::vector<std::string>;

const Lines kOpening = {"\r\n", "0 0 0 RG", "0 0 0 rg", "0 Tr"};
const Lines kClosing = {"q",   "Q",        "1 0 0 RG", "1 0 0 rg", "1 Tr",
                        "2 w", "0 0 0 RG", "0 0 0 rg", "\r\n"};

std::string Joined(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

Lines Concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Lines the page collected after its opening state.
Lines Drawn(PdfPage& page) {
  const Lines& all = page.PageContent();
  return Lines(all.begin() + static_cast<std::ptrdiff_t>(kOpening.size()), all.end());
}

std::string Nested(PdfObject& object) {
  MemoryStream out;
  ObjectWriter(out).WriteObject(object, true);
  return out.ToString();
}

std::string DataOf(const PdfStreamObject& stream) { return stream.Stream().ToString(); }

TEST(PdfPageContent, PageClosedWithNothingDrawn) {
  for (const PdfCompressionMethod compression : {cmNone, cmFlateDecode}) {
    SCOPED_TRACE(compression);
    PdfDocument document;
    document.SetCompression(compression);
    document.BeginDoc();
    EXPECT_EQ(document.CurrentPage()->PageContent(), kOpening);
    PdfStreamObject& stream = *document.CurrentPage()->PageObjStream();
    document.AddPage();  // closes page 0

    const std::string expected = Joined(Concat(kOpening, kClosing));
    std::string data = DataOf(stream);
    if (compression == cmFlateDecode) {
      const std::vector<uint8_t> inflated = FlateDecompress(std::span(stream.Stream().Bytes()));
      data.assign(inflated.begin(), inflated.end());
    }
    EXPECT_EQ(data, expected);
    const std::string length = std::to_string(stream.Stream().Size());
    EXPECT_EQ(Nested(stream.Dictionary()),
              compression == cmNone
                  ? "<< /Length " + length + " /DecodeParms [  ] >> "
                  : "<< /Length " + length + " /DecodeParms [  ] /Filter [ /FlateDecode ] >> ");
  }
}

TEST(PdfPageContent, ReopenedPageKeepsItsEarlierBlock) {
  for (const PdfCompressionMethod second : {cmFlateDecode, cmNone}) {
    SCOPED_TRACE(second);
    PdfDocument document;
    document.BeginDoc();
    document.CurrentPage()->AppendContent("% first");
    PdfStreamObject& stream = *document.CurrentPage()->PageObjStream();
    document.AddPage();
    document.SetCompression(second);  // read when the page is closed
    document.SetCurrentPageNumber(0);
    document.CurrentPage()->AppendContent("% second");
    document.SetCurrentPageNumber(1);

    std::string data = DataOf(stream);
    if (second == cmFlateDecode) {
      const std::vector<uint8_t> inflated = FlateDecompress(stream.Stream().Bytes());
      data.assign(inflated.begin(), inflated.end());
    }
    EXPECT_EQ(data, Joined(Concat(Concat(Concat(kOpening, {"% first"}), kClosing),
                                  Concat(Concat(kOpening, {"% second"}), kClosing))));
    EXPECT_EQ(stream.Length(), static_cast<int32_t>(stream.Stream().Size()));
  }
}

TEST(PdfPageContent, GraphicsAndTextStateOperators) {
  struct Case {
    const char* name;
    void (*draw)(PdfPage&);
    Lines lines;
  };
  const Case kCases[] = {
      {"restore without save", [](PdfPage& p) { EXPECT_FALSE(p.GStateRestore()); }, {}},
      {"save and restore",
       [](PdfPage& p) {
         p.GStateSave();
         EXPECT_TRUE(p.GStateRestore());
         EXPECT_FALSE(p.GStateRestore());
       },
       {"q", "Q"}},
      {"concat", [](PdfPage& p) { p.Concat(1, 0, 0, 1, 0.125f, -3.5f); }, {"1 0 0 1 0.13 -3.5 cm"}},
      {"colours",
       [](PdfPage& p) {
         p.SetRGBStrokeColor(0xFF8000);
         p.SetRGBFillColor(-5);
         p.SetRGBColor(0x00FF00);
       },
       {"0 0.5 1 RG", "0 0 0 rg", "0 1 0 RG", "0 1 0 rg"}},
      {"line width", [](PdfPage& p) { p.SetLineWidth(0.5f); }, {"0.5 w"}},
      {"rendering mode written every time",
       [](PdfPage& p) {
         p.SetTextRenderingMode(trClipping);
         p.SetTextRenderingMode(trClipping);
         p.SetTextRenderingMode(trFill);
       },
       {"7 Tr", "7 Tr", "0 Tr"}},
      {"text state written only when it changes",
       [](PdfPage& p) {
         p.SetHorizontalScaling(100);
         p.SetHorizontalScaling(90);
         p.SetHorizontalScaling(90);
         p.SetCharacterSpacing(0);
         p.SetCharacterSpacing(1.5f);
         p.SetWordSpacing(0);
         p.SetWordSpacing(-2);
         p.SetLeading(0);
         p.SetLeading(12);
         p.SetLeading(12);
       },
       {"90 Tz", "1.5 Tc", "-2 Tw", "12 TL"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    PdfDocument document;
    document.BeginDoc();
    c.draw(*document.CurrentPage());
    EXPECT_EQ(Drawn(*document.CurrentPage()), c.lines);
  }
}

TEST(PdfPageImages, PlacementLines) {
  struct Placement {
    long double x, y, w, h, angle;
  };
  struct Case {
    const char* name;
    Placement box;
    Lines lines;
  };
  const Case kCases[] = {
      {"full A4 page",
       {0, 0, 595, 842, 0},
       {"q", "1 0 0 1 0 0 cm", "595 0 0 842 0 0 cm", "/Im0 Do", "Q"}},
      {"middle strip",
       {0, 286, 595, 287.903L, 0},
       {"q", "1 0 0 1 0 268.1 cm", "595 0 0 287.9 0 0 cm", "/Im0 Do", "Q"}},
      {"tiny angle is no turn",
       {10, 20, 30, 40, 0.0005L},
       {"q", "1 0 0 1 10 782 cm", "30 0 0 40 0 0 cm", "/Im0 Do", "Q"}},
      {"quarter turn",
       {0, 0, 595, 842, 90},
       {"q", "1 0 0 1 0 0 cm", "0 1 -1 0 0 0 cm", "595 0 0 842 0 0 cm", "/Im0 Do", "Q"}},
      {"thirty degrees",
       {0, 0, 100, 100, 30},
       {"q", "1 0 0 1 0 742 cm", "0.87 0.5 -0.5 0.87 0 0 cm", "100 0 0 100 0 0 cm", "/Im0 Do",
        "Q"}},
      // Sizes pass through 32-bit floats: 45.695 becomes 45.6949997.
      {"box below the page bottom",
       {0, 800, 595, 45.695L, 0},
       {"q", "1 0 0 1 0 -3.69 cm", "595 0 0 45.69 0 0 cm", "/Im0 Do", "Q"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    PdfDocument document;
    document.BeginDoc();
    const int32_t image = pdf_test::AddTestImage(document);
    const Placement& b = c.box;
    document.CurrentPage()->ShowImage(image, b.x, b.y, b.w, b.h, b.angle);
    EXPECT_EQ(Drawn(*document.CurrentPage()), c.lines);
  }
}

TEST(PdfPageImages, ResourcesHoldOneEntryPerImageAndPage) {
  PdfDocument document;
  document.BeginDoc();
  const int32_t first = pdf_test::AddTestImage(document);
  const int32_t second = pdf_test::AddTestImage(document);
  PdfPage* page = document.CurrentPage();
  page->ShowImage(first, 0, 0, 595, 421, 0);
  page->ShowImage(second, 0, 421, 595, 421, 0);
  page->ShowImage(first, 0, 0, 10, 10, 0);
  const std::string resources = Nested(*page->PageObj().ValueByName("Resources"));
  EXPECT_EQ(resources,
            "<< /ProcSet [ /PDF /Text /ImageC ] /XObject << /Im0 6 0 R /Im1 7 0 R >> "
            "/Font << >> >> ");
  Lines does;
  for (const std::string& line : page->PageContent()) {
    if (line.ends_with(" Do")) does.push_back(line);
  }
  EXPECT_EQ(does, (Lines{"/Im0 Do", "/Im1 Do", "/Im0 Do"}));

  document.AddPage();
  document.CurrentPage()->ShowImage(first, 0, 0, 595, 842, 0);
  EXPECT_EQ(Nested(*document.CurrentPage()->PageObj().ValueByName("Resources")),
            "<< /ProcSet [ /PDF /Text /ImageC ] /XObject << /Im0 6 0 R >> /Font << >> >> ");
  EXPECT_THROW(document.CurrentPage()->ShowImage(2, 0, 0, 1, 1, 0), std::out_of_range);
}

TEST(PdfPageImages, KeepImageAspectRatio) {
  struct Case {
    const char* name;
    int32_t width, height;  // pixels
    long double w, h;       // the box asked for
    const char* scale;      // the scaling line written
  };
  const Case kCases[] = {
      // Both scales below one: the smaller one wins, the picture fits the box.
      {"shrink, wide picture", 1000, 500, 100, 100, "100 0 0 50 0 0 cm"},
      {"shrink, tall picture", 500, 1000, 100, 100, "50 0 0 100 0 0 cm"},
      // Otherwise the larger scale wins and the picture fills the box.
      {"grow, wide box", 8, 8, 100, 50, "100 0 0 100 0 0 cm"},
      {"grow, tall box", 8, 8, 50, 100, "100 0 0 100 0 0 cm"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    PdfDocument document;
    document.SetKeepImageAspectRatio(true);
    document.BeginDoc();
    const std::string name = document.NextImageName();
    const int32_t image =
        document.RegisterImage(std::make_unique<PdfStreamObject>(), name, c.width, c.height);
    document.CurrentPage()->ShowImage(image, 0, 0, c.w, c.h, 0);
    EXPECT_EQ(Drawn(*document.CurrentPage()).at(2), c.scale);
  }
}

TEST(PdfPageBox, SizesAndOrientation) {
  struct Case {
    PdfPageSize size;
    PdfPageOrientation orientation;
    float width, height;
  };
  constexpr Case kCases[] = {
      {psA4, poPortrait, 595, 842},         {psA4, poLandscape, 842, 595},
      {psLetter, poPortrait, 612, 792},     {psA3, poPortrait, 842, 1190},
      {psLegal, poPortrait, 612, 1008},     {psB5, poPortrait, 516, 728},
      {psC5, poPortrait, 459, 649},         {ps8x11, poPortrait, 576, 792},
      {psB4, poPortrait, 728, 1031},        {psA5, poPortrait, 419, 595},
      {psFolio, poPortrait, 612, 936},      {psExecutive, poPortrait, 522, 756},
      {psEnvB4, poPortrait, 728, 1031},     {psEnvB5, poPortrait, 499, 708},
      {psEnvC6, poPortrait, 323, 459},      {psEnvDL, poPortrait, 312, 623},
      {psEnvMonarch, poPortrait, 279, 540}, {psEnv9, poPortrait, 279, 639},
      {psEnv10, poPortrait, 297, 684},      {psEnv11, poLandscape, 747, 324},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.size << "/" << c.orientation);
    PdfDocument document;
    document.BeginDoc();
    PdfPage& page = *document.CurrentPage();
    page.SetOrientation(c.orientation);
    page.SetSize(c.size);
    EXPECT_EQ(page.Width(), c.width);
    EXPECT_EQ(page.Height(), c.height);
    EXPECT_EQ(Nested(*page.PageObj().ValueByName("MediaBox")),
              "[ 0 0 " + FormatPdfNumber(c.width) + " " + FormatPdfNumber(c.height) + " ]");
    EXPECT_EQ(page.ConvertY(0), c.height);
  }
}

TEST(PdfPageBox, WidthAndHeightSetters) {
  PdfDocument document;
  document.BeginDoc();
  PdfPage& page = *document.CurrentPage();
  page.SetWidth(595.5f);
  EXPECT_EQ(page.Width(), 595);  // read back in whole page units
  EXPECT_EQ(page.Size(), psUserDefined);
  EXPECT_EQ(Nested(*page.PageObj().ValueByName("MediaBox")), "[ 0 0 595.5 842 ]");
  page.SetHeight(1000);
  EXPECT_EQ(page.ConvertY(10), 990);

  // Landscape on a tall page exchanges the sides; portrait exchanges them back.
  page.SetOrientation(poLandscape);
  EXPECT_EQ(Nested(*page.PageObj().ValueByName("MediaBox")), "[ 0 0 1000 595.5 ]");
  page.SetOrientation(poLandscape);
  EXPECT_EQ(Nested(*page.PageObj().ValueByName("MediaBox")), "[ 0 0 1000 595.5 ]");
  page.SetOrientation(poPortrait);
  EXPECT_EQ(Nested(*page.PageObj().ValueByName("MediaBox")), "[ 0 0 595.5 1000 ]");
}

TEST(PdfPageBox, CoordinateConversion) {
  PdfDocument document;
  document.BeginDoc();
  PdfPage& page = *document.CurrentPage();
  EXPECT_EQ(page.ConvertX(100), 100);
  EXPECT_EQ(page.ConvertY(100), 742);

  // The document's resolution scales page units down; the page's scales them into points.
  document.SetResolution(144);
  EXPECT_EQ(document.DocScale(), 2.0L);
  EXPECT_EQ(page.ConvertX(100), 50);
  EXPECT_EQ(page.ConvertY(100), 792);
  page.SetResolution(144);
  EXPECT_EQ(page.Width(), 1190);
  EXPECT_EQ(page.ConvertX(100), 25);
  document.SetResolution(0);  // a scale of 0 counts as 1
  EXPECT_EQ(page.ConvertX(100), 50);
  EXPECT_THROW(page.SetResolution(0), PdfError);

  // A user-defined box converts without scaling.
  page.SetWidth(300);
  EXPECT_EQ(page.ConvertX(100), 100);
  EXPECT_EQ(page.ConvertY(100), 742);
}

}  // namespace
}  // namespace brevis
