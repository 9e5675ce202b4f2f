// DownloadThread: a worker thread with its own queue of page jobs. It fetches each job's address
// with an HTTP client of its own into the job's temporary file as the body arrives, checks that
// the body is a TIFF, puts the file in place and reports the job through its callback; a failed
// job is tried again later.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "download/download_item.h"
#include "download/fetch_limits.h"
#include "download/retry_policy.h"

namespace brevis {

class DownloadThread final {
 public:
  // Called on the worker's thread when a job has used up its tries, with the last try's error
  // message as `cause`; the job is then dropped. Like AfterDownloadEvent it should not throw (an
  // exception from it is dropped).
  using FailedJobEvent = std::function<void(DownloadThread& sender, const DownloadItem& job,
                                            const std::string& cause)>;

  // With `suspend` the thread does not run until Resume; otherwise it starts at once.
  explicit DownloadThread(bool suspend, RetryPolicy policy = {}, FailedJobEvent on_failed = {},
                          FetchLimits limits = {});
  // Asks the thread to end, waits until it has ended and drops the jobs left in the queue. A
  // fetch under way is cut short (within IOHandler::kCancelPollMs of a wait); its page is not
  // written and does not count as a failed try.
  ~DownloadThread();
  DownloadThread(const DownloadThread&) = delete;
  DownloadThread& operator=(const DownloadThread&) = delete;

  // Appends a copy of `item` to the queue. Callable from any thread.
  void AddToJobList(DownloadItem item);
  // Starts a suspended worker; does nothing when it was started already.
  void Resume();
  // Sets the terminated flag: the worker takes no further job, cuts a retry pause short and
  // stops a fetch under way (pages already written stay). Callable from any thread.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // Waits until the thread has ended; returns at once for a worker never started.
  void WaitFor();

 private:
  // A queued job with its tries so far and the earliest time of its next try.
  struct QueuedJob {
    DownloadItem item;
    int failedTries = 0;
    std::chrono::steady_clock::time_point notBefore{};
  };

  // The thread body: takes jobs from the head of the queue until it is empty or the worker is
  // asked to end.
  void Execute();
  // One try of one job. A failed try puts the job back at the tail, or gives it up after
  // policy_.MaxTries tries.
  void DownloadJob(QueuedJob job);
  // Fetches the job's address into a PageFile, checks the body and puts it in place; throws on
  // any failure.
  void FetchToFile(const DownloadItem& item) const;
  // Drops every queued job; used once the thread has ended, so without the lock.
  void ClearJobList();

  const RetryPolicy policy_;
  const FailedJobEvent onFailed_;
  const FetchLimits limits_;
  std::deque<QueuedJob> jobList_;
  std::mutex jobListLock_;               // guards jobList_
  std::condition_variable wake_;         // signalled with jobListLock_ when Terminate is called
  std::atomic<bool> terminated_{false};  // also the page client's cancel flag
  std::mutex threadLock_;                // guards thread_ between Resume and WaitFor
  std::thread thread_;
};

}  // namespace brevis
