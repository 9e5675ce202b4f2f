// brevisfetch-hostile: a misbehaving stand-in for the mirror and the page servers, on loopback,
// for trying BrevisFetch against hostile peers.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <map>
#include <string>

#include "stand_in/serving.h"
#include "tools/command_line.h"
#include "tools/hostile/hostile_server.h"

int main(int argc, char** argv) {
  CLI::App app{
      "A hostile stand-in for BrevisFetch's mirror and page servers: answers the lookup "
      "properly, pointing the pages at itself, and serves pages (or the lookup answer) badly.\n"
      "Clients find it through BREVISFETCH_SERVER."};
  app.name("brevisfetch-hostile");
  brevis::HostileOptions options;
  std::map<std::string, brevis::HostileMode> modes;
  for (const brevis::HostileMode mode : brevis::AllModes()) {
    modes.emplace(std::string(brevis::ModeName(mode)), mode);
  }
  app.add_option("--mode", options.PageMode, "How the pages are served")
      ->transform(CLI::CheckedTransformer(modes, CLI::ignore_case))
      ->default_str("good");
  app.add_option("--lookup-mode", options.LookupMode, "How the mirror's answer is served")
      ->transform(CLI::CheckedTransformer(modes, CLI::ignore_case))
      ->default_str("good");
  app.add_option("--bind", options.Bind, "IPv4 address to listen on")->capture_default_str();
  app.add_option("--port", options.Port, "Port to listen on (0: any free port)")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  app.add_option("--pages", options.Pages, "Page count of every number (without --data)")
      ->capture_default_str()
      ->check(CLI::Range(1, 10000));
  app.add_option("--data", options.DataDir,
                 "Mirror data folder (brevisfetch-mirror --make-sample) for page counts and pages")
      ->type_name("DIR")
      ->check(CLI::ExistingDirectory);
  app.add_option("--trickle-ms", options.TrickleMs, "Pause between two bytes in mode trickle")
      ->capture_default_str()
      ->check(CLI::Range(1, 600000));
  app.add_option("--retry-after", options.RetryAfterS,
                 "Seconds of 429 answers with Retry-After in mode retry-after, from the first "
                 "request in that mode")
      ->capture_default_str()
      ->check(CLI::Range(1, 86400));
  if (const auto status = brevis::ParseCommandLine(app, argc, argv)) return *status;

  try {
    // SIGINT and SIGTERM end the server cleanly.
    const sigset_t signals = brevis::BlockStopSignals();
    brevis::HostileServer server(options);
    const int port = server.Bind();
    std::cout << "brevisfetch-hostile: pages " << brevis::ModeName(options.PageMode) << ", lookup "
              << brevis::ModeName(options.LookupMode) << " on http://" << options.Bind << ':'
              << port << '/' << std::endl;
    brevis::ServeUntilStopSignal(
        signals, [&server] { server.Run(); }, [&server] { server.Stop(); });
  } catch (const std::exception& e) {
    std::cerr << "brevisfetch-hostile: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
