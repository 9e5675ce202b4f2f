// brevisfetch: the program start. Builds the application and its one window, joins the window to
// the core, runs the start-up and then the event loop until exit.
#include <QCoreApplication>
#include <exception>

#include "app/application.h"
#include "app/form_wiring.h"
#include "app/main_window.h"
#include "app/root_dir.h"

int main(int argc, char** argv) {
  brevis::gui::Application application(argc, argv);
  brevis::gui::MainWindow form;
  brevis::gui::FormWiring wiring(
      form, brevis::gui::ChooseRootDir(QCoreApplication::applicationDirPath()));
  try {
    wiring.Start();
  } catch (const std::exception& error) {
    // A failed start-up is reported and the window opens all the same.
    brevis::gui::Application::ShowException(error);
  }
  form.show();
  return brevis::gui::Application::exec();
}
