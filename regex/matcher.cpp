// Pattern matcher: the recursive walk over the node chain, the fast repeat of single-unit
// nodes and counted loops, and the search that tries start positions in turn.
#include "regex/matcher.h"

#include <algorithm>
#include <climits>

#include "common/ascii_text.h"
#include "regex/case_table.h"
#include "regex/error_codes.h"
#include "regex/scan.h"
#include "regex/stack_bounds.h"
#include "regex/start_facts.h"

namespace brevis {

Matcher::Matcher(const MatchContext& ctx) { Reset(ctx); }

void Matcher::Reset(const MatchContext& ctx) {
  context_ = ctx;
  const Program& prog = *ctx.Prog;
  code_ = prog.Code.data();
  firstUnit_ = prog.FirstUnit.data();
  hasLoopHeads_ = !prog.LoopHead.empty();
  loopHead_ = prog.LoopHead.data();
  backExit_ = prog.BackExit.data();
  maxDepth_ = ctx.MaxDepth;
  startSetState_ = StartSetState::unknown;
  SetSubject(nullptr, nullptr);
}

void Matcher::SetSubject(const char16_t* start, const char16_t* end) {
  inputStart_ = start;
  inputEnd_ = end;
  startp = {};
  endp = {};
  marks_.clear();
  trail_.clear();
}

char16_t InvertCase(const MatchContext& context, char16_t c) {
  return context.InvertCase == nullptr ? DefaultInvertCase(c) : (*context.InvertCase)(c);
}

char16_t Matcher::Invert(char16_t c) const { return InvertCase(context_, c); }

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

BREVIS_ALWAYS_INLINE void Matcher::Charge(int64_t steps) {
  stepsLeft_ -= steps;
  if (stepsLeft_ < 0) throw MatchError{kErrorSearchBudgetExceeded};
}

// One nesting level of the walk: bounded, and forgetting the loop marks it left behind.
BREVIS_ALWAYS_INLINE bool Matcher::MatchPrim(const char16_t* scan) {
  // A walk that must begin with a literal cannot succeed where its first unit is missing.
  const char16_t first = firstUnit_[scan - code_];
  if (first != 0 && *reginput_ != first) return false;
  // Frames differ in size between builds (instrumented ones are several times larger), so
  // the stack is watched directly, besides the level count.
  if (++depth_ > maxDepth_ || FramePosition() < stackLimit_) throw MatchError{kErrorNestingTooDeep};
  const size_t trail = trail_.size();
  bool result = false;
  if (hasLoopHeads_) {
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
      *entry.Slot = entry.Old;
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
      if (reginput_ == inputStart_) break;
      const char16_t prev = reginput_[-1];
      if (context_.PairedAssigned) {
        if (prev == context_.PairedTail && reginput_ - 1 > inputStart_ &&
            reginput_[-2] == context_.PairedHead) {
          break;
        }
        if (prev == context_.PairedHead && *reginput_ == context_.PairedTail) return false;
      }
      if (!IsLineSeparator(prev)) return false;
      break;
    }
    case EOLML: {
      if (reginput_ == inputEnd_) break;
      const char16_t c = *reginput_;
      if (context_.PairedAssigned) {
        if (c == context_.PairedHead && reginput_[1] == context_.PairedTail) break;
        if (c == context_.PairedTail && reginput_ > inputStart_ &&
            reginput_[-1] == context_.PairedHead) {
          return false;
        }
      }
      if (!IsLineSeparator(c)) return false;
      break;
    }
    case BOUND:
    case NOTBOUND: {
      const bool before = reginput_ != inputStart_ && IsWord(reginput_[-1]);
      const bool after = reginput_ != inputEnd_ && IsWord(*reginput_);
      if ((before != after) != (op == BOUND)) return false;
      break;
    }
    case ANYML: {
      if (reginput_ == inputEnd_) return false;
      const char16_t c = *reginput_;
      if (context_.PairedAssigned && c == context_.PairedHead &&
          reginput_[1] == context_.PairedTail) {
        return false;
      }
      if (IsLineSeparator(c)) return false;
      ++reginput_;
      break;
    }
    case ANYOFCI:
      if (reginput_ == inputEnd_ || !InListCI(Operand(scan), *reginput_)) return false;
      ++reginput_;
      break;
    case ANYBUTCI:
      if (reginput_ == inputEnd_ || InListCI(Operand(scan), *reginput_)) return false;
      ++reginput_;
      break;
    case EXACTLYCI: {
      const char16_t* lit = Operand(scan);
      if (lit[0] == 0) return false;
      size_t i = 0;
      for (; lit[i] != 0; ++i) {
        if (reginput_ + i == inputEnd_) return false;
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
        if (p == inputEnd_) return false;
        if (*p != *g && (op == BSUBEXP || *p != Invert(*g))) return false;
      }
      reginput_ = p;
      break;
    }
    default:
      throw MatchError{kErrorMatchPrimMemoryCorruption};
  }
  return true;
}

bool Matcher::Walk(const char16_t* scan) {
  while (scan != nullptr) {
    Charge(1);
    if (hasLoopHeads_ && loopHead_[scan - code_] != 0) {
      marks_.Push({scan, reginput_});
    }
    const char16_t* next = NextNode(scan);
    const char16_t op = scan[0];
    switch (op) {
      case END:
        return true;
      case BOL:
        if (reginput_ != inputStart_) return false;
        break;
      case EOL:
        if (reginput_ != inputEnd_) return false;
        break;
      case ANY:
        if (reginput_ == inputEnd_) return false;
        ++reginput_;
        break;
      case ANYDIGIT:
        if (reginput_ == inputEnd_ || !ascii::IsDigit(*reginput_)) return false;
        ++reginput_;
        break;
      case NOTDIGIT:
        if (reginput_ == inputEnd_ || ascii::IsDigit(*reginput_)) return false;
        ++reginput_;
        break;
      case ANYLETTER:
        if (reginput_ == inputEnd_ || !IsWord(*reginput_)) return false;
        ++reginput_;
        break;
      case NOTLETTER:
        if (reginput_ == inputEnd_ || IsWord(*reginput_)) return false;
        ++reginput_;
        break;
      case ANYSPACE:
        if (reginput_ == inputEnd_ || !IsSpace(*reginput_)) return false;
        ++reginput_;
        break;
      case NOTSPACE:
        if (reginput_ == inputEnd_ || IsSpace(*reginput_)) return false;
        ++reginput_;
        break;
      case ANYOF:
        if (reginput_ == inputEnd_ || !InList(Operand(scan), *reginput_)) return false;
        ++reginput_;
        break;
      case ANYBUT:
        if (reginput_ == inputEnd_ || InList(Operand(scan), *reginput_)) return false;
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
        if (hasLoopHeads_) {
          // End an iteration that consumed nothing: leave the loop instead of repeating it.
          for (size_t i = marks_.size(); i > 0; --i) {
            const Mark& m = marks_[i - 1];
            if (m.Node == next) {
              if (m.Pos == reginput_) {
                const int exit = backExit_[scan - code_];
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
        throw MatchError{kErrorMatchPrimMemoryCorruption};
    }
    scan = next;
  }
  throw MatchError{kErrorMatchPrimCorruptedPointers};
}

int64_t Matcher::FastRepeat(const char16_t* opnd, int64_t max) {
  const char16_t* const end = inputEnd_;
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
      while (p < stop && !ascii::IsDigit(*p)) ++p;
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
      throw MatchError{kErrorRepeatCalledInappropriately};
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
  const char16_t lookahead = next == nullptr ? 0 : firstUnit_[next - code_];
  const bool has_lookahead = lookahead != 0;
  const char16_t* const save = reginput_;
  int64_t count = 0;
  if (OpOf(opnd) == ANYDIGIT && max == INT32_MAX) {
    // "\d+" and "\d*", the most common repeats here, without the general call.
    reginput_ = SkipDigits(save, inputEnd_);
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
  if (loopIdx_ >= kMaxLoops) throw MatchError{kErrorLoopStackExceeded};
  const int saved_idx = loopIdx_;
  const char16_t* const save = reginput_;
  const auto idx = static_cast<size_t>(++loopIdx_);
  const int32_t saved_count = loopStack_[idx];
  const char16_t* const saved_start = loopStart_[idx];
  loopStack_[idx] = 0;
  loopStart_[idx] = nullptr;
  const bool result = MatchPrim(next);
  loopIdx_ = saved_idx;
  if (!result) {
    reginput_ = save;
    loopStack_[idx] = saved_count;
    loopStart_[idx] = saved_start;
  }
  return result;
}

bool Matcher::Loop(const char16_t* scan, const char16_t* next) {
  if (loopIdx_ == 0) throw MatchError{kErrorLoopWithoutEntry};
  const char16_t* const opnd = Operand(scan);
  const int32_t min = ReadInt(opnd);
  const int32_t max = ReadInt(opnd + kIntSize);
  const char16_t* const body = scan + ReadInt(opnd + 2 * kIntSize);
  const char16_t* const save = reginput_;
  const int idx = loopIdx_;
  const auto i = static_cast<size_t>(idx);
  const int32_t k = loopStack_[i];
  // The first min iterations are always made. After them an iteration that consumed nothing
  // ends the loop, as more would only repeat it; the first optional iteration is always tried.
  const bool progressed = k <= min || loopStart_[i] != reginput_;

  auto iterate = [&]() {
    const char16_t* const saved_start = loopStart_[i];
    loopStack_[i] = k + 1;
    loopStart_[i] = save;
    const bool r = MatchPrim(body);
    loopIdx_ = idx;
    if (!r) {
      loopStack_[i] = k;
      loopStart_[i] = saved_start;
      reginput_ = save;
    }
    return r;
  };
  auto leave = [&]() {
    loopIdx_ = idx - 1;
    const bool r = MatchPrim(next);
    loopIdx_ = idx;
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
  loopIdx_ = 0;
  marks_.clear();
  trail_.clear();
  if (!MatchPrim(code_ + 1)) return false;
  startp[0] = p;
  endp[0] = reginput_;
  return true;
}

BREVIS_ALWAYS_INLINE void Matcher::SetStackLimit() {
  stackLimit_ = WalkStackLimit(FramePosition(), context_.WalkStackReserve, context_.MaxStackBytes);
}

bool Matcher::Search(const char16_t* start) {
  const Program& prog = *context_.Prog;
  const char16_t* const end = inputEnd_;
  SetStackLimit();
  stepsLeft_ = context_.StepBudget > 0 ? context_.StepBudget : INT64_MAX;
  if (prog.RegMust >= 0 &&
      FindLiteral(start, end, code_ + prog.RegMust, static_cast<size_t>(prog.RegMLen)) == nullptr) {
    return false;
  }
  if (prog.RegAnch) return Attempt(start);
  if (prog.RegStart != 0) {
    const char16_t* const prefix = code_ + prog.Prefix;
    const auto prefix_len = static_cast<size_t>(prog.PrefixLen);
    for (const char16_t* p = start;; ++p) {
      p = FindLiteral(p, end, prefix, prefix_len);
      if (p == nullptr) return false;
      if (Attempt(p)) return true;
    }
  }
  if (startSetState_ == StartSetState::unknown) {
    startSetState_ =
        ComputeStartSet(context_, startSet_) ? StartSetState::known : StartSetState::none;
  }
  if (startSetState_ == StartSetState::known) {
    const StartSet set = startSet_;  // a local copy the scan can keep in registers
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
