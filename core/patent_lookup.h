// PatentLookup: finds a patent's page count and the base address of its page images: the
// maker's mirror first, the patent office's search page only when the mirror answers with an
// empty body. The window's form and the command line both call it and read its LookupResult.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cipher/rsa.h"
#include "core/lookup_result.h"
#include "core/patent_download.h"
#include "http/http_client.h"
#include "http/request_pacer.h"

namespace brevis {

// Largest lookup or update answer accepted: a few lines of cipher text or a search page.
inline constexpr int64_t kAnswerBodyLimit = int64_t{4} << 20;

struct LookupSettings {
  // Base addresses (scheme, host, port) of the maker's mirror and of the patent office's search
  // server; see HostsFromEnvironment.
  std::u16string Server;
  std::u16string PatentOffice;
  // Tries of a service that answers 429 or 503 with Retry-After, each after the wait it asks
  // for (through the pacer); other failures are not tried again.
  int Tries = 1;
  // Allowance for each whole fetch in milliseconds; 0: none.
  int FetchDeadline = DownloadSettings::kDefaultFetchDeadline;
  // The process's request pace, shared with its downloads. Null: one of the lookup's own without
  // a rate limit, which still keeps to a service's Retry-After.
  std::shared_ptr<RequestPacer> Pacer;
};

// Fetches `address` with `client`, after setting its read time-out; the body as UTF-16 text.
// Throws what the client throws.
std::u16string FetchAnswerText(HttpClient& client, const std::u16string& address, int read_timeout);

class PatentLookup final {
 public:
  explicit PatentLookup(LookupSettings settings);
  PatentLookup(const PatentLookup&) = delete;
  PatentLookup& operator=(const PatentLookup&) = delete;

  // Looks up `apn` (digits only) of kind `leixin` ("fmzl" or "syxx"). A service that fails
  // (network, HTTP status, limits) gives its cause; an answer without the expected form finds
  // nothing. Throws ConvertError when the mirror's answer is not cipher text, or a page count
  // does not fit in 32 bits. Not to be called from two threads at once.
  LookupResult Find(const std::u16string& apn, const std::u16string& leixin);

 private:
  // Fetches a lookup address, trying again after a 429 or 503 answer with a Retry-After; throws
  // the last try's error.
  std::u16string FetchLookup(const std::u16string& address);

  const LookupSettings settings_;
  const RSA cipher_;
  HttpClient http_;
};

}  // namespace brevis
