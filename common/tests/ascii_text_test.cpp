// ascii_text: case-insensitive comparison, trimming and number reading at the limits of 64 bits.
#include "common/ascii_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "common/text.h"

namespace brevis {
namespace {

std::string U8(std::u16string_view s) { return Utf16ToUtf8(s); }

TEST(AsciiTextTest, ParsesDecimalNumbersUpToTheLimits) {
  struct Case {
    const char16_t* text;
    std::optional<std::int64_t> value;
  };
  const Case kCases[] = {
      {u"0", 0},
      {u" 42 ", 42},  // trimmed
      {u"+7", 7},
      {u"-7", -7},
      {u"007", 7},
      {u"9223372036854775807", INT64_MAX},
      {u"9223372036854775808", std::nullopt},
      {u"-9223372036854775808", INT64_MIN},
      {u"-9223372036854775809", std::nullopt},
      {u"99999999999999999999", std::nullopt},
      {u"", std::nullopt},
      {u"-", std::nullopt},
      {u"+", std::nullopt},
      {u"1 2", std::nullopt},
      {u"12a", std::nullopt},
      {u"--1", std::nullopt},
      {u"\uFF11", std::nullopt},  // a full-width digit is not a digit here
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(U8(c.text));
    EXPECT_EQ(ascii::ParseInt64(c.text), c.value);
  }
}

TEST(AsciiTextTest, ParsesHexNumbersUpTo63Bits) {
  struct Case {
    const char16_t* text;
    std::optional<std::int64_t> value;
  };
  const Case kCases[] = {
      {u"0", 0},
      {u"aF", 0xAF},
      {u"7FFFFFFFFFFFFFFF", INT64_MAX},
      {u"0007FFFFFFFFFFFFFFF", INT64_MAX},  // leading zeros do not count
      {u"8000000000000000", std::nullopt},
      {u"FFFFFFFFFFFFFFFFF", std::nullopt},
      {u"", std::nullopt},
      {u" 1", std::nullopt},  // not trimmed
      {u"-1", std::nullopt},
      {u"g", std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(U8(c.text));
    EXPECT_EQ(ascii::ParseHex64(c.text), c.value);
  }
}

TEST(AsciiTextTest, ChecksDigitsAndTrimsNarrowText) {
  struct Case {
    const char* text;
    bool digits;
  };
  const Case kCases[] = {
      {"0123456789", true}, {"", false},
      {" 1", false},        {"1a", false},
      {"-1", false},        {"1/", false},            // the neighbours of the digits
      {":", false},         {"\xEF\xBC\x91", false},  // a full-width digit
  };

  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ascii::IsDigits(std::string_view(c.text)), c.digits);
    EXPECT_EQ(ascii::IsDigits(Utf8ToUtf16(c.text)), c.digits);
  }
  EXPECT_EQ(ascii::TrimBlanks(" \t key = value\r"), "key = value");
  EXPECT_EQ(ascii::TrimBlanks(" \t\r"), "");
  EXPECT_EQ(ascii::TrimBlanks("\nx\v"), "\nx\v");  // other controls stay
  // HTTP's blanks leave a CR at either end.
  EXPECT_EQ(ascii::TrimBlanks("\r\t\"a\" \r ", ascii::kHttpBlanks), "\r\t\"a\" \r");
}

TEST(AsciiTextTest, ComparesAndTrimsAsciiOnly) {
  EXPECT_TRUE(ascii::EqualsIgnoreCase(u"Content-Length", u"content-LENGTH"));
  EXPECT_FALSE(ascii::EqualsIgnoreCase(u"\u00C4", u"\u00E4"));  // Latin-1 letters keep their case
  EXPECT_TRUE(ascii::StartsWithIgnoreCase(u"Charset=x", u"charset="));
  EXPECT_TRUE(ascii::EndsWithIgnoreCase(u"example.COM", u".com"));
  EXPECT_EQ(ascii::FindIgnoreCase(u"gzip, Identity", u"identity"), 6u);
  EXPECT_EQ(ascii::FindIgnoreCase(u"gz", u"gzip"), std::u16string_view::npos);
  EXPECT_EQ(U8(ascii::Trim(u"\t\r\n x \x01")), "x");
  EXPECT_EQ(ascii::ToAsciiBytes(u"caf\u00E9"), "caf?");
}

}  // namespace
}  // namespace brevis
