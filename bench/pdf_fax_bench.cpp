// Group 4 coding of a text-like 2480 x 3508 page: our coder (from a one-bit bitmap into a memory
// stream, a byte at a time) against libtiff's (into a TIFF file in memory). Also the reduction
// of a 32-bit slice of 1200 rows to one bit per pixel, which every imported page goes through.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/stream.h"
#include "pdf/bitmap.h"
#include "pdf/ccitt_compression.h"
#include "pdf/tests/fax_oracle.h"
#include "stand_in/page_generator.h"

namespace {

using brevis::Bitmap;
using brevis::PixelFormat;

constexpr int kWidth = brevis::PageGenerator::kWidth;
constexpr int kHeight = brevis::PageGenerator::kHeight;

// A text page of the sample patents' generator: a 0 bit is black.
const brevis::OneBitImage& Page() {
  static const brevis::OneBitImage page = brevis::PageGenerator("200710038426", 12).Render(2);
  return page;
}

// The page as libtiff's fax coder takes it: packed rows, 1 = black.
const std::vector<uint8_t>& PageRows() {
  static const std::vector<uint8_t> rows = [] {
    std::vector<uint8_t> inverted = Page().Rows;
    for (uint8_t& byte : inverted) byte = static_cast<uint8_t>(~byte);
    return inverted;
  }();
  return rows;
}

// The page as our coder takes it: a 0 bit is black, as in the image.
Bitmap PageBitmap() {
  Bitmap bitmap(kWidth, kHeight, PixelFormat::pf1bit);
  for (int y = 0; y < kHeight; ++y) {
    std::memcpy(bitmap.ScanLine(y),
                Page().Rows.data() + static_cast<std::size_t>(y) * Page().Stride, Page().Stride);
  }
  return bitmap;
}

void OursGroup4(benchmark::State& state) {
  const Bitmap page = PageBitmap();
  brevis::CcittCompression coder;
  std::vector<uint8_t> data;
  for (auto _ : state) {
    brevis::MemoryStream stream;
    coder.CompressImage(page, 42, stream);
    data = stream.Bytes();
    benchmark::DoNotOptimize(data.data());
  }
  if (data != brevis::test::LibtiffGroup4(PageRows(), kWidth, kHeight)) {
    std::fprintf(stderr, "pdf_fax_bench: our Group 4 data differs from libtiff's\n");
    std::exit(1);
  }
  state.counters["fax_bytes"] = static_cast<double>(data.size());
}

void LibtiffGroup4(benchmark::State& state) {
  std::size_t size = 0;
  for (auto _ : state) {
    size = brevis::test::LibtiffGroup4File(PageRows(), kWidth, kHeight).size();
    benchmark::DoNotOptimize(size);
  }
  state.counters["tiff_bytes"] = static_cast<double>(size);
}

void ReduceSliceToMonochrome(benchmark::State& state) {
  // A decoded slice: black and white 32-bit pixels, as libtiff's RGBA decoding gives them.
  Bitmap slice(kWidth, 1200, PixelFormat::pf32bit);
  const std::size_t row_bytes = (kWidth + 7) / 8;
  for (int y = 0; y < 1200; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const uint8_t byte =
          PageRows()[static_cast<std::size_t>(y) * row_bytes + static_cast<std::size_t>(x) / 8];
      const bool black = (byte >> (7 - x % 8)) & 1;
      slice.SetPixelValue(x, y, black ? 0xFF000000u : 0xFFFFFFFFu);
    }
  }
  for (auto _ : state) {
    state.PauseTiming();
    Bitmap work = slice;
    state.ResumeTiming();
    work.ReduceToMonochrome();
    benchmark::DoNotOptimize(work.Bits());
  }
}

BENCHMARK(OursGroup4)->Unit(benchmark::kMillisecond);
BENCHMARK(LibtiffGroup4)->Unit(benchmark::kMillisecond);
BENCHMARK(ReduceSliceToMonochrome)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
