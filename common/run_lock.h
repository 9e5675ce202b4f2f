// RunLock: an advisory lock on a lock file (flock), held by the one process that works in a
// folder, so that two runs never write the same files at once. The kernel releases it when the
// holder dies, however it dies, so a killed run never leaves it stuck. The holder writes its
// process number and a short description into the file, for the message of whoever waits.
#pragma once

#include <string>

namespace brevis {

// The process that holds a lock, as its lock file names it; Pid 0 when the file names none (a
// holder that has just taken the lock and not written yet).
struct LockHolder {
  int Pid = 0;
  std::string Description;
};

// The lock file exists only while a run works: the holder removes it before it lets go, and
// whoever gets a lock on a file that was removed meanwhile tries again on the new one. So no
// lock file stays behind after a run that ended, and none is ever removed while someone holds it.
// A lock file left by a killed run is taken over by the next run and removed at its end
// (RemoveUnheldLock removes it at once). One object is used by one thread at a time; two objects
// on the same file exclude each other also within one process. A child process made by fork
// while the lock is held shares it; the descriptor is closed on exec.
class RunLock final {
 public:
  // A lock on the file `path`; nothing is taken yet.
  explicit RunLock(std::string path);
  // Unlock.
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock when nobody holds it and writes this process and `description` into the
  // file; false at once when another holds it. Throws FileWriteError ("Cannot write <path>:
  // <reason>") when the lock file cannot be made.
  bool TryLock(const std::string& description);
  // Takes the lock, waiting as long as another holds it. Throws as TryLock.
  void Lock(const std::string& description);
  // Removes the lock file and lets go of the lock; does nothing when it is not held.
  void Unlock();
  bool Held() const { return fd_ >= 0; }
  // The holder the lock file names (see LockHolder); Pid 0 when there is no such file.
  LockHolder Holder() const;

 private:
  bool Acquire(bool wait, const std::string& description);

  const std::string path_;
  int fd_ = -1;
};

// Removes the lock file `path` when no process holds its lock, as after a run that was killed;
// leaves it to its holder otherwise. Never throws.
void RemoveUnheldLock(const std::string& path);

}  // namespace brevis
