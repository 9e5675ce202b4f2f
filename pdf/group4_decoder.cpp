// Group 4 decoder: codes are read through lookup tables built from the coder's own code tables
// (7 bits for the mode codes, 12 for white runs, 13 for black runs), and each row is rebuilt as
// changing elements against the changing elements of the row above.
#include "pdf/group4_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "pdf/ccitt_code_tables.h"

namespace brevis {

namespace {

// One table entry: the code's length in bits (0: no code starts with these bits) and its value,
// a run length or a mode.
struct Entry {
  uint16_t value;
  uint8_t length;
};

constexpr unsigned kModeBits = 7;
constexpr unsigned kWhiteBits = 12;
constexpr unsigned kBlackBits = 13;

// Mode values: 0 to 6 vertical, a1 = b1 + value - 3 (VL3 to VR3); then pass and horizontal.
constexpr uint16_t kPass = 7;
constexpr uint16_t kHorizontal = 8;

// Fills every entry of a `bits`-bit table whose index starts with the code.
template <std::size_t N>
void Put(std::array<Entry, N>& table, unsigned bits, const CcittCode& code, uint16_t value) {
  const unsigned free = bits - code.length;
  const unsigned first = unsigned{code.code} << free;
  for (unsigned i = 0; i < (1u << free); ++i) table[first + i] = {value, code.length};
}

struct Tables {
  std::array<Entry, 1u << kModeBits> mode{};
  std::array<Entry, 1u << kWhiteBits> white{};
  std::array<Entry, 1u << kBlackBits> black{};

  Tables() {
    for (uint16_t i = 0; i < 7; ++i) {
      // kVerticalCodes is indexed by b1 - a1 + 3, so entry i stands for a1 = b1 + 3 - i.
      Put(mode, kModeBits, kVerticalCodes[i], static_cast<uint16_t>(6 - i));
    }
    Put(mode, kModeBits, kPassCode, kPass);
    Put(mode, kModeBits, kHorizontalCode, kHorizontal);
    for (int i = 0; i < kCcittRunCodes; ++i) {
      Put(white, kWhiteBits, kWhiteCodes[i], kWhiteCodes[i].run);
      Put(black, kBlackBits, kBlackCodes[i], kBlackCodes[i].run);
    }
  }
};

const Tables& DecodeTables() {
  static const Tables tables;
  return tables;
}

constexpr std::array<uint8_t, 256> ReversedBytes() {
  std::array<uint8_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < 8; ++bit) reversed |= ((byte >> bit) & 1u) << (7 - bit);
    table[byte] = static_cast<uint8_t>(reversed);
  }
  return table;
}
constexpr std::array<uint8_t, 256> kReversed = ReversedBytes();

}  // namespace

Group4Decoder::Group4Decoder(std::vector<uint8_t> data, int32_t width, bool lsbFirst)
    : data_(std::move(data)),
      endBit_(uint64_t{data_.size()} * 8),
      width_(width),
      ref_(static_cast<std::size_t>(width) + 4, width),
      cur_(static_cast<std::size_t>(width) + 4, width) {
  if (lsbFirst) {
    for (uint8_t& byte : data_) byte = kReversed[byte];
  }
  data_.resize(data_.size() + kPadding, 0);
  ref_[0] = -1;
  cur_[0] = -1;
  DecodeTables();
}

namespace {

// The bit reader's state, kept in locals while a row is decoded so that it stays in registers.
struct BitReader {
  uint64_t acc;          // the next bits, from the top bit
  unsigned avail;        // how many of acc's bits are data (or zeros past its end)
  const uint8_t* next;   // the next byte to load
  const uint8_t* limit;  // loads stop here; zeros are shifted in after it

  // At least 32 bits in acc afterwards: room for two codes.
  void Refill() {
    if (avail < 32) {
      if (next < limit) {
        uint32_t word;
        std::memcpy(&word, next, sizeof word);
        acc |= uint64_t{__builtin_bswap32(word)} << (32 - avail);
      }
      next += 4;
      avail += 32;
    }
  }
  uint32_t Peek(unsigned count) const { return static_cast<uint32_t>(acc >> (64 - count)); }
  void Skip(unsigned count) {
    acc <<= count;
    avail -= count;
  }
};

// One run of `black` pixels: make-up codes and a terminating code. -1 for a bit string that is
// no code. `canonical` turns false when the run's codes are not the ones the coder writes for
// it: make-up codes of 2560 while the rest is 2624 or more, then at most one other make-up code.
[[gnu::always_inline]] inline int32_t ReadRun(BitReader& bits, const Tables& tables, bool black,
                                              int32_t width, bool& canonical) {
  int32_t run = 0;
  uint16_t makeup = 0;  // the last make-up code's run
  for (;;) {
    bits.Refill();
    const Entry entry =
        black ? tables.black[bits.Peek(kBlackBits)] : tables.white[bits.Peek(kWhiteBits)];
    if (entry.length == 0) return -1;
    bits.Skip(entry.length);
    run += entry.value;
    // A terminating code ends the run; make-up codes add to it. A run past the row is damage,
    // and stopping there also keeps the sum from growing.
    if (entry.value < 64 || run > width) return run;
    if (makeup != 0 && makeup != 2560) canonical = false;
    makeup = entry.value;
  }
}

}  // namespace

bool Group4Decoder::NextRow() {
  if (failed_) return false;
  failed_ = true;
  // The finished row becomes the reference; its sentinels are rewritten after it.
  std::swap(cur_, ref_);
  std::swap(curCount_, refCount_);
  std::fill_n(ref_.begin() + 1 + static_cast<std::ptrdiff_t>(refCount_), 3, width_);

  const Tables& tables = DecodeTables();
  const int32_t width = width_;
  const int32_t* ref = ref_.data() + 1;
  int32_t* cur = cur_.data() + 1;
  std::size_t count = 0;
  BitReader bits{acc_, avail_, data_.data() + next_, data_.data() + data_.size() - 4};
  rowFirstBit_ = next_ * 8 - avail_;
  // Whether every code is the one the coder would write here: see RowIsCanonical.
  bool canonical = true;
  // a0 as in the coder: -1 before the first pixel, white while an even number of changes lie
  // at or before it; b1 = ref[b] is the first reference change right of a0 whose index has the
  // parity of `count` (a change to the colour opposite a0's). Reference changes two places
  // before b never lie right of a0, so b only moves on in steps of two, but after a vertical
  // code, where the parity changes and b1 may be the change just before.
  int32_t a0 = -1;
  std::ptrdiff_t b = 0;
  while (a0 < width) {
    while (ref[b] <= a0) b += 2;
    bits.Refill();
    const Entry mode = tables.mode[bits.Peek(kModeBits)];
    if (mode.length == 0) return false;  // EOL, EOFB or an extension
    bits.Skip(mode.length);
    const int32_t b1 = ref[b];
    const int32_t b2 = ref[b + 1];
    if (mode.value == kPass) {
      // A coder passes only when a change on this row follows b2. libtiff mends a pass to the
      // row's end in its own way; it is left to libtiff.
      if (b2 >= width) return false;
      a0 = b2;
      b += 2;
    } else if (mode.value == kHorizontal) {
      const bool black = (count & 1) != 0;
      const int32_t first = ReadRun(bits, tables, black, width, canonical);
      if (first < 0) return false;
      const int32_t second = ReadRun(bits, tables, !black, width, canonical);
      if (second < 0) return false;
      const int32_t a1 = (a0 < 0 ? 0 : a0) + first;
      const int32_t a2 = a1 + second;
      if (a2 > width) return false;
      // Empty runs (but a first one at the start of a row, and a second one at its end) are
      // left to libtiff, which takes them in its own way.
      if ((first == 0 && a0 >= 0) || (second == 0 && a1 < width)) return false;
      // The coder codes horizontally when neither a pass nor a vertical code fits.
      canonical &= a1 <= b2 && (a1 - b1 > 3 || b1 - a1 > 3);
      if (a1 < width) cur[count++] = a1;
      if (a2 < width) cur[count++] = a2;
      a0 = a2;
    } else {
      const int32_t a1 = b1 + mode.value - 3;
      if (a1 <= a0 || a1 < 0 || a1 > width) return false;
      canonical &= a1 <= b2;
      if (a1 < width) cur[count++] = a1;
      a0 = a1;
      b += ref[b - 1] > a1 ? -1 : 1;
    }
  }
  // The row must lie within the data, not in the zeros after it.
  const auto next = static_cast<uint64_t>(bits.next - data_.data());
  if (next * 8 - bits.avail > endBit_) return false;
  acc_ = bits.acc;
  avail_ = bits.avail;
  next_ = static_cast<std::size_t>(next);
  rowBits_ = next * 8 - bits.avail - rowFirstBit_;
  rowCanonical_ = canonical;
  curCount_ = count;
  std::fill_n(cur_.begin() + 1 + static_cast<std::ptrdiff_t>(count), 3, width_);
  failed_ = false;
  return true;
}

void FillRowFromChanges(const int32_t* changes, std::size_t count, int32_t width, uint8_t* row) {
  std::memset(row, 0, (static_cast<std::size_t>(width) + 7) / 8);
  for (std::size_t i = 0; i < count; i += 2) {
    const int32_t from = changes[i];
    const int32_t to = i + 1 < count ? changes[i + 1] : width;
    for (int32_t x = from; x < to; ++x) row[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
  }
}

}  // namespace brevis
