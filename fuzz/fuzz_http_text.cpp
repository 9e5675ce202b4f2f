// Fuzz target: the HTTP client's text handling without a connection: addresses (Uri,
// MergePath, the URL encoders), header lists (folding must read back as the unwrapped line),
// the cookie store (bounded) and internet dates (the cookie form reads back as it was written).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "common/http_date.h"
#include "fuzz/fuzz_input.h"
#include "http/cookie_manager.h"
#include "http/header_list.h"
#include "http/http_errors.h"
#include "http/uri.h"

namespace {

using brevis::fuzz::Check;

void Addresses(std::u16string_view a, std::u16string_view b) {
  brevis::Uri uri(a);
  try {
    const std::u16string full = uri.GetFullURI();
    Check(!full.empty(), "a rebuilt address is not empty");
  } catch (const brevis::NetUriError&) {
    Check(uri.Protocol.empty() || uri.Host.empty(), "rebuilding fails only without scheme or host");
  }
  uri.GetPathAndParams();
  const std::u16string merged = brevis::MergePath(a, b);
  if (!b.empty() && b[0] == u'/') Check(merged == b, "an absolute path is kept");
  for (const std::u16string& encoded : {brevis::Uri::ParamsEncode(a), brevis::Uri::PathEncode(a)}) {
    for (char16_t c : encoded) Check(c > u' ' && c <= 128, "encoded text is printable ASCII");
  }
  try {
    brevis::Uri::URLEncode(a);
  } catch (const brevis::NetUriError&) {
  }
}

void Headers(std::u16string_view value, size_t fold) {
  brevis::HeaderList folded(fold);
  folded.SetValues(u"X-Fuzz", value);
  brevis::HeaderList unwrapped(std::numeric_limits<size_t>::max());
  unwrapped.SetValues(u"X-Fuzz", value);
  Check(folded.Values(u"x-fuzz") == unwrapped.Values(u"x-fuzz"), "folding reads back unchanged");
  for (size_t i = 1; i < folded.Count(); ++i) Check(!folded[i].empty(), "no empty line");
  folded.AddValue(u"X-More", value);
  std::vector<std::u16string> values;
  folded.Extract(u"X-More", values);
  folded.SetValues(u"X-Fuzz", u"");
  Check(folded.IndexOfName(u"X-Fuzz") < 0, "an empty value removes the header");
}

void Cookies(std::u16string_view text, std::u16string_view address) {
  brevis::CookieManager store;
  const brevis::Uri uri(address);
  // Many cookies from one text: the name changes, the rest stays.
  for (int i = 0; i < 60; ++i) {
    std::u16string named = u"n";
    named += static_cast<char16_t>(u'A' + i);
    named += text;
    store.AddCookie(named, uri);
    store.AddCookie2(named, uri);
  }
  Check(store.CookieCollection().Count() <= brevis::Cookies::kMaxCookiesPerDomain * 2 + 2,
        "the store keeps at most 50 cookies per domain");
  store.GenerateCookieList(uri, false);
  store.GenerateCookieList(uri, true);
  brevis::CookieManager::DomainMatches(address, text);
}

void Dates(std::u16string_view text) {
  const auto when = brevis::ParseInternetDate(text);
  if (!when) return;
  const auto year = static_cast<int>(
      std::chrono::year_month_day(std::chrono::floor<std::chrono::days>(*when)).year());
  if (year < 1970 || year > 9999) return;
  const auto again = brevis::ParseInternetDate(brevis::FormatCookieDate(*when));
  Check(again && *again == *when, "the cookie form reads back as the same time");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t fold = 1 + data[0] % 100;
  const auto fields = brevis::fuzz::Fields(data + 1, size - 1, 3);
  const std::u16string a = brevis::fuzz::Units(fields[0]);
  const std::u16string b = brevis::fuzz::Units(fields[1]);
  const std::u16string c = brevis::fuzz::Units(fields[2]);
  Addresses(a, b);
  Headers(c, fold);
  Headers(a, fold);
  Cookies(c, a);
  Dates(a);
  Dates(c);
  return 0;
}
