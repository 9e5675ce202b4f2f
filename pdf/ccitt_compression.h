// CCITT fax coder of the PDF writer: codes a one-bit bitmap as T.4 one-dimensional, T.4
// two-dimensional or T.6 (Group 4) fax data and appends the bytes to a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/stream.h"

namespace brevis {

class Bitmap;
struct CcittBitWriter;  // the bit output of one row, in the .cpp

// The coding modes:
// - CCITT31D: T.4 one-dimensional (Modified Huffman), rows back to back, no EOL, no fill bits.
// - CCITT32D: T.4 two-dimensional; every row is EOL, a tag bit 0 and the row coded
//   two-dimensionally against the row above (an all-white row above the first).
// - CCITT42D: T.6 Group 4; rows coded two-dimensionally back to back, ended by two EOLs.
// Each ends with the last byte's free bits 0. Described to a PDF reader by K 0, 1 and -1.
enum class CCITT { CCITT31D, CCITT32D, CCITT42D };

// Codes one-bit bitmaps, or rows given as their changing elements (the positions where the
// colour changes, see PutRow). In the bitmap a 0 bit is black (palette entry 0 of a monochrome
// bitmap); the palette itself is not consulted. Bits are written most significant first; the
// coded bytes are collected and appended to the stream in blocks, and the stream is never sought
// or read. One object can code several bitmaps in turn; the mode stays as last selected.
//
// Failures throw std::runtime_error with a fixed message.
class CcittCompression {
 public:
  CcittCompression() = default;

  // Codes `image` into `sa_stream` (which the caller keeps). CompressType 31, 32 and 42 select
  // CCITT31D, CCITT32D and CCITT42D; any other value keeps the current mode. Throws "Image
  // format must be B/W." before writing anything when the image is not one bit per pixel.
  void CompressImage(const Bitmap& image, int compress_type, Stream& sa_stream);

  // Codes `b` to the stream in the current mode. Throws "Output stream is empty." without a
  // stream and "Incorrect image format." when `b` is not one bit per pixel. A bitmap of width
  // or height 0 writes nothing.
  void Execute(const Bitmap& b);

  // Coding without a bitmap: BeginRows, then PutRow for every row from the top, then EndRows,
  // which writes the end of the data (two EOLs for Group 4) and the last byte. The first row is
  // coded against a white reference row, as Execute codes a bitmap's first row. Throws "Output
  // stream is empty." from BeginRows without a stream. `width` must be at least 1.
  void BeginRows(int32_t width);
  // One row as its changing elements: `count` ascending positions below the width, the first
  // where the row turns from white to black, the next where it turns back, and so on; an
  // all-white row has none. Positions out of order or out of range are misuse (unchecked).
  void PutRow(const int32_t* changes, std::size_t count);
  // A row whose codes the caller has already: the `bitCount` bits from bit `firstBit` of `bits`
  // (most significant bit first; at least 8 readable bytes past the last one used), which must
  // be exactly what PutRow would write for `changes` in the current mode, and are copied
  // instead (see Group4Decoder::RowIsCanonical).
  void PutCodedRow(const int32_t* changes, std::size_t count, const uint8_t* bits,
                   uint64_t firstBit, uint64_t bitCount);
  void EndRows();

  Stream* GetStream() const { return stream_; }
  void SetStream(Stream* stream) { stream_ = stream; }
  CCITT Mode() const { return ct_; }
  void SetMode(CCITT mode) { ct_ = mode; }

 private:
  void MakeRoom(std::size_t bytes);
  void SetCodingRow(const int32_t* changes, std::size_t count);
  void FinishRow(const CcittBitWriter& writer);
  void FlushBytes();
  void Code1DRow(CcittBitWriter& writer) const;
  void Code2DRow(CcittBitWriter& writer) const;

  // Reference and coding rows as changing elements from index 1, after a -1 and followed by
  // kSentinels entries equal to the width, so that the searches for b1, b2 and a2 need no
  // bounds checks.
  static constexpr std::size_t kSentinels = 3;
  std::vector<int32_t> ref_;
  std::vector<int32_t> cur_;
  std::size_t refCount_ = 0;  // changing elements in ref_ before its sentinels
  std::size_t curCount_ = 0;  // the same for cur_
  int32_t rowPixels_ = 0;     // pixels per row

  // Output: pending bits, then whole bytes collected in out_ and written to the stream in
  // blocks of about kFlushBytes.
  static constexpr std::size_t kFlushBytes = std::size_t{1} << 16;
  uint64_t acc_ = 0;                // pending bits, the latest in the lowest bits
  unsigned accBits_ = 0;            // how many of acc_'s bits are pending: at most 31
  std::unique_ptr<uint8_t[]> out_;  // room for outSize_ bytes; the first outUsed_ are not yet
  std::size_t outSize_ = 0;         // written
  std::size_t outUsed_ = 0;
  Stream* stream_ = nullptr;  // not owned
  CCITT ct_ = CCITT::CCITT31D;
};

}  // namespace brevis
