// Application: the program's QApplication and its standard error report: an error that escapes
// a handler is shown in a message box with the error's text, and the event loop goes on.
#pragma once

#include <QApplication>
#include <QTranslator>
#include <exception>
#include <functional>

namespace brevis::gui {

class Application final : public QApplication {
 public:
  // Sets the application's title "BREVISFETCH", its icon and its data-folder name, and has Qt's
  // own texts (the buttons of a message box) in Chinese, as the window's, when Qt's translations
  // are installed.
  Application(int& argc, char** argv);

  // The last resort for an error thrown through Qt's own code, which is not built to pass
  // exceptions on: handlers of ours catch theirs with ReportErrors before that happens.
  bool notify(QObject* receiver, QEvent* event) override;

  // The standard error report: a stop box captioned with the application's title.
  static void ShowException(const std::exception& error);
  // Runs `handler`; an error it throws is shown with ShowException and goes no further.
  static void ReportErrors(const std::function<void()>& handler);

 private:
  QTranslator qtTexts_;
};

}  // namespace brevis::gui
