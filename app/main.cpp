// brevisfetch: the program start. Builds the application and its one window, joins the window to
// the core and runs the event loop until exit.
#include <QCoreApplication>
#include <exception>
#include <memory>

#include "app/application.h"
#include "app/form_wiring.h"
#include "app/main_form.h"
#include "app/root_dir.h"

int main(int argc, char** argv) {
  brevis::Application application(argc, argv);
  brevis::MainForm form;
  std::unique_ptr<brevis::FormWiring> wiring;
  try {
    wiring = std::make_unique<brevis::FormWiring>(
        form, brevis::ChooseRootDir(QCoreApplication::applicationDirPath()));
  } catch (const std::exception& error) {
    // A failed start-up is reported and the window opens all the same.
    brevis::Application::ShowException(error);
  }
  form.show();
  return brevis::Application::exec();
}
