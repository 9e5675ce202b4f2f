// http_date: every form the client and the mirror read, in UTF-16 and narrow text alike, and the
// two forms written.
#include "common/http_date.h"

#include <gtest/gtest.h>

#include <optional>

#include "common/text.h"

namespace brevis {
namespace {

using namespace std::chrono;

constexpr SysSeconds kRef = sys_days{year{1994} / November / 6} + hours{8} + minutes{49} + 37s;

TEST(HttpDateTest, ReadsTheCommonForms) {
  struct Case {
    const char* text;
    std::optional<SysSeconds> time;
  };
  const Case kCases[] = {
      // The preferred form, the obsolete ones and the cookie form.
      {"Sun, 06 Nov 1994 08:49:37 GMT", kRef},
      {"Sunday, 06-Nov-94 08:49:37 GMT", kRef},
      {"Sun Nov  6 08:49:37 1994", kRef},
      {"Sun, 06-Nov-1994 08:49:37 GMT", kRef},
      // Zones, blanks around the words, names in any case.
      {"Sun, 06 Nov 1994 09:49:37 +0100", kRef},
      {"Sun, 06 Nov 1994 08:49:37 UTC", kRef},
      {" \tSun, 06 Nov 1994 08:49:37 GMT\t ", kRef},
      {"sun, 06 NOV 1994 08:49:37 gmt", kRef},
      {"Sun, 06 Nov 1994 08:49 GMT", kRef - 37s},
      {"Thu, 01 Jan 70 00:00:05 GMT", SysSeconds{} + 5s},
      {"Tue, 14 Nov 2023 22:13:20 GMT", SysSeconds{1700000000s}},
      // Not dates.
      {"", std::nullopt},
      {"soon", std::nullopt},
      {"06 Nov 1994", std::nullopt},
      {"Sun, 32 Nov 1994 08:49:37 GMT", std::nullopt},
      {"Tue, 31 Feb 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nox 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Foo 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 25:00:00", std::nullopt},
      {"S.n, 06 Nov 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:37 GMT\xC3\xA9", std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseInternetDate(std::string_view(c.text)), c.time);
    EXPECT_EQ(ParseInternetDate(std::u16string_view(Utf8ToUtf16(c.text))), c.time);
  }
}

TEST(HttpDateTest, WritesTheCookieFormAndThePreferredForm) {
  EXPECT_EQ(Utf16ToUtf8(FormatCookieDate(kRef)), "Sun, 06-Nov-1994 08:49:37 GMT");
  EXPECT_EQ(Utf16ToUtf8(FormatCookieDate(SysSeconds{} + 5s)), "Thu, 01-Jan-1970 00:00:05 GMT");
  EXPECT_EQ(FormatHttpDate(kRef), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(FormatHttpDate(SysSeconds{} + 5s), "Thu, 01 Jan 1970 00:00:05 GMT");
  for (const SysSeconds time : {kRef, SysSeconds{1700000000s}}) {
    EXPECT_EQ(ParseInternetDate(FormatHttpDate(time)), time);
    EXPECT_EQ(ParseInternetDate(FormatCookieDate(time)), time);
  }
}

}  // namespace
}  // namespace brevis
