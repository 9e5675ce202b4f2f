// Image XObjects: a bitmap or a JPEG picture coded as a PDF image stream (JPEG, Flate with an
// Indexed or RGB colour space, or CCITT fax data) with its image dictionary.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pdf/pdf_objects.h"

namespace brevis {

class Bitmap;
class JpegImage;

// The caller's choice of coding, in this order.
enum PdfImageCompressionType { icFlate, icJpeg, icCCITT31, icCCITT32, icCCITT42 };

// An image stream object. The dictionary holds, in this order: Type /XObject, Subtype /Image,
// the colour space and filter of the coding, Width, Height, BitsPerComponent (with DecodeParms
// for fax data), ImageMask (masks only), Mask (when given) and Name (when given). The writer adds
// Length.
//
// Create codes: 0 JPEG (DCTDecode, DeviceRGB), 1 Flate (8-bit palette indexes under an Indexed
// colour space for 1-, 4- and 8-bit bitmaps, else 24-bit DeviceRGB), 2 T.4 one-dimensional,
// 3 T.4 two-dimensional, 4 Group 4 (CCITTFaxDecode, DeviceGray, K 0, 1, -1). A mask is always
// coded as Group 4. The graphic is only read.
//
// Throws PdfError: "Image format must be B/W." when fax coding gets a bitmap that is not one bit
// per pixel, "Palette error" for an indexed bitmap without palette, and the JPEG and Flate
// coders' failures.
class PdfImage : public PdfStreamObject {
 public:
  PdfImage(const Bitmap& image, int compression, bool isMask,
           const std::optional<PdfObjectNumber>& maskLink, const std::string& name,
           int jpegQuality);
  PdfImage(const JpegImage& image, int compression, bool isMask,
           const std::optional<PdfObjectNumber>& maskLink, const std::string& name,
           int jpegQuality);

  // An image of fax data coded already (Create codes 2 to 4, as `compression` says), for
  // example by CcittCompression::PutRow: the same object as a bitmap of that size coded so.
  PdfImage(const std::vector<uint8_t>& faxData, int width, int height, int compression);

  bool IsMask() const { return isMask_; }
  // Appends the Name entry; for an image built without a name, named once it is registered.
  void AddName(const std::string& name);

  // The Create code of a compression type: icJpeg 0, icFlate 1, icCCITT31 2, icCCITT32 3,
  // icCCITT42 4.
  static int CreateCode(PdfImageCompressionType compression);

 private:
  void Build(const Bitmap* bitmap, const JpegImage* jpeg, int compression,
             const std::optional<PdfObjectNumber>& maskLink, const std::string& name,
             int jpegQuality);
  void BuildDictionary(int compression, int width, int height, bool indexed, std::string lookup,
                       const std::optional<PdfObjectNumber>& maskLink, const std::string& name);

  bool isMask_ = false;
};

}  // namespace brevis
