// Group 4 decoder: codes are read through lookup tables built from the coder's own code tables
// (7 bits for the mode codes, 12 for white runs, 13 for black runs), and each row is rebuilt as
// changing elements against the changing elements of the row above.
#include "pdf/group4_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>

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

// Reading past the data's end reads these zero bytes: a peek reads 8 bytes from the byte that
// holds the next bit, which may lie up to one code past the end before the row fails.
constexpr std::size_t kPadding = 16;

}  // namespace

Group4Decoder::Group4Decoder(const uint8_t* data, std::size_t size, int32_t width, bool lsbFirst)
    : data_(size + kPadding, 0),
      endBit_(uint64_t{size} * 8),
      width_(width),
      ref_(static_cast<std::size_t>(width) + 3, width),
      cur_(static_cast<std::size_t>(width) + 3, width) {
  if (size != 0) std::memcpy(data_.data(), data, size);
  if (lsbFirst) {
    for (std::size_t i = 0; i < size; ++i) data_[i] = kReversed[data_[i]];
  }
  DecodeTables();
}

uint32_t Group4Decoder::Peek(unsigned count) {
  uint64_t word;
  std::memcpy(&word, data_.data() + (position_ >> 3), sizeof word);
  word = __builtin_bswap64(word) << (position_ & 7);
  return static_cast<uint32_t>(word >> (64 - count));
}

int32_t Group4Decoder::ReadRun(bool black) {
  const Tables& tables = DecodeTables();
  int32_t run = 0;
  for (;;) {
    const Entry entry = black ? tables.black[Peek(kBlackBits)] : tables.white[Peek(kWhiteBits)];
    if (entry.length == 0) return -1;
    Skip(entry.length);
    run += entry.value;
    // A terminating code ends the run; make-up codes add to it. A run past the row is damage,
    // and stopping there also keeps the sum from growing.
    if (entry.value < 64 || run > width_) return run;
  }
}

void Group4Decoder::Push(int32_t x) {
  // Two changes at one position cancel: a run of no pixels.
  if (curCount_ != 0 && cur_[curCount_ - 1] == x) {
    --curCount_;
  } else {
    cur_[curCount_++] = x;
  }
}

bool Group4Decoder::NextRow() {
  if (failed_) return false;
  failed_ = true;
  // The finished row becomes the reference; its sentinels are rewritten after it.
  std::swap(cur_, ref_);
  std::swap(curCount_, refCount_);
  std::fill_n(ref_.begin() + static_cast<std::ptrdiff_t>(refCount_), 3, width_);
  curCount_ = 0;

  const Tables& tables = DecodeTables();
  const int32_t width = width_;
  const int32_t* ref = ref_.data();
  // a0 as in the coder: -1 before the first pixel, white while an even number of changes lie
  // at or before it; b1 is the first reference change right of a0 whose index has the parity of
  // curCount_ (a change to the colour opposite a0's).
  int32_t a0 = -1;
  std::size_t bi = 0;
  while (a0 < width) {
    while (ref[bi] <= a0) ++bi;
    const std::size_t b = bi + ((bi ^ curCount_) & 1);
    const Entry mode = tables.mode[Peek(kModeBits)];
    if (mode.length == 0) return false;  // EOL, EOFB or an extension
    Skip(mode.length);
    if (mode.value == kPass) {
      a0 = ref[b + 1];
    } else if (mode.value == kHorizontal) {
      const bool black = (curCount_ & 1) != 0;
      const int32_t first = ReadRun(black);
      if (first < 0) return false;
      const int32_t second = ReadRun(!black);
      if (second < 0) return false;
      const int32_t a1 = (a0 < 0 ? 0 : a0) + first;
      const int32_t a2 = a1 + second;
      if (a2 > width) return false;
      if (a1 < width) Push(a1);
      if (a2 < width) Push(a2);
      a0 = a2;
    } else {
      const int32_t a1 = ref[b] + mode.value - 3;
      if (a1 <= a0 || a1 < 0 || a1 > width) return false;
      if (a1 < width) Push(a1);
      a0 = a1;
    }
    if (position_ > endBit_) return false;
  }
  std::fill_n(cur_.begin() + static_cast<std::ptrdiff_t>(curCount_), 3, width_);
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
