// FolderTaken: a moment's hold of the patent folder's lock.
#include "tools/cli/folder_taken.h"

#include <errno.h>

#include <filesystem>
#include <iostream>
#include <system_error>

#include "common/run_lock.h"
#include "common/text.h"
#include "core/patent_paths.h"

namespace brevis::cli {

bool FolderTaken(const std::u16string& root_dir, const std::u16string& apn, bool wait) {
  std::error_code error;
  if (!std::filesystem::is_directory(FsPath(PatentFolder(root_dir, apn)), error)) return false;
  RunLock lock(Utf16ToUtf8(LockPath(root_dir, apn)));
  const std::string description = program_invocation_short_name;
  if (lock.TryLock(description)) return false;
  if (!wait) return true;
  std::cerr << "CN" << Utf16ToUtf8(apn)
            << ": waiting for the run that is fetching it in this folder." << std::endl;
  lock.Lock(description);
  return false;
}

}  // namespace brevis::cli
