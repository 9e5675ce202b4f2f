// UTF-8 and UTF-16 conversion: round trips and ill-formed input.
#include "common/text.h"

#include <gtest/gtest.h>

namespace brevis {
namespace {

TEST(TextTest, RoundTripsEveryPlane) {
  using namespace std::string_literals;
  // The last sample holds a NUL inside: a string literal, not a pointer, keeps what follows it.
  const std::u16string samples[] = {u"", u"200710038426", u"\u4E2D\u56FD\u4E13\u5229",
                                    u"a\U0001F600b", u"\u00E9\t\u0000x"s};
  EXPECT_EQ(samples[4].size(), 4u);
  for (const auto& s : samples) EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
}

TEST(TextTest, IllFormedInputBecomesReplacementCharacters) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"\xC3", u"\uFFFD"},                      // truncated two-byte sequence
      {"\xE4\xB8", u"\uFFFD\uFFFD"},            // truncated three-byte sequence
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong "/"
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"a\xFF"
       "b",
       u"a\uFFFDb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
  }
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

}  // namespace
}  // namespace brevis
