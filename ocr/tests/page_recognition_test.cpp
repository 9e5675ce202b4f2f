// The recognition pool: pages recognised in the background and taken in any order, a page that
// cannot be read, and a queue that is cleared.
#include "ocr/page_recognition.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/tests/test_files.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;

const std::string kFixture = std::string(OCR_TEST_DATA_DIR) + "/four_lines.tif";

TEST(PageRecognitionTest, PagesSubmittedAndTakenInAnyOrder) {
  const fs::path dir = test::FreshTestDir("page_recognition_test");
  // Copies of the fixture under several names, and a file that is no TIFF.
  std::vector<std::string> pages;
  for (int i = 0; i < 4; ++i) {
    pages.push_back((dir / ("page" + std::to_string(i) + ".tif")).string());
    fs::copy_file(kFixture, pages.back());
  }
  const std::string broken = (dir / "broken.tif").string();
  std::ofstream(broken) << "not a TIFF";

  PageRecognition recognition(kDefaultOcrLanguages, 2);
  EXPECT_EQ(recognition.Threads(), 2u);
  for (const std::string& page : pages) recognition.Submit(page);
  recognition.Submit(pages[0]);  // once is enough
  // The last page first: it goes to the head of the queue.
  for (auto page = pages.rbegin(); page != pages.rend(); ++page) {
    const PageText text = recognition.Take(*page);
    EXPECT_EQ(text.Error, "");
    ASSERT_EQ(text.Images.size(), 1u);
    EXPECT_EQ(text.Images[0].Lines.size(), 4u);
    EXPECT_EQ(text.Images[0].Width, 1800);
  }
  // Not submitted: taken all the same. Not a page: no text, and why.
  EXPECT_EQ(recognition.Take(pages[1]).Images.size(), 1u);
  const PageText none = recognition.Take(broken);
  EXPECT_TRUE(none.Images.empty());
  EXPECT_EQ(none.Error, "Invalid tiff file name");

  // Cleared, the waiting pages are forgotten; the pool still serves.
  for (const std::string& page : pages) recognition.Submit(page);
  recognition.Clear();
  EXPECT_EQ(recognition.Take(pages[2]).Images.size(), 1u);
  fs::remove_all(dir);
}

TEST(PageRecognitionTest, MissingLanguageFailsAtOnce) {
  EXPECT_THROW(PageRecognition("xyz_vert", 1), OcrError);
}

}  // namespace
}  // namespace brevis
