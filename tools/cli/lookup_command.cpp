// brevisfetch-cli lookup: recognises an application number and looks up its page count and the
// base address of its page images, as the window does before a download.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/config_file.h"
#include "core/hosts.h"
#include "core/main_form.h"
#include "common/text.h"
#include "tools/cli/commands.h"
#include "tools/cli/console_face.h"

namespace brevis::cli {

namespace {

void RunLookup(const std::string& number) {
  ConsoleFace face;
  // The addresses as brevisfetch.conf and the environment give them.
  const Config config = LoadConfig();
  MainFormSettings settings;
  settings.Server = Utf8ToUtf16(config.Server);
  settings.PatentOffice = Utf8ToUtf16(config.PatentOffice);
  // A lookup writes no files, so neither a repository nor a PDF writer is needed.
  MainForm form(face, nullptr, settings);

  form.edtApnChange(Utf8ToUtf16(number));
  if (!form.valid()) {
    throw std::runtime_error(NotValidText(form, number));
  }
  // Errors in the answers (ConvertError) reach main, which prints them and exits with 1.
  const ReRazavu r = form.GetReRazavu(form.apn(), form.patent_type());
  if (r.GkPages <= 0) {
    std::string text;
    for (const std::string& message : face.Messages()) text += (text.empty() ? "" : "\n") + message;
    std::replace(text.begin(), text.end(), '\r', '\n');
    // main prints the text through EscapeControls, which keeps the cause's CR LF as a break.
    if (!form.lookupCause().empty()) text += "\n" + form.lookupCause();
    throw std::runtime_error(text);
  }
  std::cout << "number: " << Utf16ToUtf8(r.Apn) << '\n'
            << "kind: " << Utf16ToUtf8(r.LeiXin) << '\n'
            << "kind name: " << Utf16ToUtf8(form.patent_display_type()) << '\n'
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
