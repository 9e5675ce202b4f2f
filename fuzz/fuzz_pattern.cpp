// Fuzz target: compiling and searching with the pattern engine, under random modifiers, with
// a capped subject and a step budget so that every input ends quickly. The matches it reports
// must lie inside the subject.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.h"
#include "regex/pattern.h"

namespace {

constexpr size_t kMaxPattern = 200;
constexpr size_t kMaxSubject = 4096;
constexpr int64_t kBudget = 200000;

void CheckMatch(brevis::Pattern& p, size_t subject_len) {
  using brevis::fuzz::Check;
  Check(p.MatchPos(0) >= 1, "match starts inside the subject");
  Check(static_cast<size_t>(p.MatchPos(0) - 1 + p.MatchLen(0)) <= subject_len,
        "match ends inside the subject");
  for (int g = 1; g <= p.SubExprMatchCount(); ++g) {
    if (p.MatchPos(g) < 0) continue;
    Check(p.MatchLen(g) >= 0, "a set group has a length");
    Check(static_cast<size_t>(p.MatchPos(g) - 1 + p.MatchLen(g)) <= subject_len,
          "group ends inside the subject");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Byte 0: modifiers i r s g m x; byte 1: pattern length; then pattern and subject.
  const uint8_t mods = data[0];
  const size_t pattern_len = std::min<size_t>(data[1], size - 2);
  if (pattern_len > kMaxPattern) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::u16string pattern = brevis::fuzz::Units(bytes.substr(0, pattern_len));
  const std::u16string subject = brevis::fuzz::Units(bytes.substr(pattern_len, kMaxSubject));

  brevis::Pattern p;
  p.SetSearchBudget(kBudget);
  try {
    for (int m = 0; m < 6; ++m) p.SetModifier(m + 1, ((mods >> m) & 1) != 0);
    if ((mods & 0x40) != 0) p.SetLinePairedSeparator(u"");
    p.SetExpression(pattern);
    p.Compile();
    p.Dump();
    const size_t len =
        subject.find(u'\0') == std::u16string::npos ? subject.size() : subject.find(u'\0');
    bool found = p.Exec(subject);
    for (int n = 0; found && n < 8; ++n) {
      CheckMatch(p, len);
      p.Substitute(u"<$1|${2}|$&>");
      found = p.ExecNext();
    }
  } catch (const brevis::PatternError&) {
    // Compile errors, the budget and the nesting bound end a search as reports.
  }
  return 0;
}
