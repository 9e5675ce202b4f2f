// Pattern matcher: walks a compiled program (program.h) over a subject with backtracking,
// and runs the search that picks the start positions.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "regex/char_set.h"
#include "regex/program.h"
#include "regex/start_facts.h"

namespace brevis {

// Raised by the matcher for an execution error; the engine turns it into its error report.
struct MatchError {
  int Code;
};

struct MatchContext {
  const Program* Prog = nullptr;
  const CharSet* WordChars = nullptr;
  const CharSet* SpaceChars = nullptr;
  const CharSet* LineSeparators = nullptr;
  bool PairedAssigned = false;
  char16_t PairedHead = 0;
  char16_t PairedTail = 0;
  // Case inversion; nullptr means Pattern::InvertCaseFunction.
  const std::function<char16_t(char16_t)>* InvertCase = nullptr;
  int MaxDepth = 0;  // nesting levels of the walk
  // The walk may use the calling thread's stack down to walk_stack_reserve (or a quarter of
  // a smaller stack) above its end. When the stack's extent is unknown it may use
  // max_stack_bytes below the search's frame.
  size_t WalkStackReserve = 0;
  size_t MaxStackBytes = 0;
  int64_t StepBudget = 0;  // steps per search (see Pattern::SearchBudget); below 1: no limit
};

// The context's case inversion of c.
char16_t InvertCase(const MatchContext& context, char16_t c);

// A stack of plain entries whose storage is kept between searches. Growing is out of line, so
// that the walk, which pushes on every level, keeps a small frame.
template <typename T>
class EntryStack {
 public:
  size_t size() const { return size_; }
  void clear() { size_ = 0; }
  void Truncate(size_t n) { size_ = n; }  // n <= size()
  void Push(const T& entry) {
    if (size_ == capacity_) Grow();
    data_[size_++] = entry;
  }
  T Pop() { return data_[--size_]; }  // size() > 0
  const T& operator[](size_t i) const { return data_[i]; }

 private:
  [[gnu::noinline]] void Grow() {
    const size_t capacity = capacity_ < 64 ? 64 : 2 * capacity_;
    auto data = std::make_unique<T[]>(capacity);
    std::copy(data_.get(), data_.get() + size_, data.get());
    data_ = std::move(data);
    capacity_ = capacity;
  }

  std::unique_ptr<T[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

class Matcher {
 public:
  Matcher() = default;
  explicit Matcher(const MatchContext& ctx);

  // Takes a new context (copied; the program and character sets it points to must outlive
  // the searches). Set a subject before searching.
  void Reset(const MatchContext& ctx);
  // The subject of the following searches: [start, end), where *end == 0 (its first NUL).
  // Clears the captures.
  void SetSubject(const char16_t* start, const char16_t* end);

  // Searches from start (input_start <= start <= input_end). On success the captures hold the
  // match. Throws MatchError, with kErrorSearchBudgetExceeded's code when the search takes
  // more than the context's step budget.
  bool Search(const char16_t* start);

  std::array<const char16_t*, kMaxGroups> startp{};
  std::array<const char16_t*, kMaxGroups> endp{};

 private:
  struct Mark {  // where the walk last passed a loop head
    const char16_t* Node;
    const char16_t* Pos;
  };
  struct TrailEntry {  // a capture entry's value before the walk changed it
    const char16_t** Slot;
    const char16_t* Old;
  };

  void SetStackLimit();
  // Takes `steps` from the search's budget; throws MatchError when it is used up.
  void Charge(int64_t steps);
  bool Attempt(const char16_t* p);
  bool MatchPrim(const char16_t* scan);
  bool Walk(const char16_t* scan);
  bool MatchNode(const char16_t* scan);
  bool Repeat(const char16_t* scan, const char16_t* next);
  int64_t FastRepeat(const char16_t* opnd, int64_t max);
  bool Loop(const char16_t* scan, const char16_t* next);
  bool LoopEntry(const char16_t* next);

  char16_t Invert(char16_t c) const;
  bool InList(const char16_t* list, char16_t c) const;
  bool InListCI(const char16_t* list, char16_t c) const;
  bool IsWord(char16_t c) const { return context_.WordChars->Contains(c); }
  bool IsSpace(char16_t c) const { return context_.SpaceChars->Contains(c); }
  bool IsLineSeparator(char16_t c) const { return context_.LineSeparators->Contains(c); }

  MatchContext context_;
  // Units a match can begin with, worked out by the first search after Reset and kept for the
  // following ones: it depends only on the program and the context.
  enum class StartSetState { unknown, known, none };
  StartSetState startSetState_ = StartSetState::unknown;
  StartSet startSet_;
  const char16_t* code_ = nullptr;
  const char16_t* firstUnit_ = nullptr;
  const uint8_t* loopHead_ = nullptr;  // the program's loop_head, back_exit (or empty)
  const int* backExit_ = nullptr;
  const char16_t* inputStart_ = nullptr;  // the subject
  const char16_t* inputEnd_ = nullptr;
  const char16_t* reginput_ = nullptr;
  int depth_ = 0;
  int maxDepth_ = 0;
  int64_t stepsLeft_ = 0;     // of the current search's budget
  uintptr_t stackLimit_ = 0;  // lowest frame address a level may have
  int loopIdx_ = 0;
  std::array<int32_t, kMaxLoops + 1> loopStack_{};
  std::array<const char16_t*, kMaxLoops + 1> loopStart_{};  // where the current iteration began
  bool hasLoopHeads_ = false;
  EntryStack<Mark> marks_;
  EntryStack<TrailEntry> trail_;
};

}  // namespace brevis
