// Tests of PdfCombiner: the PDFs it writes are checked by qpdf and poppler, pages coded ahead
// must give the same file as pages read at combination time, the cap on pages kept prepared and
// the limit on pages prepared at once.
#include "core/pdf_combiner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/tests/test_files.h"
#include "common/text.h"
#include "pdf/tests/masked_pdf.h"
#include "stand_in/page_generator.h"

namespace brevis {
namespace {

using test::MaskedPdf;
using test::ReadFile;
using test::ShellOutput;

namespace fs = std::filesystem;

class PdfCombinerTest : public ::testing::Test {
 protected:
  PdfCombinerTest() : dir_(test::FreshTestDir("pdf_combiner_test")) {
    WritePages(PageGenerator("200710038426", 3));
  }
  ~PdfCombinerTest() override { fs::remove_all(dir_); }

  void WritePages(const PageGenerator& pages) const {
    for (int p = 1; p <= 3; ++p) pages.WriteTiff(p, Page(p));
  }

  std::string Page(int p) const {
    return (dir_ / ("gk_00000" + std::to_string(p) + ".tif")).string();
  }

  // Combines the three pages into `name` as the combination does.
  fs::path Combine(PdfCombiner& combiner, const std::string& name) const {
    const fs::path pdf = dir_ / name;
    combiner.BeginDoc(Utf8ToUtf16(pdf.string()), u"CN200710038426 发明专利申请公开说明书");
    for (int p = 1; p <= 3; ++p) {
      if (p > 1) combiner.AddPage();
      combiner.AddTiffFromFile(Utf8ToUtf16(Page(p)));
    }
    combiner.EndDoc();
    return pdf;
  }

  void PrepareAll(PdfCombiner& combiner) const {
    std::vector<std::thread> threads;
    for (int p = 1; p <= 3; ++p) {
      threads.emplace_back([&combiner, this, p] { combiner.PreparePage(Utf8ToUtf16(Page(p))); });
    }
    for (std::thread& thread : threads) thread.join();
  }

  // Overwrites the file with bytes that are no picture, keeping its size and modification time:
  // a page prepared from it still matches it, and reading it fails.
  static void GarbleKeepingSizeAndTime(const std::string& path) {
    const fs::file_time_type written = fs::last_write_time(path);
    test::WriteFile(path, std::string(fs::file_size(path), 'x'));
    fs::last_write_time(path, written);
  }

  fs::path dir_;
};

TEST_F(PdfCombinerTest, WritesOneGroup4PagePerFileWithTheDocumentsInfo) {
  PdfCombiner combiner;
  const fs::path pdf = Combine(combiner, "read.pdf");
  EXPECT_EQ(std::system(("qpdf --check " + pdf.string() + " >/dev/null 2>&1").c_str()), 0);
  const std::string info = ShellOutput("pdfinfo " + pdf.string());
  EXPECT_NE(info.find("Title:           Tavish Presented\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Author:          Tavish\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Keywords:        brevis pdf document\n"), std::string::npos) << info;
  // The catalogue carries the viewer preferences the component sets: none.
  EXPECT_EQ(ShellOutput("qpdf --show-object=1 " + pdf.string()),
            "<< /AA << >> /PageLayout /OneColumn /PageMode /UseNone /Pages 3 0 R /Type /Catalog "
            "/ViewerPreferences << >> >>\n");
  EXPECT_NE(info.find("Subject:         CN200710038426 发明专利申请公开说明书\n"),
            std::string::npos)
      << info;
  EXPECT_NE(info.find("Pages:           3\n"), std::string::npos) << info;
  // The pages' images are one-bit Group 4 images as wide as the page files.
  const std::string images = ShellOutput("pdfimages -list " + pdf.string());
  EXPECT_TRUE(std::regex_search(images, std::regex(R"(2480\s+\d+\s+gray\s+1\s+1\s+ccitt)")))
      << images;
}

TEST_F(PdfCombinerTest, PagesPreparedAheadGiveTheSameFile) {
  PdfCombiner combiner;
  const fs::path read = Combine(combiner, "read.pdf");
  // Garbled after they were prepared, the files can give that PDF only from the prepared pages.
  PrepareAll(combiner);
  for (int p = 1; p <= 3; ++p) GarbleKeepingSizeAndTime(Page(p));
  fs::path prepared;
  ASSERT_NO_THROW(prepared = Combine(combiner, "prepared.pdf"));
  EXPECT_EQ(MaskedPdf(prepared), MaskedPdf(read));

  // Pages replaced after they were prepared are read again.
  WritePages(PageGenerator("200710038426", 3));
  PrepareAll(combiner);
  const PageGenerator other("201910987654", 3);
  other.WriteTiff(2, Page(2));
  other.WriteTiff(3, Page(3));
  const fs::path changed = Combine(combiner, "changed.pdf");
  PdfCombiner fresh;
  EXPECT_EQ(MaskedPdf(changed), MaskedPdf(Combine(fresh, "fresh.pdf")));
  EXPECT_NE(MaskedPdf(changed), MaskedPdf(read));
}

TEST_F(PdfCombinerTest, PagesBeyondTheCapAreReadWhenCombined) {
  PdfCombiner combiner(2);
  for (int p = 1; p <= 3; ++p) combiner.PreparePage(Utf8ToUtf16(Page(p)));
  for (int p = 1; p <= 3; ++p) GarbleKeepingSizeAndTime(Page(p));
  // Pages 1 and 2 filled the cap and are placed as prepared; page 3 is read, and is no picture.
  combiner.BeginDoc(Utf8ToUtf16((dir_ / "capped.pdf").string()), u"");
  EXPECT_NO_THROW(combiner.AddTiffFromFile(Utf8ToUtf16(Page(1))));
  combiner.AddPage();
  EXPECT_NO_THROW(combiner.AddTiffFromFile(Utf8ToUtf16(Page(2))));
  combiner.AddPage();
  EXPECT_THROW(combiner.AddTiffFromFile(Utf8ToUtf16(Page(3))), std::exception);
}

TEST_F(PdfCombinerTest, AtMostTheLimitOfPagesIsPreparedAtOnceAndTheOthersWait) {
  // A reader that holds every page until the test lets them go, counting the pages it holds.
  std::mutex lock;
  std::condition_variable changed;
  int holding = 0, most = 0, read = 0;
  bool go = false;
  PdfCombiner combiner(PdfCombiner::kMaxPreparedPages, 2, [&](const std::string&) {
    std::unique_lock<std::mutex> guard(lock);
    most = std::max(most, ++holding);
    changed.notify_all();
    changed.wait(guard, [&] { return go; });
    --holding;
    ++read;
    return PreparedTiff{};
  });
  std::vector<std::thread> workers;
  for (int w = 0; w < 5; ++w) {
    workers.emplace_back(
        [&combiner, this, w] { combiner.PreparePage(Utf8ToUtf16(Page(w % 3 + 1))); });
  }
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(10), [&] { return holding == 2; }));
    // Given time to start, no third page is read while two are held.
    EXPECT_FALSE(
        changed.wait_for(guard, std::chrono::milliseconds(300), [&] { return holding > 2; }));
    go = true;
  }
  changed.notify_all();
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(most, 2);
  // Every worker read its page once the others had done.
  EXPECT_EQ(read, 5);
}

TEST_F(PdfCombinerTest, APageThatIsNoTiffFailsWhenCombinedNotWhenPrepared) {
  std::ofstream(Page(2), std::ios::trunc) << "<html>busy</html>";
  PdfCombiner combiner;
  PrepareAll(combiner);
  combiner.BeginDoc(Utf8ToUtf16((dir_ / "broken.pdf").string()), u"");
  combiner.AddTiffFromFile(Utf8ToUtf16(Page(1)));
  combiner.AddPage();
  EXPECT_THROW(combiner.AddTiffFromFile(Utf8ToUtf16(Page(2))), std::exception);
  EXPECT_FALSE(fs::exists(dir_ / "broken.pdf"));
}

}  // namespace
}  // namespace brevis
