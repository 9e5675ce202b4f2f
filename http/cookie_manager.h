// CookieManager: the per-client cookie store. Takes the cookies responses set ("Set-cookie",
// "Set-cookie2"), keeps them in memory and supplies the "Cookie" header of later requests.
#pragma once

#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "http/cookie.h"
#include "http/uri.h"

namespace brevis {

enum CookieAccess { caRead, caReadWrite };

// The cookies of one store, indexed by domain (in order of first use) and, per domain, by name
// (in order of first use). Domains and names compare case-insensitively. Every access to the
// index goes through LockCookieListByDomain. The store is bounded as browsers bound theirs: a
// new cookie beyond kMaxCookiesPerDomain or kMaxCookies pushes out the oldest one of its domain,
// or of the oldest domain.
class Cookies {
 public:
  static constexpr std::size_t kMaxCookiesPerDomain = 50;
  static constexpr std::size_t kMaxCookies = 3000;

  struct Entry {
    std::u16string name;
    std::unique_ptr<NetscapeCookie> cookie;
  };
  struct DomainEntry {
    std::u16string domain;
    std::vector<Entry> cookies;
  };
  using CookieDomainList = std::vector<DomainEntry>;

  // Shared lock for caRead, exclusive for caReadWrite; released by UnlockCookieListByDomain.
  CookieDomainList& LockCookieListByDomain(CookieAccess access);
  void UnlockCookieListByDomain(CookieAccess access);

  // Under the write lock: replaces a cookie of the same domain and name in place, else appends
  // (evicting as above). Looks only at the cookie's own domain.
  void AddCookie(std::unique_ptr<NetscapeCookie> cookie);
  // Under the write lock: removes every cookie for which `expired` holds.
  void RemoveIf(const std::function<bool(const NetscapeCookie&)>& expired);
  std::size_t Count();

 private:
  // Drops the domain entries left empty and renumbers the index.
  void RemoveEmptyDomains();

  std::shared_mutex lock_;
  CookieDomainList cookieListByDomain_;
  // Lower-case domain -> its position in cookieListByDomain_.
  std::unordered_map<std::u16string, std::size_t> domainIndex_;
  std::size_t count_ = 0;
};

class CookieManager {
 public:
  // Longest name plus value a cookie may have; longer ones are refused, as browsers do.
  static constexpr std::size_t kMaxCookieSize = 4096;

  // Asked for each acceptable new cookie; false drops it. Unset: every cookie is taken.
  std::function<bool(const NetscapeCookie&)> OnNewCookie;

  // Parse a "Set-cookie" (RFC 2109 class) or "Set-cookie2" (RFC 2965 class) value received for
  // `address` and store it unless it is rejected.
  void AddCookie(std::u16string_view cookie_text, const Uri& address);
  void AddCookie2(std::u16string_view cookie_text, const Uri& address);

  // The "Cookie" header value for a request to `address` ("name=value; ..."), after removing
  // expired cookies; empty when no cookie applies.
  std::u16string GenerateCookieList(const Uri& address, bool secure_connection);

  Cookies& CookieCollection() { return cookieCollection_; }

  // Matching rules, exposed for tests.
  static std::u16string EffectiveHost(std::u16string_view host);
  static bool DomainMatches(std::u16string_view host, std::u16string_view domain);
  static bool PortMatches(const CookieRFC2965& cookie, std::u16string_view port);
  static bool IsCookieRejected(const NetscapeCookie& cookie, const Uri& address);

  void PurgeExpiredCookies();

 private:
  void Store(std::unique_ptr<NetscapeCookie> cookie, const Uri& address);

  Cookies cookieCollection_;
};

}  // namespace brevis
