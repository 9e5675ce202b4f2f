// Page jobs of a download: the names and addresses of page images, and the fixed rule that deals
// the jobs out to the five workers.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/re_razavu.h"
#include "download/download_item.h"

namespace brevis {

// Workers per download.
inline constexpr int kWorkerCount = 5;

// Page number `page` (1 or more) in decimal with at least six digits, zeros on the left:
// 1 gives "000001", 1234567 gives "1234567".
std::u16string PageNumberText(int page);

// The patent's folder: `root_dir` + "/CN" + `apn`.
std::u16string PatentFolder(const std::u16string& root_dir, const std::u16string& apn);

// The file of page `page` of a document set ("gk" for the publication text, "sd" for the grant
// text): the patent's folder + "/" + `set` + "_" + six-digit page + ".tif".
std::u16string PagePath(const std::u16string& root_dir, const std::u16string& apn,
                        const std::u16string& set, int page);

// True for the temporary name a page file is written under until it is whole
// ("gk_000001.tif.part-XXXXXX"), which an interrupted run may leave behind.
bool IsPageTemporaryName(std::string_view name);

// One queue of jobs per worker. Publication page p (address GkUrl + "/" + six-digit p + ".tif")
// goes to worker p mod 5, then grant page p (from SdUrl) to worker 5 - (p mod 5) - 1; within a
// queue the pages of a set stand in ascending order, publication pages first. Every job carries
// `event`.
std::array<std::vector<DownloadItem>, kWorkerCount> DealJobs(const ReRazavu& rerazavu,
                                                             const std::u16string& root_dir,
                                                             const AfterDownloadEvent& event);

}  // namespace brevis
