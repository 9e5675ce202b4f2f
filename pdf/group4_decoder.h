// Group 4 (T.6) fax decoder of the TIFF import: reads the coded rows of one strip or tile and
// gives each row as its changing elements, so that the fax coder can code the rows again with no
// bitmap in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brevis {

// Decodes Group 4 data one row at a time. A row comes as its changing elements: the ascending
// positions below the width where the colour changes, the first from white to black (white is
// the coding's white, a 0 bit of a MinIsWhite page), so an all-white row has none. Every row is
// decoded against the row above, an all-white row above the first.
//
// The decoder keeps the data it is given (with the bits of every byte reversed for FillOrder 2).
// Not thread-safe; one decoder per strip or tile.
class Group4Decoder {
 public:
  // Zero bytes the decoder appends to the data, so that its reader loads 4 bytes at a time
  // without a check (past them it shifts in zeros, which are no code, so a row cannot run on
  // there). Data with this much spare capacity is not moved.
  static constexpr std::size_t kPadding = 8;

  // `width` must be at least 1. `lsbFirst`: the data's bytes hold their first bit in the least
  // significant place (TIFF FillOrder 2).
  Group4Decoder(std::vector<uint8_t> data, int32_t width, bool lsbFirst);

  // Decodes the next row. Returns false when it cannot: the data is damaged (a bit string that
  // is no code, a change outside the row or behind the one before, a run past the row, an empty
  // run within it, a pass to its end, an extension code), ends within the row, or the row is the
  // end of the data (EOFB). After false, the decoder stays failed. Where libtiff mends such damage,
  // the import leaves the page to it.
  bool NextRow();

  // The last row's changing elements, valid until the next call of NextRow.
  const int32_t* Changes() const { return cur_.data() + 1; }
  std::size_t ChangeCount() const { return curCount_; }
  int32_t Width() const { return width_; }

  // The last row's codes in the data (as decoded: most significant bit first whatever the fill
  // order): they start RowFirstBit() bits into Data() and take RowBits() bits.
  const uint8_t* Data() const { return data_.data(); }
  uint64_t RowFirstBit() const { return rowFirstBit_; }
  uint64_t RowBits() const { return rowBits_; }
  // True when the last row's codes are exactly the ones CcittCompression writes for the row
  // against the row above: every mode is the one its coder picks (pass before vertical before
  // horizontal) and every run is coded with the fewest make-up codes. Then those bits can be
  // copied instead of coding the row again.
  bool RowIsCanonical() const { return rowCanonical_; }

 private:
  std::vector<uint8_t> data_;  // the coded bytes, most significant bit first, kPadding zeros after
  uint64_t endBit_ = 0;        // the number of bits the data really holds
  uint64_t acc_ = 0;           // the bits loaded but not yet read, from the top bit
  unsigned avail_ = 0;         // how many bits of acc_ are loaded
  std::size_t next_ = 0;       // the next byte of data_ to load
  int32_t width_ = 0;
  bool failed_ = false;
  uint64_t rowFirstBit_ = 0;
  uint64_t rowBits_ = 0;
  bool rowCanonical_ = false;

  // The rows as changing elements from index 1, after a -1 and followed by sentinels equal to
  // the width, so that the search for b1 and b2 needs no bounds checks.
  std::vector<int32_t> ref_;
  std::vector<int32_t> cur_;
  std::size_t refCount_ = 0;
  std::size_t curCount_ = 0;
};

// Sets the black pixels (1 bits) of a packed row of (width + 7) / 8 bytes from changing elements;
// the row's bits are cleared first.
void FillRowFromChanges(const int32_t* changes, std::size_t count, int32_t width, uint8_t* row);

}  // namespace brevis
