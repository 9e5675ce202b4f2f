// ConfigOptions: the options' checks are those of the file, so that both take the same values.
#include "tools/cli/config_options.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "core/repo_dir.h"
#include "ocr/ocr_engine.h"

namespace brevis::cli {

namespace {

// A CLI11 check of an address by the file's rule, so that a bad one is a usage error.
CLI::Validator AddressCheck() {
  return CLI::Validator(
      [](const std::string& value) {
        Config scratch;
        return SetConfigValue(scratch, ConfigKey::kServer, value, "").value_or("");
      },
      "");
}

// The executable's folder, for the default repository beside it.
std::filesystem::path ExecutableDir() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw std::runtime_error("Cannot find the executable's folder: " + error.message());
  return exe.parent_path();
}

}  // namespace

std::string RepoInForce(const Config& config) {
  return config.Repo.empty() ? DefaultRepoDir(ExecutableDir(), UserDataDir()) : config.Repo;
}

void ConfigOptions::AddTo(CLI::App& command) {
  command.footer(
      "Settings not given as options come from BREVISFETCH_SERVER, BREVISFETCH_PATENT_OFFICE and "
      "BREVISFETCH_REPO, then from brevisfetch.conf (see brevisfetch-cli --help), then from the "
      "defaults; \"brevisfetch-cli config\" prints them.");
  const auto at = [this](ConfigKey key) -> CLI::Option*& {
    return options_[static_cast<int>(key)];
  };
  at(ConfigKey::kServer) =
      command
          .add_option("--server", server_,
                      "The maker's mirror and update service (over BREVISFETCH_SERVER)")
          ->type_name("URL")
          ->check(AddressCheck());
  at(ConfigKey::kPatentOffice) =
      command
          .add_option("--patent-office", patentOffice_,
                      "The patent office's search server (over BREVISFETCH_PATENT_OFFICE)")
          ->type_name("URL")
          ->check(AddressCheck());
  at(ConfigKey::kRepo) =
      command
          .add_option("--repo", repo_,
                      "Repository folder (over BREVISFETCH_REPO; default: \"repo\" "
                      "beside the executable)")
          ->type_name("DIR");
  at(ConfigKey::kOcr) =
      command.add_flag("--ocr,!--no-ocr", ocr_,
                       "Recognise the pages' text: lay it invisibly over each PDF page, so that it "
                       "can be searched and copied, and write it to CN<number>_gk.txt beside the "
                       "PDF (--no-ocr: not, whatever brevisfetch.conf says)");
  at(ConfigKey::kOcrEngine) =
      command
          .add_option("--ocr-engine", ocrEngine_,
                      std::string("What recognises the text: neural (a text detector and a line "
                                  "recogniser, from the package brevisfetch-ocr-models) or "
                                  "tesseract (default: ") +
                          Config().OcrEngine + ")")
          ->type_name("ENGINE")
          ->check(CLI::IsMember({kNeuralEngine, kTesseractEngine}));
  at(ConfigKey::kOcrLang) =
      command
          .add_option("--ocr-lang", ocrLanguages_,
                      std::string("Tesseract's recognition languages, joined by + (default: ") +
                          Config().OcrLanguages + ")")
          ->type_name("LANGS");
  at(ConfigKey::kMaxTries) = command
                                 .add_option("--max-tries", maxTries_,
                                             "Tries of a page before the download ends (default: " +
                                                 Config().Text(ConfigKey::kMaxTries) + ")")
                                 ->type_name("N")
                                 ->check(CLI::Range(1, 1000));
  at(ConfigKey::kDeadline) =
      command
          .add_option("--deadline", deadlineSeconds_,
                      "Longest time one fetch (a page, a lookup answer) may take, in seconds; "
                      "0: no limit (default: " +
                          Config().Text(ConfigKey::kDeadline) + ")")
          ->type_name("SECONDS")
          ->check(CLI::Range(0.0, 86400.0));
}

Config ConfigOptions::Settings() const {
  Config config = LoadConfig();
  const auto given = [this](ConfigKey key) { return options_[static_cast<int>(key)]->count() > 0; };
  const auto origin = [this](ConfigKey key) {
    return "option " + options_[static_cast<int>(key)]->get_name();
  };
  // The options were checked by CLI11 already; a relative --repo stays relative, as it always did.
  if (given(ConfigKey::kServer)) {
    SetConfigValue(config, ConfigKey::kServer, server_, origin(ConfigKey::kServer));
  }
  if (given(ConfigKey::kPatentOffice)) {
    SetConfigValue(config, ConfigKey::kPatentOffice, patentOffice_,
                   origin(ConfigKey::kPatentOffice));
  }
  if (given(ConfigKey::kRepo)) {
    config.Repo = repo_;
    config.Origins[static_cast<std::size_t>(ConfigKey::kRepo)] = origin(ConfigKey::kRepo);
  }
  if (given(ConfigKey::kOcr)) {
    config.Ocr = ocr_;
    config.Origins[static_cast<std::size_t>(ConfigKey::kOcr)] =
        ocr_ ? "option --ocr" : "option --no-ocr";
  }
  if (given(ConfigKey::kOcrEngine)) {
    config.OcrEngine = ocrEngine_;
    config.Origins[static_cast<std::size_t>(ConfigKey::kOcrEngine)] = origin(ConfigKey::kOcrEngine);
  }
  if (given(ConfigKey::kOcrLang)) {
    config.OcrLanguages = ocrLanguages_;
    config.Origins[static_cast<std::size_t>(ConfigKey::kOcrLang)] = origin(ConfigKey::kOcrLang);
  }
  if (given(ConfigKey::kMaxTries)) {
    config.MaxTries = maxTries_;
    config.Origins[static_cast<std::size_t>(ConfigKey::kMaxTries)] = origin(ConfigKey::kMaxTries);
  }
  if (given(ConfigKey::kDeadline)) {
    config.DeadlineSeconds = deadlineSeconds_;
    config.Origins[static_cast<std::size_t>(ConfigKey::kDeadline)] = origin(ConfigKey::kDeadline);
  }
  return config;
}

}  // namespace brevis::cli
