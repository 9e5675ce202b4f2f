// The document component: whole files checked byte for byte and by qpdf, poppler and mupdf,
// properties, page switching, page removal and several documents in turn.
#include "pdf/pdf_document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "pdf/flate.h"
#include "pdf/pdf_error.h"
#include "pdf/tests/masked_pdf.h"
#include "pdf/tests/pdf_test_support.h"

namespace brevis {
namespace {

using pdf_test::AddTestImage;
using pdf_test::ExpectCrossReferencesMatch;
using pdf_test::ExpectPdfError;
using pdf_test::ExpectValidPdf;
using test::MaskDates;
using test::ReadFile;
using test::ScratchFolder;

// The settings the application's window gives its component.
void SetUpLikeTheWindow(PdfDocument& document, const std::string& path) {
  document.SetAuthor("Tavish");
  document.SetTitle("Tavish Presented");
  document.SetViewerPreferences({});
  document.SetFileName(path);
}

// A document as the application combines it: one full-page image per page.
void WriteImagePages(PdfDocument& document, int pages) {
  document.BeginDoc();
  for (int k = 0; k < pages; ++k) {
    if (k > 0) document.AddPage();
    const int32_t image = AddTestImage(document, k);
    document.CurrentPage()->ShowImage(image, 0, 0, 595, 842, 0);
  }
  document.EndDoc();
}

// Golden files hold whole documents with their dates masked. BREVIS_UPDATE_GOLDEN=1 rewrites
// them from the current output (check the difference before committing it).
void ExpectGolden(const std::string& pdf, const std::string& name) {
  const std::string path = std::string(PDF_TEST_DATA_DIR) + "/" + name;
  if (std::getenv("BREVIS_UPDATE_GOLDEN") != nullptr) test::WriteFile(path, MaskDates(pdf));
  const std::string golden = ReadFile(path);
  ASSERT_FALSE(golden.empty()) << "missing " << path;
  EXPECT_TRUE(MaskDates(pdf) == golden) << "differs from " << path;
}

TEST(PdfDocumentFile, OnePageWithOneImage) {
  ScratchFolder scratch;
  const std::string path = scratch.File("CN200710038426_gk.pdf");
  PdfDocument document;
  SetUpLikeTheWindow(document, path);
  WriteImagePages(document, 1);
  const std::string pdf = ReadFile(path);

  const std::string objects1To4 =
      "%PDF-1.4\n%tMwK\n"
      "1 0 obj\n<< \n/Type /Catalog \n/Pages 3 0 R \n/PageLayout /OneColumn \n"
      "/PageMode /UseNone \n/ViewerPreferences << >> \n/AA << >> \n>> \nendobj\n"
      "2 0 obj\n<< \n/CreationDate (D:00000000000000)\n"
      "/Creator (Folvane Lib https://folvane.example/)\n/Author (Tavish)\n"
      "/Title (Tavish Presented)\n/Keywords (Folvane Lib, PDF)\n/Subject ()\n"
      "/ModDate (D:00000000000000)\n>> \nendobj\n"
      "3 0 obj\n<< \n/Type /Pages \n/Kids [ 4 0 R ] \n/Count 1 \n>> \nendobj\n"
      "4 0 obj\n<< \n/Type /Page \n/Parent 3 0 R \n/MediaBox [ 0 0 595 842 ] \n"
      "/Resources << /ProcSet [ /PDF /Text /ImageC ] /XObject << /Im0 6 0 R >> /Font << >> >> \n"
      "/Contents 5 0 R \n>> \nendobj\n"
      "5 0 obj\n<< /Length ";
  const std::string masked = MaskDates(pdf);
  ASSERT_EQ(masked.substr(0, objects1To4.size()), objects1To4);
  EXPECT_EQ(pdf.find("1 0 obj"), 15u);

  // The content stream, inflated.
  const std::size_t lengthAt = objects1To4.size();
  const std::size_t length = std::stoul(pdf.substr(lengthAt));
  const std::string dictionaryEnd = " /DecodeParms [  ] /Filter [ /FlateDecode ] >> \nstream\n";
  const std::size_t dataAt = pdf.find(dictionaryEnd, lengthAt) + dictionaryEnd.size();
  ASSERT_EQ(pdf.substr(lengthAt, dataAt - lengthAt), std::to_string(length) + dictionaryEnd);
  const std::vector<uint8_t> inflated =
      FlateDecompress(std::span(reinterpret_cast<const uint8_t*>(pdf.data()) + dataAt, length));
  EXPECT_EQ(std::string(inflated.begin(), inflated.end()),
            "\r\n\r\n0 0 0 RG\r\n0 0 0 rg\r\n0 Tr\r\nq\r\n1 0 0 1 0 0 cm\r\n"
            "595 0 0 842 0 0 cm\r\n/Im0 Do\r\nQ\r\nq\r\nQ\r\n1 0 0 RG\r\n1 0 0 rg\r\n1 Tr\r\n"
            "2 w\r\n0 0 0 RG\r\n0 0 0 rg\r\n\r\n\r\n");
  const std::string afterContent = "\nendstream\nendobj\n6 0 obj\n<< /Type /XObject ";
  EXPECT_EQ(pdf.compare(dataAt + length, afterContent.size(), afterContent), 0);

  const std::size_t xref = pdf.find("xref\r\n");
  const std::string tail = pdf.substr(xref);
  EXPECT_EQ(tail.substr(0, 51), "xref\r\n0 7\r\n0000000000 65535 f\r\n0000000015 00000 n\r\n");
  EXPECT_EQ(tail.substr(tail.find("trailer")),
            "trailer\r\n<<\r\n/Size 7\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n>>\r\nstartxref\r\n" +
                std::to_string(xref) + "\r\n%%EOF\r\n");
  ExpectCrossReferencesMatch(pdf);
  ExpectGolden(pdf, "one_page.pdf");
  ExpectValidPdf(path, 1);
}

TEST(PdfDocumentFile, KidsOfTwelveAndTwentyPages) {
  struct Case {
    int pages;
    const char* golden;
    const char* size;
  };
  constexpr Case kCases[] = {{12, "kids12.pdf", "/Size 40\r\n"},
                             {20, "kids20.pdf", "/Size 64\r\n"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.pages);
    ScratchFolder scratch;
    const std::string path = scratch.File("kids.pdf");
    PdfDocument document;
    SetUpLikeTheWindow(document, path);
    WriteImagePages(document, c.pages);
    const std::string pdf = ReadFile(path);

    // Page k's dictionary is object 4 + 3k: dictionary, content stream, image.
    std::string kids = "/Kids [ ";
    int counted = 0;
    for (int k = 0; k < c.pages; ++k) {
      if (counted >= 100) {
        kids += "\r\n";
        counted = 0;
      }
      const std::string link = std::to_string(4 + 3 * k) + " 0 R";
      kids += link + (k + 1 < c.pages ? " " : "");
      counted += static_cast<int>(link.size());
    }
    kids += " ] \n/Count " + std::to_string(c.pages) + " \n";
    EXPECT_NE(pdf.find(kids), std::string::npos) << kids;
    EXPECT_NE(pdf.find(c.size), std::string::npos);
    EXPECT_EQ(pdf.find("52 0 R \r\n55 0 R") != std::string::npos, c.pages == 20);
    ExpectCrossReferencesMatch(pdf);
    ExpectGolden(pdf, c.golden);
    ExpectValidPdf(path, c.pages);
  }
}

// Writes a begun document into memory and returns the text.
std::string EndDocToMemory(PdfDocument& document, MemoryStream& out) {
  document.EndDoc();
  EXPECT_EQ(out.Position(), 0);
  return out.ToString();
}

TEST(PdfDocument, CatalogueEntriesFollowTheProperties) {
  struct Case {
    const char* name;
    void (*before)(PdfDocument&);
    void (*after)(PdfDocument&);
    const char* expected;
    const char* absent;
  };
  const Case kCases[] = {
      {"layout set before BeginDoc is overwritten",
       [](PdfDocument& d) { d.SetPageLayout(plTwoColumnLeft); }, [](PdfDocument&) {},
       "/PageLayout /OneColumn \n", nullptr},
      {"layout set after BeginDoc", [](PdfDocument&) {},
       [](PdfDocument& d) { d.SetPageLayout(plTwoColumnLeft); },
       "/PageLayout /TwoColumnLeft \n/PageMode /UseNone \n/AA << >> \n", nullptr},
      {"page mode", [](PdfDocument& d) { d.SetPageMode(pmFullScreen); }, [](PdfDocument&) {},
       "/PageMode /FullScreen \n", nullptr},
      {"viewer preferences never set", [](PdfDocument&) {}, [](PdfDocument&) {}, "/AA << >> \n",
       "ViewerPreferences"},
      {"viewer preferences set empty", [](PdfDocument& d) { d.SetViewerPreferences({}); },
       [](PdfDocument&) {}, "/ViewerPreferences << >> \n", nullptr},
      {"viewer preferences in their fixed order",
       [](PdfDocument& d) {
         d.SetViewerPreferences({vpCenterWindow, vpHideToolbar, vpFitWindow});
       },
       [](PdfDocument&) {},
       "/ViewerPreferences << /HideToolbar true /FitWindow true /CenterWindow true >> \n", nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    PdfDocument document;
    MemoryStream out;
    document.SetOutputStream(&out);
    c.before(document);
    document.BeginDoc();
    c.after(document);
    const std::string pdf = EndDocToMemory(document, out);
    EXPECT_NE(pdf.find(c.expected), std::string::npos) << pdf.substr(0, 200);
    if (c.absent != nullptr) {
      EXPECT_EQ(pdf.find(c.absent), std::string::npos);
    }
  }
}

TEST(PdfDocument, OneComponentWritesManyDocumentsInTurn) {
  ScratchFolder scratch;
  PdfDocument document;
  for (const int firstPages : {1, 3}) {
    SCOPED_TRACE(firstPages);
    SetUpLikeTheWindow(document, scratch.File("first.pdf"));
    document.SetTitle("First document");
    WriteImagePages(document, firstPages);
    const std::string first = ReadFile(scratch.File("first.pdf"));

    SetUpLikeTheWindow(document, scratch.File("second.pdf"));
    document.BeginDoc();
    EXPECT_EQ(document.PagesCount(), 1);
    EXPECT_EQ(document.CurrentPageNumber(), 0);
    EXPECT_EQ(document.IndirectObjects().size(), 5u);
    EXPECT_EQ(document.IndirectObjects().front()->ID(), (PdfObjectNumber{1, 0}));
    const int32_t image = AddTestImage(document);
    EXPECT_EQ(image, 0);
    EXPECT_EQ(document.XImages()[0].Name, "Im0");
    document.CurrentPage()->ShowImage(image, 0, 0, 595, 842, 0);
    document.EndDoc();
    const std::string second = ReadFile(scratch.File("second.pdf"));

    EXPECT_NE(first.find("/Title (First document)"), std::string::npos);
    EXPECT_EQ(second.find("First document"), std::string::npos);
    EXPECT_NE(second.find("/Kids [ 4 0 R ] \n/Count 1 "), std::string::npos);
    EXPECT_NE(second.find("/Size 7\r\n"), std::string::npos);
    // A fresh document starts with the same catalogue as the first one.
    EXPECT_EQ(second.substr(0, second.find("2 0 obj")), first.substr(0, first.find("2 0 obj")));
    ExpectValidPdf(scratch.File("first.pdf"), firstPages);
    ExpectValidPdf(scratch.File("second.pdf"), 1);
  }
}

TEST(PdfDocument, MisuseRaisesTheFixedMessages) {
  ScratchFolder scratch;
  PdfDocument document;
  document.BeginDoc();
  document.AddPage();
  PdfPage* open = document.CurrentPage();

  // An invalid page number leaves the open page open.
  for (const int32_t n : {2, 99, -1}) {
    ExpectPdfError([&] { document.SetCurrentPageNumber(n); }, "Invalid page number.");
    EXPECT_EQ(document.CurrentPageNumber(), 1);
    EXPECT_EQ(document.CurrentPage(), open);
  }
  ExpectPdfError([&] { document.DeletePage(2); }, "Invalid page number");

  // No file name and no stream: completed in memory, nothing written.
  ExpectPdfError([&] { document.EndDoc(); }, "Invalid filename.");
  EXPECT_EQ(scratch.Count(), 0u);

  MemoryStream out;
  ExpectPdfError([&] { document.SetOutputStream(&out); },
                 "Cannot set OutputStream value - document in progress.");

  PdfDocument fresh;
  EXPECT_THROW(fresh.AddPage(), std::logic_error);
  EXPECT_THROW(fresh.EndDoc(), std::logic_error);
}

TEST(PdfDocument, OutputStreamReceivesTheSameFileAsFileName) {
  ScratchFolder scratch;
  PdfDocument toFile;
  SetUpLikeTheWindow(toFile, scratch.File("a.pdf"));
  WriteImagePages(toFile, 2);

  PdfDocument toStream;
  MemoryStream out;
  toStream.SetOutputStream(&out);
  SetUpLikeTheWindow(toStream, "");
  WriteImagePages(toStream, 2);
  EXPECT_EQ(out.Position(), 0);
  EXPECT_EQ(MaskDates(out.ToString()), MaskDates(ReadFile(scratch.File("a.pdf"))));
}

TEST(PdfDocument, AbandonedDocumentIsDiscardedByTheNextBeginDoc) {
  ScratchFolder scratch;
  PdfDocument document;
  SetUpLikeTheWindow(document, scratch.File("abandoned.pdf"));
  document.BeginDoc();
  AddTestImage(document);
  document.CurrentPage()->AppendContent("% abandoned");
  EXPECT_THROW(document.SetCurrentPageNumber(4), PdfError);  // the import fails here

  SetUpLikeTheWindow(document, scratch.File("next.pdf"));
  document.BeginDoc();
  EXPECT_EQ(document.PagesCount(), 1);
  EXPECT_EQ(document.CurrentPageNumber(), 0);
  EXPECT_TRUE(document.XImages().empty());
  EXPECT_EQ(document.CurrentPage()->PageContent(),
            (std::vector<std::string>{"\r\n", "0 0 0 RG", "0 0 0 rg", "0 Tr"}));
  const int32_t image = AddTestImage(document);
  document.CurrentPage()->ShowImage(image, 0, 0, 595, 842, 0);
  document.EndDoc();
  EXPECT_EQ(scratch.Count(), 1u);
  ExpectValidPdf(scratch.File("next.pdf"), 1);
}

TEST(PdfDocument, DatesDefaultTextsAndDocumentIdentifier) {
  MemoryStream out;
  PdfDocument document;
  document.SetOutputStream(&out);
  document.SetFileName("x.pdf");
  document.BeginDoc();
  const std::string id = document.DocID();
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}"))) << id;
  const std::string before = PdfDocument::FormatPdfDate();
  document.EndDoc();
  const std::string after = PdfDocument::FormatPdfDate();
  EXPECT_TRUE(std::regex_match(before, std::regex("D:20[0-9]{12}"))) << before;

  std::smatch match;
  const std::string pdf = out.ToString();
  ASSERT_TRUE(std::regex_search(
      pdf, match, std::regex(R"(/CreationDate \((D:[0-9]{14})\)[^]*/ModDate \((D:[0-9]{14})\))")));
  for (const std::string& date : {match[1].str(), match[2].str()}) {
    EXPECT_LE(before, date);
    EXPECT_LE(date, after);
  }
  // Info texts never set are written with their defaults.
  EXPECT_NE(
      pdf.find("/Creator (Folvane Lib https://folvane.example/)\n/Author (Folvane Lib User)\n"
               "/Title (Created by Folvane Lib)\n/Keywords (Folvane Lib, PDF)\n/Subject ()\n"),
      std::string::npos)
      << pdf.substr(0, 400);
  document.SetFileName("y.pdf");
  document.BeginDoc();
  EXPECT_NE(document.DocID(), id);
}

TEST(PdfDocument, ImageNamesSkipNamesInUse) {
  PdfDocument document;
  document.BeginDoc();
  EXPECT_EQ(document.NextImageName(), "Im0");
  EXPECT_EQ(AddTestImage(document), 0);
  EXPECT_EQ(AddTestImage(document), 1);
  EXPECT_EQ(document.XImages()[1].Name, "Im1");
  EXPECT_EQ(document.XImages()[1].ImageObject->ID(), (PdfObjectNumber{7, 0}));

  // Names compare ignoring case, against the table and the open page's XObject resources.
  auto image = std::make_unique<PdfStreamObject>();
  EXPECT_EQ(document.RegisterImage(std::move(image), "IM2", 1, 1), 2);
  auto* xObject = static_cast<PdfDictionaryObject*>(
      static_cast<PdfDictionaryObject*>(document.CurrentPage()->PageObj().ValueByName("Resources"))
          ->ValueByName("XObject"));
  xObject->AddValue("im3", std::make_unique<PdfNullObject>());
  document.AddPage();  // the new page knows nothing of "im3"
  EXPECT_EQ(document.NextImageName(), "Im3");
  document.SetCurrentPageNumber(0);
  EXPECT_EQ(document.NextImageName(), "Im4");
  EXPECT_EQ(document.CurrentImageIndex(), 4);
}

TEST(PdfDocument, DeletePageLeavesOutItsObjectsButNotSharedImages) {
  ScratchFolder scratch;
  PdfDocument document;
  SetUpLikeTheWindow(document, scratch.File("deleted.pdf"));
  document.BeginDoc();
  const int32_t shared = AddTestImage(document, 0);
  document.CurrentPage()->ShowImage(shared, 0, 0, 595, 842, 0);
  for (int k = 1; k <= 3; ++k) {
    document.AddPage();
    const int32_t own = AddTestImage(document, k);
    document.CurrentPage()->ShowImage(own, 0, 0, 595, 421, 0);
    document.CurrentPage()->ShowImage(shared, 0, 421, 595, 421, 0);
  }
  PdfPage* open = document.CurrentPage();
  PdfObject* ownOfPage1 = document.XImages()[1].ImageObject;

  // Removing a page before the open one keeps that page open at its new position.
  document.DeletePage(1);
  EXPECT_EQ(document.PagesCount(), 3);
  EXPECT_EQ(document.CurrentPageNumber(), 2);
  EXPECT_EQ(document.CurrentPage(), open);
  EXPECT_TRUE(ownOfPage1->IsDeleted());
  EXPECT_FALSE(document.XImages()[0].ImageObject->IsDeleted());

  // Removing the open page opens the one before it.
  document.DeletePage(2);
  EXPECT_EQ(document.PagesCount(), 2);
  EXPECT_EQ(document.CurrentPageNumber(), 1);
  document.EndDoc();

  const std::string pdf = ReadFile(scratch.File("deleted.pdf"));
  // Objects: catalogue, Info, page tree, then two pages with stream and image each: 9.
  EXPECT_NE(pdf.find("/Size 10\r\n"), std::string::npos);
  EXPECT_NE(pdf.find("/Kids [ 4 0 R 7 0 R ] \n/Count 2 "), std::string::npos);
  ExpectCrossReferencesMatch(pdf);
  ExpectValidPdf(scratch.File("deleted.pdf"), 2);

  // Removing the only page leaves none open; a new page can follow.
  PdfDocument single;
  single.BeginDoc();
  single.DeletePage(0);
  EXPECT_EQ(single.PagesCount(), 0);
  EXPECT_EQ(single.CurrentPage(), nullptr);
  EXPECT_EQ(single.AddPage(), 0);
}

}  // namespace
}  // namespace brevis
