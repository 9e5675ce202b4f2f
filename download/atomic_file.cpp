// WriteFileAtomically: a temporary file beside the target, written whole and renamed into place.
#include "download/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace brevis {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

}  // namespace

void WriteFileAtomically(const std::string& path, const uint8_t* data, std::size_t size) {
  // The temporary name lies in the same folder, so that the rename never crosses file systems.
  std::string temp_name = path + ".part-XXXXXX";
  std::vector<char> name(temp_name.begin(), temp_name.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) Fail("Cannot create", temp_name, errno);
  temp_name.assign(name.data());

  int error = 0;
  // mkstemp makes the file readable by its owner only; a page file is an ordinary file.
  if (fchmod(fd, 0644) != 0) error = errno;
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
  if (error == 0 && std::rename(temp_name.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    std::remove(temp_name.c_str());
    Fail("Cannot write", path, error);
  }
}

}  // namespace brevis
