// ChooseRootDir: the override, made absolute, or the core's rule with Qt's data folder.
#include "app/root_dir.h"

#include <QDir>
#include <QStandardPaths>

#include "core/repo_dir.h"

namespace brevis::gui {

QString ChooseRootDir(const QString& executableDir, const QString& configured) {
  QString chosen = qEnvironmentVariable("BREVISFETCH_REPO");
  if (chosen.isEmpty()) chosen = configured;
  // Made absolute, so that the PDF's path is a file to the desktop and not a web address.
  if (!chosen.isEmpty()) return QDir::cleanPath(QDir(chosen).absolutePath());

  const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  return QDir::cleanPath(
      QString::fromStdString(DefaultRepoDir(executableDir.toStdString(), data.toStdString())));
}

}  // namespace brevis::gui
