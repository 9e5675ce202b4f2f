// The programs' command lines: help and version end with status 0, usage errors with status 2,
// refused input with status 1 and its reason.
#include <gtest/gtest.h>

#include <string>

#include "common/tests/test_files.h"

namespace brevis {
namespace {

TEST(CommandLineTest, CommandsEndWithTheStatusOfWhatHappened) {
  struct Case {
    const char* program;
    const char* args;
    int status;
    const char* output;  // part of what the program writes (standard output and error)
  };
  const Case kCases[] = {
      {BREVISFETCH_CLI, "--version", 0, "BrevisFetch 20100410"},
      {BREVISFETCH_CLI, "fetch --bogus", 2, "--bogus"},
      {BREVISFETCH_CLI, "fetch --max-tries 0 CN200710038426", 2, "--max-tries"},
      {BREVISFETCH_CLI, "no-such-command", 2, "no-such-command"},
      {BREVISFETCH_MIRROR, "--version", 0, "brevisfetch-mirror 20100410"},
      {BREVISFETCH_MIRROR, "--port 70000", 2, "--port"},
      {BREVISFETCH_HOSTILE, "--bogus", 2, "--bogus"},
      // Input the commands cannot use is named with the reason.
      {BREVISFETCH_CLI, "get https://127.0.0.1:1/", 1,
       "HTTPS is not supported: https://127.0.0.1:1/"},
      // The request cipher: what it cannot carry or read is refused.
      {BREVISFETCH_CLI, "encipher 2007", 0, "2697084708470732\n"},
      {BREVISFETCH_CLI, "decipher 2697084708470732", 0, "2007\n"},
      {BREVISFETCH_CLI, "encipher 中", 1, "Cannot encipher U+4E2D"},
      {BREVISFETCH_CLI, "decipher 269708470", 1, "groups of four decimal digits"},
      {BREVISFETCH_CLI, "decipher 26979999", 1, "Cipher group 9999 is not below"},
      {BREVISFETCH_CLI, "decipher 12a4", 1, "'12a4' is not a valid integer value"},
  };
  for (const Case& c : kCases) {
    const std::string command = std::string(c.program) + " " + c.args;
    SCOPED_TRACE(command);
    const std::string output = test::ShellOutput(command + " 2>&1; echo \"status $?\"");
    EXPECT_NE(output.find(c.output), std::string::npos) << output;
    EXPECT_NE(output.find("status " + std::to_string(c.status) + "\n"), std::string::npos)
        << output;
  }
}

}  // namespace
}  // namespace brevis
