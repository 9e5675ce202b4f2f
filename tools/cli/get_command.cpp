// brevisfetch-cli get: fetches one address with the HTTP client, as the window and the download
// workers do, and writes the body to a file or to stdout.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/text.h"
#include "http/http_client.h"
#include "tools/cli/commands.h"

namespace brevis::cli {

namespace {

struct GetOptions {
  std::string url;
  std::string output;
  int readTimeout = 30000;
  double deadlineSeconds = 300;
};

void RunGet(const GetOptions& options) {
  // Default settings, as every client of the application has them.
  HttpClient client;
  client.SetReadTimeout(options.readTimeout);
  client.FetchDeadline = static_cast<int>(options.deadlineSeconds * 1000.0 + 0.5);
  MemoryStream body;
  // Failures (HttpProtocolError with its status line, NetError texts) reach main, which prints
  // their message and exits with status 1.
  client.Get(Utf8ToUtf16(options.url), body);

  const std::vector<uint8_t>& bytes = body.Bytes();
  if (options.output.empty()) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
      throw std::runtime_error("Could not write to standard output.");
    }
    std::fflush(stdout);
    return;
  }
  std::ofstream file(options.output, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("Could not write " + options.output + ".");
}

}  // namespace

void AddGetCommand(CLI::App& app) {
  auto options = std::make_shared<GetOptions>();
  CLI::App* get = app.add_subcommand(
      "get", "Fetch one address over HTTP with the application's client settings.");
  get->add_option("URL", options->url, "Address to fetch, e.g. http://host/path")->required();
  get->add_option("-o,--output", options->output, "Write the body to FILE instead of stdout")
      ->type_name("FILE");
  get->add_option("--read-timeout", options->readTimeout,
                  "Longest wait for data in milliseconds (-1 or 0: no limit)")
      ->type_name("MS")
      ->capture_default_str();
  get->add_option("--deadline", options->deadlineSeconds,
                  "Longest time the whole fetch may take, in seconds; 0: no limit")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.0, 86400.0))
      ->capture_default_str();
  get->callback([options] { RunGet(*options); });
}

}  // namespace brevis::cli
