// Bulk runs of "brevisfetch-cli fetch" end to end against brevisfetch-mirror: shares of a list
// run at once into one repository and one report, skipping what is whole, and the report's
// summary.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/run_lock.h"
#include "common/tests/test_files.h"
#include "tools/cli/bulk_run.h"
#include "tools/cli/tests/cli_process.h"
#include "tools/cli/tests/server_process.h"
#include "tools/cli/tests/ocr_models.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;
using cli::ReadReportLine;
using cli::ReportEntry;
using test::CliProcess;
using test::Lines;
using test::ReadFile;

std::vector<ReportEntry> ReportEntries(const fs::path& report) {
  std::vector<ReportEntry> entries;
  for (const std::string& line : Lines(ReadFile(report))) {
    const auto entry = ReadReportLine(line);
    EXPECT_TRUE(entry.has_value()) << line;
    if (entry) entries.push_back(*entry);
  }
  return entries;
}

// The sample's four patents, the first named twice in two forms, and a number that is not one.
constexpr const char* kList =
    "# the sample\n200710038426\nCN201910987654\nZL200820123456\nCN98123456\n"
    "CN2007100384266\n12345\n";

class BulkFetchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CliProcess::AdoptOrphans();
    sample_ = new fs::path(fs::temp_directory_path() /
                           ("bulk_fetch_test_sample_" + std::to_string(::getpid())));
    ASSERT_EQ(std::system((std::string(BREVISFETCH_MIRROR) + " --make-sample " + sample_->string() +
                           " >/dev/null")
                              .c_str()),
              0);
  }
  static void TearDownTestSuite() {
    fs::remove_all(*sample_);
    delete sample_;
  }

  BulkFetchTest()
      : dir_(test::FreshTestDir("bulk_fetch_test")),
        mirror_({BREVISFETCH_MIRROR, "--data", sample_->string(), "--port", "0"},
                dir_ / "mirror.log") {
    std::ofstream(dir_ / "list") << kList;
  }
  ~BulkFetchTest() override { fs::remove_all(dir_); }

  // Starts "fetch --from list" with `args` into the test's repository.
  std::unique_ptr<CliProcess> StartFetch(const std::vector<std::string>& args,
                                         const std::string& name) {
    std::vector<std::string> all = {"fetch", "--from", (dir_ / "list").string(), "--repo",
                                    (dir_ / "repo").string()};
    all.insert(all.end(), args.begin(), args.end());
    return std::make_unique<CliProcess>(all, mirror_.Base(), dir_ / (name + ".out"),
                                        dir_ / (name + ".err"));
  }
  test::CliRun Run(const std::vector<std::string>& args, const std::string& name = "run") {
    auto process = StartFetch(args, name);
    const int status = process->Wait();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir_ / (name + ".out")),
            ReadFile(dir_ / (name + ".err"))};
  }
  // Page requests the mirror has had for `number`.
  std::size_t PageRequests(const std::string& number) const {
    std::size_t n = 0;
    for (const std::string& line : Lines(ReadFile(dir_ / "mirror.log"))) {
      n += line.find("\"GET /pages/" + number + "/") != std::string::npos;
    }
    return n;
  }
  fs::path Pdf(const std::string& number) const {
    return dir_ / "repo" / ("CN" + number) / ("CN" + number + "_gk.pdf");
  }

  static fs::path* sample_;
  fs::path dir_;
  test::ServerProcess mirror_;
};

fs::path* BulkFetchTest::sample_ = nullptr;

TEST_F(BulkFetchTest, SharesRunAtOnceFetchEachPatentOnceIntoOneReport) {
  const fs::path report = dir_ / "report.jsonl";
  std::vector<std::unique_ptr<CliProcess>> shares;
  for (int k = 1; k <= 3; ++k) {
    shares.push_back(StartFetch({"--shard", std::to_string(k) + "/3", "--report", report.string()},
                                "share" + std::to_string(k)));
  }
  std::multiset<std::string> printed;
  for (int k = 1; k <= 3; ++k) {
    shares[static_cast<std::size_t>(k - 1)]->Wait();
    const std::string name = "share" + std::to_string(k);
    for (const std::string& line : Lines(ReadFile(dir_ / (name + ".out")))) printed.insert(line);
    EXPECT_NE(ReadFile(dir_ / (name + ".err")).find("Share " + std::to_string(k) + "/3: "),
              std::string::npos);
  }
  // Every patent once, by one share, however often and in whatever form the list names it.
  const std::multiset<std::string> pdfs = {Pdf("200710038426").string(),
                                           Pdf("201910987654").string(),
                                           Pdf("200820123456").string(), Pdf("98123456").string()};
  EXPECT_EQ(printed, pdfs);
  EXPECT_EQ(PageRequests("200710038426"), 12u);

  std::map<std::string, ReportEntry> by_number;
  for (const ReportEntry& entry : ReportEntries(report)) {
    EXPECT_TRUE(by_number.emplace(entry.Number, entry).second) << entry.Number << " twice";
  }
  ASSERT_EQ(by_number.size(), 5u);
  const ReportEntry& done = by_number.at("CN201910987654");
  EXPECT_EQ(done.Outcome, "done");
  EXPECT_EQ(done.Kind, "fmzl");
  EXPECT_EQ(done.Pages, 50);
  EXPECT_EQ(done.Bytes, static_cast<int64_t>(fs::file_size(Pdf("201910987654"))));
  EXPECT_EQ(done.Pdf, Pdf("201910987654").string());
  EXPECT_EQ(by_number.at("CN200820123456").Kind, "syxx");
  const ReportEntry& invalid = by_number.at("12345");
  EXPECT_EQ(invalid.Outcome, "failed");
  EXPECT_EQ(invalid.Cause, "invalid number");
  EXPECT_EQ(invalid.Detail, "'12345' is not a valid Chinese patent application number.");

  // The same split on every run: a share run again takes the same numbers.
  const test::CliRun again = Run({"--shard", "2/3", "--skip-existing"});
  EXPECT_EQ(again.out, ReadFile(dir_ / "share2.out"));
}

TEST_F(BulkFetchTest, SkipExistingFetchesOnlyWhatIsMissingOrDamaged) {
  ASSERT_EQ(Run({}).status, 1);  // the list's invalid number
  // One PDF cut short, one gone, two whole.
  fs::resize_file(Pdf("201910987654"), fs::file_size(Pdf("201910987654")) - 100);
  fs::remove(Pdf("98123456"));
  const std::size_t before = PageRequests("200710038426");

  const fs::path report = dir_ / "report.jsonl";
  const test::CliRun run = Run({"--skip-existing", "--resume", "--report", report.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("CN200710038426: skipped, its PDF is there and whole (12 pages).\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("CN201910987654: the PDF there is not whole (no %%EOF at its end); "
                         "fetching it again.\n"),
            std::string::npos);
  EXPECT_EQ(PageRequests("200710038426"), before);
  std::map<std::string, std::string> outcomes;
  for (const ReportEntry& entry : ReportEntries(report)) outcomes[entry.Number] = entry.Outcome;
  const std::map<std::string, std::string> expected = {{"CN200710038426", "skipped"},
                                                       {"CN201910987654", "done"},
                                                       {"CN200820123456", "skipped"},
                                                       {"CN98123456", "done"},
                                                       {"12345", "failed"}};
  EXPECT_EQ(outcomes, expected);
  EXPECT_EQ(Lines(run.out).size(), 4u);
  EXPECT_EQ(std::system(("qpdf --check " + Pdf("201910987654").string() + " >/dev/null").c_str()),
            0);
}

TEST_F(BulkFetchTest, WithRecognitionAPdfWithoutItsTextIsNotSkipped) {
  std::ofstream(dir_ / "list") << "98123456\n";
  ASSERT_EQ(Run({}).status, 0);
  const fs::path text = Pdf("98123456").replace_extension(".txt");
  ASSERT_FALSE(fs::exists(text));
  const test::CliRun first = Run({"--skip-existing", "--ocr"});
  EXPECT_NE(first.err.find("CN98123456: the PDF there has no recognised text; fetching it again."),
            std::string::npos)
      << first.err;
  EXPECT_TRUE(fs::exists(text));
  const test::CliRun second = Run({"--skip-existing", "--ocr"});
  EXPECT_NE(second.err.find("CN98123456: skipped"), std::string::npos) << second.err;
}

TEST_F(BulkFetchTest, PatentAnotherRunHoldsIsLeftForLastAndNotFetchedTwice) {
  fs::create_directories(Pdf("200710038426").parent_path());
  // Another run fetching the first patent: its folder's lock held.
  auto other = std::make_unique<RunLock>(
      (dir_ / "repo" / "CN200710038426" / "CN200710038426.lock").string());
  ASSERT_TRUE(other->TryLock("brevisfetch-cli"));
  auto run = StartFetch({"--skip-existing"}, "run");
  // The others come first; the held one waits.
  ASSERT_TRUE(
      run->WaitUntil([this] { return fs::exists(Pdf("98123456")); }, std::chrono::seconds(60)));
  EXPECT_FALSE(fs::exists(Pdf("200710038426")));
  // That run ends with its PDF in place: nothing is left to fetch.
  fs::copy_file(Pdf("201910987654"), Pdf("200710038426"));
  other.reset();
  run->Wait();
  const std::vector<std::string> printed = Lines(ReadFile(dir_ / "run.out"));
  ASSERT_EQ(printed.size(), 4u);
  EXPECT_EQ(printed.back(), Pdf("200710038426").string());
  EXPECT_EQ(PageRequests("200710038426"), 0u);
}

TEST_F(BulkFetchTest, ReportSumsUpRunsAndGroupsFailures) {
  const fs::path report = dir_ / "report.jsonl";
  Run({"--report", report.string()});
  // A second run after damage: one patent fetched again, the rest skipped.
  fs::remove(Pdf("98123456"));
  Run({"--skip-existing", "--report", report.string()});
  std::ofstream(report, std::ios::app) << "{\"number\":\"CN2019";  // a writer killed mid-line
  std::ofstream(dir_ / "other.jsonl")
      << R"({"number":"CN201810000002","kind":"fmzl","outcome":"failed","pages":0,"bytes":0,)"
         R"("seconds":2.0,"pdf":"","cause":"pages given up","detail":"gk_000002.tif: 500\nmore",)"
         R"("time":"2026-12-11T05:50:01.123Z","host":"n2","pid":7})"
      << '\n';

  const std::string command = std::string(BREVISFETCH_CLI) + " report " + report.string() + " " +
                              (dir_ / "other.jsonl").string() + " 2>" +
                              (dir_ / "report.err").string();
  const std::string summary = test::ShellOutput(command);
  EXPECT_NE(summary.find("11 lines in 2 reports, 6 patents."), std::string::npos) << summary;
  EXPECT_NE(summary.find("done            5        67"), std::string::npos) << summary;
  EXPECT_NE(summary.find("skipped         3        65"), std::string::npos) << summary;
  EXPECT_NE(summary.find("failed          3         0"), std::string::npos) << summary;
  EXPECT_NE(summary.find("  invalid number        2  e.g. 12345: '12345' is not a valid"),
            std::string::npos);
  EXPECT_NE(summary.find("  pages given up        1  e.g. CN201810000002: gk_000002.tif: 500\n"),
            std::string::npos);
  EXPECT_NE(summary.find("Pages per second: "), std::string::npos);
  EXPECT_NE(summary.find("Whole PDFs: 4 of 6 patents. Still failing (their last line says "
                         "failed): 12345, CN201810000002.\n"),
            std::string::npos);
  EXPECT_EQ(ReadFile(dir_ / "report.err"),
            report.string() + ":11: not a report line; it is left out.\n");
}

}  // namespace
}  // namespace brevis
