// Atomic file writing: a file is written whole under a temporary name in its own folder and then
// renamed over its name, so that no partial file ever carries the name, even when the process is
// killed while writing or the power fails after the rename. The temporary names follow one rule,
// so that what an interrupted writer leaves behind can be told from every other file and removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace brevis {

// The temporary name a writer in process `pid` gives its `n`th file while it writes `path`:
// `path` + ".<pid>-<n>-<stamp in lower-case hexadecimal>.tmp". Nothing else has such names.
std::string TemporaryName(const std::string& path, int pid, unsigned n, unsigned stamp);

// The file name that `name` (without folders) is the temporary name of, when the name follows
// the rule above and was given by process `pid` (by any process when `pid` is 0); otherwise empty.
std::string TemporaryTarget(std::string_view name, int pid = 0);

// True when `name` is a temporary name of the file named `target` (both without folders), given
// by process `pid` (by any process when 0).
bool IsTemporaryName(std::string_view name, std::string_view target, int pid = 0);

// Removes from `folder` the temporary files of process `pid` (of any process when 0) whose target
// name `wanted` accepts; nothing else. A folder that cannot be read is left alone.
void RemoveTemporaryFiles(const std::filesystem::path& folder,
                          const std::function<bool(std::string_view target)>& wanted, int pid = 0);

// An empty file of a fresh temporary name beside the target, created with the permissions of a
// newly created file. Removed when the object is destroyed, unless Commit renamed it into place.
// Failures throw std::system_error with the system's error code.
class TemporaryFile final {
 public:
  explicit TemporaryFile(std::string path);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // The temporary file's path, for writing.
  const std::string& Name() const { return name_; }
  // Makes the written file durable and gives it the target's name, replacing an existing file:
  // the file's data reach the disk (fsync) before the rename, and the folder's entry after it,
  // so that once Commit returns a power cut leaves either the new file or the old one under the
  // name, never an empty or partial one. The writer must have handed every byte to the system
  // (closed or flushed its stream) before. A failure of the rename leaves the temporary file to
  // the destructor; a failure to flush the folder after the rename is thrown all the same (the
  // file carries its name then, but may not survive a power cut).
  void Commit();

 private:
  std::string path_;
  std::string name_;
  bool committed_ = false;
};

// A file that could not be written here (a full disk, a folder that cannot be written): a local
// failure, which trying the same write again does not mend.
class FileWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes `size` bytes to `path` through a TemporaryFile, replacing an existing file. Throws
// FileWriteError naming `path` and the system's reason; the temporary file is removed then.
void WriteFileAtomically(const std::string& path, const uint8_t* data, std::size_t size);

}  // namespace brevis
