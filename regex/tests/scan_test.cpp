// Fast searches checked against a plain loop on many lengths and alignments.
#include "regex/scan.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "regex/tests/test_util.h"

namespace brevis {
namespace {

const char16_t* NaiveFind(const char16_t* b, const char16_t* e, const char16_t* lit, size_t len) {
  for (const char16_t* p = b; p + len <= e; ++p) {
    if (std::u16string_view(p, len) == std::u16string_view(lit, len)) return p;
  }
  return nullptr;
}

TEST(ScanTest, AgreesWithPlainSearch) {
  test::TestRandom random(12345);
  auto next = [&](uint32_t n) { return random.Next(n); };
  const std::u16string alphabet = u"aab'\u0100\u0161";
  for (int round = 0; round < 3000; ++round) {
    std::u16string text(next(70), u' ');
    for (char16_t& c : text) c = alphabet[next(static_cast<uint32_t>(alphabet.size()))];
    std::u16string lit(1 + next(4), u' ');
    for (char16_t& c : lit) c = alphabet[next(static_cast<uint32_t>(alphabet.size()))];
    const size_t skip = text.empty() ? 0 : next(static_cast<uint32_t>(text.size()));
    const char16_t* b = text.data() + skip;
    const char16_t* e = text.data() + text.size();
    SCOPED_TRACE(round);
    EXPECT_EQ(FindLiteral(b, e, lit.data(), lit.size()), NaiveFind(b, e, lit.data(), lit.size()));
    EXPECT_EQ(FindUnit(b, e, lit[0]), NaiveFind(b, e, lit.data(), 1));
  }
}

TEST(ScanTest, EmptyLiteralReadsNothing) {
  // Exact-size heap copies, so that a read past either end is caught by the sanitizer build.
  for (size_t n = 0; n <= 40; ++n) {
    SCOPED_TRACE(n);
    const auto text = std::make_unique<char16_t[]>(n + 1);
    for (size_t i = 0; i < n; ++i) text[i] = u'a';
    const auto lit = std::make_unique<char16_t[]>(1);
    lit[0] = u'a';
    EXPECT_EQ(FindLiteral(text.get(), text.get() + n, lit.get(), 0), text.get());
    EXPECT_EQ(FindLiteral(text.get() + n, text.get() + n, lit.get(), 0), text.get() + n);
  }
}

TEST(ScanTest, SkipDigitsAgreesWithPlainLoop) {
  test::TestRandom random(777);
  auto next = [&](uint32_t n) { return random.Next(n); };
  // Mostly digits, with the units next to "0" and "9" and digits of other scripts, which are
  // not digits here.
  const std::u16string others = u"/: \u0660\uff10\u8030\u0039\u0130";
  for (int round = 0; round < 3000; ++round) {
    std::u16string text(next(40), u' ');
    for (char16_t& c : text) {
      c = next(8) == 0 ? others[next(static_cast<uint32_t>(others.size()))]
                       : static_cast<char16_t>(u'0' + next(10));
    }
    const size_t skip = text.empty() ? 0 : next(static_cast<uint32_t>(text.size()));
    const char16_t* b = text.data() + skip;
    const char16_t* e = text.data() + text.size();
    const char16_t* expected = b;
    while (expected < e && *expected >= u'0' && *expected <= u'9') ++expected;
    SCOPED_TRACE(round);
    EXPECT_EQ(SkipDigits(b, e), expected);
  }
}

}  // namespace
}  // namespace brevis
