// Fuzz target: our Group 4 decoder against libtiff's. The input's first four bytes give the page
// (width 1 to 4096 from the first two, height 1 to 64 from the third, FillOrder 2 when the
// fourth is odd); the rest is the strip's data, which libtiff reads from a one-strip TIFF file in
// memory as the import reads a page (errors refuse it, warnings do not). Properties:
// - What our decoder decodes to the last row, libtiff decodes too, to the same pixels. libtiff
//   mends some damage with a warning (data ending early, an early end of data, a run past the
//   row, a change before it) where ours refuses; the import then lets libtiff decode the page.
// - Transcoding the decoded rows (codes copied where the decoder says they are our coder's,
//   coded again elsewhere) gives the bytes our coder writes for the decoded bitmap.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/stream.h"
#include "fuzz/fuzz_input.h"
#include "pdf/bitmap.h"
#include "pdf/ccitt_compression.h"
#include "pdf/group4_decoder.h"
#include "pdf/tests/fax_oracle.h"

namespace {

constexpr std::size_t kHeader = 4;

struct Page {
  int width;
  int height;
  bool lsbFirst;
};

// Decodes every row: the packed rows (1 = black) and the same rows transcoded to Group 4, or
// nullopt when a row cannot be decoded.
std::optional<std::vector<uint8_t>> Decode(const Page& page, const uint8_t* data, size_t size,
                                           std::vector<uint8_t>& transcoded) {
  brevis::Group4Decoder decoder(std::vector<uint8_t>(data, data + size), page.width, page.lsbFirst);
  const std::size_t row_bytes = (static_cast<std::size_t>(page.width) + 7) / 8;
  std::vector<uint8_t> rows(row_bytes * static_cast<std::size_t>(page.height));
  brevis::MemoryStream stream;
  brevis::CcittCompression coder;
  coder.SetMode(brevis::CCITT::CCITT42D);
  coder.SetStream(&stream);
  coder.BeginRows(page.width);
  for (int y = 0; y < page.height; ++y) {
    if (!decoder.NextRow()) return std::nullopt;
    brevis::FillRowFromChanges(decoder.Changes(), decoder.ChangeCount(), page.width,
                               rows.data() + static_cast<std::size_t>(y) * row_bytes);
    if (decoder.RowIsCanonical()) {
      coder.PutCodedRow(decoder.Changes(), decoder.ChangeCount(), decoder.Data(),
                        decoder.RowFirstBit(), decoder.RowBits());
    } else {
      coder.PutRow(decoder.Changes(), decoder.ChangeCount());
    }
  }
  coder.EndRows();
  transcoded = stream.Bytes();
  return rows;
}

// Our coder's Group 4 bytes for packed rows (1 = black), through a bitmap (0 = black).
std::vector<uint8_t> Coded(const Page& page, const std::vector<uint8_t>& rows) {
  brevis::Bitmap bitmap(page.width, page.height, brevis::PixelFormat::pf1bit);
  const std::size_t row_bytes = (static_cast<std::size_t>(page.width) + 7) / 8;
  for (int y = 0; y < page.height; ++y) {
    uint8_t* line = bitmap.ScanLine(y);
    for (std::size_t i = 0; i < row_bytes; ++i) {
      line[i] = static_cast<uint8_t>(~rows[static_cast<std::size_t>(y) * row_bytes + i]);
    }
  }
  brevis::MemoryStream stream;
  brevis::CcittCompression().CompressImage(bitmap, 42, stream);
  return stream.Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader) return 0;
  const Page page{1 + ((data[0] << 8 | data[1]) % 4096), 1 + data[2] % 64, (data[3] & 1) != 0};
  const uint8_t* strip = data + kHeader;
  const size_t strip_size = size - kHeader;

  std::vector<uint8_t> transcoded;
  const std::optional<std::vector<uint8_t>> ours = Decode(page, strip, strip_size, transcoded);
  // libtiff cannot write a strip of no bytes; the import refuses such a page before decoding.
  if (strip_size == 0) {
    brevis::fuzz::Check(!ours, "our decoder decodes a page from no data");
    return 0;
  }
  const std::optional<std::vector<uint8_t>> theirs = brevis::test::LibtiffDecodeAsImport(
      strip, strip_size, page.width, page.height, page.lsbFirst);
  if (ours) {
    brevis::fuzz::Check(theirs.has_value(), "our decoder decodes a page libtiff refuses");
    brevis::fuzz::Check(*ours == *theirs, "the decoders give different pixels");
    brevis::fuzz::Check(transcoded == Coded(page, *ours),
                        "transcoding gives other bytes than coding the bitmap");
  }
  return 0;
}
