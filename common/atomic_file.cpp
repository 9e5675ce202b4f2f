// Atomic file writing: temporary names, their recognition and the write-then-rename.
#include "common/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace brevis {

namespace {

bool AllOf(std::string_view text, std::string_view set) {
  return !text.empty() && text.find_first_not_of(set) == std::string_view::npos;
}

// Flushes the file or folder `path` to the disk; 0 or the system's error. fsync through a
// descriptor of its own flushes what any descriptor of the file wrote. A file system that cannot
// flush (EINVAL: some network and special file systems refuse fsync on a folder) has nothing
// more to give, which is no failure of the write.
int SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) return errno;
  int error = 0;
  while (::fsync(fd) != 0) {
    if (errno == EINTR) continue;
    if (errno != EINVAL) error = errno;
    break;
  }
  ::close(fd);
  return error;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string TemporaryName(const std::string& path, int pid, unsigned n, unsigned stamp) {
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%d-%u-%x.tmp", pid, n, stamp);
  return path + suffix;
}

std::string TemporaryTarget(std::string_view name, int pid) {
  constexpr std::string_view kEnd = ".tmp";
  if (!name.ends_with(kEnd)) return {};
  // "<target>.<pid>-<n>-<hex>.tmp": the last dot before the end starts the marks.
  const std::string_view rest = name.substr(0, name.size() - kEnd.size());
  const std::size_t dot = rest.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  const std::string_view marks = rest.substr(dot + 1);
  const std::size_t dash1 = marks.find('-');
  const std::size_t dash2 = dash1 == std::string_view::npos ? dash1 : marks.find('-', dash1 + 1);
  if (dash2 == std::string_view::npos || marks.find('-', dash2 + 1) != std::string_view::npos) {
    return {};
  }
  const std::string_view process = marks.substr(0, dash1);
  if (!AllOf(process, "0123456789") ||
      !AllOf(marks.substr(dash1 + 1, dash2 - dash1 - 1), "0123456789") ||
      !AllOf(marks.substr(dash2 + 1), "0123456789abcdef")) {
    return {};
  }
  if (pid != 0 && process != std::to_string(pid)) return {};
  return std::string(rest.substr(0, dot));
}

bool IsTemporaryName(std::string_view name, std::string_view target, int pid) {
  return !target.empty() && TemporaryTarget(name, pid) == target;
}

void RemoveTemporaryFiles(const std::filesystem::path& folder,
                          const std::function<bool(std::string_view target)>& wanted, int pid) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string target = TemporaryTarget(entry.path().filename().string(), pid);
    if (!target.empty() && wanted(target)) std::filesystem::remove(entry.path(), error);
  }
}

TemporaryFile::TemporaryFile(std::string path) : path_(std::move(path)) {
  static std::atomic<unsigned> counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto stamp = static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFF);
    std::string name = TemporaryName(path_, static_cast<int>(::getpid()), ++counter, stamp);
    // The temporary file lies in the target's folder, so that the rename never crosses file
    // systems; 0666 as any new file, less the umask.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      name_ = std::move(name);
      return;
    }
    if (errno != EEXIST) throw std::system_error(errno, std::generic_category(), path_);
  }
  throw std::system_error(EEXIST, std::generic_category(), path_);
}

TemporaryFile::~TemporaryFile() {
  if (!committed_) std::remove(name_.c_str());
}

void TemporaryFile::Commit() {
  // Without the first flush, a power cut after the rename could leave the name on an empty
  // file; without the second, the rename itself could be lost although the caller was told the
  // file is written.
  if (const int error = SyncPath(name_, 0); error != 0) {
    throw std::system_error(error, std::generic_category(), path_);
  }
  if (std::rename(name_.c_str(), path_.c_str()) != 0) {
    throw std::system_error(errno, std::generic_category(), path_);
  }
  committed_ = true;
  if (const int error = SyncPath(FolderOf(path_), O_DIRECTORY); error != 0) {
    throw std::system_error(error, std::generic_category(), path_);
  }
}

void WriteFileAtomically(const std::string& path, const uint8_t* data, std::size_t size) {
  try {
    TemporaryFile temporary(path);
    const int fd = ::open(temporary.Name().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), path);
    int error = 0;
    std::size_t written = 0;
    while (error == 0 && written < size) {
      const ssize_t n = ::write(fd, data + written, size - written);
      if (n < 0) {
        if (errno != EINTR) error = errno;
        continue;
      }
      written += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) throw std::system_error(error, std::generic_category(), path);
    temporary.Commit();
  } catch (const std::system_error& error) {
    throw FileWriteError("Cannot write " + path + ": " + std::strerror(error.code().value()));
  }
}

}  // namespace brevis
