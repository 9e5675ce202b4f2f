// Uri splitting and rebuilding, and MergePath.
#include "http/uri.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "http/http_errors.h"

namespace brevis {
namespace {

std::string U8(const std::u16string& s) { return Utf16ToUtf8(s); }

struct SplitCase {
  const char16_t* text;
  const char* protocol;
  const char* username;
  const char* password;
  const char* host;
  const char* port;
  const char* path;
  const char* document;
  const char* params;
  const char* bookmark;
  IPVersion ip = ivIPv4;
};

TEST(UriTest, SplitsAddresses) {
  const SplitCase kCases[] = {
      // Absolute addresses.
      {u"http://host/a/b/c.tif", "http", "", "", "host", "", "/a/b/", "c.tif", "", ""},
      {u"http://host:8080/x?p=1&q=2", "http", "", "", "host", "8080", "/", "x", "p=1&q=2", ""},
      {u"http://host", "http", "", "", "host", "", "/", "", "", ""},
      {u"http://host/", "http", "", "", "host", "", "/", "", "", ""},
      {u"http://host/d#frag", "http", "", "", "host", "", "/", "d", "", "frag"},
      {u"http://host/cgi-bin/x.cgi?s=123", "http", "", "", "host", "", "/cgi-bin/", "x.cgi",
       "s=123", ""},
      // User information; a "#" inside the parameters stays there.
      {u"http://user@host:81/p/q.cgi?a=1#x", "http", "user", "", "host", "81", "/p/", "q.cgi",
       "a=1#x", ""},
      {u"http://user:pw@host/", "http", "user", "pw", "host", "", "/", "", "", ""},
      {u"http://:pw@host/", "http", "", "", "host", "", "/", "", "", ""},
      {u"ftp://a:b:c@h/", "ftp", "a", "b:c", "h", "", "/", "", "", ""},
      // IPv6 literals.
      {u"http://[::1]:8080/", "http", "", "", "::1", "8080", "/", "", "", "", ivIPv6},
      {u"http://[fe80::1]/i", "http", "", "", "fe80::1", "", "/", "i", "", "", ivIPv6},
      // Backslashes and relative addresses.
      {u"http:\\\\host\\a\\b.txt", "http", "", "", "host", "", "/a/", "b.txt", "", ""},
      {u"a\\b\\c.txt", "", "", "", "", "", "a/b/", "c.txt", "", ""},
      {u"/x/y.cgi?z", "", "", "", "", "", "/x/", "y.cgi", "z", ""},
      {u"doc", "", "", "", "", "", "", "doc", "", ""},
      {u"", "", "", "", "", "", "", "", "", ""},
  };
  for (const SplitCase& c : kCases) {
    SCOPED_TRACE(U8(c.text));
    const Uri uri(c.text);
    EXPECT_EQ(U8(uri.Protocol), c.protocol);
    EXPECT_EQ(U8(uri.Username), c.username);
    EXPECT_EQ(U8(uri.Password), c.password);
    EXPECT_EQ(U8(uri.Host), c.host);
    EXPECT_EQ(U8(uri.Port), c.port);
    EXPECT_EQ(U8(uri.Path), c.path);
    EXPECT_EQ(U8(uri.Document), c.document);
    EXPECT_EQ(U8(uri.Params), c.params);
    EXPECT_EQ(U8(uri.Bookmark), c.bookmark);
    EXPECT_EQ(uri.IPVersion, c.ip);
  }
}

TEST(UriTest, SettingAgainClearsEveryPart) {
  Uri uri(u"http://u:p@[::1]:81/a/b?c#d");
  uri.SetURI(u"x");
  EXPECT_EQ(uri.GetPathAndParams(), u"x");
  EXPECT_TRUE(uri.Host.empty() && uri.Port.empty() && uri.Username.empty() &&
              uri.Password.empty() && uri.Params.empty() && uri.Protocol.empty());
  EXPECT_EQ(uri.IPVersion, ivIPv4);
}

TEST(UriTest, RebuildsAddresses) {
  struct Case {
    const char16_t* text;
    unsigned fields;
    const char* full;
  };
  const Case kCases[] = {
      {u"http://host:80/a", ofAuthInfo | ofBookmark, "http://host/a"},
      {u"HTTP://host:80/a", 0, "HTTP://host/a"},
      {u"http://host:080/a", 0, "http://host:080/a"},
      {u"https://host:443/", 0, "https://host/"},
      {u"https://host:80/", 0, "https://host:80/"},
      {u"ftp://host:21/f", 0, "ftp://host/f"},
      {u"gopher://host:70/", 0, "gopher://host:70/"},
      {u"http://u:p@h/d?q#b", ofAuthInfo | ofBookmark, "http://u:p@h/d?q#b"},
      {u"http://u:p@h/d#b", ofAuthInfo | ofBookmark, "http://u:p@h/d#b"},
      {u"http://u:p@h/d#b", 0, "http://h/d"},
      {u"http://u@h/d#b", ofAuthInfo, "http://u@h/d"},
      {u"http://u@h/d#b", ofBookmark, "http://h/d#b"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(U8(c.text));
    EXPECT_EQ(U8(Uri(c.text).GetFullURI(c.fields)), c.full);
  }
  EXPECT_EQ(U8(Uri(u"http://u:p@h:8/d?q#b").URI()), "http://h:8/d?q#b");
  EXPECT_EQ(U8(Uri(u"http://u:p@h:8/d#b").URI()), "http://h:8/d");
}

TEST(UriTest, RebuildingNeedsProtocolAndHost) {
  Uri relative(u"/a/b");
  try {
    relative.GetFullURI();
    FAIL() << "no exception";
  } catch (const NetUriError& e) {
    EXPECT_STREQ(e.what(), "Protocol field is empty");
  }
  Uri no_host(u"http:///a");
  try {
    no_host.URI();
    FAIL() << "no exception";
  } catch (const NetUriError& e) {
    EXPECT_STREQ(e.what(), "Host field is empty");
  }
}

TEST(MergePathTest, ResolvesAgainstBase) {
  struct Case {
    const char16_t* base;
    const char16_t* path;
    const char* merged;
  };
  const Case kCases[] = {
      {u"/a/b/", u"../c", "/a/c"},
      {u"/a/b", u"c/", "/a/b/c/"},
      {u"/a//b/", u"x", "/a/b/x"},
      {u"/x/", u"/y", "/y"},
      {u"/x/", u"/", "/"},
      {u"/", u"", "/"},
      {u"/a/b/", u"", "/a/b/"},
      {u"/a/b/", u"./c", "/a/b/./c"},
      {u"/a/b/", u"../../../c", "/c"},
      {u"", u"a/b", "a/b"},
      {u"/a/", u"b/../c/", "/a/c/"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(U8(c.base) + " + " + U8(c.path));
    EXPECT_EQ(U8(MergePath(c.base, c.path)), c.merged);
  }
  EXPECT_EQ(U8(MergePath(u"a\\b", u"..\\c", u"\\")), "a\\c");
}

}  // namespace
}  // namespace brevis
