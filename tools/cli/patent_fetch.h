// PatentFetch: "fetch"'s work on one recognised patent through the core's services: its lookup
// (PatentLookup), its download and combination (PatentDownload) with the progress on standard
// error, and how it ended as a report entry. What went wrong is told on standard error in the
// texts the window's message boxes show.
#pragma once

#include <memory>
#include <string>

#include "core/combiner.h"
#include "core/patent_download.h"
#include "core/patent_lookup.h"
#include "core/recognised_number.h"
#include "tools/cli/bulk_run.h"

namespace brevis::cli {

struct FetchSettings {
  LookupSettings Lookup;
  // The downloads' settings; WaitForFolder is left out and set for each patent.
  DownloadSettings Download;
  // Tell on standard error, and wait, when another run is fetching the patent in this folder;
  // else the patent fails at once.
  bool WaitForFolder = true;
  std::u16string RootDir;  // without a trailing separator
  // Text recognition of the pages, and its languages.
  bool Ocr = false;
  std::string OcrLanguages;
};

class PatentFetch final {
 public:
  // Starts no thread, so that it may come before SuperviseChild.
  explicit PatentFetch(FetchSettings settings);
  ~PatentFetch();
  PatentFetch(const PatentFetch&) = delete;
  PatentFetch& operator=(const PatentFetch&) = delete;

  // Looks up and downloads `number` (valid), with a ProgressLine labelled `progress_label` on
  // standard error (bars when `terminal`), and returns how it ended: outcome "done" with the PDF,
  // its pages and size (the PDF's path also goes to standard output), or "failed" with a cause
  // ("lookup failed", "not found", "not started", "pages given up", "combine failed", "failed")
  // and the lines told as its detail. Number, Kind and the run's fields are left to the caller.
  ReportEntry Fetch(const RecognisedNumber& number, const std::string& progress_label,
                    bool terminal);

 private:
  const FetchSettings settings_;
  PatentLookup lookup_;
  std::unique_ptr<Combiner> combiner_;
};

}  // namespace brevis::cli
