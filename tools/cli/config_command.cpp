// brevisfetch-cli config: prints the settings in force and where each came from.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "tools/cli/commands.h"
#include "tools/cli/config_options.h"

namespace brevis::cli {

namespace {

// One line a key, "KEY<Tab>VALUE<Tab>ORIGIN": values hold no tab (the file's and the options'
// checks refuse control characters), so that `cut -f2` or a split at tabs reads them back.
void PrintConfig(const Config& config) {
  for (int i = 0; i < kConfigKeyCount; ++i) {
    const auto key = static_cast<ConfigKey>(i);
    const std::string value = key == ConfigKey::kRepo ? RepoInForce(config) : config.Text(key);
    std::cout << ConfigKeyName(key) << '\t' << value << '\t' << config.Origin(key) << '\n';
  }
}

}  // namespace

void AddConfigCommand(CLI::App& app) {
  auto options = std::make_shared<ConfigOptions>();
  CLI::App* config = app.add_subcommand(
      "config",
      "Print the settings in force, one a line: KEY, VALUE and where it came from (default, "
      "file PATH:LINE, environment NAME, option --NAME), separated by tabs. The options are "
      "those of fetch and show what they change");
  options->AddTo(*config);
  config->callback([options] { PrintConfig(options->Settings()); });
}

}  // namespace brevis::cli
