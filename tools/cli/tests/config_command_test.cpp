// End-to-end tests of brevisfetch.conf through brevisfetch-cli: "config" prints the settings
// with their origins, and "fetch" takes its server and repository from the file alone.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/tests/test_files.h"
#include "tools/cli/tests/cli_process.h"
#include "tools/cli/tests/server_process.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;
using test::CliRun;
using test::ReadFile;
using test::WriteFile;

class ConfigCommandTest : public ::testing::Test {
 protected:
  ConfigCommandTest() : dir_(test::FreshTestDir("config_command_test")) {}
  ~ConfigCommandTest() override { fs::remove_all(dir_); }

  // The configuration file of the runs: $XDG_CONFIG_HOME/brevisfetch/brevisfetch.conf.
  fs::path ConfigFile() const { return dir_ / "config" / "brevisfetch" / "brevisfetch.conf"; }

  // Runs brevisfetch-cli with `args`, the variables of `environment` ("NAME=VALUE ...") and none
  // of BrevisFetch's others, so that only the file and `args` give settings.
  CliRun Run(const std::string& args, const std::string& environment = "") {
    const std::string command =
        "env -u BREVISFETCH_SERVER -u BREVISFETCH_PATENT_OFFICE -u BREVISFETCH_REPO "
        "XDG_CONFIG_HOME=" +
        (dir_ / "config").string() + " " + environment + " " + BREVISFETCH_CLI + " " + args + " >" +
        (dir_ / "out").string() + " 2>" + (dir_ / "err").string();
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir_ / "out"),
            ReadFile(dir_ / "err")};
  }

  fs::path dir_;
};

TEST_F(ConfigCommandTest, OptionsOverTheEnvironmentOverTheFileOverTheDefaults) {
  fs::create_directories(ConfigFile().parent_path());
  WriteFile(ConfigFile(),
            "# a comment, then settings\n"
            "server = http://127.0.0.1:9\n"
            "patent-office = http://127.0.0.1:10/\n"
            "max-tries = 3\n"
            "ocr = maybe\n"
            "deadline: 5\n"
            "deadline = 2.5\n");
  const std::string file = "file " + ConfigFile().string();
  const CliRun run =
      Run("config --max-tries 5 --repo /srv/patents", "BREVISFETCH_SERVER=http://127.0.0.1:11");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "server\thttp://127.0.0.1:11\tenvironment BREVISFETCH_SERVER\n"
            "patent-office\thttp://127.0.0.1:10\t" +
                file +
                ":3\n"
                "repo\t/srv/patents\toption --repo\n"
                "ocr\tfalse\tdefault\n"
            "ocr-engine\tneural\tdefault\n"
                "ocr-lang\tchi_sim\tdefault\n"
                "max-tries\t5\toption --max-tries\n"
                "deadline\t2.5\t" +
                file + ":7\n");
  // Each malformed line is named with its file and number, and the run goes on.
  EXPECT_EQ(run.err, ConfigFile().string() +
                         ":5: ocr: \"maybe\" is not true or false; the line is skipped.\n" +
                         ConfigFile().string() +
                         ":6: no \"=\" in \"deadline: 5\"; the line is skipped.\n");

  // Without the file, the defaults; --no-ocr and an option's bad address.
  fs::remove(ConfigFile());
  const CliRun defaults = Run("config --no-ocr");
  EXPECT_EQ(defaults.status, 0);
  EXPECT_EQ(defaults.err, "");
  EXPECT_NE(defaults.out.find("server\thttp://127.0.0.1:8642\tdefault\n"), std::string::npos)
      << defaults.out;
  EXPECT_NE(defaults.out.find("ocr\tfalse\toption --no-ocr\n"), std::string::npos);
  EXPECT_NE(defaults.out.find("deadline\t300\tdefault\n"), std::string::npos);
  EXPECT_EQ(Run("config --server ftp://127.0.0.1").status, 2);
}

TEST_F(ConfigCommandTest, FetchTakesItsServerAndRepositoryFromTheFile) {
  ASSERT_EQ(std::system((std::string(BREVISFETCH_MIRROR) + " --make-sample " +
                         (dir_ / "sample").string() + " >/dev/null")
                            .c_str()),
            0);
  test::ServerProcess mirror(
      {BREVISFETCH_MIRROR, "--data", (dir_ / "sample").string(), "--port", "0"}, dir_ / "log");
  fs::create_directories(ConfigFile().parent_path());
  WriteFile(ConfigFile(), "server = " + mirror.Base() + "\npatent-office = " + mirror.Base() +
                              "\nrepo = " + (dir_ / "repo").string() + "\n");
  const CliRun run = Run("fetch CN98123456");
  EXPECT_EQ(run.status, 0) << run.err;
  const fs::path pdf = dir_ / "repo" / "CN98123456" / "CN98123456_gk.pdf";
  EXPECT_EQ(run.out, pdf.string() + "\n");
  EXPECT_TRUE(fs::exists(pdf));
  EXPECT_NE(ReadFile(dir_ / "log").find("GET /pages/98123456/"), std::string::npos);
}

}  // namespace
}  // namespace brevis
