// CookieManager: domain and path defaults, rejection and matching rules, expiry and the
// Cookie header.
#include "http/cookie_manager.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "common/ascii_text.h"
#include "common/http_date.h"

namespace brevis {

namespace {

std::u16string Dotted(std::u16string_view domain) {
  std::u16string out(u".");
  out += domain;
  return out;
}

// Four dot-separated decimal numbers 0 to 255.
bool IsDottedQuad(std::u16string_view s) {
  int parts = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = s.find(u'.', start);
    const std::u16string_view part = s.substr(start, dot - start);
    if (part.size() > 3 || !ascii::IsDigits(part)) return false;
    int value = 0;
    for (char16_t c : part) value = value * 10 + (c - u'0');
    if (value > 255 || ++parts > 4) return false;
    if (dot == std::u16string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

bool IsHostName(std::u16string_view s) { return !s.empty() && s[0] != u'.' && !IsDottedQuad(s); }

int PortNumber(std::u16string_view port) {
  const auto value = ascii::ParseInt64(port);
  return value && *value >= 0 && *value <= 65535 ? static_cast<int>(*value) : 80;
}

}  // namespace

Cookies::CookieDomainList& Cookies::LockCookieListByDomain(CookieAccess access) {
  if (access == caRead) {
    lock_.lock_shared();
  } else {
    lock_.lock();
  }
  return cookieListByDomain_;
}

void Cookies::UnlockCookieListByDomain(CookieAccess access) {
  if (access == caRead) {
    lock_.unlock_shared();
  } else {
    lock_.unlock();
  }
}

void Cookies::AddCookie(std::unique_ptr<NetscapeCookie> cookie) {
  std::unique_lock guard(lock_);
  const std::u16string key = ascii::ToLower(cookie->Domain);
  auto found = domainIndex_.find(key);
  if (found == domainIndex_.end()) {
    cookieListByDomain_.push_back({cookie->Domain, {}});
    found = domainIndex_.emplace(key, cookieListByDomain_.size() - 1).first;
  }
  std::vector<Entry>& cookies = cookieListByDomain_[found->second].cookies;
  for (Entry& entry : cookies) {
    if (ascii::EqualsIgnoreCase(entry.name, cookie->Name)) {
      entry.cookie = std::move(cookie);
      return;
    }
  }
  if (cookies.size() >= kMaxCookiesPerDomain) {
    cookies.erase(cookies.begin());
    --count_;
  } else if (count_ >= kMaxCookies) {
    // The first domain is the oldest in use; its first cookie the oldest stored there.
    auto oldest = std::find_if(cookieListByDomain_.begin(), cookieListByDomain_.end(),
                               [](const DomainEntry& d) { return !d.cookies.empty(); });
    oldest->cookies.erase(oldest->cookies.begin());
    --count_;
  }
  cookies.push_back({cookie->Name, std::move(cookie)});
  ++count_;
  if (cookieListByDomain_.front().cookies.empty()) RemoveEmptyDomains();
}

void Cookies::RemoveIf(const std::function<bool(const NetscapeCookie&)>& expired) {
  std::unique_lock guard(lock_);
  bool emptied = false;
  for (DomainEntry& d : cookieListByDomain_) {
    const std::size_t before = d.cookies.size();
    std::erase_if(d.cookies, [&](const Entry& e) { return expired(*e.cookie); });
    count_ -= before - d.cookies.size();
    emptied = emptied || d.cookies.empty();
  }
  if (emptied) RemoveEmptyDomains();
}

void Cookies::RemoveEmptyDomains() {
  std::erase_if(cookieListByDomain_, [](const DomainEntry& d) { return d.cookies.empty(); });
  domainIndex_.clear();
  for (std::size_t i = 0; i < cookieListByDomain_.size(); ++i) {
    domainIndex_.emplace(ascii::ToLower(cookieListByDomain_[i].domain), i);
  }
}

std::size_t Cookies::Count() {
  std::shared_lock guard(lock_);
  return count_;
}

std::u16string CookieManager::EffectiveHost(std::u16string_view host) {
  std::u16string out(host);
  if (out.find(u'.') == std::u16string::npos) out += u".local";
  return out;
}

bool CookieManager::DomainMatches(std::u16string_view host, std::u16string_view domain) {
  if (IsDottedQuad(host)) return ascii::EqualsIgnoreCase(host, domain);
  if (!IsHostName(host)) return false;
  if (!domain.empty() && domain[0] == u'.') {
    const std::u16string_view bare = domain.substr(1);
    if (ascii::EndsWithIgnoreCase(host, domain)) {
      return IsHostName(bare) && host.size() > domain.size();
    }
    return ascii::EqualsIgnoreCase(host, bare);
  }
  return ascii::EqualsIgnoreCase(host, domain);
}

bool CookieManager::PortMatches(const CookieRFC2965& cookie, std::u16string_view port) {
  if (!cookie.HasPortList) return true;
  const int number = PortNumber(port);
  if (cookie.PortList.empty()) return number == cookie.RecvPort;
  return std::find(cookie.PortList.begin(), cookie.PortList.end(), number) != cookie.PortList.end();
}

bool CookieManager::IsCookieRejected(const NetscapeCookie& cookie, const Uri& address) {
  if (!ascii::StartsWithIgnoreCase(address.Path, cookie.Path)) return true;
  const std::u16string_view domain = cookie.Domain;
  const auto* rfc2965 = dynamic_cast<const CookieRFC2965*>(&cookie);
  if (rfc2965 != nullptr) {
    const std::u16string_view bare =
        !domain.empty() && domain[0] == u'.' ? domain.substr(1) : domain;
    if (rfc2965->Version <= 0) return true;
    if (bare.find(u'.') == std::u16string_view::npos &&
        !ascii::EqualsIgnoreCase(domain, u".local")) {
      return true;
    }
    if (!DomainMatches(EffectiveHost(address.Host), domain)) return true;
  } else {
    if (domain.empty() || domain[0] != u'.') return true;
    if (domain.substr(1).find(u'.') == std::u16string_view::npos) return true;
    if (!DomainMatches(address.Host, domain)) return true;
  }
  // A host "a.b.example.com" may not set a cookie for ".example.com".
  const std::u16string_view host = address.Host;
  if (IsHostName(host) && ascii::EndsWithIgnoreCase(host, domain)) {
    const std::u16string_view front = host.substr(0, host.size() - domain.size());
    if (front.find(u'.') != std::u16string_view::npos) return true;
  }
  if (rfc2965 != nullptr && !PortMatches(*rfc2965, address.Port)) return true;
  return false;
}

void CookieManager::Store(std::unique_ptr<NetscapeCookie> cookie, const Uri& address) {
  if (cookie->Path.empty()) {
    std::u16string path = address.Path;
    if (!path.empty() && path.back() == u'/') path.pop_back();
    cookie->Path = path;
  }
  if (cookie->Name.size() + cookie->Value.size() > kMaxCookieSize) return;
  if (IsCookieRejected(*cookie, address)) return;
  if (OnNewCookie && !OnNewCookie(*cookie)) return;
  cookieCollection_.AddCookie(std::move(cookie));
}

void CookieManager::AddCookie(std::u16string_view cookie_text, const Uri& address) {
  auto cookie = std::make_unique<CookieRFC2109>();
  cookie->SetCookieText(cookie_text);
  if (cookie->Domain.empty()) cookie->Domain = Dotted(address.Host);
  Store(std::move(cookie), address);
}

void CookieManager::AddCookie2(std::u16string_view cookie_text, const Uri& address) {
  auto cookie = std::make_unique<CookieRFC2965>();
  cookie->RecvPort = PortNumber(address.Port);
  cookie->SetCookieText(cookie_text);
  if (cookie->Domain.empty()) {
    cookie->Domain = Dotted(EffectiveHost(address.Host));
  } else if (cookie->Domain[0] != u'.') {
    cookie->Domain = Dotted(cookie->Domain);
  }
  Store(std::move(cookie), address);
}

void CookieManager::PurgeExpiredCookies() {
  // In whole seconds, as dates are read: a date centuries ahead does not fit the clock's own
  // unit, and comparing in it would overflow.
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  cookieCollection_.RemoveIf([now](const NetscapeCookie& cookie) {
    if (cookie.Expires.empty()) return false;
    // A text that does not read as a date counts as the earliest date: expired. A cookie whose
    // date is this second has expired, as one given Max-Age=0 has.
    const auto when = ParseInternetDate(cookie.Expires);
    return !when || now >= *when;
  });
}

std::u16string CookieManager::GenerateCookieList(const Uri& address, bool secure_connection) {
  PurgeExpiredCookies();
  const std::u16string host = EffectiveHost(address.Host);
  std::vector<const NetscapeCookie*> taken;
  auto& domains = cookieCollection_.LockCookieListByDomain(caRead);
  for (const Cookies::DomainEntry& d : domains) {
    if (!DomainMatches(host, d.domain)) continue;
    for (auto e = d.cookies.rbegin(); e != d.cookies.rend(); ++e) {
      const NetscapeCookie& cookie = *e->cookie;
      const auto* rfc2965 = dynamic_cast<const CookieRFC2965*>(&cookie);
      if ((rfc2965 == nullptr || PortMatches(*rfc2965, address.Port)) &&
          ascii::StartsWithIgnoreCase(address.Path, cookie.Path) &&
          (!cookie.Secure || secure_connection) && !cookie.Value.empty()) {
        taken.push_back(&cookie);
      }
    }
  }
  std::u16string list;
  for (auto it = taken.rbegin(); it != taken.rend(); ++it) {
    if (!list.empty()) list += u"; ";
    list += (*it)->Name + u"=" + (*it)->Value;
  }
  cookieCollection_.UnlockCookieListByDomain(caRead);
  return list;
}

}  // namespace brevis
