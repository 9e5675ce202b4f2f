// Pattern compiler: recursive descent over the pattern text, run twice (sizing, then emitting),
// then the loop exits and start facts (start_facts.cpp) of the finished program.
#include "regex/compiler.h"

#include <cstring>

#include "common/ascii_text.h"
#include "regex/error_codes.h"
#include "regex/start_facts.h"

namespace brevis {
namespace {

// Parse flags of an item.
constexpr int kWorst = 0;
constexpr int kHasWidth = 1;  // never matches the empty string
constexpr int kSimple = 2;    // exactly one unit: may be repeated by the fast repeat nodes
constexpr int kSpStart = 4;   // begins with a repetition: a required literal is worth finding

struct Failure {
  int Code;
};

bool IsQuantifier(char16_t c) { return c == '*' || c == '+' || c == '?' || c == '{'; }
bool IsMeta(char16_t c) {
  return c != 0 && std::u16string_view(u"^$.[()|?+*\\{").find(c) != std::u16string_view::npos;
}
bool IsExtendedSpace(char16_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexValue(char16_t c) {
  if (ascii::IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char16_t OpenOp(int n) { return static_cast<char16_t>(OPEN + n); }
char16_t CloseOp(int n) { return static_cast<char16_t>(CLOSE + n); }

// One pass over the pattern. With code == nullptr it only counts units (sizing pass); every
// emitting helper then returns node index 0, which no real node has (unit 0 is the mark).
class Compiler {
 public:
  // capacity: units available at code (the sizing pass's result); unused when sizing.
  Compiler(const CompilerInput& in, char16_t* code, int capacity)
      : in_(in), code_(code), capacity_(capacity) {
    regparse_ = in.Text;
    mods_ = in.Modifiers;
    if (code_ != nullptr) {
      Reserve(1);
      code_[regcode_++] = kMagic;
    } else {
      regsize_ = 1;
    }
  }

  int Run() {
    int flags = 0;
    ParseReg(false, flags);
    return flags;
  }

  int Size() const { return regsize_; }
  int Emitted() const { return regcode_; }
  int Groups() const { return regnpar_ - 1; }
  int Position() const { return static_cast<int>(regparse_ - in_.Text); }

 private:
  bool Emitting() const { return code_ != nullptr; }

  // Guards the emitting pass against writing past the sized array.
  void Reserve(int units) const {
    if (regcode_ + units > capacity_) throw Failure{kErrorInternalUrp};
  }

  int EmitNode(char16_t op) {
    if (!Emitting()) {
      regsize_ += kNodeSize;
      return 0;
    }
    Reserve(kNodeSize);
    const int at = regcode_;
    code_[at] = op;
    code_[at + 1] = 0;
    code_[at + 2] = 0;
    regcode_ += kNodeSize;
    return at;
  }

  void EmitUnit(char16_t c) {
    if (!Emitting()) {
      ++regsize_;
      return;
    }
    Reserve(1);
    code_[regcode_++] = c;
  }

  void EmitInt(int32_t v) {
    if (!Emitting()) {
      regsize_ += kIntSize;
      return;
    }
    Reserve(kIntSize);
    WriteInt(code_ + regcode_, v);
    regcode_ += kIntSize;
  }

  // Inserts an operator node of `size` units (node plus zeroed integers) in front of the
  // already emitted item that starts at `at`.
  void Insert(char16_t op, int at, int size) {
    if (!Emitting()) {
      regsize_ += size;
      return;
    }
    Reserve(size);
    std::memmove(code_ + at + size, code_ + at,
                 static_cast<size_t>(regcode_ - at) * sizeof(char16_t));
    regcode_ += size;
    for (int i = 0; i < size; ++i) code_[at + i] = 0;
    code_[at] = op;
  }

  int NextIndex(int node) const {
    const int32_t off = ReadInt(code_ + node + 1);
    return off == 0 ? 0 : node + off;
  }

  // Links the last node of the chain starting at p to val.
  void Tail(int p, int val) {
    if (!Emitting() || p == 0) return;
    int scan = p;
    for (int next = NextIndex(scan); next != 0; next = NextIndex(scan)) scan = next;
    WriteInt(code_ + scan + 1, val - scan);
  }

  // Tail on the alternative of a BRANCH; nothing for other nodes.
  void OpTail(int p, int val) {
    if (!Emitting() || p == 0 || code_[p] != BRANCH) return;
    Tail(p + kNodeSize, val);
  }

  // Expression: branches separated by "|", closed by END or CLOSE[n].
  int ParseReg(bool paren, int& flags) {
    flags = kHasWidth;
    const uint32_t saved_mods = mods_;
    int ret = 0;
    int parno = 0;
    if (paren) {
      if (regnpar_ >= kMaxGroups) throw Failure{kErrorTooManyGroups};
      parno = regnpar_++;
      ret = EmitNode(OpenOp(parno));
    }
    int branch_flags = 0;
    const int br = ParseBranch(branch_flags);
    if (paren)
      Tail(ret, br);
    else
      ret = br;
    // The chain's last BRANCH, kept so that linking the next one does not walk the chain:
    // compiling stays linear in the number of alternatives.
    int last = br;
    if ((branch_flags & kHasWidth) == 0) flags &= ~kHasWidth;
    flags |= branch_flags & kSpStart;
    while (*regparse_ == '|') {
      ++regparse_;
      const int next_br = ParseBranch(branch_flags);
      Tail(last, next_br);
      last = next_br;
      if ((branch_flags & kHasWidth) == 0) flags &= ~kHasWidth;
      flags |= branch_flags & kSpStart;
    }
    const int ender = EmitNode(paren ? CloseOp(parno) : static_cast<char16_t>(END));
    Tail(last, ender);
    if (Emitting()) {
      for (int b = ret; b != 0; b = NextIndex(b)) OpTail(b, ender);
    }
    if (paren) {
      if (*regparse_ != ')') throw Failure{kErrorUnmatchedOpen};
      ++regparse_;
    } else if (*regparse_ != 0) {
      throw Failure{*regparse_ == ')' ? kErrorUnmatchedClose : kErrorJunkOnEnd};
    }
    mods_ = saved_mods;
    return ret;
  }

  // Branch: a BRANCH node, then pieces up to NUL, "|" or ")".
  int ParseBranch(int& flags) {
    flags = kWorst;
    const int ret = EmitNode(BRANCH);
    int chain = 0;
    bool first = true;
    while (*regparse_ != 0 && *regparse_ != '|' && *regparse_ != ')') {
      int piece_flags = 0;
      const int latest = ParsePiece(piece_flags);
      flags |= piece_flags & kHasWidth;
      if (first)
        flags |= piece_flags & kSpStart;
      else
        Tail(chain, latest);
      chain = latest;
      first = false;
    }
    if (first) EmitNode(NOTHING);
    return ret;
  }

  int32_t ParseBraceNumber(const char16_t* b, const char16_t* e) {
    if (e - b > 8) {
      regparse_ = e;
      throw Failure{kErrorBracesArgumentTooBig};
    }
    int32_t v = 0;
    for (const char16_t* p = b; p < e; ++p) v = v * 10 + (*p - '0');
    return v;
  }

  // Piece: an atom with an optional quantifier.
  int ParsePiece(int& flags) {
    int atom_flags = 0;
    const int ret = ParseAtom(atom_flags);
    const char16_t op = *regparse_;
    if (!IsQuantifier(op)) {
      flags = atom_flags;
      return ret;
    }
    if ((atom_flags & kHasWidth) == 0 && op != '?') throw Failure{kErrorOperandCouldBeEmpty};

    int32_t bmin = 0;
    int32_t bmax = 0;
    if (op == '{') {
      // "{" digits ("}" | "," digits* "}"); any other shape leaves "{" to the next atom.
      const char16_t* p = regparse_ + 1;
      const char16_t* const min_begin = p;
      while (ascii::IsDigit(*p)) ++p;
      const char16_t* const min_end = p;
      if (min_end == min_begin || (*p != '}' && *p != ',')) {
        flags = atom_flags;
        return ret;
      }
      const char16_t* max_begin = nullptr;
      const char16_t* max_end = nullptr;
      if (*p == ',') {
        max_begin = ++p;
        while (ascii::IsDigit(*p)) ++p;
        max_end = p;
        if (*p != '}') {
          flags = atom_flags;
          return ret;
        }
      }
      bmin = ParseBraceNumber(min_begin, min_end);
      if (max_begin == nullptr)
        bmax = bmin;
      else if (max_begin == max_end)
        bmax = kInfinite;
      else
        bmax = ParseBraceNumber(max_begin, max_end);
      regparse_ = p + 1;
      if (bmin > bmax) throw Failure{kErrorBracesMinGreaterThanMax};
    } else {
      ++regparse_;
    }
    bool nongreedy = false;
    if (*regparse_ == '?') {
      nongreedy = true;
      ++regparse_;
    }
    if ((mods_ & kModG) == 0) nongreedy = true;
    const bool simple = (atom_flags & kSimple) != 0;

    switch (op) {
      case '*':
        flags = kSpStart;
        if (simple)
          Insert(nongreedy ? STARNG : STAR, ret, kNodeSize);
        else if (!nongreedy)
          EmitBranchStar(ret);
        else
          EmitLoop(ret, 0, kInfinite, true);
        break;
      case '+':
        flags = kHasWidth | kSpStart;
        if (simple)
          Insert(nongreedy ? PLUSNG : PLUS, ret, kNodeSize);
        else if (!nongreedy)
          EmitBranchPlus(ret);
        else
          EmitLoop(ret, 1, kInfinite, true);
        break;
      case '?':
        flags = kWorst;
        if (!nongreedy) {
          // x? as (x|): both alternatives lead to the NOTHING.
          Insert(BRANCH, ret, kNodeSize);
          Tail(ret, EmitNode(BRANCH));
          const int nothing = EmitNode(NOTHING);
          Tail(ret, nothing);
          OpTail(ret, nothing);
        } else if (simple) {
          InsertBraces(BRACESNG, ret, 0, 1);
        } else {
          EmitLoop(ret, 0, 1, true);
        }
        break;
      default:  // '{'
        flags = bmax > 0 ? (kHasWidth | kSpStart) : kWorst;
        if (simple)
          InsertBraces(nongreedy ? BRACESNG : BRACES, ret, bmin, bmax);
        else
          EmitLoop(ret, bmin, bmax, nongreedy);
        break;
    }
    if (IsQuantifier(*regparse_)) throw Failure{kErrorNestedQuantifier};
    return ret;
  }

  // x* as (x&|) where & loops back to the first BRANCH.
  void EmitBranchStar(int ret) {
    Insert(BRANCH, ret, kNodeSize);
    OpTail(ret, EmitNode(BACK));
    OpTail(ret, ret);
    Tail(ret, EmitNode(BRANCH));
    Tail(ret, EmitNode(NOTHING));
  }

  // x+ as x(&|) where & loops back to x.
  void EmitBranchPlus(int ret) {
    const int next = EmitNode(BRANCH);
    Tail(ret, next);
    Tail(EmitNode(BACK), ret);
    Tail(next, EmitNode(BRANCH));
    Tail(ret, EmitNode(NOTHING));
  }

  void InsertBraces(char16_t op, int ret, int32_t bmin, int32_t bmax) {
    Insert(op, ret, kNodeSize + 2 * kIntSize);
    if (!Emitting()) return;
    WriteInt(code_ + ret + kNodeSize, bmin);
    WriteInt(code_ + ret + kNodeSize + kIntSize, bmax);
  }

  // LOOPENTRY x LOOP(min, max, back to x); LOOPENTRY and x's last node both lead to LOOP.
  void EmitLoop(int ret, int32_t bmin, int32_t bmax, bool nongreedy) {
    Insert(LOOPENTRY, ret, kNodeSize);
    const int loop = EmitNode(nongreedy ? LOOPNG : LOOP);
    EmitInt(bmin);
    EmitInt(bmax);
    EmitInt(Emitting() ? (ret + kNodeSize) - loop : 0);
    if (!Emitting()) return;
    Tail(ret, loop);
    Tail(ret + kNodeSize, loop);
  }

  // Decodes a one-unit escape; regparse_ is just after the "\", at a non-NUL unit.
  char16_t UnquoteChar() {
    const char16_t c = *regparse_++;
    switch (c) {
      case 't':
        return u'\t';
      case 'n':
        return u'\n';
      case 'r':
        return u'\r';
      case 'f':
        return u'\f';
      case 'a':
        return u'\a';
      case 'e':
        return u'\x1B';
      case 'x': {
        uint32_t v = 0;
        if (*regparse_ == '{') {
          ++regparse_;
          while (*regparse_ != '}') {
            if (*regparse_ == 0) throw Failure{kErrorNoHexCode};
            const int h = HexValue(*regparse_);
            if (h < 0) throw Failure{kErrorBadHexDigit};
            v = v * 16 + static_cast<uint32_t>(h);
            if (v > 0xFFFF) throw Failure{kErrorHexCodeTooBig};
            ++regparse_;
          }
          ++regparse_;
        } else {
          for (int i = 0; i < 2; ++i) {
            if (*regparse_ == 0) throw Failure{kErrorNoHexCode};
            const int h = HexValue(*regparse_);
            if (h < 0) throw Failure{kErrorBadHexDigit};
            v = v * 16 + static_cast<uint32_t>(h);
            ++regparse_;
          }
        }
        return static_cast<char16_t>(v);
      }
      default:
        return c;
    }
  }

  int ParseAtom(int& flags) {
    flags = kWorst;
    const char16_t c = *regparse_;
    if ((mods_ & kModX) != 0 && (IsExtendedSpace(c) || c == '#')) {
      if (c == '#') {
        while (*regparse_ != 0 && *regparse_ != '\r' && *regparse_ != '\n') ++regparse_;
        while (*regparse_ == '\r' || *regparse_ == '\n') ++regparse_;
      } else {
        while (IsExtendedSpace(*regparse_)) ++regparse_;
      }
      return EmitNode(COMMENT);
    }
    const bool ci = (mods_ & kModI) != 0;
    const bool multiline = (mods_ & kModM) != 0 && in_.LineModePossible;
    switch (c) {
      case '^':
        ++regparse_;
        return EmitNode(multiline ? BOLML : BOL);
      case '$':
        ++regparse_;
        return EmitNode(multiline ? EOLML : EOL);
      case '.':
        ++regparse_;
        if ((mods_ & kModS) != 0) {
          flags = kHasWidth | kSimple;
          return EmitNode(ANY);
        }
        flags = kHasWidth;
        return EmitNode(ANYML);
      case '[':
        ++regparse_;
        flags = kHasWidth | kSimple;
        return ParseClass(ci);
      case '(':
        ++regparse_;
        if (*regparse_ == '?') return ParseGroupExtension();
        {
          int group_flags = 0;
          const int ret = ParseReg(true, group_flags);
          flags = group_flags & (kHasWidth | kSpStart);
          return ret;
        }
      case 0:
      case '|':
      case ')':
        throw Failure{kErrorParseAtomInternal};
      case '*':
      case '+':
      case '?':
        throw Failure{kErrorQuantifierFollowsNothing};
      case '\\':
        ++regparse_;
        return ParseEscape(flags, ci);
      default:
        return ParseLiteralRun(flags, ci);
    }
  }

  // "(?#...)" comments and "(?imsx-imsx)" modifier switches; regparse_ is at the "?".
  int ParseGroupExtension() {
    ++regparse_;
    if (*regparse_ == '#') {
      while (*regparse_ != 0 && *regparse_ != ')') ++regparse_;
      if (*regparse_ == 0) throw Failure{kErrorUnclosedComment};
      ++regparse_;
      return EmitNode(COMMENT);
    }
    const char16_t* const begin = regparse_;
    while (*regparse_ != 0 && *regparse_ != ')') ++regparse_;
    uint32_t mods = mods_;
    const std::u16string_view letters(begin, static_cast<size_t>(regparse_ - begin));
    if (*regparse_ == 0 || !ApplyModifierLetters(letters, mods)) {
      // Point at the offending letter when there is one.
      size_t i = 0;
      for (; i < letters.size(); ++i) {
        uint32_t probe = 0;
        if (!ApplyModifierLetters(letters.substr(i, 1), probe)) break;
      }
      regparse_ = begin + i;
      throw Failure{kErrorUnrecognizedModifier};
    }
    ++regparse_;
    mods_ = mods;
    return EmitNode(COMMENT);
  }

  int ParseEscape(int& flags, bool ci) {
    const char16_t c = *regparse_;
    if (c == 0) throw Failure{kErrorTrailingBackslash};
    char16_t op = 0;
    switch (c) {
      case 'd':
        op = ANYDIGIT;
        break;
      case 'D':
        op = NOTDIGIT;
        break;
      case 'w':
        op = ANYLETTER;
        break;
      case 'W':
        op = NOTLETTER;
        break;
      case 's':
        op = ANYSPACE;
        break;
      case 'S':
        op = NOTSPACE;
        break;
      default:
        break;
    }
    if (op != 0) {
      ++regparse_;
      flags = kHasWidth | kSimple;
      return EmitNode(op);
    }
    switch (c) {
      case 'b':
        op = BOUND;
        break;
      case 'B':
        op = NOTBOUND;
        break;
      case 'A':
        op = BOL;
        break;
      case 'Z':
        op = EOL;
        break;
      default:
        break;
    }
    if (op != 0) {
      ++regparse_;
      return EmitNode(op);
    }
    if (c >= '1' && c <= '9') {
      ++regparse_;
      flags = kHasWidth | kSimple;
      const int ret = EmitNode(ci ? BSUBEXPCI : BSUBEXP);
      EmitUnit(static_cast<char16_t>(c - '0'));
      return ret;
    }
    const char16_t value = UnquoteChar();
    flags = kHasWidth | kSimple;
    const int ret = EmitNode(ci ? EXACTLYCI : EXACTLY);
    // A NUL literal is stored as an empty literal, which the matcher never lets match:
    // a subject ends at its first NUL.
    if (value != 0) EmitUnit(value);
    EmitUnit(0);
    return ret;
  }

  int ParseLiteralRun(int& flags, bool ci) {
    const bool extended = (mods_ & kModX) != 0;
    const char16_t* const begin = regparse_;
    const char16_t* p = begin;
    if (*p == '{') ++p;
    while (*p != 0 && !IsMeta(*p) && !(extended && *p == '#')) ++p;
    // Leave the last unit to a following quantifier.
    if (p - begin > 1 && IsQuantifier(*p)) --p;
    regparse_ = p;
    const int ret = EmitNode(ci ? EXACTLYCI : EXACTLY);
    int stored = 0;
    for (const char16_t* q = begin; q < p; ++q) {
      if (extended && IsExtendedSpace(*q)) continue;
      EmitUnit(*q);
      ++stored;
    }
    EmitUnit(0);
    flags = kHasWidth | (stored == 1 ? kSimple : 0);
    return ret;
  }

  void AddMember(std::u16string& members, char16_t c) {
    // NUL ends the stored list, and never matches anyway.
    if (c != 0) members.push_back(c);
  }

  void AddRange(std::u16string& members, uint32_t from, uint32_t to) {
    for (uint32_t c = from; c <= to; ++c) AddMember(members, static_cast<char16_t>(c));
  }

  // Class body; regparse_ is just after "[".
  int ParseClass(bool ci) {
    bool negated = false;
    if (*regparse_ == '^') {
      negated = true;
      ++regparse_;
    }
    std::u16string members;
    bool have_single = false;  // last item was one plain or escaped member, not a range end
    char16_t single = 0;
    bool first = true;
    for (;;) {
      const char16_t c = *regparse_;
      if (c == 0) throw Failure{kErrorUnmatchedBracket};
      if (c == ']' && !first) {
        ++regparse_;
        break;
      }
      first = false;
      if (c == '-' && have_single && regparse_[1] != ']' && regparse_[1] != 0) {
        const char16_t* q = regparse_ + 1;
        if (*q == '\\' && q[1] != 0 &&
            std::u16string_view(u"dDsSwW").find(q[1]) != std::u16string_view::npos) {
          AddMember(members, '-');
          have_single = false;
          ++regparse_;
          continue;
        }
        ++regparse_;
        char16_t last = 0;
        if (*regparse_ == '\\') {
          ++regparse_;
          if (*regparse_ == 0) throw Failure{kErrorClassTrailingBackslash};
          last = UnquoteChar();
        } else {
          last = *regparse_++;
        }
        AddClassRange(members, single, last);
        have_single = false;
        continue;
      }
      if (c == '\\') {
        ++regparse_;
        const char16_t e = *regparse_;
        if (e == 0) throw Failure{kErrorClassTrailingBackslash};
        if (e == 'd' || e == 'w' || e == 's') {
          ++regparse_;
          if (e == 'd') AddRange(members, '0', '9');
          const std::u16string_view set = e == 'w' ? in_.WordChars : in_.SpaceChars;
          if (e != 'd')
            for (char16_t m : set) AddMember(members, m);
          have_single = false;
          continue;
        }
        single = UnquoteChar();
        AddMember(members, single);
        have_single = true;
        continue;
      }
      ++regparse_;
      AddMember(members, c);
      single = c;
      have_single = true;
    }
    char16_t op = 0;
    if (negated)
      op = ci ? ANYBUTCI : ANYBUT;
    else
      op = ci ? ANYOFCI : ANYOF;
    const int ret = EmitNode(op);
    for (char16_t m : members) EmitUnit(m);
    EmitUnit(0);
    return ret;
  }

  // The range start is already a member.
  void AddClassRange(std::u16string& members, char16_t from, char16_t to) {
    constexpr char16_t kSmallA = 0x0430, kSmallYa = 0x044F, kSmallYo = 0x0451;
    constexpr char16_t kCapA = 0x0410, kCapYa = 0x042F, kCapYo = 0x0401;
    if ((mods_ & kModR) != 0) {
      if (from == kSmallA && to == kSmallYa) {
        AddRange(members, kSmallA + 1, kSmallYa);
        AddMember(members, kSmallYo);
        return;
      }
      if (from == kCapA && to == kCapYa) {
        AddRange(members, kCapA + 1, kCapYa);
        AddMember(members, kCapYo);
        return;
      }
      if (from == kSmallA && to == kCapYa) {
        AddRange(members, kSmallA + 1, kSmallYa);
        AddMember(members, kSmallYo);
        AddRange(members, kCapA, kCapYa);
        AddMember(members, kCapYo);
        return;
      }
    }
    if (from > to) throw Failure{kErrorInvalidRange};
    AddRange(members, static_cast<uint32_t>(from) + 1, to);
  }

  const CompilerInput& in_;
  char16_t* code_;
  int capacity_;
  const char16_t* regparse_ = nullptr;
  uint32_t mods_ = 0;
  int regnpar_ = 1;
  int regcode_ = 0;
  int regsize_ = 0;
};

// Marks every node a BACK jumps to, and for each BACK the node that leaves its loop (the
// NOTHING after the loop's last BRANCH), so that the matcher can end an iteration that
// consumed nothing.
void ComputeLoopExits(Program& prog) {
  const char16_t* code = prog.Code.data();
  const auto size = prog.Code.size();
  prog.LoopHead.clear();
  prog.BackExit.clear();
  for (size_t i = 1; i < size;) {
    const char16_t* node = code + i;
    const int len = NodeLength(node);
    if (len <= 0) break;
    if (OpOf(node) == BACK) {
      if (prog.LoopHead.empty()) {
        prog.LoopHead.assign(size, 0);
        prog.BackExit.assign(size, 0);
      }
      const char16_t* target = NextNode(node);
      if (target == nullptr) {
        i += static_cast<size_t>(len);
        continue;
      }
      prog.LoopHead[static_cast<size_t>(target - code)] = 1;
      const char16_t* last = OpOf(target) == BRANCH ? target : node - kNodeSize;
      for (const char16_t* n = NextNode(last); n != nullptr && OpOf(n) == BRANCH; n = NextNode(n)) {
        last = n;
      }
      const char16_t* exit = NextNode(last);
      prog.BackExit[i] = exit == nullptr ? 0 : static_cast<int>(exit - code);
    }
    i += static_cast<size_t>(len);
  }
}

}  // namespace

bool ApplyModifierLetters(std::u16string_view letters, uint32_t& mods) {
  uint32_t result = mods;
  bool on = true;
  for (char16_t c : letters) {
    uint32_t bit = 0;
    switch (c) {
      case 'i':
      case 'I':
        bit = kModI;
        break;
      case 'r':
      case 'R':
        bit = kModR;
        break;
      case 's':
      case 'S':
        bit = kModS;
        break;
      case 'g':
      case 'G':
        bit = kModG;
        break;
      case 'm':
      case 'M':
        bit = kModM;
        break;
      case 'x':
      case 'X':
        bit = kModX;
        break;
      case '-':
        on = false;
        continue;
      default:
        return false;
    }
    if (on)
      result |= bit;
    else
      result &= ~bit;
  }
  mods = result;
  return true;
}

CompileStatus CompileProgram(const CompilerInput& input, Program& out) {
  out = Program{};
  if (input.Text == nullptr) return {kErrorNullArgument, 0};
  Compiler sizing(input, nullptr, 0);
  try {
    sizing.Run();
  } catch (const Failure& f) {
    // Nothing is allocated for a pattern that does not parse.
    return {f.Code, sizing.Position()};
  }
  out.Code.assign(static_cast<size_t>(sizing.Size()), 0);
  Compiler emitting(input, out.Code.data(), sizing.Size());
  try {
    const int flags = emitting.Run();
    // Both passes parse the same text the same way, so the sizes agree.
    if (emitting.Emitted() != sizing.Size()) throw Failure{kErrorInternalUrp};
    ComputeStartFacts(out, (flags & kSpStart) != 0);
    out.Groups = emitting.Groups();
    ComputeLoopExits(out);
    ComputeFirstUnits(out);
  } catch (const Failure& f) {
    out = Program{};
    return {f.Code, emitting.Position()};
  }
  return {};
}

}  // namespace brevis
