// MainForm: recognition, lookup, the download's start and end, and the update check.
#include "core/main_form.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "protocol/application_number.h"
#include "core/lookup_answers.h"
#include "core/messages.h"
#include "core/patent_paths.h"
#include "protocol/service_protocol.h"
#include "common/stream.h"
#include "common/text.h"
#include "http/http_errors.h"
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

}  // namespace

MainForm::MainForm(MainFormFace& face, std::unique_ptr<Combiner> combiner,
                   MainFormSettings settings)
    : face_(face),
      combiner_(std::move(combiner)),
      settings_(WithPacer(std::move(settings))),
      rootDir_(settings_.RootDir),
      cipher_(kAppKeyN, kAppKeyE, kAppKeyD),
      ocr_(settings_.Ocr) {
  for (HttpClient* client : {&httpPage_, &httpUpdate_}) {
    client->FetchDeadline = settings_.FetchDeadline;
    client->MaxBodySize = kAnswerBodyLimit;
    client->Pacer = settings_.Pacer.get();
  }
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
  valid_ = false;
  rightCheckCharacter_ = 0;
  apn_ = NormaliseApplicationNumber(entryText_);
  Pattern pattern;
  if (SearchWithinBounds(pattern, kNumberPattern, apn_)) {
    const std::u16string given = pattern.Match(3);  // "" or "." and the check character
    apn_ = pattern.Match(2);
    char16_t kind = 0;
    if (apn_.size() == 8) kind = apn_[2];
    if (apn_.size() == 12) kind = apn_[4];
    // A mistyped digit would fetch another patent: a wrong check character refuses the number.
    const char16_t check = CheckCharacter(apn_);
    if (kind != 0 && given.size() == 2 && check != 0 && given[1] != check) {
      rightCheckCharacter_ = check;
    } else if (kind == u'1' || kind == u'8') {
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
  face_.SetNotValidHint(rightCheckCharacter_ != 0 ? CheckCharacterHint(rightCheckCharacter_)
                                                  : std::u16string());
}

std::u16string MainForm::FetchText(HttpClient& client, const std::u16string& address,
                                   int read_timeout) {
  MemoryStream body;
  client.SetReadTimeout(read_timeout);
  client.Get(address, body);
  return Utf8ToUtf16(body.ToString());
}

std::u16string MainForm::FetchLookup(const std::u16string& address) {
  for (int tries = 1;; ++tries) {
    try {
      return FetchText(httpPage_, address, kLookupReadTimeout);
    } catch (const HttpProtocolError&) {
      // A service that limits its rate said when to ask again: the next try waits that long
      // through the pacer, so that in a bulk run a busy service does not fail the patent.
      if (!httpPage_.RetryAfter() || tries >= settings_.LookupTries) throw;
    }
  }
}

void MainForm::CheckPageCount(ReRazavu& result) {
  const int32_t pages = CapPageCounts(result);
  if (pages == 0) return;
  face_.MessageBox(PageCountText(Utf8ToUtf16(std::to_string(pages))),
                   std::u16string(kDownloadProblem), kMbInformation);
}

ReRazavu MainForm::GetReRazavu(const std::u16string& apn, const std::u16string& leixin) {
  ReRazavu result;
  result.Apn = apn;
  result.LeiXin = leixin;

  lookupCause_.clear();
  std::u16string text;
  const std::u16string mirror =
      settings_.Server + protocol::MirrorTarget<char16_t>(cipher_.Encrypt(apn));
  try {
    text = FetchLookup(mirror);
  } catch (const std::exception& error) {
    lookupCause_ = Utf16ToUtf8(mirror) + ": " + error.what();
    face_.MessageBox(std::u16string(kMirrorFailed), std::u16string(kDownloadProblem),
                     kMbInformation);
    return result;
  }
  if (!text.empty()) {
    // An answer without the expected form, or with no pages, finds nothing: the user is told
    // so, rather than left with a window that silently returns to idle.
    ReadMirrorAnswer(cipher_, text, result);
    if (result.GkPages <= 0 && result.SdPages <= 0) {
      face_.MessageBox(std::u16string(kNothingFound), std::u16string(kNothingFoundCaption),
                       kMbInformation);
    }
    CheckPageCount(result);
    return result;
  }

  const std::u16string search =
      settings_.PatentOffice + protocol::SearchTarget<char16_t>(apn, leixin);
  try {
    text = FetchLookup(search);
  } catch (const std::exception& error) {
    lookupCause_ = Utf16ToUtf8(search) + ": " + error.what();
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

namespace {

// One line a page: the file's name and why, made safe to show.
template <class Pages>
std::u16string PageCauses(const Pages& pages) {
  std::u16string lines;
  for (const auto& page : pages) {
    lines += (lines.empty() ? u"" : u"\r") + page.FileName + u": " +
             Utf8ToUtf16(EscapeControls(page.Cause));
  }
  return lines;
}

}  // namespace

void MainForm::DownloadFinished(DownloadOutcome outcome) {
  using Status = DownloadOutcome::Status;
  switch (outcome.Result) {
    case Status::kCombined:
      face_.SetPdfPath(outcome.PdfPath);
      face_.SetPictureVisible(imgGk, false);
      givenUpApn_.clear();
      if (!outcome.Unread.empty()) {
        face_.MessageBox(UnreadText(PageCauses(outcome.Unread)),
                         std::u16string(kRecognitionProblem), kMbInformation);
      }
      break;
    case Status::kPagesGivenUp: {
      givenUpApn_ = apn_;
      face_.MessageBox(GivenUpText(PageCauses(outcome.GivenUp)), std::u16string(kDownloadProblem),
                       kMbInformation);
      break;
    }
    case Status::kCombineFailed:
      face_.MessageBox(CombineFailedText(Utf8ToUtf16(outcome.Error)),
                       std::u16string(kCombineProblem), kMbInformation);
      break;
    case Status::kFailed:
    case Status::kNotStarted:
      face_.MessageBox(Utf8ToUtf16(outcome.Error), std::u16string(kAppTitle), kMbError);
      break;
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
    text = FetchText(httpUpdate_, settings_.Server + protocol::UpdateTarget<char16_t>(),
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
