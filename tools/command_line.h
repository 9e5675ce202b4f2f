// The command-line parse every BrevisFetch program shares: help and version end with status 0,
// and a usage error prints CLI11's message and ends with status 2, as command-line programs do.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>

namespace brevis {

// Parses `argv` into `app`. Returns the status to end with when the program is to end now
// (help, version, a usage error); nullopt when it is to go on. Exceptions other than CLI11's
// parse errors (from callbacks run during the parse) pass through.
inline std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }
  return std::nullopt;
}

}  // namespace brevis
