// Flate coding through zlib.
#include "pdf/flate.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "pdf/pdf_error.h"

namespace brevis {
namespace {

constexpr char kCompressFailed[] = "Flate compression failed.";
constexpr char kInvalidData[] = "Flate data is invalid.";
constexpr std::size_t kChunk = 64 * 1024;

// zlib counts in uInt; feed larger inputs in pieces.
uInt Piece(std::size_t left) {
  return static_cast<uInt>(std::min<std::size_t>(left, std::numeric_limits<uInt>::max()));
}

// One compressor per thread, reset for every stream instead of made anew: zlib's state is about
// 270 KB, which the allocator maps and unmaps on every call (a page's content stream is one
// call), and a reset stream writes the same bytes as a new one.
class Deflater {
 public:
  Deflater() {
    if (deflateInit2(&z_, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      throw PdfError(kCompressFailed);
    }
  }
  ~Deflater() { deflateEnd(&z_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  z_stream& Reset() {
    if (deflateReset(&z_) != Z_OK) throw PdfError(kCompressFailed);
    // A call that failed may have left input behind.
    z_.next_in = nullptr;
    z_.avail_in = 0;
    return z_;
  }

 private:
  z_stream z_{};
};

}  // namespace

std::vector<uint8_t> FlateCompress(std::span<const uint8_t> data) {
  thread_local Deflater deflater;
  z_stream& z = deflater.Reset();
  std::vector<uint8_t> out;
  std::size_t consumed = 0;
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    if (z.avail_in == 0 && consumed < data.size()) {
      // zlib's input pointer is not const-qualified but deflate never writes through it.
      z.next_in = const_cast<Bytef*>(data.data() + consumed);
      z.avail_in = Piece(data.size() - consumed);
      consumed += z.avail_in;
    }
    const std::size_t used = out.size();
    out.resize(used + kChunk);
    z.next_out = out.data() + used;
    z.avail_out = static_cast<uInt>(kChunk);
    result = deflate(&z, consumed == data.size() ? Z_FINISH : Z_NO_FLUSH);
    out.resize(used + kChunk - z.avail_out);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
      throw PdfError(kCompressFailed);
    }
  }
  return out;
}

std::vector<uint8_t> FlateDecompress(std::span<const uint8_t> data) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw PdfError(kInvalidData);
  std::vector<uint8_t> out;
  std::size_t consumed = 0;
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    if (z.avail_in == 0 && consumed < data.size()) {
      z.next_in = const_cast<Bytef*>(data.data() + consumed);
      z.avail_in = Piece(data.size() - consumed);
      consumed += z.avail_in;
    }
    const std::size_t used = out.size();
    out.resize(used + kChunk);
    z.next_out = out.data() + used;
    z.avail_out = static_cast<uInt>(kChunk);
    result = inflate(&z, Z_NO_FLUSH);
    out.resize(used + kChunk - z.avail_out);
    // Z_BUF_ERROR with all input consumed and room left means the data was cut short.
    const bool stalled = result == Z_BUF_ERROR && z.avail_in == 0 && consumed == data.size();
    if ((result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) || stalled) {
      inflateEnd(&z);
      throw PdfError(kInvalidData);
    }
  }
  inflateEnd(&z);
  return out;
}

}  // namespace brevis
