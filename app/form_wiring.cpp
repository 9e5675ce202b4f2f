// FormWiring: what the window's clicks and changes do. Until the application core is joined here,
// only exit has an effect; recognition, download and the web pages belong to the core.
#include "app/form_wiring.h"

#include <QApplication>
#include <QObject>
#include <utility>

#include "app/main_form.h"

namespace brevis {

struct FormWiring::Core {
  QString rootDir;
};

FormWiring::FormWiring(MainForm& form, QString rootDir)
    : core_(std::make_unique<Core>(Core{std::move(rootDir)})) {
  // Exit only ends the event loop: download workers still running are left to the process end.
  QObject::connect(&form, &MainForm::ExitClicked, qApp, &QApplication::quit, Qt::QueuedConnection);
}

FormWiring::~FormWiring() = default;

}  // namespace brevis
