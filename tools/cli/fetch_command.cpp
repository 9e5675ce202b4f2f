// brevisfetch-cli fetch: downloads the page images of one or more patents and combines each into
// its PDF, driving the window's core as the window does, one number after the other. For bulk
// runs it takes one share of a list, skips patents whose PDF is whole already and appends how
// each patent ended to a report.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/main_form.h"
#include "core/patent_paths.h"
#include "core/pdf_combiner.h"
#include "common/atomic_file.h"
#include "common/run_lock.h"
#include "common/text.h"
#include "ocr/document_text.h"
#include "pdf/pdf_file_check.h"
#include "tools/cli/bulk_run.h"
#include "tools/cli/commands.h"
#include "tools/cli/config_options.h"
#include "tools/cli/console_face.h"
#include "tools/cli/progress_line.h"
#include "tools/cli/supervised_child.h"

namespace brevis::cli {

namespace {

struct FetchOptions {
  std::vector<std::string> Numbers;
  std::string From;
  std::string ShardText;
  bool SkipExisting = false;
  std::string Report;
  bool Resume = false;
  bool NoWait = false;
  int FirstPauseMs = static_cast<int>(RetryPolicy{}.FirstPause.count());
  double MaxRate = 0;
  ConfigOptions Settings;
};

// One number a line; blank lines and lines starting with "#" are skipped. "-" reads stdin.
std::vector<std::string> ReadNumbers(const std::string& file_name) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (file_name != "-") {
    file.open(file_name);
    if (!file) throw std::runtime_error("Cannot read " + file_name + ".");
    in = &file;
  }
  std::vector<std::string> numbers;
  std::string line;
  bool at_start = true;
  while (std::getline(*in, line)) {
    // A byte-order mark that an editor put at the start of the file.
    if (at_start && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    at_start = false;
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto last = line.find_last_not_of(" \t\r");
    numbers.push_back(line.substr(first, last - first + 1));
  }
  return numbers;
}

// Removes from the folder of patent `apn` under `root_dir` what the work of process `pid`, killed
// while it wrote, leaves behind: the temporary files of its page, PDF and text files, and the
// folder's lock file unless another run holds it by now.
void RemoveLeftovers(const std::u16string& root_dir, const std::u16string& apn, pid_t pid) {
  brevis::RemoveTemporaryFiles(
      Utf16ToUtf8(PatentFolder(root_dir, apn)),
      [&apn](std::string_view target) { return IsPatentFileName(apn, target); }, pid);
  RemoveUnheldLock(Utf16ToUtf8(LockPath(root_dir, apn)));
}

// Fetches the recognised number of `form` and tells how it ended: outcome, pages, PDF and, for a
// failure, its cause and what the command printed. The window's thread is this one: it runs the
// calls the workers and the combination hand to it.
ReportEntry FetchOne(MainForm& form, ConsoleFace& face, const std::string& progress_label,
                     bool terminal) {
  const std::string label = "CN" + Utf16ToUtf8(form.apn());
  ProgressLine line(stderr, progress_label, terminal, form.TextRecognition());
  face.SetProgressLine(&line);
  const std::size_t messages_before = face.Messages().size();

  form.btnDownloadClick();
  while (!face.window.RunUntil([&form] { return !form.Busy(); }, std::chrono::hours(1))) {
  }
  face.window.RunPending();
  line.Finish();
  face.SetProgressLine(nullptr);

  ReportEntry entry;
  const auto tell = [&entry, &label](const std::string& text) {
    std::cerr << label << ": " << EscapeControls(text) << '\n';
    entry.Detail += (entry.Detail.empty() ? "" : "\n") + text;
  };
  const std::vector<std::string>& messages = face.Messages();
  for (std::size_t i = messages_before; i < messages.size(); ++i) tell(messages[i]);
  const DownloadOutcome& outcome = form.LastOutcome();
  // The message names each page given up with its cause; under it, how to go on.
  if (!outcome.GivenUp.empty()) {
    std::cerr << label << ": fetch again with --resume to fetch only the missing pages.\n";
  }
  if (outcome.Result == DownloadOutcome::Status::kNotStarted && !outcome.Error.empty()) {
    tell(outcome.Error);
  }
  using Status = DownloadOutcome::Status;
  entry.Outcome = "failed";
  switch (outcome.Result) {
    case Status::kCombined: {
      entry.Outcome = "done";
      entry.Detail.clear();
      entry.Pdf = Utf16ToUtf8(outcome.PdfPath);
      entry.Pages = form.rerazavu().GkPages;
      std::error_code error;
      const auto size = std::filesystem::file_size(FsPath(outcome.PdfPath), error);
      if (!error) entry.Bytes = static_cast<int64_t>(size);
      std::cout << entry.Pdf << std::endl;
      break;
    }
    case Status::kNotStarted:
      entry.Cause = !form.lookupCause().empty()    ? "lookup failed"
                    : form.rerazavu().GkPages <= 0 ? "not found"
                                                   : "not started";
      break;
    case Status::kPagesGivenUp:
      entry.Cause = "pages given up";
      break;
    case Status::kCombineFailed:
      entry.Cause = "combine failed";
      break;
    case Status::kFailed:
      entry.Cause = "failed";
      break;
  }
  return entry;
}

// With --skip-existing: the patent's PDF, and with recognition its text, are there and the PDF
// is whole. Tells on standard error what is skipped, or why a PDF there is fetched again.
std::optional<ReportEntry> ExistingPdf(const MainForm& form) {
  const std::u16string pdf = PdfPath(form.RootDir(), form.apn());
  const std::string label = "CN" + Utf16ToUtf8(form.apn());
  std::error_code error;
  if (!std::filesystem::exists(FsPath(pdf), error)) return std::nullopt;
  const PdfFileCheck check = CheckPdfFile(Utf16ToUtf8(pdf));
  if (!check.Whole) {
    std::cerr << label << ": the PDF there is not whole (" << check.Problem
              << "); fetching it again.\n";
    return std::nullopt;
  }
  if (form.TextRecognition()) {
    if (!std::filesystem::exists(TextFilePath(Utf16ToUtf8(pdf)), error)) {
      std::cerr << label << ": the PDF there has no recognised text; fetching it again.\n";
      return std::nullopt;
    }
  }
  ReportEntry entry;
  entry.Outcome = "skipped";
  entry.Pdf = Utf16ToUtf8(pdf);
  entry.Pages = check.Pages;
  const auto size = std::filesystem::file_size(FsPath(pdf), error);
  if (!error) entry.Bytes = static_cast<int64_t>(size);
  std::cerr << label << ": skipped, its PDF is there and whole (" << check.Pages
            << (check.Pages == 1 ? " page)" : " pages)") << ".\n";
  std::cout << entry.Pdf << std::endl;
  return entry;
}

// Whether another run holds the patent's folder now; takes the folder's lock for a moment to
// tell, and waits for that run to end when `wait`.
bool FolderTaken(const MainForm& form, bool wait) {
  std::error_code error;
  if (!std::filesystem::is_directory(FsPath(PatentFolder(form.RootDir(), form.apn())), error)) {
    return false;
  }
  RunLock lock(Utf16ToUtf8(LockPath(form.RootDir(), form.apn())));
  const std::string description = program_invocation_short_name;
  if (lock.TryLock(description)) return false;
  if (!wait) return true;
  std::cerr << "CN" << Utf16ToUtf8(form.apn())
            << ": waiting for the run that is fetching it in this folder." << std::endl;
  lock.Lock(description);
  return false;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

void RunFetch(const FetchOptions& options) {
  std::vector<std::string> numbers = options.Numbers;
  if (!options.From.empty()) {
    const std::vector<std::string> listed = ReadNumbers(options.From);
    numbers.insert(numbers.end(), listed.begin(), listed.end());
  }
  if (numbers.empty()) throw std::runtime_error("No numbers to fetch: give NUMBER or --from FILE.");
  // The whole list unless a share is asked for.
  const Shard shard = options.ShardText.empty() ? Shard{} : ParseShard(options.ShardText);
  // Opened first: a report that cannot be written stops the run before anything is fetched.
  std::unique_ptr<ReportFile> report;
  if (!options.Report.empty()) report = std::make_unique<ReportFile>(options.Report);

  ConsoleFace face;
  const Config config = options.Settings.Settings();
  MainFormSettings settings;
  settings.RootDir = Utf8ToUtf16(RepoInForce(config));
  ApplyConfig(config, settings);
  settings.Retries.FirstPause = std::chrono::milliseconds(options.FirstPauseMs);
  settings.Resume = options.Resume;
  // One pace for the whole run: every lookup and every worker's page requests share it.
  settings.Pacer = std::make_shared<RequestPacer>(options.MaxRate);
  // A busy lookup service is waited for as it asks, like a busy page server.
  settings.LookupTries = settings.Retries.MaxTries;
  // Told as it happens, before the wait, which may be long; the number's other lines follow.
  const MainForm* current = nullptr;
  if (!options.NoWait) {
    settings.WaitForFolder = [&current](const std::string& message) {
      std::cerr << "CN" << Utf16ToUtf8(current->apn()) << ": " << message << std::endl;
    };
  }
  // Missing language data is told once, before anything is fetched.
  if (config.Ocr) CheckOcrLanguages(config.OcrLanguages);
  MainForm form(face, std::make_unique<PdfCombiner>(), settings);
  current = &form;

  // The numbers of this run: its share of the list, each patent once in whatever form it is
  // named. A number that is not valid falls in the share of its text, so that exactly one task
  // reports it.
  std::vector<std::string> mine;
  std::vector<std::u16string> apns;
  std::set<std::u16string> seen;
  for (const std::string& number : numbers) {
    form.edtApnChange(Utf8ToUtf16(number));
    const std::string key = form.valid() ? "CN" + Utf16ToUtf8(form.apn()) : number;
    if (ShareOf(key, shard.Count) != shard.Index) continue;
    if (form.valid() && !seen.insert(form.apn()).second) continue;
    mine.push_back(number);
    if (form.valid()) apns.push_back(form.apn());
  }
  if (shard.Count > 1) {
    std::cerr << "Share " << shard.Index << '/' << shard.Count << ": " << mine.size() << " of "
              << numbers.size() << (numbers.size() == 1 ? " number." : " numbers.") << std::endl;
  }

  // The work runs in a child process: interrupted, the command stops it and removes what it was
  // writing from the folders of the batch's patents.
  SuperviseChild([&form, &apns](pid_t child) {
    for (const std::u16string& apn : apns) RemoveLeftovers(form.RootDir(), apn, child);
  });

  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  const std::string host = HostName();
  std::size_t failed = 0;
  std::size_t done = 0;
  // A patent that another run is fetching right now goes to the end of the turns, marked, so
  // that the others are done meanwhile; its second turn waits for that run.
  std::deque<std::pair<std::string, bool>> turns;
  for (const std::string& number : mine) turns.emplace_back(number, false);
  while (!turns.empty()) {
    const auto [number, second_turn] = turns.front();
    turns.pop_front();
    const auto start = std::chrono::steady_clock::now();
    form.edtApnChange(Utf8ToUtf16(number));
    ReportEntry entry;
    if (!form.valid()) {
      const std::string why = NotValidText(form, number);
      std::cerr << why << '\n';
      entry.Number = number;
      entry.Outcome = "failed";
      entry.Cause = "invalid number";
      entry.Detail = why;
    } else {
      std::optional<ReportEntry> existing;
      if (options.SkipExisting) {
        if (FolderTaken(form, second_turn && !options.NoWait) && !second_turn) {
          turns.emplace_back(number, true);
          continue;
        }
        existing = ExistingPdf(form);
      }
      // On a terminal the bars also tell how far the run has come.
      std::string progress = "CN" + Utf16ToUtf8(form.apn());
      if (terminal && mine.size() > 1) {
        progress += " (" + std::to_string(done + 1) + "/" + std::to_string(mine.size()) + ")";
      }
      entry = existing ? *existing : FetchOne(form, face, progress, terminal);
      entry.Number = "CN" + Utf16ToUtf8(form.apn());
      entry.Kind = Utf16ToUtf8(form.patent_type());
    }
    ++done;
    if (entry.Outcome == "failed") ++failed;
    if (report) {
      entry.Seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      entry.Time = ReportTimeNow();
      entry.Host = host;
      entry.Pid = ::getpid();
      report->Append(ReportLine(entry));
    }
  }
  if (failed > 0) {
    throw std::runtime_error(std::to_string(failed) + " of " + std::to_string(mine.size()) +
                             (mine.size() == 1 ? " number" : " numbers") + " not fetched.");
  }
}

}  // namespace

void AddFetchCommand(CLI::App& app) {
  auto options = std::make_shared<FetchOptions>();
  CLI::App* fetch =
      app.add_subcommand("fetch",
                         "Download the page images of each NUMBER and combine them into "
                         "REPO/CN<number>/CN<number>_gk.pdf; prints the path of each PDF made");
  fetch->add_option("NUMBER", options->Numbers, "Application numbers, e.g. CN200710038426");
  fetch->add_option("--from", options->From, "Also fetch the numbers in FILE, one a line (- stdin)")
      ->type_name("FILE");
  options->Settings.AddTo(*fetch);
  fetch
      ->add_option("--shard", options->ShardText,
                   "Fetch only share K of N of the numbers (1 <= K <= N), split by a hash of "
                   "each normalised number: the N shares of a list are disjoint, and together "
                   "the whole list, on every machine")
      ->type_name("K/N")
      ->check([](const std::string& text) {
        try {
          ParseShard(text);
          return std::string();
        } catch (const std::exception& error) {
          return std::string(error.what());
        }
      });
  fetch->add_flag("--skip-existing", options->SkipExisting,
                  "Skip a patent whose PDF is already there and whole (and, with --ocr, its "
                  "text); a PDF cut short or damaged is fetched again");
  fetch
      ->add_option("--report", options->Report,
                   "Append one JSON line per patent to FILE as it ends: number, kind, outcome "
                   "(done, skipped, failed), pages, bytes, seconds, pdf, cause; several runs may "
                   "append to one file")
      ->type_name("FILE.jsonl");
  fetch->add_flag("--resume", options->Resume,
                  "Keep the page files already fetched and fetch only the others; remove what "
                  "interrupted runs left");
  fetch->add_flag("--no-wait", options->NoWait,
                  "When another run is fetching the same patent into the same folder, fail at "
                  "once instead of waiting for it to end");
  fetch
      ->add_option("--retry-pause", options->FirstPauseMs,
                   "Pause after a page's first failed try, doubling up to 8 s, in milliseconds")
      ->type_name("MS")
      ->check(CLI::Range(0, 8000))
      ->capture_default_str();
  fetch
      ->add_option("--max-rate", options->MaxRate,
                   "At most R requests a second for the whole process, across its workers; "
                   "0: no limit")
      ->type_name("R")
      ->check(CLI::NonNegativeNumber);
  fetch->callback([options] { RunFetch(*options); });
}

}  // namespace brevis::cli
