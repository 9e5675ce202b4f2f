// CCITT fax coder. A bitmap's rows are turned into changing elements (runs measured a byte at a
// time with leading-bit tables), every row is coded from its changing elements and those of the
// row above, and codes are looked up by run length.
#include "pdf/ccitt_compression.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
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

// The coder's output while a row is coded, kept in locals so that it stays in registers.
struct CcittBitWriter {
  uint64_t acc;   // pending bits, the latest in the lowest bits (older ones above are junk)
  unsigned bits;  // how many of acc's bits are pending: at most 31 between calls
  uint8_t* out;   // where the next whole bytes go; the caller made room for the row

  // `count` is at most 32, so acc never holds more than 31 + 32 pending bits.
  void Put(unsigned value, unsigned count) {
    acc = (acc << count) | value;
    bits += count;
    if (bits >= 32) {
      bits -= 32;
      const uint32_t word = __builtin_bswap32(static_cast<uint32_t>(acc >> bits));
      std::memcpy(out, &word, sizeof word);
      out += 4;
    }
  }
  void Put(const CcittCode& code) { Put(code.code, code.length); }

  // A run of `black` or white pixels: make-up codes, then a terminating code.
  void PutRun(int32_t run, bool black) {
    const CcittCode* table = black ? kBlackCodes : kWhiteCodes;
    // Runs of 2624 and more take make-up codes for 2560 until the rest has a code of its own.
    const CcittCode& longest = table[kCcittRunCodes - 1];
    while (run >= 2624) {
      Put(longest);
      run -= longest.run;
    }
    if (run >= 64) {
      const CcittCode& makeup = table[63 + run / 64];
      Put(makeup);
      run -= makeup.run;
    }
    Put(table[run]);
  }
};

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
  const std::size_t size = 1 + static_cast<std::size_t>(width) + kSentinels;
  ref_.assign(size, width);
  cur_.assign(size, width);
  ref_[0] = -1;
  cur_[0] = -1;
  refCount_ = 0;
  curCount_ = 0;
  acc_ = 0;
  accBits_ = 0;
  outUsed_ = 0;
}

void CcittCompression::MakeRoom(std::size_t bytes) {
  if (outUsed_ >= kFlushBytes) FlushBytes();
  if (outSize_ - outUsed_ < bytes) {
    // Grown without clearing: every byte is written before it is read.
    const std::size_t size = outUsed_ + bytes + kFlushBytes;
    std::unique_ptr<uint8_t[]> grown(new uint8_t[size]);
    if (outUsed_ != 0) std::memcpy(grown.get(), out_.get(), outUsed_);
    out_ = std::move(grown);
    outSize_ = size;
  }
}

void CcittCompression::PutRow(const int32_t* changes, std::size_t count) {
  SetCodingRow(changes, count);
  // The most a row can take: a pass code (4 bits) per two reference changes, at most 40 bits per
  // change of its own (a horizontal code and two runs of up to 13 bits each, or a vertical
  // code), 12 bits per 2560 pixels of long runs, an EOL with its tag, and a few more.
  MakeRoom(refCount_ + 5 * count + static_cast<std::size_t>(rowPixels_) / 512 + 32);
  CcittBitWriter writer{acc_, accBits_, out_.get() + outUsed_};
  switch (ct_) {
    case CCITT::CCITT31D:
      Code1DRow(writer);
      break;
    case CCITT::CCITT32D:
      writer.Put(kEolCode);
      writer.Put(0, 1);  // tag bit: the row is coded two-dimensionally
      Code2DRow(writer);
      break;
    case CCITT::CCITT42D:
      Code2DRow(writer);
      break;
  }
  FinishRow(writer);
}

void CcittCompression::PutCodedRow(const int32_t* changes, std::size_t count, const uint8_t* bits,
                                   uint64_t firstBit, uint64_t bitCount) {
  SetCodingRow(changes, count);
  MakeRoom(static_cast<std::size_t>(bitCount / 8) + 16);
  CcittBitWriter writer{acc_, accBits_, out_.get() + outUsed_};
  const uint8_t* from = bits + firstBit / 8;
  const auto skip = static_cast<unsigned>(firstBit % 8);
  // 32 bits at a time from an 8-byte load, so the skipped bits at the front never matter.
  const auto load = [&] {
    uint64_t word;
    std::memcpy(&word, from, sizeof word);
    return __builtin_bswap64(word) << skip;
  };
  for (; bitCount >= 32; bitCount -= 32, from += 4) {
    writer.Put(static_cast<uint32_t>(load() >> 32), 32);
  }
  if (bitCount != 0) {
    const auto rest = static_cast<unsigned>(bitCount);
    writer.Put(static_cast<uint32_t>(load() >> (64 - rest)), rest);
  }
  FinishRow(writer);
}

void CcittCompression::SetCodingRow(const int32_t* changes, std::size_t count) {
  std::copy(changes, changes + count, cur_.begin() + 1);
  std::fill_n(cur_.begin() + 1 + static_cast<std::ptrdiff_t>(count), kSentinels, rowPixels_);
  curCount_ = count;
}

void CcittCompression::FinishRow(const CcittBitWriter& writer) {
  acc_ = writer.acc;
  accBits_ = writer.bits;
  outUsed_ = static_cast<std::size_t>(writer.out - out_.get());
  // The coded row is the next row's reference; the old reference buffer takes the next row.
  std::swap(cur_, ref_);
  std::swap(curCount_, refCount_);
}

void CcittCompression::EndRows() {
  MakeRoom(16);
  CcittBitWriter writer{acc_, accBits_, out_.get() + outUsed_};
  if (ct_ == CCITT::CCITT42D) {
    // End of facsimile block.
    writer.Put(kEolCode);
    writer.Put(kEolCode);
  }
  while (writer.bits >= 8) {
    writer.bits -= 8;
    *writer.out++ = static_cast<uint8_t>(writer.acc >> writer.bits);
  }
  // The last byte's free bits are 0.
  if (writer.bits != 0) *writer.out++ = static_cast<uint8_t>(writer.acc << (8 - writer.bits));
  accBits_ = 0;
  outUsed_ = static_cast<std::size_t>(writer.out - out_.get());
  FlushBytes();
  // The rows live only while one image is coded; the output buffer serves the next image too.
  std::vector<int32_t>().swap(ref_);
  std::vector<int32_t>().swap(cur_);
}

void CcittCompression::FlushBytes() {
  if (outUsed_ != 0) stream_->Write(out_.get(), outUsed_);
  outUsed_ = 0;
}

void CcittCompression::Code1DRow(CcittBitWriter& writer) const {
  // Every row starts with a white run, of length 0 when its first pixel is black; the runs
  // alternate in colour from one changing element to the next, the last ending at the width.
  const int32_t* cur = cur_.data() + 1;
  int32_t from = 0;
  for (std::size_t i = 0; i < curCount_; ++i) {
    writer.PutRun(cur[i] - from, (i & 1) != 0);
    from = cur[i];
  }
  writer.PutRun(rowPixels_ - from, (curCount_ & 1) != 0);
}

void CcittCompression::Code2DRow(CcittBitWriter& writer) const {
  // Changing elements as T.4 names them: a0 the reference pixel on the coding row, a1 and a2 the
  // next changes on it, b1 and b2 the changes on the reference row above. The colour of a0 is
  // white while an even number of the coding row's changes lie at or before it, so a1 is always
  // cur_[ai], and b1 is the first reference change right of a0 whose index has ai's parity (a
  // change to the colour opposite a0's). At the start of a row a0 stands before the first pixel
  // (-1 here), counts as white, and the first run is measured from pixel 0. Reference changes
  // two places before b1 never lie right of a0, so b1's index only moves on in steps of two, but
  // after a vertical code, where the parity changes and b1 may be the change just before.
  const int32_t* cur = cur_.data() + 1;
  const int32_t* ref = ref_.data() + 1;
  const int32_t width = rowPixels_;
  int32_t a0 = -1;
  std::size_t ai = 0;
  std::ptrdiff_t b = 0;  // b1's index, of ai's parity
  for (;;) {
    while (ref[b] <= a0) b += 2;
    const int32_t b1 = ref[b];
    const int32_t b2 = ref[b + 1];
    const int32_t a1 = cur[ai];
    if (b2 < a1) {
      writer.Put(kPassCode);
      a0 = b2;
      b += 2;
    } else if (const int32_t d = b1 - a1; d >= -3 && d <= 3) {
      writer.Put(kVerticalCodes[d + 3]);
      a0 = a1;
      ++ai;
      b += ref[b - 1] > a1 ? -1 : 1;
    } else {
      const int32_t a2 = cur[ai + 1];
      writer.Put(kHorizontalCode);
      const bool black = (ai & 1) != 0;
      writer.PutRun(a1 - (a0 < 0 ? 0 : a0), black);
      writer.PutRun(a2 - a1, !black);
      a0 = a2;
      ai += 2;
    }
    if (a0 >= width) break;
  }
}

}  // namespace brevis
