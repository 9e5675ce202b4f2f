// Fuzz target: reading report lines. Any input must come out of the JSON reader as a flat object
// or not at all; every string it reads must go back through the writer to the same text; and a
// report line read must be written again as a line that reads back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/json_line.h"
#include "fuzz/fuzz_input.h"
#include "tools/cli/bulk_run.h"

using brevis::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  if (const auto members = brevis::ReadJsonLine(line)) {
    for (const auto& [key, value] : *members) {
      const auto again = brevis::ReadJsonLine("{" + brevis::JsonString(key) + ":" +
                                              brevis::JsonString(value.Text) + "}");
      Check(again.has_value(), "a written member does not read back");
      Check(again->begin()->first == key, "a key changed on its way back");
      Check(again->begin()->second.Text == value.Text, "a text changed on its way back");
    }
  }
  if (const auto entry = brevis::cli::ReadReportLine(line)) {
    const std::string written = brevis::cli::ReportLine(*entry);
    Check(!written.empty() && written.find('\n') == written.size() - 1,
          "a report line is not one line");
    const auto again = brevis::cli::ReadReportLine(written);
    Check(again.has_value(), "a written report line does not read back");
    Check(again->Number == entry->Number && again->Outcome == entry->Outcome &&
              again->Detail == entry->Detail && again->Pages == entry->Pages &&
              again->Time == entry->Time && again->Pid == entry->Pid,
          "a report line changed on its way back");
  }
  return 0;
}
