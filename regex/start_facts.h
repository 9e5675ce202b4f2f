// Start-position analysis: what a compiled program tells a search about where a match can begin
// (its first unit, anchoring, a required literal, the first unit after each node, and the set of
// units a match can begin with), so that impossible start positions are skipped.
#pragma once

#include "regex/char_set.h"
#include "regex/program.h"

namespace brevis {

struct MatchContext;

// Units a match can begin with: a bitmap of U+0000..U+00FF and one bit for every unit above.
struct StartSet {
  Latin1Bitmap Low;
  bool High = false;  // every unit above U+00FF may start a match
  void Add(char16_t c) {
    if (c < 256)
      Low.Add(c);
    else
      High = true;
  }
  bool Has(char16_t c) const { return c < 256 ? Low.Has(c) : High; }
};

// Sets regstart, reganch, regmust/regmlen and prefix/prefix_len of a freshly compiled program.
// A required literal is looked for only when the pattern starts with a repetition.
void ComputeStartFacts(Program& prog, bool starts_with_repeat);

// Fills prog.FirstUnit: for every node, the first unit of the literal a walk from it must match
// before anything else, or 0.
void ComputeFirstUnits(Program& prog);

// Fills `set` with every unit a match of context.Prog can begin with, under the context's
// character sets and case inversion. False when that is not known (a match may begin without
// consuming a unit, or with any unit); `set` is then of no use.
bool ComputeStartSet(const MatchContext& context, StartSet& set);

}  // namespace brevis
