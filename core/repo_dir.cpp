// The repository folder beside the executable, or in the user's data.
#include "core/repo_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "core/patent_paths.h"

namespace brevis {

namespace {

// True when a file can be made in `dir`, which is made when missing. Asked by trying, since
// permission bits say nothing about read-only mounts.
bool Writable(const std::filesystem::path& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (!std::filesystem::is_directory(dir, error)) return false;
  std::string probe = (dir / ".brevisfetch-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

}  // namespace

std::filesystem::path UserDataDir() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (data_home != nullptr && *data_home == '/') {
    return std::filesystem::path(data_home) / "brevisfetch";
  }
  if (home != nullptr && *home != '\0') {
    return std::filesystem::path(home) / ".local" / "share" / "brevisfetch";
  }
  return {};
}

std::string DefaultRepoDir(const std::filesystem::path& executable_dir,
                           const std::filesystem::path& data_dir) {
  const std::filesystem::path beside = (executable_dir / "repo").lexically_normal();
  // Beside the program when it runs from a folder of its own; never in a system folder.
  if (!IsSystemProgramFolder(executable_dir) && Writable(beside)) return beside.string();
  if (data_dir.empty()) {
    throw std::runtime_error("Cannot write " + beside.string() +
                             ", and no data folder is known: give --repo DIR.");
  }
  return (data_dir / "repo").string();
}

}  // namespace brevis
