// PatentLookup: the mirror, the search page as its fallback, the retries and the page-count cap.
#include "core/patent_lookup.h"

#include <exception>
#include <utility>

#include "common/stream.h"
#include "common/text.h"
#include "core/lookup_answers.h"
#include "http/http_errors.h"
#include "protocol/service_protocol.h"

namespace brevis {

namespace {

constexpr int kLookupReadTimeout = 30000;

LookupSettings WithPacer(LookupSettings settings) {
  if (!settings.Pacer) settings.Pacer = std::make_shared<RequestPacer>(0);
  return settings;
}

// The result of a service that could not be asked.
LookupResult Failed(LookupResult result, LookupCause cause, const std::u16string& address,
                    const std::exception& error) {
  result.Cause = cause;
  result.Address = Utf16ToUtf8(address);
  result.Error = error.what();
  return result;
}

// The cause once a service answered and its answer was read into `result.Found`. A count
// above the cap is never one of no pages, so the order of the checks does not matter.
LookupResult Judged(LookupResult result) {
  result.RefusedPages = CapPageCounts(result.Found);
  if (result.RefusedPages > 0) {
    result.Cause = LookupCause::kTooManyPages;
  } else if (result.Found.GkPages <= 0 && result.Found.SdPages <= 0) {
    result.Cause = LookupCause::kNothingFound;
  } else {
    result.Cause = LookupCause::kFound;
  }
  return result;
}

}  // namespace

std::u16string FetchAnswerText(HttpClient& client, const std::u16string& address,
                               int read_timeout) {
  MemoryStream body;
  client.SetReadTimeout(read_timeout);
  client.Get(address, body);
  return Utf8ToUtf16(body.ToString());
}

PatentLookup::PatentLookup(LookupSettings settings)
    : settings_(WithPacer(std::move(settings))), cipher_(kAppKeyN, kAppKeyE, kAppKeyD) {
  http_.FetchDeadline = settings_.FetchDeadline;
  http_.MaxBodySize = kAnswerBodyLimit;
  http_.Pacer = settings_.Pacer.get();
}

std::u16string PatentLookup::FetchLookup(const std::u16string& address) {
  for (int tries = 1;; ++tries) {
    try {
      return FetchAnswerText(http_, address, kLookupReadTimeout);
    } catch (const HttpProtocolError&) {
      // A service that limits its rate said when to ask again: the next try waits that long
      // through the pacer, so that in a bulk run a busy service does not fail the patent.
      if (!http_.RetryAfter() || tries >= settings_.Tries) throw;
    }
  }
}

LookupResult PatentLookup::Find(const std::u16string& apn, const std::u16string& leixin) {
  LookupResult result;
  result.Found.Apn = apn;
  result.Found.LeiXin = leixin;

  std::u16string text;
  const std::u16string mirror =
      settings_.Server + protocol::MirrorTarget<char16_t>(cipher_.Encrypt(apn));
  try {
    text = FetchLookup(mirror);
  } catch (const std::exception& error) {
    return Failed(std::move(result), LookupCause::kMirrorFailed, mirror, error);
  }
  if (!text.empty()) {
    // An answer without the expected form, or with no pages, finds nothing.
    ReadMirrorAnswer(cipher_, text, result.Found);
    return Judged(std::move(result));
  }

  const std::u16string search =
      settings_.PatentOffice + protocol::SearchTarget<char16_t>(apn, leixin);
  try {
    text = FetchLookup(search);
  } catch (const std::exception& error) {
    return Failed(std::move(result), LookupCause::kSearchFailed, search, error);
  }
  ReadSearchPage(text, leixin, result.Found);
  return Judged(std::move(result));
}

}  // namespace brevis
