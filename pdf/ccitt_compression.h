// CCITT fax coder of the PDF writer: codes a one-bit bitmap as T.4 one-dimensional, T.4
// two-dimensional or T.6 (Group 4) fax data and appends the bytes to a stream.
#pragma once

#include <cstdint>
#include <vector>

#include "common/stream.h"

namespace brevis {

class Bitmap;

// The coding modes:
// - CCITT31D: T.4 one-dimensional (Modified Huffman), rows back to back, no EOL, no fill bits.
// - CCITT32D: T.4 two-dimensional; every row is EOL, a tag bit 0 and the row coded
//   two-dimensionally against the row above (an all-white row above the first).
// - CCITT42D: T.6 Group 4; rows coded two-dimensionally back to back, ended by two EOLs.
// Each ends with the last byte's free bits 0. Described to a PDF reader by K 0, 1 and -1.
enum class CCITT { CCITT31D, CCITT32D, CCITT42D };

// Codes one-bit bitmaps. In the bitmap a 0 bit is black (palette entry 0 of a monochrome
// bitmap); the palette itself is not consulted. Bits are written most significant first, and
// each byte is written to the stream as soon as it is full; the stream is never sought or read.
// One object can code several bitmaps in turn; the mode stays as last selected.
//
// Failures throw std::runtime_error with a fixed message; bytes already written stay written.
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

  Stream* GetStream() const { return stream_; }
  void SetStream(Stream* stream) { stream_ = stream; }
  CCITT Mode() const { return ct_; }
  void SetMode(CCITT mode) { ct_ = mode; }

 private:
  void PutBits(unsigned value, unsigned count);
  void PutSpan(int run, bool black);
  void Code1DRow(const uint8_t* row);
  void Code2DRow(const uint8_t* row);

  uint8_t bit_ = 8;           // free bit positions left in data_; 8 when it is empty
  uint8_t data_ = 0;          // the output byte being assembled, filled from the top bit
  int32_t rowBytes_ = 0;      // bytes per row: (width + 7) / 8
  int32_t rowPixels_ = 0;     // pixels per row
  Stream* stream_ = nullptr;  // not owned
  CCITT ct_ = CCITT::CCITT31D;
  std::vector<uint8_t> refline_;  // reference row of the two-dimensional modes, 1 = black
};

}  // namespace brevis
