// End-to-end pace of "brevisfetch-cli fetch" against brevisfetch-hostile, read from the peer's
// log of page requests and their arrival times: a Retry-After holds every worker until the
// announced time, and --max-rate spreads the requests of all workers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/tests/test_files.h"
#include "tools/cli/tests/cli_process.h"
#include "tools/cli/tests/server_process.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;
using test::CliProcess;
using test::ReadFile;
using test::ServerProcess;

constexpr char kNumber[] = "200710038426";

// A page request as the peer logged it.
struct PageRequest {
  long atMs = 0;  // arrival, since the peer started
  int status = 0;
  int retryAfter = 0;  // seconds announced with a 429
};

std::vector<PageRequest> PageRequests(const std::string& log) {
  std::vector<PageRequest> requests;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"GET /pages/") == std::string::npos) continue;
    PageRequest request;
    request.status = std::stoi(line.substr(line.find("\" ") + 2));
    request.atMs = std::stol(line.substr(line.find(" at=") + 4));
    const std::size_t retry = line.find(" retry-after=");
    if (retry != std::string::npos) request.retryAfter = std::stoi(line.substr(retry + 13));
    requests.push_back(request);
  }
  std::sort(requests.begin(), requests.end(),
            [](const PageRequest& a, const PageRequest& b) { return a.atMs < b.atMs; });
  return requests;
}

class FetchPaceTest : public ::testing::Test {
 protected:
  FetchPaceTest() : dir_(test::FreshTestDir("fetch_pace_test")) {}
  ~FetchPaceTest() override { fs::remove_all(dir_); }

  // Fetches the number from a peer run with `server` options, which must succeed; the peer's
  // page requests.
  std::vector<PageRequest> Fetch(const std::vector<std::string>& server,
                                 const std::vector<std::string>& fetch) {
    std::vector<std::string> args = {BREVISFETCH_HOSTILE, "--port", "0"};
    args.insert(args.end(), server.begin(), server.end());
    const ServerProcess peer(args, dir_ / "peer.log");
    std::vector<std::string> all = {"fetch", std::string("CN") + kNumber, "--repo",
                                    (dir_ / "repo").string()};
    all.insert(all.end(), fetch.begin(), fetch.end());
    CliProcess process(all, peer.Base(), dir_ / "out", dir_ / "err");
    const int status = process.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(dir_ / "err");
    EXPECT_TRUE(fs::exists(dir_ / "repo" / ("CN" + std::string(kNumber)) /
                           ("CN" + std::string(kNumber) + "_gk.pdf")));
    return PageRequests(ReadFile(dir_ / "peer.log"));
  }

  fs::path dir_;
};

TEST_F(FetchPaceTest, RetryAfterHoldsEveryWorkerUntilTheAnnouncedTime) {
  // A short retry pause: without the hold-off the workers would be back at once.
  const std::vector<PageRequest> requests = Fetch(
      {"--mode", "retry-after", "--retry-after", "2", "--pages", "5"}, {"--retry-pause", "1"});
  const auto first = std::find_if(requests.begin(), requests.end(),
                                  [](const PageRequest& r) { return r.status == 429; });
  ASSERT_NE(first, requests.end());
  // Before the announced time each of the five workers asks once at most: its first request,
  // which may have been on its way when the 429 went out, however slow the machine; every
  // later try waits for the hold-off. Without it the workers would be back within milliseconds.
  constexpr long kWorkers = 5;
  const long until = first->atMs + first->retryAfter * 1000L;
  const auto early = std::count_if(requests.begin(), requests.end(),
                                   [until](const PageRequest& r) { return r.atMs < until; });
  EXPECT_LE(early, kWorkers) << "told at " << first->atMs << " ms to wait until " << until << " ms";
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                          [](const PageRequest& r) { return r.status == 200; }),
            5);
}

TEST_F(FetchPaceTest, MaxRateSpreadsThePageRequestsOfAllWorkers) {
  constexpr long kRate = 10;
  const std::vector<PageRequest> requests =
      Fetch({"--mode", "good", "--pages", "12"}, {"--max-rate", std::to_string(kRate)});
  ASSERT_EQ(requests.size(), 12u);
  // k requests span at least (k - 1) / rate, 1.1 s here. The allowance is for the way from slot
  // to peer, which a loaded machine (the sanitizer passes) may make long for the first request
  // alone; without the pace the twelve requests take some milliseconds.
  constexpr long kJitterMs = 500;
  const long span = requests.back().atMs - requests.front().atMs;
  EXPECT_GE(span, static_cast<long>((requests.size() - 1) * 1000 / kRate) - kJitterMs);
}

}  // namespace
}  // namespace brevis
