// PageFile: the stream a download worker fetches a page into. The body goes to the page's
// temporary file as it arrives, so that a worker holds no more of it in memory than one receive,
// and the file takes the page's name only once the whole body is in and checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/atomic_file.h"
#include "common/stream.h"

namespace brevis {

class PageFile final : public Stream {
 public:
  // A page to be written to `path`, of at most `max_size` bytes. Nothing is created yet: the
  // temporary file is made by the first byte written, so that a fetch refused before its body
  // (a 404, a dead server) touches no file.
  PageFile(std::string path, std::int64_t max_size);
  // Closes and removes the temporary file unless Commit put it in place.
  ~PageFile() override;
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // Writes at the position. Throws HttpResponseError (BodyTooLarge) before the file would grow
  // beyond `max_size` bytes, and FileWriteError ("Cannot write <path>: <reason>") when the
  // temporary file cannot be made or written.
  void Write(const uint8_t* data, std::size_t count) override;
  std::size_t Read(uint8_t* data, std::size_t count) override;
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override;
  int64_t Size() const override { return size_; }
  // Cuts the file (the HTTP client cuts its stream where the body ended); throws FileWriteError.
  void SetSize(int64_t size) override;

  // The temporary file's path; empty before the first byte.
  std::string TemporaryName() const { return temporary_ ? temporary_->Name() : std::string(); }
  // Closes the temporary file and checks that it holds a TIFF (std::runtime_error "The body is
  // not a TIFF." otherwise), then flushes it to the disk and renames it to the page's name
  // (TemporaryFile::Commit); a file failure throws FileWriteError.
  void Commit();

 private:
  [[noreturn]] void Fail(int error) const;
  void Close();

  const std::string path_;
  const std::int64_t maxSize_;
  std::optional<TemporaryFile> temporary_;
  int fd_ = -1;
  int64_t position_ = 0;
  int64_t size_ = 0;
};

}  // namespace brevis
