// MainForm: the main window's state and logic without any toolkit: number recognition, the patent
// lookup, the download with five workers, the combination into PDF files and the update check.
// A face (the Qt window, the command line, a test's recorder) shows what it asks for.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/core/combiner.h"
#include "app/core/lookup_answers.h"
#include "app/core/main_form_face.h"
#include "app/core/page_jobs.h"
#include "app/core/re_razavu.h"
#include "cipher/rsa.h"
#include "download/download_thread.h"
#include "download/retry_policy.h"
#include "http/http_client.h"

namespace brevis {

struct MainFormSettings {
  // The repository folder, without a trailing separator: "repo" beside the executable.
  std::u16string RootDir;
  // Base addresses (scheme, host, port) of the maker's services and of the patent office's
  // search server; see HostsFromEnvironment.
  std::u16string Server;
  std::u16string PatentOffice;
  // Tries and pauses of the page downloads.
  RetryPolicy Retries;
  // Allowance for each whole fetch (a page, a lookup answer, the update answer) in milliseconds;
  // 0: none. Five minutes carry a 100 KiB page over a link of a few hundred bytes a second, yet
  // a server that trickles for ever frees the worker, or the window's lookup, in the end.
  int FetchDeadline = 5 * 60 * 1000;
  // Resuming an interrupted download: page files already in the patent's folder that pass the
  // TIFF check are kept and only the other pages are fetched; temporary files left by an
  // interrupted page write are removed. Off for the window, which always fetches every page.
  bool Resume = false;
};

class MainForm final {
 public:
  // The entry field's text when the window opens.
  static constexpr std::u16string_view kPresetApn = u"CN200710038426";
  // A larger page count is taken as a broken lookup answer.
  static constexpr int32_t kMaxPages = kMaxLookupPages;

  // `face` must outlive this object. `combiner` builds the PDF files; without one, every
  // combination fails with an error message.
  MainForm(MainFormFace& face, std::unique_ptr<Combiner> combiner, MainFormSettings settings);
  // Stops a running download (fetches under way are cut short) and waits for it.
  // Calls this object handed to RunOnWindowThread must not run after it is destroyed.
  ~MainForm();
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  // The window's start-up, once the face is ready: update check, recognition of the preset
  // number, and the repository folder made when missing (throws std::runtime_error when that
  // fails; the window works all the same).
  void FormCreate();

  // The entry field changed to `text`: covers the open-PDF picture and recognises the number.
  void edtApnChange(std::u16string_view text);
  // Recognises the entry field's text: sets apn, valid, patent_type and patent_display_type,
  // and the tick, the cross and the download button's cover.
  void checkApn();

  // Looks up the page count and base address of `apn` of kind `leixin`: the mirror service
  // first, the patent office's search page only when the mirror answers with an empty body.
  // Shows a message box when a service fails, when nothing is found or when the count is above
  // kMaxPages (then GkPages is 0). Throws ConvertError when the mirror's answer is not cipher
  // text or a page count does not fit in 32 bits.
  ReRazavu GetReRazavu(const std::u16string& apn, const std::u16string& leixin);

  // Starts a download of the recognised number: busy state, lookup, folder, five workers. The
  // download ends on other threads; the window's thread then gets the combination's progress,
  // any message, and the return to idle. Does nothing while a download runs or when the
  // number is not valid.
  void btnDownloadClick();
  // A worker has written a page file; runs on that worker's thread.
  void AfterDownload(DownloadThread& sender);

  // Asks the update service whether a newer version exists and offers to open its page. Every
  // failure is ignored.
  void checkUpdate();

  // The maker's pages and the publication PDF of the last download, through the shell.
  void btnGkClick();
  void btnUpdateClick();
  void btnWebsiteClick();

  const std::u16string& apn() const { return apn_; }
  bool valid() const { return valid_; }
  const std::u16string& patent_type() const { return patent_type_; }
  const std::u16string& patent_display_type() const { return patent_display_type_; }
  const ReRazavu& rerazavu() const { return rerazavu_; }
  const std::u16string& RootDir() const { return rootDir_; }
  // A download runs: from the click until the window has returned to idle.
  bool Busy() const { return busy_; }
  // Workers of the current download; 0 when idle.
  std::size_t WorkerCount() const { return downloadTrdList_.size(); }

 private:
  // A worker has given up a page.
  void PageGivenUp(DownloadThread& sender, const DownloadItem& job);
  // Resume: removes temporary page files from `folder` and takes the jobs whose page file is
  // already in place out of `queues`; returns how many were taken out.
  static int KeepPagesInPlace(const std::u16string& folder,
                              std::array<std::vector<DownloadItem>, kWorkerCount>& queues);
  // With countLock_ held: the download's end is decided; starts the finisher once the workers
  // have all been started.
  void RequestFinishLocked();
  void LaunchFinisherLocked();
  // The finisher thread: waits for the workers, then reports the pages given up or combines
  // the pages, and hands the return to idle to the window's thread.
  void FinishDownload();
  // The combination of every document set with pages; throws what the combiner throws.
  void Combine();
  void CombineSet(const std::u16string& set, int32_t pages, int& combined);
  // Window's thread: entry enabled, workers released, count 0, download button uncovered.
  void ReturnToIdle();
  // The application's error report: a message box with the error's text.
  void ShowErrorReport(const std::exception& error);
  // Fetches `address` with `client`; the body as text.
  static std::u16string FetchText(HttpClient& client, const std::u16string& address,
                                  int read_timeout);
  // The count cap, after either service answered: a count above it becomes 0, with a message.
  void CheckPageCount(ReRazavu& result);

  MainFormFace& face_;
  std::unique_ptr<Combiner> combiner_;
  const MainFormSettings settings_;

  // Workers of the current download, in creation order. Changed only on the window's thread,
  // and only while no finisher runs.
  std::vector<std::unique_ptr<DownloadThread>> downloadTrdList_;
  // Guards downloadCount_ and the download's end (the fields up to finisher_).
  std::mutex countLock_;
  int downloadCount_ = 0;
  int pageTotal_ = 0;                    // GkPages + SdPages of the current download
  bool workersStarted_ = false;          // all workers of the download have been started
  bool finishRequested_ = false;         // the download's end has been decided
  bool closing_ = false;                 // the destructor runs: no finisher starts any more
  std::vector<std::u16string> givenUp_;  // files of the pages given up
  std::thread finisher_;

  ReRazavu rerazavu_;
  std::u16string rootDir_;
  std::u16string apn_;
  bool valid_ = false;
  std::u16string patent_type_;
  std::u16string patent_display_type_;
  const RSA cipher_;

  std::u16string entryText_;  // the entry field's text
  bool busy_ = false;
  HttpClient httpPage_;
  HttpClient httpUpdate_;
};

}  // namespace brevis
