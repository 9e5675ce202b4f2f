// Application: the program's QApplication. An error that escapes an event handler is shown as
// the standard error report (a message box with the error's text) and the event loop goes on.
#pragma once

#include <QApplication>
#include <exception>

namespace brevis::gui {

class Application final : public QApplication {
 public:
  // Sets the application's title "BREVISFETCH", its icon and its data-folder name.
  Application(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // The standard error report: a stop box captioned with the application's title.
  static void ShowException(const std::exception& error);
};

}  // namespace brevis::gui
