// Tests of the repository folder's rule: beside the executable, the fall-back to the data folder,
// and the user's data folder from the environment.
#include "core/repo_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "common/tests/test_files.h"

namespace brevis {
namespace {

namespace fs = std::filesystem;

class RepoDirTest : public ::testing::Test {
 protected:
  RepoDirTest() : dir_(test::FreshTestDir("repo_dir_test")) {}
  ~RepoDirTest() override {
    Restore("XDG_DATA_HOME", dataHome_);
    Restore("HOME", home_);
    fs::remove_all(dir_);
  }

  static std::optional<std::string> Saved(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  }
  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }

  fs::path dir_;
  std::optional<std::string> dataHome_ = Saved("XDG_DATA_HOME");
  std::optional<std::string> home_ = Saved("HOME");
};

TEST_F(RepoDirTest, BesideTheExecutableUnlessItCannotBeWrittenOrIsASystemFolder) {
  const fs::path data = dir_ / "data";
  // Made when missing, then found again, also through a trailing separator.
  EXPECT_EQ(DefaultRepoDir(dir_, data), (dir_ / "repo").string());
  EXPECT_TRUE(fs::is_directory(dir_ / "repo"));
  EXPECT_EQ(DefaultRepoDir(dir_.string() + "/", data), (dir_ / "repo").string());
  // A plain file where the executable's folder would be: nothing can be made below it.
  test::WriteFile(dir_ / "bin", "");
  EXPECT_EQ(DefaultRepoDir(dir_ / "bin", data), (data / "repo").string());
  // Installed in a system folder: never beside the program, even where it could write.
  EXPECT_EQ(DefaultRepoDir("/usr/local/bin", data), (data / "repo").string());
  EXPECT_EQ(DefaultRepoDir("/opt/brevisfetch", data), (data / "repo").string());
  EXPECT_FALSE(fs::exists(data));  // left to the caller to make
  // Nowhere to go.
  EXPECT_THROW(DefaultRepoDir(dir_ / "bin", fs::path()), std::runtime_error);
}

TEST_F(RepoDirTest, UserDataDirFollowsXdgDataHomeThenHome) {
  struct Case {
    const char* dataHome;  // null: unset
    const char* home;
    const char* expected;
  };
  const Case kCases[] = {
      {"/x/data", "/home/u", "/x/data/brevisfetch"},
      {nullptr, "/home/u", "/home/u/.local/share/brevisfetch"},
      // A relative XDG_DATA_HOME is not taken.
      {"data", "/home/u", "/home/u/.local/share/brevisfetch"},
      {"", "/home/u", "/home/u/.local/share/brevisfetch"},
      {nullptr, "", ""},
      {nullptr, nullptr, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.dataHome ? c.dataHome : "(unset)") + " " +
                 (c.home ? c.home : "(unset)"));
    Restore("XDG_DATA_HOME", c.dataHome ? std::optional<std::string>(c.dataHome) : std::nullopt);
    Restore("HOME", c.home ? std::optional<std::string>(c.home) : std::nullopt);
    EXPECT_EQ(UserDataDir().string(), c.expected);
  }
}

}  // namespace
}  // namespace brevis
