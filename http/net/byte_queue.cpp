// Byte queue: appends grow with spare room, removals advance the head and compact lazily.
#include "http/net/byte_queue.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "http/net/net_error.h"

namespace brevis {

std::string ConvertText(std::string_view bytes, TextEncoding encoding) {
  std::string text(bytes);
  if (encoding != TextEncoding::kRaw) {
    for (char& c : text) {
      if (static_cast<unsigned char>(c) > 0x7F) c = '?';
    }
  }
  return text;
}

ByteQueue::ByteQueue(TextEncoding encoding, BytesRemovedCallback on_bytes_removed)
    : encoding_(encoding), onBytesRemoved_(std::move(on_bytes_removed)) {}

void ByteQueue::Write(std::string_view bytes, int64_t dest_index) {
  Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), dest_index);
}

void ByteQueue::Write(const uint8_t* data, std::size_t length, int64_t dest_index) {
  if (length == 0) return;
  if (length > kMaxSize - size_) throw NetTooMuchDataInBuffer();
  if (size_ == 0) {
    bytes_.assign(data, data + length);
    headIndex_ = 0;
    size_ = length;
    return;
  }
  CompactHead(false);
  if (bytes_.size() - size_ < length) bytes_.resize(size_ + length + kGrowthFactor);
  const std::size_t at =
      dest_index < 0 ? size_ : std::min(static_cast<std::size_t>(dest_index), size_);
  std::memmove(bytes_.data() + at + length, bytes_.data() + at, size_ - at);
  std::memcpy(bytes_.data() + at, data, length);
  size_ += length;
}

std::size_t ByteQueue::ExtractToBytes(std::vector<uint8_t>& bytes, int64_t count, bool append,
                                      int64_t index) {
  const std::size_t from = index < 0 ? 0 : static_cast<std::size_t>(index);
  if (from > size_) throw NetNotEnoughDataInBuffer();
  if (count == -1) count = static_cast<int64_t>(size_ - from);
  if (count <= 0) return 0;
  const auto n = static_cast<std::size_t>(count);
  if (n > size_ - from) throw NetNotEnoughDataInBuffer();
  const uint8_t* source = bytes_.data() + headIndex_ + from;
  if (append) {
    bytes.insert(bytes.end(), source, source + n);
  } else {
    if (bytes.size() < n) bytes.resize(n);
    std::memcpy(bytes.data(), source, n);
  }
  if (index < 0) Remove(n);
  return n;
}

void ByteQueue::ExtractToStream(Stream& stream, int64_t count, int64_t index) {
  if (index < 0) CompactHead(false);
  const std::size_t from = index < 0 ? 0 : static_cast<std::size_t>(index);
  if (from > size_) throw NetNotEnoughDataInBuffer();
  if (count == -1) count = static_cast<int64_t>(size_ - from);
  if (count <= 0) return;
  const auto n = static_cast<std::size_t>(count);
  if (n > size_ - from) throw NetNotEnoughDataInBuffer();
  stream.Write(bytes_.data() + headIndex_ + from, n);
  if (index < 0) Remove(n);
}

std::string ByteQueue::Extract(int64_t count, TextEncoding encoding) {
  if (count == -1) count = static_cast<int64_t>(size_);
  if (count <= 0) return std::string();
  const auto n = static_cast<std::size_t>(count);
  if (n > size_) throw NetNotEnoughDataInBuffer();
  std::string text =
      ConvertText(View().substr(0, n), encoding == TextEncoding::kDefault ? encoding_ : encoding);
  Remove(n);
  return text;
}

int64_t ByteQueue::IndexOf(std::string_view pattern, int64_t start) const {
  if (size_ == 0) return -1;
  if (pattern.empty()) throw NetError(kMsgBufferTerminatorRequired);
  if (start < 0 || static_cast<std::size_t>(start) >= size_) throw NetError(kMsgBufferStartInvalid);
  const std::size_t pos = View().find(pattern, static_cast<std::size_t>(start));
  return pos == std::string_view::npos ? -1 : static_cast<int64_t>(pos);
}

void ByteQueue::Remove(std::size_t count) {
  if (count == 0) return;
  if (count >= size_) {
    count = size_;
    Clear();
  } else {
    headIndex_ += count;
    size_ -= count;
    // Consumed bytes are reclaimed only in large steps, so that taking lines one by one does
    // not move the rest of the buffer each time.
    if (headIndex_ > kGrowthFactor) CompactHead(true);
  }
  if (onBytesRemoved_) onBytesRemoved_(count);
}

void ByteQueue::Clear() {
  bytes_.clear();
  bytes_.shrink_to_fit();
  headIndex_ = 0;
  size_ = 0;
}

void ByteQueue::CompactHead(bool can_shrink) {
  if (headIndex_ > 0) {
    std::memmove(bytes_.data(), bytes_.data() + headIndex_, size_);
    headIndex_ = 0;
  }
  if (can_shrink && bytes_.size() - size_ > kGrowthFactor) {
    bytes_.resize(size_ + kGrowthFactor);
    bytes_.shrink_to_fit();
  }
}

uint8_t ByteQueue::PeekByte(std::size_t index) const {
  if (index >= size_) throw std::out_of_range("Byte queue index out of range.");
  return bytes_[headIndex_ + index];
}

std::string_view ByteQueue::View() const {
  if (size_ == 0) return std::string_view();
  return std::string_view(reinterpret_cast<const char*>(bytes_.data() + headIndex_), size_);
}

}  // namespace brevis
