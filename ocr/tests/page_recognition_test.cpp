// The recognition pool: pages recognised in the background and taken in any order, an engine for
// each core the process may use, a page that cannot be read, and a queue that is cleared.
#include "ocr/page_recognition.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

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

TEST(PageRecognitionTest, OneEngineForEachCoreTheProcessMayUse) {
  // As a batch system's task with one core of the machine's: threads started from here inherit
  // this thread's affinity.
  std::thread task([] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(PageRecognition(kDefaultOcrLanguages, 0).Threads(), 1u);
  });
  task.join();
  cpu_set_t all;
  ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
  EXPECT_EQ(PageRecognition(kDefaultOcrLanguages, 0).Threads(),
            static_cast<unsigned>(CPU_COUNT(&all)));
}

TEST(PageRecognitionTest, MissingLanguageFailsAtOnce) {
  EXPECT_THROW(PageRecognition("xyz_vert", 1), OcrError);
}

}  // namespace
}  // namespace brevis
