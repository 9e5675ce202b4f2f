// RunLock: flock on the lock file, the check that the locked file is still the one the path
// names, and the holder's lines.
#include "common/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>

#include "common/ascii_text.h"
#include "common/atomic_file.h"

namespace brevis {

RunLock::RunLock(std::string path) : path_(std::move(path)) {}

RunLock::~RunLock() { Unlock(); }

bool RunLock::TryLock(const std::string& description) { return Acquire(false, description); }

void RunLock::Lock(const std::string& description) { Acquire(true, description); }

bool RunLock::Acquire(bool wait, const std::string& description) {
  if (Held()) return true;
  for (;;) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
      throw FileWriteError("Cannot write " + path_ + ": " + std::strerror(errno));
    }
    int locked;
    while ((locked = ::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) return false;
      throw FileWriteError("Cannot lock " + path_ + ": " + std::strerror(error));
    }
    // The holder before removed the file before it let go: this lock is on a file nobody else
    // will look at, so take the one the path names now (made afresh by whoever opens it).
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0 || ::stat(path_.c_str(), &named) != 0 ||
        held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
      ::close(fd);
      continue;
    }
    fd_ = fd;
    break;
  }
  // Written in one piece and then cut, so that a reader sees the old lines or the new ones,
  // save for a short tail of the old.
  const std::string lines = std::to_string(::getpid()) + "\n" + description + "\n";
  if (::pwrite(fd_, lines.data(), lines.size(), 0) == static_cast<ssize_t>(lines.size())) {
    (void)::ftruncate(fd_, static_cast<off_t>(lines.size()));
  }
  return true;
}

void RunLock::Unlock() {
  if (!Held()) return;
  // Removed while still held, so that nobody else can hold it at this moment.
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

LockHolder RunLock::Holder() const {
  LockHolder holder;
  std::ifstream in(path_);
  std::string pid;
  if (!std::getline(in, pid) || !ascii::IsDigits(pid) || pid.size() > 9) {
    return holder;
  }
  holder.Pid = std::stoi(pid);
  std::getline(in, holder.Description);
  return holder;
}

void RemoveUnheldLock(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return;
  try {
    RunLock lock(path);
    if (lock.TryLock("")) lock.Unlock();
  } catch (const FileWriteError&) {
    // A folder that cannot be written keeps its lock file; the next run takes it over.
  }
}

}  // namespace brevis
