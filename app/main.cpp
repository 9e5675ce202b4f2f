// brevisfetch: the program start. Builds the application and its one window, joins the window to
// the core, runs the start-up and then the event loop until exit.
#include <QCoreApplication>
#include <exception>

#include "app/application.h"
#include "app/core/config_file.h"
#include "app/form_wiring.h"
#include "app/main_window.h"
#include "app/root_dir.h"

int main(int argc, char** argv) {
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
