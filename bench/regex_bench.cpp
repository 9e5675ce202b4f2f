// Searches with the system's four patterns: our engine (Exec, which copies the subject, as the
// system calls it; and ExecPos on a subject stored once), std::wregex (ECMAScript, on the same
// text widened to wchar_t: std::regex has no working char16_t traits) and the PCRE2 interpreter
// (16-bit library, no JIT, on the same UTF-16 text). Also the compile time of long choices.
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "common/text.h"
#include "regex/pattern.h"

namespace {

using brevis::Pattern;

// About 1 MiB of HTML-like search-page text: table rows with numbers, links and quoted
// fields, then the fragments the lookup looks for near the end.
std::u16string PageText() {
  const std::u16string row =
      u"<tr><td class='nr'>200710038426</td><td><a href='/sipo/zljs/hyjs-yx-new.jsp?recid=CN"
      u"2007100384'>'ab','cd','2007'</a></td><td>'xy','z'</td></tr>\n";
  std::u16string text;
  while (text.size() < (1u << 20)) text += row;
  text +=
      u"<script>var gk=['fm','37','http://pic.example.cn/gk/20071003/8426/000001.tif'];"
      u"var sd=['xx','12','http://pic.example.cn/sd/20071003/8426/000001.tif'];</script>\n";
  text += u"37\thttp://pic.example.cn/gk/20071003/8426";
  return text;
}

struct Case {
  const char* name;
  const char16_t* pattern;
  bool big;  // searched in the page text; else in the number
};

const Case kCases[] = {
    {"number", u"^(ZL|CN)?(\\d+)(\\.[\\dX])?$", false},
    {"fm", u"'fm','(\\d+)','(.*?)/\\d+\\.tif'", true},
    {"xx", u"'xx','(\\d+)','(.*?)/\\d+\\.tif'", true},
    {"digits_tab", u"(\\d+)\\t(.+)", true},
};

const std::u16string& Subject(const Case& c) {
  static const std::u16string page = PageText();
  static const std::u16string number = u"CN200710038426";
  return c.big ? page : number;
}

std::wstring Widen(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "regex_bench: %s\n", what.c_str());
  std::exit(1);
}

void Ours(benchmark::State& state, const Case* c) {
  const std::u16string& subject = Subject(*c);
  Pattern p;
  p.SetExpression(c->pattern);
  for (auto _ : state) {
    const bool found = p.Exec(subject);
    benchmark::DoNotOptimize(found);
    if (!found) Die("ours found no match");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(subject.size() * sizeof(char16_t)));
}

// The search alone: the subject is copied into the engine once, outside the timing.
void OursSearchOnly(benchmark::State& state, const Case* c) {
  const std::u16string& subject = Subject(*c);
  Pattern p;
  p.SetExpression(c->pattern);
  p.SetInputString(subject);
  for (auto _ : state) {
    const bool found = p.ExecPos(1);
    benchmark::DoNotOptimize(found);
    if (!found) Die("ours found no match");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(subject.size() * sizeof(char16_t)));
}

void StdRegex(benchmark::State& state, const Case* c) {
  const std::wstring subject = Widen(Subject(*c));
  const std::wregex re(Widen(c->pattern), std::regex::ECMAScript);
  std::wsmatch m;
  for (auto _ : state) {
    const bool found = std::regex_search(subject, m, re);
    benchmark::DoNotOptimize(found);
    if (!found) Die("std::wregex found no match");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(subject.size() * sizeof(char16_t)));
}

struct PcreMatcher {
  explicit PcreMatcher(const char16_t* pattern) {
    int err = 0;
    PCRE2_SIZE offset = 0;
    const std::u16string text(pattern);
    // Our defaults: "." matches line breaks, "$" only at the very end.
    code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                         PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY, &err, &offset, nullptr);
    if (code == nullptr) Die("PCRE2 compile failed");
    data = pcre2_match_data_create_from_pattern(code, nullptr);
  }
  ~PcreMatcher() {
    pcre2_match_data_free(data);
    pcre2_code_free(code);
  }
  PcreMatcher(const PcreMatcher&) = delete;
  PcreMatcher& operator=(const PcreMatcher&) = delete;
  int Match(const std::u16string& s) {
    return pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), 0, 0, data, nullptr);
  }
  pcre2_code* code;
  pcre2_match_data* data;
};

void Pcre2Interpreter(benchmark::State& state, const Case* c) {
  const std::u16string& subject = Subject(*c);
  PcreMatcher re(c->pattern);
  for (auto _ : state) {
    const int rc = re.Match(subject);
    benchmark::DoNotOptimize(rc);
    if (rc < 0) Die("PCRE2 found no match");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(subject.size() * sizeof(char16_t)));
}

// All three must find the same match and groups before their times mean anything.
void CheckAgreement(const Case& c) {
  const std::u16string& subject = Subject(c);
  Pattern p;
  p.SetExpression(c.pattern);
  if (!p.Exec(subject)) Die(std::string(c.name) + ": ours found no match");
  PcreMatcher re(c.pattern);
  if (re.Match(subject) < 0) Die(std::string(c.name) + ": PCRE2 found no match");
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(re.data);
  const std::wstring wsubject = Widen(subject);
  const std::wregex wre(Widen(c.pattern), std::regex::ECMAScript);
  std::wsmatch m;
  if (!std::regex_search(wsubject, m, wre)) Die(std::string(c.name) + ": std found no match");
  for (int g = 0; g <= 2; ++g) {
    const auto pos = static_cast<PCRE2_SIZE>(p.MatchPos(g) - 1);
    const auto len = static_cast<PCRE2_SIZE>(p.MatchLen(g));
    if (ov[2 * g] != pos || ov[2 * g + 1] - ov[2 * g] != len ||
        static_cast<PCRE2_SIZE>(m.position(static_cast<size_t>(g))) != pos ||
        static_cast<PCRE2_SIZE>(m.length(static_cast<size_t>(g))) != len) {
      Die(std::string(c.name) + ": engines disagree on group " + std::to_string(g));
    }
  }
}

// Compiling "a|a|...|a|b" with range(0) alternatives: linear in their number.
void CompileAlternatives(benchmark::State& state) {
  std::u16string expression;
  for (int64_t i = 1; i < state.range(0); ++i) expression += u"a|";
  expression += u"b";
  for (auto _ : state) {
    Pattern p;
    p.SetExpression(expression);
    p.Compile();
  }
  state.SetComplexityN(state.range(0));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("compile_alternatives", CompileAlternatives)
      ->RangeMultiplier(4)
      ->Range(1 << 10, 1 << 16)
      ->Complexity()
      ->Unit(benchmark::kMicrosecond);
  for (const Case& c : kCases) {
    CheckAgreement(c);
    const std::string name = c.name;
    benchmark::RegisterBenchmark((name + "/ours").c_str(), Ours, &c)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((name + "/ours_search_only").c_str(), OursSearchOnly, &c)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((name + "/pcre2_interpreter").c_str(), Pcre2Interpreter, &c)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((name + "/std_wregex").c_str(), StdRegex, &c)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
