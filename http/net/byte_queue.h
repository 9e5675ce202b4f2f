// A growable byte queue: the input and write buffers of the I/O handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/stream.h"
#include "http/net/socket_stack.h"

namespace brevis {

// How bytes become text and text becomes bytes in the transport. Text is byte text
// (std::string); the HTTP layer widens it where it needs UTF-16.
enum class TextEncoding {
  kDefault,  // the owner's default (7-bit ASCII unless set otherwise)
  kAscii,    // 7-bit ASCII: every byte above 0x7F becomes '?'
  kRaw,      // byte for byte, nothing changed
};

// Converts between bytes and text in `encoding` (kDefault counts as kAscii here).
std::string ConvertText(std::string_view bytes, TextEncoding encoding);

// Unread bytes occupy bytes_[headIndex_ .. headIndex_ + size_ - 1]; the capacity is the length of
// bytes_. Never holds more than 2^31-1 bytes. Holds one usage of the socket layer.
class ByteQueue {
 public:
  using BytesRemovedCallback = std::function<void(std::size_t)>;

  static constexpr std::size_t kGrowthFactor = 2048;
  static constexpr std::size_t kMaxSize = 0x7FFFFFFF;

  explicit ByteQueue(TextEncoding encoding = TextEncoding::kAscii,
                     BytesRemovedCallback on_bytes_removed = {});

  // Appends `length` bytes, or inserts them before unread byte `dest_index` when that is not
  // negative. Throws NetTooMuchDataInBuffer when the queue would pass kMaxSize.
  void Write(const uint8_t* data, std::size_t length, int64_t dest_index = -1);
  void Write(std::string_view bytes, int64_t dest_index = -1);

  // Takes `count` bytes (-1: all) into `bytes`: appended, or written over its start (growing it
  // to at least `count`). From the head (`index` -1) the bytes are removed; from an explicit index
  // they are only copied. Returns the count taken; 0 or less does nothing. Throws
  // NetNotEnoughDataInBuffer when fewer bytes are held.
  std::size_t ExtractToBytes(std::vector<uint8_t>& bytes, int64_t count = -1, bool append = true,
                             int64_t index = -1);
  // Writes `count` bytes (-1: all) to the stream; from the head they are removed.
  void ExtractToStream(Stream& stream, int64_t count = -1, int64_t index = -1);
  // Takes `count` bytes (-1: all; 0 or less: none) as text.
  std::string Extract(int64_t count = -1, TextEncoding encoding = TextEncoding::kDefault);

  // First position at or after `start` where `pattern` begins, or -1. Throws NetError for an
  // empty pattern or a start outside the unread bytes (an empty queue answers -1).
  int64_t IndexOf(std::string_view pattern, int64_t start = 0) const;

  // Drops `count` unread bytes (all when count reaches the size) and reports them removed.
  void Remove(std::size_t count);
  void Clear();
  // Moves the unread bytes to the front; with `can_shrink` releases spare room beyond
  // kGrowthFactor.
  void CompactHead(bool can_shrink = true);

  uint8_t PeekByte(std::size_t index) const;
  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return bytes_.size(); }
  // The unread bytes.
  std::string_view View() const;
  TextEncoding Encoding() const { return encoding_; }
  void SetEncoding(TextEncoding encoding) { encoding_ = encoding; }
  void SetOnBytesRemoved(BytesRemovedCallback callback) { onBytesRemoved_ = std::move(callback); }

 private:
  std::vector<uint8_t> bytes_;
  TextEncoding encoding_;
  std::size_t headIndex_ = 0;
  BytesRemovedCallback onBytesRemoved_;
  std::size_t size_ = 0;
  SocketStackUsage usage_;
};

}  // namespace brevis
