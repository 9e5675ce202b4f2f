// ConfigOptions: the command-line options that override brevisfetch.conf and the environment,
// shared by "fetch" and "config".
#pragma once

#include <string>

#include "core/config_file.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace brevis::cli {

class ConfigOptions {
 public:
  // Adds --server, --patent-office, --repo, --ocr/--no-ocr, --ocr-lang, --max-tries and
  // --deadline to `command`; the object must outlive its parse.
  void AddTo(CLI::App& command);

  // The settings in force: LoadConfig() (reporting on standard error), and over it each option
  // given, with the origin "option --NAME".
  Config Settings() const;

 private:
  std::string server_;
  std::string patentOffice_;
  std::string repo_;
  bool ocr_ = false;
  std::string ocrEngine_;
  std::string ocrLanguages_;
  int maxTries_ = 0;
  double deadlineSeconds_ = 0;
  CLI::Option* options_[kConfigKeyCount] = {};
};

// The repository folder of `config`: its repo, else DefaultRepoDir beside this executable with
// UserDataDir for its fall-back. Throws std::runtime_error when neither is known.
std::string RepoInForce(const Config& config);

}  // namespace brevis::cli
