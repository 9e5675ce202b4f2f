// Image stream objects: the data of each coding and the image dictionary around it.
#include "pdf/pdf_image.h"

#include <memory>
#include <utility>

#include "pdf/bitmap.h"
#include "pdf/ccitt_compression.h"
#include "pdf/flate.h"
#include "pdf/jpeg_image.h"
#include "pdf/pdf_error.h"

namespace brevis {

namespace {

// The Indexed colour space's lookup string: 256 groups of six upper-case hexadecimal digits
// and a blank; entries past the end of a shorter palette are black.
std::string LookupString(const std::vector<RgbQuad>& palette) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(256 * 7);
  for (std::size_t i = 0; i < 256; ++i) {
    const RgbQuad color = i < palette.size() ? palette[i] : kBlack;
    for (const uint8_t value : {color.red, color.green, color.blue}) {
      text += kDigits[value >> 4];
      text += kDigits[value & 15];
    }
    text += ' ';
  }
  return text;
}

// Flate data of a bitmap: 8-bit indexes for the indexed formats, else red, green and blue bytes.
// Returns whether the bitmap became 8 bits per pixel.
bool WriteFlateData(const Bitmap& image, MemoryStream& stream, std::string& lookup) {
  Bitmap copy = image;
  const PixelFormat from = copy.GetPixelFormat();
  const bool indexed =
      from == PixelFormat::pf1bit || from == PixelFormat::pf4bit || from == PixelFormat::pf8bit;
  copy.SetPixelFormat(indexed ? PixelFormat::pf8bit : PixelFormat::pf24bit);
  if (indexed) {
    if (copy.Palette().empty()) throw PdfError("Palette error");
    lookup = LookupString(copy.Palette());
  }
  const std::size_t row_bytes =
      static_cast<std::size_t>(copy.Width()) * (indexed ? std::size_t{1} : std::size_t{3});
  std::vector<uint8_t> raw(row_bytes * static_cast<std::size_t>(copy.Height()));
  for (int y = 0; y < copy.Height(); ++y) {
    const uint8_t* row = copy.ScanLine(y);
    uint8_t* to = raw.data() + static_cast<std::size_t>(y) * row_bytes;
    if (indexed) {
      std::copy(row, row + row_bytes, to);
      continue;
    }
    // The bitmap keeps blue, green, red; PDF wants red, green, blue.
    for (std::size_t i = 0; i < row_bytes; i += 3) {
      to[i] = row[i + 2];
      to[i + 1] = row[i + 1];
      to[i + 2] = row[i];
    }
  }
  if (!raw.empty()) {
    const std::vector<uint8_t> packed = FlateCompress(raw);
    stream.Write(packed.data(), packed.size());
    stream.SetPosition(0);
  }
  return indexed;
}

}  // namespace

PdfImage::PdfImage(const Bitmap& image, int compression, bool isMask,
                   const std::optional<PdfObjectNumber>& maskLink, const std::string& name,
                   int jpegQuality) {
  isMask_ = isMask;
  Build(&image, nullptr, compression, maskLink, name, jpegQuality);
}

PdfImage::PdfImage(const JpegImage& image, int compression, bool isMask,
                   const std::optional<PdfObjectNumber>& maskLink, const std::string& name,
                   int jpegQuality) {
  isMask_ = isMask;
  Build(nullptr, &image, compression, maskLink, name, jpegQuality);
}

PdfImage::PdfImage(const std::vector<uint8_t>& faxData, int width, int height, int compression) {
  if (compression < 2 || compression > 4) throw PdfError("Unsupported image format.");
  Stream().Write(faxData.data(), faxData.size());
  Stream().SetPosition(0);
  BuildDictionary(compression, width, height, false, "", std::nullopt, "");
}

int PdfImage::CreateCode(PdfImageCompressionType compression) {
  switch (compression) {
    case icJpeg:
      return 0;
    case icFlate:
      return 1;
    case icCCITT31:
      return 2;
    case icCCITT32:
      return 3;
    case icCCITT42:
      return 4;
  }
  return 1;
}

void PdfImage::Build(const Bitmap* bitmap, const JpegImage* jpeg, int compression,
                     const std::optional<PdfObjectNumber>& maskLink, const std::string& name,
                     int jpegQuality) {
  if (isMask_) compression = 4;
  // A JPEG picture is decoded when another coding needs its pixels.
  Bitmap decoded;
  if (bitmap == nullptr && compression != 0) {
    decoded = jpeg->ToBitmap();
    bitmap = &decoded;
  }

  MemoryStream& data = Stream();
  int width = 0, height = 0;
  std::string lookup;
  bool indexed = false;
  switch (compression) {
    case 0: {
      JpegImage coded = jpeg != nullptr ? *jpeg : JpegImage::FromBitmap(*bitmap, jpegQuality);
      data.Write(coded.Data().data(), coded.Data().size());
      data.SetPosition(0);
      width = coded.Width();
      height = coded.Height();
      break;
    }
    case 1:
      indexed = WriteFlateData(*bitmap, data, lookup);
      width = bitmap->Width();
      height = bitmap->Height();
      break;
    case 2:
    case 3:
    case 4: {
      static constexpr int kTypes[] = {31, 32, 42};
      CcittCompression coder;
      coder.CompressImage(*bitmap, kTypes[compression - 2], data);
      data.SetPosition(0);
      width = bitmap->Width();
      height = bitmap->Height();
      break;
    }
    default:
      throw PdfError("Unsupported image format.");
  }
  BuildDictionary(compression, width, height, indexed, std::move(lookup), maskLink, name);
}

void PdfImage::BuildDictionary(int compression, int width, int height, bool indexed,
                               std::string lookup, const std::optional<PdfObjectNumber>& maskLink,
                               const std::string& name) {
  PdfDictionaryObject& dictionary = Dictionary();
  dictionary.AddNameValue("Type", "XObject");
  dictionary.AddNameValue("Subtype", "Image");
  if (compression == 0) {
    dictionary.AddNameValue("ColorSpace", "DeviceRGB");
    dictionary.AddValue("Filter", std::make_unique<PdfArrayObject>(&dictionary))
        ->AddNameValue("DCTDecode");
  } else if (compression == 1) {
    dictionary.AddValue("Filter", std::make_unique<PdfArrayObject>(&dictionary))
        ->AddNameValue("FlateDecode");
    if (indexed) {
      auto* space =
          dictionary.AddValue("ColorSpace", std::make_unique<PdfArrayObject>(&dictionary));
      space->AddNameValue("Indexed");
      space->AddNameValue("DeviceRGB");
      space->AddNumericValue(255);
      space->AddObject(std::make_unique<PdfStringObject>(std::move(lookup), true, space));
    } else {
      dictionary.AddNameValue("ColorSpace", "DeviceRGB");
    }
  } else {
    dictionary.AddNameValue("ColorSpace", "DeviceGray");
    dictionary.AddValue("Filter", std::make_unique<PdfArrayObject>(&dictionary))
        ->AddNameValue("CCITTFaxDecode");
  }
  dictionary.AddNumericValue("Width", static_cast<float>(width));
  dictionary.AddNumericValue("Height", static_cast<float>(height));
  if (compression <= 1) {
    dictionary.AddNumericValue("BitsPerComponent", 8);
  } else {
    dictionary.AddNumericValue("BitsPerComponent", 1);
    auto* parms = dictionary.AddValue("DecodeParms", std::make_unique<PdfArrayObject>(&dictionary));
    auto* fax = parms->AddObject(std::make_unique<PdfDictionaryObject>(parms));
    fax->AddNumericValue("K", static_cast<float>(compression == 2 ? 0 : compression == 3 ? 1 : -1));
    fax->AddNumericValue("Columns", static_cast<float>(width));
    fax->AddNumericValue("Rows", static_cast<float>(height));
  }
  if (isMask_) dictionary.AddBooleanValue("ImageMask", true);
  if (maskLink.has_value()) {
    dictionary.AddValue("Mask", std::make_unique<PdfLink>(*maskLink));
  }
  if (!name.empty()) AddName(name);
}

void PdfImage::AddName(const std::string& name) { Dictionary().AddNameValue("Name", name); }

}  // namespace brevis
