// The engine's calling interface: properties, searches, captures, substitution and errors.
#include "regex/pattern.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regex/tests/test_util.h"

namespace brevis {
namespace {

using test::ErrorCodeOf;
using test::U8;

TEST(PatternTest, ModifierStr) {
  struct Case {
    const char16_t* written;
    const char16_t* read;
  };
  const Case cases[] = {
      {u"i", u"gsri-mx"},  {u"-rsg", u"-irsgmx"}, {u"IRSGMX", u"xmgsri"}, {u"m-g", u"msr-igx"},
      {u"x-", u"xgsr-im"}, {u"", u"gsr-imx"},     {u"-g-i", u"sr-igmx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.written));
    Pattern p;
    p.SetModifierStr(c.written);
    EXPECT_EQ(p.ModifierStr(), c.read);
  }
  Pattern p;
  EXPECT_EQ(ErrorCodeOf([&] { p.SetModifierStr(u"iq"); }), 1013);
  EXPECT_EQ(p.ModifierStr(), u"gsr-imx");
  EXPECT_EQ(ErrorCodeOf([&] { p.SetModifier(7, true); }), 1013);
  EXPECT_EQ(ErrorCodeOf([&] { p.Modifier(0); }), 1013);
}

TEST(PatternTest, ModifierChangeRecompiles) {
  Pattern p;
  p.SetExpression(u"abc");
  EXPECT_FALSE(p.Exec(u"ABC"));
  p.SetModifierI(true);
  EXPECT_TRUE(p.Exec(u"ABC"));
  p.SetModifierI(false);
  EXPECT_FALSE(p.Exec(u"ABC"));
}

TEST(PatternTest, ExpressionAndCompile) {
  Pattern p;
  EXPECT_EQ(ErrorCodeOf([&] { p.Compile(); }), 1003);
  EXPECT_EQ(ErrorCodeOf([&] { p.Exec(u"a"); }), 1003);
  p.SetExpression(u"a+");
  EXPECT_EQ(p.Expression(), u"a+");
  p.Compile();
  EXPECT_TRUE(p.Exec(u"baa"));
  EXPECT_EQ(p.Match(0), u"aa");
  p.SetExpression(u"");
  EXPECT_EQ(p.Expression(), u"");
  EXPECT_EQ(ErrorCodeOf([&] { p.Exec(u"a"); }), 1003);
}

TEST(PatternTest, ExecPosAndExecNext) {
  Pattern p;
  p.SetExpression(u"a");
  EXPECT_EQ(ErrorCodeOf([&] { p.ExecNext(); }), 1007);
  EXPECT_EQ(ErrorCodeOf([&] { p.ExecPos(1); }), 1005);
  p.SetInputString(u"aXaa");
  EXPECT_EQ(ErrorCodeOf([&] { p.ExecPos(0); }), 1006);
  EXPECT_FALSE(p.ExecPos(6));  // L + 2: no match, no error
  EXPECT_EQ(p.LastError(), 1006);
  EXPECT_EQ(p.LastError(), 0);
  ASSERT_TRUE(p.ExecPos(2));
  EXPECT_EQ(p.MatchPos(0), 3);
  std::vector<int> positions;
  for (bool found = p.Exec(u"aXaa"); found; found = p.ExecNext())
    positions.push_back(p.MatchPos(0));
  EXPECT_EQ(positions, (std::vector<int>{1, 3, 4}));
  EXPECT_EQ(ErrorCodeOf([&] { p.ExecNext(); }), 1007);  // the failed search left no match

  // After an empty match at P the next search starts at P + 1.
  p.SetExpression(u"x*");
  positions.clear();
  for (bool found = p.Exec(u"ab"); found; found = p.ExecNext()) positions.push_back(p.MatchPos(0));
  EXPECT_EQ(positions, (std::vector<int>{1, 2, 3}));
  p.SetExpression(u"^$");
  EXPECT_TRUE(p.ExecPos(1) == false);
  ASSERT_TRUE(p.Exec(u""));
  EXPECT_EQ(p.MatchPos(0), 1);
  EXPECT_EQ(p.MatchLen(0), 0);
  EXPECT_EQ(p.Match(0), u"");
}

TEST(PatternTest, CapturesAndSubject) {
  Pattern p;
  EXPECT_EQ(ErrorCodeOf([&] { p.InputString(); }), 1008);
  EXPECT_EQ(p.SubExprMatchCount(), -1);  // no subject yet
  p.SetExpression(u"(a)(b)?(c)");
  std::u16string subject = u"xac";
  ASSERT_TRUE(p.Exec(subject));
  subject[1] = u'z';  // the engine keeps its own copy
  EXPECT_EQ(p.Match(1), u"a");
  EXPECT_EQ(p.InputString(), u"xac");
  EXPECT_EQ(p.SubExprMatchCount(), 3);
  EXPECT_EQ(p.MatchPos(2), -1);
  EXPECT_EQ(p.MatchLen(2), -1);
  EXPECT_EQ(p.Match(2), u"");
  EXPECT_EQ(p.Match(15), u"");
  EXPECT_EQ(p.MatchPos(15), -1);
  EXPECT_EQ(p.MatchLen(-1), -1);
  // Writing the subject clears the captures.
  p.SetInputString(u"ac");
  EXPECT_EQ(p.MatchPos(0), -1);
  EXPECT_EQ(p.SubExprMatchCount(), 0);
  // A failed search leaves every group unset.
  ASSERT_TRUE(p.Exec(u"ac"));
  EXPECT_FALSE(p.Exec(u"ab"));
  for (int i = 0; i < 15; ++i) EXPECT_EQ(p.Match(i), u"");
  // Captures of an earlier pattern do not leak into the next one's back references.
  p.SetExpression(u"(a)(b)(c)(d)(e)");
  ASSERT_TRUE(p.Exec(u"abcde"));
  p.SetExpression(u"(x)\\5");
  EXPECT_FALSE(p.Exec(u"xe"));
  EXPECT_FALSE(p.Exec(u"x"));
  p.SetExpression(u"(a)|(b)");
  ASSERT_TRUE(p.Exec(u"b"));
  EXPECT_EQ(p.SubExprMatchCount(), 2);
  ASSERT_TRUE(p.Exec(u"a"));
  EXPECT_EQ(p.SubExprMatchCount(), 1);
}

TEST(PatternTest, Substitute) {
  Pattern p;
  EXPECT_EQ(ErrorCodeOf([&] { p.Substitute(u"$1"); }), 1005);
  p.SetExpression(u"(\\w+)@(\\w+)");
  ASSERT_TRUE(p.Exec(u"mail joe@host now"));
  struct Case {
    const char16_t* templ;
    const char16_t* result;
  };
  const Case cases[] = {
      {u"$2:$1", u"host:joe"},  {u"${1}0", u"joe0"}, {u"$&!", u"joe@host!"},
      {u"\\$1 \\\\", u"$1 \\"}, {u"$15|$3", u"|"},   {u"$x ${a} $", u"$x ${a} $"},
      {u"${2", u"${2"},         {u"$01", u"joe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.templ));
    EXPECT_EQ(p.Substitute(c.templ), c.result);
  }
}

TEST(PatternTest, ReplaceAndSplit) {
  Pattern p;
  p.SetExpression(u"(\\d+)");
  EXPECT_EQ(p.Replace(u"a1b22c", u"<$1>", true), u"a<1>b<22>c");
  EXPECT_EQ(p.Replace(u"a1b22c", u"<$1>", false), u"a<$1>b<$1>c");
  EXPECT_EQ(p.Replace(u"none", u"-", false), u"none");
  EXPECT_EQ(p.ReplaceEx(u"1+22",
                        [](Pattern& self) {
                          return std::u16string(static_cast<size_t>(self.MatchLen(0)), u'#');
                        }),
            u"#+##");
  p.SetExpression(u"x*");
  EXPECT_EQ(p.Replace(u"ab", u"-", false), u"-a-b-");

  p.SetExpression(u",\\s*");
  std::vector<std::u16string> pieces;
  p.Split(u"a, b,c", pieces);
  EXPECT_EQ(pieces, (std::vector<std::u16string>{u"a", u"b", u"c"}));
  pieces.clear();
  p.Split(u",x,", pieces);
  EXPECT_EQ(pieces, (std::vector<std::u16string>{u"", u"x", u""}));
}

TEST(PatternTest, ErrorMessages) {
  Pattern p;
  EXPECT_EQ(p.ErrorMsg(0), u"No errors");
  EXPECT_EQ(p.ErrorMsg(999), u"Unknown error");
  EXPECT_EQ(p.ErrorMsg(1013), u"Unknown error");
  EXPECT_EQ(p.ErrorMsg(1015), u"Pattern(exec): Loop Without LoopEntry !");
  EXPECT_EQ(p.ErrorMsg(110), u"Pattern(comp): Parse Atom Trailing \\");
  p.SetExpression(u"a");
  try {
    p.ExecPos(1);
    FAIL();
  } catch (const PatternError& e) {
    // Execution messages carry no position.
    EXPECT_STREQ(e.what(), "Pattern(exec): No Input String Specified");
    EXPECT_EQ(e.CompilerErrorPos(), 0);
  }
}

// An engine whose error report only records the code.
class QuietPattern : public Pattern {
 public:
  std::vector<int> errors;

 protected:
  void Error(int error_id) override { errors.push_back(error_id); }
};

TEST(PatternTest, OverriddenErrorReportMakesOperationsGiveUp) {
  QuietPattern p;
  p.SetExpression(u"(a");
  EXPECT_FALSE(p.Exec(u"a"));
  p.SetExpression(u"a");
  EXPECT_FALSE(p.ExecPos(0));
  p.SetExpression(u"(a|b)*c");
  std::u16string deep;
  for (int i = 0; i < 200000; ++i) deep += u"ab";
  EXPECT_FALSE(p.Exec(deep + u"c"));
  EXPECT_EQ(p.errors, (std::vector<int>{103, 1006, kErrorNestingTooDeep}));
  EXPECT_TRUE(p.Exec(u"abc"));
}

TEST(PatternTest, LineSeparatorProperties) {
  Pattern p;
  try {
    p.SetLinePairedSeparator(u"aa");
    FAIL();
  } catch (const PatternError& e) {
    EXPECT_EQ(e.ErrorCode(), 128);
    EXPECT_STREQ(e.what(),
                 "Pattern(comp): LinePairedSeparator must contain two different chars or no "
                 "chars at all (pos 0)");
  }
  EXPECT_EQ(ErrorCodeOf([&] { p.SetLinePairedSeparator(u"abc"); }), 128);
  EXPECT_EQ(p.LinePairedSeparator(), u"\r\n");

  p.SetModifierM(true);
  p.SetExpression(u"^b");
  EXPECT_EQ(p.Exec(u"a\r\nb") ? p.MatchPos(0) : 0, 4);
  // Without the pair, CR and LF are two separate line ends.
  p.SetLinePairedSeparator(u"");
  EXPECT_EQ(p.LinePairedSeparator(), u"");
  p.SetExpression(u"\\r^\\n");
  EXPECT_TRUE(p.Exec(u"a\r\nb"));
  // Other separators: a changed set is compiled in.
  p.SetLineSeparators(u"|");
  p.SetExpression(u"^b$");
  EXPECT_TRUE(p.Exec(u"a|b|c"));
  EXPECT_FALSE(p.Exec(u"a\nb\nc"));
  // With no separators at all "^" and "$" compile to the subject's ends.
  p.SetLineSeparators(u"");
  EXPECT_FALSE(p.Exec(u"a|b|c"));
  EXPECT_TRUE(p.Exec(u"b"));
  // A pair on its own still makes lines.
  p.SetLinePairedSeparator(u"<>");
  EXPECT_TRUE(p.Exec(u"a<>b<>c"));
}

TEST(PatternTest, CharacterSetProperties) {
  Pattern p;
  p.SetExpression(u"\\w+");
  ASSERT_TRUE(p.Exec(u"--abcd--"));
  EXPECT_EQ(p.Match(0), u"abcd");
  // Word and space units are read while matching: no recompilation needed.
  p.SetWordChars(u"abc");
  ASSERT_TRUE(p.Exec(u"--abcd--"));
  EXPECT_EQ(p.Match(0), u"abc");
  p.SetWordChars(u"\u0436");  // ж
  ASSERT_TRUE(p.Exec(u"ab\u0436\u0436c"));
  EXPECT_EQ(p.MatchPos(0), 3);
  // A unit that could not start a match before can now.
  p.SetWordChars(u"-");
  ASSERT_TRUE(p.Exec(u"ab--"));
  EXPECT_EQ(p.MatchPos(0), 3);
  p.SetSpaceChars(u"_");
  p.SetExpression(u"a\\sb\\S");
  EXPECT_TRUE(p.Exec(u"a_b "));
  EXPECT_FALSE(p.Exec(u"a b_"));
  // Classes copy the sets when compiled.
  p.SetExpression(u"[\\s]");
  EXPECT_TRUE(p.Exec(u"_"));
  p.SetSpaceChars(u" ");
  EXPECT_TRUE(p.Exec(u"_"));
}

TEST(PatternTest, InvertCaseCallback) {
  Pattern p;
  p.SetModifierI(true);
  p.SetExpression(u"x[y]");
  EXPECT_TRUE(p.Exec(u"XY"));
  p.SetInvertCase([](char16_t) { return u'y'; });
  EXPECT_FALSE(p.Exec(u"XY"));
  // A literal unit l matches InvertCase(l); a class matches c when InvertCase(c) is a member.
  EXPECT_TRUE(p.Exec(u"yq"));
  EXPECT_FALSE(p.Exec(u"qy"));
  p.SetInvertCase(nullptr);
  EXPECT_TRUE(p.Exec(u"XY"));
}

}  // namespace
}  // namespace brevis
