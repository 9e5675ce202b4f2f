// Tests of DownloadThread against a loopback page server: queue order, retries, the TIFF check,
// atomic page files, giving up a page and ending.
#include "download/download_thread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/atomic_file.h"
#include "common/tests/test_files.h"
#include "common/text.h"
#include "download/tests/page_server.h"
#include "download/tests/tiff_sample.h"
#include "http/net/tests/scripted_peer.h"

namespace brevis {
namespace {

using test::ReadFile;

namespace fs = std::filesystem;

// A fast schedule, so that a page that keeps failing is given up within milliseconds.
RetryPolicy FastRetries() {
  RetryPolicy policy;
  policy.FirstPause = std::chrono::milliseconds(1);
  policy.MaxPause = std::chrono::milliseconds(4);
  return policy;
}

class DownloadThreadTest : public ::testing::Test {
 protected:
  DownloadThreadTest() : dir_(test::FreshTestDir("download_thread_test")) {}
  ~DownloadThreadTest() override { fs::remove_all(dir_); }

  // The job of page `page` ("/<page>.tif" to "<dir>/<page>.tif"), recording its completion.
  DownloadItem Job(const test::PageServer& server, int page, bool with_callback = true) {
    DownloadItem item;
    const std::string name = std::to_string(page) + ".tif";
    item.RemoteUrl = Utf8ToUtf16(server.Base() + "/" + name);
    item.LocalUrl = Utf8ToUtf16((dir_ / name).string());
    if (with_callback) {
      item.AfterDownloadEvent = [this, page](DownloadThread&) {
        std::lock_guard<std::mutex> guard(lock_);
        completed_.push_back(page);
      };
    }
    return item;
  }

  std::vector<int> Completed() {
    std::lock_guard<std::mutex> guard(lock_);
    return completed_;
  }

  // Names of all files in the folder, so that stray temporary files show up.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  std::mutex lock_;
  std::vector<int> completed_;
};

// Serves "/<n>.tif" as TiffSample(n).
test::Reply Page(const std::string& target) {
  return {200, test::TiffSample(static_cast<uint32_t>(std::stoi(target.substr(1))))};
}

TEST_F(DownloadThreadTest, FetchesQueuedJobsInOrderThenEnds) {
  test::PageServer server(Page);
  DownloadThread worker(true);
  for (int page : {1, 2, 3}) worker.AddToJobList(Job(server, page));
  EXPECT_TRUE(server.Requests().empty());  // suspended: nothing happens before Resume
  worker.Resume();
  worker.WaitFor();

  EXPECT_TRUE(worker.Terminated());
  EXPECT_EQ(server.Requests(), (std::vector<std::string>{"/1.tif", "/2.tif", "/3.tif"}));
  EXPECT_EQ(Completed(), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(Files(), (std::vector<std::string>{"1.tif", "2.tif", "3.tif"}));
  for (int page : {1, 2, 3}) {
    EXPECT_EQ(ReadFile(dir_ / (std::to_string(page) + ".tif")),
              test::TiffSample(static_cast<uint32_t>(page)));
  }
}

TEST_F(DownloadThreadTest, FailedTryIsRetriedAfterTheOtherJobs) {
  // Each kind of bad answer to the first request of page 1 counts as one failed try.
  struct Case {
    const char* name;
    test::Reply firstReply;
  };
  const Case kCases[] = {
      {"error status", {500, "busy"}},
      {"html page with status 200", {200, "<html><body>Please wait</body></html>"}},
      {"truncated tiff", {200, test::TiffSample(1).substr(0, 30)}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    completed_.clear();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    std::atomic<bool> failed_once{false};
    test::PageServer server([&](const std::string& target) {
      if (target == "/1.tif" && !failed_once.exchange(true)) return c.firstReply;
      return Page(target);
    });
    DownloadThread worker(true, FastRetries());
    for (int page : {1, 2, 3}) worker.AddToJobList(Job(server, page));
    worker.Resume();
    worker.WaitFor();

    EXPECT_EQ(server.Requests(),
              (std::vector<std::string>{"/1.tif", "/2.tif", "/3.tif", "/1.tif"}));
    EXPECT_EQ(Completed(), (std::vector<int>{2, 3, 1}));
    EXPECT_EQ(ReadFile(dir_ / "1.tif"), test::TiffSample(1));
    EXPECT_EQ(Files(), (std::vector<std::string>{"1.tif", "2.tif", "3.tif"}));
  }
}

TEST_F(DownloadThreadTest, ReplacesAnExistingFileWithoutCallback) {
  std::ofstream(dir_ / "4.tif") << "an older page";
  test::PageServer server(Page);
  DownloadThread worker(true);
  worker.AddToJobList(Job(server, 4, false));
  worker.Resume();
  worker.WaitFor();
  EXPECT_EQ(ReadFile(dir_ / "4.tif"), test::TiffSample(4));
  EXPECT_EQ(Files(), (std::vector<std::string>{"4.tif"}));
  EXPECT_TRUE(Completed().empty());
}

TEST_F(DownloadThreadTest, EmptyQueueEndsAtOnce) {
  test::PageServer server(Page);
  DownloadThread worker(true);
  worker.Resume();
  worker.WaitFor();
  EXPECT_TRUE(worker.Terminated());
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(DownloadThreadTest, FailingPagesAreGivenUpWithTheirCause) {
  struct Case {
    const char* name;
    int status;         // of /2.tif; 200 with a page that cannot be written
    std::size_t tries;  // of /2.tif
    const char* cause;  // part of the cause told with the page
  };
  const Case kCases[] = {
      // A server error may pass: eight tries.
      {"server error", 500, 8, "HTTP/1.1 500"},
      // The server says the page is not there: trying again does not mend it.
      {"not found", 404, 1, "HTTP/1.1 404"},
      {"gone", 410, 1, "HTTP/1.1 410"},
      // A file that cannot be written here is no network error.
      {"local file", 200, 1, "Not a directory"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    test::PageServer server([&c](const std::string& target) {
      return target == "/2.tif" && c.status != 200 ? test::Reply{c.status, "no"} : Page(target);
    });
    std::vector<std::u16string> given_up;
    std::string cause;
    DownloadThread worker(true, FastRetries(),
                          [&](DownloadThread&, const DownloadItem& job, const std::string& why) {
                            given_up.push_back(job.RemoteUrl);
                            cause = why;
                          });
    for (int page : {1, 2, 3}) {
      DownloadItem job = Job(server, page);
      // Page 2's folder is a plain file.
      if (page == 2 && c.status == 200) {
        std::ofstream(dir_ / "plain") << "x";
        job.LocalUrl = Utf8ToUtf16((dir_ / "plain" / "2.tif").string());
      }
      worker.AddToJobList(job);
    }
    worker.Resume();
    worker.WaitFor();

    EXPECT_EQ(server.Count("/2.tif"), c.tries);
    EXPECT_EQ(given_up, (std::vector<std::u16string>{Utf8ToUtf16(server.Base() + "/2.tif")}));
    EXPECT_NE(cause.find(c.cause), std::string::npos) << cause;
    // A network cause names the address; a local one the file.
    EXPECT_NE(cause.find(c.status == 200 ? "2.tif" : server.Base() + "/2.tif"), std::string::npos)
        << cause;
    EXPECT_EQ(Completed(), (std::vector<int>{1, 3}));
    std::lock_guard<std::mutex> guard(lock_);
    completed_.clear();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
}

TEST_F(DownloadThreadTest, ReceiverErrorDoesNotFetchThePageAgain) {
  test::PageServer server(Page);
  DownloadThread worker(true);
  DownloadItem job = Job(server, 5);
  job.AfterDownloadEvent = [](DownloadThread&) { throw std::runtime_error("receiver failed"); };
  worker.AddToJobList(job);
  worker.Resume();
  worker.WaitFor();
  EXPECT_EQ(server.Count("/5.tif"), 1u);
  EXPECT_EQ(ReadFile(dir_ / "5.tif"), test::TiffSample(5));
}

TEST_F(DownloadThreadTest, DestructorCutsARetryPauseShort) {
  test::PageServer server([](const std::string&) { return test::Reply{503, "later"}; });
  RetryPolicy slow;
  slow.FirstPause = std::chrono::hours(1);
  slow.MaxPause = std::chrono::hours(1);
  {
    DownloadThread worker(true, slow);
    worker.AddToJobList(Job(server, 1));
    worker.Resume();
    while (server.Count("/1.tif") == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The worker now waits an hour before its second try; ending it must not wait for that.
  }
  EXPECT_EQ(server.Count("/1.tif"), 1u);
  EXPECT_TRUE(Files().empty());
}

// Holds every answer back until opened (or 20 s have passed), like a server that never answers.
class Gate {
 public:
  ~Gate() { Open(); }
  void Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    opened_.wait_for(guard, std::chrono::seconds(20), [this] { return open_; });
  }
  void Open() {
    std::lock_guard<std::mutex> guard(lock_);
    open_ = true;
    opened_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable opened_;
  bool open_ = false;
};

TEST_F(DownloadThreadTest, LimitsGiveUpAPageThatTakesTooLongOrIsTooLarge) {
  struct Case {
    const char* title;
    bool silent;  // the server never answers
    FetchLimits limits;
  };
  const Case kCases[] = {
      {"deadline", true, {0, 200, FetchLimits{}.MaxBodySize}},
      {"body cap", false, {15000, 0, 100}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.title);
    Gate gate;
    test::PageServer server([&gate, &c](const std::string& target) {
      if (c.silent) gate.Wait();
      return Page(target);
    });
    RetryPolicy two = FastRetries();
    two.MaxTries = 2;
    std::atomic<int> given_up{0};
    {
      DownloadThread worker(
          true, two,
          [&given_up](DownloadThread&, const DownloadItem&, const std::string&) { ++given_up; },
          c.limits);
      worker.AddToJobList(Job(server, 1));
      worker.Resume();
      worker.WaitFor();
    }
    gate.Open();
    EXPECT_EQ(given_up, 1);
    EXPECT_EQ(server.Count("/1.tif"), 2u);
    EXPECT_TRUE(Completed().empty());
    EXPECT_TRUE(Files().empty());
  }
}

TEST_F(DownloadThreadTest, TerminateCutsAFetchUnderWayShort) {
  Gate gate;
  test::PageServer server([&gate](const std::string& target) {
    if (target != "/1.tif") gate.Wait();
    return Page(target);
  });
  std::atomic<int> given_up{0};
  const auto start = std::chrono::steady_clock::now();
  {
    // No deadline and the default read time-out: only Terminate can end the second fetch soon.
    DownloadThread worker(
        true, FastRetries(),
        [&given_up](DownloadThread&, const DownloadItem&, const std::string&) { ++given_up; });
    worker.AddToJobList(Job(server, 1));
    worker.AddToJobList(Job(server, 2));
    worker.Resume();
    while (server.Count("/2.tif") == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    worker.Terminate();
    worker.WaitFor();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  gate.Open();
  // The page written before stays; the page cut short is neither written nor given up.
  EXPECT_EQ(Completed(), std::vector<int>{1});
  EXPECT_EQ(Files(), std::vector<std::string>{"1.tif"});
  EXPECT_EQ(given_up, 0);
  EXPECT_EQ(server.Count("/2.tif"), 1u);
}

// The body reaches the page's temporary file while it arrives: a server that sends half a page
// and then waits finds that half on the disk, and a fetch cut short there leaves no file.
TEST_F(DownloadThreadTest, BodyReachesTheFileWhileItArrives) {
  const std::string page = test::TiffSample(3);
  const std::size_t half = page.size() / 2;
  test::ScriptedPeer peer(
      {test::PeerStep::ExpectUntil("\r\n\r\n"),
       test::PeerStep::Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) +
                            "\r\n\r\n" + page.substr(0, half)),
       test::PeerStep::Delay(20000)});
  std::atomic<int> given_up{0};
  DownloadThread worker(
      true, FastRetries(),
      [&given_up](DownloadThread&, const DownloadItem&, const std::string&) { ++given_up; });
  DownloadItem job;
  job.RemoteUrl = Utf8ToUtf16("http://127.0.0.1:" + std::to_string(peer.Port()) + "/1.tif");
  job.LocalUrl = Utf8ToUtf16((dir_ / "1.tif").string());
  worker.AddToJobList(job);
  worker.Resume();

  // The temporary file of 1.tif holding the first half.
  const auto holds_half = [&] {
    for (const auto& entry : fs::directory_iterator(dir_)) {
      if (TemporaryTarget(entry.path().filename().string()) == "1.tif" &&
          ReadFile(entry.path()) == page.substr(0, half)) {
        return true;
      }
    }
    return false;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!holds_half() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(holds_half()) << "the first half never reached a temporary file";
  worker.Terminate();
  worker.WaitFor();
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(given_up, 0);
}

}  // namespace
}  // namespace brevis
