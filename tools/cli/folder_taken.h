// The folder-lock probe of "fetch --skip-existing": whether another run is fetching a patent
// into the same folder right now, so that its turn can come later.
#pragma once

#include <string>

namespace brevis::cli {

// Whether another run holds the folder of patent `apn` (digits only) under `root_dir` now; takes
// the folder's lock (RunLock on LockPath) for a moment to tell, and with `wait` waits for that
// run to end, saying so on standard error, and answers false. A missing folder is not taken.
bool FolderTaken(const std::u16string& root_dir, const std::u16string& apn, bool wait);

}  // namespace brevis::cli
