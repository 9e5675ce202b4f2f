// ChooseRootDir: where the window keeps its downloads. "repo" beside the executable; the user's
// data folder when that cannot be used; brevisfetch.conf's repo, and BREVISFETCH_REPO over it,
// override both.
#pragma once

#include <QString>

namespace brevis::gui {

// Returns the repository folder, without a trailing separator:
// 1. the value of the environment variable BREVISFETCH_REPO, when it is set and not empty;
// 2. `configured`, the repo of brevisfetch.conf, when not empty;
// 3. `executableDir` + "/repo", when that folder exists or can be created, and is writable;
// 4. otherwise the application's data folder (QStandardPaths::AppDataLocation) + "/repo".
// Creates the folder of case 3 when it is missing; the others are left to the caller to make.
QString ChooseRootDir(const QString& executableDir, const QString& configured = {});

}  // namespace brevis::gui
