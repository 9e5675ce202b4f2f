// brevisfetch: the program start. Builds the application and its one window, joins the window to
// the core, runs the start-up and then the event loop until exit.
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/application.h"
#include "app/form_wiring.h"
#include "app/main_window.h"
#include "app/root_dir.h"
#include "core/config_file.h"
#include "protocol/version.h"

namespace {

// `--help` and `--version` are answered before Qt starts, so that they work without a display
// (help2man makes the manual page from them at build time).
constexpr char kHelp[] =
    "Usage: brevisfetch [--help] [--version]\n"
    "Opens the BrevisFetch window: type a Chinese patent application number, and the window\n"
    "downloads the publication's pages and combines them into one PDF.\n"
    "\n"
    "Options:\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Environment:\n"
    "  BREVISFETCH_REPO  the folder downloads go to (default: repo/ beside the program, or\n"
    "                    ~/.local/share/brevisfetch/repo when that cannot be written)\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("BrevisFetch %.*s\n", static_cast<int>(brevis::kVersion.size()),
                brevis::kVersion.data());
    return 0;
  }
  brevis::gui::Application application(argc, argv);
  brevis::gui::MainWindow form;
  // brevisfetch.conf: a malformed line is told on standard error only, so that the window does
  // not stop at every start for a file the user may not mean to change now.
  const brevis::Config config = brevis::LoadConfig();
  brevis::gui::FormWiring wiring(form,
                                 brevis::gui::ChooseRootDir(QCoreApplication::applicationDirPath(),
                                                            QString::fromStdString(config.Repo)),
                                 config);
  try {
    wiring.Start();
  } catch (const std::exception& error) {
    // A failed start-up is reported and the window opens all the same.
    brevis::gui::Application::ShowException(error);
  }
  form.show();
  return brevis::gui::Application::exec();
}
