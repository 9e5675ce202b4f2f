// brevisfetch-cli fetch: downloads the page images of one or more patents and combines each into
// its PDF, driving the window's core as the window does, one number after the other.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/core/main_form.h"
#include "app/core/patent_paths.h"
#include "app/core/pdf_combiner.h"
#include "common/atomic_file.h"
#include "common/run_lock.h"
#include "common/text.h"
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

// Fetches the recognised number of `form`; true when its PDF was made. The window's thread is
// this one: it runs the calls the workers and the combination hand to it.
bool FetchOne(MainForm& form, ConsoleFace& face, bool terminal) {
  const std::string label = "CN" + Utf16ToUtf8(form.apn());
  ProgressLine line(stderr, label, terminal, form.TextRecognition());
  face.SetProgressLine(&line);
  const std::size_t messages_before = face.Messages().size();

  form.btnDownloadClick();
  while (!face.window.RunUntil([&form] { return !form.Busy(); }, std::chrono::hours(1))) {
  }
  face.window.RunPending();
  line.Finish();
  face.SetProgressLine(nullptr);

  const std::vector<std::string>& messages = face.Messages();
  for (std::size_t i = messages_before; i < messages.size(); ++i) {
    std::cerr << label << ": " << EscapeControls(messages[i]) << '\n';
  }
  const DownloadOutcome& outcome = form.LastOutcome();
  // The message names each page given up with its cause; under it, how to go on.
  if (!outcome.GivenUp.empty()) {
    std::cerr << label << ": fetch again with --resume to fetch only the missing pages.\n";
  }
  if (outcome.Result == DownloadOutcome::Status::kNotStarted && !outcome.Error.empty()) {
    std::cerr << label << ": " << EscapeControls(outcome.Error) << '\n';
  }
  if (outcome.Result != DownloadOutcome::Status::kCombined) return false;
  std::cout << Utf16ToUtf8(outcome.PdfPath) << std::endl;
  return true;
}

void RunFetch(const FetchOptions& options) {
  std::vector<std::string> numbers = options.Numbers;
  if (!options.From.empty()) {
    const std::vector<std::string> listed = ReadNumbers(options.From);
    numbers.insert(numbers.end(), listed.begin(), listed.end());
  }
  if (numbers.empty()) throw std::runtime_error("No numbers to fetch: give NUMBER or --from FILE.");

  ConsoleFace face;
  const Config config = options.Settings.Settings();
  MainFormSettings settings;
  settings.RootDir = Utf8ToUtf16(RepoInForce(config));
  ApplyConfig(config, settings);
  settings.Retries.FirstPause = std::chrono::milliseconds(options.FirstPauseMs);
  settings.Resume = options.Resume;
  // One pace for the whole run: every lookup and every worker's page requests share it.
  settings.Pacer = std::make_shared<RequestPacer>(options.MaxRate);
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

  // The work runs in a child process: interrupted, the command stops it and removes what it was
  // writing from the folders of the batch's patents.
  std::vector<std::u16string> apns;
  for (const std::string& number : numbers) {
    form.edtApnChange(Utf8ToUtf16(number));
    if (form.valid()) apns.push_back(form.apn());
  }
  SuperviseChild([&form, &apns](pid_t child) {
    for (const std::u16string& apn : apns) RemoveLeftovers(form.RootDir(), apn, child);
  });

  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  std::size_t failed = 0;
  std::set<std::u16string> fetched;
  for (const std::string& number : numbers) {
    form.edtApnChange(Utf8ToUtf16(number));
    if (!form.valid()) {
      std::cerr << NotValidText(form, number) << '\n';
      ++failed;
      continue;
    }
    // The same patent named twice, in whatever form, is fetched once.
    if (!fetched.insert(form.apn()).second) continue;
    if (!FetchOne(form, face, terminal)) ++failed;
  }
  if (failed > 0) {
    throw std::runtime_error(std::to_string(failed) + " of " + std::to_string(numbers.size()) +
                             (numbers.size() == 1 ? " number" : " numbers") + " not fetched.");
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
