// CCITT fax coder. A bitmap's rows are turned into changing elements (runs measured a byte at a
// time with leading-bit tables), every row is coded from its changing elements and those of the
// row above, and codes are looked up by run length.
#include "pdf/ccitt_compression.h"

#include <algorithm>
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

// Length of the run of `color` bits (1 or 0) that starts at pixel `s`, ending at `width`
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
  if (b.Width() == 0 || b.Height() == 0) return;
  const int width = b.Width();
  BeginRows(width);
  // The changing elements of each row, read from the bitmap, where white is a 1 bit.
  std::vector<int32_t> changes(static_cast<std::size_t>(width));
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* row = b.ScanLine(y);
    std::size_t count = 0;
    int x = 0;
    int white = 1;
    for (;;) {
      x += FindSpan(row, x, width, white);
      if (x >= width) break;
      changes[count++] = x;
      white ^= 1;
    }
    PutRow(changes.data(), count);
  }
  EndRows();
}

void CcittCompression::BeginRows(int32_t width) {
  if (stream_ == nullptr) throw std::runtime_error("Output stream is empty.");
  rowPixels_ = width;
  // A row has at most `width` changing elements.
  const std::size_t size = static_cast<std::size_t>(width) + kSentinels;
  ref_.assign(size, width);
  cur_.assign(size, width);
  refCount_ = 0;
  curCount_ = 0;
  acc_ = 0;
  accBits_ = 0;
  out_.clear();
}

void CcittCompression::PutRow(const int32_t* changes, std::size_t count) {
  std::copy(changes, changes + count, cur_.begin());
  std::fill_n(cur_.begin() + static_cast<std::ptrdiff_t>(count), kSentinels, rowPixels_);
  curCount_ = count;
  switch (ct_) {
    case CCITT::CCITT31D:
      Code1DRow();
      break;
    case CCITT::CCITT32D:
      PutBits(kEolCode.code, kEolCode.length);
      PutBits(0, 1);  // tag bit: the row is coded two-dimensionally
      Code2DRow();
      break;
    case CCITT::CCITT42D:
      Code2DRow();
      break;
  }
  // The coded row is the next row's reference; the old reference buffer takes the next row.
  std::swap(cur_, ref_);
  std::swap(curCount_, refCount_);
  if (out_.size() >= std::size_t{1} << 16) FlushBytes();
}

void CcittCompression::EndRows() {
  if (ct_ == CCITT::CCITT42D) {
    // End of facsimile block.
    PutBits(kEolCode.code, kEolCode.length);
    PutBits(kEolCode.code, kEolCode.length);
  }
  while (accBits_ >= 8) {
    accBits_ -= 8;
    out_.push_back(static_cast<uint8_t>(acc_ >> accBits_));
  }
  // The last byte's free bits are 0.
  if (accBits_ != 0) out_.push_back(static_cast<uint8_t>(acc_ << (8 - accBits_)));
  accBits_ = 0;
  FlushBytes();
  // The rows live only while one image is coded.
  std::vector<int32_t>().swap(ref_);
  std::vector<int32_t>().swap(cur_);
}

void CcittCompression::FlushBytes() {
  if (!out_.empty()) stream_->Write(out_.data(), out_.size());
  out_.clear();
}

void CcittCompression::PutBits(unsigned value, unsigned count) {
  // Codes are at most 13 bits, so acc_ never holds more than 31 + 13 pending bits.
  acc_ = (acc_ << count) | value;
  accBits_ += count;
  if (accBits_ >= 32) {
    accBits_ -= 32;
    const auto word = static_cast<uint32_t>(acc_ >> accBits_);
    const uint8_t bytes[4] = {static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                              static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
    out_.insert(out_.end(), bytes, bytes + 4);
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

void CcittCompression::Code1DRow() {
  // Every row starts with a white run, of length 0 when its first pixel is black; the runs
  // alternate in colour from one changing element to the next, the last ending at the width.
  int32_t from = 0;
  for (std::size_t i = 0; i < curCount_; ++i) {
    PutSpan(cur_[i] - from, (i & 1) != 0);
    from = cur_[i];
  }
  PutSpan(rowPixels_ - from, (curCount_ & 1) != 0);
}

void CcittCompression::Code2DRow() {
  // Changing elements as T.4 names them: a0 the reference pixel on the coding row, a1 and a2 the
  // next changes on it, b1 and b2 the changes on the reference row above. The colour of a0 is
  // white while an even number of the coding row's changes lie at or before it, so a1 is always
  // cur_[ai], and b1 is the first reference change right of a0 whose index has ai's parity (a
  // change to the colour opposite a0's). At the start of a row a0 stands before the first pixel
  // (-1 here), counts as white, and the first run is measured from pixel 0.
  const int32_t* cur = cur_.data();
  const int32_t* ref = ref_.data();
  const int32_t width = rowPixels_;
  int32_t a0 = -1;
  std::size_t ai = 0;
  std::size_t bi = 0;  // the first reference change right of a0, of either colour
  for (;;) {
    while (ref[bi] <= a0) ++bi;
    const std::size_t b = bi + ((bi ^ ai) & 1);
    const int32_t b1 = ref[b];
    const int32_t b2 = ref[b + 1];
    const int32_t a1 = cur[ai];
    if (b2 < a1) {
      PutBits(kPassCode.code, kPassCode.length);
      a0 = b2;
    } else if (const int32_t d = b1 - a1; d >= -3 && d <= 3) {
      const CcittCode& vertical = kVerticalCodes[d + 3];
      PutBits(vertical.code, vertical.length);
      a0 = a1;
      ++ai;
    } else {
      const int32_t a2 = cur[ai + 1];
      PutBits(kHorizontalCode.code, kHorizontalCode.length);
      const bool black = (ai & 1) != 0;
      PutSpan(a1 - (a0 < 0 ? 0 : a0), black);
      PutSpan(a2 - a1, !black);
      a0 = a2;
      ai += 2;
    }
    if (a0 >= width) break;
  }
}

}  // namespace brevis
