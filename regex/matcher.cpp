// Pattern matcher: the recursive walk over the node chain, the fast repeat of single-unit
// nodes, counted loops, and the search over start positions.
#include "regex/matcher.h"

#include <locale.h>
#include <pthread.h>

#include <algorithm>
#include <climits>
#include <cwctype>

#include "regex/pattern.h"
#include "regex/scan.h"

namespace brevis {
namespace {

constexpr char16_t kCaseLimit = 0x20AC;

bool IsDigitUnit(char16_t c) { return c >= '0' && c <= '9'; }

// The bounds of the calling thread's stack, [low, high), or {0, 0} when they are not known.
struct StackBounds {
  uintptr_t low = 0;
  uintptr_t high = 0;
};

[[gnu::noinline]] StackBounds QueryStackBounds() {
  StackBounds bounds;
#if defined(__linux__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return bounds;
  void* addr = nullptr;
  size_t size = 0;
  if (pthread_attr_getstack(&attr, &addr, &size) == 0 && addr != nullptr && size != 0) {
    bounds.low = reinterpret_cast<uintptr_t>(addr);
    bounds.high = bounds.low + size;
  }
  pthread_attr_destroy(&attr);
#endif
  return bounds;
}

// Asked once per thread: for the main thread the query reads the process's memory map.
// Constant-initialised, so that reading the cache needs no initialisation guard.
thread_local StackBounds t_stack_bounds;
thread_local bool t_stack_queried = false;

const StackBounds& ThreadStackBounds() {
  if (!t_stack_queried) {
    t_stack_bounds = QueryStackBounds();
    t_stack_queried = true;
  }
  return t_stack_bounds;
}

// Table of the platform's single-unit case inversion below kCaseLimit, taken from the
// C.UTF-8 locale (ASCII only when that locale is missing).
struct CaseTable {
  char16_t inv[kCaseLimit];
  CaseTable() {
    locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    for (unsigned c = 0; c < kCaseLimit; ++c) {
      unsigned up = c;
      unsigned low = c;
      if (loc != static_cast<locale_t>(nullptr)) {
        up = static_cast<unsigned>(towupper_l(static_cast<wint_t>(c), loc));
        low = static_cast<unsigned>(towlower_l(static_cast<wint_t>(c), loc));
      } else if (c >= 'a' && c <= 'z') {
        up = c - 32;
      } else if (c >= 'A' && c <= 'Z') {
        low = c + 32;
      }
      if (up > 0xFFFF) up = c;
      if (low > 0xFFFF) low = c;
      inv[c] = static_cast<char16_t>(up != c ? up : low);
    }
    if (loc != static_cast<locale_t>(nullptr)) freelocale(loc);
  }
};

}  // namespace

char16_t DefaultInvertCase(char16_t c) {
  static const CaseTable table;
  return c >= kCaseLimit ? c : table.inv[c];
}

Matcher::Matcher(const MatchContext& ctx) { Reset(ctx); }

void Matcher::Reset(const MatchContext& ctx) {
  context_ = ctx;
  const Program& prog = *ctx.program;
  code_ = prog.code.data();
  first_unit_ = prog.first_unit.data();
  has_loop_heads_ = !prog.loop_head.empty();
  loop_head_ = prog.loop_head.data();
  back_exit_ = prog.back_exit.data();
  max_depth_ = ctx.max_depth;
  start_set_state_ = StartSetState::unknown;
  SetSubject(nullptr, nullptr);
}

void Matcher::SetSubject(const char16_t* start, const char16_t* end) {
  input_start_ = start;
  input_end_ = end;
  startp = {};
  endp = {};
  marks_.clear();
  trail_.clear();
}

char16_t Matcher::Invert(char16_t c) const {
  return context_.invert_case == nullptr ? DefaultInvertCase(c) : (*context_.invert_case)(c);
}

bool Matcher::InList(const char16_t* list, char16_t c) const {
  for (; *list != 0; ++list) {
    if (*list == c) return true;
  }
  return false;
}

bool Matcher::InListCI(const char16_t* list, char16_t c) const {
  const char16_t inv = Invert(c);
  for (; *list != 0; ++list) {
    if (*list == c || *list == inv) return true;
  }
  return false;
}

#if defined(__GNUC__)
#define BREVIS_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define BREVIS_ALWAYS_INLINE inline
#endif

namespace {

// An address in the current stack frame; the stack grows downwards on every target we build.
// Unlike a local's address, the frame address stays on the thread's stack when an
// instrumented build moves locals to a heap-allocated frame.
BREVIS_ALWAYS_INLINE uintptr_t FramePosition() {
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
}

}  // namespace

BREVIS_ALWAYS_INLINE void Matcher::Charge(int64_t steps) {
  steps_left_ -= steps;
  if (steps_left_ < 0) throw MatchError{kErrorSearchBudgetExceeded};
}

// One nesting level of the walk: bounded, and forgetting the loop marks it left behind.
BREVIS_ALWAYS_INLINE bool Matcher::MatchPrim(const char16_t* scan) {
  // A walk that must begin with a literal cannot succeed where its first unit is missing.
  const char16_t first = first_unit_[scan - code_];
  if (first != 0 && *reginput_ != first) return false;
  // Frames differ in size between builds (instrumented ones are several times larger), so
  // the stack is watched directly, besides the level count.
  if (++depth_ > max_depth_ || FramePosition() < stack_limit_) throw MatchError{1016};
  const size_t trail = trail_.size();
  bool result = false;
  if (has_loop_heads_) {
    const size_t marks = marks_.size();
    result = Walk(scan);
    marks_.Truncate(marks);
  } else {
    result = Walk(scan);
  }
  // A failed walk takes back the captures it set.
  if (!result) {
    while (trail_.size() > trail) {
      const TrailEntry entry = trail_.Pop();
      *entry.slot = entry.old;
    }
  }
  --depth_;
  return result;
}

// The less common single-node tests, kept out of Walk so that its frame, which every level of
// the walk adds to the stack, stays small. On success advances reginput_ past what the node
// matched.
bool Matcher::MatchNode(const char16_t* scan) {
  const char16_t op = scan[0];
  switch (op) {
    case BOLML: {
      if (reginput_ == input_start_) break;
      const char16_t prev = reginput_[-1];
      if (context_.paired_assigned) {
        if (prev == context_.paired_tail && reginput_ - 1 > input_start_ &&
            reginput_[-2] == context_.paired_head) {
          break;
        }
        if (prev == context_.paired_head && *reginput_ == context_.paired_tail) return false;
      }
      if (!IsLineSeparator(prev)) return false;
      break;
    }
    case EOLML: {
      if (reginput_ == input_end_) break;
      const char16_t c = *reginput_;
      if (context_.paired_assigned) {
        if (c == context_.paired_head && reginput_[1] == context_.paired_tail) break;
        if (c == context_.paired_tail && reginput_ > input_start_ &&
            reginput_[-1] == context_.paired_head) {
          return false;
        }
      }
      if (!IsLineSeparator(c)) return false;
      break;
    }
    case BOUND:
    case NOTBOUND: {
      const bool before = reginput_ != input_start_ && IsWord(reginput_[-1]);
      const bool after = reginput_ != input_end_ && IsWord(*reginput_);
      if ((before != after) != (op == BOUND)) return false;
      break;
    }
    case ANYML: {
      if (reginput_ == input_end_) return false;
      const char16_t c = *reginput_;
      if (context_.paired_assigned && c == context_.paired_head &&
          reginput_[1] == context_.paired_tail) {
        return false;
      }
      if (IsLineSeparator(c)) return false;
      ++reginput_;
      break;
    }
    case ANYOFCI:
      if (reginput_ == input_end_ || !InListCI(Operand(scan), *reginput_)) return false;
      ++reginput_;
      break;
    case ANYBUTCI:
      if (reginput_ == input_end_ || InListCI(Operand(scan), *reginput_)) return false;
      ++reginput_;
      break;
    case EXACTLYCI: {
      const char16_t* lit = Operand(scan);
      if (lit[0] == 0) return false;
      size_t i = 0;
      for (; lit[i] != 0; ++i) {
        if (reginput_ + i == input_end_) return false;
        const char16_t c = reginput_[i];
        if (c != lit[i] && c != Invert(lit[i])) return false;
      }
      reginput_ += i;
      break;
    }
    case BSUBEXP:
    case BSUBEXPCI: {
      const int n = Operand(scan)[0];
      if (n >= kMaxGroups || startp[static_cast<size_t>(n)] == nullptr ||
          endp[static_cast<size_t>(n)] == nullptr) {
        return false;
      }
      const char16_t* g = startp[static_cast<size_t>(n)];
      const char16_t* const g_end = endp[static_cast<size_t>(n)];
      if (g_end > g) Charge(g_end - g);
      const char16_t* p = reginput_;
      for (; g < g_end; ++g, ++p) {
        if (p == input_end_) return false;
        if (*p != *g && (op == BSUBEXP || *p != Invert(*g))) return false;
      }
      reginput_ = p;
      break;
    }
    default:
      throw MatchError{1001};
  }
  return true;
}

bool Matcher::Walk(const char16_t* scan) {
  while (scan != nullptr) {
    Charge(1);
    if (has_loop_heads_ && loop_head_[scan - code_] != 0) {
      marks_.Push({scan, reginput_});
    }
    const char16_t* next = NextNode(scan);
    const char16_t op = scan[0];
    switch (op) {
      case END:
        return true;
      case BOL:
        if (reginput_ != input_start_) return false;
        break;
      case EOL:
        if (reginput_ != input_end_) return false;
        break;
      case ANY:
        if (reginput_ == input_end_) return false;
        ++reginput_;
        break;
      case ANYDIGIT:
        if (reginput_ == input_end_ || !IsDigitUnit(*reginput_)) return false;
        ++reginput_;
        break;
      case NOTDIGIT:
        if (reginput_ == input_end_ || IsDigitUnit(*reginput_)) return false;
        ++reginput_;
        break;
      case ANYLETTER:
        if (reginput_ == input_end_ || !IsWord(*reginput_)) return false;
        ++reginput_;
        break;
      case NOTLETTER:
        if (reginput_ == input_end_ || IsWord(*reginput_)) return false;
        ++reginput_;
        break;
      case ANYSPACE:
        if (reginput_ == input_end_ || !IsSpace(*reginput_)) return false;
        ++reginput_;
        break;
      case NOTSPACE:
        if (reginput_ == input_end_ || IsSpace(*reginput_)) return false;
        ++reginput_;
        break;
      case ANYOF:
        if (reginput_ == input_end_ || !InList(Operand(scan), *reginput_)) return false;
        ++reginput_;
        break;
      case ANYBUT:
        if (reginput_ == input_end_ || InList(Operand(scan), *reginput_)) return false;
        ++reginput_;
        break;
      case EXACTLY: {
        const char16_t* lit = Operand(scan);
        // An empty literal stands for a NUL, which no subject position holds. The subject's
        // terminating NUL stops the comparison at its end.
        if (lit[0] == 0 || lit[0] != *reginput_) return false;
        size_t i = 1;
        for (; lit[i] != 0; ++i) {
          if (lit[i] != reginput_[i]) return false;
        }
        reginput_ += i;
        break;
      }
      case BOLML:
      case EOLML:
      case BOUND:
      case NOTBOUND:
      case ANYML:
      case ANYOFCI:
      case ANYBUTCI:
      case EXACTLYCI:
      case BSUBEXP:
      case BSUBEXPCI:
        if (!MatchNode(scan)) return false;
        break;
      case NOTHING:
      case COMMENT:
        break;
      case BACK:
        if (has_loop_heads_) {
          // End an iteration that consumed nothing: leave the loop instead of repeating it.
          for (size_t i = marks_.size(); i > 0; --i) {
            const Mark& m = marks_[i - 1];
            if (m.node == next) {
              if (m.pos == reginput_) {
                const int exit = back_exit_[scan - code_];
                if (exit != 0) next = code_ + exit;
              }
              break;
            }
          }
        }
        break;
      case BRANCH: {
        if (next == nullptr || OpOf(next) != BRANCH) {
          next = Operand(scan);  // a single alternative needs no nested walk
          break;
        }
        // Every alternative but the last is tried in a nested walk. The last one continues
        // this walk: its failure is the failure of the whole choice, and the enclosing level
        // takes back what it changed. This saves a level per choice.
        const char16_t* const save = reginput_;
        do {
          if (MatchPrim(Operand(scan))) return true;
          reginput_ = save;
          scan = next;
          next = NextNode(scan);
        } while (next != nullptr && OpOf(next) == BRANCH);
        next = Operand(scan);
        break;
      }
      case STAR:
      case PLUS:
      case BRACES:
      case STARNG:
      case PLUSNG:
      case BRACESNG:
        return Repeat(scan, next);
      case LOOPENTRY:
        return LoopEntry(next);
      case LOOP:
      case LOOPNG:
        return Loop(scan, next);
      // Group marks need no nested walk: the old value goes on the trail, which the
      // enclosing nested walk takes back if it fails.
      case OPEN + 1:
      case OPEN + 2:
      case OPEN + 3:
      case OPEN + 4:
      case OPEN + 5:
      case OPEN + 6:
      case OPEN + 7:
      case OPEN + 8:
      case OPEN + 9:
      case OPEN + 10:
      case OPEN + 11:
      case OPEN + 12:
      case OPEN + 13:
      case OPEN + 14: {
        const auto n = static_cast<size_t>(op - OPEN);
        trail_.Push({&startp[n], startp[n]});
        startp[n] = reginput_;
        break;
      }
      case CLOSE + 1:
      case CLOSE + 2:
      case CLOSE + 3:
      case CLOSE + 4:
      case CLOSE + 5:
      case CLOSE + 6:
      case CLOSE + 7:
      case CLOSE + 8:
      case CLOSE + 9:
      case CLOSE + 10:
      case CLOSE + 11:
      case CLOSE + 12:
      case CLOSE + 13:
      case CLOSE + 14: {
        const auto n = static_cast<size_t>(op - CLOSE);
        trail_.Push({&endp[n], endp[n]});
        endp[n] = reginput_;
        break;
      }
      default:
        throw MatchError{1001};
    }
    scan = next;
  }
  throw MatchError{1002};
}

int64_t Matcher::FastRepeat(const char16_t* opnd, int64_t max) {
  const char16_t* const end = input_end_;
  const char16_t* p = reginput_;
  const int64_t avail = end - p;
  const int64_t limit = std::min(max, avail);
  const char16_t* const stop = p + limit;
  switch (opnd[0]) {
    case ANY:
      p = stop;
      break;
    case EXACTLY: {
      const char16_t c = Operand(opnd)[0];
      if (c == 0) break;
      while (p < stop && *p == c) ++p;
      break;
    }
    case EXACTLYCI: {
      const char16_t c = Operand(opnd)[0];
      if (c == 0) break;
      const char16_t inv = Invert(c);
      while (p < stop && (*p == c || *p == inv)) ++p;
      break;
    }
    case ANYOF:
      while (p < stop && InList(Operand(opnd), *p)) ++p;
      break;
    case ANYBUT:
      while (p < stop && !InList(Operand(opnd), *p)) ++p;
      break;
    case ANYOFCI:
      while (p < stop && InListCI(Operand(opnd), *p)) ++p;
      break;
    case ANYBUTCI:
      while (p < stop && !InListCI(Operand(opnd), *p)) ++p;
      break;
    case ANYDIGIT:
      p = SkipDigits(p, stop);
      break;
    case NOTDIGIT:
      while (p < stop && !IsDigitUnit(*p)) ++p;
      break;
    case ANYLETTER:
      while (p < stop && IsWord(*p)) ++p;
      break;
    case NOTLETTER:
      while (p < stop && !IsWord(*p)) ++p;
      break;
    case ANYSPACE:
      while (p < stop && IsSpace(*p)) ++p;
      break;
    case NOTSPACE:
      while (p < stop && !IsSpace(*p)) ++p;
      break;
    case BSUBEXP:
    case BSUBEXPCI: {
      // Whole copies of the group's text; an empty or unset group gives 0.
      const int n = Operand(opnd)[0];
      if (n >= kMaxGroups) return 0;
      const char16_t* g = startp[static_cast<size_t>(n)];
      const char16_t* g_end = endp[static_cast<size_t>(n)];
      if (g == nullptr || g_end == nullptr || g_end <= g) return 0;
      const int64_t len = g_end - g;
      int64_t count = 0;
      while (count < max && end - p >= len) {
        int64_t i = 0;
        for (; i < len; ++i) {
          const char16_t c = p[i];
          if (c != g[i] && (opnd[0] == BSUBEXP || c != Invert(g[i]))) break;
        }
        if (i < len) break;
        p += len;
        ++count;
      }
      reginput_ = p;
      return count;
    }
    default:
      throw MatchError{1000};
  }
  const int64_t count = p - reginput_;
  reginput_ = p;
  return count;
}

bool Matcher::Repeat(const char16_t* scan, const char16_t* next) {
  const char16_t op = scan[0];
  int64_t min = 0;
  int64_t max = INT32_MAX;
  const char16_t* opnd = Operand(scan);
  if (op == PLUS || op == PLUSNG) {
    min = 1;
  } else if (op == BRACES || op == BRACESNG) {
    min = ReadInt(opnd);
    max = ReadInt(opnd + kIntSize);
    opnd += 2 * kIntSize;
  }
  // The look-ahead unit: the first unit of the literal the walk from next must match first.
  const char16_t lookahead = next == nullptr ? 0 : first_unit_[next - code_];
  const bool has_lookahead = lookahead != 0;
  const char16_t* const save = reginput_;
  int64_t count = 0;
  if (OpOf(opnd) == ANYDIGIT && max == INT32_MAX) {
    // "\d+" and "\d*", the most common repeats here, without the general call.
    reginput_ = SkipDigits(save, input_end_);
    count = reginput_ - save;
  } else {
    count = FastRepeat(opnd, max);
  }
  int64_t step = 1;
  if (OpOf(opnd) == BSUBEXP || OpOf(opnd) == BSUBEXPCI) {
    // A back reference advances by its group's length per repetition; repetitions of an
    // empty group all end where they start, so one attempt with the least count is enough.
    const auto n = static_cast<size_t>(Operand(opnd)[0]);
    const bool set = n < kMaxGroups && startp[n] != nullptr && endp[n] != nullptr;
    step = set ? std::max<int64_t>(endp[n] - startp[n], 0) : 1;
    if (set && step == 0) count = min;
  }
  // The units the count looked at (counting "." needs no look).
  Charge(OpOf(opnd) == ANY ? 1 : (reginput_ - save) + 1);
  if (count < min) return false;
  const bool greedy = op == STAR || op == PLUS || op == BRACES;
  if (greedy) {
    for (int64_t n = count; n >= min; --n) {
      Charge(1);
      reginput_ = save + n * step;
      if (!has_lookahead || *reginput_ == lookahead) {
        if (MatchPrim(next)) return true;
      }
    }
    return false;
  }
  for (int64_t n = min; n <= count; ++n) {
    Charge(1);
    reginput_ = save + n * step;
    if (has_lookahead && *reginput_ != lookahead) {
      if (step != 1) continue;
      // Jump to the next place holding the look-ahead unit.
      // save + count <= input_end, whose NUL is readable, so the range may include it.
      const char16_t* hit = FindUnit(reginput_, save + count + 1, lookahead);
      Charge((hit == nullptr ? save + count + 1 : hit) - reginput_);
      if (hit == nullptr) break;
      n = hit - save;
      reginput_ = hit;
    }
    if (MatchPrim(next)) return true;
  }
  return false;
}

bool Matcher::LoopEntry(const char16_t* next) {
  if (loop_idx_ >= kMaxLoops) throw MatchError{1014};
  const int saved_idx = loop_idx_;
  const char16_t* const save = reginput_;
  const auto idx = static_cast<size_t>(++loop_idx_);
  const int32_t saved_count = loop_stack_[idx];
  const char16_t* const saved_start = loop_start_[idx];
  loop_stack_[idx] = 0;
  loop_start_[idx] = nullptr;
  const bool result = MatchPrim(next);
  loop_idx_ = saved_idx;
  if (!result) {
    reginput_ = save;
    loop_stack_[idx] = saved_count;
    loop_start_[idx] = saved_start;
  }
  return result;
}

bool Matcher::Loop(const char16_t* scan, const char16_t* next) {
  if (loop_idx_ == 0) throw MatchError{1015};
  const char16_t* const opnd = Operand(scan);
  const int32_t min = ReadInt(opnd);
  const int32_t max = ReadInt(opnd + kIntSize);
  const char16_t* const body = scan + ReadInt(opnd + 2 * kIntSize);
  const char16_t* const save = reginput_;
  const int idx = loop_idx_;
  const auto i = static_cast<size_t>(idx);
  const int32_t k = loop_stack_[i];
  // The first min iterations are always made. After them an iteration that consumed nothing
  // ends the loop, as more would only repeat it; the first optional iteration is always tried.
  const bool progressed = k <= min || loop_start_[i] != reginput_;

  auto iterate = [&]() {
    const char16_t* const saved_start = loop_start_[i];
    loop_stack_[i] = k + 1;
    loop_start_[i] = save;
    const bool r = MatchPrim(body);
    loop_idx_ = idx;
    if (!r) {
      loop_stack_[i] = k;
      loop_start_[i] = saved_start;
      reginput_ = save;
    }
    return r;
  };
  auto leave = [&]() {
    loop_idx_ = idx - 1;
    const bool r = MatchPrim(next);
    loop_idx_ = idx;
    if (!r) reginput_ = save;
    return r;
  };

  if (k < min) return iterate();
  const bool may_iterate = k < max && progressed;
  if (OpOf(scan) == LOOP) {
    if (may_iterate && iterate()) return true;
    return leave();
  }
  if (leave()) return true;
  return may_iterate && iterate();
}

BREVIS_ALWAYS_INLINE bool Matcher::Attempt(const char16_t* p) {
  reginput_ = p;
  depth_ = 0;
  loop_idx_ = 0;
  marks_.clear();
  trail_.clear();
  if (!MatchPrim(code_ + 1)) return false;
  startp[0] = p;
  endp[0] = reginput_;
  return true;
}

bool Matcher::AddSimple(const char16_t* opnd, StartSet& set) const {
  switch (opnd[0]) {
    case EXACTLY:
      if (Operand(opnd)[0] != 0) set.Add(Operand(opnd)[0]);
      return true;
    case EXACTLYCI:
      if (Operand(opnd)[0] != 0) {
        set.Add(Operand(opnd)[0]);
        set.Add(Invert(Operand(opnd)[0]));
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
      const CharSet& chars = opnd[0] == ANYLETTER ? *context_.word_chars : *context_.space_chars;
      for (unsigned c = 1; c < 256; ++c) {
        if (chars.Contains(static_cast<char16_t>(c))) set.Add(static_cast<char16_t>(c));
      }
      // Conservative for the rest of the units.
      set.high = true;
      return true;
    }
    default:
      return false;
  }
}

// Adds to set every unit a match walking from node can begin with. Returns false when that is
// not known (the walk may match without consuming a unit, or may begin with any unit).
bool Matcher::AddFirst(const char16_t* node, StartSet& set, int& budget) const {
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
        return AddSimple(node, set);
      case BRANCH:
        if (next == nullptr || OpOf(next) != BRANCH) {
          next = Operand(node);
          break;
        }
        for (const char16_t* b = node; b != nullptr && OpOf(b) == BRANCH; b = NextNode(b)) {
          if (!AddFirst(Operand(b), set, budget)) return false;
        }
        return true;
      case STAR:
      case STARNG:
        if (!AddSimple(Operand(node), set)) return false;
        break;
      case PLUS:
      case PLUSNG:
        return AddSimple(Operand(node), set);
      case BRACES:
      case BRACESNG:
        if (!AddSimple(Operand(node) + 2 * kIntSize, set)) return false;
        if (ReadInt(Operand(node)) > 0) return true;
        break;
      case LOOPENTRY: {
        if (next == nullptr) return false;
        // next is the LOOP node; its body ends back at that node, which stops the analysis
        // below if the body can be passed without consuming.
        const char16_t* body = next + ReadInt(Operand(next) + 2 * kIntSize);
        if (!AddFirst(body, set, budget)) return false;
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

BREVIS_ALWAYS_INLINE void Matcher::SetStackLimit() {
  const uintptr_t here = FramePosition();
  const StackBounds& stack = ThreadStackBounds();
  if (stack.low != 0 && here > stack.low && here < stack.high) {
    // Keep a reserve for what runs below the deepest level (the steps of a level, a case
    // inversion function, raising the error): a quarter of a small stack, at most
    // walk_stack_reserve.
    const uintptr_t reserve =
        std::min<uintptr_t>(context_.walk_stack_reserve, (stack.high - stack.low) / 4);
    stack_limit_ = stack.low + reserve;
  } else {
    // Unknown stack (or running on one the thread does not own): a fixed budget.
    stack_limit_ = here > context_.max_stack_bytes ? here - context_.max_stack_bytes : 0;
  }
}

bool Matcher::Search(const char16_t* start) {
  const Program& prog = *context_.program;
  const char16_t* const end = input_end_;
  SetStackLimit();
  steps_left_ = context_.step_budget > 0 ? context_.step_budget : INT64_MAX;
  if (prog.regmust >= 0 &&
      FindLiteral(start, end, code_ + prog.regmust, static_cast<size_t>(prog.regmlen)) == nullptr) {
    return false;
  }
  if (prog.reganch) return Attempt(start);
  if (prog.regstart != 0) {
    const char16_t* const prefix = code_ + prog.prefix;
    const auto prefix_len = static_cast<size_t>(prog.prefix_len);
    for (const char16_t* p = start;; ++p) {
      p = FindLiteral(p, end, prefix, prefix_len);
      if (p == nullptr) return false;
      if (Attempt(p)) return true;
    }
  }
  if (start_set_state_ == StartSetState::unknown) {
    start_set_ = StartSet{};
    int budget = 2000;
    start_set_state_ =
        AddFirst(code_ + 1, start_set_, budget) ? StartSetState::known : StartSetState::none;
  }
  if (start_set_state_ == StartSetState::known) {
    const StartSet set = start_set_;  // a local copy the scan can keep in registers
    for (const char16_t* p = start;; ++p) {
      while (p < end && !set.Has(*p)) ++p;
      if (p >= end) return false;
      if (Attempt(p)) return true;
    }
  }
  for (const char16_t* p = start; p <= end; ++p) {
    if (Attempt(p)) return true;
  }
  return false;
}

}  // namespace brevis
