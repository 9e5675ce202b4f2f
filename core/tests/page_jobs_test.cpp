// Tests of the page jobs: addresses and the dealing rule.
#include "core/page_jobs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"

namespace brevis {
namespace {

// Page numbers of each worker's queue, "gk" pages as p and "sd" pages as -p.
std::vector<std::vector<int>> Pages(const std::array<std::vector<DownloadItem>, 5>& queues) {
  std::vector<std::vector<int>> pages;
  for (const auto& queue : queues) {
    pages.emplace_back();
    for (const DownloadItem& job : queue) {
      const std::string local = Utf16ToUtf8(job.LocalUrl);
      const int p = std::stoi(local.substr(local.size() - 10, 6));
      pages.back().push_back(local.find("/sd_") != std::string::npos ? -p : p);
    }
  }
  return pages;
}

TEST(PageJobsTest, DealsPublicationPagesByPageModFive) {
  ReRazavu r;
  r.Apn = u"200710038426";
  r.GkPages = 12;
  r.GkUrl = u"http://pages.test/gk/abc";
  int calls = 0;
  const auto queues = DealJobs(r, u"/home/u/repo", [&](DownloadThread&) { ++calls; });
  EXPECT_EQ(Pages(queues),
            (std::vector<std::vector<int>>{{5, 10}, {1, 6, 11}, {2, 7, 12}, {3, 8}, {4, 9}}));

  const DownloadItem& page12 = queues[2].back();
  EXPECT_EQ(page12.RemoteUrl, u"http://pages.test/gk/abc/000012.tif");
  EXPECT_EQ(page12.LocalUrl, u"/home/u/repo/CN200710038426/gk_000012.tif");
  ASSERT_TRUE(page12.AfterDownloadEvent);

  // Three pages leave workers 0 and 4 without jobs.
  r.GkPages = 3;
  EXPECT_EQ(Pages(DealJobs(r, u"/r", {})), (std::vector<std::vector<int>>{{}, {1}, {2}, {3}, {}}));
}

TEST(PageJobsTest, GrantPagesFollowInReverseOrderOfWorkers) {
  ReRazavu r;
  r.Apn = u"88100001";
  r.GkPages = 6;
  r.GkUrl = u"http://g";
  r.SdPages = 6;
  r.SdUrl = u"http://s";
  const auto queues = DealJobs(r, u"/r", {});
  // Grant pages 1..6 go to workers 3, 2, 1, 0, 4, 3, after the publication pages.
  EXPECT_EQ(Pages(queues),
            (std::vector<std::vector<int>>{{5, -4}, {1, 6, -3}, {2, -2}, {3, -1, -6}, {4, -5}}));
  EXPECT_EQ(queues[3][1].RemoteUrl, u"http://s/000001.tif");
  EXPECT_EQ(queues[3][1].LocalUrl, u"/r/CN88100001/sd_000001.tif");
}

}  // namespace
}  // namespace brevis
