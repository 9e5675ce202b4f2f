// FormWiring: joins the window to the application core. The window only shows and reports;
// this is the one place that decides what its reports do.
#pragma once

#include <QString>
#include <memory>

#include "core/config_file.h"

namespace brevis::gui {

class MainWindow;

class FormWiring final {
 public:
  // Connects the window's reports. `rootDir` is the repository folder; `config` gives the
  // addresses, tries, deadline and recognition languages, and the 识别文字 item's state until
  // the user first sets it (the item's last state is remembered in window.ini and wins from then
  // on). The window must outlive this object.
  FormWiring(MainWindow& form, QString rootDir, const Config& config = LoadConfig());
  // Stops a running download and waits for it; calls it still hands to the window are dropped.
  ~FormWiring();

  FormWiring(const FormWiring&) = delete;
  FormWiring& operator=(const FormWiring&) = delete;

  // The start-up work before the window is first shown: the update check, the recognition of
  // the preset number and the repository folder. Throws when the folder cannot be made; the
  // window works all the same.
  void Start();

 private:
  struct Core;
  std::unique_ptr<Core> core_;
};

}  // namespace brevis::gui
