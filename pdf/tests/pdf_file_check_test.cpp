// The whole-file check: the writer's own files pass with their page count, and a file cut short
// anywhere, or damaged where its structure lies, does not.
#include "pdf/pdf_file_check.h"

#include <gtest/gtest.h>

#include <string>

#include "common/stream.h"
#include "pdf/pdf_document.h"
#include "pdf/tests/pdf_test_support.h"

namespace brevis {
namespace {

// A document as the application writes it, of `pages` image pages.
std::string WrittenPdf(int pages) {
  MemoryStream out;
  PdfDocument document;
  document.SetOutputStream(&out);
  document.BeginDoc();
  for (int k = 0; k < pages; ++k) {
    if (k > 0) document.AddPage();
    const int32_t image = pdf_test::AddTestImage(document, k);
    document.CurrentPage()->ShowImage(image, 0, 0, 595, 842, 0);
  }
  document.EndDoc();
  return out.ToString();
}

TEST(PdfFileCheckTest, WrittenFilesAreWholeWithTheirPageCount) {
  // 25 pages take a page tree of more than one level.
  for (const int pages : {1, 3, 25}) {
    const PdfFileCheck check = CheckPdf(WrittenPdf(pages));
    EXPECT_TRUE(check.Whole) << pages << ": " << check.Problem;
    EXPECT_EQ(check.Pages, pages);
  }
  // A line break after %%EOF, as editors and some copies add, is no damage.
  EXPECT_TRUE(CheckPdf(WrittenPdf(2) + "\r\n").Whole);
}

TEST(PdfFileCheckTest, FilesCutShortAreNotWhole) {
  const std::string pdf = WrittenPdf(3);
  for (std::size_t length = 0; length + 2 < pdf.size(); length += 97) {
    EXPECT_FALSE(CheckPdf(pdf.substr(0, length)).Whole) << length;
  }
  for (const std::size_t cut : {3u, 7u, 12u}) {
    EXPECT_FALSE(CheckPdf(pdf.substr(0, pdf.size() - cut)).Whole) << cut;
  }
}

TEST(PdfFileCheckTest, DamagedStructureIsNamed) {
  const std::string pdf = WrittenPdf(3);
  struct Case {
    const char* what;
    std::string from;
    std::string to;
    const char* problem;
  };
  // Each replaces the first `from` (searched from the end for the trailer's parts).
  const Case cases[] = {
      {"header", "%PDF-", "%PDX-", "no %PDF- header"},
      {"object moved", "\n5 0 obj", "\n5 0 obk", "object 5 is not where the table says"},
      {"table entry", " 00000 n\r\n", " 00000 x\r\n", "a damaged cross-reference table"},
      {"root", "/Root 1 0 R", "/Root 0 0 R", "no page tree"},
  };
  for (const Case& c : cases) {
    std::string damaged = pdf;
    const std::size_t at = c.from == "/Root 1 0 R" ? damaged.rfind(c.from) : damaged.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.what;
    damaged.replace(at, c.from.size(), c.to);
    const PdfFileCheck check = CheckPdf(damaged);
    EXPECT_FALSE(check.Whole) << c.what;
    EXPECT_EQ(check.Problem, c.problem) << c.what;
  }
  // The end of object 5, just before object 6 begins.
  std::string cut = pdf;
  cut.replace(cut.rfind("endobj", cut.find("\n6 0 obj")), 6, "endob ");
  EXPECT_EQ(CheckPdf(cut).Problem, "object 5 is cut short");
  // A block of zeros over an object's start, as a lost disk block leaves.
  std::string zeroed = pdf;
  zeroed.replace(zeroed.find("\n4 0 obj") - 20, 64, std::string(64, '\0'));
  EXPECT_FALSE(CheckPdf(zeroed).Whole);
}

TEST(PdfFileCheckTest, FileThatCannotBeReadNamesTheCause) {
  test::ScratchFolder scratch;
  EXPECT_EQ(CheckPdfFile(scratch.File("missing.pdf")).Problem, "No such file or directory");
  test::WriteFile(scratch.File("empty.pdf"), "");
  EXPECT_EQ(CheckPdfFile(scratch.File("empty.pdf")).Problem, "empty");
  test::WriteFile(scratch.File("whole.pdf"), WrittenPdf(2));
  EXPECT_EQ(CheckPdfFile(scratch.File("whole.pdf")).Pages, 2);
}

}  // namespace
}  // namespace brevis
