// In-memory stream.
#include "http/io_handler_stream.h"

#include <algorithm>
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
  if (start + count > data_.size()) data_.resize(start + count);
  std::memcpy(data_.data() + start, data, count);
  position_ += static_cast<int64_t>(count);
}

std::size_t MemoryStream::Read(uint8_t* data, std::size_t count) {
  const auto start = static_cast<std::size_t>(position_);
  if (start >= data_.size()) return 0;
  const std::size_t n = std::min(count, data_.size() - start);
  std::memcpy(data, data_.data() + start, n);
  position_ += static_cast<int64_t>(n);
  return n;
}

}  // namespace brevis
