// Matching behaviour of the pattern engine: examples, loops, limits.
#include "regex/matcher.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>

#include "regex/pattern.h"
#include "regex/tests/test_util.h"

namespace brevis {
namespace {

using test::ErrorCodeOf;
using test::U8;

// "pos:len" of every group up to SubExprMatchCount, "-" for an unset group; "no" without match.
std::string Spans(Pattern& p, bool found) {
  if (!found) return "no";
  std::string out;
  for (int i = 0; i <= p.SubExprMatchCount(); ++i) {
    if (i > 0) out += ' ';
    if (p.MatchPos(i) < 0) {
      out += '-';
    } else {
      out += std::to_string(p.MatchPos(i));
      out += ':';
      out += std::to_string(p.MatchLen(i));
    }
  }
  return out;
}

struct Case {
  const char16_t* pattern;
  const char16_t* modifiers;
  const char16_t* subject;
  const char* spans;
};

// clang-format off
const Case kCases[] = {
    // Number recognition.
    {u"^(ZL|CN)?(\\d+)(\\.[\\dX])?$", u"", u"CN200710038426", "1:14 1:2 3:12"},
    {u"^(ZL|CN)?(\\d+)(\\.[\\dX])?$", u"", u"200710038426.X", "1:14 - 1:12 13:2"},
    {u"^(ZL|CN)?(\\d+)(\\.[\\dX])?$", u"", u"ZL20072.5", "1:9 1:2 3:5 8:2"},
    {u"^(ZL|CN)?(\\d+)(\\.[\\dX])?$", u"", u"CN2007-1", "no"},
    {u"^(ZL|CN)?(\\d+)(\\.[\\dX])?$", u"", u"CN", "no"},
    {u"^(ZL|CN)?(\\d+)(\\.[\\dX])?$", u"", u"12.x", "no"},
    // Lookup answers.
    {u"(\\d+)\\t(.+)", u"", u"12\tabc", "1:6 1:2 4:3"},
    {u"(\\d+)\\t(.+)", u"", u"12 abc", "no"},
    {u"(\\d+)\\t(.+)", u"", u"x 7\thttp://h/p\r\nmore", "3:18 3:1 5:16"},
    {u"'xx','(\\d+)','(.*?)/\\d+\\.tif'", u"", u"'xx','3','a/b/1.tif'", "1:20 7:1 11:3"},
    {u"'fm','(\\d+)','(.*?)/\\d+\\.tif'", u"", u"x'xx','3','a/1.tif' 'fm','12','h/p/q/000001.tif'",
     "21:28 27:2 32:5"},
    {u"'fm','(\\d+)','(.*?)/\\d+\\.tif'", u"-s", u"'fm','7','a\nb/c/9.tif'", "no"},
    {u"'fm','(\\d+)','(.*?)/\\d+\\.tif'", u"-s", u"'fm','7','ab/c/9.tif'", "1:21 7:1 11:4"},
    // Empty subject and empty matches.
    {u"^$", u"", u"", "1:0"},
    {u"a*", u"", u"bbb", "1:0"},
    {u"x?$", u"", u"ab", "3:0"},
    // Case insensitivity.
    {u"abc", u"i", u"xABC", "2:3"},
    {u"ABC", u"i", u"abc", "1:3"},
    {u"[a-c]+", u"i", u"xBCa", "2:3"},
    {u"[^a-c]+", u"i", u"BCxyA", "3:2"},
    {u"é", u"i", u"É", "1:1"},
    {u"я+", u"i", u"ЯяЯ", "1:3"},
    {u"ⓐ", u"i", u"Ⓐ", "no"},  // at or above U+20AC a unit matches only itself
    {u"(ab)\\1", u"i", u"abAB", "1:4 1:2"},
    {u"(?i)a(?-i)b", u"", u"AB", "no"},
    {u"(?i)a(?-i)b", u"", u"Ab", "1:2"},
    {u"(a(?i)b)c", u"", u"aBc", "1:3 1:2"},
    {u"(a(?i)b)c", u"", u"aBC", "no"},
    // Word boundaries.
    {u"\\b", u"", u"abc", "1:0"},
    {u"c\\b", u"", u"abc", "3:1"},
    {u"a\\Bb", u"", u"ab", "1:2"},
    {u"\\bb", u"", u"ab b", "4:1"},
    {u"\\B", u"", u" ", "1:0"},
    // Lines under m.
    {u"^b", u"m", u"a\r\nb", "4:1"},
    {u"a$", u"m", u"a\r\nb", "1:1"},
    {u"\\r^", u"m", u"a\r\nb", "no"},
    {u"$\\n", u"m", u"a\r\nb", "no"},
    {u"^b", u"m", u"a\u2028b", "3:1"},
    {u"b$", u"m", u"ab\fc", "2:1"},
    {u"^b", u"", u"a\nb", "no"},
    {u"a.b", u"-s", u"a\nb a\u2029b a-b", "9:3"},
    {u"a.b", u"", u"a\nb", "1:3"},
    // Greedy and non-greedy.
    {u"a.*b", u"", u"aXbYb", "1:5"},
    {u"a.*?b", u"", u"aXbYb", "1:3"},
    {u"a.*b", u"-g", u"aXbYb", "1:3"},
    {u"a.*?b", u"-g", u"aXbYb", "1:3"},
    {u"a+?", u"", u"aaa", "1:1"},
    {u"a{2,3}", u"", u"aaaa", "1:3"},
    {u"a{2,3}?", u"", u"aaaa", "1:2"},
    {u"a{2}", u"", u"a", "no"},
    {u"a{0}b", u"", u"ab", "2:1"},
    {u"[ab]{2,}c", u"", u"abbac", "1:5"},
    {u"(a|ab)(c|bcd)(d*)", u"", u"abcd", "1:4 1:1 2:3 5:0"},
    {u"(ab)*?c", u"", u"ababc", "1:5 3:2"},
    {u"(ab)??b", u"", u"ab", "2:1"},
    {u"(a)?", u"", u"b", "1:0"},
    // Back references.
    {u"(a+)b\\1", u"", u"aaabaa", "2:5 2:2"},
    {u"(ab)\\1*c", u"", u"ababc", "1:5 1:2"},
    {u"(ab)\\1{2}", u"", u"abababab", "1:6 1:2"},
    {u"(a*)\\1+b", u"", u"b", "1:1 1:0"},
    {u"(a)|\\1b", u"", u"b", "no"},
    // Counted loops over groups, backtracking into earlier iterations.
    {u"(a|ab){2}c", u"", u"aabc", "1:4 2:2"},
    {u"(a|ab){2,3}?c", u"", u"ababc", "1:5 3:2"},
    {u"(ab){2}", u"", u"ababab", "1:4 3:2"},
    {u"(ab){2,}?", u"", u"ababab", "1:4 3:2"},
    {u"((a)|b)+", u"", u"ab", "1:2 2:1 1:1"},
    {u"((ab){1,2}c){2}", u"", u"abcababc", "1:8 4:5 6:2"},
    // Loops whose body can match the empty string end.
    {u"(a{0,1})*b", u"", u"b", "1:1 1:0"},
    {u"(a{0,2})*b", u"", u"aaaab", "1:5 5:0"},
    {u"(a{0,2})+b", u"", u"b", "1:1 1:0"},
    {u"(a{0,2})*?b", u"", u"aab", "1:3 1:2"},
    {u"(a{0,2}){3,}b", u"", u"ab", "1:2 2:0"},
    {u"(a{0,2}){2,5}?b", u"", u"b", "1:1 1:0"},
    {u"(\\ba|a{0,3})*$", u"", u"aa", "1:2 3:0"},
    // Escapes.
    {u"\\x41\\x{42}\\t", u"", u"AB\t", "1:3"},
    {u"\\d\\D\\w\\W\\s\\S", u"", u"1a_ x\t", "no"},
    {u"\\d\\D\\w\\W\\s\\S", u"", u"1a_- x", "1:6"},
    {u"\\Aab\\Z", u"", u"ab", "1:2"},
    {u"\\x00", u"", u"a", "no"},
    {u"a\\x00?b", u"", u"ab", "1:2"},
    // Extended mode.
    {u"a b c # comment", u"x", u"abc", "1:3"},
    {u"[ ]", u"x", u"a b", "2:1"},
};
// clang-format on

TEST(MatcherTest, Cases) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(U8(c.pattern) + " under " + U8(c.modifiers) + " on " + U8(c.subject));
    Pattern p;
    p.SetModifierStr(c.modifiers);
    p.SetExpression(c.pattern);
    const bool found = p.Exec(c.subject);
    EXPECT_EQ(Spans(p, found), c.spans);
  }
}

TEST(MatcherTest, SystemPatternTexts) {
  Pattern p;
  p.SetExpression(u"^(ZL|CN)?(\\d+)(\\.[\\dX])?$");
  ASSERT_TRUE(p.Exec(u"CN200710038426"));
  EXPECT_EQ(p.Match(1), u"CN");
  EXPECT_EQ(p.Match(2), u"200710038426");
  EXPECT_EQ(p.Match(3), u"");
  ASSERT_TRUE(p.Exec(u"200710038426.X"));
  EXPECT_EQ(p.Match(1), u"");
  EXPECT_EQ(p.Match(3), u".X");

  p.SetExpression(u"'xx','(\\d+)','(.*?)/\\d+\\.tif'");
  ASSERT_TRUE(p.Exec(u"'xx','3','a/b/1.tif'"));
  EXPECT_EQ(p.Match(1), u"3");
  EXPECT_EQ(p.Match(2), u"a/b");
}

TEST(MatcherTest, NulEndsTheSubject) {
  Pattern p;
  p.SetExpression(u"b");
  const std::u16string subject(u"a\0b", 3);
  EXPECT_FALSE(p.Exec(subject));
  p.SetExpression(u"a$");
  EXPECT_TRUE(p.Exec(subject));
  // The pattern, too, ends at a NUL.
  p.SetExpression(std::u16string(u"a\0b", 3));
  ASSERT_TRUE(p.Exec(u"ac"));
  EXPECT_EQ(p.MatchLen(0), 1);
}

std::u16string Repeated(std::u16string_view unit, size_t total) {
  std::u16string s;
  s.reserve(total + unit.size());
  while (s.size() < total) s += unit;
  return s;
}

TEST(MatcherTest, DeepNestingIsReportedNotCrashed) {
  // A match would need one level per iteration: far beyond the bound.
  const std::u16string subject = Repeated(u"ab", 1 << 20) + u"c";
  Pattern p;
  p.SetExpression(u"(a|b)*c");
  try {
    p.Exec(subject);
    FAIL() << "expected an error";
  } catch (const PatternError& e) {
    EXPECT_EQ(e.ErrorCode(), kErrorNestingTooDeep);
    EXPECT_EQ(e.CompilerErrorPos(), 0);
    EXPECT_EQ(U8(p.ErrorMsg(kErrorNestingTooDeep)), e.what());
  }
  EXPECT_EQ(p.LastError(), kErrorNestingTooDeep);
  EXPECT_EQ(p.MatchPos(0), -1);
  // The compiled program survives; short subjects still match.
  ASSERT_TRUE(p.Exec(u"abbac"));
  EXPECT_EQ(p.Match(1), u"a");
  // The same loop in its counted form is bounded the same way.
  p.SetExpression(u"(a|b)*?c");
  EXPECT_THROW(p.Exec(subject), PatternError);
}

// Runs fn on a new thread with a stack of stack_bytes and waits for it.
void RunOnThread(size_t stack_bytes, std::function<void()> fn) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, stack_bytes), 0);
  pthread_t thread;
  const int rc = pthread_create(
      &thread, &attr,
      [](void* arg) -> void* {
        (*static_cast<std::function<void()>*>(arg))();
        return nullptr;
      },
      &fn);
  pthread_attr_destroy(&attr);
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

TEST(MatcherTest, NestingFollowsTheThreadStack) {
  // Each iteration of "(a|b)*" nests the walk once or twice.
  struct Outcome {
    int error = 0;
    bool found = false;
    bool short_found = false;
  };
  auto search = [](const std::u16string& subject, Outcome& out) {
    Pattern p;
    p.SetExpression(u"(a|b)*c");
    try {
      out.found = p.Exec(subject);
    } catch (const PatternError& e) {
      out.error = e.ErrorCode();
    }
    out.short_found = p.Exec(u"abbac");
  };

  // A small stack: the long search ends in the error, and ordinary searches still work.
  const std::u16string huge = Repeated(u"ab", 1 << 20) + u"c";
  Outcome small;
  RunOnThread(size_t{256} << 10, [&] { search(huge, small); });
  EXPECT_EQ(small.error, kErrorNestingTooDeep);
  EXPECT_FALSE(small.found);
  EXPECT_TRUE(small.short_found);

  // An ordinary 8 MiB stack holds tens of thousands of iterations. Unoptimised and
  // address-checked builds have frames several times larger, and get through fewer.
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
  constexpr size_t kPairs = 20000;
#else
  constexpr size_t kPairs = 5000;
#endif
  Outcome normal;
  RunOnThread(size_t{8} << 20, [&] { search(Repeated(u"ab", 2 * kPairs) + u"c", normal); });
  EXPECT_EQ(normal.error, 0);
  EXPECT_TRUE(normal.found);
  EXPECT_TRUE(normal.short_found);
}

TEST(MatcherTest, LongSubjectsWithOrdinaryPatterns) {
  std::u16string text = Repeated(u"<tr><td class='n'>1234</td><td>'ab','cd'</td></tr>\n", 1 << 20);
  const size_t tail = text.size();
  text += u"<p>'fm','7','http://host/a/b/000001.tif'</p>\n12\thttp://host/x";

  struct LongCase {
    const char16_t* pattern;
    bool found;
    bool in_tail = false;            // the match begins in the tail, else at the subject's start
    int group = 0;                   // the group whose text is checked (0: the match)
    const char16_t* text = nullptr;  // its expected text; nullptr: the whole subject
  };
  const LongCase cases[] = {
      {u"'fm','(\\d+)','(.*?)/\\d+\\.tif'", true, true, 1, u"7"},
      {u"(\\d+)\\t(.+)", true, true, 1, u"12"},
      {u"'xx','(\\d+)','(.*?)/\\d+\\.tif'", false},
      {u"<p>(.*)</p>", true, true, 1, u"'fm','7','http://host/a/b/000001.tif'"},
      {u"(\\w+)://(\\w+)/a", true, true, 1, u"http"},
      {u"(tr|td|p)>'fm'", true, true, 1, u"p"},
      {u"(<td>)?'fm'", true, true, 1, u""},  // group 1 takes no part
      {u"([a-z]+)\\t", false},
      {u"^(<tr>.*)$", true, false, 1, nullptr},  // "." also matches line breaks
      {u"x$", true, true, 0, u"x"},
      {u"\\d\\t(.*)", true, true, 1, u"http://host/x"},
  };
  Pattern p;
  for (const LongCase& c : cases) {
    SCOPED_TRACE(U8(c.pattern));
    p.SetExpression(c.pattern);
    ASSERT_EQ(p.Exec(text), c.found);
    if (!c.found) continue;
    if (c.in_tail) {
      EXPECT_GE(p.MatchPos(0), static_cast<int>(tail));
    } else {
      EXPECT_EQ(p.MatchPos(0), 1);
    }
    if (c.text == nullptr) {
      EXPECT_EQ(p.MatchLen(c.group), static_cast<int>(text.size()));
    } else {
      EXPECT_EQ(p.Match(c.group), c.text);
    }
  }
}

TEST(MatcherTest, LoopStackHoldsTenLoops) {
  auto nested = [](int depth) {
    std::u16string expr(static_cast<size_t>(depth), u'(');
    expr += u"a";
    for (int i = 0; i < depth; ++i) expr += u"){1,2}";
    return expr;
  };
  Pattern p;
  p.SetExpression(nested(10));
  EXPECT_TRUE(p.Exec(u"aa"));
  p.SetExpression(nested(11));
  try {
    p.Exec(u"aa");
    FAIL() << "expected an error";
  } catch (const PatternError& e) {
    EXPECT_EQ(e.ErrorCode(), 1014);
    EXPECT_STREQ(e.what(), "Pattern(exec): Loop Stack Exceeded");
  }
}

// Former bugs: an escaped NUL compiles to an empty literal, which never matches. It was
// taken as the text every match must contain, and the scan for it read past the subject.
TEST(MatcherTest, EmptyLiteralIsNeverRequiredText) {
  const std::u16string kPatterns[] = {u".*\\x00", u"a*\\x{0}", u"\\S*()\\x{}"};
  for (const std::u16string& pattern : kPatterns) {
    SCOPED_TRACE(U8(pattern));
    Pattern p;
    p.SetExpression(pattern);
    EXPECT_EQ(U8(p.Dump()).find("must have"), std::string::npos);
    // Subjects of every length around the scan's block sizes; a fresh engine copies each into
    // a buffer of its exact size, so that the sanitizer build catches a read past it.
    for (size_t len = 0; len <= 40; ++len) {
      Pattern fresh;
      fresh.SetExpression(pattern);
      const std::u16string subject = Repeated(u"abcdefghijklmnop", len).substr(0, len);
      EXPECT_FALSE(fresh.Exec(subject)) << len;
    }
  }
}

// A search ends with its own error once it has used up its step budget, whatever the pattern
// does: exponential backtracking, or a quadratic search over a hostile page.
TEST(MatcherTest, SearchBudgetEndsRunawaySearches) {
  std::u16string page;
  while (page.size() < 208000) page += u"'fm','1','abc";
  struct Runaway {
    const char16_t* pattern;
    std::u16string subject;
  };
  const Runaway kRunaways[] = {
      {u"(\\w+)+$", u"he" + std::u16string(32, u'g') + u"l."},
      {u"'fm','(\\d+)','(.*?)/\\d+\\.tif'", page},
      {u"(a|aa)*$", std::u16string(40, u'a') + u"!"},
  };
  for (const Runaway& c : kRunaways) {
    SCOPED_TRACE(U8(c.pattern));
    Pattern p;
    EXPECT_EQ(p.SearchBudget(), Pattern::kDefaultSearchBudget);
    p.SetExpression(c.pattern);
    try {
      p.Exec(c.subject);
      FAIL() << "expected an error";
    } catch (const PatternError& e) {
      EXPECT_EQ(e.ErrorCode(), kErrorSearchBudgetExceeded);
      EXPECT_STREQ(e.what(),
                   "Pattern(exec): Search Step Budget Exceeded (pattern backtracks too much on "
                   "this subject)");
    }
    EXPECT_EQ(p.Match(0), u"");
  }

  // The budget is per search and settable; below 1 it is no limit.
  Pattern p;
  p.SetExpression(u"'fm','(\\d+)','(.*?)/\\d+\\.tif'");
  const std::u16string found = page.substr(0, 20000) + u"'fm','7','a/b/1.tif'";
  EXPECT_TRUE(p.Exec(found));
  p.SetSearchBudget(1000);
  EXPECT_EQ(ErrorCodeOf([&] { p.Exec(found); }), kErrorSearchBudgetExceeded);
  p.SetSearchBudget(0);
  EXPECT_FALSE(p.Exec(page.substr(0, 20000)));
  EXPECT_TRUE(p.Exec(found));
}

// Compiling a long choice links each alternative to the previous one directly.
TEST(MatcherTest, LongChoiceCompilesAndMatches) {
  std::u16string expression;
  for (int i = 0; i < 40000; ++i) expression += u"a|";
  expression += u"b";
  Pattern p;
  p.SetExpression(u"(" + expression + u")c");
  EXPECT_TRUE(p.Exec(u"xbc"));
  EXPECT_EQ(p.MatchPos(1), 2);
  p.SetExpression(expression);
  EXPECT_TRUE(p.Exec(u"b"));
}

}  // namespace
}  // namespace brevis
