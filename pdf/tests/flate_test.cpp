// Flate coding, checked against zlib's own one-shot calls.
#include "pdf/flate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "pdf/pdf_error.h"

namespace brevis {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> ZlibUncompress(const std::vector<uint8_t>& data, std::size_t size) {
  std::vector<uint8_t> out(size);
  uLongf length = size;
  EXPECT_EQ(uncompress(out.data(), &length, data.data(), data.size()), Z_OK);
  out.resize(length);
  return out;
}

TEST(Flate, RoundTripsThroughZlib) {
  std::string large;
  for (int k = 0; k < 200000; ++k) large += std::to_string(k * 7919 % 1000) + " ";
  for (const std::string& text : {std::string(), std::string("q\r\n/Im0 Do\r\nQ\r\n"), large}) {
    SCOPED_TRACE(text.size());
    const std::vector<uint8_t> packed = FlateCompress(Bytes(text));
    // zlib header: deflate, 32 KiB window, best compression.
    ASSERT_GE(packed.size(), 2u);
    EXPECT_EQ(packed[0], 0x78);
    EXPECT_EQ(packed[1], 0xDA);
    EXPECT_EQ(ZlibUncompress(packed, text.size()), Bytes(text));
    EXPECT_EQ(FlateDecompress(packed), Bytes(text));
  }
}

TEST(Flate, DamagedDataIsRefused) {
  std::vector<uint8_t> packed = FlateCompress(Bytes("0 0 0 RG\r\n0 0 0 rg\r\n0 Tr\r\n"));
  const std::vector<uint8_t> cut(packed.begin(), packed.end() - 5);
  std::vector<uint8_t> flipped = packed;
  flipped[flipped.size() - 1] ^= 0xFF;  // Adler-32 no longer matches
  for (const auto& data : {cut, flipped, std::vector<uint8_t>{}, Bytes("not zlib")}) {
    EXPECT_THROW(
        {
          try {
            FlateDecompress(data);
          } catch (const PdfError& e) {
            EXPECT_STREQ(e.what(), "Flate data is invalid.");
            throw;
          }
        },
        PdfError);
  }
}

}  // namespace
}  // namespace brevis
