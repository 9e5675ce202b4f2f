// CCITT fax coder. Rows are taken from the bitmap inverted (1 = black inside the coder), runs are
// measured a byte at a time with leading-bit tables, and codes are looked up by run length.
#include "pdf/ccitt_compression.h"

#include <array>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "pdf/bitmap.h"
#include "pdf/ccitt_code_tables.h"

namespace brevis {

namespace {

// Number of leading 0 bits (kZeroRuns) and leading 1 bits (kOneRuns) of a byte, from the top bit.
constexpr std::array<uint8_t, 256> LeadingBits(bool ones) {
  std::array<uint8_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    uint8_t n = 0;
    while (n < 8 && (((byte >> (7 - n)) & 1u) != 0) == ones) ++n;
    table[byte] = n;
  }
  return table;
}
constexpr std::array<uint8_t, 256> kZeroRuns = LeadingBits(false);
constexpr std::array<uint8_t, 256> kOneRuns = LeadingBits(true);
static_assert(kZeroRuns[0x00] == 8 && kZeroRuns[0x01] == 7 && kZeroRuns[0x80] == 0);
static_assert(kOneRuns[0xFF] == 8 && kOneRuns[0xFE] == 7 && kOneRuns[0x7F] == 0);

inline int Pixel(const uint8_t* row, int x) {
  return (row[static_cast<unsigned>(x) >> 3] >> (7 - (static_cast<unsigned>(x) & 7))) & 1;
}

// Length of the run of `color` (1 black, 0 white) that starts at pixel `s`, ending at `width`
// at the latest. Bits past the width are never counted.
int FindSpan(const uint8_t* row, int s, int width, int color) {
  int bits = width - s;
  if (bits <= 0) return 0;
  const std::array<uint8_t, 256>& table = color ? kOneRuns : kZeroRuns;
  const uint8_t* p = row + (static_cast<unsigned>(s) >> 3);
  int span = 0;
  const int offset = s & 7;
  if (offset != 0) {
    // Bit s becomes the top bit. The 0 bits shifted in could lengthen a white run, so the
    // count is cut to the bits the byte really holds from s on.
    span = table[static_cast<uint8_t>(*p << offset)];
    if (span > 8 - offset) span = 8 - offset;
    if (span > bits) span = bits;
    if (offset + span < 8) return span;
    bits -= span;
    ++p;
  }
  const uint8_t uniform = color ? 0xFF : 0x00;
  // Long uniform stretches (the white margins and gaps of a page) go eight bytes at a step.
  const uint64_t uniform_word = color ? ~uint64_t{0} : uint64_t{0};
  while (bits >= 64) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if (word != uniform_word) break;
    span += 64;
    bits -= 64;
    p += 8;
  }
  while (bits >= 8 && *p == uniform) {
    span += 8;
    bits -= 8;
    ++p;
  }
  if (bits > 0) {
    const int n = table[*p];
    span += n < bits ? n : bits;
  }
  return span;
}

// The first pixel at or after `s` whose colour is not `color`; `width` when there is none.
inline int NextChange(const uint8_t* row, int s, int width, int color) {
  return s >= width ? width : s + FindSpan(row, s, width, color);
}

}  // namespace

void CcittCompression::CompressImage(const Bitmap& image, int compress_type, Stream& sa_stream) {
  if (image.GetPixelFormat() != PixelFormat::pf1bit) {
    throw std::runtime_error("Image format must be B/W.");
  }
  switch (compress_type) {
    case 31:
      ct_ = CCITT::CCITT31D;
      break;
    case 32:
      ct_ = CCITT::CCITT32D;
      break;
    case 42:
      ct_ = CCITT::CCITT42D;
      break;
    default:
      break;
  }
  stream_ = &sa_stream;
  Execute(image);
}

void CcittCompression::Execute(const Bitmap& b) {
  if (stream_ == nullptr) throw std::runtime_error("Output stream is empty.");
  if (b.GetPixelFormat() != PixelFormat::pf1bit)
    throw std::runtime_error("Incorrect image format.");
  rowPixels_ = b.Width();
  rowBytes_ = (rowPixels_ + 7) / 8;
  if (b.Width() == 0 || b.Height() == 0) return;

  // The reference row lives only while this bitmap is coded, also when a write fails.
  struct ReleaseRefline {
    std::vector<uint8_t>& refline;
    ~ReleaseRefline() { std::vector<uint8_t>().swap(refline); }
  } release{refline_};

  const auto row_bytes = static_cast<std::size_t>(rowBytes_);
  std::vector<uint8_t> row(row_bytes);
  const bool two_dimensional = ct_ != CCITT::CCITT31D;
  if (two_dimensional) refline_.assign(row_bytes, 0);
  bit_ = 8;
  data_ = 0;

  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* source = b.ScanLine(y);
    for (std::size_t i = 0; i < row_bytes; ++i) row[i] = static_cast<uint8_t>(~source[i]);
    switch (ct_) {
      case CCITT::CCITT31D:
        Code1DRow(row.data());
        break;
      case CCITT::CCITT32D:
        PutBits(kEolCode.code, kEolCode.length);
        PutBits(0, 1);  // tag bit: the row is coded two-dimensionally
        Code2DRow(row.data());
        break;
      case CCITT::CCITT42D:
        Code2DRow(row.data());
        break;
    }
    // The coded row is the next row's reference; the old reference buffer takes the next row.
    if (two_dimensional) std::swap(row, refline_);
  }
  if (ct_ == CCITT::CCITT42D) {
    // End of facsimile block.
    PutBits(kEolCode.code, kEolCode.length);
    PutBits(kEolCode.code, kEolCode.length);
  }
  if (bit_ != 8) stream_->Write(&data_, 1);
}

void CcittCompression::PutBits(unsigned value, unsigned count) {
  // Fill the current byte from its top free bit; write it as soon as it is full.
  while (count > bit_) {
    count -= bit_;
    data_ = static_cast<uint8_t>(data_ | ((value >> count) & ((1u << bit_) - 1)));
    stream_->Write(&data_, 1);
    data_ = 0;
    bit_ = 8;
  }
  data_ = static_cast<uint8_t>(data_ | ((value & ((1u << count) - 1)) << (bit_ - count)));
  bit_ = static_cast<uint8_t>(bit_ - count);
  if (bit_ == 0) {
    stream_->Write(&data_, 1);
    data_ = 0;
    bit_ = 8;
  }
}

void CcittCompression::PutSpan(int run, bool black) {
  const CcittCode* table = black ? kBlackCodes : kWhiteCodes;
  // Runs of 2624 and more take make-up codes for 2560 until the rest has a code of its own.
  const CcittCode& longest = table[kCcittRunCodes - 1];
  while (run >= 2624) {
    PutBits(longest.code, longest.length);
    run -= longest.run;
  }
  if (run >= 64) {
    const CcittCode& makeup = table[63 + run / 64];
    PutBits(makeup.code, makeup.length);
    run -= makeup.run;
  }
  const CcittCode& terminating = table[run];
  PutBits(terminating.code, terminating.length);
}

void CcittCompression::Code1DRow(const uint8_t* row) {
  const int width = rowPixels_;
  int p = 0;
  // Every row starts with a white run, of length 0 when its first pixel is black.
  for (;;) {
    const int white = FindSpan(row, p, width, 0);
    PutSpan(white, false);
    p += white;
    if (p >= width) break;
    const int black = FindSpan(row, p, width, 1);
    PutSpan(black, true);
    p += black;
    if (p >= width) break;
  }
}

void CcittCompression::Code2DRow(const uint8_t* cur) {
  // Changing elements as T.4 names them: a0 the reference pixel on the coding row, a1 and a2 the
  // next changes on it, b1 and b2 the changes on the reference row above.
  const uint8_t* ref = refline_.data();
  const int width = rowPixels_;
  int a0 = 0;
  int a1 = Pixel(cur, 0) ? 0 : NextChange(cur, 0, width, 0);
  int b1 = Pixel(ref, 0) ? 0 : NextChange(ref, 0, width, 0);
  for (;;) {
    const int b2 = b1 >= width ? width : NextChange(ref, b1, width, Pixel(ref, b1));
    if (b2 < a1) {
      PutBits(kPassCode.code, kPassCode.length);
      a0 = b2;
    } else if (const int d = b1 - a1; d >= -3 && d <= 3) {
      const CcittCode& vertical = kVerticalCodes[d + 3];
      PutBits(vertical.code, vertical.length);
      a0 = a1;
    } else {
      const int a2 = a1 >= width ? width : NextChange(cur, a1, width, Pixel(cur, a1));
      PutBits(kHorizontalCode.code, kHorizontalCode.length);
      // At the start of a row a0 stands before the first pixel and counts as white.
      if (a0 + a1 == 0 || Pixel(cur, a0) == 0) {
        PutSpan(a1 - a0, false);
        PutSpan(a2 - a1, true);
      } else {
        PutSpan(a1 - a0, true);
        PutSpan(a2 - a1, false);
      }
      a0 = a2;
    }
    if (a0 >= width) break;
    const int color = Pixel(cur, a0);
    a1 = NextChange(cur, a0, width, color);
    b1 = NextChange(ref, a0, width, color ^ 1);
    b1 = NextChange(ref, b1, width, color);
  }
}

}  // namespace brevis
