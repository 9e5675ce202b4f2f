// PatentFetch: the lookup's cause and the download's outcome, told and reported.
#include "tools/cli/patent_fetch.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>
#include <utility>

#include "common/text.h"
#include "core/messages.h"
#include "core/patent_paths.h"
#include "core/pdf_combiner.h"
#include "tools/cli/download_progress.h"
#include "tools/cli/progress_line.h"

namespace brevis::cli {

namespace {

// The report's cause of a lookup that found no pages.
const char* CauseOf(LookupCause cause) {
  return cause == LookupCause::kMirrorFailed || cause == LookupCause::kSearchFailed
             ? "lookup failed"
             : "not found";
}

// The report's cause of a download that did not make the PDF.
const char* CauseOf(DownloadOutcome::Status status) {
  switch (status) {
    case DownloadOutcome::Status::kPagesGivenUp:
      return "pages given up";
    case DownloadOutcome::Status::kCombineFailed:
      return "combine failed";
    case DownloadOutcome::Status::kNotStarted:
      return "not started";
    case DownloadOutcome::Status::kCombined:
    case DownloadOutcome::Status::kFailed:
      break;
  }
  return "failed";
}

// Tells the patent's lines on standard error and keeps them as the entry's detail.
class Teller {
 public:
  Teller(std::string label, ReportEntry& entry) : label_(std::move(label)), entry_(entry) {}
  void Tell(const std::string& text) {
    std::cerr << label_ << ": " << EscapeControls(text) << '\n';
    entry_.Detail += (entry_.Detail.empty() ? "" : "\n") + text;
  }
  // A message box's text, its "\r" line breaks as line feeds.
  void TellMessage(const std::u16string& text) {
    std::string line = Utf16ToUtf8(text);
    std::replace(line.begin(), line.end(), '\r', '\n');
    Tell(line);
  }

 private:
  const std::string label_;
  ReportEntry& entry_;
};

}  // namespace

PatentFetch::PatentFetch(FetchSettings settings)
    : settings_(std::move(settings)),
      lookup_(settings_.Lookup),
      combiner_(std::make_unique<PdfCombiner>()) {}

PatentFetch::~PatentFetch() = default;

ReportEntry PatentFetch::Fetch(const RecognisedNumber& number, const std::string& progress_label,
                               bool terminal) {
  const std::string label = "CN" + Utf16ToUtf8(number.Apn);
  ReportEntry entry;
  entry.Outcome = "failed";
  Teller teller(label, entry);

  LookupResult found;
  try {
    // Missing language data is told before anything is fetched.
    combiner_->SetTextLanguages(settings_.Ocr ? settings_.OcrLanguages : std::string());
    found = lookup_.Find(number.Apn, number.Kind);
  } catch (const std::exception& error) {
    // An answer that cannot be read (ConvertError) is a broken one, as a count above the cap.
    teller.TellMessage(Utf8ToUtf16(error.what()));
    entry.Cause = "not found";
    return entry;
  }
  if (found.Cause != LookupCause::kFound) {
    teller.TellMessage(LookupText(found));
    if (!found.ServiceFailure().empty()) teller.Tell(found.ServiceFailure());
    entry.Cause = CauseOf(found.Cause);
    return entry;
  }

  DownloadSettings settings = settings_.Download;
  // Told as it happens, before the wait, which may be long; the number's other lines follow.
  if (settings_.WaitForFolder) {
    settings.WaitForFolder = [&label](const std::string& message) {
      std::cerr << label << ": " << message << std::endl;
    };
  }
  ProgressLine line(stderr, progress_label, terminal, settings_.Ocr);
  std::optional<DownloadOutcome> outcome;
  {
    DownloadProgress progress(line);
    PatentDownload download(found.Found, settings_.RootDir, combiner_.get(), settings,
                            progress.Listener());
    try {
      const int kept = download.Start();
      progress.Started(download.PageTotal(), kept, settings.Resume);
    } catch (const std::exception& error) {
      teller.TellMessage(Utf8ToUtf16(error.what()));
      entry.Cause = CauseOf(DownloadOutcome::Status::kNotStarted);
      return entry;
    }
    outcome = progress.Wait();
  }
  line.Finish();

  using Status = DownloadOutcome::Status;
  if (outcome->Result != Status::kCombined || !outcome->Unread.empty()) {
    teller.TellMessage(OutcomeText(*outcome));
  }
  // The message names each page given up with its cause; under it, how to go on.
  if (!outcome->GivenUp.empty()) {
    std::cerr << label << ": fetch again with --resume to fetch only the missing pages.\n";
  }
  if (outcome->Result != Status::kCombined) {
    entry.Cause = CauseOf(outcome->Result);
    return entry;
  }
  entry.Outcome = "done";
  entry.Detail.clear();
  entry.Pdf = Utf16ToUtf8(outcome->PdfPath);
  entry.Pages = found.Found.GkPages;
  std::error_code error;
  const auto size = std::filesystem::file_size(FsPath(outcome->PdfPath), error);
  if (!error) entry.Bytes = static_cast<int64_t>(size);
  std::cout << entry.Pdf << std::endl;
  return entry;
}

}  // namespace brevis::cli
