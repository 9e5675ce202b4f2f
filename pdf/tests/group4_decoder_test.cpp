// Tests of the Group 4 decoder: libtiff's own coder writes the data, and our decoder must give
// back every pixel in both bit orders; on damaged data libtiff (read as the import reads a page)
// is the reference for what must be refused.
#include "pdf/group4_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "pdf/tests/fax_oracle.h"
#include "pdf/tests/text_page.h"

namespace brevis {
namespace {

std::size_t RowBytes(int width) { return (static_cast<std::size_t>(width) + 7) / 8; }

std::vector<uint8_t> Reversed(std::vector<uint8_t> bytes) {
  for (uint8_t& byte : bytes) {
    uint8_t r = 0;
    for (int bit = 0; bit < 8; ++bit)
      r = static_cast<uint8_t>(r | (((byte >> bit) & 1) << (7 - bit)));
    byte = r;
  }
  return bytes;
}

// Every row of the data through our decoder as packed rows (1 = black), or nullopt when a row
// cannot be decoded. `canonical_rows` counts the rows whose codes are our coder's.
std::optional<std::vector<uint8_t>> Decode(const std::vector<uint8_t>& data, int width, int height,
                                           bool lsbFirst, int* canonical_rows = nullptr) {
  Group4Decoder decoder(data, width, lsbFirst);
  std::vector<uint8_t> rows(RowBytes(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    if (!decoder.NextRow()) return std::nullopt;
    if (canonical_rows != nullptr && decoder.RowIsCanonical()) ++*canonical_rows;
    FillRowFromChanges(decoder.Changes(), decoder.ChangeCount(), width,
                       rows.data() + static_cast<std::size_t>(y) * RowBytes(width));
  }
  return rows;
}

std::vector<uint8_t> Noise(int width, int height, double black, uint32_t seed) {
  std::mt19937 rng(seed);
  std::bernoulli_distribution pick(black);
  std::vector<uint8_t> rows(RowBytes(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (pick(rng)) {
        rows[static_cast<std::size_t>(y) * RowBytes(width) + static_cast<std::size_t>(x) / 8] |=
            static_cast<uint8_t>(0x80u >> (x % 8));
      }
    }
  }
  return rows;
}

TEST(Group4DecoderTest, GivesBackWhatLibtiffCoded) {
  struct Case {
    const char* name;
    int width;
    int height;
    std::vector<uint8_t> rows;
  };
  const std::vector<Case> kCases = {
      // Widths at byte borders and the code tables' limits (64, 1728, 2560, 2624).
      {"text 1", 1, 9, Noise(1, 9, 0.5, 1)},
      {"noise 7", 7, 31, Noise(7, 31, 0.5, 2)},
      {"noise 8", 8, 31, Noise(8, 31, 0.5, 3)},
      {"noise 9", 9, 31, Noise(9, 31, 0.3, 4)},
      {"noise 65", 65, 40, Noise(65, 40, 0.05, 5)},
      {"text 1727", 1727, 300, test::TextPageRows(1727, 300, 6)},
      {"text 1728", 1728, 301, test::TextPageRows(1728, 301, 7)},
      {"text 2480", 2480, 1201, test::TextPageRows(2480, 1201, 8)},
      {"noise 2625", 2625, 20, Noise(2625, 20, 0.02, 9)},
      {"dense 5300", 5300, 12, Noise(5300, 12, 0.97, 10)},
      // Runs longer than one make-up code: all black, all white.
      {"black 6000", 6000, 3, std::vector<uint8_t>(750 * 3, 0xFF)},
      {"white 6000", 6000, 3, std::vector<uint8_t>(750 * 3, 0x00)},
  };
  for (const Case& c : kCases) {
    const std::vector<uint8_t> data = test::LibtiffGroup4(c.rows, c.width, c.height);
    for (const bool lsb_first : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (lsb_first ? " FillOrder 2" : " FillOrder 1"));
      int canonical_rows = 0;
      const std::optional<std::vector<uint8_t>> rows =
          Decode(lsb_first ? Reversed(data) : data, c.width, c.height, lsb_first, &canonical_rows);
      ASSERT_TRUE(rows.has_value());
      EXPECT_EQ(*rows, c.rows);
      // libtiff's coder writes what ours writes, so every row's codes can be copied.
      EXPECT_EQ(canonical_rows, c.height);
    }
    // Another coder's data (horizontal mode only, and make-up codes split in two) decodes to
    // the same pixels, but rows with codes ours would not write must be coded again.
    for (const bool split : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (split ? " horizontal, split" : " horizontal"));
      int canonical_rows = 0;
      const std::optional<std::vector<uint8_t>> rows =
          Decode(test::HorizontalGroup4(c.rows, c.width, c.height, split), c.width, c.height, false,
                 &canonical_rows);
      ASSERT_TRUE(rows.has_value());
      EXPECT_EQ(*rows, c.rows);
      EXPECT_LT(canonical_rows, c.height);
    }
  }
}

// Damaged data: what libtiff refuses, we refuse; what we decode, libtiff decodes to the same
// pixels. Where libtiff is lenient (data ending early or with an early end of data: it warns,
// keeps the rows it has and leaves the rest white; a run past the row or a change before it: it
// warns and mends the row), we refuse, and the import lets libtiff decode the page as before.
TEST(Group4DecoderTest, DamagedDataIsNeverDecodedOtherwiseThanByLibtiff) {
  const int width = 64, height = 6;
  std::vector<uint8_t> rows(RowBytes(width) * height);
  for (int y = 0; y < height; ++y) {
    rows[static_cast<std::size_t>(y) * 8 + 2] = 0x3C;
    rows[static_cast<std::size_t>(y) * 8 + 5] = static_cast<uint8_t>(0xF0 >> (y % 4));
  }
  const std::vector<uint8_t> good = test::LibtiffGroup4(rows, width, height);
  struct Case {
    std::string name;
    std::vector<uint8_t> data;
    std::optional<bool> ours;     // our decoder gives every row
    std::optional<bool> libtiff;  // libtiff gives the page (perhaps with warnings)
  };
  std::vector<Case> cases = {
      {"whole", good, true, true},
      {"no data", {}, false, false},
      // Two rows, then the end of data, for a page of six rows.
      {"early EOFB", test::LibtiffGroup4({rows.begin(), rows.begin() + 16}, width, 2), false, true},
      {"zeros", {0, 0, 0, 0}, false, false},
      // An extension code (0000001 111: uncompressed mode) where the first row starts.
      {"extension", {0x03, 0xC0, 0, 0}, false, false},
      // Horizontal mode with a white run of 2560 + 2560 + 0: past the row.
      {"run past the row", {0x20, 0x3E, 0x03, 0xE3, 0x5F, 0xFF}, false, true},
      // VL3 as the first code: a change left of the row's start.
      {"change before the row", {0x04, 0xFF, 0xFF}, false, true},
      // Horizontal mode with a white run of 9 and an empty black run (001 10100 0000110111),
      // then V0 to the end of each row; and the same with two empty runs at the row's start
      // (001 00110101 0000110111).
      {"empty run", {0x34, 0x1B, 0xBF, 0xFF}, false, true},
      {"two empty runs", {0x26, 0xA1, 0xBF, 0xFF, 0xFF}, false, std::nullopt},
      // A pass to the row's end as the first code (0001), then V0s.
      {"pass to the row's end", {0x1F, 0xFF, 0xFF}, false, true},
      // Five white rows (V0), then horizontal mode with a white run of 16 and a black run of
      // 48 whose code's last two bits (0) are missing: 1111 1:001:1010 10:00 0001 1001.
      {"last code ends past the data", {0xF9, 0xA8, 0x19}, false, std::nullopt},
  };
  // Every cut of the good data, and every byte of it with its bits flipped: the outcome depends
  // on the place, only the relation between the two decoders is fixed.
  for (std::size_t cut = 1; cut < good.size(); ++cut) {
    cases.push_back({"cut at " + std::to_string(cut),
                     {good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)},
                     std::nullopt,
                     std::nullopt});
  }
  for (std::size_t i = 0; i < good.size(); ++i) {
    std::vector<uint8_t> flipped = good;
    flipped[i] = static_cast<uint8_t>(~flipped[i]);
    cases.push_back({"flipped " + std::to_string(i), flipped, std::nullopt, std::nullopt});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::vector<uint8_t>> ours = Decode(c.data, width, height, false);
    const std::optional<std::vector<uint8_t>> theirs =
        test::LibtiffDecodeAsImport(c.data.data(), c.data.size(), width, height, false);
    if (c.ours) {
      EXPECT_EQ(ours.has_value(), *c.ours);
    }
    if (c.libtiff) {
      EXPECT_EQ(theirs.has_value(), *c.libtiff);
    }
    // Decoded by us means decoded by libtiff, to the same pixels.
    if (ours) {
      EXPECT_EQ(ours, theirs);
    }
  }
}

}  // namespace
}  // namespace brevis
