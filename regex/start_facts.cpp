// Start-position analysis: the facts that let a search skip positions where no match can
// begin, worked out once per program (start facts, first units) or per context (start set).
#include "regex/start_facts.h"

#include "regex/matcher.h"

namespace brevis {
namespace {

bool AddSimple(const MatchContext& context, const char16_t* opnd, StartSet& set) {
  switch (opnd[0]) {
    case EXACTLY:
      if (Operand(opnd)[0] != 0) set.Add(Operand(opnd)[0]);
      return true;
    case EXACTLYCI:
      if (Operand(opnd)[0] != 0) {
        set.Add(Operand(opnd)[0]);
        set.Add(InvertCase(context, Operand(opnd)[0]));
      }
      return true;
    case ANYOF:
      for (const char16_t* m = Operand(opnd); *m != 0; ++m) set.Add(*m);
      return true;
    case ANYDIGIT:
      for (char16_t c = '0'; c <= '9'; ++c) set.Add(c);
      return true;
    case ANYLETTER:
    case ANYSPACE: {
      const CharSet& chars = opnd[0] == ANYLETTER ? *context.WordChars : *context.SpaceChars;
      for (unsigned c = 1; c < 256; ++c) {
        if (chars.Contains(static_cast<char16_t>(c))) set.Add(static_cast<char16_t>(c));
      }
      // Conservative for the rest of the units.
      set.High = true;
      return true;
    }
    default:
      return false;
  }
}

// Adds to set every unit a match walking from node can begin with. Returns false when that is
// not known (the walk may match without consuming a unit, or may begin with any unit).
bool AddFirst(const MatchContext& context, const char16_t* node, StartSet& set, int& budget) {
  while (node != nullptr) {
    if (--budget < 0) return false;
    const char16_t* next = NextNode(node);
    const char16_t op = node[0];
    switch (op) {
      case BOL:
      case EOL:
      case BOLML:
      case EOLML:
      case BOUND:
      case NOTBOUND:
      case NOTHING:
      case COMMENT:
        break;
      case EXACTLY:
      case EXACTLYCI:
      case ANYOF:
      case ANYDIGIT:
      case ANYLETTER:
      case ANYSPACE:
        return AddSimple(context, node, set);
      case BRANCH:
        if (next == nullptr || OpOf(next) != BRANCH) {
          next = Operand(node);
          break;
        }
        for (const char16_t* b = node; b != nullptr && OpOf(b) == BRANCH; b = NextNode(b)) {
          if (!AddFirst(context, Operand(b), set, budget)) return false;
        }
        return true;
      case STAR:
      case STARNG:
        if (!AddSimple(context, Operand(node), set)) return false;
        break;
      case PLUS:
      case PLUSNG:
        return AddSimple(context, Operand(node), set);
      case BRACES:
      case BRACESNG:
        if (!AddSimple(context, Operand(node) + 2 * kIntSize, set)) return false;
        if (ReadInt(Operand(node)) > 0) return true;
        break;
      case LOOPENTRY: {
        if (next == nullptr) return false;
        // next is the LOOP node; its body ends back at that node, which stops the analysis
        // below if the body can be passed without consuming.
        const char16_t* body = next + ReadInt(Operand(next) + 2 * kIntSize);
        if (!AddFirst(context, body, set, budget)) return false;
        if (ReadInt(Operand(next)) > 0) return true;
        next = NextNode(next);
        break;
      }
      default:
        if (IsOpen(op) || IsClose(op)) break;
        return false;
    }
    node = next;
  }
  return false;
}

}  // namespace

void ComputeStartFacts(Program& prog, bool starts_with_repeat) {
  const char16_t* code = prog.Code.data();
  prog.RegStart = 0;
  prog.RegAnch = false;
  prog.RegMust = -1;
  prog.RegMLen = 0;
  prog.Prefix = -1;
  prog.PrefixLen = 0;
  const char16_t* first_branch = code + 1;
  const char16_t* after = NextNode(first_branch);
  if (after == nullptr || OpOf(after) != END) return;
  const char16_t* f = Operand(first_branch);
  if (OpOf(f) == EXACTLY) {
    prog.RegStart = Operand(f)[0];
    if (prog.RegStart != 0) {
      prog.Prefix = static_cast<int>(Operand(f) - code);
      prog.PrefixLen = static_cast<int>(LiteralLength(Operand(f)));
    }
  } else if (OpOf(f) == BOL) {
    prog.RegAnch = true;
  }
  if (!starts_with_repeat) return;
  const char16_t* longest = nullptr;
  size_t len = 0;
  for (const char16_t* s = f; s != nullptr; s = NextNode(s)) {
    // An empty literal (from an escaped NUL) never matches, so it is never required text.
    const size_t n = OpOf(s) == EXACTLY ? LiteralLength(Operand(s)) : 0;
    if (n > 0 && n >= len) {
      longest = Operand(s);
      len = n;
    }
  }
  if (longest != nullptr) {
    prog.RegMust = static_cast<int>(longest - code);
    prog.RegMLen = static_cast<int>(len);
  }
}

// For every node, the first unit of the literal a walk from it must match before anything
// else: group marks, no-ops and single alternatives consume and test nothing.
void ComputeFirstUnits(Program& prog) {
  const char16_t* code = prog.Code.data();
  const auto size = prog.Code.size();
  prog.FirstUnit.assign(size, 0);
  for (size_t i = 1; i < size;) {
    const char16_t* node = code + i;
    const int len = NodeLength(node);
    if (len <= 0) break;
    const char16_t* ahead = node;
    for (int guard = 0; ahead != nullptr && guard < 64; ++guard) {
      const char16_t a = ahead[0];
      const char16_t* next = NextNode(ahead);
      if (IsOpen(a) || IsClose(a) || a == NOTHING || a == COMMENT) {
        ahead = next;
      } else if (a == BRANCH && (next == nullptr || OpOf(next) != BRANCH)) {
        ahead = Operand(ahead);
      } else {
        break;
      }
    }
    if (ahead != nullptr && OpOf(ahead) == EXACTLY) prog.FirstUnit[i] = Operand(ahead)[0];
    i += static_cast<size_t>(len);
  }
}

bool ComputeStartSet(const MatchContext& context, StartSet& set) {
  set = StartSet{};
  int budget = 2000;
  return AddFirst(context, context.Prog->Code.data() + 1, set, budget);
}

}  // namespace brevis
