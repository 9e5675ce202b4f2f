// MainForm: recognition, lookup, download orchestration, combination and update check.
#include "app/core/main_form.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "app/core/lookup_answers.h"
#include "app/core/messages.h"
#include "app/core/page_jobs.h"
#include "app/core/service_protocol.h"
#include "common/stream.h"
#include "common/text.h"
#include "download/tiff_check.h"
#include "regex/pattern.h"

namespace brevis {

namespace {

constexpr std::u16string_view kNumberPattern = u"^(ZL|CN)?(\\d+)(\\.[\\dX])?$";

constexpr int kLookupReadTimeout = 30000;
constexpr int kUpdateReadTimeout = 20000;
// The update check runs while the window opens and may fail without harm, so a server that
// trickles its answer holds the start for at most a minute, however long page fetches may take.
constexpr int kUpdateDeadline = 60000;
// Largest lookup or update answer accepted: a few lines of cipher text or a search page.
constexpr int64_t kAnswerBodyLimit = int64_t{4} << 20;

// Upper-cases a to z only and trims characters up to U+0020 at both ends.
std::u16string NormaliseEntry(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  const auto keep = [](char16_t c) { return c > u' '; };
  const auto first = std::find_if(out.begin(), out.end(), keep);
  const auto last = std::find_if(out.rbegin(), out.rend(), keep).base();
  return first < last ? std::u16string(first, last) : std::u16string();
}

std::u16string FileName(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u'/');
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

std::filesystem::path FsPath(const std::u16string& path) {
  return std::filesystem::path(Utf16ToUtf8(path));
}

}  // namespace

MainForm::MainForm(MainFormFace& face, std::unique_ptr<Combiner> combiner,
                   MainFormSettings settings)
    : face_(face),
      combiner_(std::move(combiner)),
      settings_(std::move(settings)),
      rootDir_(settings_.RootDir),
      cipher_(kAppKeyN, kAppKeyE, kAppKeyD) {
  for (HttpClient* client : {&httpPage_, &httpUpdate_}) {
    client->FetchDeadline = settings_.FetchDeadline;
    client->MaxBodySize = kAnswerBodyLimit;
  }
  if (httpUpdate_.FetchDeadline <= 0 || httpUpdate_.FetchDeadline > kUpdateDeadline) {
    httpUpdate_.FetchDeadline = kUpdateDeadline;
  }
}

MainForm::~MainForm() {
  {
    std::lock_guard<std::mutex> guard(countLock_);
    closing_ = true;
  }
  for (const auto& worker : downloadTrdList_) worker->Terminate();
  std::thread finisher;
  {
    std::lock_guard<std::mutex> guard(countLock_);
    finisher = std::move(finisher_);
  }
  if (finisher.joinable()) finisher.join();
  downloadTrdList_.clear();
}

void MainForm::FormCreate() {
  checkUpdate();
  entryText_ = kPresetApn;
  checkApn();
  {
    std::lock_guard<std::mutex> guard(countLock_);
    downloadCount_ = 0;
  }
  std::error_code error;
  const std::filesystem::path root = FsPath(rootDir_);
  if (!std::filesystem::is_directory(root, error)) {
    std::filesystem::create_directories(root, error);
    if (error) {
      throw std::runtime_error("Cannot create folder " + root.string() + ": " + error.message());
    }
  }
}

void MainForm::edtApnChange(std::u16string_view text) {
  entryText_ = text;
  face_.SetPictureVisible(imgGk, true);
  checkApn();
}

void MainForm::checkApn() {
  valid_ = false;
  apn_ = NormaliseEntry(entryText_);
  Pattern pattern;
  if (SearchWithinBounds(pattern, kNumberPattern, apn_)) {
    apn_ = pattern.Match(2);
    char16_t kind = 0;
    if (apn_.size() == 8) kind = apn_[2];
    if (apn_.size() == 12) kind = apn_[4];
    if (kind == u'1' || kind == u'8') {
      valid_ = true;
      patent_type_ = u"fmzl";
      patent_display_type_ = u"发明专利";
    } else if (kind == u'2' || kind == u'9') {
      valid_ = true;
      patent_type_ = u"syxx";
      patent_display_type_ = u"实用新型专利";
    }
  }
  face_.SetPictureVisible(imgValid, valid_);
  face_.SetPictureVisible(imgNotValid, !valid_);
  face_.SetPictureVisible(imgDownload, !valid_);
}

std::u16string MainForm::FetchText(HttpClient& client, const std::u16string& address,
                                   int read_timeout) {
  MemoryStream body;
  client.SetReadTimeout(read_timeout);
  client.Get(address, body);
  return Utf8ToUtf16(body.ToString());
}

void MainForm::CheckPageCount(ReRazavu& result) {
  const int32_t pages = CapPageCounts(result);
  if (pages == 0) return;
  face_.MessageBox(u"下载遇到问题，查询到的页数不合理（" + Utf8ToUtf16(std::to_string(pages)) +
                       u" 页），可能是服务器的回答有误，请稍后再次下载。",
                   std::u16string(kDownloadProblem), kMbInformation);
}

ReRazavu MainForm::GetReRazavu(const std::u16string& apn, const std::u16string& leixin) {
  ReRazavu result;
  result.Apn = apn;
  result.LeiXin = leixin;

  std::u16string text;
  try {
    text = FetchText(httpPage_,
                     settings_.Server + protocol::MirrorTarget<char16_t>(cipher_.Encrypt(apn)),
                     kLookupReadTimeout);
  } catch (const std::exception&) {
    face_.MessageBox(std::u16string(kMirrorFailed), std::u16string(kDownloadProblem),
                     kMbInformation);
    return result;
  }
  if (!text.empty()) {
    // Without the expected form the result stays empty, and no message is shown.
    ReadMirrorAnswer(cipher_, text, result);
    CheckPageCount(result);
    return result;
  }

  try {
    text =
        FetchText(httpPage_, settings_.PatentOffice + protocol::SearchTarget<char16_t>(apn, leixin),
                  kLookupReadTimeout);
  } catch (const std::exception&) {
    face_.MessageBox(std::u16string(kSearchFailed), std::u16string(kDownloadProblem),
                     kMbInformation);
    return result;
  }
  ReadSearchPage(text, leixin, result);
  if (result.SdPages == 0 && result.GkPages == 0) {
    face_.MessageBox(std::u16string(kNothingFound), std::u16string(kNothingFoundCaption),
                     kMbInformation);
  }
  CheckPageCount(result);
  return result;
}

void MainForm::btnDownloadClick() {
  if (busy_ || !valid_) return;
  // The previous download's finisher has handed over its last call; it has ended or is about to.
  std::thread previous;
  {
    std::lock_guard<std::mutex> guard(countLock_);
    previous = std::move(finisher_);
  }
  if (previous.joinable()) previous.join();

  busy_ = true;
  face_.SetEntryEnabled(false);
  face_.SetPictureVisible(imgDownload, true);
  face_.SetPictureVisible(imgGk, true);
  face_.SetProgressPosition(prbDownload, 0);
  face_.SetProgressPosition(prbCombine, 0);
  face_.Repaint();

  try {
    rerazavu_ = GetReRazavu(apn_, patent_type_);
    if (rerazavu_.GkPages <= 0) {
      ReturnToIdle();
      return;
    }
    std::filesystem::create_directories(FsPath(PatentFolder(rootDir_, rerazavu_.Apn)));
  } catch (const std::exception& error) {
    ShowErrorReport(error);
    ReturnToIdle();
    return;
  }

  const int total = rerazavu_.GkPages + rerazavu_.SdPages;
  face_.SetProgressRange(prbDownload, total);
  face_.SetProgressRange(prbCombine, total);
  {
    std::lock_guard<std::mutex> guard(countLock_);
    downloadCount_ = 0;
    pageTotal_ = total;
    workersStarted_ = false;
    finishRequested_ = false;
    givenUp_.clear();
  }

  try {
    auto queues =
        DealJobs(rerazavu_, rootDir_, [this](DownloadThread& sender) { AfterDownload(sender); });
    if (combiner_) {
      combiner_->DropPreparedPages();
      // Once counted, a page is coded for the PDF on the worker's thread while the other workers
      // go on fetching; the combination waits for the workers, so it finds every page prepared.
      for (auto& queue : queues) {
        for (DownloadItem& job : queue) {
          job.AfterDownloadEvent = [this, path = job.LocalUrl](DownloadThread& sender) {
            AfterDownload(sender);
            combiner_->PreparePage(path);
          };
        }
      }
    }
    if (settings_.Resume) {
      const int kept = KeepPagesInPlace(PatentFolder(rootDir_, rerazavu_.Apn), queues);
      if (kept > 0) {
        std::lock_guard<std::mutex> guard(countLock_);
        downloadCount_ = kept;
        if (kept == total) finishRequested_ = true;
      }
      face_.SetProgressPosition(prbDownload, kept);
    }
    for (int i = 0; i < kWorkerCount; ++i) {
      FetchLimits limits;
      limits.Deadline = settings_.FetchDeadline;
      downloadTrdList_.push_back(std::make_unique<DownloadThread>(
          true, settings_.Retries,
          [this](DownloadThread& sender, const DownloadItem& job) { PageGivenUp(sender, job); },
          limits));
    }
    for (std::size_t i = 0; i < queues.size(); ++i) {
      for (const DownloadItem& job : queues[i]) downloadTrdList_[i]->AddToJobList(job);
    }
    for (const auto& worker : downloadTrdList_) worker->Resume();
  } catch (const std::exception& error) {
    // A worker could not be started: stop the others, so that no finisher starts either.
    {
      std::lock_guard<std::mutex> guard(countLock_);
      finishRequested_ = true;
    }
    for (const auto& worker : downloadTrdList_) worker->Terminate();
    ShowErrorReport(error);
    ReturnToIdle();
    return;
  }

  std::lock_guard<std::mutex> guard(countLock_);
  workersStarted_ = true;
  // Every page may already be in place, or given up, before the last worker was started.
  if (finishRequested_) LaunchFinisherLocked();
}

void MainForm::AfterDownload(DownloadThread&) {
  std::lock_guard<std::mutex> guard(countLock_);
  const int n = ++downloadCount_;
  // Handed over under the lock, so that the bar's moves arrive in counting order.
  face_.RunOnWindowThread([this, n] { face_.SetProgressPosition(prbDownload, n); });
  // Exactly one call sees the last count.
  if (n == pageTotal_) RequestFinishLocked();
}

int MainForm::KeepPagesInPlace(const std::u16string& folder,
                               std::array<std::vector<DownloadItem>, kWorkerCount>& queues) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(folder), error)) {
    // Only the temporary names of page files; nothing else.
    if (IsPageTemporaryName(entry.path().filename().string())) {
      std::filesystem::remove(entry.path(), error);
    }
  }
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

void MainForm::PageGivenUp(DownloadThread&, const DownloadItem& job) {
  std::lock_guard<std::mutex> guard(countLock_);
  givenUp_.push_back(FileName(job.LocalUrl));
  RequestFinishLocked();
}

void MainForm::RequestFinishLocked() {
  if (finishRequested_) return;
  finishRequested_ = true;
  if (workersStarted_) LaunchFinisherLocked();
}

void MainForm::LaunchFinisherLocked() {
  if (closing_) return;
  try {
    finisher_ = std::thread([this] { FinishDownload(); });
  } catch (const std::system_error& error) {
    // Without a finisher the window's thread ends the download; joining the workers there may
    // keep it waiting for a page in flight.
    const std::u16string text = Utf8ToUtf16(error.what());
    face_.RunOnWindowThread([this, text] {
      face_.MessageBox(text, std::u16string(kAppTitle), kMbError);
      ReturnToIdle();
    });
  }
}

void MainForm::FinishDownload() {
  bool failed;
  {
    std::lock_guard<std::mutex> guard(countLock_);
    failed = !givenUp_.empty();
  }
  // A page was given up: the download ends now; fetches under way are cut short, the pages
  // already written stay.
  if (failed) {
    for (const auto& worker : downloadTrdList_) worker->Terminate();
  }
  for (const auto& worker : downloadTrdList_) worker->WaitFor();

  std::vector<std::u16string> given_up;
  {
    std::lock_guard<std::mutex> guard(countLock_);
    given_up = givenUp_;
  }
  if (!given_up.empty()) {
    std::sort(given_up.begin(), given_up.end());
    std::u16string names;
    for (const std::u16string& name : given_up) {
      names += (names.empty() ? u"" : u", ") + name;
    }
    const std::u16string text = u"下载遇到问题，以下页面多次尝试后仍未能下载: \r\r" + names +
                                u"\r\r已下载的页面保留在文件夹中，请稍后再次下载。";
    face_.RunOnWindowThread(
        [this, text] { face_.MessageBox(text, std::u16string(kDownloadProblem), kMbInformation); });
  } else {
    try {
      Combine();
    } catch (const std::exception& error) {
      const std::u16string text = u"合并PDF文件时遇到问题: \r\r" + Utf8ToUtf16(error.what());
      face_.RunOnWindowThread([this, text] {
        face_.MessageBox(text, std::u16string(kCombineProblem), kMbInformation);
      });
    }
  }
  if (combiner_) combiner_->DropPreparedPages();
  face_.RunOnWindowThread([this] { ReturnToIdle(); });
}

void MainForm::Combine() {
  if (!combiner_) throw std::logic_error("No PDF writer is available.");
  int combined = 0;
  CombineSet(u"gk", rerazavu_.GkPages, combined);
  CombineSet(u"sd", rerazavu_.SdPages, combined);
  if (rerazavu_.GkPages > 0) {
    face_.RunOnWindowThread([this] { face_.SetPictureVisible(imgGk, false); });
  }
}

void MainForm::CombineSet(const std::u16string& set, int32_t pages, int& combined) {
  if (pages <= 0) return;
  const std::u16string& apn = rerazavu_.Apn;
  combiner_->BeginDoc(PatentFolder(rootDir_, apn) + u"/CN" + apn + u"_" + set + u".pdf");
  for (int p = 1; p <= pages; ++p) {
    // BeginDoc opened the first page; every further page gets a page of its own.
    if (p > 1) combiner_->AddPage();
    combiner_->AddTiffFromFile(PagePath(rootDir_, apn, set, p));
    const int position = ++combined;
    face_.RunOnWindowThread([this, position] { face_.SetProgressPosition(prbCombine, position); });
  }
  combiner_->EndDoc();
}

void MainForm::ReturnToIdle() {
  face_.SetEntryEnabled(true);
  // The finisher has waited for the workers, so releasing them does not block.
  downloadTrdList_.clear();
  {
    std::lock_guard<std::mutex> guard(countLock_);
    downloadCount_ = 0;
  }
  face_.SetPictureVisible(imgDownload, false);
  busy_ = false;
}

void MainForm::ShowErrorReport(const std::exception& error) {
  face_.MessageBox(Utf8ToUtf16(error.what()), std::u16string(kAppTitle), kMbError);
}

void MainForm::checkUpdate() {
  std::u16string text;
  try {
    text = FetchText(httpUpdate_, settings_.Server + protocol::UpdateTarget<char16_t>(),
                     kUpdateReadTimeout);
  } catch (const std::exception&) {
    return;
  }
  if (text.empty()) return;
  if (face_.MessageBox(std::u16string(kUpdateQuestion), std::u16string(kUpdateCaption),
                       kMbYesNoQuestion) == kIdYes) {
    face_.ShellOpen(text, swMaximized);
  }
}

void MainForm::btnGkClick() {
  const std::u16string& apn = rerazavu_.Apn;
  face_.ShellOpen(rootDir_ + u"/CN" + apn + u"/CN" + apn + u"_gk.pdf", swNormal);
}

void MainForm::btnUpdateClick() {
  face_.ShellOpen(settings_.Server + protocol::Text<char16_t>(protocol::kProductPage), swMaximized);
}

void MainForm::btnWebsiteClick() { face_.ShellOpen(settings_.Server + u"/", swMaximized); }

}  // namespace brevis
