// DownloadProgress: carries a PatentDownload's calls from its worker and finisher threads to the
// command's ProgressLine, in the order the download made them, and hands its outcome to the
// command's thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "core/main_form_face.h"
#include "core/patent_download.h"
#include "tools/cli/progress_line.h"

namespace brevis::cli {

class DownloadProgress final {
 public:
  // `line` must outlive this object, and this object the download it listens to.
  explicit DownloadProgress(ProgressLine& line) : line_(line) {}

  // The listener for the download; its calls may come on any thread.
  PatentDownload::Listener Listener();
  // The download has started with `total` pages, `kept` of them in place (told only when
  // `resume`): the line gets the kept pages, the bars' ranges, the kept pages' position, then the
  // counts that came before. Call once, from the command's thread.
  void Started(int total, int kept, bool resume);
  // Waits for the download's end and returns its outcome. Call after Started.
  DownloadOutcome Wait();

 private:
  // A count for `bar`: passed to the line once it has its ranges, kept until then.
  void Count(FaceProgressBar bar, int count);

  ProgressLine& line_;
  // Guards the fields below and every use of the line once the download has started.
  std::mutex lock_;
  std::condition_variable finished_;
  int total_ = 0;  // 0 until Started
  std::vector<std::pair<FaceProgressBar, int>> early_;
  std::optional<DownloadOutcome> outcome_;
};

}  // namespace brevis::cli
