// brevisfetch-cli: command-line access to BrevisFetch's capabilities.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>

#include "common/text.h"
#include "protocol/version.h"
#include "tools/cli/commands.h"
#include "tools/command_line.h"

int main(int argc, char** argv) {
  CLI::App app{"BrevisFetch: fetches the full text of a Chinese patent as one PDF."};
  app.name("brevisfetch-cli");
  app.set_version_flag("--version", "BrevisFetch " + std::string(brevis::kVersion));
  app.require_subcommand(0, 1);

  brevis::cli::AddCipherCommands(app);
  brevis::cli::AddGetCommand(app);
  brevis::cli::AddLookupCommand(app);
  brevis::cli::AddFetchCommand(app);
  brevis::cli::AddCombineCommand(app);
  brevis::cli::AddConfigCommand(app);
  brevis::cli::AddReportCommand(app);
  app.footer(
      "Settings: options over the environment (BREVISFETCH_SERVER, BREVISFETCH_PATENT_OFFICE, "
      "BREVISFETCH_REPO) over $XDG_CONFIG_HOME/brevisfetch/brevisfetch.conf (default "
      "~/.config/brevisfetch/brevisfetch.conf; \"key = value\" lines) over the defaults. "
      "\"brevisfetch-cli config\" prints them.");

  try {
    if (const auto status = brevis::ParseCommandLine(app, argc, argv)) return *status;
  } catch (const std::exception& e) {
    // Subcommands run from their parse callbacks; any failure ends up here. Messages may
    // quote a peer (a server's status line): its control bytes must not reach the terminal.
    std::cerr << brevis::EscapeControls(e.what()) << '\n';
    return 1;
  }
  if (argc == 1) std::cout << app.help();
  return 0;
}
