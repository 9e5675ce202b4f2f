// FormWiring for a build without the application core: the window opens and exit works; the
// number, the download and the web pages do nothing.
#include <QApplication>
#include <QObject>
#include <utility>

#include "app/form_wiring.h"
#include "app/main_form.h"

namespace brevis::gui {

struct FormWiring::Core {
  QString rootDir;
};

FormWiring::FormWiring(MainForm& form, QString rootDir)
    : core_(std::make_unique<Core>(Core{std::move(rootDir)})) {
  QObject::connect(&form, &MainForm::ExitClicked, qApp, &QApplication::quit, Qt::QueuedConnection);
}

FormWiring::~FormWiring() = default;

void FormWiring::Start() {}

}  // namespace brevis::gui
