// "combine --ocr" and "fetch --ocr" end to end: the text laid over the pages comes out of three
// independent readers (poppler, mupdf, pdf.js) line for line as it was recognised, with a blank
// between two Chinese characters only where the page prints a gap; the text file beside the PDF
// holds the same lines; missing language data stops the command before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/tests/test_files.h"
#include "common/text.h"
#include "ocr/recognizer.h"
#include "ocr/tests/text_measures.h"
#include "pdf/tests/pdf_test_support.h"
#include "pdf/tests/text_readers.h"
#include "stand_in/page_generator.h"
#include "tools/cli/tests/ocr_models.h"
#include "tools/cli/tests/server_process.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;
using pdf_test::ReadPdfText;
using pdf_test::TextReader;
using test::ScratchFolder;

const std::string kCli = BREVISFETCH_CLI;

// The text file's pages and lines, as the readers' are cut.
std::vector<std::vector<std::string>> TextFilePages(const std::string& path) {
  return pdf_test::PagesOfLines(test::ReadFile(path));
}

// Every reader gives the lines of the text file, page by page, and at most one blank between two
// Chinese characters in a line: only a front page's field row prints such a gap ("申请人 武汉").
void ExpectReadersGiveTheTextFile(const std::string& pdf, const std::string& text_file) {
  const std::vector<std::vector<std::string>> expected = TextFilePages(text_file);
  for (const TextReader reader :
       {TextReader::kPdftotext, TextReader::kMutool, TextReader::kPdfjs}) {
    SCOPED_TRACE(pdf_test::ReaderName(reader));
    const pdf_test::ReadText read = ReadPdfText(reader, pdf);
    if (!read.missing.empty()) {
      ADD_FAILURE() << read.missing;
      continue;
    }
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(read.pages, expected) << read.raw;
    for (const auto& page : read.pages) {
      for (const std::string& line : page) {
        EXPECT_LE(test::BlanksBetweenCjk(Utf8ToUtf16(line)), 1u) << line;
      }
    }
  }
}

TEST(OcrCommandTest, CombineLaysTheRecognisedLinesOverEveryPage) {
  ScratchFolder scratch;
  // A front page and a description page of a generated patent, and the four-line fixture.
  const PageGenerator generator("201910987654", 6);
  const std::vector<std::string> pages = {scratch.File("1.tif"), scratch.File("3.tif"),
                                          std::string(OCR_TEST_DATA_DIR) + "/four_lines.tif"};
  generator.WriteTiff(1, pages[0]);
  generator.WriteTiff(3, pages[1]);
  const std::string pdf = scratch.File("out.pdf");
  std::string command = kCli + " combine --ocr -o '" + pdf + "'";
  for (const std::string& page : pages) command += " '" + page + "'";
  const pdf_test::ToolRun run = pdf_test::Run(command, scratch);
  ASSERT_EQ(run.status, 0) << run.err;
  pdf_test::ExpectValidPdf(pdf, 3);

  const std::vector<std::vector<std::string>> text = TextFilePages(scratch.File("out.txt"));
  ASSERT_EQ(text.size(), 3u);
  // The header's row, its items far apart, is one line.
  EXPECT_TRUE(text[0][0].starts_with("CN201910987654 发明专利申请 ")) << text[0][0];
  EXPECT_EQ(text[2].size(), 4u);
  ExpectReadersGiveTheTextFile(pdf, scratch.File("out.txt"));

  // Without --ocr: no text file, and no text in the PDF.
  const std::string plain = scratch.File("plain.pdf");
  ASSERT_EQ(pdf_test::Run(kCli + " combine -o '" + plain + "' '" + pages[0] + "'", scratch).status,
            0);
  EXPECT_FALSE(fs::exists(scratch.File("plain.txt")));
  EXPECT_EQ(test::ReadFile(plain).find("/ToUnicode"), std::string::npos);
}

TEST(OcrCommandTest, MissingModelsOrLanguageDataStopBeforeAnythingIsWritten) {
  ScratchFolder scratch;
  const std::string page = std::string(OCR_TEST_DATA_DIR) + "/four_lines.tif";
  struct Case {
    std::string environment;
    std::string options;
    std::string message;
  };
  const Case kCases[] = {
      // The neural recogniser without its models names their package and the other engine.
      {"BREVISFETCH_OCR_MODELS=" + scratch.File("no-models"), "--ocr",
       "install the Debian package brevisfetch-ocr-models, or recognise with Tesseract "
       "(--ocr-engine tesseract)."},
      {"", "--ocr --ocr-engine tesseract --ocr-lang chi_sim+xyz",
       "install the Debian package tesseract-ocr-xyz."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.options);
    const pdf_test::ToolRun combine =
        pdf_test::Run(c.environment + " " + kCli + " combine " + c.options + " -o '" +
                          scratch.File("x.pdf") + "' " + page,
                      scratch);
    EXPECT_EQ(combine.status >> 8, 1);
    EXPECT_NE(combine.err.find(c.message), std::string::npos) << combine.err;
    // The fetch asks nothing of a mirror that is not there.
    const pdf_test::ToolRun fetch =
        pdf_test::Run(c.environment + " BREVISFETCH_SERVER=http://127.0.0.1:9 " + kCli + " fetch " +
                          c.options + " CN200710038426 --repo '" + scratch.File("repo") + "'",
                      scratch);
    EXPECT_EQ(fetch.status >> 8, 1);
    EXPECT_NE(fetch.err.find(c.message), std::string::npos) << fetch.err;
    EXPECT_EQ(fetch.err.find("10061"), std::string::npos) << fetch.err;
    EXPECT_EQ(scratch.Count(), 0u);
  }
}

// A mirror of the sample data, for "fetch".
class SampleMirror {
 public:
  explicit SampleMirror(const ScratchFolder& scratch) : scratch_(scratch) {
    const std::string sample = scratch.File("sample");
    EXPECT_EQ(
        pdf_test::Run(std::string(BREVISFETCH_MIRROR) + " --make-sample '" + sample + "'", scratch)
            .status,
        0);
    mirror_ = std::make_unique<test::ServerProcess>(
        std::vector<std::string>{BREVISFETCH_MIRROR, "--port", "0", "--data", sample},
        scratch.File("mirror.log"));
  }
  // "fetch" with `options` of CN200820123456 into the scratch folder's "repo".
  pdf_test::ToolRun Fetch(const std::string& options) const {
    return pdf_test::Run("BREVISFETCH_SERVER=" + mirror_->Base() + " BREVISFETCH_PATENT_OFFICE=" +
                             mirror_->Base() + " " + kCli + " fetch " + options +
                             " CN200820123456 --repo '" + scratch_.File("repo") + "'",
                         scratch_);
  }

 private:
  const ScratchFolder& scratch_;
  std::unique_ptr<test::ServerProcess> mirror_;
};

TEST(OcrCommandTest, FetchWritesASearchablePdfAndItsTextFile) {
  ScratchFolder scratch;
  const SampleMirror mirror(scratch);
  const pdf_test::ToolRun run = mirror.Fetch("--ocr");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("CN200820123456: 3 pages recognised and combined\n"), std::string::npos)
      << run.err;
  const std::string folder = scratch.File("repo/CN200820123456/");
  const std::vector<std::vector<std::string>> text =
      TextFilePages(folder + "CN200820123456_gk.txt");
  ASSERT_EQ(text.size(), 3u);
  EXPECT_TRUE(text[1][0].starts_with("CN200820123456 ")) << text[1][0];
  ExpectReadersGiveTheTextFile(folder + "CN200820123456_gk.pdf", folder + "CN200820123456_gk.txt");
}

// The saved text `path` of a page with its first line's text replaced by `text`.
void ReplaceFirstSavedLine(const std::string& path, const std::string& text) {
  std::string saved = test::ReadFile(path);
  std::size_t at = saved.find("\nline ");
  ASSERT_NE(at, std::string::npos) << saved;
  // Past "line" and the box's four numbers.
  for (int i = 0; i < 5; ++i) at = saved.find(' ', at + 1);
  const std::size_t end = saved.find('\n', at);
  test::WriteFile(path, saved.replace(at + 1, end - at - 1, text));
}

TEST(OcrCommandTest, ResumeTakesTheTextSavedBesideEachKeptPageThatStillFits) {
  ScratchFolder scratch;
  const SampleMirror mirror(scratch);
  ASSERT_EQ(mirror.Fetch("--ocr").status, 0);
  const std::string folder = scratch.File("repo/CN200820123456/");
  const std::string gk = folder + "CN200820123456_gk.txt";
  const std::vector<std::vector<std::string>> recognised = TextFilePages(gk);
  ASSERT_EQ(recognised.size(), 3u);

  // Saved texts that the engine would never read: page 1's fits its page file, page 2's is cut
  // short, page 3's page file changed since (a byte more: still a TIFF that is kept).
  const std::string mark = "SAVED TEXT 保存的文字";
  for (const char* page : {"gk_000001", "gk_000002", "gk_000003"}) {
    ReplaceFirstSavedLine(folder + page + ".ocr", mark);
  }
  const std::string cut = test::ReadFile(folder + "gk_000002.ocr");
  test::WriteFile(folder + "gk_000002.ocr", cut.substr(0, cut.size() - 4));
  test::WriteFile(folder + "gk_000003.tif", test::ReadFile(folder + "gk_000003.tif") + "x");

  const pdf_test::ToolRun resumed = mirror.Fetch("--ocr --resume");
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  std::vector<std::vector<std::string>> expected = recognised;
  expected[0][0] = mark;
  EXPECT_EQ(TextFilePages(gk), expected);
  // The boxes came back too: the readers find the saved line where the page prints it.
  ExpectReadersGiveTheTextFile(folder + "CN200820123456_gk.pdf", gk);

  // Without --resume every page is recognised again.
  ReplaceFirstSavedLine(folder + "gk_000002.ocr", mark);
  ASSERT_EQ(mirror.Fetch("--ocr").status, 0);
  EXPECT_EQ(TextFilePages(gk), recognised);
}

}  // namespace
}  // namespace brevis
