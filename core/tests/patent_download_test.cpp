// Tests of PatentDownload's outcome: the PDF made, the pages given up with their causes, or the
// combination's failure, each told once, last, through the listener.
#include "core/patent_download.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "core/pdf_combiner.h"
#include "common/tests/test_files.h"
#include "common/text.h"
#include "download/tests/page_server.h"
#include "download/tests/tiff_sample.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;
using Status = DownloadOutcome::Status;

// Serves three pages at /pages/000001.tif ...; page `missing` (0: none) answers 404.
test::Reply ServePages(const std::string& target, int missing) {
  for (int p = 1; p <= 3; ++p) {
    if (target != "/pages/00000" + std::to_string(p) + ".tif") continue;
    if (p == missing) return {404, "gone"};
    return {200, test::TiffSample(static_cast<uint32_t>(p))};
  }
  return {404, "no such page"};
}

TEST(PatentDownloadTest, EndsWithTheOutcomeItsPagesAllow) {
  struct Case {
    const char* name;
    int missing;
    bool combiner;
    Status result;
  };
  const Case kCases[] = {
      {"every page, combined", 0, true, Status::kCombined},
      {"page 2 given up", 2, true, Status::kPagesGivenUp},
      {"every page, no PDF writer", 0, false, Status::kCombineFailed},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const fs::path root = test::FreshTestDir("patent_download");
    test::PageServer server(
        [&c](const std::string& target) { return ServePages(target, c.missing); });
    ReRazavu rerazavu;
    rerazavu.Apn = u"200710038426";
    rerazavu.GkPages = 3;
    rerazavu.GkUrl = Utf8ToUtf16(server.Base() + "/pages");
    DownloadSettings settings;
    settings.Retries.MaxTries = 1;

    std::mutex lock;
    std::condition_variable finished;
    std::optional<DownloadOutcome> outcome;
    int last_downloaded = 0;
    int calls_after_end = 0;
    PatentDownload::Listener listener;
    listener.PageDownloaded = [&](int count) {
      std::lock_guard<std::mutex> guard(lock);
      last_downloaded = count;
      calls_after_end += outcome.has_value();
    };
    listener.Finished = [&](DownloadOutcome end) {
      std::lock_guard<std::mutex> guard(lock);
      calls_after_end += outcome.has_value();
      outcome = std::move(end);
      finished.notify_all();
    };
    PdfCombiner combiner;
    {
      PatentDownload download(rerazavu, Utf8ToUtf16(root.string()),
                              c.combiner ? &combiner : nullptr, settings, listener);
      EXPECT_EQ(download.Start(), 0);
      std::unique_lock<std::mutex> guard(lock);
      ASSERT_TRUE(
          finished.wait_for(guard, std::chrono::seconds(60), [&] { return outcome.has_value(); }));
    }
    EXPECT_EQ(outcome->Result, c.result);
    EXPECT_EQ(calls_after_end, 0);
    const fs::path pdf = root / "CN200710038426" / "CN200710038426_gk.pdf";
    EXPECT_EQ(fs::exists(pdf), c.result == Status::kCombined);
    switch (c.result) {
      case Status::kCombined:
        EXPECT_EQ(Utf16ToUtf8(outcome->PdfPath), pdf.string());
        EXPECT_EQ(last_downloaded, 3);
        break;
      case Status::kPagesGivenUp:
        ASSERT_EQ(outcome->GivenUp.size(), 1u);
        EXPECT_EQ(outcome->GivenUp[0].FileName, u"gk_000002.tif");
        // The cause is the last try's error: the server's status line.
        EXPECT_NE(outcome->GivenUp[0].Cause.find("404"), std::string::npos)
            << outcome->GivenUp[0].Cause;
        EXPECT_TRUE(outcome->PdfPath.empty());
        break;
      default:
        EXPECT_EQ(outcome->Error, "No PDF writer is available.");
        EXPECT_TRUE(outcome->PdfPath.empty());
        break;
    }
    fs::remove_all(root);
  }
}

}  // namespace
}  // namespace brevis
