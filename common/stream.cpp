// In-memory and file streams.
#include "common/stream.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace brevis {

MemoryStream::MemoryStream(std::string_view bytes) : data_(bytes.begin(), bytes.end()) {}

void MemoryStream::SetPosition(int64_t position) {
  if (position < 0) throw std::out_of_range("Stream position is negative.");
  position_ = position;
}

void MemoryStream::SetSize(int64_t size) {
  if (size < 0) throw std::out_of_range("Stream size is negative.");
  data_.resize(static_cast<std::size_t>(size));
  position_ = std::min(position_, size);
}

void MemoryStream::Write(const uint8_t* data, std::size_t count) {
  if (count == 0) return;
  const auto start = static_cast<std::size_t>(position_);
  const std::size_t end = start + count;
  if (end > data_.capacity()) {
    // At least double, whatever the sizes of the writes: filling a stream piece by piece moves
    // its bytes once per doubling, and never asks for more than twice what it holds.
    data_.reserve(std::max(end, 2 * data_.capacity()));
  }
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + start, data, count);
  position_ += static_cast<int64_t>(count);
}

void MemoryStream::Reserve(int64_t size) {
  if (size <= 0 || static_cast<uint64_t>(size) <= data_.capacity()) return;
  // Exactly the size asked for, unless that is less than doubling: a run of hints that each
  // ask for a little more (pieces of a chunked body) must not move the bytes every time.
  data_.reserve(std::max(static_cast<std::size_t>(size), 2 * data_.capacity()));
}

std::size_t MemoryStream::Read(uint8_t* data, std::size_t count) {
  const auto start = static_cast<std::size_t>(position_);
  if (start >= data_.size()) return 0;
  const std::size_t n = std::min(count, data_.size() - start);
  std::memcpy(data, data_.data() + start, n);
  position_ += static_cast<int64_t>(n);
  return n;
}

FileStream::FileStream(const std::string& path, Mode mode) : path_(path) {
  file_ = std::fopen(path.c_str(), mode == fmCreate ? "w+b" : "rb");
  if (file_ == nullptr) Fail(mode == fmCreate ? "Cannot create file" : "Cannot open file");
}

FileStream::~FileStream() {
  if (file_ != nullptr) std::fclose(file_);
}

void FileStream::Fail(const char* what) const {
  throw std::runtime_error(std::string(what) + " \"" + path_ + "\": " + std::strerror(errno));
}

int64_t FileStream::Position() const {
  const off_t position = ftello(file_);
  if (position < 0) Fail("Cannot tell the position in");
  return position;
}

void FileStream::SetPosition(int64_t position) {
  if (position < 0) throw std::out_of_range("Stream position is negative.");
  if (fseeko(file_, static_cast<off_t>(position), SEEK_SET) != 0) Fail("Cannot seek in");
}

int64_t FileStream::Size() const {
  const int64_t position = Position();
  if (fseeko(file_, 0, SEEK_END) != 0) Fail("Cannot seek in");
  const int64_t size = Position();
  if (fseeko(file_, static_cast<off_t>(position), SEEK_SET) != 0) Fail("Cannot seek in");
  return size;
}

void FileStream::SetSize(int64_t size) {
  if (size < 0) throw std::out_of_range("Stream size is negative.");
  const int64_t position = Position();
  Flush();
  if (ftruncate(fileno(file_), static_cast<off_t>(size)) != 0) Fail("Cannot resize file");
  SetPosition(std::min(position, size));
}

void FileStream::Write(const uint8_t* data, std::size_t count) {
  if (count != 0 && std::fwrite(data, 1, count, file_) != count) Fail("Cannot write file");
}

std::size_t FileStream::Read(uint8_t* data, std::size_t count) {
  const std::size_t n = std::fread(data, 1, count, file_);
  if (n < count && std::ferror(file_)) Fail("Cannot read file");
  return n;
}

void FileStream::Flush() {
  if (std::fflush(file_) != 0) Fail("Cannot write file");
}

}  // namespace brevis
