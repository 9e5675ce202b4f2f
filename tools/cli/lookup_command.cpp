// brevisfetch-cli lookup: recognises an application number and looks up its page count and the
// base address of its page images, as the window does before a download.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/text.h"
#include "core/config_file.h"
#include "core/hosts.h"
#include "core/messages.h"
#include "core/patent_lookup.h"
#include "core/recognised_number.h"
#include "tools/cli/commands.h"
#include "tools/cli/number_list.h"

namespace brevis::cli {

namespace {

void RunLookup(const std::string& typed) {
  // The addresses as brevisfetch.conf and the environment give them.
  const Config config = LoadConfig();
  LookupSettings settings;
  settings.Server = Utf8ToUtf16(config.Server);
  settings.PatentOffice = Utf8ToUtf16(config.PatentOffice);

  const RecognisedNumber number = RecogniseNumber(Utf8ToUtf16(typed));
  if (!number.Valid) throw std::runtime_error(NotValidText(number, typed));
  // Errors in the answers (ConvertError) reach main, which prints them and exits with 1.
  PatentLookup lookup(settings);
  const LookupResult result = lookup.Find(number.Apn, number.Kind);
  if (result.Cause != LookupCause::kFound) {
    std::string text = Utf16ToUtf8(LookupText(result));
    std::replace(text.begin(), text.end(), '\r', '\n');
    // main prints the text through EscapeControls, which keeps the cause's CR LF as a break.
    if (!result.ServiceFailure().empty()) text += "\n" + result.ServiceFailure();
    throw std::runtime_error(text);
  }
  const ReRazavu& r = result.Found;
  std::cout << "number: " << Utf16ToUtf8(r.Apn) << '\n'
            << "kind: " << Utf16ToUtf8(r.LeiXin) << '\n'
            << "kind name: " << Utf16ToUtf8(number.DisplayKind) << '\n'
            << "pages: " << r.GkPages << '\n'
            << "base: " << EscapeControls(Utf16ToUtf8(r.GkUrl)) << '\n';
}

}  // namespace

void AddLookupCommand(CLI::App& app) {
  auto number = std::make_shared<std::string>();
  CLI::App* lookup = app.add_subcommand(
      "lookup",
      "Recognise NUMBER and look up its page count and page address (mirror at "
      "BREVISFETCH_SERVER, search page at BREVISFETCH_PATENT_OFFICE, else as brevisfetch.conf's "
      "server and patent-office give them, both by default " +
          std::string(kDefaultHost) + ")");
  lookup->add_option("NUMBER", *number, "Application number, e.g. CN200710038426")->required();
  lookup->callback([number] { RunLookup(*number); });
}

}  // namespace brevis::cli
