// Pattern: the backtracking regular-expression engine for UTF-16 text. It compiles a pattern
// into a node program (program.h) and searches subjects with group capture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "regex/char_set.h"
#include "regex/error_codes.h"

namespace brevis {

struct Program;
class Matcher;

// Raised for every compile and execution error. what() is the message in UTF-8.
class PatternError : public std::runtime_error {
 public:
  PatternError(const std::string& message, int error_code, int compiler_error_pos)
      : std::runtime_error(message),
        errorCode_(error_code),
        compilerErrorPos_(compiler_error_pos) {}
  int ErrorCode() const { return errorCode_; }
  // Pattern units before the parse position for a compile error; 0 for other errors.
  int CompilerErrorPos() const { return compilerErrorPos_; }

 private:
  int errorCode_;
  int compilerErrorPos_;
};

// One engine object holds one pattern, its compiled program, one subject and the last match.
// Not for use by two threads at once. Errors are reported through Error(), which by default
// raises PatternError.
class Pattern {
 public:
  // Bounds on the matcher's nesting: one level per alternative tried (but the last),
  // loop iteration and backtracking repeat. A search that would nest deeper reports
  // kErrorNestingTooDeep. Ordinary patterns over long subjects stay shallow (their nesting
  // does not grow with the subject); loops over alternatives nest once per iteration.
  // The walk uses the calling thread's stack down to kWalkStackReserve above its end (a
  // quarter of the stack when that is smaller), so frames of any size and any stack size
  // end in the error, never an overflow; where the stack's extent is unknown it uses
  // kMaxWalkStackBytes. The level count bounds the walk on very large stacks.
  static constexpr int kMaxWalkDepth = 250000;
  static constexpr size_t kWalkStackReserve = size_t{256} << 10;
  static constexpr size_t kMaxWalkStackBytes = size_t{1} << 20;
  // Steps one search may take before it ends with kErrorSearchBudgetExceeded. A step is a node
  // the walk visits, a count a repetition tries, or a unit a repetition or a skip to its
  // look-ahead unit examines, so that the budget bounds the search's time whatever the
  // pattern: ordinary patterns take a few steps per subject unit.
  static constexpr int64_t kDefaultSearchBudget = 10'000'000;

  using InvertCaseFn = std::function<char16_t(char16_t)>;
  using ReplaceFn = std::function<std::u16string(Pattern&)>;

  Pattern();
  virtual ~Pattern();
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  // The pattern text. Setting a different text (or any text while nothing is compiled)
  // discards the compiled program; the empty text leaves no pattern (kErrorNoExpression on use).
  std::u16string Expression() const;
  void SetExpression(std::u16string_view expression);

  // Modifiers; a change takes effect at the next execution, which recompiles.
  bool ModifierI() const { return Modifier(1); }
  bool ModifierR() const { return Modifier(2); }
  bool ModifierS() const { return Modifier(3); }
  bool ModifierG() const { return Modifier(4); }
  bool ModifierM() const { return Modifier(5); }
  bool ModifierX() const { return Modifier(6); }
  void SetModifierI(bool on) { SetModifier(1, on); }
  void SetModifierR(bool on) { SetModifier(2, on); }
  void SetModifierS(bool on) { SetModifier(3, on); }
  void SetModifierG(bool on) { SetModifier(4, on); }
  void SetModifierM(bool on) { SetModifier(5, on); }
  void SetModifierX(bool on) { SetModifier(6, on); }
  // Index 1..6 for i, r, s, g, m, x; another index reports kErrorBadModifier.
  bool Modifier(int index) const;
  void SetModifier(int index, bool on);
  // "gsr-imx" for the defaults. Setting parses i r s g m x in either case, "-" turning the
  // following letters off; another character reports kErrorBadModifier and changes nothing.
  std::u16string ModifierStr() const;
  void SetModifierStr(std::u16string_view letters);

  const std::u16string& SpaceChars() const { return spaceChars_; }
  void SetSpaceChars(std::u16string_view chars);
  const std::u16string& WordChars() const { return wordChars_; }
  void SetWordChars(std::u16string_view chars);
  // A changed value discards the compiled program.
  const std::u16string& LineSeparators() const { return lineSeparators_; }
  void SetLineSeparators(std::u16string_view chars);
  // Empty, or exactly two different units (else kErrorBadLinePairedSeparator). A change discards
  // the program.
  std::u16string LinePairedSeparator() const;
  void SetLinePairedSeparator(std::u16string_view pair);

  // Case inversion used by the case-insensitive forms; InvertCaseFunction by default.
  // An empty function restores the default.
  const InvertCaseFn& InvertCase() const { return invertCase_; }
  void SetInvertCase(InvertCaseFn fn);
  // Units at or above U+20AC unchanged; below, the upper-case mapping when it differs from
  // the unit, else the lower-case mapping.
  static char16_t InvertCaseFunction(char16_t ch);

  // The step budget of each search (Exec, ExecPos, ExecNext, and each search of Replace and
  // Split); a value below 1 means no limit. Past it the search reports
  // kErrorSearchBudgetExceeded.
  int64_t SearchBudget() const { return searchBudget_; }
  void SetSearchBudget(int64_t steps);

  // Compiles the expression now (kErrorNoExpression without one).
  void Compile();
  // Units before the parse position while compiling; 0 otherwise.
  int CompilerErrorPos() const { return compiling_ ? compilerErrorPos_ : 0; }
  // Listing of the compiled program (compiling first when needed).
  std::u16string Dump();

  // Searches input from position 1. The subject is copied; a NUL ends it.
  bool Exec(std::u16string_view input);
  // Searches the current subject from 1-based `offset`.
  bool ExecPos(int offset = 1);
  // Continues after the current match (one unit further after an empty match).
  bool ExecNext();

  std::u16string InputString();
  void SetInputString(std::u16string_view input);

  // Group 0 is the whole match, 1..14 the capturing groups.
  std::u16string Match(int idx) const;
  int MatchPos(int idx) const;  // 1-based, or -1
  int MatchLen(int idx) const;  // or -1
  int SubExprMatchCount() const;

  // Returns the code of the last error and resets it.
  int LastError();
  virtual std::u16string ErrorMsg(int error_id) const;

  static int VersionMajor() { return 1; }
  static int VersionMinor() { return 0; }

  // Template with "$n", "${n}", "$&" replaced by groups of the current match; "\" quotes the
  // next unit.
  std::u16string Substitute(std::u16string_view templ);
  std::u16string Replace(std::u16string_view input, std::u16string_view replacement,
                         bool use_substitution = false);
  std::u16string ReplaceEx(std::u16string_view input, const ReplaceFn& replace);
  void Split(std::u16string_view input, std::vector<std::u16string>& pieces);

 protected:
  // Stores the code and raises PatternError. An override that returns makes the failing
  // operation give up (a search then returns false).
  virtual void Error(int error_id);

 private:
  bool ExecPrim(int offset);
  bool EnsureCompiled();
  void DiscardProgram();
  void ClearMatches();
  void AssignInput(std::u16string_view input);  // keeps the matches
  bool GroupValid(int idx) const;
  const char16_t* GroupStart(size_t idx) const;
  const char16_t* GroupEnd(size_t idx) const;
  int Offset(const char16_t* p) const { return static_cast<int>(p - input_.data()); }

  std::u16string expression_;
  bool hasExpression_ = false;
  bool exprIsCompiled_ = false;
  std::unique_ptr<Program> program_;
  std::unique_ptr<Matcher> matcher_;  // kept between searches to save its set-up
  // The matcher's context no longer describes the program and properties: set whenever the
  // program or the case inversion changes. (The character sets are members, so the
  // context's pointers to them stay valid; the paired separator discards the program.)
  bool matcherStale_ = true;
  uint32_t modifiers_;
  uint32_t progModifiers_ = 0;

  std::u16string spaceChars_;
  std::u16string wordChars_;
  std::u16string lineSeparators_;
  char16_t pairedHead_ = 0;
  char16_t pairedTail_ = 0;
  bool pairedAssigned_ = false;
  CharSet spaceSet_;
  CharSet wordSet_;
  CharSet lineSet_;
  InvertCaseFn invertCase_;
  bool defaultInvertCase_ = true;

  std::u16string input_;
  bool hasInput_ = false;
  size_t inputLen_ = 0;  // units of input_ before its first NUL: the searched subject
  // While hasMatch_, the matcher holds where the match's groups lie in input_ (or nullptr);
  // GroupStart and GroupEnd read them.
  bool hasMatch_ = false;

  int64_t searchBudget_ = kDefaultSearchBudget;
  bool compiling_ = false;
  int compilerErrorPos_ = 0;
  int lastError_ = 0;
};

}  // namespace brevis
