// Page jobs of a download: file names, addresses and the dealing rule.
#include "app/core/page_jobs.h"

#include <cstdio>

namespace brevis {

std::u16string PageNumberText(int page) {
  char digits[16];
  std::snprintf(digits, sizeof(digits), "%.6d", page);
  return std::u16string(digits, digits + std::char_traits<char>::length(digits));
}

std::u16string PatentFolder(const std::u16string& root_dir, const std::u16string& apn) {
  return root_dir + u"/CN" + apn;
}

std::u16string PagePath(const std::u16string& root_dir, const std::u16string& apn,
                        const std::u16string& set, int page) {
  return PatentFolder(root_dir, apn) + u"/" + set + u"_" + PageNumberText(page) + u".tif";
}

bool IsPageTemporaryName(std::string_view name) {
  return (name.starts_with("gk_") || name.starts_with("sd_")) &&
         name.find(".tif.part-") != std::string_view::npos;
}

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
