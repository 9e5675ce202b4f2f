// MainForm: the main window's state and logic without any toolkit: number recognition
// (RecogniseNumber), the patent lookup (a PatentLookup), the download (a PatentDownload) and its
// outcome, and the update check. A face (the Qt window, a test's recorder) shows what it asks for.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/combiner.h"
#include "core/lookup_answers.h"
#include "core/main_form_face.h"
#include "core/patent_download.h"
#include "core/patent_lookup.h"
#include "core/re_razavu.h"
#include "http/http_client.h"
#include "ocr/ocr_engine.h"
#include "ocr/recognizer.h"

namespace brevis {

// The download's settings (tries, fetch deadline, resume, request pace) and the window's own.
// Without a pacer, MainForm makes one without a rate limit for its lookups and downloads.
struct MainFormSettings : DownloadSettings {
  // The repository folder, without a trailing separator: "repo" beside the executable.
  std::u16string RootDir;
  // Base addresses (scheme, host, port) of the maker's services and of the patent office's
  // search server; see HostsFromEnvironment.
  std::u16string Server;
  std::u16string PatentOffice;
  // Text recognition of the pages, and what recognises them: "neural" or Tesseract's languages
  // (ocr_engine.h); SetTextRecognition changes the first.
  bool Ocr = false;
  std::string OcrLanguages = kDefaultOcrEngine;
  // Tries of a lookup that the service answers 429 or 503 with Retry-After, each after the wait
  // it asks for. The window keeps to one: its lookup runs on its own thread, which must not
  // freeze for as long as a busy service asks; a bulk run on the command line waits instead.
  int LookupTries = 1;
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
  // Recognises the entry field's text (RecogniseNumber): sets apn and valid, and for a valid
  // number patent_type and patent_display_type; then the tick, the cross and the download
  // button's cover. A number given with a wrong check character is not valid; the cross's hint
  // names the right one.
  void checkApn();

  // Looks up the page count and base address of `apn` of kind `leixin` (PatentLookup::Find).
  // Shows a message box when a service fails, when nothing is found or when the count is above
  // kMaxPages (then GkPages is 0); a service's failure is kept as lookupCause. Throws ConvertError
  // when the mirror's answer is not cipher text or a page count does not fit in 32 bits.
  ReRazavu GetReRazavu(const std::u16string& apn, const std::u16string& leixin);

  // Starts a download of the recognised number: busy state, lookup, then a PatentDownload. The
  // download ends on other threads; the window's thread then gets the combination's progress,
  // any message, the outcome and the return to idle. Does nothing while a download runs or when
  // the number is not valid.
  void btnDownloadClick();

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
  // Why the last lookup's service failed: its address and the error's message; empty when no
  // service failed.
  const std::string& lookupCause() const { return lookupCause_; }
  // The right check character when the number was refused for a wrong one, else 0.
  char16_t rightCheckCharacter() const { return rightCheckCharacter_; }
  const ReRazavu& rerazavu() const { return rerazavu_; }
  const std::u16string& RootDir() const { return rootDir_; }
  // Whether the next downloads recognise the pages' text.
  bool TextRecognition() const { return ocr_; }
  void SetTextRecognition(bool on) { ocr_ = on; }
  // A download runs: from the click until the window has returned to idle.
  bool Busy() const { return busy_; }
  // Workers of the current download; 0 when idle.
  std::size_t WorkerCount() const { return download_ ? download_->WorkerCount() : 0; }
  // How the last download ended, once the window has returned to idle; kNotStarted also when
  // the lookup found nothing or the download could not start (a message box said why; Error
  // holds the lookup's cause when a service failed).
  const DownloadOutcome& LastOutcome() const { return outcome_; }

 private:
  // Window's thread: shows how the download ended and returns to idle.
  void DownloadFinished(DownloadOutcome outcome);
  // Window's thread: entry enabled, download released, download button uncovered.
  void ReturnToIdle();
  // The application's error report: a message box with the error's text.
  void ShowErrorReport(const std::exception& error);

  MainFormFace& face_;
  std::unique_ptr<Combiner> combiner_;
  const MainFormSettings settings_;

  // The running download; changed only on the window's thread.
  std::unique_ptr<PatentDownload> download_;
  DownloadOutcome outcome_;

  ReRazavu rerazavu_;
  std::u16string rootDir_;
  std::u16string apn_;
  // The patent whose last download gave pages up: its next download keeps the pages in place.
  std::u16string givenUpApn_;
  bool valid_ = false;
  char16_t rightCheckCharacter_ = 0;
  std::string lookupCause_;
  std::u16string patent_type_;
  std::u16string patent_display_type_;

  std::u16string entryText_;  // the entry field's text
  bool busy_ = false;
  bool ocr_ = false;
  PatentLookup lookup_;
  HttpClient httpUpdate_;
};

}  // namespace brevis
