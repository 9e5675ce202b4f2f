// End-to-end fault runs of "brevisfetch-cli fetch": against brevisfetch-hostile in each of its
// modes (pages and lookup answer), against a failing or slow brevisfetch-mirror, and into a full
// or read-only folder, each in a process of its own. Every run must end with a correct PDF or
// with a clear message that says why and status 1, leave no partial or non-TIFF page file
// behind, and keep its memory bounded.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/atomic_file.h"
#include "common/tests/test_files.h"
#include "tools/cli/tests/cli_process.h"
#include "tools/cli/tests/server_process.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;
using test::CliProcess;
using test::ReadFile;
using test::ServerProcess;
using test::ShellOutput;

struct FaultRun {
  bool exited = false;  // ended by exit, not by a signal
  int status = -1;
  long peakKiB = 0;  // peak resident set size
  std::string err;
};

// Runs "brevisfetch-cli fetch <args> --repo <repo>" against `base`, measuring its peak memory.
FaultRun Fetch(const std::string& base, const std::vector<std::string>& args, const fs::path& repo,
               const fs::path& dir) {
  std::vector<std::string> all = {"fetch"};
  all.insert(all.end(), args.begin(), args.end());
  all.insert(all.end(), {"--repo", repo.string()});
  CliProcess process(all, base, "/dev/null", dir / "err");
  const int status = process.Wait();
  FaultRun run;
  run.exited = WIFEXITED(status);
  run.status = run.exited ? WEXITSTATUS(status) : -1;
  run.peakKiB = process.PeakKiB();
  run.err = ReadFile(dir / "err");
  return run;
}

// The outcome every run must have: the PDF with every page, or a message, status 1 and no PDF;
// in both cases only whole TIFF page files in the patent's folder.
void CheckOutcome(const FaultRun& run, const fs::path& folder, const std::string& number, int pages,
                  const std::string& message, const std::string& cause) {
  ASSERT_TRUE(run.exited) << "killed by a signal: " << run.err;
  const fs::path pdf = folder / ("CN" + number + "_gk.pdf");
  if (message.empty()) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ShellOutput("qpdf --check " + pdf.string() + " >/dev/null 2>&1; echo $?"), "0\n");
    EXPECT_EQ(ShellOutput("qpdf --show-npages " + pdf.string()), std::to_string(pages) + "\n");
  } else {
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    if (!cause.empty()) {
      // Alternatives are parted by " | ": any one of them will do.
      bool found = false;
      for (std::string_view rest = cause; !found;) {
        const std::size_t bar = rest.find(" | ");
        found = run.err.find(rest.substr(0, bar)) != std::string::npos;
        if (bar == std::string_view::npos) break;
        rest.remove_prefix(bar + 3);
      }
      EXPECT_TRUE(found) << cause << " in:\n" << run.err;
    }
    EXPECT_FALSE(fs::exists(pdf));
  }
  if (!fs::exists(folder)) return;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".pdf")) continue;
    EXPECT_EQ(TemporaryTarget(name), "") << name;
    const std::string head = ReadFile(entry.path()).substr(0, 4);
    EXPECT_TRUE(head == std::string("II*\0", 4) || head == std::string("MM\0*", 4)) << name;
  }
}

// Five workers each filling a body up to the 32 MiB page cap, while its buffer doubles, measure
// some 300 to 470 MiB; with only the library's 256 MiB cap they would need over 1.25 GiB. The
// sanitizer's own memory comes on top.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kPeakLimitKiB = 2048L * 1024;
#else
constexpr long kPeakLimitKiB = 768L * 1024;
#endif

// What the command says when a page was given up, and when the mirror could not be asked.
constexpr char kGivenUp[] = "以下页面未能下载";
constexpr char kMirrorFailed[] = "网络问题，请检查您是否已经正常连接到互联网。";

struct Case {
  std::string title;
  std::vector<std::string> server;  // brevisfetch-hostile's or brevisfetch-mirror's options
  std::vector<std::string> fetch;   // the command's own options
  std::string message;              // empty: the PDF is made
  std::string cause;                // why, also printed; alternatives parted by " | "
};

// The allowances of fault_cases.txt: small, so that each bad case ends within seconds; many
// tries; a long deadline.
const std::map<std::string, std::vector<std::string>> kAllowances = {
    {"quick", {"--deadline", "1", "--max-tries", "2", "--retry-pause", "1"}},
    {"patient", {"--deadline", "5", "--max-tries", "30", "--retry-pause", "1"}},
    {"long", {"--deadline", "60"}},
};
constexpr char kPastQuickDeadline[] = "1500";  // milliseconds

// The cases of one peer (pages, lookup or mirror) in fault_cases.txt, which scripts/faults runs
// too.
std::vector<Case> CasesOf(const std::string& peer) {
  std::istringstream lines(ReadFile(FAULT_CASES));
  std::vector<Case> cases;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    // The last field, the cause, is the rest of the line.
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t end; fields.size() < 5 && (end = line.find(';', start)) != line.npos;) {
      fields.push_back(line.substr(start, end - start));
      start = end + 1;
    }
    fields.push_back(line.substr(start));
    if (fields.size() != 6) {
      ADD_FAILURE() << "not six fields: " << line;
      continue;
    }
    if (fields[0] != peer) continue;
    Case c{fields[1], {}, kAllowances.at(fields[3]), fields[4], fields[5]};
    std::istringstream words(fields[2]);
    for (std::string word; words >> word;) {
      c.server.push_back(word == "{past-deadline}" ? kPastQuickDeadline : word);
    }
    if (c.message == "pdf") c.message.clear();
    if (c.message == "given-up") c.message = kGivenUp;
    if (c.message == "mirror-failed") c.message = kMirrorFailed;
    cases.push_back(std::move(c));
  }
  EXPECT_FALSE(cases.empty()) << peer;
  return cases;
}

class FetchFaultsTest : public ::testing::Test {
 protected:
  FetchFaultsTest() : dir_(test::FreshTestDir("fetch_faults_test")) {}
  ~FetchFaultsTest() override { fs::remove_all(dir_); }

  void RunCases(const char* program, const std::vector<std::string>& common,
                const std::vector<Case>& cases, const std::string& number, int pages) {
    int index = 0;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.title);
      std::vector<std::string> args = {program, "--port", "0"};
      args.insert(args.end(), common.begin(), common.end());
      args.insert(args.end(), c.server.begin(), c.server.end());
      const fs::path repo = dir_ / ("repo" + std::to_string(index++));
      ServerProcess server(args, dir_ / "server.log");
      std::vector<std::string> fetch = {"CN" + number};
      fetch.insert(fetch.end(), c.fetch.begin(), c.fetch.end());
      const FaultRun run = Fetch(server.Base(), fetch, repo, dir_);
      CheckOutcome(run, repo / ("CN" + number), number, pages, c.message, c.cause);
      EXPECT_LT(run.peakKiB, kPeakLimitKiB);
    }
  }

  fs::path dir_;
};

TEST_F(FetchFaultsTest, HostilePageServers) {
  RunCases(BREVISFETCH_HOSTILE, {"--pages", "5"}, CasesOf("pages"), "200710038426", 5);
}

TEST_F(FetchFaultsTest, HostileLookupAnswers) {
  RunCases(BREVISFETCH_HOSTILE, {"--trickle-ms", "100"}, CasesOf("lookup"), "200710038426", 3);
}

TEST_F(FetchFaultsTest, FailingAndSlowMirror) {
  const fs::path sample = dir_ / "sample";
  ASSERT_EQ(std::system((std::string(BREVISFETCH_MIRROR) + " --make-sample " + sample.string() +
                         " >/dev/null")
                            .c_str()),
            0);
  RunCases(BREVISFETCH_MIRROR, {"--data", sample.string()}, CasesOf("mirror"), "200710038426", 12);
}

// A local file error is not the network's: the page or the PDF that could not be written is named
// with the system's reason, nothing is retried, and nothing partial stays. The repository is a
// small or read-only file system mounted in a user and mount namespace of the run's own.
TEST_F(FetchFaultsTest, FullAndReadOnlyFolders) {
  if (std::system("unshare -rm true 2>/dev/null") != 0) {
    GTEST_SKIP() << "no user and mount namespaces here (unshare -rm)";
  }
  const fs::path sample = dir_ / "sample";
  ASSERT_EQ(std::system((std::string(BREVISFETCH_MIRROR) + " --make-sample " + sample.string() +
                         " >/dev/null")
                            .c_str()),
            0);
  struct FolderCase {
    const char* title;
    const char* mount;              // shell commands run in the namespace before the fetch, on "$R"
    std::vector<std::string> says;  // the message and the cause: the file and the reason
  };
  const FolderCase cases[] = {
      {"full while pages arrive",
       "mount -t tmpfs -o size=200k tmpfs \"$R\"",
       {kGivenUp, "CN200710038426/gk_0000", ".tif: No space left on device"}},
      {"full when the PDF is written",
       "mount -t tmpfs -o size=560k tmpfs \"$R\"",
       {"合并PDF文件时遇到问题",
        "CN200710038426/CN200710038426_gk.pdf\": No space left on device"}},
      {"read-only repository",
       "mount -t tmpfs -o ro tmpfs \"$R\"",
       {"Cannot create folder", "CN200710038426: Read-only file system"}},
      {"read-only patent folder",
       "mount -t tmpfs tmpfs \"$R\" && mkdir \"$R/CN200710038426\" && mount -o remount,ro \"$R\"",
       {kGivenUp, ".tif: Read-only file system"}},
  };
  int index = 0;
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.title);
    const fs::path repo = dir_ / ("folder" + std::to_string(index));
    const fs::path log = dir_ / ("mirror" + std::to_string(index++) + ".log");
    fs::create_directories(repo);
    ServerProcess mirror({BREVISFETCH_MIRROR, "--port", "0", "--data", sample.string()}, log);
    // The run sees its own mounts; what it leaves is listed from inside before they go.
    const std::string script =
        "export BREVISFETCH_SERVER=" + mirror.Base() +
        " BREVISFETCH_PATENT_OFFICE=" + mirror.Base() + " R=" + repo.string() + "; " + c.mount +
        " && { " + BREVISFETCH_CLI + " fetch CN200710038426 --repo \"$R\" 2>" +
        (dir_ / "err").string() + "; echo $? >" + (dir_ / "status").string() +
        "; ls -A \"$R\"/CN200710038426 >" + (dir_ / "left").string() + " 2>/dev/null; true; }";
    fs::remove(dir_ / "status");
    fs::remove(dir_ / "left");
    ASSERT_EQ(std::system(("unshare -rm sh -c '" + script + "'").c_str()), 0);
    const std::string err = ReadFile(dir_ / "err");
    EXPECT_EQ(ReadFile(dir_ / "status"), "1\n") << err;
    for (const std::string& text : c.says) {
      EXPECT_NE(err.find(text), std::string::npos) << text << " in:\n" << err;
    }
    std::istringstream left(ReadFile(dir_ / "left"));
    for (std::string name; std::getline(left, name);) {
      EXPECT_EQ(TemporaryTarget(name), "") << name;
      EXPECT_FALSE(name.ends_with(".pdf")) << name;
    }
    // Nothing was retried: no page was asked for twice.
    std::istringstream lines(ReadFile(log));
    std::set<std::string> asked;
    for (std::string line; std::getline(lines, line);) {
      const std::size_t at = line.find("\"GET /pages/");
      if (at == std::string::npos) continue;
      const std::string target = line.substr(at, line.find(' ', at + 5) - at);
      EXPECT_TRUE(asked.insert(target).second) << "asked twice: " << target;
    }
  }
}

}  // namespace
}  // namespace brevis
