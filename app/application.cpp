// Application: title, icon and the standard error report.
#include "app/application.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QString>
#include <stdexcept>

#include "protocol/version.h"

namespace brevis::gui {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  // The lower-case name names the data folder; the title is what the user sees.
  setApplicationName(QStringLiteral("brevisfetch"));
  setApplicationDisplayName(QStringLiteral("BREVISFETCH"));
  setApplicationVersion(QString::fromLatin1(kVersion.data(), static_cast<qsizetype>(kVersion.size())));
  QIcon icon;
  for (const char* size : {"32", "64", "256"}) {
    icon.addFile(QStringLiteral(":/brevisfetch/icon_%1.png").arg(QLatin1String(size)));
  }
  setWindowIcon(icon);
  if (qtTexts_.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                    QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    installTranslator(&qtTexts_);
  }
}

bool Application::notify(QObject* receiver, QEvent* event) {
  bool result = false;
  ReportErrors([&] { result = QApplication::notify(receiver, event); });
  return result;
}

void Application::ReportErrors(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(std::runtime_error("Unknown error."));
  }
}

void Application::ShowException(const std::exception& error) {
  QMessageBox::critical(activeWindow(), applicationDisplayName(), QString::fromUtf8(error.what()));
}

}  // namespace brevis::gui
