// Configuration: the settings BrevisFetch's window and command line share, read from
// brevisfetch.conf and the environment, each with the place it came from. Plain C++, no Qt.
#pragma once

#include <array>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace brevis {

struct DownloadSettings;
struct MainFormSettings;

// The keys of brevisfetch.conf, in the order "brevisfetch-cli config" prints them.
enum class ConfigKey {
  kServer,
  kPatentOffice,
  kRepo,
  kOcr,
  kOcrEngine,
  kOcrLang,
  kMaxTries,
  kDeadline
};
inline constexpr int kConfigKeyCount = 8;

// The key's name in the file, e.g. "patent-office".
std::string_view ConfigKeyName(ConfigKey key);

// The settings in force. Each value has passed the checks of SetConfigValue.
struct Config {
  std::string Server;        // without trailing "/"
  std::string PatentOffice;  // without trailing "/"
  std::string Repo;          // empty: the program's own default folder
  bool Ocr = false;
  std::string OcrEngine;     // "neural" or "tesseract"
  std::string OcrLanguages;  // Tesseract's
  int MaxTries = 0;
  double DeadlineSeconds = 0;  // 0: no limit
  // Where each value came from, by ConfigKey: "default", "file PATH:LINE",
  // "environment NAME" or "option --NAME".
  std::array<std::string, kConfigKeyCount> Origins;

  // The built-in defaults, every origin "default".
  Config();

  const std::string& Origin(ConfigKey key) const { return Origins[static_cast<std::size_t>(key)]; }
  // The value as the file would give it, e.g. "true" or "2.5".
  std::string Text(ConfigKey key) const;
};

// Checks `value` for `key` and sets it with `origin`. Returns what is wrong with the value, or
// nothing when it was taken; a refused value leaves `config` as it was. Values and their ranges
// are those of the command line's options:
//   server, patent-office  an http:// or https:// address; trailing "/" are dropped
//   repo                   an absolute folder path, or one that starts with "~/" (the home folder)
//   ocr                    true or false
//   ocr-engine             neural or tesseract
//   ocr-lang               Tesseract's languages joined by "+", e.g. chi_sim+eng
//   max-tries              a whole number from 1 to 1000
//   deadline               seconds from 0 (no limit) to 86400, e.g. 2.5
std::optional<std::string> SetConfigValue(Config& config, ConfigKey key, std::string_view value,
                                          std::string origin);

// Reads "key = value" lines from `in` into `config`: blanks around key and value are dropped,
// blank lines and lines whose first other character is '#' are skipped. When a key is given
// twice, the last line wins. A line without '=', with an unknown key or with a bad value is
// reported on `errors` as "PATH:LINE: what is wrong; the line is skipped." and changes nothing.
// `path` names the file in the origins and messages.
void ReadConfig(std::istream& in, const std::string& path, Config& config, std::ostream& errors);

// $XDG_CONFIG_HOME/brevisfetch/brevisfetch.conf; ~/.config when XDG_CONFIG_HOME is unset, empty
// or not absolute. Empty when neither is known.
std::string ConfigFilePath();

// The settings in force: the built-in defaults, over them the file at `path` (a missing file is
// no error; one that cannot be read is reported on `errors`), over that the environment:
// BREVISFETCH_SERVER, BREVISFETCH_PATENT_OFFICE and BREVISFETCH_REPO, when set and not empty.
// A bad value there is reported on `errors` and not taken.
Config LoadConfig(const std::string& path, std::ostream& errors);
// LoadConfig of ConfigFilePath(), reporting on standard error.
Config LoadConfig();

// Puts the addresses, tries, deadline and recognition of `config` into `settings`, as the window
// and the command line run downloads with them. The repository folder is left to the caller,
// whose default differs.
void ApplyConfig(const Config& config, MainFormSettings& settings);
// Puts the page tries and the fetch deadline of `config` into `settings`.
void ApplyConfig(const Config& config, DownloadSettings& settings);

}  // namespace brevis
