// Tests of PageFile: the body in the temporary file as it is written, the cap counted on the
// file, and what is left after a commit, a refused body and a failure.
#include "download/page_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/tests/test_files.h"
#include "download/tests/tiff_sample.h"
#include "http/http_errors.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;

class PageFileTest : public ::testing::Test {
 protected:
  PageFileTest() : dir_(test::FreshTestDir("page_file_test")) {}
  ~PageFileTest() override { fs::remove_all(dir_); }

  std::size_t FileCount() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }
  static void Write(PageFile& file, const std::string& bytes) {
    file.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }

  fs::path dir_;
};

TEST_F(PageFileTest, BodyIsOnDiskAsWrittenAndTakesTheNameOnlyOnCommit) {
  const std::string page = test::TiffSample(7);
  const std::string path = (dir_ / "gk_000001.tif").string();
  {
    PageFile file(path, 1 << 20);
    // Nothing is made before the first byte.
    EXPECT_EQ(FileCount(), 0u);
    Write(file, page.substr(0, page.size() / 2));
    // The first half is in the temporary file already, not in memory.
    ASSERT_FALSE(file.TemporaryName().empty());
    EXPECT_EQ(test::ReadFile(file.TemporaryName()), page.substr(0, page.size() / 2));
    EXPECT_FALSE(fs::exists(path));
    Write(file, page.substr(page.size() / 2));
    file.Commit();
  }
  EXPECT_EQ(test::ReadFile(path), page);
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(PageFileTest, CapIsCountedOnTheFile) {
  constexpr std::int64_t kCap = 1000;
  const std::string path = (dir_ / "gk_000001.tif").string();
  {
    PageFile file(path, kCap);
    Write(file, std::string(600, 'a'));
    Write(file, std::string(400, 'b'));
    EXPECT_EQ(fs::file_size(file.TemporaryName()), 1000u);
    try {
      Write(file, "c");
      ADD_FAILURE() << "a byte beyond the cap was taken";
    } catch (const HttpResponseError& error) {
      EXPECT_STREQ(error.what(), "Response body is larger than the 1000 bytes a fetch accepts.");
    }
    // The file never holds more than the cap.
    EXPECT_EQ(fs::file_size(file.TemporaryName()), 1000u);
  }
  // Given up: nothing is left.
  EXPECT_EQ(FileCount(), 0u);
}

TEST_F(PageFileTest, RefusedBodiesLeaveNoFile) {
  struct Case {
    const char* title;
    std::string body;
  };
  const std::vector<Case> kCases = {
      {"no body at all", ""},
      {"an error page sent as a success", "<html>busy</html>"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.title);
    const std::string path = (dir_ / "gk_000001.tif").string();
    {
      PageFile file(path, 1 << 20);
      Write(file, c.body);
      try {
        file.Commit();
        ADD_FAILURE() << "committed";
      } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "The body is not a TIFF.");
      }
    }
    EXPECT_EQ(FileCount(), 0u);
  }
}

}  // namespace
}  // namespace brevis
