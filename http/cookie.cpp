// Parsing of cookie texts and their attributes.
#include "http/cookie.h"

#include <chrono>

#include "common/ascii_text.h"
#include "common/http_date.h"

namespace brevis {

namespace {

// Splits "name=value" at the first "="; without "=" the whole text is the name.
std::pair<std::u16string, std::u16string> SplitPair(std::u16string_view item) {
  const std::size_t eq = item.find(u'=');
  if (eq == std::u16string_view::npos) return {std::u16string(item), std::u16string()};
  return {std::u16string(item.substr(0, eq)), std::u16string(item.substr(eq + 1))};
}

std::int64_t SecondsUntil(SysSeconds when) {
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  return (when - now).count();
}

}  // namespace

void NetscapeCookie::SetCookieText(std::u16string_view text) {
  if (text == cookieText_) return;
  cookieText_ = std::u16string(text);
  attributes_.clear();

  std::u16string_view rest = ascii::Trim(text);
  bool first = true;
  while (!rest.empty()) {
    const std::size_t semi = rest.find(u';');
    const std::u16string_view item = ascii::Trim(rest.substr(0, semi));
    rest = semi == std::u16string_view::npos ? std::u16string_view()
                                             : ascii::Trim(rest.substr(semi + 1));
    auto [name, value] = SplitPair(item);
    if (first) {
      Name = std::move(name);
      Value = std::move(value);
      first = false;
    } else if (!item.empty()) {
      attributes_.emplace_back(ascii::ToUpper(name), std::move(value));
    }
  }
  LoadCookieAttributes();
}

const std::u16string* NetscapeCookie::Attribute(std::u16string_view name) const {
  for (const auto& [key, value] : attributes_) {
    if (key == name) return &value;
  }
  return nullptr;
}

void NetscapeCookie::LoadCookieAttributes() {
  const std::u16string* raw_path = Attribute(u"PATH");
  std::u16string_view path = raw_path == nullptr ? std::u16string_view() : *raw_path;
  if (!path.empty() && path.front() == u'"') path.remove_prefix(1);
  if (!path.empty() && path.back() == u'"') path.remove_suffix(1);
  Path = path.empty() ? std::u16string(u"/") : std::u16string(path);
  Expires = AttributeValue(u"EXPIRES");
  const std::u16string domain = AttributeValue(u"DOMAIN");
  Domain = domain.substr(0, domain.find(u':'));
  Secure = Attribute(u"SECURE") != nullptr;
  HttpOnly = Attribute(u"HTTPONLY") != nullptr;
}

void CookieRFC2109::LoadCookieAttributes() {
  NetscapeCookie::LoadCookieAttributes();
  MaxAge = -1;
  if (!Expires.empty()) {
    if (const auto when = ParseInternetDate(Expires)) MaxAge = SecondsUntil(*when);
  }
  // An explicit Max-Age takes precedence over the age derived from Expires.
  if (const auto max_age = ascii::ParseInt64(AttributeValue(u"MAX-AGE"))) MaxAge = *max_age;
  const auto version = ascii::ParseInt64(AttributeValue(u"VERSION"));
  Version =
      version && *version >= INT32_MIN && *version <= INT32_MAX ? static_cast<int>(*version) : 0;
  Comment = AttributeValue(u"COMMENT");
  if (Expires.empty() && MaxAge >= 0) {
    const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    // Ages beyond a century are clamped so that the date stays representable.
    constexpr std::int64_t kCentury = 100LL * 366 * 24 * 3600;
    Expires = FormatCookieDate(now + std::chrono::seconds{std::min(MaxAge, kCentury)});
  }
}

void CookieRFC2965::LoadCookieAttributes() {
  CookieRFC2109::LoadCookieAttributes();
  CommentURL = AttributeValue(u"COMMENTURL");
  Discard = Attribute(u"DISCARD") != nullptr;
  const std::u16string port_value = AttributeValue(u"PORT");
  const bool has_port = Attribute(u"PORT") != nullptr;
  HasPortList = has_port;
  PortList.clear();
  if (has_port && port_value.size() >= 2 && port_value.front() == u'"' &&
      port_value.back() == u'"') {
    std::u16string_view list = std::u16string_view(port_value).substr(1, port_value.size() - 2);
    while (!list.empty()) {
      const std::size_t comma = list.find(u',');
      const auto port = ascii::ParseInt64(list.substr(0, comma));
      if (port && *port >= 0 && *port <= 65535) {
        PortList.push_back(static_cast<std::uint16_t>(*port));
      }
      list = comma == std::u16string_view::npos ? std::u16string_view() : list.substr(comma + 1);
    }
  }
}

}  // namespace brevis
