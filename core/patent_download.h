// PatentDownload: one download of a looked-up patent: its page jobs dealt to five workers, the
// pages kept from an interrupted run, the end decided once every page is in place or one is
// given up, and the combination into the patent's PDF files on a finisher thread. It ends with
// an outcome; the window's form and the command line show it each in their own way.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/run_lock.h"
#include "core/combiner.h"
#include "core/page_jobs.h"
#include "core/re_razavu.h"
#include "download/download_thread.h"
#include "download/retry_policy.h"
#include "http/request_pacer.h"

namespace brevis {

struct DownloadSettings {
  // Tries and pauses of the page downloads.
  RetryPolicy Retries;
  // Allowance for each whole fetch (a page, a lookup answer, the update answer) in milliseconds;
  // 0: none. Five minutes carry a 100 KiB page over a link of a few hundred bytes a second, yet
  // a server that trickles for ever frees the worker, or the window's lookup, in the end.
  static constexpr int kDefaultFetchDeadline = 5 * 60 * 1000;
  int FetchDeadline = kDefaultFetchDeadline;
  // Resuming an interrupted download: page files already in the patent's folder that pass the
  // TIFF check are kept and only the other pages are fetched; temporary files that interrupted
  // runs left of the patent's pages, PDFs and texts are removed. With recognition on, a kept page
  // whose text an earlier run saved beside it (Combiner::KeepPageTexts, which every download
  // turns on) takes that text instead of being recognised again. Off for the window, which always
  // fetches every page.
  bool Resume = false;
  // Another run (another process, or another download in this one) works in the patent's
  // folder. With WaitForFolder, Start calls it with a line that says so ("waiting for process
  // 1234 (brevisfetch-cli), which is fetching CN… in this folder") and waits until that run has
  // ended; without it, Start fails at once with FolderBusy. The window does not wait.
  std::function<void(const std::string& message)> WaitForFolder;
  // The process's request pace, shared with every other download and lookup of the process; the
  // page requests of every worker wait for it. Null: none.
  std::shared_ptr<RequestPacer> Pacer;
};

// Start found the patent's folder taken by another run, and was not to wait for it. The message
// names that run's process: "CN… is being fetched in this folder by process 1234
// (brevisfetch-cli)."
class FolderBusy : public std::runtime_error {
 public:
  FolderBusy(const std::string& message, LockHolder holder)
      : std::runtime_error(message), holder_(std::move(holder)) {}
  const LockHolder& Holder() const { return holder_; }

 private:
  LockHolder holder_;
};

// A page the workers gave up after all its tries.
struct GivenUpPage {
  std::u16string FileName;  // the page file's name, without its folder
  std::string Cause;        // the last try's error message
};

struct DownloadOutcome {
  enum class Status {
    kNotStarted,     // the lookup found no pages, or the download could not start
    kCombined,       // every page is in place and the PDF files are written
    kPagesGivenUp,   // pages were given up; the pages written stay, nothing is combined
    kCombineFailed,  // every page is in place, but the combination failed
    kFailed,         // the download could not run (no finisher thread)
  };
  Status Result = Status::kNotStarted;
  std::u16string PdfPath;            // kCombined: the publication text's PDF
  std::vector<GivenUpPage> GivenUp;  // kPagesGivenUp: by file name
  // kCombined, with recognition: the pages whose text could not be recognised.
  std::vector<Combiner::UnreadPage> Unread;
  std::string Error;  // kCombineFailed, kFailed: the reason
};

class PatentDownload final {
 public:
  // What the download tells its owner. PageDownloaded comes on a worker's thread, in counting
  // order, with the number of pages in place; PageCombined and Finished come on the finisher's
  // thread (Finished, in rare failures, on a worker's); Finished is the last call of all. Each
  // may be empty and none may throw or wait for the thread that destroys this object.
  struct Listener {
    std::function<void(int count)> PageDownloaded;
    std::function<void(int count)> PageCombined;
    std::function<void(DownloadOutcome outcome)> Finished;
  };

  // `rerazavu` names at least one publication page. `combiner` (may be null: every combination
  // then fails) must outlive this object.
  PatentDownload(ReRazavu rerazavu, std::u16string root_dir, Combiner* combiner,
                 DownloadSettings settings, Listener listener);
  // Stops the download (fetches under way are cut short) and waits for its threads.
  ~PatentDownload();
  PatentDownload(const PatentDownload&) = delete;
  PatentDownload& operator=(const PatentDownload&) = delete;

  // Makes the patent's folder and takes its lock (RunLock on LockPath), which this object holds
  // until it is destroyed, so that no other run writes there meanwhile; keeps the pages in place
  // when resuming, and starts the workers. Returns the number of pages kept. When another run
  // holds the folder, waits for it or throws FolderBusy (see DownloadSettings::WaitForFolder).
  // Throws (std::exception) when the folder cannot be made or locked or a worker cannot be
  // started; the workers already started are stopped then, and Finished is not called.
  int Start();

  // GkPages + SdPages.
  int PageTotal() const { return pageTotal_; }
  // Workers of the download; 0 before Start.
  std::size_t WorkerCount() const { return workers_.size(); }

 private:
  // A worker has written a page file; runs on that worker's thread.
  void AfterDownload();
  // A worker has given up a page.
  void PageGivenUp(const DownloadItem& job, const std::string& cause);
  // Takes the folder's lock, waiting for another run or failing as the settings say.
  void LockFolder();
  // Resume, with the folder's lock held: removes the temporary files of the patent's files from
  // its folder and takes the jobs whose page file is already in place out of `queues`; returns
  // how many were taken out.
  int KeepPagesInPlace(std::array<std::vector<DownloadItem>, kWorkerCount>& queues) const;
  // With countLock_ held: the download's end is decided; starts the finisher once the workers
  // have all been started.
  void RequestFinishLocked();
  void LaunchFinisherLocked();
  // The finisher thread: waits for the workers, then combines the pages unless one was given up,
  // and reports the outcome.
  void Finish();
  // The combination of every document set with pages; throws what the combiner throws. The
  // pages whose text could not be recognised are added to `unread`.
  void Combine(std::vector<Combiner::UnreadPage>& unread);
  void CombineSet(const std::u16string& set, int32_t pages, int& combined);

  const ReRazavu rerazavu_;
  const std::u16string rootDir_;
  Combiner* const combiner_;
  const DownloadSettings settings_;
  const Listener listener_;
  const int pageTotal_;
  // The patent folder's lock; taken by Start, let go when this object is destroyed, after every
  // thread that writes there has ended.
  RunLock folderLock_;

  // In creation order; filled by Start before any finisher runs, then left alone.
  std::vector<std::unique_ptr<DownloadThread>> workers_;
  // Guards the fields up to finisher_: the count and the download's end.
  std::mutex countLock_;
  int downloadCount_ = 0;
  bool workersStarted_ = false;       // all workers have been started
  bool finishRequested_ = false;      // the download's end has been decided
  bool closing_ = false;              // the destructor runs: no finisher starts any more
  std::vector<GivenUpPage> givenUp_;  // in the order they were given up
  std::thread finisher_;
};

}  // namespace brevis
