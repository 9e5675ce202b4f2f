// Message texts made from a lookup's cause and a download's outcome.
#include "core/messages.h"

#include "common/text.h"
#include "core/lookup_result.h"
#include "core/patent_download.h"

namespace brevis {

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

std::u16string LookupText(const LookupResult& result) {
  switch (result.Cause) {
    case LookupCause::kFound:
      break;
    case LookupCause::kMirrorFailed:
      return std::u16string(kMirrorFailedText);
    case LookupCause::kSearchFailed:
      return std::u16string(kSearchFailedText);
    case LookupCause::kNothingFound:
      return std::u16string(kNothingFoundText);
    case LookupCause::kTooManyPages:
      return PageCountText(Utf8ToUtf16(std::to_string(result.RefusedPages)));
  }
  return {};
}

std::u16string_view LookupCaption(const LookupResult& result) {
  return result.Cause == LookupCause::kNothingFound ? kNothingFoundCaption : kDownloadProblem;
}

std::u16string OutcomeText(const DownloadOutcome& outcome) {
  using Status = DownloadOutcome::Status;
  switch (outcome.Result) {
    case Status::kCombined:
      return outcome.Unread.empty() ? std::u16string() : UnreadText(PageCauses(outcome.Unread));
    case Status::kPagesGivenUp:
      return GivenUpText(PageCauses(outcome.GivenUp));
    case Status::kCombineFailed:
      return CombineFailedText(Utf8ToUtf16(outcome.Error));
    case Status::kFailed:
    case Status::kNotStarted:
      break;
  }
  return Utf8ToUtf16(outcome.Error);
}

std::u16string_view OutcomeCaption(const DownloadOutcome& outcome) {
  using Status = DownloadOutcome::Status;
  switch (outcome.Result) {
    case Status::kCombined:
      return kRecognitionProblem;
    case Status::kPagesGivenUp:
      return kDownloadProblem;
    case Status::kCombineFailed:
      return kCombineProblem;
    case Status::kFailed:
    case Status::kNotStarted:
      break;
  }
  return kAppTitle;
}

}  // namespace brevis
