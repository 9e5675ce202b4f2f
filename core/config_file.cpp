// Configuration: the file's lines, the checks of each value and the environment over the file.
#include "core/config_file.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <utility>

#include "common/ascii_text.h"
#include "common/text.h"
#include "core/hosts.h"
#include "core/main_form.h"
#include "core/patent_download.h"
#include "download/retry_policy.h"
#include "ocr/ocr_engine.h"
#include "ocr/recognizer.h"

namespace brevis {

namespace {

constexpr std::string_view kKeyNames[kConfigKeyCount] = {
    "server", "patent-office", "repo", "ocr", "ocr-engine", "ocr-lang", "max-tries", "deadline"};

std::optional<ConfigKey> KeyNamed(std::string_view name) {
  for (int i = 0; i < kConfigKeyCount; ++i) {
    if (kKeyNames[i] == name) return static_cast<ConfigKey>(i);
  }
  return std::nullopt;
}

// What is wrong with `value`: the value in quotes, then `what`. Appended piece by piece, since
// GCC 12 warns, wrongly, of overlapping copies in "\"" + std::string(value).
std::string Refused(std::string_view value, std::string_view what) {
  std::string text = "\"";
  text.append(value);
  text.append("\" ");
  text.append(what);
  return text;
}

// Control characters would break the one-line form "brevisfetch-cli config" prints.
bool HasControls(std::string_view value) {
  for (const char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7F') return true;
  }
  return false;
}

std::optional<std::string> CheckAddress(std::string_view value, std::string& address) {
  address = std::string(value);
  while (!address.empty() && address.back() == '/') address.pop_back();
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (address.starts_with(scheme) && address.size() > scheme.size()) return std::nullopt;
  }
  return Refused(value, "is not an http:// or https:// address");
}

std::optional<std::string> CheckRepo(std::string_view value, std::string& repo) {
  if (value.starts_with("~/")) {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return "\"~/\" needs HOME, which is not set";
    repo = std::string(home) + std::string(value.substr(1));
    return std::nullopt;
  }
  // A relative folder would depend on where the program is started.
  if (!value.starts_with("/")) return Refused(value, "is not an absolute path");
  repo = std::string(value);
  return std::nullopt;
}

std::optional<std::string> CheckBool(std::string_view value, bool& flag) {
  if (value == "true" || value == "false") {
    flag = value == "true";
    return std::nullopt;
  }
  return Refused(value, "is not true or false");
}

std::optional<std::string> CheckLanguages(std::string_view value, std::string& languages) {
  // Names of Tesseract's language data files, such as chi_sim, joined by "+".
  bool valid = !value.starts_with("+") && !value.ends_with("+") &&
               value.find("++") == std::string_view::npos;
  for (const char c : value) {
    const bool name_char = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '+';
    valid = valid && name_char;
  }
  if (!valid) return Refused(value, "is not languages joined by +, e.g. chi_sim+eng");
  languages = std::string(value);
  return std::nullopt;
}

std::optional<std::string> CheckTries(std::string_view value, int& tries) {
  int parsed = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
  if (error != std::errc() || end != value.data() + value.size() || parsed < 1 || parsed > 1000) {
    return Refused(value, "is not a whole number from 1 to 1000");
  }
  tries = parsed;
  return std::nullopt;
}

std::optional<std::string> CheckSeconds(std::string_view value, double& seconds) {
  double parsed = 0;
  const auto [end, error] =
      std::from_chars(value.data(), value.data() + value.size(), parsed, std::chars_format::fixed);
  // The comparisons are false for NaN, which from_chars does not give in fixed format anyway.
  if (error != std::errc() || end != value.data() + value.size() || !(parsed >= 0) ||
      !(parsed <= 86400)) {
    return Refused(value, "is not a number of seconds from 0 to 86400");
  }
  seconds = parsed;
  return std::nullopt;
}

// Applies the variable `name` to `key` when it is set and not empty.
void ApplyVariable(Config& config, ConfigKey key, const char* name, std::ostream& errors) {
  const char* set = std::getenv(name);
  if (set == nullptr || *set == '\0') return;
  std::string value = set;
  // In the environment a relative folder is the shell's current one's, as the window has always
  // read BREVISFETCH_REPO.
  if (key == ConfigKey::kRepo && !value.starts_with('/') && !value.starts_with("~/")) {
    std::error_code ignored;
    value = std::filesystem::absolute(value, ignored).lexically_normal().string();
    while (value.size() > 1 && value.ends_with('/')) value.pop_back();
  }
  if (auto error = SetConfigValue(config, key, value, std::string("environment ") + name)) {
    errors << name << ": " << *error << "; the variable is ignored.\n";
  }
}

}  // namespace

std::string_view ConfigKeyName(ConfigKey key) { return kKeyNames[static_cast<int>(key)]; }

Config::Config()
    : Server(kDefaultHost),
      PatentOffice(kDefaultHost),
      OcrEngine(kDefaultOcrEngine),
      OcrLanguages(kDefaultOcrLanguages),
      MaxTries(RetryPolicy{}.MaxTries),
      DeadlineSeconds(DownloadSettings::kDefaultFetchDeadline / 1000.0) {
  Origins.fill("default");
}

std::string Config::Text(ConfigKey key) const {
  switch (key) {
    case ConfigKey::kServer:
      return Server;
    case ConfigKey::kPatentOffice:
      return PatentOffice;
    case ConfigKey::kRepo:
      return Repo;
    case ConfigKey::kOcr:
      return Ocr ? "true" : "false";
    case ConfigKey::kOcrEngine:
      return OcrEngine;
    case ConfigKey::kOcrLang:
      return OcrLanguages;
    case ConfigKey::kMaxTries:
      return std::to_string(MaxTries);
    case ConfigKey::kDeadline:
      break;
  }
  // The shortest form that reads back as the same number: 300, 2.5.
  std::ostringstream text;
  text.precision(17);
  text << DeadlineSeconds;
  return text.str();
}

std::optional<std::string> SetConfigValue(Config& config, ConfigKey key, std::string_view value,
                                          std::string origin) {
  if (value.empty()) return std::string("the value is missing");
  if (HasControls(value)) return std::string("the value holds a control character");
  Config changed = config;
  std::optional<std::string> error;
  switch (key) {
    case ConfigKey::kServer:
      error = CheckAddress(value, changed.Server);
      break;
    case ConfigKey::kPatentOffice:
      error = CheckAddress(value, changed.PatentOffice);
      break;
    case ConfigKey::kRepo:
      error = CheckRepo(value, changed.Repo);
      break;
    case ConfigKey::kOcr:
      error = CheckBool(value, changed.Ocr);
      break;
    case ConfigKey::kOcrEngine:
      if (value == kNeuralEngine || value == kTesseractEngine) {
        changed.OcrEngine = std::string(value);
      } else {
        error = Refused(value, "is not neural or tesseract");
      }
      break;
    case ConfigKey::kOcrLang:
      error = CheckLanguages(value, changed.OcrLanguages);
      break;
    case ConfigKey::kMaxTries:
      error = CheckTries(value, changed.MaxTries);
      break;
    case ConfigKey::kDeadline:
      error = CheckSeconds(value, changed.DeadlineSeconds);
      break;
  }
  if (error) return error;
  changed.Origins[static_cast<std::size_t>(key)] = std::move(origin);
  config = std::move(changed);
  return std::nullopt;
}

void ReadConfig(std::istream& in, const std::string& path, Config& config, std::ostream& errors) {
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string_view text = line;
    // A byte-order mark that an editor put at the start of the file.
    if (number == 1 && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    text = ascii::TrimBlanks(text);
    if (text.empty() || text.starts_with('#')) continue;
    const std::string where = path + ":" + std::to_string(number);
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) {
      errors << where << ": no \"=\" in \"" << text << "\"; the line is skipped.\n";
      continue;
    }
    const std::string_view name = ascii::TrimBlanks(text.substr(0, equals));
    const std::optional<ConfigKey> key = KeyNamed(name);
    if (!key) {
      errors << where << ": unknown key \"" << name << "\"; the line is skipped.\n";
      continue;
    }
    if (auto error = SetConfigValue(config, *key, ascii::TrimBlanks(text.substr(equals + 1)),
                                    "file " + where)) {
      errors << where << ": " << name << ": " << *error << "; the line is skipped.\n";
    }
  }
}

std::string ConfigFilePath() {
  const char* config_home = std::getenv("XDG_CONFIG_HOME");
  if (config_home != nullptr && *config_home == '/') {
    return std::string(config_home) + "/brevisfetch/brevisfetch.conf";
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return {};
  return std::string(home) + "/.config/brevisfetch/brevisfetch.conf";
}

Config LoadConfig(const std::string& path, std::ostream& errors) {
  Config config;
  if (!path.empty()) {
    std::ifstream file(path);
    if (file) {
      ReadConfig(file, path, config, errors);
    } else if (errno != ENOENT) {
      errors << path << ": cannot be read: " << std::strerror(errno) << "; it is ignored.\n";
    }
  }
  ApplyVariable(config, ConfigKey::kServer, "BREVISFETCH_SERVER", errors);
  ApplyVariable(config, ConfigKey::kPatentOffice, "BREVISFETCH_PATENT_OFFICE", errors);
  ApplyVariable(config, ConfigKey::kRepo, "BREVISFETCH_REPO", errors);
  return config;
}

Config LoadConfig() { return LoadConfig(ConfigFilePath(), std::cerr); }

void ApplyConfig(const Config& config, MainFormSettings& settings) {
  settings.Server = Utf8ToUtf16(config.Server);
  settings.PatentOffice = Utf8ToUtf16(config.PatentOffice);
  ApplyConfig(config, static_cast<DownloadSettings&>(settings));
  settings.Ocr = config.Ocr;
  settings.OcrLanguages = OcrRecognition(config.OcrEngine, config.OcrLanguages);
}

void ApplyConfig(const Config& config, DownloadSettings& settings) {
  settings.Retries.MaxTries = config.MaxTries;
  settings.FetchDeadline = static_cast<int>(config.DeadlineSeconds * 1000.0 + 0.5);
}

}  // namespace brevis
