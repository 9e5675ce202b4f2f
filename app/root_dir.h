// ChooseRootDir: where the window keeps its downloads. "repo" beside the executable; the user's
// data folder when that cannot be used; brevisfetch.conf's repo, and BREVISFETCH_REPO over it,
// override both.
#pragma once

#include <QString>

namespace brevis::gui {

// Returns the repository folder, without a trailing separator:
// 1. the value of the environment variable BREVISFETCH_REPO, when it is set and not empty;
// 2. `configured`, the repo of brevisfetch.conf, when not empty;
// 3. DefaultRepoDir of `executableDir`, with the application's data folder
//    (QStandardPaths::AppDataLocation) for its fall-back: `executableDir` + "/repo" when it can
//    be written and is not in a system folder (made when missing), else the data folder + "/repo".
// The folder of case 3 beside the executable is made; the others are left to the caller to make.
QString ChooseRootDir(const QString& executableDir, const QString& configured = {});

}  // namespace brevis::gui
