// brevisfetch-mirror: serves the mirror, update and patent-office services from a data folder on
// one machine, or writes the sample data set.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <exception>
#include <iostream>
#include <string>

#include "stand_in/mirror_data.h"
#include "stand_in/serving.h"
#include "tools/command_line.h"
#include "tools/mirror/mirror_server.h"

int main(int argc, char** argv) {
  CLI::App app{
      "A local stand-in for BrevisFetch's mirror, update and patent-office services.\n"
      "Clients find it through BREVISFETCH_SERVER and BREVISFETCH_PATENT_OFFICE "
      "(both http://127.0.0.1:8642 by default)."};
  app.name("brevisfetch-mirror");
  app.set_version_flag("--version", "brevisfetch-mirror " BREVISFETCH_VERSION);
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
      app.add_option("--seed", seed, "Makes the injected failures repeatable")->type_name("N");
  if (const auto status = brevis::ParseCommandLine(app, argc, argv)) return *status;

  try {
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
