// Group 4 pages transcoded: the raw strip or the raw tiles of a band read with libtiff, one
// decoder per strip or tile, rows joined across the tiles of a band and inverted for MinIsBlack,
// then coded slice by slice with the ranges and white reference rows of the bitmap path.
#include "pdf/tiff_group4.h"

#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "common/stream.h"
#include "pdf/ccitt_compression.h"
#include "pdf/group4_decoder.h"

namespace brevis {

namespace {

// The raw (still coded) bytes of one strip or tile; empty when libtiff cannot give them all.
std::vector<uint8_t> RawStrile(TIFF* tif, uint32_t strile, bool tiled) {
  const uint64_t size = TIFFGetStrileByteCount(tif, strile);
  // A count beyond the file (a damaged directory) is left to libtiff, before anything is taken.
  struct stat file {};
  if (size == 0 || fstat(TIFFFileno(tif), &file) != 0 ||
      size > static_cast<uint64_t>(file.st_size)) {
    return {};
  }
  std::vector<uint8_t> data;
  data.reserve(static_cast<std::size_t>(size) + Group4Decoder::kPadding);
  data.resize(static_cast<std::size_t>(size));
  const tmsize_t read =
      tiled ? TIFFReadRawTile(tif, strile, data.data(), static_cast<tmsize_t>(size))
            : TIFFReadRawStrip(tif, strile, data.data(), static_cast<tmsize_t>(size));
  if (read != static_cast<tmsize_t>(size)) return {};
  return data;
}

// The rows of the image from the top, as changing elements in the image's own colours (black is
// what the coder codes as black).
class PageRows {
 public:
  PageRows(TIFF* tif, int32_t width, bool tiled, bool inverted, bool lsbFirst)
      : tif_(tif),
        width_(width),
        tiled_(tiled),
        inverted_(inverted),
        lsbFirst_(lsbFirst),
        changes_(static_cast<std::size_t>(width) + 1) {
    if (tiled) {
      TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth_);
      TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength_);
    }
  }

  // Decodes the next row; false when the data does not give it.
  bool Next() {
    if (!tiled_) {
      if (decoders_.empty() && !StartBand(1, static_cast<uint32_t>(width_))) return false;
      Group4Decoder& decoder = decoders_.front();
      if (!decoder.NextRow()) return false;
      count_ = 0;
      Append(decoder.Changes(), decoder.ChangeCount(), 0);
    } else {
      if (rowInBand_ == tileLength_) {
        decoders_.clear();
        rowInBand_ = 0;
      }
      const auto width = static_cast<uint32_t>(width_);
      if (decoders_.empty() && !StartBand((width + tileWidth_ - 1) / tileWidth_, tileWidth_)) {
        return false;
      }
      count_ = 0;
      for (std::size_t i = 0; i < decoders_.size(); ++i) {
        if (!decoders_[i].NextRow()) return false;
        Append(decoders_[i].Changes(), decoders_[i].ChangeCount(),
               static_cast<int32_t>(i * tileWidth_));
      }
      ++rowInBand_;
    }
    if (inverted_) Invert();
    return true;
  }

  const int32_t* Changes() const { return changes_.data(); }
  std::size_t Count() const { return count_; }
  // The row's own Group 4 codes, when they are the ones our coder writes against the row above:
  // a strip (a tile holds part of a row), not inverted (the codes are for the other colours).
  const Group4Decoder* CodedRow() const {
    return !tiled_ && !inverted_ && decoders_.front().RowIsCanonical() ? &decoders_.front()
                                                                       : nullptr;
  }

 private:
  // Decoders for the strip, or for the tiles of the next band, each `columns` pixels wide.
  bool StartBand(uint32_t tiles, uint32_t columns) {
    if (tiles == 0 || columns == 0 || columns > static_cast<uint32_t>(kTiffMaxSide) * 2) {
      return false;
    }
    decoders_.clear();
    decoders_.reserve(tiles);
    for (uint32_t i = 0; i < tiles; ++i) {
      const uint32_t strile = tiled_ ? band_ * tiles + i : 0;
      std::vector<uint8_t> data = RawStrile(tif_, strile, tiled_);
      if (data.empty()) return false;
      decoders_.emplace_back(std::move(data), static_cast<int32_t>(columns), lsbFirst_);
    }
    ++band_;
    return true;
  }

  // Adds a strip's or tile's changes starting `offset` pixels in. Each part starts white, so a
  // row that is black where the part begins changes there; changes at the image's width and
  // beyond (a tile's pixels past the image) are dropped.
  void Append(const int32_t* changes, std::size_t count, int32_t offset) {
    if (offset >= width_) return;
    if (count_ % 2 == 1) Put(offset);
    for (std::size_t i = 0; i < count; ++i) {
      const int32_t x = offset + changes[i];
      if (x >= width_) break;
      Put(x);
    }
  }

  void Put(int32_t x) {
    // A change where the row already changes cancels it: the tile before ended black and this
    // one starts black.
    if (count_ != 0 && changes_[count_ - 1] == x) {
      --count_;
    } else {
      changes_[count_++] = x;
    }
  }

  // The other colours: the row starts black, so it changes at 0 unless it changed there already.
  void Invert() {
    if (count_ != 0 && changes_[0] == 0) {
      std::copy(changes_.begin() + 1, changes_.begin() + static_cast<std::ptrdiff_t>(count_),
                changes_.begin());
      --count_;
    } else {
      std::copy_backward(changes_.begin(), changes_.begin() + static_cast<std::ptrdiff_t>(count_),
                         changes_.begin() + static_cast<std::ptrdiff_t>(count_) + 1);
      changes_[0] = 0;
      ++count_;
    }
  }

  TIFF* tif_;
  int32_t width_;
  bool tiled_;
  bool inverted_;
  bool lsbFirst_;
  uint32_t tileWidth_ = 0;
  uint32_t tileLength_ = 0;
  uint32_t band_ = 0;       // the next band of tiles to start
  uint32_t rowInBand_ = 0;  // rows of the current band given so far
  std::vector<Group4Decoder> decoders_;
  std::vector<int32_t> changes_;
  std::size_t count_ = 0;
};

// Whether the image is one this path takes, and how its rows are read.
struct Layout {
  bool tiled = false;
  bool inverted = false;
  bool lsbFirst = false;
};

std::optional<Layout> Group4Layout(TIFF* tif, uint32_t height) {
  uint16_t compression = 0, bits = 0, samples = 0, photometric = 0, orientation = 0, fill = 0;
  uint32_t options = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fill);
  if (compression != COMPRESSION_CCITTFAX4 || bits != 1 || samples != 1 ||
      orientation != ORIENTATION_TOPLEFT ||
      TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1 ||
      (photometric != PHOTOMETRIC_MINISWHITE && photometric != PHOTOMETRIC_MINISBLACK)) {
    return std::nullopt;
  }
  // Uncompressed mode and other options are left to libtiff.
  if (TIFFGetField(tif, TIFFTAG_T6OPTIONS, &options) == 1 && options != 0) return std::nullopt;
  Layout layout;
  layout.tiled = TIFFIsTiled(tif) != 0;
  layout.inverted = photometric == PHOTOMETRIC_MINISBLACK;
  layout.lsbFirst = fill == FILLORDER_LSB2MSB;
  if (layout.tiled) {
    uint32_t tile_width = 0, tile_length = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tile_length);
    if (tile_width == 0 || tile_length == 0) return std::nullopt;
  } else {
    uint32_t rows_per_strip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
    if (rows_per_strip < height || TIFFNumberOfStrips(tif) != 1) return std::nullopt;
  }
  return layout;
}

}  // namespace

std::optional<std::vector<TiffSlice>> TranscodeGroup4(TIFF* tif, int32_t width, int32_t height,
                                                      int createCode) {
  const std::optional<Layout> layout = Group4Layout(tif, static_cast<uint32_t>(height));
  if (!layout) return std::nullopt;
  static constexpr CCITT kModes[] = {CCITT::CCITT31D, CCITT::CCITT32D, CCITT::CCITT42D};
  PageRows rows(tif, width, layout->tiled, layout->inverted, layout->lsbFirst);
  CcittCompression coder;
  coder.SetMode(kModes[createCode - 2]);
  std::vector<TiffSlice> slices;
  int32_t decoded = 0;  // rows decoded so far; the last one is in `rows`
  for (const auto& [first, count] : TiffSliceRanges(height)) {
    MemoryStream data;
    coder.SetStream(&data);
    coder.BeginRows(width);
    for (int32_t y = first; y < first + count; ++y) {
      // A slice's first row is the last row of the slice before, decoded already.
      if (y == decoded) {
        if (!rows.Next()) return std::nullopt;
        ++decoded;
      }
      // A Group 4 row coded against the row above it, as in the page, is copied when its codes
      // are our coder's; the first row of a later slice is coded against white.
      const Group4Decoder* coded = rows.CodedRow();
      if (coded != nullptr && createCode == 4 && (y > first || y == 0)) {
        coder.PutCodedRow(rows.Changes(), rows.Count(), coded->Data(), coded->RowFirstBit(),
                          coded->RowBits());
      } else {
        coder.PutRow(rows.Changes(), rows.Count());
      }
    }
    coder.EndRows();
    slices.push_back({std::make_unique<PdfImage>(data.Bytes(), width, count, createCode), count});
  }
  return slices;
}

}  // namespace brevis
