// Pattern: the engine's calling interface (properties, searches, captures, substitution,
// error reporting). Compilation is in compiler.cpp, matching in matcher.cpp.
#include "regex/pattern.h"

#include <limits>
#include <utility>

#include "common/text.h"
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

std::u16string Ascii(const char* s) {
  std::u16string out;
  for (; *s != 0; ++s) out.push_back(static_cast<char16_t>(*s));
  return out;
}

}  // namespace

Pattern::Pattern()
    : modifiers_(kModR | kModS | kModG),
      space_chars_(kDefaultSpaceChars),
      word_chars_(kDefaultWordChars),
      line_separators_(kDefaultLineSeparators),
      paired_head_(u'\r'),
      paired_tail_(u'\n'),
      paired_assigned_(true),
      space_set_(kDefaultSpaceChars),
      word_set_(kDefaultWordChars),
      line_set_(kDefaultLineSeparators) {
  ClearMatches();
}

Pattern::~Pattern() = default;

std::u16string Pattern::Expression() const {
  return has_expression_ ? expression_ : std::u16string();
}

void Pattern::SetExpression(std::u16string_view expression) {
  if (expression.empty()) {
    expression_.clear();
    has_expression_ = false;
    DiscardProgram();
    return;
  }
  if (!has_expression_ || !expr_is_compiled_ || expression != expression_) {
    expression_.assign(expression);
    has_expression_ = true;
    DiscardProgram();
  }
}

bool Pattern::Modifier(int index) const {
  if (index < 1 || index > 6) {
    const_cast<Pattern*>(this)->Error(1013);
    return false;
  }
  return (modifiers_ & (1u << (index - 1))) != 0;
}

void Pattern::SetModifier(int index, bool on) {
  if (index < 1 || index > 6) {
    Error(1013);
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
    Error(1013);
    return;
  }
  modifiers_ = mods;
}

void Pattern::SetSpaceChars(std::u16string_view chars) {
  space_chars_.assign(chars);
  space_set_.Assign(chars);
  matcher_stale_ = true;  // the matcher's start set may count these units
}

void Pattern::SetWordChars(std::u16string_view chars) {
  word_chars_.assign(chars);
  word_set_.Assign(chars);
  matcher_stale_ = true;  // the matcher's start set may count these units
}

void Pattern::SetLineSeparators(std::u16string_view chars) {
  if (chars == line_separators_) return;
  line_separators_.assign(chars);
  line_set_.Assign(chars);
  DiscardProgram();
}

std::u16string Pattern::LinePairedSeparator() const {
  if (!paired_assigned_) return {};
  return std::u16string{paired_head_, paired_tail_};
}

void Pattern::SetLinePairedSeparator(std::u16string_view pair) {
  if (pair.empty()) {
    if (paired_assigned_) {
      paired_assigned_ = false;
      DiscardProgram();
    }
    return;
  }
  if (pair.size() != 2 || pair[0] == pair[1]) {
    Error(128);
    return;
  }
  if (paired_assigned_ && paired_head_ == pair[0] && paired_tail_ == pair[1]) return;
  paired_assigned_ = true;
  paired_head_ = pair[0];
  paired_tail_ = pair[1];
  DiscardProgram();
}

void Pattern::SetInvertCase(InvertCaseFn fn) {
  default_invert_case_ = !fn;
  invert_case_ = std::move(fn);
  matcher_stale_ = true;
}

char16_t Pattern::InvertCaseFunction(char16_t ch) { return DefaultInvertCase(ch); }

void Pattern::DiscardProgram() {
  program_.reset();
  expr_is_compiled_ = false;
  matcher_stale_ = true;
}

void Pattern::ClearMatches() { has_match_ = false; }

void Pattern::Compile() {
  if (!has_expression_) {
    Error(1003);
    return;
  }
  DiscardProgram();
  prog_modifiers_ = modifiers_;
  CompilerInput in;
  in.text = expression_.c_str();
  in.modifiers = modifiers_;
  in.space_chars = space_chars_;
  in.word_chars = word_chars_;
  in.line_mode_possible = !line_separators_.empty() || paired_assigned_;
  auto prog = std::make_unique<Program>();
  const CompileStatus status = CompileProgram(in, *prog);
  if (status.code != 0) {
    compiling_ = true;
    compiler_error_pos_ = status.pos;
    try {
      Error(status.code);
    } catch (...) {
      compiling_ = false;
      compiler_error_pos_ = 0;
      throw;
    }
    compiling_ = false;
    compiler_error_pos_ = 0;
    return;
  }
  program_ = std::move(prog);
  expr_is_compiled_ = true;
  matcher_stale_ = true;
}

void Pattern::SetSearchBudget(int64_t steps) {
  search_budget_ = steps;
  matcher_stale_ = true;
}

bool Pattern::EnsureCompiled() {
  if (program_ != nullptr && modifiers_ != prog_modifiers_) DiscardProgram();
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
  if (program_->code.empty() || program_->code[0] != kMagic) {
    Error(1004);
    return false;
  }
  if (!has_input_) {
    Error(1005);
    return false;
  }
  const char16_t* const begin = input_.c_str();
  const size_t len = input_len_;
  if (offset < 1) {
    Error(1006);
    return false;
  }
  if (static_cast<size_t>(offset) > len + 1) return false;

  if (matcher_ == nullptr) matcher_ = std::make_unique<Matcher>();
  Matcher& matcher = *matcher_;
  if (matcher_stale_) {
    MatchContext ctx;
    ctx.program = program_.get();
    ctx.word_chars = &word_set_;
    ctx.space_chars = &space_set_;
    ctx.line_separators = &line_set_;
    ctx.paired_assigned = paired_assigned_;
    ctx.paired_head = paired_head_;
    ctx.paired_tail = paired_tail_;
    ctx.invert_case = default_invert_case_ ? nullptr : &invert_case_;
    ctx.max_depth = kMaxWalkDepth;
    ctx.walk_stack_reserve = kWalkStackReserve;
    ctx.max_stack_bytes = kMaxWalkStackBytes;
    ctx.step_budget = search_budget_;
    matcher.Reset(ctx);
    matcher_stale_ = false;
  }
  matcher.SetSubject(begin, begin + len);
  bool found = false;
  try {
    found = matcher.Search(begin + offset - 1);
  } catch (const MatchError& e) {
    ClearMatches();
    Error(e.code);
    return false;
  }
  if (!found) return false;
  // The match stays in the matcher until the next search. Entries of groups the program does
  // not have were cleared by Reset and stay unset.
  has_match_ = true;
  return true;
}

bool Pattern::Exec(std::u16string_view input) {
  AssignInput(input);  // the search clears the matches
  return ExecPrim(1);
}

bool Pattern::ExecPos(int offset) { return ExecPrim(offset); }

bool Pattern::ExecNext() {
  if (!GroupValid(0)) {
    Error(1007);
    return false;
  }
  int offset = Offset(GroupEnd(0));
  if (GroupStart(0) == GroupEnd(0)) ++offset;
  return ExecPrim(offset + 1);
}

std::u16string Pattern::InputString() {
  if (!has_input_) {
    Error(1008);
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
  input_len_ = nul == nullptr ? input.size() : static_cast<size_t>(nul - begin);
  // Resizing keeps the storage (and does nothing for a subject of the same length); assign()
  // takes the general replacement path, which costs as much again for a short subject.
  input_.resize(input.size());
  std::char_traits<char16_t>::copy(input_.data(), input.data(), input.size());
  has_input_ = true;
}

const char16_t* Pattern::GroupStart(size_t idx) const { return matcher_->startp[idx]; }
const char16_t* Pattern::GroupEnd(size_t idx) const { return matcher_->endp[idx]; }

bool Pattern::GroupValid(int idx) const {
  if (!has_match_ || idx < 0 || idx >= kMaxGroups || !has_input_) {
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
  if (!has_input_) return -1;
  for (int i = 14; i >= 1; --i) {
    if (GroupValid(i)) return i;
  }
  return 0;
}

int Pattern::LastError() {
  const int code = last_error_;
  last_error_ = 0;
  return code;
}

std::u16string Pattern::ErrorMsg(int error_id) const {
  const char* msg = "Unknown error";
  switch (error_id) {
    case 0:
      msg = "No errors";
      break;
    case 100:
      msg = "Pattern(comp): Null Argument";
      break;
    case 101:
      msg = "Pattern(comp): Regexp Too Big";
      break;
    case 102:
      msg = "Pattern(comp): ParseReg Too Many ()";
      break;
    case 103:
      msg = "Pattern(comp): ParseReg Unmatched ()";
      break;
    case 104:
      msg = "Pattern(comp): ParseReg Unmatched ()";
      break;
    case 105:
      msg = "Pattern(comp): ParseReg Junk On End";
      break;
    case 106:
      msg = "Pattern(comp): *+ Operand Could Be Empty";
      break;
    case 107:
      msg = "Pattern(comp): Nested *?+";
      break;
    case 108:
      msg = "Pattern(comp): Bad Hex Digit";
      break;
    case 109:
      msg = "Pattern(comp): Invalid [] Range";
      break;
    case 110:
      msg = "Pattern(comp): Parse Atom Trailing \\";
      break;
    case 111:
      msg = "Pattern(comp): No Hex Code After \\x";
      break;
    case 112:
      msg = "Pattern(comp): Hex Code After \\x Is Too Big";
      break;
    case 113:
      msg = "Pattern(comp): Unmatched []";
      break;
    case 114:
      msg = "Pattern(comp): Internal Urp";
      break;
    case 115:
      msg = "Pattern(comp): ?+*{ Follows Nothing";
      break;
    case 116:
      msg = "Pattern(comp): Trailing \\";
      break;
    case 119:
      msg = "Pattern(comp): ParseAtom Internal Disaster";
      break;
    case 122:
      msg = "Pattern(comp): BRACES Argument Too Big";
      break;
    case 124:
      msg = "Pattern(comp): BRACE Min Param Greater Than Max";
      break;
    case 125:
      msg = "Pattern(comp): Unclosed (?#Comment)";
      break;
    case 127:
      msg = "Pattern(comp): Unrecognized Modifier";
      break;
    case 128:
      msg =
          "Pattern(comp): LinePairedSeparator must contain two different chars or no chars at all";
      break;
    case 1000:
      msg = "Pattern(exec): RegRepeat Called Inappropriately";
      break;
    case 1001:
      msg = "Pattern(exec): MatchPrim Memory Corruption";
      break;
    case 1002:
      msg = "Pattern(exec): MatchPrim Corrupted Pointers";
      break;
    case 1003:
      msg = "Pattern(exec): Not Assigned Expression Property";
      break;
    case 1004:
      msg = "Pattern(exec): Corrupted Program";
      break;
    case 1005:
      msg = "Pattern(exec): No Input String Specified";
      break;
    case 1006:
      msg = "Pattern(exec): Offset Must Be Greater Than 0";
      break;
    case 1007:
      msg = "Pattern(exec): ExecNext Without Exec[Pos]";
      break;
    case 1008:
      msg = "Pattern(exec): GetInputString Without InputString";
      break;
    case 1011:
      msg = "Pattern(dump): Corrupted Opcode";
      break;
    case 1014:
      msg = "Pattern(exec): Loop Stack Exceeded";
      break;
    case 1015:
      msg = "Pattern(exec): Loop Without LoopEntry !";
      break;
    case kErrorNestingTooDeep:
      msg = "Pattern(exec): Match Nesting Too Deep (subject too long for this pattern)";
      break;
    case kErrorSearchBudgetExceeded:
      msg =
          "Pattern(exec): Search Step Budget Exceeded (pattern backtracks too much on this "
          "subject)";
      break;
    case 2000:
      msg = "Pattern(misc): Bad p-code imported";
      break;
    default:
      break;
  }
  return Ascii(msg);
}

void Pattern::Error(int error_id) {
  last_error_ = error_id;
  std::u16string msg = ErrorMsg(error_id);
  const int pos = CompilerErrorPos();
  if (error_id < 1000) msg += u" (pos " + Ascii(std::to_string(pos).c_str()) + u")";
  throw PatternError(Utf16ToUtf8(msg), error_id, pos);
}

std::u16string Pattern::Substitute(std::u16string_view templ) {
  if (program_ == nullptr || !has_input_) {
    Error(1005);
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
