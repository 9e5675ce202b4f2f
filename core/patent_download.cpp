// PatentDownload: workers, the resume, the lock-guarded end of the download and the combination.
#include "core/patent_download.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "common/atomic_file.h"
#include "common/text.h"
#include "core/messages.h"
#include "core/patent_paths.h"
#include "download/tiff_check.h"

namespace brevis {

namespace {

std::u16string FileName(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u'/');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

}  // namespace

PatentDownload::PatentDownload(ReRazavu rerazavu, std::u16string root_dir, Combiner* combiner,
                               DownloadSettings settings, Listener listener)
    : rerazavu_(std::move(rerazavu)),
      rootDir_(std::move(root_dir)),
      combiner_(combiner),
      settings_(settings),
      listener_(std::move(listener)),
      pageTotal_(rerazavu_.GkPages + rerazavu_.SdPages),
      folderLock_(FsPath(LockPath(rootDir_, rerazavu_.Apn)).string()) {}

PatentDownload::~PatentDownload() {
  {
    std::lock_guard<std::mutex> guard(countLock_);
    closing_ = true;
  }
  for (const auto& worker : workers_) worker->Terminate();
  std::thread finisher;
  {
    std::lock_guard<std::mutex> guard(countLock_);
    finisher = std::move(finisher_);
  }
  if (finisher.joinable()) finisher.join();
  workers_.clear();
}

int PatentDownload::Start() {
  const std::string folder = FsPath(PatentFolder(rootDir_, rerazavu_.Apn));
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw FileWriteError("Cannot create folder " + folder + ": " + error.message());
  LockFolder();
  auto queues = DealJobs(rerazavu_, rootDir_, [this](DownloadThread&) { AfterDownload(); });
  if (combiner_) {
    combiner_->DropPreparedPages();
    // Kept whether or not this run resumes: the next one may, after this one is cut short.
    combiner_->KeepPageTexts(settings_.Resume);
    // Once counted, a page is coded for the PDF on the worker's thread while the other workers
    // go on fetching; the combination waits for the workers, so it finds every page prepared.
    for (auto& queue : queues) {
      for (DownloadItem& job : queue) {
        job.AfterDownloadEvent = [this, path = job.LocalUrl](DownloadThread&) {
          AfterDownload();
          combiner_->PreparePage(path);
        };
      }
    }
  }
  int kept = 0;
  if (settings_.Resume) {
    kept = KeepPagesInPlace(queues);
    std::lock_guard<std::mutex> guard(countLock_);
    downloadCount_ = kept;
    if (kept == pageTotal_) finishRequested_ = true;
  }

  try {
    for (int i = 0; i < kWorkerCount; ++i) {
      FetchLimits limits;
      limits.Deadline = settings_.FetchDeadline;
      limits.Pacer = settings_.Pacer.get();
      workers_.push_back(std::make_unique<DownloadThread>(
          true, settings_.Retries,
          [this](DownloadThread&, const DownloadItem& job, const std::string& cause) {
            PageGivenUp(job, cause);
          },
          limits));
    }
    for (std::size_t i = 0; i < queues.size(); ++i) {
      for (const DownloadItem& job : queues[i]) workers_[i]->AddToJobList(job);
    }
    for (const auto& worker : workers_) worker->Resume();
  } catch (...) {
    // A worker could not be started: stop the others, so that no finisher starts either.
    {
      std::lock_guard<std::mutex> guard(countLock_);
      finishRequested_ = true;
    }
    for (const auto& worker : workers_) worker->Terminate();
    throw;
  }

  std::lock_guard<std::mutex> guard(countLock_);
  workersStarted_ = true;
  // Every page may already be in place, or given up, before the last worker was started.
  if (finishRequested_) LaunchFinisherLocked();
  return kept;
}

void PatentDownload::AfterDownload() {
  std::lock_guard<std::mutex> guard(countLock_);
  const int n = ++downloadCount_;
  // Told under the lock, so that the counts arrive in counting order.
  if (listener_.PageDownloaded) listener_.PageDownloaded(n);
  // Exactly one call sees the last count.
  if (n == pageTotal_) RequestFinishLocked();
}

void PatentDownload::LockFolder() {
  // The holder's description: this program's name, so that a user knows which window or
  // command to look for.
  const std::string description = program_invocation_short_name;
  try {
    if (folderLock_.TryLock(description)) return;
  } catch (const FileWriteError&) {
    // A folder where no file can be made (read-only, not ours) needs no lock, as no run can
    // write there either; each of this run's writes then fails with its own cause.
    if (::access(FsPath(PatentFolder(rootDir_, rerazavu_.Apn)).c_str(), W_OK) != 0) return;
    throw;
  }
  const LockHolder holder = folderLock_.Holder();
  const std::string process = holder.Pid == 0 ? "another process"
                                              : "process " + std::to_string(holder.Pid) + " (" +
                                                    EscapeControls(holder.Description) + ")";
  const std::string patent = "CN" + Utf16ToUtf8(rerazavu_.Apn);
  if (!settings_.WaitForFolder) {
    throw FolderBusy(patent + " is being fetched in this folder by " + process + ".", holder);
  }
  settings_.WaitForFolder("waiting for " + process + ", which is fetching " + patent +
                          " in this folder");
  folderLock_.Lock(description);
}

int PatentDownload::KeepPagesInPlace(
    std::array<std::vector<DownloadItem>, kWorkerCount>& queues) const {
  // Only the temporary files of the patent's own files; nothing else. With the folder's lock
  // held, no live run writes there, so every such file is what an interrupted run left.
  RemoveTemporaryFiles(
      FsPath(PatentFolder(rootDir_, rerazavu_.Apn)),
      [this](std::string_view target) { return IsPatentFileName(rerazavu_.Apn, target); });
  int kept = 0;
  for (auto& queue : queues) {
    std::erase_if(queue, [&kept](const DownloadItem& job) {
      std::ifstream in(FsPath(job.LocalUrl), std::ios::binary);
      if (!in) return false;
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
      const bool in_place = !in.bad() && LooksLikeTiff(bytes.data(), bytes.size());
      kept += in_place;
      return in_place;
    });
  }
  return kept;
}

void PatentDownload::PageGivenUp(const DownloadItem& job, const std::string& cause) {
  std::lock_guard<std::mutex> guard(countLock_);
  givenUp_.push_back({FileName(job.LocalUrl), cause});
  RequestFinishLocked();
}

void PatentDownload::RequestFinishLocked() {
  if (finishRequested_) return;
  finishRequested_ = true;
  if (workersStarted_) LaunchFinisherLocked();
}

void PatentDownload::LaunchFinisherLocked() {
  if (closing_) return;
  try {
    finisher_ = std::thread([this] { Finish(); });
  } catch (const std::system_error& error) {
    // Without a finisher the owner ends the download; destroying this object then waits for a
    // page in flight.
    DownloadOutcome outcome;
    outcome.Result = DownloadOutcome::Status::kFailed;
    outcome.Error = error.what();
    if (listener_.Finished) listener_.Finished(std::move(outcome));
  }
}

void PatentDownload::Finish() {
  bool failed;
  {
    std::lock_guard<std::mutex> guard(countLock_);
    failed = !givenUp_.empty();
  }
  // A page was given up: the download ends now; fetches under way are cut short, the pages
  // already written stay.
  if (failed) {
    for (const auto& worker : workers_) worker->Terminate();
  }
  for (const auto& worker : workers_) worker->WaitFor();

  DownloadOutcome outcome;
  {
    std::lock_guard<std::mutex> guard(countLock_);
    outcome.GivenUp = givenUp_;
  }
  if (!outcome.GivenUp.empty()) {
    std::sort(outcome.GivenUp.begin(), outcome.GivenUp.end(),
              [](const GivenUpPage& a, const GivenUpPage& b) { return a.FileName < b.FileName; });
    outcome.Result = DownloadOutcome::Status::kPagesGivenUp;
  } else {
    try {
      Combine(outcome.Unread);
      outcome.Result = DownloadOutcome::Status::kCombined;
      outcome.PdfPath = PdfPath(rootDir_, rerazavu_.Apn);
    } catch (const std::exception& error) {
      outcome.Result = DownloadOutcome::Status::kCombineFailed;
      outcome.Error = error.what();
    }
  }
  if (combiner_) combiner_->DropPreparedPages();
  if (listener_.Finished) listener_.Finished(std::move(outcome));
}

void PatentDownload::Combine(std::vector<Combiner::UnreadPage>& unread) {
  if (!combiner_) throw std::logic_error("No PDF writer is available.");
  // Pages kept from an earlier run, or not prepared, are recognised while the first ones are
  // combined.
  const std::pair<std::u16string, int32_t> sets[] = {{u"gk", rerazavu_.GkPages},
                                                     {u"sd", rerazavu_.SdPages}};
  std::vector<std::u16string> files;
  for (const auto& [set, pages] : sets) {
    for (int p = 1; p <= pages; ++p) files.push_back(PagePath(rootDir_, rerazavu_.Apn, set, p));
  }
  combiner_->RecognisePages(files);
  int combined = 0;
  for (const auto& [set, pages] : sets) {
    if (pages <= 0) continue;
    CombineSet(set, pages, combined);
    const std::vector<Combiner::UnreadPage> missing = combiner_->UnreadPages();
    unread.insert(unread.end(), missing.begin(), missing.end());
  }
}

void PatentDownload::CombineSet(const std::u16string& set, int32_t pages, int& combined) {
  const std::u16string& apn = rerazavu_.Apn;
  combiner_->BeginDoc(PdfPath(rootDir_, apn, set),
                      u"CN" + apn + u" " + DocumentTitle(rerazavu_.LeiXin, set));
  for (int p = 1; p <= pages; ++p) {
    // BeginDoc opened the first page; every further page gets a page of its own.
    if (p > 1) combiner_->AddPage();
    combiner_->AddTiffFromFile(PagePath(rootDir_, apn, set, p));
    if (listener_.PageCombined) listener_.PageCombined(++combined);
  }
  combiner_->EndDoc();
}

}  // namespace brevis
