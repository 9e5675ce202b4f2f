// Pattern: the engine's calling interface (properties, searches, captures, substitution,
// error reporting). Compilation is in compiler.cpp, matching in matcher.cpp.
#include "regex/pattern.h"

#include <limits>
#include <utility>

#include "common/text.h"
#include "regex/case_table.h"
#include "regex/compiler.h"
#include "regex/dump.h"
#include "regex/matcher.h"
#include "regex/program.h"
#include "regex/scan.h"

namespace brevis {
namespace {

constexpr std::u16string_view kDefaultSpaceChars = u" \t\n\r\f";
constexpr std::u16string_view kDefaultWordChars =
    u"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
constexpr std::u16string_view kDefaultLineSeparators = u"\r\n\v\f\u2028\u2029";
constexpr char16_t kModifierLetters[] = u"irsgmx";

}  // namespace

Pattern::Pattern()
    : modifiers_(kModR | kModS | kModG),
      spaceChars_(kDefaultSpaceChars),
      wordChars_(kDefaultWordChars),
      lineSeparators_(kDefaultLineSeparators),
      pairedHead_(u'\r'),
      pairedTail_(u'\n'),
      pairedAssigned_(true),
      spaceSet_(kDefaultSpaceChars),
      wordSet_(kDefaultWordChars),
      lineSet_(kDefaultLineSeparators) {
  ClearMatches();
}

Pattern::~Pattern() = default;

std::u16string Pattern::Expression() const {
  return hasExpression_ ? expression_ : std::u16string();
}

void Pattern::SetExpression(std::u16string_view expression) {
  if (expression.empty()) {
    expression_.clear();
    hasExpression_ = false;
    DiscardProgram();
    return;
  }
  if (!hasExpression_ || !exprIsCompiled_ || expression != expression_) {
    expression_.assign(expression);
    hasExpression_ = true;
    DiscardProgram();
  }
}

bool Pattern::Modifier(int index) const {
  if (index < 1 || index > 6) {
    const_cast<Pattern*>(this)->Error(kErrorBadModifier);
    return false;
  }
  return (modifiers_ & (1u << (index - 1))) != 0;
}

void Pattern::SetModifier(int index, bool on) {
  if (index < 1 || index > 6) {
    Error(kErrorBadModifier);
    return;
  }
  const uint32_t bit = 1u << (index - 1);
  if (on)
    modifiers_ |= bit;
  else
    modifiers_ &= ~bit;
}

std::u16string Pattern::ModifierStr() const {
  std::u16string on;
  std::u16string off;
  for (int i = 0; i < 6; ++i) {
    if ((modifiers_ & (1u << i)) != 0)
      on.insert(on.begin(), kModifierLetters[i]);
    else
      off.push_back(kModifierLetters[i]);
  }
  return off.empty() ? on : on + u"-" + off;
}

void Pattern::SetModifierStr(std::u16string_view letters) {
  uint32_t mods = modifiers_;
  if (!ApplyModifierLetters(letters, mods)) {
    Error(kErrorBadModifier);
    return;
  }
  modifiers_ = mods;
}

void Pattern::SetSpaceChars(std::u16string_view chars) {
  spaceChars_.assign(chars);
  spaceSet_.Assign(chars);
  matcherStale_ = true;  // the matcher's start set may count these units
}

void Pattern::SetWordChars(std::u16string_view chars) {
  wordChars_.assign(chars);
  wordSet_.Assign(chars);
  matcherStale_ = true;  // the matcher's start set may count these units
}

void Pattern::SetLineSeparators(std::u16string_view chars) {
  if (chars == lineSeparators_) return;
  lineSeparators_.assign(chars);
  lineSet_.Assign(chars);
  DiscardProgram();
}

std::u16string Pattern::LinePairedSeparator() const {
  if (!pairedAssigned_) return {};
  return std::u16string{pairedHead_, pairedTail_};
}

void Pattern::SetLinePairedSeparator(std::u16string_view pair) {
  if (pair.empty()) {
    if (pairedAssigned_) {
      pairedAssigned_ = false;
      DiscardProgram();
    }
    return;
  }
  if (pair.size() != 2 || pair[0] == pair[1]) {
    Error(kErrorBadLinePairedSeparator);
    return;
  }
  if (pairedAssigned_ && pairedHead_ == pair[0] && pairedTail_ == pair[1]) return;
  pairedAssigned_ = true;
  pairedHead_ = pair[0];
  pairedTail_ = pair[1];
  DiscardProgram();
}

void Pattern::SetInvertCase(InvertCaseFn fn) {
  defaultInvertCase_ = !fn;
  invertCase_ = std::move(fn);
  matcherStale_ = true;
}

char16_t Pattern::InvertCaseFunction(char16_t ch) { return DefaultInvertCase(ch); }

void Pattern::DiscardProgram() {
  program_.reset();
  exprIsCompiled_ = false;
  matcherStale_ = true;
}

void Pattern::ClearMatches() { hasMatch_ = false; }

void Pattern::Compile() {
  if (!hasExpression_) {
    Error(kErrorNoExpression);
    return;
  }
  DiscardProgram();
  progModifiers_ = modifiers_;
  CompilerInput in;
  in.Text = expression_.c_str();
  in.Modifiers = modifiers_;
  in.SpaceChars = spaceChars_;
  in.WordChars = wordChars_;
  in.LineModePossible = !lineSeparators_.empty() || pairedAssigned_;
  auto prog = std::make_unique<Program>();
  const CompileStatus status = CompileProgram(in, *prog);
  if (status.Code != 0) {
    compiling_ = true;
    compilerErrorPos_ = status.Pos;
    try {
      Error(status.Code);
    } catch (...) {
      compiling_ = false;
      compilerErrorPos_ = 0;
      throw;
    }
    compiling_ = false;
    compilerErrorPos_ = 0;
    return;
  }
  program_ = std::move(prog);
  exprIsCompiled_ = true;
  matcherStale_ = true;
}

void Pattern::SetSearchBudget(int64_t steps) {
  searchBudget_ = steps;
  matcherStale_ = true;
}

bool Pattern::EnsureCompiled() {
  if (program_ != nullptr && modifiers_ != progModifiers_) DiscardProgram();
  if (program_ == nullptr) Compile();
  return program_ != nullptr;
}

std::u16string Pattern::Dump() {
  if (!EnsureCompiled()) return {};
  int error = 0;
  std::u16string text = DumpProgram(*program_, error);
  if (error != 0) Error(error);
  return text;
}

bool Pattern::ExecPrim(int offset) {
  ClearMatches();
  if (!EnsureCompiled()) return false;
  if (program_->Code.empty() || program_->Code[0] != kMagic) {
    Error(kErrorCorruptedProgram);
    return false;
  }
  if (!hasInput_) {
    Error(kErrorNoInputString);
    return false;
  }
  const char16_t* const begin = input_.c_str();
  const size_t len = inputLen_;
  if (offset < 1) {
    Error(kErrorOffsetNotPositive);
    return false;
  }
  if (static_cast<size_t>(offset) > len + 1) return false;

  if (matcher_ == nullptr) matcher_ = std::make_unique<Matcher>();
  Matcher& matcher = *matcher_;
  if (matcherStale_) {
    MatchContext ctx;
    ctx.Prog = program_.get();
    ctx.WordChars = &wordSet_;
    ctx.SpaceChars = &spaceSet_;
    ctx.LineSeparators = &lineSet_;
    ctx.PairedAssigned = pairedAssigned_;
    ctx.PairedHead = pairedHead_;
    ctx.PairedTail = pairedTail_;
    ctx.InvertCase = defaultInvertCase_ ? nullptr : &invertCase_;
    ctx.MaxDepth = kMaxWalkDepth;
    ctx.WalkStackReserve = kWalkStackReserve;
    ctx.MaxStackBytes = kMaxWalkStackBytes;
    ctx.StepBudget = searchBudget_;
    matcher.Reset(ctx);
    matcherStale_ = false;
  }
  matcher.SetSubject(begin, begin + len);
  bool found = false;
  try {
    found = matcher.Search(begin + offset - 1);
  } catch (const MatchError& e) {
    ClearMatches();
    Error(e.Code);
    return false;
  }
  if (!found) return false;
  // The match stays in the matcher until the next search. Entries of groups the program does
  // not have were cleared by Reset and stay unset.
  hasMatch_ = true;
  return true;
}

bool Pattern::Exec(std::u16string_view input) {
  AssignInput(input);  // the search clears the matches
  return ExecPrim(1);
}

bool Pattern::ExecPos(int offset) { return ExecPrim(offset); }

bool Pattern::ExecNext() {
  if (!GroupValid(0)) {
    Error(kErrorExecNextWithoutExec);
    return false;
  }
  int offset = Offset(GroupEnd(0));
  if (GroupStart(0) == GroupEnd(0)) ++offset;
  return ExecPrim(offset + 1);
}

std::u16string Pattern::InputString() {
  if (!hasInput_) {
    Error(kErrorInputStringNotSet);
    return {};
  }
  return input_;
}

void Pattern::SetInputString(std::u16string_view input) {
  ClearMatches();
  AssignInput(input);
}

void Pattern::AssignInput(std::u16string_view input) {
  const char16_t* const begin = input.data();
  const char16_t* const nul = FindUnit(begin, begin + input.size(), u'\0');
  inputLen_ = nul == nullptr ? input.size() : static_cast<size_t>(nul - begin);
  // Resizing keeps the storage (and does nothing for a subject of the same length); assign()
  // takes the general replacement path, which costs as much again for a short subject.
  input_.resize(input.size());
  std::char_traits<char16_t>::copy(input_.data(), input.data(), input.size());
  hasInput_ = true;
}

const char16_t* Pattern::GroupStart(size_t idx) const { return matcher_->startp[idx]; }
const char16_t* Pattern::GroupEnd(size_t idx) const { return matcher_->endp[idx]; }

bool Pattern::GroupValid(int idx) const {
  if (!hasMatch_ || idx < 0 || idx >= kMaxGroups || !hasInput_) {
    return false;
  }
  const auto i = static_cast<size_t>(idx);
  return GroupStart(i) != nullptr && GroupEnd(i) != nullptr;
}

std::u16string Pattern::Match(int idx) const {
  if (!GroupValid(idx)) return {};
  const auto i = static_cast<size_t>(idx);
  if (GroupEnd(i) <= GroupStart(i)) return {};
  return std::u16string(GroupStart(i), GroupEnd(i));
}

int Pattern::MatchPos(int idx) const {
  if (!GroupValid(idx)) return -1;
  return Offset(GroupStart(static_cast<size_t>(idx))) + 1;
}

int Pattern::MatchLen(int idx) const {
  if (!GroupValid(idx)) return -1;
  const auto i = static_cast<size_t>(idx);
  return GroupEnd(i) > GroupStart(i) ? static_cast<int>(GroupEnd(i) - GroupStart(i)) : 0;
}

int Pattern::SubExprMatchCount() const {
  if (!hasInput_) return -1;
  for (int i = 14; i >= 1; --i) {
    if (GroupValid(i)) return i;
  }
  return 0;
}

int Pattern::LastError() {
  const int code = lastError_;
  lastError_ = 0;
  return code;
}

std::u16string Pattern::ErrorMsg(int error_id) const {
  return Latin1ToUtf16(PatternErrorText(error_id));
}

void Pattern::Error(int error_id) {
  lastError_ = error_id;
  std::u16string msg = ErrorMsg(error_id);
  const int pos = CompilerErrorPos();
  if (error_id < kErrorRepeatCalledInappropriately)
    msg += u" (pos " + Latin1ToUtf16(std::to_string(pos)) + u")";
  throw PatternError(Utf16ToUtf8(msg), error_id, pos);
}

std::u16string Pattern::Substitute(std::u16string_view templ) {
  if (program_ == nullptr || !hasInput_) {
    Error(kErrorNoInputString);
    return {};
  }
  std::u16string out;
  const size_t n = templ.size();
  for (size_t i = 0; i < n;) {
    const char16_t c = templ[i];
    if (c == '\\' && i + 1 < n) {
      out.push_back(templ[i + 1]);
      i += 2;
      continue;
    }
    if (c == '$' && i + 1 < n) {
      const char16_t d = templ[i + 1];
      long group = -1;
      size_t after = i + 1;
      if (d == '&') {
        group = 0;
        after = i + 2;
      } else if (d >= '0' && d <= '9') {
        group = 0;
        for (after = i + 1; after < n && templ[after] >= '0' && templ[after] <= '9'; ++after) {
          if (group < 1000) group = group * 10 + (templ[after] - '0');
        }
      } else if (d == '{') {
        size_t j = i + 2;
        long value = 0;
        while (j < n && templ[j] >= '0' && templ[j] <= '9') {
          if (value < 1000) value = value * 10 + (templ[j] - '0');
          ++j;
        }
        if (j > i + 2 && j < n && templ[j] == '}') {
          group = value;
          after = j + 1;
        }
      }
      if (group >= 0) {
        if (group < 15) out += Match(static_cast<int>(group));
        i = after;
        continue;
      }
    }
    out.push_back(c);
    ++i;
  }
  return out;
}

std::u16string Pattern::Replace(std::u16string_view input, std::u16string_view replacement,
                                bool use_substitution) {
  return ReplaceEx(input, [&](Pattern& self) {
    return use_substitution ? self.Substitute(replacement) : std::u16string(replacement);
  });
}

std::u16string Pattern::ReplaceEx(std::u16string_view input, const ReplaceFn& replace) {
  std::u16string result;
  size_t prev = 0;
  bool found = Exec(input);
  const std::u16string subject = input_;
  while (found) {
    const auto start = static_cast<size_t>(Offset(GroupStart(0)));
    result.append(subject, prev, start - prev);
    result += replace(*this);
    prev = static_cast<size_t>(Offset(GroupEnd(0)));
    found = ExecNext();
  }
  result.append(subject, prev, std::u16string::npos);
  return result;
}

void Pattern::Split(std::u16string_view input, std::vector<std::u16string>& pieces) {
  size_t prev = 0;
  bool found = Exec(input);
  const std::u16string subject = input_;
  while (found) {
    const auto start = static_cast<size_t>(Offset(GroupStart(0)));
    pieces.push_back(subject.substr(prev, start - prev));
    prev = static_cast<size_t>(Offset(GroupEnd(0)));
    found = ExecNext();
  }
  pieces.push_back(subject.substr(prev));
}

}  // namespace brevis
