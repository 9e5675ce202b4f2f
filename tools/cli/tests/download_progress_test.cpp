// Tests of DownloadProgress: counts that come before the bars' ranges reach the line after them,
// in order, and the outcome reaches the waiting thread.
#include "tools/cli/download_progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace brevis::cli {
namespace {

// The bytes a ProgressLine wrote to a memory stream.
class MemoryOut {
 public:
  MemoryOut() : file_(::open_memstream(&data_, &size_)) {}
  ~MemoryOut() {
    std::fclose(file_);
    std::free(data_);
  }
  std::FILE* File() const { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

TEST(DownloadProgressTest, EarlyCountsFollowTheRangesAndTheOutcomeIsHandedOver) {
  struct Case {
    const char* name;
    bool resume;
    int kept;
    std::string lines;
  };
  const Case kCases[] = {
      {"fresh", false, 0,
       "CN1: 2 pages to fetch\nCN1: 2 pages downloaded\nCN1: 2 pages combined\n"},
      {"resumed", true, 1,
       "CN1: 2 pages, 1 kept, 1 to fetch\nCN1: 1 page downloaded\nCN1: 2 pages combined\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryOut out;
    ProgressLine line(out.File(), "CN1", /*terminal=*/false);
    DownloadProgress progress(line);
    const PatentDownload::Listener listener = progress.Listener();
    // Every page arrives, on another thread, before the command has set the bars up.
    std::thread worker([&] {
      for (int count = c.kept + 1; count <= 2; ++count) listener.PageDownloaded(count);
    });
    worker.join();
    EXPECT_EQ(out.Text(), "");
    progress.Started(2, c.kept, c.resume);
    std::thread finisher([&] {
      listener.PageCombined(1);
      listener.PageCombined(2);
      DownloadOutcome outcome;
      outcome.Result = DownloadOutcome::Status::kCombined;
      outcome.PdfPath = u"a.pdf";
      listener.Finished(outcome);
    });
    const DownloadOutcome outcome = progress.Wait();
    finisher.join();
    EXPECT_EQ(outcome.Result, DownloadOutcome::Status::kCombined);
    EXPECT_EQ(outcome.PdfPath, u"a.pdf");
    EXPECT_EQ(out.Text(), c.lines);
  }
}

}  // namespace
}  // namespace brevis::cli
