// HeaderList lookup, folding and unfolding.
#include "http/header_list.h"

#include <gtest/gtest.h>

#include <limits>

#include "common/text.h"

namespace brevis {
namespace {

HeaderList Make(std::initializer_list<const char16_t*> lines, std::size_t fold = 78) {
  HeaderList list(fold);
  for (const char16_t* line : lines) list.Add(line);
  return list;
}

std::string U8(const std::u16string& s) { return Utf16ToUtf8(s); }

TEST(HeaderListTest, ReadsValues) {
  const HeaderList list = Make({u"Content-Length: 10", u"X: a", u" b", u"\tc ", u"Host : x",
                                u"Empty:", u"NoColon", u"Set-Cookie: a=1", u"set-cookie:b=2"});
  struct Case {
    const char16_t* name;
    const char* value;
  };
  const Case kCases[] = {
      {u"content-length", "10"}, {u"X", "a b c"},        {u"Host", ""},
      {u"Host ", "x"},           {u"Empty", ""},         {u"NoColon", ""},
      {u"Missing", ""},          {u"SET-COOKIE", "a=1"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(U8(c.name));
    EXPECT_EQ(U8(list.Values(c.name)), c.value);
  }
  EXPECT_EQ(list.IndexOfName(u"x"), 1);
  EXPECT_EQ(list.IndexOfName(u"host"), -1);
  EXPECT_EQ(U8(list.NameFromLine(4)), "Host ");
  EXPECT_EQ(U8(list.NameFromLine(6)), "");
  EXPECT_EQ(U8(list.ValueFromLine(99)), "");

  std::vector<std::u16string> cookies;
  list.Extract(u"Set-cookie", cookies);
  ASSERT_EQ(cookies.size(), 2u);
  EXPECT_EQ(U8(cookies[0]), "a=1");
  EXPECT_EQ(U8(cookies[1]), "b=2");

  HeaderList raw = list;
  raw.UnfoldLines = false;
  EXPECT_EQ(U8(raw.Values(u"X")), "a");
}

TEST(HeaderListTest, SetsReplacesAndRemoves) {
  HeaderList list = Make({u"A: 1", u"B: 2", u" more", u"C: 3"});
  list.SetValues(u"b", u"two");
  list.SetValues(u"D", u"4");
  list.SetValues(u"A", u"");
  list.SetValues(u"Missing", u"");
  list.AddValue(u"C", u"33");
  list.AddValue(u"", u"x");
  list.AddValue(u"E", u"");
  const std::vector<std::u16string> expected = {u"b: two", u"C: 3", u"D: 4", u"C: 33"};
  EXPECT_EQ(list.Lines(), expected);

  HeaderList folded = Make({u"A: 1", u" more", u"B: 2"});
  folded.SetValues(u"A", u"");
  EXPECT_EQ(folded.Lines(), std::vector<std::u16string>{u"B: 2"});

  HeaderList plain = Make({u"A: 1", u" more"});
  plain.FoldLines = false;
  plain.SetValues(u"A", u"x");
  EXPECT_EQ(plain.Lines(), (std::vector<std::u16string>{u"A: x", u" more"}));
}

TEST(HeaderListTest, FoldsLongValuesAndUnfoldsThemBack) {
  std::u16string value;
  for (int i = 0; i < 100; ++i) {
    value += u"word" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + u" ";
  }
  value += u"end";  // 603 characters
  for (std::size_t fold : {std::size_t{78}, std::size_t{100}}) {
    SCOPED_TRACE(fold);
    HeaderList list(fold);
    list.SetValues(u"X-Long", value);
    ASSERT_GE(list.Count(), 2u);
    for (std::size_t i = 0; i < list.Count(); ++i) {
      EXPECT_LE(list[i].size(), fold);
      if (i > 0) {
        EXPECT_EQ(list[i][0], u' ');
      }
    }
    EXPECT_EQ(list.Values(u"x-long"), value);
    list.SetValues(u"X-Long", u"short");
    EXPECT_EQ(list.Lines(), std::vector<std::u16string>{u"X-Long: short"});
  }

  // 1100 characters with blanks in a list that folds at 1024.
  std::u16string big;
  while (big.size() < 1100) big += u"abcdefghi ";
  HeaderList request(1024);
  request.SetValues(u"Cookie", big.substr(0, 1100));
  ASSERT_GE(request.Count(), 2u);
  EXPECT_EQ(request[1][0], u' ');
}

TEST(HeaderListTest, FoldLineRules) {
  struct Case {
    const char16_t* text;
    std::size_t fold;
    std::vector<std::u16string> pieces;
  };
  const Case kCases[] = {
      // Fits.
      {u"A: b c", 10, {u"A: b c"}},
      // Breaks at a single space between kept units; the reader reads the break as that space.
      {u"A: bbb ccc ddd", 10, {u"A: bbb ccc", u" ddd"}},
      {u"A: bbbbbb, ,  cc", 10, {u"A: bbbbbb,", u" ,  cc"}},
      {u"X-A: ab ,,c", 10, {u"X-A: ab", u" ,,c"}},
      // Not at commas, tabs or runs of blanks, which the reader would not read back as they were.
      {u"A: b,c,d,e,f,g", 8, {u"A:", u" b,c,d,e,f,g"}},
      {u"A: bbb\tccc  ddd", 5, {u"A:", u" bbb\tccc  ddd"}},
      // No break position: one piece.
      {u"A:bbbbbbbbbbbbbbbb", 10, {u"A:bbbbbbbbbbbbbbbb"}},
      // Blanks inside double quotes are no break positions.
      {u"A: \"b c d e f\" g", 10, {u"A:", u" \"b c d e f\"", u" g"}},
      // An existing fold stays.
      {u"A: b\r\n c", 78, {u"A: b", u" c"}},
      // Trailing blanks go; a piece left with nothing readable is no line at all.
      {u"A: b   ", 78, {u"A: b"}},
      {u"A: b\r\n \x01\r\n\t\r\n c", 78, {u"A: b", u" c"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(U8(c.text));
    HeaderList list(c.fold);
    EXPECT_EQ(list.FoldLine(c.text), c.pieces);
  }
}

TEST(HeaderListTest, FoldingNeverChangesWhatIsReadBack) {
  // Random values over the units that matter to folding, at many fold lengths: the value
  // read back equals the one read from the same line left unwrapped.
  uint32_t state = 2024;
  auto next = [&](uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % n;
  };
  const std::u16string alphabet = u"ab  ,,\t\"\x01\r\n";
  for (int round = 0; round < 3000; ++round) {
    std::u16string value(1 + next(40), u' ');
    for (char16_t& c : value) c = alphabet[next(static_cast<uint32_t>(alphabet.size()))];
    const std::size_t fold = 1 + next(20);
    SCOPED_TRACE(U8(value) + " at " + std::to_string(fold));
    HeaderList folded(fold);
    folded.SetValues(u"X", value);
    HeaderList unwrapped(std::numeric_limits<std::size_t>::max());
    unwrapped.SetValues(u"X", value);
    EXPECT_EQ(folded.Values(u"X"), unwrapped.Values(u"X"));
    for (std::size_t i = 1; i < folded.Count(); ++i) EXPECT_FALSE(folded[i].empty());
  }
}

TEST(HeaderListTest, ConvertsBetweenSeparators) {
  const HeaderList list = Make({u"A: b: c", u"D:e"});
  std::vector<std::u16string> std_values;
  list.ConvertToStdValues(std_values);
  EXPECT_EQ(std_values, (std::vector<std::u16string>{u"A=b: c", u"D:e"}));
  HeaderList back;
  back.AddStdValues({u"A=b=c", u"plain"});
  EXPECT_EQ(back.Lines(), (std::vector<std::u16string>{u"A: b=c", u"plain"}));
}

}  // namespace
}  // namespace brevis
