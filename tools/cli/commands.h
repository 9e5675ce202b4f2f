// Registration of brevisfetch-cli's subcommands; each capability lives in its own file.
#pragma once

namespace CLI {
class App;
}

namespace brevis::cli {

// Adds "encipher" and "decipher".
void AddCipherCommands(CLI::App& app);

// Adds "get".
void AddGetCommand(CLI::App& app);

// Adds "lookup".
void AddLookupCommand(CLI::App& app);

// Adds "fetch".
void AddFetchCommand(CLI::App& app);

// Adds "combine".
void AddCombineCommand(CLI::App& app);

// Adds "config".
void AddConfigCommand(CLI::App& app);

// Adds "report".
void AddReportCommand(CLI::App& app);

}  // namespace brevis::cli
