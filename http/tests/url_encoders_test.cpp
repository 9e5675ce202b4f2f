// Percent-encoders of Uri.
#include <gtest/gtest.h>

#include "common/text.h"
#include "http/http_errors.h"
#include "http/uri.h"

namespace brevis {
namespace {

TEST(UrlEncodersTest, EncodeOutsideThePassingSet) {
  struct Case {
    const char16_t* text;
    const char* params;
    const char* path;
  };
  const Case kCases[] = {
      {u"a b", "a%20b", "a%20b"},
      {u"&=+?", "&=+?", "&=%2B?"},
      {u"*#%<>[]", "%2A%23%25%3C%3E%5B%5D", "%2A%23%25%3C%3E%5B%5D"},
      {u"\t\r\n", "%09%0D%0A", "%09%0D%0A"},
      {u"~\x7F", "~\x7F", "~\x7F"},
      {u"\u0080", "%C2%80", "%C2%80"},
      {u"\u00e9", "%C3%A9", "%C3%A9"},
      {u"\u4e2d", "%E4%B8%AD", "%E4%B8%AD"},
      {u"\U0001F600x", "%F0%9F%98%80x", "%F0%9F%98%80x"},
      {u"\xD800x", "%EF%BF%BDx", "%EF%BF%BDx"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text));
    EXPECT_EQ(Utf16ToUtf8(Uri::ParamsEncode(c.text)), c.params);
    EXPECT_EQ(Utf16ToUtf8(Uri::PathEncode(c.text)), c.path);
  }
}

TEST(UrlEncodersTest, URLEncodeEncodesEachPart) {
  EXPECT_EQ(Utf16ToUtf8(Uri::URLEncode(u"http://u:p@h:81/a b/c+d.e?x=1 2&y=+#frag")),
            "http://h:81/a%20b/c%2Bd.e?x=1%202&y=+%23frag");
  EXPECT_THROW(Uri::URLEncode(u"relative/path"), NetUriError);
}

}  // namespace
}  // namespace brevis
