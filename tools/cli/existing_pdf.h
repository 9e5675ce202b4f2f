// The skip check of "fetch --skip-existing": a patent whose PDF is there and whole, and with
// recognition its text too, is not fetched again.
#pragma once

#include <optional>
#include <string>

#include "tools/cli/bulk_run.h"

namespace brevis::cli {

// The report entry of patent `apn` (digits only) under `root_dir` when its PDF, and with `text`
// its recognised text, are there and the PDF is whole (CheckPdfFile): outcome "skipped", the PDF's
// path, pages and size; the path also goes to standard output. Else nullopt. Tells on standard
// error what is skipped, or why a PDF there is fetched again.
std::optional<ReportEntry> ExistingPdf(const std::u16string& root_dir, const std::u16string& apn,
                                       bool text);

}  // namespace brevis::cli
