// TIFF page reading with libtiff: per-handle error and warning handlers that show nothing and
// record that an error happened, the size limits, the sources that give an image's rows a band at
// a time, and the slice coder that takes them.
#include "pdf/tiff_import.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

#include "pdf/bitmap.h"
#include "pdf/pdf_error.h"
#include "pdf/tiff_group4.h"

namespace brevis {

namespace {

constexpr const char* kCannotDecode = "Cannot decode tiff image";

// A band of rows decoded at once (a strip, a tile row) is read a band at a time only up to this
// many bytes; an image with larger bands is decoded whole, within the limits of the header.
constexpr uint64_t kMaxBandBytes = uint64_t{64} << 20;

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
    // Read, not mapped: a page file is read once, and mapping and unmapping it costs more.
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

// The rows of an image from the top, one call per row, in the pixel format of the slices they
// fill: packed rows of (width + 7) / 8 bytes with a 0 bit black for one-bit pages, rows of
// 32-bit pixels as libtiff gives them (red in the lowest byte) for the others. A source decodes
// a band of rows at a time and holds no more than that band. Next throws PdfError
// ("Cannot decode tiff image") when libtiff reports an error; it is called at most once per row.
class RowSource {
 public:
  virtual ~RowSource() = default;
  // Writes the next row to `row`, which has room for the row's bytes.
  virtual void Next(uint8_t* row) = 0;
};

bool IsTopLeft(TIFF* tif) {
  uint16_t orientation = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  return orientation == ORIENTATION_TOPLEFT;
}

// One bit per sample, one sample, black and white photometry, top row first: the pages whose
// decoded rows already are the rows of a one-bit bitmap. Tiled pages count when their tiles
// start on whole bytes and a tile row of them fits a band.
bool IsOneBitPage(TIFF* tif, uint32_t width) {
  uint16_t bits = 0, samples = 0, photometric = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1) return false;
  if (bits != 1 || samples != 1 || !IsTopLeft(tif) ||
      (photometric != PHOTOMETRIC_MINISWHITE && photometric != PHOTOMETRIC_MINISBLACK)) {
    return false;
  }
  if (!TIFFIsTiled(tif)) return true;
  uint32_t tile_width = 0, tile_length = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tile_length);
  const uint64_t stride = (uint64_t{width} + 7) / 8;
  return tile_width > 0 && tile_width % 8 == 0 && tile_length > 0 &&
         TIFFTileRowSize64(tif) == tile_width / 8 &&
         TIFFTileSize64(tif) == uint64_t{tile_length} * (tile_width / 8) &&
         TIFFTileSize64(tif) <= kMaxBandBytes && stride * tile_length <= kMaxBandBytes;
}

// White is a 1 bit in the slices; MinIsWhite pages code it as 0.
void ToBlackIsZero(uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
}

bool IsMinIsWhite(TIFF* tif) {
  uint16_t photometric = 0;
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  return photometric == PHOTOMETRIC_MINISWHITE;
}

// One-bit strips, decoded a scanline at a time: libtiff keeps one strip's coded bytes and the
// decoder's state, nothing of the size of the image.
class OneBitStripRows final : public RowSource {
 public:
  OneBitStripRows(TiffFile& file, uint32_t width)
      : file_(file), stride_((std::size_t{width} + 7) / 8), invert_(IsMinIsWhite(file.get())) {
    if (TIFFScanlineSize64(file.get()) != stride_) throw PdfError(kCannotDecode);
  }

  void Next(uint8_t* row) override {
    if (TIFFReadScanline(file_.get(), row, row_++, 0) != 1 || file_.TakeError()) {
      throw PdfError(kCannotDecode);
    }
    if (invert_) ToBlackIsZero(row, stride_);
  }

 private:
  TiffFile& file_;
  const std::size_t stride_;
  const bool invert_;
  uint32_t row_ = 0;
};

// One-bit tiles, decoded one tile row at a time into a band as wide as the image; each tile's
// rows are copied to their place in the band, which starts on a whole byte (IsOneBitPage).
class OneBitTileRows final : public RowSource {
 public:
  OneBitTileRows(TiffFile& file, uint32_t width, uint32_t height)
      : file_(file),
        width_(width),
        height_(height),
        stride_((std::size_t{width} + 7) / 8),
        invert_(IsMinIsWhite(file.get())) {
    TIFFGetField(file.get(), TIFFTAG_TILEWIDTH, &tileWidth_);
    TIFFGetField(file.get(), TIFFTAG_TILELENGTH, &tileLength_);
    tile_.resize(static_cast<std::size_t>(TIFFTileSize64(file.get())));
    band_.resize(stride_ * tileLength_);
  }

  void Next(uint8_t* row) override {
    const uint32_t in_band = row_ % tileLength_;
    if (in_band == 0) ReadBand(row_);
    std::memcpy(row, band_.data() + stride_ * in_band, stride_);
    ++row_;
  }

 private:
  void ReadBand(uint32_t top) {
    const std::size_t tile_stride = tileWidth_ / 8;
    const uint32_t rows = std::min(tileLength_, height_ - top);
    for (uint32_t x = 0; x < width_; x += tileWidth_) {
      const tmsize_t read =
          TIFFReadEncodedTile(file_.get(), TIFFComputeTile(file_.get(), x, top, 0, 0), tile_.data(),
                              static_cast<tmsize_t>(tile_.size()));
      if (read < 0 || file_.TakeError()) throw PdfError(kCannotDecode);
      // The last tile of a row reaches past the image; its bytes beyond the row are left out.
      const std::size_t offset = x / 8;
      const std::size_t bytes = std::min(tile_stride, stride_ - offset);
      for (uint32_t y = 0; y < rows; ++y) {
        std::memcpy(band_.data() + stride_ * y + offset, tile_.data() + tile_stride * y, bytes);
      }
    }
    if (invert_) ToBlackIsZero(band_.data(), stride_ * rows);
  }

  TiffFile& file_;
  const uint32_t width_;
  const uint32_t height_;
  const std::size_t stride_;
  const bool invert_;
  uint32_t tileWidth_ = 0;
  uint32_t tileLength_ = 0;
  std::vector<uint8_t> tile_;
  std::vector<uint8_t> band_;
  uint32_t row_ = 0;
};

// The one-bit rows of a page for which IsOneBitPage holds. Group 4 pages that our own decoder
// takes do not come here: they are transcoded without rows of pixels (tiff_group4.h).
std::unique_ptr<RowSource> OneBitRows(TiffFile& file, uint32_t width, uint32_t height) {
  if (TIFFIsTiled(file.get())) return std::make_unique<OneBitTileRows>(file, width, height);
  return std::make_unique<OneBitStripRows>(file, width);
}

// The rows of a strip or tile row that libtiff decodes as a unit: a strip's rows, a tile's
// length; 0 when the image has none that fits kMaxBandBytes as 32-bit pixels or is not stored
// top row first, which must then be decoded whole.
uint32_t RgbaBandRows(TIFF* tif, uint32_t width, uint32_t height) {
  if (!IsTopLeft(tif)) return 0;
  uint32_t rows = 0;
  if (TIFFIsTiled(tif)) {
    uint32_t tile_width = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &rows);
    if (uint64_t{tile_width} * rows * 4 > kMaxBandBytes) return 0;
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
  }
  rows = std::min(rows, height);
  if (rows == 0 || uint64_t{width} * rows * 4 > kMaxBandBytes) return 0;
  return rows;
}

// Any page libtiff can bring to 32-bit colour, a band of whole strips or one tile row at a time:
// its reader starts each band at the band's first row, which is the first row of a strip or of a
// tile, so that nothing is decoded twice and subsampled colour keeps its pairs of rows.
class RgbaRows final : public RowSource {
 public:
  RgbaRows(TiffFile& file, uint32_t width, uint32_t height, uint32_t bandRows)
      : file_(file), width_(width), height_(height), bandRows_(bandRows) {
    char message[1024];
    if (TIFFRGBAImageOK(file.get(), message) != 1 ||
        TIFFRGBAImageBegin(&image_, file.get(), 1, message) != 1) {
      file.TakeError();
      throw PdfError(kCannotDecode);
    }
    image_.req_orientation = ORIENTATION_TOPLEFT;
    band_.resize(std::size_t{width} * bandRows);
  }
  ~RgbaRows() override { TIFFRGBAImageEnd(&image_); }
  RgbaRows(const RgbaRows&) = delete;
  RgbaRows& operator=(const RgbaRows&) = delete;

  void Next(uint8_t* row) override {
    const uint32_t in_band = row_ % bandRows_;
    if (in_band == 0) {
      image_.row_offset = static_cast<int>(row_);
      const uint32_t rows = std::min(bandRows_, height_ - row_);
      if (TIFFRGBAImageGet(&image_, band_.data(), width_, rows) != 1 || file_.TakeError()) {
        throw PdfError(kCannotDecode);
      }
    }
    std::memcpy(row, band_.data() + std::size_t{width_} * in_band, std::size_t{width_} * 4);
    ++row_;
  }

 private:
  TiffFile& file_;
  const uint32_t width_;
  const uint32_t height_;
  const uint32_t bandRows_;
  TIFFRGBAImage image_{};
  std::vector<uint32_t> band_;
  uint32_t row_ = 0;
};

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

// The whole image in 32-bit colour, as one bitmap: the way for images libtiff cannot give a band
// at a time, and the reference the banded ways are held to.
Bitmap WholeRgba(TiffFile& file, uint32_t w, uint32_t h) {
  // Decoded straight into the bitmap, whose 32-bit rows are a plain width x height array.
  Bitmap bitmap(static_cast<int>(w), static_cast<int>(h), PixelFormat::pf32bit);
  if (TIFFReadRGBAImageOriented(file.get(), w, h, reinterpret_cast<uint32_t*>(bitmap.Bits()),
                                ORIENTATION_TOPLEFT, 1) != 1 ||
      file.TakeError()) {
    throw PdfError(kCannotDecode);
  }
  return bitmap;
}

// Fills the slices of an image from `next`, which writes the next row of the image, and hands
// each slice to `code` as soon as its rows are there. Consecutive slices share a row, kept from
// the slice above, so that every row is decoded once and only one slice is held at a time.
void FillSlices(int32_t width, int32_t height, PixelFormat format,
                const std::function<void(uint8_t*)>& next,
                const std::function<void(Bitmap&)>& code) {
  std::vector<uint8_t> shared;
  for (const auto& [first, count] : TiffSliceRanges(height)) {
    Bitmap slice(width, count, format);
    int32_t y = 0;
    if (first > 0) std::memcpy(slice.ScanLine(y++), shared.data(), shared.size());
    for (; y < count; ++y) next(slice.ScanLine(y));
    const uint8_t* last = slice.ScanLine(count - 1);
    shared.assign(last, last + slice.RowStride());
    code(slice);
  }
}

TiffPageImage PrepareImage(TiffFile& file, PdfImageCompressionType compression, int jpegQuality,
                           TiffDecoding decoding) {
  TIFF* tif = file.get();
  const auto [w, h] = CheckedSize(tif);
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
  if (fax && (decoding == TiffDecoding::kAuto || decoding == TiffDecoding::kOneBit) &&
      IsOneBitPage(tif, w)) {
    const std::unique_ptr<RowSource> rows = OneBitRows(file, w, h);
    FillSlices(
        page.Width, page.Height, PixelFormat::pf1bit, [&](uint8_t* row) { rows->Next(row); },
        [&](Bitmap& slice) {
          slice.SetPalette({kBlack, kWhite});
          add(slice);
        });
    return page;
  }

  const uint32_t band_rows = decoding == TiffDecoding::kWhole ? 0 : RgbaBandRows(tif, w, h);
  if (band_rows > 0) {
    RgbaRows rows(file, w, h, band_rows);
    FillSlices(
        page.Width, page.Height, PixelFormat::pf32bit, [&](uint8_t* row) { rows.Next(row); },
        [&](Bitmap& slice) {
          ReduceRgba(slice, fax);
          add(slice);
        });
    return page;
  }

  Bitmap whole = WholeRgba(file, w, h);
  if (!page.Sliced) {
    ReduceRgba(whole, fax);
    add(whole);
    return page;
  }
  int32_t row = 0;
  FillSlices(
      page.Width, page.Height, PixelFormat::pf32bit,
      [&](uint8_t* out) { std::memcpy(out, whole.ScanLine(row++), whole.RowStride()); },
      [&](Bitmap& slice) {
        ReduceRgba(slice, fax);
        add(slice);
      });
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
  image.Rows.resize(image.Stride * h);
  if (IsOneBitPage(tif, w)) {
    const std::unique_ptr<RowSource> rows = OneBitRows(file, w, h);
    for (uint32_t y = 0; y < h; ++y) rows->Next(image.Rows.data() + image.Stride * y);
    return image;
  }
  Bitmap bitmap = WholeRgba(file, w, h);
  ReduceRgba(bitmap, true);
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
