// Differential test: the engine against PCRE2 (16-bit, interpreter) on the syntax both share:
// literals, classes, \d \w \s, greedy and non-greedy * + ? {n,m}, alternation, groups, ^ and $
// without m, and \b. Compares whether each search matches, the match span and every group span.
#include <gtest/gtest.h>
#include <pcre2.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "regex/pattern.h"
#include "regex/tests/test_util.h"

namespace brevis {
namespace {

using test::U8;

struct Modifiers {
  bool i = false;  // case-insensitive
  bool s = true;   // "." matches line breaks
  bool g = true;   // greedy quantifiers
};

// Compiles with PCRE2 options that mirror our modifiers: s on is DOTALL, "$" only at the very
// end is DOLLAR_ENDONLY, g off is UNGREEDY (the generator then writes no "?" suffixes).
class Pcre {
 public:
  Pcre(const std::u16string& pattern, const Modifiers& mods) {
    uint32_t options = PCRE2_DOLLAR_ENDONLY;
    if (mods.s) options |= PCRE2_DOTALL;
    if (mods.i) options |= PCRE2_CASELESS;
    if (!mods.g) options |= PCRE2_UNGREEDY;
    ctx_ = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(ctx_, PCRE2_NEWLINE_LF);
    int err = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options,
                          &err, &offset, ctx_);
    if (code_ != nullptr) data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
  }
  ~Pcre() {
    if (data_ != nullptr) pcre2_match_data_free(data_);
    if (code_ != nullptr) pcre2_code_free(code_);
    pcre2_compile_context_free(ctx_);
  }
  Pcre(const Pcre&) = delete;
  Pcre& operator=(const Pcre&) = delete;

  bool ok() const { return code_ != nullptr; }

  // "pos:len" per group (0-based pos), "-" when unset; "no" without a match.
  std::string Spans(const std::u16string& subject, int groups) {
    const int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                               0, 0, data_, nullptr);
    if (rc == PCRE2_ERROR_NOMATCH) return "no";
    if (rc < 0) return "pcre error " + std::to_string(rc);
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
    std::string out;
    for (int g = 0; g <= groups; ++g) {
      if (g > 0) out += ' ';
      const PCRE2_SIZE b = ov[2 * g];
      const PCRE2_SIZE e = ov[2 * g + 1];
      if (g >= rc || b == PCRE2_UNSET) {
        out += '-';
      } else {
        out += std::to_string(b) + ":" + std::to_string(e - b);
      }
    }
    return out;
  }

 private:
  pcre2_compile_context* ctx_ = nullptr;
  pcre2_code* code_ = nullptr;
  pcre2_match_data* data_ = nullptr;
};

std::string OurSpans(Pattern& p, const std::u16string& subject, int groups) {
  if (!p.Exec(subject)) return "no";
  std::string out;
  for (int g = 0; g <= groups; ++g) {
    if (g > 0) out += ' ';
    if (p.MatchPos(g) < 0) {
      out += '-';
    } else {
      out += std::to_string(p.MatchPos(g) - 1) + ":" + std::to_string(p.MatchLen(g));
    }
  }
  return out;
}

int CountGroups(const std::u16string& pattern) {
  int n = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '\\') {
      ++i;
    } else if (pattern[i] == '[') {
      // Skip the class body: "]" right after "[" or "[^" is a member.
      size_t j = i + 1;
      if (j < pattern.size() && pattern[j] == '^') ++j;
      if (j < pattern.size() && pattern[j] == ']') ++j;
      while (j < pattern.size() && pattern[j] != ']') j += pattern[j] == '\\' ? 2u : 1u;
      i = j;
    } else if (pattern[i] == '(') {
      ++n;
    }
  }
  return n;
}

// Seeded generator of patterns from the shared syntax. It follows the engine's rule that
// "*", "+" and "{}" need an operand that cannot match the empty string, so every pattern
// compiles.
class Generator {
 public:
  explicit Generator(uint64_t seed) : random_(seed) {}

  uint32_t Next(uint32_t n) { return random_.Next(n); }
  bool Chance(uint32_t percent) { return random_.Chance(percent); }

  std::u16string PatternText(bool lazy_allowed) {
    groups_ = 0;
    lazyAllowed_ = lazy_allowed;
    bool width = false;
    std::u16string text;
    // The empty text is no pattern for the engine; draw again.
    while (text.empty()) text = Alternation(0, width);
    return text;
  }

  std::u16string Subject() {
    static const char16_t kAlphabet[] = u"aabbc01 _-.\nA";
    std::u16string s;
    const uint32_t len = Next(12);
    for (uint32_t k = 0; k < len; ++k) s.push_back(kAlphabet[Next(sizeof(kAlphabet) / 2 - 1)]);
    return s;
  }

 private:
  std::u16string Alternation(int depth, bool& width) {
    const uint32_t n = Chance(75) ? 1 : 2 + Next(2);
    std::u16string out;
    width = true;
    for (uint32_t k = 0; k < n; ++k) {
      if (k > 0) out += u'|';
      bool w = false;
      out += Branch(depth, w);
      width = width && w;
    }
    return out;
  }

  std::u16string Branch(int depth, bool& width) {
    const uint32_t n = Chance(5) ? 0 : 1 + Next(4);
    std::u16string out;
    width = false;
    for (uint32_t k = 0; k < n; ++k) {
      bool w = false;
      out += Piece(depth, w);
      width = width || w;
    }
    return out;
  }

  std::u16string Piece(int depth, bool& width) {
    bool atom_width = false;
    bool anchor = false;
    const std::u16string atom = Atom(depth, atom_width, anchor);
    width = atom_width;
    // PCRE2 repeats no anchors.
    if (anchor || !Chance(35)) return atom;
    std::u16string q;
    if (!atom_width) {
      q = u"?";
      width = false;
    } else {
      switch (Next(6)) {
        case 0:
          q = u"*";
          width = false;
          break;
        case 1:
          q = u"+";
          width = true;
          break;
        case 2:
          q = u"?";
          width = false;
          break;
        case 3: {
          const uint32_t n = Next(3);
          q = u"{" + Num(n) + u"}";
          width = n > 0;
          break;
        }
        case 4: {
          const uint32_t n = Next(3);
          q = u"{" + Num(n) + u",}";
          width = true;
          break;
        }
        default: {
          const uint32_t n = Next(3);
          const uint32_t m = n + Next(3);
          q = u"{" + Num(n) + u"," + Num(m) + u"}";
          width = m > 0;
          break;
        }
      }
    }
    if (lazyAllowed_ && Chance(30)) q += u'?';
    return atom + q;
  }

  static std::u16string Num(uint32_t n) {
    return std::u16string(1, static_cast<char16_t>('0' + n));
  }

  std::u16string Atom(int depth, bool& width, bool& anchor) {
    width = true;
    const uint32_t kind = Next(100);
    if (kind < 40) {
      static const char16_t kLiterals[] = u"aabbc01 _-";
      return std::u16string(1, kLiterals[Next(sizeof(kLiterals) / 2 - 1)]);
    }
    if (kind < 44) return u"\\.";
    if (kind < 50) return u".";
    if (kind < 62) return ClassText();
    if (kind < 70) {
      static const char16_t* const kEscapes[] = {u"\\d", u"\\w", u"\\s", u"\\D", u"\\W", u"\\S"};
      return kEscapes[Next(6)];
    }
    if (kind < 76) {
      width = false;
      anchor = true;
      static const char16_t* const kAnchors[] = {u"\\b", u"\\B", u"^", u"$"};
      return kAnchors[Next(4)];
    }
    if (depth < 3 && groups_ < 14) {
      ++groups_;
      bool w = false;
      const std::u16string body = Alternation(depth + 1, w);
      width = w;
      return u"(" + body + u")";
    }
    return u"a";
  }

  std::u16string ClassText() {
    std::u16string out = u"[";
    if (Chance(30)) out += u'^';
    const uint32_t n = 1 + Next(3);
    for (uint32_t k = 0; k < n; ++k) {
      switch (Next(6)) {
        case 0:
          out += u"a-c";
          break;
        case 1:
          out += u"0-1";
          break;
        case 2:
          out += u"\\d";
          break;
        case 3:
          out += u"\\s";
          break;
        case 4:
          out += u"\\-";
          break;
        default: {
          static const char16_t kMembers[] = u"ab_. A";
          out += kMembers[Next(sizeof(kMembers) / 2 - 1)];
        }
      }
    }
    return out + u"]";
  }

  test::TestRandom random_;
  int groups_ = 0;
  bool lazyAllowed_ = true;
};

void ApplyModifiers(Pattern& p, const Modifiers& mods) {
  p.SetModifierI(mods.i);
  p.SetModifierS(mods.s);
  p.SetModifierG(mods.g);
}

TEST(DifferentialTest, GeneratedPatternsAgreeWithPcre2) {
  Generator gen(20100410);
  int compared = 0;
  int matched = 0;
  int failures = 0;
  for (int n = 0; n < 4000; ++n) {
    Modifiers mods;
    mods.i = gen.Chance(15);
    mods.s = !gen.Chance(15);
    mods.g = !gen.Chance(10);
    const std::u16string expr = gen.PatternText(mods.g);
    Pcre pcre(expr, mods);
    ASSERT_TRUE(pcre.ok()) << U8(expr);
    Pattern ours;
    ApplyModifiers(ours, mods);
    ours.SetExpression(expr);
    const int groups = CountGroups(expr);
    for (int k = 0; k < 4; ++k) {
      const std::u16string subject = gen.Subject();
      std::string mine;
      try {
        mine = OurSpans(ours, subject, groups);
      } catch (const PatternError& e) {
        mine = e.what();
      }
      const std::string theirs = pcre.Spans(subject, groups);
      ++compared;
      if (theirs != "no") ++matched;
      if (mine != theirs && ++failures <= 20) {
        ADD_FAILURE() << "pattern /" << U8(expr) << "/ i=" << mods.i << " s=" << mods.s
                      << " g=" << mods.g << " subject \"" << U8(subject) << "\": ours " << mine
                      << ", PCRE2 " << theirs;
      }
    }
  }
  EXPECT_EQ(failures, 0);
  // The generator must exercise both outcomes.
  EXPECT_GT(matched, compared / 4);
  EXPECT_LT(matched, compared * 9 / 10);
}

struct FixedCase {
  const char16_t* pattern;
  const char16_t* subject;
};

// Cases where backtracking engines are easy to get wrong, checked against PCRE2 as well.
// clang-format off
const FixedCase kFixed[] = {
    // Counted loops that backtrack into earlier iterations.
    {u"(a|ab){2}c", u"aabc"},
    {u"(a|ab){2,3}?c", u"ababc"},
    {u"((ab){1,2}c){2}", u"abcababc"},
    {u"(a|b|ab){1,3}?bc", u"abababc"},
    // Loops whose body can match the empty string.
    {u"(a{0,1})*b", u"b"},
    {u"(a{0,2})*b", u"aaaab"},
    {u"(a{0,2})+b", u"b"},
    {u"(a{0,2})*?b", u"aab"},
    {u"(a{0,2}){3,}b", u"ab"},
    {u"(a{0,2}){2,5}?b", u"b"},
    {u"(\\ba|a{0,3})*$", u"aa"},
    {u"(a|b{0,1})*c", u"abbc"},
    {u"((a{0,1})b{0,1})*c", u"abac"},
    // Back references.
    {u"(a+)b\\1", u"aaabaa"},
    {u"(ab)\\1*c", u"ababc"},
    {u"(ab)\\1{2}", u"abababab"},
    {u"(a*)\\1+b", u"b"},
    {u"(a)|\\1b", u"b"},
    {u"(a|b)\\1+", u"abbba"},
    // Alternation order and group reuse.
    {u"(a|ab)(c|bcd)(d*)", u"abcd"},
    {u"((a)|b)+", u"ab"},
    {u"(a)|b", u"b"},
};
// clang-format on

TEST(DifferentialTest, FixedCasesAgreeWithPcre2) {
  for (const FixedCase& c : kFixed) {
    SCOPED_TRACE(U8(c.pattern) + " on " + U8(c.subject));
    const std::u16string expr(c.pattern);
    const std::u16string subject(c.subject);
    Modifiers mods;
    Pcre pcre(expr, mods);
    ASSERT_TRUE(pcre.ok());
    Pattern ours;
    ours.SetExpression(expr);
    std::string mine;
    try {
      mine = OurSpans(ours, subject, CountGroups(expr));
    } catch (const PatternError& e) {
      mine = e.what();
    }
    EXPECT_EQ(mine, pcre.Spans(subject, CountGroups(expr)));
  }
}

}  // namespace
}  // namespace brevis
