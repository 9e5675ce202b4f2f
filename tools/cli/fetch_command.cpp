// brevisfetch-cli fetch: downloads the page images of one or more patents and combines each into
// its PDF through the core's services, one number after the other. For bulk runs it takes one
// share of a list, skips patents whose PDF is whole already and appends how each patent ended to
// a report.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <deque>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "common/run_lock.h"
#include "common/text.h"
#include "core/patent_paths.h"
#include "core/recognised_number.h"
#include "ocr/ocr_engine.h"
#include "ocr/recognizer.h"
#include "tools/cli/bulk_run.h"
#include "tools/cli/commands.h"
#include "tools/cli/config_options.h"
#include "tools/cli/existing_pdf.h"
#include "tools/cli/folder_taken.h"
#include "tools/cli/number_list.h"
#include "tools/cli/patent_fetch.h"
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

// Removes from the folder of patent `apn` under `root_dir` what the work of process `pid`, killed
// while it wrote, leaves behind: the temporary files of its page, PDF and text files, and the
// folder's lock file unless another run holds it by now.
void RemoveLeftovers(const std::u16string& root_dir, const std::u16string& apn, pid_t pid) {
  brevis::RemoveTemporaryFiles(
      Utf16ToUtf8(PatentFolder(root_dir, apn)),
      [&apn](std::string_view target) { return IsPatentFileName(apn, target); }, pid);
  RemoveUnheldLock(Utf16ToUtf8(LockPath(root_dir, apn)));
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

  const Config config = options.Settings.Settings();
  FetchSettings settings;
  settings.RootDir = Utf8ToUtf16(RepoInForce(config));
  ApplyConfig(config, settings.Download);
  settings.Download.Retries.FirstPause = std::chrono::milliseconds(options.FirstPauseMs);
  settings.Download.Resume = options.Resume;
  // One pace for the whole run: every lookup and every worker's page requests share it.
  settings.Download.Pacer = std::make_shared<RequestPacer>(options.MaxRate);
  settings.Lookup.Server = Utf8ToUtf16(config.Server);
  settings.Lookup.PatentOffice = Utf8ToUtf16(config.PatentOffice);
  settings.Lookup.FetchDeadline = settings.Download.FetchDeadline;
  settings.Lookup.Pacer = settings.Download.Pacer;
  // A busy lookup service is waited for as it asks, like a busy page server.
  settings.Lookup.Tries = settings.Download.Retries.MaxTries;
  settings.WaitForFolder = !options.NoWait;
  settings.Ocr = config.Ocr;
  settings.OcrLanguages = OcrRecognition(config.OcrEngine, config.OcrLanguages);
  // Missing models or language data are told once, before anything is fetched.
  if (config.Ocr) CheckOcrRecognition(settings.OcrLanguages);
  const std::u16string root_dir = settings.RootDir;
  const bool ocr = settings.Ocr;
  PatentFetch fetch(std::move(settings));

  // The numbers of this run: its share of the list, each patent once in whatever form it is
  // named.
  const std::vector<ListedNumber> mine = TakeShare(numbers, shard);
  if (shard.Count > 1) {
    std::cerr << "Share " << shard.Index << '/' << shard.Count << ": " << mine.size() << " of "
              << numbers.size() << (numbers.size() == 1 ? " number." : " numbers.") << std::endl;
  }

  // The work runs in a child process: interrupted, the command stops it and removes what it was
  // writing from the folders of the batch's patents.
  SuperviseChild([&root_dir, &mine](pid_t child) {
    for (const ListedNumber& listed : mine) {
      if (listed.Number.Valid) RemoveLeftovers(root_dir, listed.Number.Apn, child);
    }
  });

  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  const std::string host = HostName();
  std::size_t failed = 0;
  std::size_t done = 0;
  // A patent that another run is fetching right now goes to the end of the turns, marked, so
  // that the others are done meanwhile; its second turn waits for that run.
  std::deque<std::pair<const ListedNumber*, bool>> turns;
  for (const ListedNumber& listed : mine) turns.emplace_back(&listed, false);
  while (!turns.empty()) {
    const auto [listed, second_turn] = turns.front();
    turns.pop_front();
    const auto start = std::chrono::steady_clock::now();
    const std::string& number = listed->Text;
    const RecognisedNumber& recognised = listed->Number;
    ReportEntry entry;
    if (!recognised.Valid) {
      const std::string why = NotValidText(recognised, number);
      std::cerr << why << '\n';
      entry.Number = number;
      entry.Outcome = "failed";
      entry.Cause = "invalid number";
      entry.Detail = why;
    } else {
      std::optional<ReportEntry> existing;
      if (options.SkipExisting) {
        if (FolderTaken(root_dir, recognised.Apn, second_turn && !options.NoWait) && !second_turn) {
          turns.emplace_back(listed, true);
          continue;
        }
        existing = ExistingPdf(root_dir, recognised.Apn, ocr);
      }
      // On a terminal the bars also tell how far the run has come.
      std::string progress = "CN" + Utf16ToUtf8(recognised.Apn);
      if (terminal && mine.size() > 1) {
        progress += " (" + std::to_string(done + 1) + "/" + std::to_string(mine.size()) + ")";
      }
      entry = existing ? *existing : fetch.Fetch(recognised, progress, terminal);
      entry.Number = "CN" + Utf16ToUtf8(recognised.Apn);
      entry.Kind = Utf16ToUtf8(recognised.Kind);
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
                  "Keep the page files already fetched, and with --ocr their recognised text, "
                  "and fetch only the others; remove what interrupted runs left");
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
