// libtiff as the tests' reference for fax data, on TIFF files held in memory.
#include "pdf/tests/fax_oracle.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "common/tiff_memory_file.h"
#include "pdf/ccitt_code_tables.h"

namespace brevis::test {

namespace {

std::string g_message;
bool g_error = false;  // an error, not only a warning, among the messages

void RecordMessage(const char* module, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  if (g_message.empty()) g_message = std::string(module ? module : "libtiff") + ": " + text;
}

void RecordError(const char* module, const char* format, va_list args) {
  g_error = true;
  RecordMessage(module, format, args);
}

// Opens a memory file with every libtiff error and warning recorded.
TIFF* Open(TiffMemoryFile& file, const char* mode) {
  TIFFSetErrorHandler(RecordError);
  TIFFSetWarningHandler(RecordMessage);
  TIFF* tif = OpenTiffMemoryFile(file, "memory", mode);
  if (tif == nullptr) throw std::runtime_error("TIFFClientOpen failed: " + g_message);
  return tif;
}

void CheckMessages() {
  g_error = false;
  if (!g_message.empty()) {
    std::string message;
    message.swap(g_message);
    throw std::runtime_error(message);
  }
}

void SetBilevelFields(TIFF* tif, int width, int height, uint16_t compression) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  // With min-is-white a 1 bit is black, as in the rows the tests pass around.
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
}

std::vector<uint8_t> ReadRawStrip(TiffMemoryFile& file) {
  TIFF* tif = Open(file, "r");
  const tmsize_t size = static_cast<tmsize_t>(TIFFRawStripSize(tif, 0));
  std::vector<uint8_t> data(static_cast<std::size_t>(std::max<tmsize_t>(size, 0)));
  const tmsize_t read = TIFFReadRawStrip(tif, 0, data.data(), size);
  TIFFClose(tif);
  CheckMessages();
  if (read != size) throw std::runtime_error("TIFFReadRawStrip failed");
  return data;
}

// The TIFF file libtiff's Group 4 coder writes for the rows.
TiffMemoryFile Group4File(const std::vector<uint8_t>& rows, int width, int height) {
  TiffMemoryFile file;
  file.Bytes.reserve(rows.size() / 4 + 4096);
  TIFF* tif = Open(file, "w");
  SetBilevelFields(tif, width, height, COMPRESSION_CCITTFAX4);
  std::vector<uint8_t> copy = rows;  // libtiff may work in the buffer it is given
  const tmsize_t written =
      TIFFWriteEncodedStrip(tif, 0, copy.data(), static_cast<tmsize_t>(copy.size()));
  TIFFClose(tif);
  CheckMessages();
  if (written < 0) throw std::runtime_error("TIFFWriteEncodedStrip failed");
  return file;
}

std::vector<uint8_t> BytesOf(const TiffMemoryFile& file) {
  return std::vector<uint8_t>(file.Bytes.begin(), file.Bytes.end());
}

}  // namespace

std::vector<uint8_t> LibtiffGroup4File(const std::vector<uint8_t>& rows, int width, int height) {
  return BytesOf(Group4File(rows, width, height));
}

std::vector<uint8_t> LibtiffGroup4(const std::vector<uint8_t>& rows, int width, int height) {
  TiffMemoryFile file = Group4File(rows, width, height);
  return ReadRawStrip(file);
}

namespace {

// A one-strip TIFF file in memory holding the fax data as it is.
TiffMemoryFile RawFaxFile(const uint8_t* data, std::size_t size, int width, int height,
                          FaxCoding coding, bool lsbFirst) {
  TiffMemoryFile file;
  TIFF* tif = Open(file, "w");
  // Rows coded one-dimensionally without EOL codes are what libtiff calls Modified Huffman
  // (CCITTRLE), except that its rows start on byte boundaries; that is switched off when read.
  const uint16_t compression = coding == FaxCoding::kGroup4 ? COMPRESSION_CCITTFAX4
                               : coding == FaxCoding::k2D   ? COMPRESSION_CCITTFAX3
                                                            : COMPRESSION_CCITTRLE;
  SetBilevelFields(tif, width, height, compression);
  if (lsbFirst) TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  if (coding == FaxCoding::k2D) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING);
  std::vector<uint8_t> copy(data, data + size);
  TIFFWriteRawStrip(tif, 0, copy.data(), static_cast<tmsize_t>(copy.size()));
  TIFFClose(tif);
  CheckMessages();
  return file;
}

}  // namespace

std::vector<uint8_t> LibtiffDecode(const std::vector<uint8_t>& data, int width, int height,
                                   FaxCoding coding) {
  TiffMemoryFile file = RawFaxFile(data.data(), data.size(), width, height, coding, false);
  TIFF* tif = Open(file, "r");
  if (coding == FaxCoding::k1D) TIFFSetField(tif, TIFFTAG_FAXMODE, FAXMODE_NOEOL | FAXMODE_NORTC);
  const std::size_t row_bytes = (static_cast<std::size_t>(width) + 7) / 8;
  std::vector<uint8_t> rows(row_bytes * static_cast<std::size_t>(height));
  const tmsize_t read =
      TIFFReadEncodedStrip(tif, 0, rows.data(), static_cast<tmsize_t>(rows.size()));
  TIFFClose(tif);
  CheckMessages();
  if (read != static_cast<tmsize_t>(rows.size())) {
    throw std::runtime_error("TIFFReadEncodedStrip returned " + std::to_string(read) + " bytes");
  }
  return rows;
}

std::vector<uint8_t> HorizontalGroup4(const std::vector<uint8_t>& rows, int width, int height,
                                      bool splitMakeups) {
  std::vector<uint8_t> data;
  uint32_t pending = 0;  // bits not yet in data, the latest lowest
  int bits = 0;
  const auto put = [&](const CcittCode& code) {
    for (int i = code.length - 1; i >= 0; --i) {
      pending = (pending << 1) | ((code.code >> i) & 1u);
      if (++bits == 8) {
        data.push_back(static_cast<uint8_t>(pending));
        pending = 0;
        bits = 0;
      }
    }
  };
  const auto put_run = [&](int run, bool black) {
    const CcittCode* table = black ? kBlackCodes : kWhiteCodes;
    if (splitMakeups && run >= 128) {
      put(table[64]);  // the make-up code of 64
      run -= 64;
    }
    while (run >= 2624) {
      put(table[kCcittRunCodes - 1]);
      run -= 2560;
    }
    if (run >= 64) {
      put(table[63 + run / 64]);
      run %= 64;
    }
    put(table[run]);
  };
  const std::size_t row_bytes = (static_cast<std::size_t>(width) + 7) / 8;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = rows.data() + static_cast<std::size_t>(y) * row_bytes;
    const auto black_at = [&](int x) {
      return x < width && ((row[x / 8] >> (7 - x % 8)) & 1) != 0;
    };
    // Pairs of runs, white then black, from a0 to a1 to a2, until the row's end.
    for (int a0 = 0; a0 < width;) {
      int a1 = a0;
      while (a1 < width && !black_at(a1)) ++a1;
      int a2 = a1;
      while (a2 < width && black_at(a2)) ++a2;
      put(kHorizontalCode);
      put_run(a1 - a0, false);
      put_run(a2 - a1, true);
      a0 = a2;
    }
  }
  put(kEolCode);
  put(kEolCode);
  if (bits != 0) data.push_back(static_cast<uint8_t>(pending << (8 - bits)));
  return data;
}

std::vector<uint8_t> Group4FileOf(const std::vector<uint8_t>& data, int width, int height) {
  return BytesOf(RawFaxFile(data.data(), data.size(), width, height, FaxCoding::kGroup4, false));
}

std::optional<std::vector<uint8_t>> LibtiffDecodeAsImport(const uint8_t* data, std::size_t size,
                                                          int width, int height, bool lsbFirst) {
  TiffMemoryFile file = RawFaxFile(data, size, width, height, FaxCoding::kGroup4, lsbFirst);
  TIFF* tif = Open(file, "r");
  const std::size_t row_bytes = (static_cast<std::size_t>(width) + 7) / 8;
  std::vector<uint8_t> rows(row_bytes * static_cast<std::size_t>(height));
  // A scanline at a time, as the import reads a one-bit strip.
  bool read = true;
  for (int y = 0; read && y < height; ++y) {
    read = TIFFReadScanline(tif, rows.data() + row_bytes * static_cast<std::size_t>(y),
                            static_cast<uint32_t>(y), 0) == 1 &&
           !g_error;
  }
  TIFFClose(tif);
  g_error = false;
  g_message.clear();
  if (!read) return std::nullopt;
  return rows;
}

}  // namespace brevis::test
