// brevisfetch-mirror: serves the mirror, update and patent-office services from a data folder on
// one machine, or writes the sample data set or a generated one.
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <cstdint>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <utility>

#include "protocol/version.h"
#include "stand_in/mirror_data.h"
#include "stand_in/serving.h"
#include "tools/command_line.h"
#include "tools/mirror/mirror_server.h"

namespace {

// "MIN-MAX" with 1 <= MIN <= MAX <= 10000, as the pages of generated patents; else nothing.
std::optional<std::pair<int, int>> ParsePageRange(const std::string& text) {
  const auto dash = text.find('-');
  if (dash == std::string::npos) return std::nullopt;
  const std::string low = text.substr(0, dash);
  const std::string high = text.substr(dash + 1);
  for (const std::string& part : {low, high}) {
    if (!brevis::MirrorData::IsNumber(part) || part.size() > 5) return std::nullopt;
  }
  const std::pair<int, int> range{std::stoi(low), std::stoi(high)};
  if (range.first < 1 || range.second < range.first || range.second > 10000) return std::nullopt;
  return range;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "A local stand-in for BrevisFetch's mirror, update and patent-office services.\n"
      "Clients find it through BREVISFETCH_SERVER and BREVISFETCH_PATENT_OFFICE "
      "(both http://127.0.0.1:8642 by default)."};
  app.name("brevisfetch-mirror");
  app.set_version_flag("--version", "brevisfetch-mirror " + std::string(brevis::kVersion));
  brevis::MirrorOptions options;
  std::string sampleDir;
  uint64_t seed = 0;
  auto* data = app.add_option("--data", options.DataDir, "Data folder with the patents")
                   ->type_name("DIR")
                   ->check(CLI::ExistingDirectory);
  auto* sample =
      app.add_option("--make-sample", sampleDir, "Write the sample data set into DIR and exit")
          ->type_name("DIR");
  data->excludes(sample);
  brevis::GeneratedSet generated;
  std::string pageRange = "3-60";
  auto* patents = app.add_option("--patents", generated.Patents,
                                 "With --make-sample: write N generated patents instead of the "
                                 "sample set, and their numbers to DIR/numbers.txt")
                      ->type_name("N")
                      ->check(CLI::Range(1, 100000))
                      ->needs(sample);
  app.add_option("--pages", pageRange, "With --patents: the pages of each generated patent")
      ->type_name("MIN-MAX")
      ->capture_default_str()
      ->check(CLI::Validator(
          [](const std::string& text) {
            return ParsePageRange(text) ? std::string()
                                        : "expected MIN-MAX with 1 <= MIN <= MAX <= 10000";
          },
          ""))
      ->needs(patents);
  app.add_option("--bind", options.Bind, "Address to listen on (0.0.0.0: every interface)")
      ->capture_default_str();
  app.add_option("--port", options.Port, "Port to listen on (0: any free port)")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  app.add_option("--update-url", options.UpdateUrl,
                 "The update service's answer (default: empty, no update)")
      ->type_name("URL");
  app.add_option("--fail-rate", options.FailRate,
                 "Share of page requests that fail on purpose (500, dropped, cut short)")
      ->type_name("P")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--delay-ms", options.DelayMs, "Latency added to every answer")
      ->type_name("N")
      ->check(CLI::Range(0, 600000));
  auto* seedOption =
      app.add_option("--seed", seed,
                     "Makes the injected failures, or the generated patents, repeatable")
          ->type_name("N");
  app.add_option("--access-log", options.AccessLog,
                 "Append the access log (Combined Log Format and the seconds taken) to FILE "
                 "instead of stderr; reopened on SIGHUP")
      ->type_name("FILE");
  // The limits are given in seconds and bytes; the server counts milliseconds.
  double headerTimeout = options.HeaderTimeoutMs / 1000.0;
  double idleTimeout = options.IdleTimeoutMs / 1000.0;
  app.add_option("--header-timeout", headerTimeout,
                 "Seconds a request head may take from its first byte (or from the connection's "
                 "opening); then 408 and the connection closes")
      ->type_name("S")
      ->capture_default_str()
      ->check(CLI::Range(0.001, 3600.0));
  app.add_option("--idle-timeout", idleTimeout,
                 "Seconds a connection may send and take nothing (between requests, or while its "
                 "client does not read) before it is closed")
      ->type_name("S")
      ->capture_default_str()
      ->check(CLI::Range(0.001, 3600.0));
  app.add_option("--max-connections", options.MaxConnections,
                 "Connections open at once; one more gets 503 with Retry-After")
      ->type_name("N")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000000));
  app.add_option("--max-connections-per-client", options.MaxConnectionsPerClient,
                 "Connections open at once from one client address; one more gets 503")
      ->type_name("N")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000000));
  app.add_option("--max-request-line", options.MaxRequestLine,
                 "Bytes of a request line; a longer one gets 414")
      ->type_name("N")
      ->capture_default_str()
      ->check(CLI::Range(16, 1 << 20));
  app.add_option("--max-header-bytes", options.MaxHeaderBytes,
                 "Bytes of a whole request head; a larger one gets 431")
      ->type_name("N")
      ->capture_default_str()
      ->check(CLI::Range(64, 1 << 20));
  if (const auto status = brevis::ParseCommandLine(app, argc, argv)) return *status;

  try {
    if (!sampleDir.empty() && patents->count() > 0) {
      std::tie(generated.MinPages, generated.MaxPages) = *ParsePageRange(pageRange);
      generated.Seed = seed;
      int pages = 0;
      for (const brevis::PatentEntry& entry :
           brevis::MirrorData::MakeGenerated(sampleDir, generated)) {
        pages += entry.Pages;
      }
      std::cout << "brevisfetch-mirror: " << generated.Patents << " patents of " << pages
                << " pages written to " << sampleDir << ", their numbers to " << sampleDir << '/'
                << brevis::MirrorData::kNumberList << '\n';
      return 0;
    }
    if (!sampleDir.empty()) {
      brevis::MirrorData::MakeSample(sampleDir);
      std::cout << "brevisfetch-mirror: sample data written to " << sampleDir << '\n';
      return 0;
    }
    if (options.DataDir.empty()) {
      std::cerr << "brevisfetch-mirror: --data DIR or --make-sample DIR is required\n"
                << app.help();
      return 1;
    }
    if (seedOption->count() > 0) options.Seed = seed;
    options.HeaderTimeoutMs = static_cast<int>(headerTimeout * 1000 + 0.5);
    options.IdleTimeoutMs = static_cast<int>(idleTimeout * 1000 + 0.5);
    // Every connection takes a descriptor: allow as many as the system lets this process have,
    // so that the connection limits, not the descriptors, decide who is refused.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
      files.rlim_cur = files.rlim_max;
      ::setrlimit(RLIMIT_NOFILE, &files);
    }

    // SIGINT and SIGTERM end the server cleanly.
    const sigset_t signals = brevis::BlockStopSignals();
    brevis::MirrorServer server(options);
    const int port = server.Bind();
    std::cout << "brevisfetch-mirror: serving " << options.DataDir << " on http://"
              << (options.Bind.find(':') != std::string::npos ? "[" + options.Bind + "]"
                                                              : options.Bind)
              << ':' << port << '/' << std::endl;
    brevis::ServeUntilStopSignal(
        signals, [&server] { server.Run(); }, [&server] { server.Stop(); });
  } catch (const std::exception& e) {
    std::cerr << "brevisfetch-mirror: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
