// CookieManager: the per-client cookie store. Takes the cookies responses set ("Set-cookie",
// "Set-cookie2"), keeps them in memory and supplies the "Cookie" header of later requests.
#pragma once

#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "http/cookie.h"
#include "http/uri.h"

namespace brevis {

enum CookieAccess { caRead, caReadWrite };

// The cookies of one store, indexed by domain (in order of first use) and, per domain, by name
// (in order of first use). Domains and names compare case-insensitively. Every access to the
// index goes through LockCookieListByDomain.
class Cookies {
 public:
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

  // Under the write lock: replaces a cookie of the same domain and name in place, else appends.
  void AddCookie(std::unique_ptr<NetscapeCookie> cookie);
  std::size_t Count();

 private:
  std::shared_mutex lock_;
  CookieDomainList cookieListByDomain_;
};

class CookieManager {
 public:
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
