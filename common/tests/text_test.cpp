// UTF-8, UTF-16 and code point conversion: round trips and ill-formed input.
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
  for (const auto& s : samples) {
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
    EXPECT_EQ(Utf8ToUtf16(Utf32ToUtf8(Utf8ToUtf32(Utf16ToUtf8(s)))), s);
  }
  EXPECT_EQ(Utf8ToUtf32("a\U0001F600\u4E2D"), U"a\U0001F600\u4E2D");
}

TEST(TextTest, IllFormedInputBecomesReplacementCharacters) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
    std::u32string utf32;
  };
  const Case cases[] = {
      {"\xC3", u"\uFFFD", U"\uFFFD"},                  // truncated two-byte sequence
      {"\xE4\xB8", u"\uFFFD\uFFFD", U"\uFFFD\uFFFD"},  // truncated three-byte sequence
      {"\xF0\x9F\x98", u"\uFFFD\uFFFD\uFFFD", U"\uFFFD\uFFFD\uFFFD"},  // truncated at the end
      {"\xC0\xAF", u"\uFFFD\uFFFD", U"\uFFFD\uFFFD"},                  // overlong "/"
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", U"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", U"\uFFFD\uFFFD\uFFFD\uFFFD"},  // > U+10FFFF
      {"a\xFF"
       "b",
       u"a\uFFFDb", U"a\uFFFDb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(Utf8ToUtf32(c.utf8), c.utf32);
  }
  // Unpaired surrogates, read a code point at a time and written as UTF-8.
  const std::u16string lone = u"\xD800x\xDC00\xD83D\xDE00\xD83D";
  std::u32string points;
  for (std::size_t i = 0; i < lone.size();) points += NextCodePoint(lone, i);
  EXPECT_EQ(points, U"\uFFFDx\uFFFD\U0001F600\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(lone), Utf32ToUtf8(points));
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf32ToUtf8(std::u32string{0xDC00, 0x110000, U'x'}), "\xEF\xBF\xBD\xEF\xBF\xBDx");
}

TEST(TextTest, EscapeControlsKeepsTextAndEscapesWhatATerminalWouldObey) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"HTTP/1.1 404 Not Found", "HTTP/1.1 404 Not Found"},
      {"\u4E2D\u56FD \u00E9", "\u4E2D\u56FD \u00E9"},  // UTF-8 text stays
      {"HTTP/1.1 404 \x1b]0;pwned\x07\x1b[2J", "HTTP/1.1 404 \\x1b]0;pwned\\x07\\x1b[2J"},
      {std::string("a\0b\rc\n\t\x7f", 8), "a\\x00b\\x0dc\n\t\\x7f"},
      {"Socket Error # 10061\r\nConnection refused.\r",
       "Socket Error # 10061\nConnection refused.\\x0d"},
      {"\xC2\x9B"
       "1m",
       "\\u009b1m"},  // C1 control (CSI) in UTF-8
      {"\x9B"
       "1m\xFF\xC3",
       "\\x9b1m\\xff\\xc3"},  // bytes that are not UTF-8
      {"back\\slash", "back\\slash"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(EscapeControls(c.in), c.out);
  }
}

}  // namespace
}  // namespace brevis
