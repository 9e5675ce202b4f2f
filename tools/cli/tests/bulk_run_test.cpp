// Bulk runs: the split of a list into shares, report lines, and a report file that several
// processes append to at once.
#include "tools/cli/bulk_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/tests/test_files.h"

namespace brevis::cli {
namespace {

TEST(ShardTest, ParsesKOfNAndNamesWhatIsWrong) {
  EXPECT_EQ(ParseShard("1/1").Index, 1);
  EXPECT_EQ(ParseShard("3/8").Count, 8);
  EXPECT_EQ(ParseShard("8/8").Index, 8);
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"0/4", "0/4: K must be 1 to 4."},
      {"5/4", "5/4: K must be 1 to 4."},
      {"1/0", "1/0: N must be 1 to 1000000."},
      {"1/1000001", "1/1000001: N must be 1 to 1000000."},
      {"2", "takes K/N, share K of N, such as 2/8; not '2'."},
      {"a/4", "takes K/N, share K of N, such as 2/8; not 'a/4'."},
      {"1/4x", "takes K/N, share K of N, such as 2/8; not '1/4x'."},
      {"-1/4", "-1/4: K must be 1 to 4."},
  };
  for (const Case& c : cases) {
    try {
      ParseShard(c.text);
      ADD_FAILURE() << c.text;
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

TEST(ShardTest, SharesAreDisjointCoverTheListAndNeverChange) {
  // Tasks of one array may run different builds on different machines: these values are fixed.
  EXPECT_EQ(ShareOf("CN200710038426", 8), 3);
  EXPECT_EQ(ShareOf("CN201910987654", 8), 3);
  EXPECT_EQ(ShareOf("CN98123456", 1000), 569);

  // Numbers of one year and kind, as lists hold them, differ only in their last digits; each
  // share still gets its part of them.
  std::vector<std::string> numbers;
  for (int serial = 0; serial < 12000; ++serial) {
    numbers.push_back("CN20191" + std::to_string(1000000 + serial).substr(1));
  }
  for (const int count : {1, 2, 3, 7, 16}) {
    std::map<int, int> sizes;
    for (const std::string& number : numbers) {
      const int share = ShareOf(number, count);
      ASSERT_GE(share, 1);
      ASSERT_LE(share, count);
      ++sizes[share];
    }
    const double even = static_cast<double>(numbers.size()) / count;
    for (const auto& [share, size] : sizes) {
      EXPECT_NEAR(size, even, even * 0.1) << share << " of " << count;
    }
  }
}

ReportEntry SampleEntry() {
  ReportEntry entry;
  entry.Number = "CN200710038426";
  entry.Kind = "fmzl";
  entry.Outcome = "failed";
  entry.Pages = 12;
  entry.Bytes = 345678;
  entry.Seconds = 1.5;
  entry.Pdf = "/data/repo/CN200710038426/CN200710038426_gk.pdf";
  entry.Cause = "pages given up";
  entry.Detail = "gk_000003.tif: \"HTTP/1.1 500\"\n\xE9\xA1\xB5";
  entry.Time = "2026-12-11T05:50:01.123Z";
  entry.Host = "node07";
  entry.Pid = 4242;
  return entry;
}

TEST(ReportLineTest, RoundTripsAndRefusesLinesThatAreNotReports) {
  const std::string line = ReportLine(SampleEntry());
  ASSERT_EQ(line.find('\n'), line.size() - 1);
  const auto read = ReadReportLine(line);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->Detail, SampleEntry().Detail);
  EXPECT_EQ(read->Seconds, 1.5);
  EXPECT_EQ(read->Pid, 4242);
  EXPECT_DOUBLE_EQ(*ReportTimeSeconds(read->Time), 1796968201.123);

  const std::pair<std::string, std::string> damages[] = {
      {"\"outcome\":\"failed\"", "\"outcome\":\"lost\""},
      {"\"pages\":12", "\"pages\":\"12\""},
      {"\"pages\":12,", ""},
      {"\"time\":\"2026-12-11T05:50:01.123Z\"", "\"time\":\"yesterday\""},
      {"\"pid\":4242}", "\"pid\":4242"},
  };
  for (const auto& [from, to] : damages) {
    std::string damaged = line;
    damaged.replace(damaged.find(from), from.size(), to);
    EXPECT_FALSE(ReadReportLine(damaged).has_value()) << damaged;
  }
  EXPECT_TRUE(ReportTimeSeconds(ReportTimeNow()).has_value());
}

// A writer killed within its line leaves it without its line feed, and the next line starts anew.
// Looking at the file's last byte and appending after it must be one step against every other
// writer: here the test is a writer that holds the lock while it writes a line it never
// finishes, and several others, started meanwhile, append long lines. Each waits for the lock;
// the first to get it mends the torn line, and no other adds a line feed of its own.
TEST(ReportFileTest, WritersWaitForOneInMidLineAndMendItsTornLineOnce) {
  test::ScratchFolder scratch;
  const std::string path = scratch.File("report.jsonl");
  const std::string first = ReportLine(SampleEntry());
  const std::string torn = "{\"number\":\"CN2007";
  test::WriteFile(path, first);
  const int held = ::open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(held, 0);
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(held, F_SETLK, &whole), 0);

  constexpr int kWriters = 4;
  constexpr int kLines = 20;
  int started[2];
  ASSERT_EQ(::pipe(started), 0);
  std::vector<pid_t> writers;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(held);
      ::close(started[0]);
      // Each writer opens the file on its own, as separate tasks do.
      ReportFile report(path);
      ReportEntry entry = SampleEntry();
      entry.Pid = writer;
      // Long lines, so that a write split by the kernel or mixed with another would show.
      entry.Detail = std::string(3000, static_cast<char>('a' + writer));
      ::close(started[1]);
      for (int i = 0; i < kLines; ++i) {
        entry.Pages = i;
        report.Append(ReportLine(entry));
      }
      ::_exit(0);
    }
    writers.push_back(pid);
  }
  // Every writer has closed its end of the pipe when it reads end of file: all are appending.
  ::close(started[1]);
  char byte = 0;
  while (::read(started[0], &byte, 1) > 0) {
  }
  ::close(started[0]);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Measured through the descriptor that holds the lock: closing any other descriptor of the
  // file in this process would let go of the process's record locks on it.
  struct stat held_stat {};
  ASSERT_EQ(::fstat(held, &held_stat), 0);
  EXPECT_EQ(held_stat.st_size, static_cast<off_t>(first.size()))
      << "a writer did not wait for the lock";
  // The line is left unfinished and the lock let go, as when its writer is killed.
  ASSERT_EQ(::write(held, torn.data(), torn.size()), static_cast<ssize_t>(torn.size()));
  ::close(held);
  for (const pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::istringstream in(test::ReadFile(path));
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line + "\n", first);
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, torn);
  std::map<int64_t, std::set<int64_t>> pages_by_writer;
  while (std::getline(in, line)) {
    const auto entry = ReadReportLine(line);
    ASSERT_TRUE(entry.has_value()) << line.size() << ": " << line.substr(0, 80);
    EXPECT_EQ(entry->Detail, std::string(3000, static_cast<char>('a' + entry->Pid)));
    pages_by_writer[entry->Pid].insert(entry->Pages);
  }
  ASSERT_EQ(pages_by_writer.size(), static_cast<std::size_t>(kWriters));
  for (const auto& [writer, pages] : pages_by_writer) {
    EXPECT_EQ(pages.size(), static_cast<std::size_t>(kLines)) << writer;
  }
}

TEST(ReportFileTest, LineAfterATornLineStartsAnewAndUnwritableFileIsNamed) {
  test::ScratchFolder scratch;
  const std::string path = scratch.File("report.jsonl");
  // What a writer killed within its line leaves.
  test::WriteFile(path, "{\"number\":\"CN2007");
  ReportFile(path).Append(ReportLine(SampleEntry()));
  std::istringstream lines(test::ReadFile(path));
  std::string torn;
  std::string whole;
  std::getline(lines, torn);
  std::getline(lines, whole);
  EXPECT_EQ(torn, "{\"number\":\"CN2007");
  EXPECT_TRUE(ReadReportLine(whole).has_value()) << whole;

  try {
    ReportFile report(scratch.File("missing/report.jsonl"));
    ADD_FAILURE();
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot write the report " +
                                             scratch.File("missing/report.jsonl") +
                                             ": No such file or directory.");
  }
}

}  // namespace
}  // namespace brevis::cli
