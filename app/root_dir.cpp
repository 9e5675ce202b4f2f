// ChooseRootDir: picks the repository folder, falling back for installed copies.
#include "app/root_dir.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include "core/patent_paths.h"

namespace brevis::gui {
namespace {

// True when a file can be made in `dir`. Asked by trying, since permission bits say nothing
// about read-only mounts.
bool Writable(const QString& dir) {
  QTemporaryFile probe(dir + QStringLiteral("/.brevisfetch-XXXXXX"));
  return probe.open();
}

}  // namespace

QString ChooseRootDir(const QString& executableDir, const QString& configured) {
  QString chosen = qEnvironmentVariable("BREVISFETCH_REPO");
  if (chosen.isEmpty()) chosen = configured;
  // Made absolute, so that the PDF's path is a file to the desktop and not a web address.
  if (!chosen.isEmpty()) return QDir::cleanPath(QDir(chosen).absolutePath());

  // Beside the program when it runs from a folder of its own; never in a system folder.
  const QString besideExecutable = QDir::cleanPath(executableDir + QStringLiteral("/repo"));
  if (!IsSystemProgramFolder(executableDir.toStdString()) && QDir().mkpath(besideExecutable) &&
      Writable(besideExecutable)) {
    return besideExecutable;
  }

  const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  return QDir::cleanPath(data + QStringLiteral("/repo"));
}

}  // namespace brevis::gui
