// FormWiring: joins the window to the application core. The window only shows and reports;
// this is the one place that decides what its reports do.
#pragma once

#include <QString>
#include <memory>

namespace brevis {

class MainForm;

class FormWiring final {
 public:
  // Connects the window's reports and runs the start-up work that comes before the window is
  // first shown. `rootDir` is the repository folder. The window must outlive this object.
  FormWiring(MainForm& form, QString rootDir);
  ~FormWiring();

  FormWiring(const FormWiring&) = delete;
  FormWiring& operator=(const FormWiring&) = delete;

 private:
  struct Core;
  std::unique_ptr<Core> core_;
};

}  // namespace brevis
