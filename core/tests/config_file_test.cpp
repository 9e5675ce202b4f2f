// Tests of the configuration: the file's lines, the checks of the values and the environment over
// the file.
#include "core/config_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/hosts.h"

namespace brevis {
namespace {

TEST(ConfigFileTest, ReadsKeyValueLinesAndReportsMalformedOnes) {
  struct Case {
    const char* text;
    ConfigKey key;
    const char* value;    // the key's value afterwards
    int line;             // the line it came from; 0: the default
    const char* message;  // standard error after "test.conf"; "" for none
  };
  const Case kCases[] = {
      // Good lines, with blanks around the key and the value, CR LF and a byte-order mark.
      {"server = http://127.0.0.1:9\n", ConfigKey::kServer, "http://127.0.0.1:9", 1, ""},
      {"patent-office=https://office.example//\n", ConfigKey::kPatentOffice,
       "https://office.example", 1, ""},
      {"\t repo \t=\t/srv/my patents \r\n", ConfigKey::kRepo, "/srv/my patents", 1, ""},
      {"\xEF\xBB\xBFocr = true\n", ConfigKey::kOcr, "true", 1, ""},
      {"ocr-lang = chi_tra+eng", ConfigKey::kOcrLang, "chi_tra+eng", 1, ""},
      {"max-tries = 1000\n", ConfigKey::kMaxTries, "1000", 1, ""},
      {"deadline = 2.5\n", ConfigKey::kDeadline, "2.5", 1, ""},
      {"deadline = 0\n", ConfigKey::kDeadline, "0", 1, ""},

      // Comments and blank lines; '#' starts a comment only at the start of a line.
      {"# max-tries = 3\n\n   \n  # ocr = true\nmax-tries = 4\n", ConfigKey::kMaxTries, "4", 5, ""},
      {"repo = /srv/#1\n", ConfigKey::kRepo, "/srv/#1", 1, ""},

      // The last of repeated lines wins; a bad line leaves the good one before it.
      {"max-tries = 3\nmax-tries = 5\n", ConfigKey::kMaxTries, "5", 2, ""},
      {"max-tries = 3\nmax-tries = 0\n", ConfigKey::kMaxTries, "3", 1,
       ":2: max-tries: \"0\" is not a whole number from 1 to 1000; the line is skipped.\n"},

      // Lines that are no setting.
      {"max-tries 3\n", ConfigKey::kMaxTries, "8", 0,
       ":1: no \"=\" in \"max-tries 3\"; the line is skipped.\n"},
      {"\n# tries\ntries = 3\n", ConfigKey::kMaxTries, "8", 0,
       ":3: unknown key \"tries\"; the line is skipped.\n"},
      {"Server = http://127.0.0.1:9\n", ConfigKey::kServer, kDefaultHost, 0,
       ":1: unknown key \"Server\"; the line is skipped.\n"},
      {" = 3\n", ConfigKey::kMaxTries, "8", 0, ":1: unknown key \"\"; the line is skipped.\n"},

      // Bad values.
      {"ocr =\n", ConfigKey::kOcr, "false", 0,
       ":1: ocr: the value is missing; the line is skipped.\n"},
      {"ocr = yes\n", ConfigKey::kOcr, "false", 0,
       ":1: ocr: \"yes\" is not true or false; the line is skipped.\n"},
      {"max-tries = 2x\n", ConfigKey::kMaxTries, "8", 0,
       ":1: max-tries: \"2x\" is not a whole number from 1 to 1000; the line is skipped.\n"},
      {"max-tries = 1001\n", ConfigKey::kMaxTries, "8", 0,
       ":1: max-tries: \"1001\" is not a whole number from 1 to 1000; the line is skipped.\n"},
      {"deadline = 86400.5\n", ConfigKey::kDeadline, "300", 0,
       ":1: deadline: \"86400.5\" is not a number of seconds from 0 to 86400; the line is "
       "skipped.\n"},
      {"deadline = -1\n", ConfigKey::kDeadline, "300", 0,
       ":1: deadline: \"-1\" is not a number of seconds from 0 to 86400; the line is skipped.\n"},
      {"deadline = 1e3\n", ConfigKey::kDeadline, "300", 0,
       ":1: deadline: \"1e3\" is not a number of seconds from 0 to 86400; the line is skipped.\n"},
      {"server = ftp://127.0.0.1\n", ConfigKey::kServer, kDefaultHost, 0,
       ":1: server: \"ftp://127.0.0.1\" is not an http:// or https:// address; the line is "
       "skipped.\n"},
      {"server = http://\n", ConfigKey::kServer, kDefaultHost, 0,
       ":1: server: \"http://\" is not an http:// or https:// address; the line is skipped.\n"},
      {"server = http://a\x1b[2Jb\n", ConfigKey::kServer, kDefaultHost, 0,
       ":1: server: the value holds a control character; the line is skipped.\n"},
      {"repo = patents\n", ConfigKey::kRepo, "", 0,
       ":1: repo: \"patents\" is not an absolute path; the line is skipped.\n"},
      {"ocr-lang = chi_sim eng\n", ConfigKey::kOcrLang, "chi_sim", 0,
       ":1: ocr-lang: \"chi_sim eng\" is not languages joined by +, e.g. chi_sim+eng; the line "
       "is skipped.\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    std::istringstream in(c.text);
    std::ostringstream errors;
    Config config;
    ReadConfig(in, "test.conf", config, errors);
    EXPECT_EQ(config.Text(c.key), c.value);
    EXPECT_EQ(config.Origin(c.key),
              c.line == 0 ? "default" : "file test.conf:" + std::to_string(c.line));
    EXPECT_EQ(errors.str(), *c.message == '\0' ? "" : "test.conf" + std::string(c.message));
  }
}

TEST(ConfigFileTest, HomeFolderAndEnvironmentOverTheFile) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("config_file_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "brevisfetch.conf").string();
  ::unsetenv("BREVISFETCH_PATENT_OFFICE");

  // A missing file is no error.
  ::unsetenv("BREVISFETCH_SERVER");
  ::unsetenv("BREVISFETCH_REPO");
  std::ostringstream none;
  EXPECT_EQ(LoadConfig(path, none).Origin(ConfigKey::kServer), "default");
  EXPECT_EQ(none.str(), "");

  std::ofstream(path) << "server = http://127.0.0.1:9\npatent-office = http://127.0.0.1:10\n"
                         "repo = ~/patents\n";
  ::setenv("BREVISFETCH_SERVER", "http://127.0.0.1:11/", 1);
  // A bad variable is told and leaves the file's value.
  ::setenv("BREVISFETCH_PATENT_OFFICE", "127.0.0.1:12", 1);
  // A relative folder in the environment is the working folder's.
  ::setenv("BREVISFETCH_REPO", "a/../b/", 1);
  std::ostringstream errors;
  const Config config = LoadConfig(path, errors);
  EXPECT_EQ(config.Server, "http://127.0.0.1:11");
  EXPECT_EQ(config.Origin(ConfigKey::kServer), "environment BREVISFETCH_SERVER");
  EXPECT_EQ(config.PatentOffice, "http://127.0.0.1:10");
  EXPECT_EQ(config.Origin(ConfigKey::kPatentOffice), "file " + path + ":2");
  EXPECT_EQ(errors.str(),
            "BREVISFETCH_PATENT_OFFICE: \"127.0.0.1:12\" is not an http:// or https:// address; "
            "the variable is ignored.\n");
  EXPECT_EQ(config.Repo, (std::filesystem::current_path() / "b").string());
  EXPECT_EQ(config.Origin(ConfigKey::kRepo), "environment BREVISFETCH_REPO");

  // "~/" is the home folder.
  ::unsetenv("BREVISFETCH_REPO");
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    EXPECT_EQ(LoadConfig(path, errors).Repo, std::string(home) + "/patents");
  }
  ::unsetenv("BREVISFETCH_SERVER");
  ::unsetenv("BREVISFETCH_PATENT_OFFICE");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace brevis
