// Pattern matcher: walks a compiled program (program.h) over a subject with backtracking,
// and runs the search that picks the start positions.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "regex/char_set.h"
#include "regex/program.h"

namespace brevis {

// Raised by the matcher for an execution error; the engine turns it into its error report.
struct MatchError {
  int code;
};

struct MatchContext {
  const Program* program = nullptr;
  const char16_t* input_start = nullptr;
  const char16_t* input_end = nullptr;  // first NUL of the subject; *input_end == 0
  const CharSet* word_chars = nullptr;
  const CharSet* space_chars = nullptr;
  const CharSet* line_separators = nullptr;
  bool paired_assigned = false;
  char16_t paired_head = 0;
  char16_t paired_tail = 0;
  // Case inversion; nullptr means Pattern::InvertCaseFunction.
  const std::function<char16_t(char16_t)>* invert_case = nullptr;
  int max_depth = 0;           // nesting levels of the walk
  size_t max_stack_bytes = 0;  // stack the walk may use below its first level
};

class Matcher {
 public:
  Matcher() = default;
  explicit Matcher(const MatchContext& ctx);  // ctx must outlive the matcher's searches

  // Starts over with a new context (which must outlive the search): no captures.
  void Reset(const MatchContext& ctx);

  // Searches from start (input_start <= start <= input_end). On success the captures hold the
  // match. Throws MatchError.
  bool Search(const char16_t* start);

  std::array<const char16_t*, kMaxGroups> startp{};
  std::array<const char16_t*, kMaxGroups> endp{};

 private:
  struct Mark {  // where the walk last passed a loop head
    const char16_t* node;
    const char16_t* pos;
  };
  struct TrailEntry {  // a capture entry's value before the walk changed it
    const char16_t** slot;
    const char16_t* old;
  };
  struct StartSet {
    std::array<uint64_t, 4> low{};
    bool high = false;  // every unit above U+00FF may start a match
    void Add(char16_t c) {
      if (c < 256)
        low[c >> 6] |= uint64_t{1} << (c & 63);
      else
        high = true;
    }
    bool Has(char16_t c) const { return c < 256 ? ((low[c >> 6] >> (c & 63)) & 1) != 0 : high; }
  };

  bool Attempt(const char16_t* p);
  bool MatchPrim(const char16_t* scan);
  bool Walk(const char16_t* scan);
  bool Repeat(const char16_t* scan, const char16_t* next);
  int64_t FastRepeat(const char16_t* opnd, int64_t max);
  bool Loop(const char16_t* scan, const char16_t* next);
  bool LoopEntry(const char16_t* next);

  bool AddFirst(const char16_t* node, StartSet& set, int& budget) const;
  bool AddSimple(const char16_t* opnd, StartSet& set) const;

  char16_t Invert(char16_t c) const;
  bool InList(const char16_t* list, char16_t c) const;
  bool InListCI(const char16_t* list, char16_t c) const;
  bool IsWord(char16_t c) const { return ctx_->word_chars->Contains(c); }
  bool IsSpace(char16_t c) const { return ctx_->space_chars->Contains(c); }
  bool IsLineSeparator(char16_t c) const { return ctx_->line_separators->Contains(c); }

  const MatchContext* ctx_ = nullptr;  // owned by the caller, alive while searching
  const char16_t* code_ = nullptr;
  const char16_t* first_unit_ = nullptr;
  const char16_t* reginput_ = nullptr;
  int dirty_groups_ = kMaxGroups - 1;  // highest capture entry the last search could set
  int depth_ = 0;
  uintptr_t stack_base_ = 0;
  int loop_idx_ = 0;
  std::array<int32_t, kMaxLoops + 1> loop_stack_{};
  std::array<const char16_t*, kMaxLoops + 1> loop_start_{};  // where the current iteration began
  bool has_loop_heads_ = false;
  std::vector<Mark> marks_;
  std::vector<TrailEntry> trail_;
};

// Case inversion of the default InvertCase.
char16_t DefaultInvertCase(char16_t c);

}  // namespace brevis
