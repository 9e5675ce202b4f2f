// DownloadThread: the worker's queue, its thread body and one try of a page job.
#include "download/download_thread.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "common/atomic_file.h"
#include "common/text.h"
#include "download/page_file.h"
#include "http/http_client.h"
#include "http/http_errors.h"

namespace brevis {

DownloadThread::DownloadThread(bool suspend, RetryPolicy policy, FailedJobEvent on_failed,
                               FetchLimits limits)
    : policy_(policy), onFailed_(std::move(on_failed)), limits_(limits) {
  if (!suspend) Resume();
}

DownloadThread::~DownloadThread() {
  Terminate();
  WaitFor();
  ClearJobList();
}

void DownloadThread::AddToJobList(DownloadItem item) {
  QueuedJob job;
  job.item = std::move(item);
  std::lock_guard<std::mutex> guard(jobListLock_);
  jobList_.push_back(std::move(job));
}

void DownloadThread::Resume() {
  std::lock_guard<std::mutex> guard(threadLock_);
  if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

void DownloadThread::Terminate() {
  {
    std::lock_guard<std::mutex> guard(jobListLock_);
    terminated_ = true;
  }
  wake_.notify_all();
}

void DownloadThread::WaitFor() {
  std::lock_guard<std::mutex> guard(threadLock_);
  if (thread_.joinable()) thread_.join();
}

void DownloadThread::Execute() {
  while (!terminated_) {
    QueuedJob job;
    {
      std::unique_lock<std::mutex> lock(jobListLock_);
      if (jobList_.empty()) {
        terminated_ = true;
        break;
      }
      // A job put back after a failed try waits out its pause; Terminate cuts the wait short.
      const auto not_before = jobList_.front().notBefore;
      wake_.wait_until(lock, not_before, [&] { return terminated_.load(); });
      if (terminated_) break;
      job = std::move(jobList_.front());
      jobList_.pop_front();
    }
    DownloadJob(std::move(job));
  }
}

void DownloadThread::DownloadJob(QueuedJob job) {
  bool done = false;
  // A page the server says is not there (404, 410) and a file that cannot be written here (a
  // full disk, a folder that cannot be written) do not mend by trying again.
  bool final = false;
  std::string cause;
  try {
    FetchToFile(job.item);
    done = true;
  } catch (const HttpProtocolError& error) {
    cause = Utf16ToUtf8(job.item.RemoteUrl) + ": " + error.what();
    final = error.ErrorCode() == 404 || error.ErrorCode() == 410;
  } catch (const FileWriteError& error) {
    cause = error.what();
    final = true;
  } catch (const std::exception& error) {
    // Any other failure of the fetch or the check is one failed try.
    cause = Utf16ToUtf8(job.item.RemoteUrl) + ": " + error.what();
  }

  if (done) {
    // The page is in place; an error of the receiver does not make it fetched again.
    try {
      if (job.item.AfterDownloadEvent) job.item.AfterDownloadEvent(*this);
    } catch (...) {
    }
    return;
  }

  // A fetch cut short by Terminate says nothing about the page: it is neither retried nor
  // reported as given up.
  if (terminated_) return;
  ++job.failedTries;
  if (final || job.failedTries >= policy_.MaxTries) {
    try {
      if (onFailed_) onFailed_(*this, job.item, cause);
    } catch (...) {
    }
    return;
  }
  job.notBefore = std::chrono::steady_clock::now() + policy_.PauseAfter(job.failedTries);
  std::lock_guard<std::mutex> guard(jobListLock_);
  jobList_.push_back(std::move(job));
}

void DownloadThread::FetchToFile(const DownloadItem& item) const {
  // The body goes to the page's temporary file as it arrives; a fetch that fails or is cut
  // short leaves no file behind (PageFile's destructor).
  PageFile page(Utf16ToUtf8(item.LocalUrl), limits_.MaxBodySize);
  {
    HttpClient client;
    client.SetReadTimeout(limits_.ReadTimeout);
    client.FetchDeadline = limits_.Deadline;
    // Also here, so that an announced length beyond the cap is refused before its body.
    client.MaxBodySize = limits_.MaxBodySize;
    client.CancelFlag = &terminated_;
    client.Pacer = limits_.Pacer;
    client.Get(item.RemoteUrl, page);
  }
  page.Commit();
}

void DownloadThread::ClearJobList() { jobList_.clear(); }

}  // namespace brevis
