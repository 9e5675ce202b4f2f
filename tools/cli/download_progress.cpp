// DownloadProgress: a lock around the line, and the counts that come before the bars' ranges.
#include "tools/cli/download_progress.h"

namespace brevis::cli {

PatentDownload::Listener DownloadProgress::Listener() {
  PatentDownload::Listener listener;
  listener.PageDownloaded = [this](int count) { Count(prbDownload, count); };
  listener.PageCombined = [this](int count) { Count(prbCombine, count); };
  listener.Finished = [this](DownloadOutcome outcome) {
    std::lock_guard<std::mutex> guard(lock_);
    outcome_ = std::move(outcome);
    finished_.notify_all();
  };
  return listener;
}

void DownloadProgress::Started(int total, int kept, bool resume) {
  std::lock_guard<std::mutex> guard(lock_);
  if (resume) line_.SetKept(kept);
  line_.Update(prbDownload, 0, total);
  line_.Update(prbCombine, 0, total);
  if (resume) line_.Update(prbDownload, kept, total);
  total_ = total;
  // The workers start before Start returns: their first counts wait for the ranges.
  for (const auto& [bar, count] : early_) line_.Update(bar, count, total_);
  early_.clear();
}

void DownloadProgress::Count(FaceProgressBar bar, int count) {
  std::lock_guard<std::mutex> guard(lock_);
  if (total_ == 0) {
    early_.emplace_back(bar, count);
  } else {
    line_.Update(bar, count, total_);
  }
}

DownloadOutcome DownloadProgress::Wait() {
  std::unique_lock<std::mutex> guard(lock_);
  finished_.wait(guard, [this] { return outcome_.has_value(); });
  return std::move(*outcome_);
}

}  // namespace brevis::cli
