// Byte streams shared by every subsystem: the abstract Stream, an in-memory MemoryStream, a
// FileStream over a file on disk and a NullStream that drops everything written to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace brevis {

// A seekable byte stream. Writing at the position overwrites and extends; SetSize keeps the
// position unless it would lie past the new end.
class Stream {
 public:
  virtual ~Stream() = default;
  virtual int64_t Position() const = 0;
  virtual void SetPosition(int64_t position) = 0;
  virtual int64_t Size() const = 0;
  virtual void SetSize(int64_t size) = 0;
  virtual void Write(const uint8_t* data, std::size_t count) = 0;
  // Reads up to `count` bytes from the position; returns how many were read.
  virtual std::size_t Read(uint8_t* data, std::size_t count) = 0;
  // A hint that the stream will grow to `size` bytes: a stream that keeps its bytes in memory
  // makes room for them at once (or, when that is less, for twice what it has room for), so
  // that growing there does not move what it holds. Changes neither size nor position.
  virtual void Reserve(int64_t /*size*/) {}
};

class MemoryStream final : public Stream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::string_view bytes);

  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override;
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;
  void Write(const uint8_t* data, std::size_t count) override;
  std::size_t Read(uint8_t* data, std::size_t count) override;
  void Reserve(int64_t size) override;

  const std::vector<uint8_t>& Bytes() const { return data_; }
  // The whole content as byte text.
  std::string ToString() const { return std::string(data_.begin(), data_.end()); }

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

// A file on disk. Failures throw std::runtime_error naming the file and the system's reason.
// Writes are buffered; Flush (or the destructor, which swallows errors) hands them to the system.
class FileStream final : public Stream {
 public:
  enum Mode { fmOpenRead, fmCreate };
  // fmOpenRead opens an existing file for reading; fmCreate creates or truncates one for reading
  // and writing.
  FileStream(const std::string& path, Mode mode);
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  int64_t Position() const override;
  void SetPosition(int64_t position) override;
  int64_t Size() const override;
  void SetSize(int64_t size) override;
  void Write(const uint8_t* data, std::size_t count) override;
  std::size_t Read(uint8_t* data, std::size_t count) override;

  // Writes out buffered bytes; throws when the system refuses them (a full disk, say).
  void Flush();
  const std::string& Path() const { return path_; }

 private:
  [[noreturn]] void Fail(const char* what) const;

  std::string path_;
  std::FILE* file_ = nullptr;
};

// Drops everything written; always empty.
class NullStream final : public Stream {
 public:
  int64_t Position() const override { return 0; }
  void SetPosition(int64_t) override {}
  int64_t Size() const override { return 0; }
  void SetSize(int64_t) override {}
  void Write(const uint8_t*, std::size_t) override {}
  std::size_t Read(uint8_t*, std::size_t) override { return 0; }
};

}  // namespace brevis
