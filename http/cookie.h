// Cookie classes of the cookie store: the Netscape form, RFC 2109 ("Set-cookie") and RFC 2965
// ("Set-cookie2"), each parsed from the text a response sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brevis {

class NetscapeCookie {
 public:
  virtual ~NetscapeCookie() = default;

  // Parses `text` ("name=value; attr=value; flag") unless it equals the text already held:
  // name, value and every attribute (names upper-cased) are read, then LoadCookieAttributes.
  void SetCookieText(std::u16string_view text);
  const std::u16string& CookieText() const { return cookieText_; }

  std::u16string Name;
  std::u16string Value;
  std::u16string Domain;
  std::u16string Path;
  // Expiry as text; empty for a cookie that lives as long as the store.
  std::u16string Expires;
  bool Secure = false;
  bool HttpOnly = false;

 protected:
  // The first attribute called `name` (upper case): nullptr when it did not occur.
  const std::u16string* Attribute(std::u16string_view name) const;
  // Its value, empty when it did not occur.
  std::u16string AttributeValue(std::u16string_view name) const {
    const std::u16string* value = Attribute(name);
    return value == nullptr ? std::u16string() : *value;
  }
  virtual void LoadCookieAttributes();

 private:
  std::u16string cookieText_;
  std::vector<std::pair<std::u16string, std::u16string>> attributes_;
};

class CookieRFC2109 : public NetscapeCookie {
 public:
  std::int64_t MaxAge = -1;  // seconds; -1: none
  int Version = 0;
  std::u16string Comment;

 protected:
  void LoadCookieAttributes() override;
};

class CookieRFC2965 : public CookieRFC2109 {
 public:
  std::u16string CommentURL;
  bool Discard = false;
  bool HasPortList = false;  // a "Port" attribute was given
  std::vector<std::uint16_t> PortList;
  int RecvPort = 80;  // port the cookie arrived on

 protected:
  void LoadCookieAttributes() override;
};

}  // namespace brevis
