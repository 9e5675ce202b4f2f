// brevisfetch-cli report: reads the JSON line reports of bulk fetches, from any number of tasks
// and runs, and prints what they add up to.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/ascii_text.h"
#include "common/text.h"
#include "tools/cli/bulk_run.h"
#include "tools/cli/commands.h"

namespace brevis::cli {

namespace {

// A line's outcome with its time span.
struct TimedEntry {
  ReportEntry Entry;
  double End = 0;  // seconds since 1970
};

// The lines of `files` that are report lines; tells of each other line on standard error.
std::vector<TimedEntry> ReadReports(const std::vector<std::string>& files) {
  std::vector<TimedEntry> entries;
  for (const std::string& name : files) {
    std::ifstream file(name, std::ios::binary);
    if (!file) throw std::runtime_error("Cannot read the report " + name + ".");
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
      if (ascii::TrimBlanks(line).empty()) continue;
      const std::optional<ReportEntry> entry = ReadReportLine(line);
      if (!entry) {
        std::cerr << EscapeControls(name) << ':' << number
                  << ": not a report line; it is left out.\n";
        continue;
      }
      entries.push_back({*entry, *ReportTimeSeconds(entry->Time)});
    }
  }
  return entries;
}

std::string Megabytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// The first line of `text`, made safe to print and cut to `width` characters.
std::string Example(const std::string& text, std::size_t width) {
  std::u16string first = Utf8ToUtf16(text.substr(0, text.find('\n')));
  if (first.size() > width) first = first.substr(0, width - 1) + u"…";
  return EscapeControls(Utf16ToUtf8(first));
}

void PrintSummary(const std::vector<std::string>& files) {
  std::vector<TimedEntry> entries = ReadReports(files);
  std::stable_sort(entries.begin(), entries.end(),
                   [](const TimedEntry& a, const TimedEntry& b) { return a.End < b.End; });

  struct Totals {
    int64_t Lines = 0;
    int64_t Pages = 0;
    int64_t Bytes = 0;
    double Seconds = 0;
  };
  const char* const outcomes[] = {"done", "skipped", "failed"};
  std::map<std::string, Totals> by_outcome;
  struct Cause {
    int64_t Lines = 0;
    std::string Example;
  };
  std::map<std::string, Cause> by_cause;
  std::map<std::string, std::string> last_outcome;  // by patent, in time order
  double first_start = 0;
  double last_end = 0;
  bool any_done = false;
  for (const TimedEntry& timed : entries) {
    const ReportEntry& entry = timed.Entry;
    Totals& totals = by_outcome[entry.Outcome];
    ++totals.Lines;
    totals.Pages += entry.Pages;
    totals.Bytes += entry.Bytes;
    totals.Seconds += entry.Seconds;
    last_outcome[entry.Number] = entry.Outcome;
    if (entry.Outcome == "failed") {
      Cause& cause = by_cause[entry.Cause.empty() ? "unknown" : entry.Cause];
      if (cause.Lines++ == 0) cause.Example = entry.Number + ": " + Example(entry.Detail, 100);
    }
    if (entry.Outcome == "done") {
      const double start = timed.End - entry.Seconds;
      first_start = any_done ? std::min(first_start, start) : start;
      last_end = any_done ? std::max(last_end, timed.End) : timed.End;
      any_done = true;
    }
  }

  std::cout << entries.size() << (entries.size() == 1 ? " line" : " lines") << " in "
            << files.size() << (files.size() == 1 ? " report" : " reports") << ", "
            << last_outcome.size() << (last_outcome.size() == 1 ? " patent" : " patents")
            << ".\n\n";
  std::printf("%-8s %8s %9s %12s %10s\n", "outcome", "patents", "pages", "bytes", "seconds");
  for (const char* outcome : outcomes) {
    const Totals& totals = by_outcome[outcome];
    std::printf("%-8s %8lld %9lld %12s %10s\n", outcome, static_cast<long long>(totals.Lines),
                static_cast<long long>(totals.Pages), Megabytes(totals.Bytes).c_str(),
                Fixed(totals.Seconds, 1).c_str());
  }
  std::fflush(stdout);

  if (!by_cause.empty()) {
    std::cout << "\nFailures by cause:\n";
    std::vector<std::pair<std::string, Cause>> causes(by_cause.begin(), by_cause.end());
    std::stable_sort(causes.begin(), causes.end(),
                     [](const auto& a, const auto& b) { return a.second.Lines > b.second.Lines; });
    for (const auto& [name, cause] : causes) {
      std::printf("  %-16s %6lld  e.g. %s\n", name.c_str(), static_cast<long long>(cause.Lines),
                  cause.Example.c_str());
    }
    std::fflush(stdout);
  }

  const Totals& done = by_outcome["done"];
  if (any_done) {
    const double span = std::max(last_end - first_start, 0.001);
    std::cout << "\nPages per second: " << Fixed(static_cast<double>(done.Pages) / span, 1) << " ("
              << done.Pages << " pages fetched in " << Fixed(span, 1)
              << " s, from the first start to the last end).\n";
  }
  std::vector<std::string> failing;
  for (const auto& [number, outcome] : last_outcome) {
    if (outcome == "failed") failing.push_back(number);
  }
  const std::size_t whole = last_outcome.size() - failing.size();
  std::cout << "\nWhole PDFs: " << whole << " of " << last_outcome.size() << " patents.";
  if (!failing.empty()) {
    std::cout << " Still failing (their last line says failed):";
    for (std::size_t i = 0; i < failing.size() && i < 10; ++i) {
      std::cout << (i == 0 ? " " : ", ") << EscapeControls(failing[i]);
    }
    if (failing.size() > 10) std::cout << " and " << failing.size() - 10 << " more";
    std::cout << '.';
  }
  std::cout << '\n';
}

}  // namespace

void AddReportCommand(CLI::App& app) {
  auto files = std::make_shared<std::vector<std::string>>();
  CLI::App* report = app.add_subcommand(
      "report",
      "Sum up the reports that fetch --report wrote: patents done, skipped and failed, failures "
      "grouped by cause, pages, bytes and pages per second");
  report->add_option("FILE", *files, "Report files (JSON lines), of any tasks and runs")
      ->required()
      ->type_name("FILE.jsonl ...");
  report->callback([files] { PrintSummary(*files); });
}

}  // namespace brevis::cli
