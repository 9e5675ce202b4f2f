// TIFF page reading with libtiff: per-handle error and warning handlers that show nothing and
// record that an error happened, the size limits, the two ways of decoding, and slicing.
#include "pdf/tiff_import.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "pdf/bitmap.h"
#include "pdf/pdf_error.h"
#include "pdf/tiff_group4.h"

namespace brevis {

namespace {

constexpr const char* kCannotDecode = "Cannot decode tiff image";

// libtiff's messages go nowhere; an error only sets the flag the reader checks after each call.
int RecordError(TIFF*, void* user_data, const char*, const char*, va_list) {
  *static_cast<bool*>(user_data) = true;
  return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

class TiffFile {
 public:
  explicit TiffFile(const std::string& path) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, RecordError, &error_);
    TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, nullptr);
    tif_ = TIFFOpenExt(path.c_str(), "rm", options);
    TIFFOpenOptionsFree(options);
  }
  ~TiffFile() {
    if (tif_ != nullptr) TIFFClose(tif_);
  }
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;

  TIFF* get() const { return tif_; }
  bool TakeError() { return std::exchange(error_, false); }

 private:
  bool error_ = false;  // before tif_: the handler may write it while the file opens
  TIFF* tif_ = nullptr;
};

// One bit per sample, one sample, black and white photometry, strips, top row first: the pages
// whose decoded strips already are the rows of a one-bit bitmap.
bool IsOneBitPage(TIFF* tif) {
  uint16_t bits = 0, samples = 0, photometric = 0, orientation = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1) return false;
  return !TIFFIsTiled(tif) && bits == 1 && samples == 1 && orientation == ORIENTATION_TOPLEFT &&
         (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
}

// The image as packed rows of (width + 7) / 8 bytes, a 0 bit black.
std::vector<uint8_t> DecodeOneBit(TiffFile& file, int32_t width, int32_t height) {
  TIFF* tif = file.get();
  const std::size_t stride = (static_cast<std::size_t>(width) + 7) / 8;
  if (TIFFScanlineSize64(tif) != static_cast<uint64_t>(stride)) throw PdfError(kCannotDecode);
  uint32_t rows_per_strip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
  rows_per_strip = std::clamp<uint32_t>(rows_per_strip, 1, static_cast<uint32_t>(height));
  std::vector<uint8_t> rows(stride * static_cast<std::size_t>(height));
  const uint32_t strips = TIFFNumberOfStrips(tif);
  for (uint32_t strip = 0; strip < strips; ++strip) {
    const uint64_t first = uint64_t{strip} * rows_per_strip;
    if (first >= static_cast<uint64_t>(height)) break;
    const uint64_t count =
        std::min<uint64_t>(rows_per_strip, static_cast<uint64_t>(height) - first);
    const tmsize_t read = TIFFReadEncodedStrip(tif, strip, rows.data() + first * stride,
                                               static_cast<tmsize_t>(count * stride));
    if (read < 0 || file.TakeError()) throw PdfError(kCannotDecode);
  }
  uint16_t photometric = 0;
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  if (photometric == PHOTOMETRIC_MINISWHITE) {
    for (uint8_t& byte : rows) byte = static_cast<uint8_t>(~byte);
  }
  return rows;
}

// Brings a 32-bit bitmap holding libtiff's pixels (red in the lowest byte) to the coding's
// format: blue and red exchanged, then one bit for the fax codings or 24 bits for the others.
void ReduceRgba(Bitmap& bitmap, bool fax) {
  uint8_t* bits = bitmap.Bits();
  const std::size_t bytes = bitmap.RowStride() * static_cast<std::size_t>(bitmap.Height());
  for (std::size_t i = 0; i < bytes; i += 4) std::swap(bits[i], bits[i + 2]);
  if (fax) {
    bitmap.ReduceToMonochrome();
  } else {
    bitmap.SetPixelFormat(PixelFormat::pf24bit);
  }
}

// The image's size; throws for an image without one or beyond the limits.
std::pair<uint32_t, uint32_t> CheckedSize(TIFF* tif) {
  uint32_t w = 0, h = 0;
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) != 1 ||
      TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h) != 1 || w == 0 || h == 0) {
    throw PdfError(kCannotDecode);
  }
  if (w > kTiffMaxSide || h > kTiffMaxSide || int64_t{w} * h * 4 > kTiffMaxRasterBytes) {
    throw PdfError("Tiff image too large");
  }
  return {w, h};
}

TiffPageImage PrepareImage(TiffFile& file, PdfImageCompressionType compression, int jpegQuality,
                           TiffDecoding decoding) {
  TIFF* tif = file.get();
  // Plain variables, not a structured binding: the lambdas below capture them.
  const auto [width, height] = CheckedSize(tif);
  const uint32_t w = width, h = height;
  TiffPageImage page;
  page.Width = static_cast<int32_t>(w);
  page.Height = static_cast<int32_t>(h);
  page.Sliced = page.Height >= kTiffSliceRows;
  const bool fax = compression > icJpeg;
  const int code = PdfImage::CreateCode(compression);
  const auto add = [&](const Bitmap& bitmap) {
    page.Slices.push_back(
        {std::make_unique<PdfImage>(bitmap, code, false, std::nullopt, "", jpegQuality),
         bitmap.Height()});
  };

  if (fax && decoding == TiffDecoding::kAuto) {
    if (std::optional<std::vector<TiffSlice>> slices =
            TranscodeGroup4(tif, page.Width, page.Height, code)) {
      page.Slices = std::move(*slices);
      return page;
    }
    // What reading the raw data reported, libtiff reports again below.
    file.TakeError();
  }
  if (fax && decoding != TiffDecoding::kRgba && IsOneBitPage(tif)) {
    const std::vector<uint8_t> rows = DecodeOneBit(file, page.Width, page.Height);
    const std::size_t stride = (w + 7) / 8;
    for (const auto& [first, count] : TiffSliceRanges(page.Height)) {
      Bitmap slice(page.Width, count, PixelFormat::pf1bit);
      slice.SetPalette({kBlack, kWhite});
      for (int32_t y = 0; y < count; ++y) {
        std::memcpy(slice.ScanLine(y), rows.data() + static_cast<std::size_t>(first + y) * stride,
                    stride);
      }
      add(slice);
    }
    return page;
  }

  const auto read_rgba = [&](uint32_t* raster) {
    if (TIFFReadRGBAImageOriented(tif, w, h, raster, ORIENTATION_TOPLEFT, 1) != 1 ||
        file.TakeError()) {
      throw PdfError(kCannotDecode);
    }
  };
  if (!page.Sliced) {
    // Decoded straight into the bitmap, whose 32-bit rows are a plain width x height array.
    Bitmap bitmap(page.Width, page.Height, PixelFormat::pf32bit);
    read_rgba(reinterpret_cast<uint32_t*>(bitmap.Bits()));
    ReduceRgba(bitmap, fax);
    add(bitmap);
    return page;
  }
  std::vector<uint32_t> raster(std::size_t{w} * h);
  read_rgba(raster.data());
  for (const auto& [first, count] : TiffSliceRanges(page.Height)) {
    Bitmap slice(page.Width, count, PixelFormat::pf32bit);
    std::memcpy(slice.Bits(), raster.data() + static_cast<std::size_t>(first) * w,
                std::size_t{w} * static_cast<std::size_t>(count) * 4);
    ReduceRgba(slice, fax);
    add(slice);
  }
  return page;
}

OneBitImage DecodeImage(TiffFile& file) {
  TIFF* tif = file.get();
  const auto [w, h] = CheckedSize(tif);
  OneBitImage image;
  image.Width = static_cast<int32_t>(w);
  image.Height = static_cast<int32_t>(h);
  image.Stride = (std::size_t{w} + 7) / 8;
  float resolution = 0;
  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &resolution) == 1 && resolution > 0) {
    image.Dpi = static_cast<int32_t>(unit == RESUNIT_CENTIMETER ? resolution * 2.54f + 0.5f
                                                                : resolution + 0.5f);
  }
  if (IsOneBitPage(tif)) {
    image.Rows = DecodeOneBit(file, image.Width, image.Height);
    return image;
  }
  Bitmap bitmap(image.Width, image.Height, PixelFormat::pf32bit);
  if (TIFFReadRGBAImageOriented(tif, w, h, reinterpret_cast<uint32_t*>(bitmap.Bits()),
                                ORIENTATION_TOPLEFT, 1) != 1 ||
      file.TakeError()) {
    throw PdfError(kCannotDecode);
  }
  ReduceRgba(bitmap, true);
  image.Rows.resize(image.Stride * h);
  for (int32_t y = 0; y < image.Height; ++y) {
    std::memcpy(image.Rows.data() + static_cast<std::size_t>(y) * image.Stride, bitmap.ScanLine(y),
                image.Stride);
  }
  return image;
}

}  // namespace

std::vector<std::pair<int32_t, int32_t>> TiffSliceRanges(int32_t height) {
  if (height < kTiffSliceRows) return {{0, height}};
  std::vector<std::pair<int32_t, int32_t>> ranges;
  int32_t first = 0;
  while (first < height - 1) {
    const int32_t count = height - 1 > first + kTiffSliceRows ? kTiffSliceRows : height - first;
    ranges.emplace_back(first, count);
    first += count - 1;
  }
  return ranges;
}

PreparedTiff PrepareTiff(const std::string& fileName, PdfImageCompressionType compression,
                         int jpegQuality, TiffDecoding decoding) {
  TiffFile file(fileName);
  if (file.get() == nullptr) throw PdfError("Invalid tiff file name");
  file.TakeError();
  PreparedTiff result;
  try {
    for (;;) {
      result.Images.push_back(PrepareImage(file, compression, jpegQuality, decoding));
      file.TakeError();
      if (TIFFReadDirectory(file.get()) <= 0) {
        // The end of the file, unless libtiff found a damaged directory on the way.
        if (file.TakeError()) throw PdfError(kCannotDecode);
        break;
      }
    }
  } catch (...) {
    result.Error = std::current_exception();
  }
  return result;
}

std::vector<OneBitImage> DecodeTiffPages(const std::string& fileName) {
  TiffFile file(fileName);
  if (file.get() == nullptr) throw PdfError("Invalid tiff file name");
  file.TakeError();
  std::vector<OneBitImage> images;
  for (;;) {
    images.push_back(DecodeImage(file));
    file.TakeError();
    if (TIFFReadDirectory(file.get()) <= 0) {
      if (file.TakeError()) throw PdfError(kCannotDecode);
      return images;
    }
  }
}

}  // namespace brevis
