// MainForm: recognition, lookup, the download's start and end, and the update check.
#include "core/main_form.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "common/text.h"
#include "core/messages.h"
#include "core/patent_paths.h"
#include "core/recognised_number.h"
#include "protocol/service_protocol.h"

namespace brevis {

namespace {

constexpr int kUpdateReadTimeout = 20000;
// The update check runs while the window opens and may fail without harm, so a server that
// trickles its answer holds the start for at most a minute, however long page fetches may take.
constexpr int kUpdateDeadline = 60000;

// `text` without blanks at its ends when it is an http or https address with a host and no
// blank or control character; otherwise empty.
std::u16string WebAddress(std::u16string_view text) {
  const auto blank = [](char16_t c) { return c <= u' ' || c == 0x7F; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  std::u16string lower(text.substr(0, 8));
  for (char16_t& c : lower) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  const std::size_t host = lower.starts_with(u"http://")    ? 7
                           : lower.starts_with(u"https://") ? 8
                                                            : 0;
  if (host == 0 || text.size() == host || text[host] == u'/') return {};
  for (char16_t c : text) {
    if (blank(c)) return {};
  }
  return std::u16string(text);
}

// The settings with a pacer: one without a rate limit when they carry none, so that a server's
// Retry-After holds every request of the window's process, its workers' as well.
MainFormSettings WithPacer(MainFormSettings settings) {
  if (!settings.Pacer) settings.Pacer = std::make_shared<RequestPacer>(0);
  return settings;
}

// The form's lookups: its services, their tries, and the fetch deadline and pace of its
// downloads.
LookupSettings LookupSettingsOf(const MainFormSettings& settings) {
  LookupSettings lookup;
  lookup.Server = settings.Server;
  lookup.PatentOffice = settings.PatentOffice;
  lookup.Tries = settings.LookupTries;
  lookup.FetchDeadline = settings.FetchDeadline;
  lookup.Pacer = settings.Pacer;
  return lookup;
}

}  // namespace

MainForm::MainForm(MainFormFace& face, std::unique_ptr<Combiner> combiner,
                   MainFormSettings settings)
    : face_(face),
      combiner_(std::move(combiner)),
      settings_(WithPacer(std::move(settings))),
      rootDir_(settings_.RootDir),
      ocr_(settings_.Ocr),
      lookup_(LookupSettingsOf(settings_)) {
  httpUpdate_.FetchDeadline = settings_.FetchDeadline;
  httpUpdate_.MaxBodySize = kAnswerBodyLimit;
  httpUpdate_.Pacer = settings_.Pacer.get();
  if (httpUpdate_.FetchDeadline <= 0 || httpUpdate_.FetchDeadline > kUpdateDeadline) {
    httpUpdate_.FetchDeadline = kUpdateDeadline;
  }
}

MainForm::~MainForm() { download_.reset(); }

void MainForm::FormCreate() {
  checkUpdate();
  entryText_ = kPresetApn;
  checkApn();
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
  const RecognisedNumber number = RecogniseNumber(entryText_);
  apn_ = number.Apn;
  valid_ = number.Valid;
  rightCheckCharacter_ = number.RightCheckCharacter;
  // A number that is not valid keeps the kind of the last valid one.
  if (valid_) {
    patent_type_ = number.Kind;
    patent_display_type_ = number.DisplayKind;
  }
  face_.SetPictureVisible(imgValid, valid_);
  face_.SetPictureVisible(imgNotValid, !valid_);
  face_.SetPictureVisible(imgDownload, !valid_);
  face_.SetNotValidHint(rightCheckCharacter_ != 0 ? CheckCharacterHint(rightCheckCharacter_)
                                                  : std::u16string());
}

ReRazavu MainForm::GetReRazavu(const std::u16string& apn, const std::u16string& leixin) {
  const LookupResult result = lookup_.Find(apn, leixin);
  lookupCause_ = result.ServiceFailure();
  // Whatever finds no pages is told, rather than leaving a window that silently returns to idle.
  if (result.Cause != LookupCause::kFound) {
    face_.MessageBox(LookupText(result), std::u16string(LookupCaption(result)), kMbInformation);
  }
  return result.Found;
}

void MainForm::btnDownloadClick() {
  if (busy_ || !valid_) return;
  busy_ = true;
  outcome_ = DownloadOutcome();
  face_.SetEntryEnabled(false);
  face_.SetPictureVisible(imgDownload, true);
  face_.SetPictureVisible(imgGk, true);
  face_.SetProgressPosition(prbDownload, 0);
  face_.SetProgressPosition(prbCombine, 0);
  face_.Repaint();

  try {
    // Missing language data is told before anything is fetched.
    if (combiner_) combiner_->SetTextLanguages(ocr_ ? settings_.OcrLanguages : std::string());
    rerazavu_ = GetReRazavu(apn_, patent_type_);
    if (rerazavu_.GkPages <= 0) {
      outcome_.Error = lookupCause_;
      ReturnToIdle();
      return;
    }
    const int total = rerazavu_.GkPages + rerazavu_.SdPages;
    // After pages were given up, downloading the same patent again fetches only the missing ones.
    DownloadSettings settings = settings_;
    settings.Resume = settings.Resume || apn_ == givenUpApn_;

    // The listener's calls come on other threads; each is handed to the window's thread, in
    // order, and the last one ends the download there.
    PatentDownload::Listener listener;
    listener.PageDownloaded = [this](int count) {
      face_.RunOnWindowThread([this, count] { face_.SetProgressPosition(prbDownload, count); });
    };
    listener.PageCombined = [this](int count) {
      face_.RunOnWindowThread([this, count] { face_.SetProgressPosition(prbCombine, count); });
    };
    listener.Finished = [this](DownloadOutcome outcome) {
      face_.RunOnWindowThread(
          [this, outcome = std::move(outcome)] { DownloadFinished(std::move(outcome)); });
    };
    download_ = std::make_unique<PatentDownload>(rerazavu_, rootDir_, combiner_.get(), settings,
                                                 std::move(listener));
    // The workers' counts reach the bars later, through the window's thread.
    const int kept = download_->Start();
    if (settings.Resume) face_.SetPagesKept(kept);
    face_.SetProgressRange(prbDownload, total);
    face_.SetProgressRange(prbCombine, total);
    if (settings.Resume) face_.SetProgressPosition(prbDownload, kept);
  } catch (const std::exception& error) {
    ShowErrorReport(error);
    ReturnToIdle();
  }
}

void MainForm::DownloadFinished(DownloadOutcome outcome) {
  using Status = DownloadOutcome::Status;
  if (outcome.Result == Status::kCombined) {
    face_.SetPdfPath(outcome.PdfPath);
    face_.SetPictureVisible(imgGk, false);
    givenUpApn_.clear();
  } else if (outcome.Result == Status::kPagesGivenUp) {
    givenUpApn_ = apn_;
  }
  // A PDF made with the text of every page needs no word; an error that stopped the download is
  // the application's error report.
  if (outcome.Result != Status::kCombined || !outcome.Unread.empty()) {
    const bool error = outcome.Result == Status::kFailed || outcome.Result == Status::kNotStarted;
    face_.MessageBox(OutcomeText(outcome), std::u16string(OutcomeCaption(outcome)),
                     error ? kMbError : kMbInformation);
  }
  outcome_ = std::move(outcome);
  ReturnToIdle();
}

void MainForm::ReturnToIdle() {
  face_.SetEntryEnabled(true);
  // The download has told its end, so its threads have ended or are about to.
  download_.reset();
  face_.SetPictureVisible(imgDownload, false);
  busy_ = false;
}

void MainForm::ShowErrorReport(const std::exception& error) {
  face_.MessageBox(Utf8ToUtf16(error.what()), std::u16string(kAppTitle), kMbError);
}

void MainForm::checkUpdate() {
  std::u16string text;
  try {
    text = FetchAnswerText(httpUpdate_, settings_.Server + protocol::UpdateTarget<char16_t>(),
                           kUpdateReadTimeout);
  } catch (const std::exception&) {
    return;
  }
  // Whoever can answer in the service's place chooses what the desktop opens: only a web
  // address is offered, and the question shows it.
  const std::u16string address = WebAddress(text);
  if (address.empty()) return;
  if (face_.MessageBox(std::u16string(kUpdateQuestion) + u"\r\r" + address,
                       std::u16string(kUpdateCaption), kMbYesNoQuestion) == kIdYes) {
    face_.ShellOpen(address, swMaximized);
  }
}

void MainForm::btnGkClick() { face_.ShellOpen(PdfPath(rootDir_, rerazavu_.Apn), swNormal); }

void MainForm::btnUpdateClick() {
  face_.ShellOpen(settings_.Server + protocol::Text<char16_t>(protocol::kProductPage), swMaximized);
}

void MainForm::btnWebsiteClick() { face_.ShellOpen(settings_.Server + u"/", swMaximized); }

}  // namespace brevis
