// Page jobs of a download: addresses and the dealing rule.
#include "core/page_jobs.h"

namespace brevis {

std::array<std::vector<DownloadItem>, kWorkerCount> DealJobs(const ReRazavu& rerazavu,
                                                             const std::u16string& root_dir,
                                                             const AfterDownloadEvent& event) {
  std::array<std::vector<DownloadItem>, kWorkerCount> queues;
  const auto job = [&](const std::u16string& base, const std::u16string& set, int page) {
    DownloadItem item;
    item.AfterDownloadEvent = event;
    item.LocalUrl = PagePath(root_dir, rerazavu.Apn, set, page);
    item.RemoteUrl = base + u"/" + PageNumberText(page) + u".tif";
    return item;
  };
  for (int p = 1; p <= rerazavu.GkPages; ++p) {
    queues[static_cast<std::size_t>(p % kWorkerCount)].push_back(job(rerazavu.GkUrl, u"gk", p));
  }
  for (int p = 1; p <= rerazavu.SdPages; ++p) {
    queues[static_cast<std::size_t>(kWorkerCount - (p % kWorkerCount) - 1)].push_back(
        job(rerazavu.SdUrl, u"sd", p));
  }
  return queues;
}

}  // namespace brevis
