// Compiled forms, start-up facts and compile errors of the pattern engine.
#include "regex/compiler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "regex/pattern.h"
#include "regex/tests/test_util.h"

namespace brevis {
namespace {

using test::Ops;
using test::U8;

struct FormCase {
  const char16_t* pattern;
  const char16_t* modifiers;  // applied through ModifierStr
  const char* ops;
  const char* facts;  // the last Dump line with the start-up facts, "" when none
};

// clang-format off
const FormCase kForms[] = {
    // The system's own patterns.
    {u"^(ZL|CN)?(\\d+)(\\.[\\dX])?$", u"",
     "BRANCH BOL BRANCH OPEN[1] BRANCH EXACTLY(ZL) BRANCH EXACTLY(CN) CLOSE[1] BRANCH NOTHING "
     "OPEN[2] BRANCH PLUS ANYDIGIT CLOSE[2] BRANCH OPEN[3] BRANCH EXACTLY(.) "
     "ANYOF(0123456789X) CLOSE[3] BRANCH NOTHING EOL END",
     "anchored "},
    {u"'xx','(\\d+)','(.*?)/\\d+\\.tif'", u"",
     "BRANCH EXACTLY('xx',') OPEN[1] BRANCH PLUS ANYDIGIT CLOSE[1] EXACTLY(',') OPEN[2] BRANCH "
     "STARNG ANY CLOSE[2] EXACTLY(/) PLUS ANYDIGIT EXACTLY(.) EXACTLY(tif') END",
     "start ' "},
    {u"'xx','(\\d+)','(.*?)/\\d+\\.tif'", u"-s",
     "BRANCH EXACTLY('xx',') OPEN[1] BRANCH PLUS ANYDIGIT CLOSE[1] EXACTLY(',') OPEN[2] BRANCH "
     "LOOPENTRY ANYML LOOPNG({0,2147483646} body 45) CLOSE[2] EXACTLY(/) PLUS ANYDIGIT "
     "EXACTLY(.) EXACTLY(tif') END",
     "start ' "},
    {u"(\\d+)\\t(.+)", u"",
     "BRANCH OPEN[1] BRANCH PLUS ANYDIGIT CLOSE[1] EXACTLY(\t) OPEN[2] BRANCH PLUS ANY CLOSE[2] END",
     "must have \t"},
    // Literal runs leave their last unit to a quantifier.
    {u"abc*", u"", "BRANCH EXACTLY(ab) STAR EXACTLY(c) END", "start a "},
    {u"ab+cd", u"", "BRANCH EXACTLY(a) PLUS EXACTLY(b) EXACTLY(cd) END", "start a "},
    {u"a{2,3}b", u"", "BRANCH BRACES({2,3}) EXACTLY(a) EXACTLY(b) END", "must have b"},
    {u"x*?y", u"", "BRANCH STARNG EXACTLY(x) EXACTLY(y) END", "must have y"},
    {u"x*y", u"-g", "BRANCH STARNG EXACTLY(x) EXACTLY(y) END", "must have y"},
    {u"a??", u"", "BRANCH BRACESNG({0,1}) EXACTLY(a) END", ""},
    // "{" that forms no quantifier is a literal.
    {u"a{x}", u"", "BRANCH EXACTLY(a) EXACTLY({x}) END", "start a "},
    {u"a{,3}", u"", "BRANCH EXACTLY(a) EXACTLY({,3}) END", "start a "},
    {u"{2}", u"", "BRANCH EXACTLY({2}) END", "start { "},
    // General loops over groups.
    {u"(ab)*", u"",
     "BRANCH BRANCH OPEN[1] BRANCH EXACTLY(ab) CLOSE[1] BACK BRANCH NOTHING END", ""},
    {u"(ab)+", u"",
     "BRANCH OPEN[1] BRANCH EXACTLY(ab) CLOSE[1] BRANCH BACK BRANCH NOTHING END", ""},
    {u"(ab)?", u"", "BRANCH BRANCH OPEN[1] BRANCH EXACTLY(ab) CLOSE[1] BRANCH NOTHING END", ""},
    {u"(ab){2,5}", u"",
     "BRANCH LOOPENTRY OPEN[1] BRANCH EXACTLY(ab) CLOSE[1] LOOP({2,5} body 7) END", ""},
    {u"(ab)+cd|e", u"", "BRANCH OPEN[1] BRANCH EXACTLY(ab) CLOSE[1] BRANCH BACK BRANCH NOTHING "
     "EXACTLY(cd) BRANCH EXACTLY(e) END", ""},
    {u"(ab)+cd(e)fgh", u"", "BRANCH OPEN[1] BRANCH EXACTLY(ab) CLOSE[1] BRANCH BACK BRANCH "
     "NOTHING EXACTLY(cd) OPEN[2] BRANCH EXACTLY(e) CLOSE[2] EXACTLY(fgh) END", "must have fgh"},
    {u"(ab)+?", u"",
     "BRANCH LOOPENTRY OPEN[1] BRANCH EXACTLY(ab) CLOSE[1] LOOPNG({1,2147483646} body 7) END",
     ""},
    // Classes.
    {u"[]a]", u"", "BRANCH ANYOF(]a) END", ""},
    {u"[a-]", u"", "BRANCH ANYOF(a-) END", ""},
    {u"[\\d-z]", u"", "BRANCH ANYOF(0123456789-z) END", ""},
    {u"[^a-c-e]", u"", "BRANCH ANYBUT(abc-e) END", ""},
    {u"[\\D\\x41\\t]", u"", "BRANCH ANYOF(DA\t) END", ""},
    {u"[a-c\\d]", u"", "BRANCH ANYOF(abc0123456789) END", ""},
    {u"[\\w]", u"",
     "BRANCH ANYOF(0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_) END", ""},
    {u"[ #]", u"x", "BRANCH ANYOF( #) END", ""},
    {u"[а-я]", u"",
     "BRANCH ANYOF(абвгдежзийклмнопрстуфхцчшщъыьэюяё) END", ""},
    {u"[А-Я]", u"",
     "BRANCH ANYOF(АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯЁ) END", ""},
    {u"[а-Я]", u"",
     "BRANCH ANYOF(абвгдежзийклмнопрстуфхцчшщъыьэюяёАБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯЁ) END", ""},
    {u"[а-я]", u"-r", "BRANCH ANYOF(абвгдежзийклмнопрстуфхцчшщъыьэюя) END", ""},
    // Escapes.
    {u"\\x41\\x{263A}\\t\\.", u"",
     "BRANCH EXACTLY(A) EXACTLY(\u263A) EXACTLY(\t) EXACTLY(.) END", "start A "},
    {u"(a)\\10", u"",
     "BRANCH OPEN[1] BRANCH EXACTLY(a) CLOSE[1] BSUBEXP(\\1) EXACTLY(0) END", ""},
    {u"\\bA\\B\\Z", u"", "BRANCH BOUND EXACTLY(A) NOTBOUND EOL END", ""},
    // Modifiers: inline ones are scoped to their group.
    {u"(?i)abc", u"", "BRANCH COMMENT EXACTLY/CI(abc) END", ""},
    {u"(a(?i)b)c", u"",
     "BRANCH OPEN[1] BRANCH EXACTLY(a) COMMENT EXACTLY/CI(b) CLOSE[1] EXACTLY(c) END", ""},
    {u"(?#note)a", u"", "BRANCH COMMENT EXACTLY(a) END", ""},
    {u"^a$", u"m", "BRANCH BOLML EXACTLY(a) EOLML END", ""},
    {u".", u"-s", "BRANCH ANYML END", ""},
    {u"(?i)a(?-i)\\1[b]", u"", "BRANCH COMMENT EXACTLY/CI(a) COMMENT BSUBEXP(\\1) ANYOF(b) END", ""},
    {u"\\1[b][^c]", u"i", "BRANCH BSUBEXP/CI(\\1) ANYOF/CI(b) ANYBUT/CI(c) END", ""},
    // Extended mode.
    {u"a b # note", u"x", "BRANCH EXACTLY(ab) COMMENT END", "start a "},
    {u" a\n#c\nb", u"x", "BRANCH COMMENT EXACTLY(a) COMMENT EXACTLY(b) END", ""},
    // An empty branch is a NOTHING.
    {u"a|", u"", "BRANCH EXACTLY(a) BRANCH NOTHING END", ""},
    {u"", u"", "BRANCH NOTHING END", ""},
};
// clang-format on

std::string FactsLine(Pattern& p) {
  const std::string dump = U8(p.Dump());
  const size_t last = dump.rfind('\n', dump.size() - 2);
  const std::string line = dump.substr(last + 1, dump.size() - last - 2);
  return line.find(':') == std::string::npos ? line : "";
}

TEST(CompilerTest, CompiledForms) {
  for (const FormCase& c : kForms) {
    SCOPED_TRACE(U8(c.pattern) + " under " + U8(c.modifiers));
    Pattern p;
    p.SetModifierStr(c.modifiers);
    if (*c.pattern == 0) {
      // The empty text is no pattern; a NUL-led text compiles the empty pattern.
      p.SetExpression(std::u16string(1, u'\0'));
    } else {
      p.SetExpression(c.pattern);
    }
    EXPECT_EQ(Ops(p), c.ops);
    EXPECT_EQ(FactsLine(p), c.facts);
  }
}

TEST(CompilerTest, ProgramLayout) {
  // "ab*": mark, BRANCH, EXACTLY "a", STAR over EXACTLY "b", END; links are unit offsets
  // from the node, low unit first.
  Program prog;
  CompilerInput in;
  in.Text = u"ab*";
  in.Modifiers = kModR | kModS | kModG;
  ASSERT_EQ(CompileProgram(in, prog).Code, 0);
  const std::u16string expected{
      216,                      // mark
      BRANCH,  16, 0,           // 1: next is END at 17
      EXACTLY, 5,  0, u'a', 0,  // 4: next is STAR at 9
      STAR,    8,  0,           // 9: next is END at 17
      EXACTLY, 0,  0, u'b', 0,  // 12: the operand node has no successor
      END,     0,  0,           // 17
  };
  EXPECT_EQ(prog.Code, std::vector<char16_t>(expected.begin(), expected.end()));
  EXPECT_EQ(prog.RegStart, u'a');
  EXPECT_FALSE(prog.RegAnch);
  EXPECT_EQ(prog.RegMust, -1);

  // Integers are signed, low unit first: a BACK links backwards.
  in.Text = u"(a)*";
  ASSERT_EQ(CompileProgram(in, prog).Code, 0);
  const char16_t* code = prog.Code.data();
  for (size_t i = 1; i < prog.Code.size(); i += static_cast<size_t>(NodeLength(code + i))) {
    if (OpOf(code + i) == BACK) {
      EXPECT_EQ(code[i + 2], 0xFFFF);
      EXPECT_EQ(NextNode(code + i), code + 4);  // the BRANCH inserted before the group
    }
  }
}

struct ErrorCase {
  const char16_t* pattern;
  const char16_t* modifiers;
  int code;
  int pos;  // -1: not checked
};

// clang-format off
const ErrorCase kErrors[] = {
    // Groups.
    {u"(a", u"", 103, 2},
    {u"a)", u"", 104, 1},
    {u"(a(b)", u"", 103, 5},
    {u"(((((((((((((((a)))))))))))))))", u"", 102, 15},
    {u"(?:a)", u"", 127, 2},
    {u"(?i", u"", 127, 3},
    {u"(?#abc", u"", 125, 6},
    // Quantifiers.
    {u"*a", u"", 115, 0},
    {u"a|+", u"", 115, 2},
    {u"a**", u"", 107, 2},
    {u"a{2}{3}", u"", 107, 4},
    {u"a+?*", u"", 107, 3},
    {u"(a*)*", u"", 106, 4},
    {u"\\b+", u"", 106, 2},
    {u"(?i)*", u"", 106, 4},
    {u"(a?){x}", u"", 106, 4},
    {u"a *", u"x", 106, 2},
    {u"a{123456789}", u"", 122, -1},
    {u"a{3,2}", u"", 124, -1},
    // Escapes.
    {u"a\\", u"", 116, 2},
    {u"\\xg1", u"", 108, -1},
    {u"\\x4", u"", 111, -1},
    {u"\\x", u"", 111, -1},
    {u"\\x{12", u"", 111, -1},
    {u"\\x{1g}", u"", 108, -1},
    {u"\\x{10000}", u"", 112, -1},
    // Classes.
    {u"[z-a]", u"", 109, -1},
    {u"[а-Я]", u"-r", 109, -1},
    {u"[abc", u"", 113, 4},
    {u"[]", u"", 113, 2},
    {u"[a\\", u"", 110, -1},
    {u"[a-\\", u"", 110, -1},
};
// clang-format on

TEST(CompilerTest, Errors) {
  for (const ErrorCase& c : kErrors) {
    SCOPED_TRACE(U8(c.pattern));
    Pattern p;
    p.SetModifierStr(c.modifiers);
    p.SetExpression(c.pattern);
    try {
      p.Compile();
      ADD_FAILURE() << "no error";
    } catch (const PatternError& e) {
      EXPECT_EQ(e.ErrorCode(), c.code);
      if (c.pos >= 0) {
        EXPECT_EQ(e.CompilerErrorPos(), c.pos);
      }
      const std::string expected =
          U8(p.ErrorMsg(c.code)) + " (pos " + std::to_string(e.CompilerErrorPos()) + ")";
      EXPECT_EQ(e.what(), expected);
    }
    EXPECT_EQ(p.LastError(), c.code);
    EXPECT_EQ(p.LastError(), 0);
    EXPECT_EQ(p.CompilerErrorPos(), 0);
  }
}

TEST(CompilerTest, FourteenGroupsAreAllowed) {
  Pattern p;
  std::u16string expr;
  for (int i = 0; i < 14; ++i) expr += u"(a)";
  p.SetExpression(expr);
  ASSERT_TRUE(p.Exec(std::u16string(14, u'a')));
  EXPECT_EQ(p.SubExprMatchCount(), 14);
  EXPECT_EQ(p.Match(14), u"a");
}

TEST(CompilerTest, ErrorMessageText) {
  Pattern p;
  p.SetExpression(u"(a");
  try {
    p.Exec(u"a");
    FAIL();
  } catch (const PatternError& e) {
    EXPECT_STREQ(e.what(), "Pattern(comp): ParseReg Unmatched () (pos 2)");
  }
  // The compiled program stays absent after an error; the next use fails again.
  EXPECT_THROW(p.Exec(u"a"), PatternError);
}

}  // namespace
}  // namespace brevis

namespace brevis {
namespace {

// Any text either compiles, and then searches and lists without fault, or reports one of the
// compiler's error codes.
TEST(CompilerTest, RandomTextCompilesOrReportsAnError) {
  const std::u16string alphabet = u"ab01()[]{},^$.|?*+\\-#: xdwsbBAZ123i-mgr\u0430\u044f\n";
  const std::u16string modifiers[] = {u"", u"i", u"x", u"-s", u"m", u"-g", u"ix-sr"};
  const int known[] = {102, 103, 104, 106, 107, 108, 109, 110, 111,
                       112, 113, 115, 116, 122, 124, 125, 127};
  test::TestRandom random(7);
  auto next = [&](uint32_t n) { return random.Next(n); };
  int compiled = 0;
  for (int round = 0; round < 20000; ++round) {
    std::u16string text(1 + next(12), u' ');
    for (char16_t& c : text) c = alphabet[next(static_cast<uint32_t>(alphabet.size()))];
    Pattern p;
    p.SetModifierStr(modifiers[next(7)]);
    p.SetExpression(text);
    try {
      p.Compile();
      ++compiled;
      EXPECT_FALSE(p.Dump().empty());
      std::u16string subject(next(10), u' ');
      for (char16_t& c : subject) c = alphabet[next(static_cast<uint32_t>(alphabet.size()))];
      for (bool found = p.Exec(subject); found; found = p.ExecNext()) {
        ASSERT_GE(p.MatchPos(0), 1);
        ASSERT_LE(p.MatchPos(0) + p.MatchLen(0), static_cast<int>(subject.size()) + 1);
      }
    } catch (const PatternError& e) {
      SCOPED_TRACE(U8(text));
      EXPECT_NE(std::find(std::begin(known), std::end(known), e.ErrorCode()), std::end(known))
          << e.what();
    }
  }
  EXPECT_GT(compiled, 2000);
}

}  // namespace
}  // namespace brevis
