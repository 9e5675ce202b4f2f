// brevisfetch-cli get: fetches one address with the HTTP client, as the window and the download
// workers do, and writes the body to a file or to stdout.
#include <CLI/CLI.hpp>
#include <cctype>
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
  std::string Url;
  std::string Output;
  int ReadTimeout = 30000;
  double DeadlineSeconds = 300;
};

void RunGet(const GetOptions& options) {
  // Default settings, as every client of the application has them.
  HttpClient client;
  client.SetReadTimeout(options.ReadTimeout);
  client.FetchDeadline = static_cast<int>(options.DeadlineSeconds * 1000.0 + 0.5);
  MemoryStream body;
  // The client speaks plain HTTP; say so rather than name the missing secure handler.
  std::string scheme = options.Url.substr(0, options.Url.find(':'));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (scheme == "https") throw std::runtime_error("HTTPS is not supported: " + options.Url);
  // Failures (HttpProtocolError with its status line, NetError texts) reach main, which prints
  // their message and exits with status 1.
  client.Get(Utf8ToUtf16(options.Url), body);

  const std::vector<uint8_t>& bytes = body.Bytes();
  if (options.Output.empty()) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
      throw std::runtime_error("Could not write to standard output.");
    }
    std::fflush(stdout);
    return;
  }
  std::ofstream file(options.Output, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("Could not write " + options.Output + ".");
}

}  // namespace

void AddGetCommand(CLI::App& app) {
  auto options = std::make_shared<GetOptions>();
  CLI::App* get = app.add_subcommand(
      "get", "Fetch one address over HTTP with the application's client settings.");
  get->add_option("URL", options->Url, "Address to fetch, e.g. http://host/path")->required();
  get->add_option("-o,--output", options->Output, "Write the body to FILE instead of stdout")
      ->type_name("FILE");
  get->add_option("--read-timeout", options->ReadTimeout,
                  "Longest wait for data in milliseconds (-1 or 0: no limit)")
      ->type_name("MS")
      ->capture_default_str();
  get->add_option("--deadline", options->DeadlineSeconds,
                  "Longest time the whole fetch may take, in seconds; 0: no limit")
      ->type_name("SECONDS")
      ->check(CLI::Range(0.0, 86400.0))
      ->capture_default_str();
  get->callback([options] { RunGet(*options); });
}

}  // namespace brevis::cli
