// Cookie parsing, the store's acceptance and matching rules, expiry and the Cookie header.
#include "http/cookie_manager.h"

#include <gtest/gtest.h>

#include <chrono>

#include "common/http_date.h"
#include "common/text.h"

namespace brevis {
namespace {

std::string U8(const std::u16string& s) { return Utf16ToUtf8(s); }

TEST(CookieTest, ParsesNameValueAndAttributes) {
  CookieRFC2965 c;
  c.SetCookieText(
      u"  sid=a=b ; Path=\"/p\"; DOMAIN=.ex.com:81; secure; HttpOnly; Max-Age=60; Version=1;"
      u" Comment=hi; CommentURL=http://c/; Discard; Port=\"80, 8080,x\"  ");
  EXPECT_EQ(U8(c.Name), "sid");
  EXPECT_EQ(U8(c.Value), "a=b");
  EXPECT_EQ(U8(c.Path), "/p");
  EXPECT_EQ(U8(c.Domain), ".ex.com");
  EXPECT_TRUE(c.Secure);
  EXPECT_TRUE(c.HttpOnly);
  EXPECT_EQ(c.MaxAge, 60);
  EXPECT_EQ(c.Version, 1);
  EXPECT_EQ(U8(c.Comment), "hi");
  EXPECT_EQ(U8(c.CommentURL), "http://c/");
  EXPECT_TRUE(c.Discard);
  EXPECT_TRUE(c.HasPortList);
  EXPECT_EQ(c.PortList, (std::vector<std::uint16_t>{80, 8080}));
  // Max-Age gives an expiry about a minute from now, in the cookie date form.
  const auto expires = ParseInternetDate(c.Expires);
  ASSERT_TRUE(expires.has_value()) << U8(c.Expires);
  const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  EXPECT_NEAR(static_cast<double>((*expires - now).count()), 60.0, 2.0);

  CookieRFC2109 plain;
  plain.SetCookieText(u"n");
  EXPECT_EQ(U8(plain.Name), "n");
  EXPECT_EQ(U8(plain.Value), "");
  EXPECT_EQ(U8(plain.Path), "/");
  EXPECT_EQ(plain.MaxAge, -1);
  EXPECT_EQ(plain.Version, 0);
  EXPECT_EQ(U8(plain.Expires), "");
  plain.SetCookieText(u"n=1; max-age=x; version=y; expires=Wed, 09-Jun-2100 10:18:14 GMT");
  EXPECT_GT(plain.MaxAge, 0);
  EXPECT_EQ(plain.Version, 0);
  EXPECT_EQ(U8(plain.Expires), "Wed, 09-Jun-2100 10:18:14 GMT");
}

TEST(CookieManagerTest, MatchingRules) {
  struct DomainCase {
    const char16_t* host;
    const char16_t* domain;
    bool matches;
  };
  const DomainCase kDomains[] = {
      {u"example.com", u".example.com", true},
      {u"www.example.com", u".example.com", true},
      {u"WWW.Example.COM", u".example.com", true},
      {u"example.com", u"example.com", true},
      {u"www.example.com", u"example.com", false},
      {u"badexample.com", u".example.com", false},
      {u"127.0.0.1", u"127.0.0.1", true},
      {u"127.0.0.1", u".127.0.0.1", false},
      {u"1.2.3.4", u".2.3.4", false},
      {u".example.com", u".example.com", false},
      {u"intranet.local", u".intranet.local", true},
      {u"a.b", u".1.2.3.4", false},
  };
  for (const DomainCase& c : kDomains) {
    SCOPED_TRACE(U8(c.host) + " / " + U8(c.domain));
    EXPECT_EQ(CookieManager::DomainMatches(c.host, c.domain), c.matches);
  }
  EXPECT_EQ(U8(CookieManager::EffectiveHost(u"intranet")), "intranet.local");
  EXPECT_EQ(U8(CookieManager::EffectiveHost(u"a.b")), "a.b");

  CookieRFC2965 any;
  any.SetCookieText(u"a=1");
  EXPECT_TRUE(CookieManager::PortMatches(any, u"1234"));
  CookieRFC2965 recv;
  recv.RecvPort = 8080;
  recv.SetCookieText(u"a=1; Port");
  EXPECT_TRUE(CookieManager::PortMatches(recv, u"8080"));
  EXPECT_FALSE(CookieManager::PortMatches(recv, u"80"));
  CookieRFC2965 listed;
  listed.SetCookieText(u"a=1; Port=\"81,82\"");
  EXPECT_TRUE(CookieManager::PortMatches(listed, u"82"));
  EXPECT_FALSE(CookieManager::PortMatches(listed, u"80"));
  EXPECT_FALSE(CookieManager::PortMatches(listed, u"x"));  // read as 80
}

// One response's cookies stored for `address`, then the Cookie header for `request`.
struct StoreCase {
  const char* title;
  std::vector<const char16_t*> set_cookie;
  std::vector<const char16_t*> set_cookie2;
  const char16_t* address;
  const char16_t* request;
  const char* cookie;
};

TEST(CookieManagerTest, AcceptsRejectsAndSends) {
  const StoreCase kCases[] = {
      // Defaults: domain "." + host, path "/".
      {"default domain and path", {u"N=1"}, {}, u"http://h.ex/a/b.cgi", u"http://h.ex/z", "N=1"},
      {"other host", {u"N=1"}, {}, u"http://h.ex/a/b.cgi", u"http://g.ex/", ""},
      {"subdomain of the default", {u"N=1"}, {}, u"http://h.ex/", u"http://w.h.ex/", "N=1"},
      // Hosts without a dot, and numeric hosts, are refused the default domain.
      {"host without dot", {u"N=1"}, {}, u"http://intranet/", u"http://intranet/", ""},
      {"numeric host", {u"N=1"}, {}, u"http://127.0.0.1/", u"http://127.0.0.1/", ""},
      // Replacement keeps first-stored order.
      {"replace", {u"N=1", u"M=5", u"n=2"}, {}, u"http://h.ex/", u"http://h.ex/", "n=2; M=5"},
      // Path rules.
      {"path not a prefix", {u"A=1; path=/x"}, {}, u"http://h.ex/a/", u"http://h.ex/x/", ""},
      {"path prefix", {u"A=1; path=/A"}, {}, u"http://h.ex/a/b/", u"http://h.ex/a/", "A=1"},
      {"path limits sending", {u"A=1; path=/a"}, {}, u"http://h.ex/a/", u"http://h.ex/b/", ""},
      // Domain attributes.
      {"domain without dot",
       {u"A=1; domain=example"},
       {},
       u"http://x.example/",
       u"http://x.example/",
       ""},
      {"domain of parent",
       {u"A=1; domain=.ex.com"},
       {},
       u"http://h.ex.com/",
       u"http://z.ex.com/",
       "A=1"},
      {"domain two levels up",
       {u"A=1; domain=.ex.com"},
       {},
       u"http://a.b.ex.com/",
       u"http://a.b.ex.com/",
       ""},
      {"foreign domain",
       {u"A=1; domain=.other.com"},
       {},
       u"http://h.ex.com/",
       u"http://h.other.com/",
       ""},
      // Values, secure cookies, expiry.
      {"empty value kept but not sent", {u"A=; path=/"}, {}, u"http://h.ex/", u"http://h.ex/", ""},
      {"secure not sent in clear",
       {u"A=1; secure", u"B=2"},
       {},
       u"http://h.ex/",
       u"http://h.ex/",
       "B=2"},
      {"max-age 0 purged",
       {u"A=1; Max-Age=0", u"B=2"},
       {},
       u"http://h.ex/",
       u"http://h.ex/",
       "B=2"},
      {"expired date purged",
       {u"A=1; expires=Sun, 06 Nov 1994 08:49:37 GMT"},
       {},
       u"http://h.ex/",
       u"http://h.ex/",
       ""},
      {"unreadable expiry purged",
       {u"A=1; expires=someday"},
       {},
       u"http://h.ex/",
       u"http://h.ex/",
       ""},
      {"future expiry kept",
       {u"A=1; expires=Wed, 09-Jun-2100 10:18:14 GMT"},
       {},
       u"http://h.ex/",
       u"http://h.ex/",
       "A=1"},
      // Found by fuzzing: a date beyond the system clock's range once overflowed the purge.
      {"far future expiry kept",
       {u"A=1; expires=Sun, 06-Nov-2656 08:49:37 GMT"},
       {},
       u"http://h.ex/",
       u"http://h.ex/",
       "A=1"},
      // RFC 2965 cookies.
      {"cookie2 on dotless host",
       {},
       {u"N=1; Version=1"},
       u"http://intranet/",
       u"http://intranet/",
       "N=1"},
      {"cookie2 needs a version", {}, {u"N=1"}, u"http://h.ex/", u"http://h.ex/", ""},
      {"cookie2 port list",
       {},
       {u"N=1; Version=1; Port=\"81\""},
       u"http://h.ex:81/",
       u"http://h.ex:82/",
       ""},
      {"cookie2 received port",
       {},
       {u"N=1; Version=1; Port"},
       u"http://h.ex:81/",
       u"http://h.ex:81/",
       "N=1"},
      {"cookie2 domain gets a dot",
       {},
       {u"N=1; Version=1; Domain=h.ex"},
       u"http://h.ex/",
       u"http://h.ex/",
       "N=1"},
  };
  for (const StoreCase& c : kCases) {
    SCOPED_TRACE(c.title);
    CookieManager store;
    const Uri address(c.address);
    for (const char16_t* text : c.set_cookie) store.AddCookie(text, address);
    for (const char16_t* text : c.set_cookie2) store.AddCookie2(text, address);
    EXPECT_EQ(U8(store.GenerateCookieList(Uri(c.request), false)), c.cookie);
  }
}

TEST(CookieManagerTest, StoredCookiesSurviveRejectedOnesAndSecureNeedsSecureRequests) {
  CookieManager store;
  const Uri address(u"http://h.ex/a/");
  store.AddCookie(u"A=1", address);
  store.AddCookie(u"A=2; path=/x", address);  // refused: the stored A stays
  store.AddCookie(u"S=3; secure", address);
  EXPECT_EQ(U8(store.GenerateCookieList(address, false)), "A=1");
  EXPECT_EQ(U8(store.GenerateCookieList(address, true)), "A=1; S=3");
  EXPECT_EQ(store.CookieCollection().Count(), 2u);

  store.OnNewCookie = [](const NetscapeCookie& c) { return c.Name != u"B"; };
  store.AddCookie(u"B=1", address);
  store.AddCookie(u"C=1", address);
  EXPECT_EQ(U8(store.GenerateCookieList(address, false)), "A=1; C=1");
}

TEST(CookieManagerTest, StoreIsBounded) {
  CookieManager store;
  const Uri address(u"http://h.ex/");
  auto add = [&](const std::string& text, const Uri& where) {
    store.AddCookie(Utf8ToUtf16(text), where);
  };
  // "<prefix><i>=<value>"
  auto pair = [](const char* prefix, int i, const std::string& value) {
    std::string text = prefix;
    text += std::to_string(i);
    text += '=';
    text += value;
    return text;
  };
  // A domain keeps its newest 50 cookies; replacing one does not push another out.
  for (int i = 0; i < 60; ++i) add(pair("n", i, std::to_string(i)), address);
  add("n30=new", address);
  EXPECT_EQ(store.CookieCollection().Count(), Cookies::kMaxCookiesPerDomain);
  std::string expected;
  for (int i = 10; i < 60; ++i) {
    if (!expected.empty()) expected += "; ";
    expected += pair("n", i, i == 30 ? std::string("new") : std::to_string(i));
  }
  EXPECT_EQ(U8(store.GenerateCookieList(address, false)), expected);

  // The whole store keeps 3000: the oldest domains' cookies go first.
  for (int host = 0; host < 70; ++host) {
    const Uri other(Utf8ToUtf16("http://h" + std::to_string(host) + ".ex/"));
    for (int i = 0; i < 50; ++i) add(pair("c", i, "1"), other);
  }
  EXPECT_EQ(store.CookieCollection().Count(), Cookies::kMaxCookies);
  EXPECT_EQ(U8(store.GenerateCookieList(address, false)), "");
  EXPECT_EQ(U8(store.GenerateCookieList(Uri(u"http://h9.ex/"), false)), "");
  EXPECT_NE(U8(store.GenerateCookieList(Uri(u"http://h10.ex/"), false)), "");

  // A cookie longer than browsers keep is refused.
  const Uri fresh(u"http://big.ex/");
  add("big=" + std::string(CookieManager::kMaxCookieSize - 2, 'v'), fresh);
  add("ok=" + std::string(CookieManager::kMaxCookieSize - 2, 'v'), fresh);
  EXPECT_EQ(U8(store.GenerateCookieList(fresh, false)).substr(0, 3), "ok=");
}

}  // namespace
}  // namespace brevis
