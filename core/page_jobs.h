// Page jobs of a download: the addresses of page images and the fixed rule that deals the jobs
// out to the five workers.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/patent_paths.h"
#include "core/re_razavu.h"
#include "download/download_item.h"

namespace brevis {

// Workers per download.
inline constexpr int kWorkerCount = 5;

// One queue of jobs per worker. Publication page p (address GkUrl + "/" + six-digit p + ".tif")
// goes to worker p mod 5, then grant page p (from SdUrl) to worker 5 - (p mod 5) - 1; within a
// queue the pages of a set stand in ascending order, publication pages first. Every job carries
// `event`.
std::array<std::vector<DownloadItem>, kWorkerCount> DealJobs(const ReRazavu& rerazavu,
                                                             const std::u16string& root_dir,
                                                             const AfterDownloadEvent& event);

}  // namespace brevis
