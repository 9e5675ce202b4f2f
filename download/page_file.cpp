// PageFile: the temporary file written as the body arrives, its cap, and its check and commit.
#include "download/page_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "download/tiff_check.h"
#include "http/http_errors.h"

namespace brevis {

PageFile::PageFile(std::string path, std::int64_t max_size)
    : path_(std::move(path)), maxSize_(max_size) {}

PageFile::~PageFile() { Close(); }

void PageFile::Fail(int error) const {
  throw FileWriteError("Cannot write " + path_ + ": " + std::strerror(error));
}

void PageFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void PageFile::Write(const uint8_t* data, std::size_t count) {
  if (count == 0) return;
  // Counted on the file itself: whatever the server announced or left out, no page file grows
  // beyond the cap.
  if (static_cast<std::int64_t>(count) > maxSize_ - position_) throw BodyTooLarge(maxSize_);
  if (fd_ < 0) {
    try {
      temporary_.emplace(path_);
    } catch (const std::system_error& error) {
      Fail(error.code().value());
    }
    fd_ = ::open(temporary_->Name().c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) Fail(errno);
  }
  std::size_t written = 0;
  while (written < count) {
    const ssize_t n = ::pwrite(fd_, data + written, count - written,
                               static_cast<off_t>(position_ + static_cast<int64_t>(written)));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    written += static_cast<std::size_t>(n);
  }
  position_ += static_cast<int64_t>(count);
  size_ = std::max(size_, position_);
}

std::size_t PageFile::Read(uint8_t* data, std::size_t count) {
  if (fd_ < 0) return 0;
  const ssize_t n = ::pread(fd_, data, count, static_cast<off_t>(position_));
  if (n < 0) Fail(errno);
  position_ += n;
  return static_cast<std::size_t>(n);
}

void PageFile::SetPosition(int64_t position) {
  if (position < 0) throw std::out_of_range("Stream position is negative.");
  position_ = position;
}

void PageFile::SetSize(int64_t size) {
  if (size < 0) throw std::out_of_range("Stream size is negative.");
  if (size == size_) return;
  if (fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) != 0) Fail(errno);
  size_ = size;
  position_ = std::min(position_, size);
}

void PageFile::Commit() {
  // Every byte was handed to the system by pwrite; an error that close still reports (a network
  // file system's) is the write's.
  if (fd_ >= 0 && ::close(fd_) != 0) {
    fd_ = -1;
    Fail(errno);
  }
  fd_ = -1;
  if (!temporary_ || !FileLooksLikeTiff(temporary_->Name())) {
    throw std::runtime_error("The body is not a TIFF.");
  }
  try {
    temporary_->Commit();
  } catch (const std::system_error& error) {
    Fail(error.code().value());
  }
}

}  // namespace brevis
