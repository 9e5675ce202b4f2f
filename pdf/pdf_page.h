// The open page of a PDF document: its box and coordinate conversion, the operator lines of its
// content stream, image placement, and the Flate-compressed content stream written when the
// page is left. The document (pdf_document.h) opens and closes pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pdf/pdf_objects.h"

namespace brevis {

class PdfDocument;

enum PdfPageOrientation { poPortrait, poLandscape };

// Page boxes in points (width x height), listed in pdf_page.cpp; psUserDefined keeps the
// current Width and Height.
enum PdfPageSize {
  psUserDefined,
  psLetter,
  psA4,
  psA3,
  psLegal,
  psB5,
  psC5,
  ps8x11,
  psB4,
  psA5,
  psFolio,
  psExecutive,
  psEnvB4,
  psEnvB5,
  psEnvC6,
  psEnvDL,
  psEnvMonarch,
  psEnv9,
  psEnv10,
  psEnv11
};

enum PdfTextRenderingMode {
  trFill,
  trStroke,
  trFillThenStroke,
  trInvisible,
  trFillClipping,
  trStrokeClipping,
  trFillStrokeClipping,
  trClipping
};

// A box on the page in page units, its top-left corner (X, Y) measured from the top-left of the
// page.
struct PdfImageArea {
  long double X = 0, Y = 0, Width = 0, Height = 0;
};

// Colour values hold red in the lowest byte, then green and blue; 0 or less draws black.
inline constexpr int32_t kColorBlack = 0x000000;
inline constexpr int32_t kColorRed = 0x0000FF;

// Works on one page dictionary of `parent`, which owns the dictionary, its content stream and its
// resources; the page object holds no PDF objects of its own. Collected lines reach the content
// stream only in ClosePage. Misuse (a page dictionary not made by PdfDocument::AddPage) raises
// PdfError.
class PdfPage {
 public:
  PdfPage(PdfDocument& parent, PdfDictionaryObject& pageObj);
  PdfPage(const PdfPage&) = delete;
  PdfPage& operator=(const PdfPage&) = delete;

  // Attaches to the page dictionary: finds the content stream, reads the box and the resources
  // and starts a block of lines with a CR LF line. Throws PdfError ("Invalid page resources.")
  // when the dictionary has no "Resources", ("Invalid page contents.") without a content stream
  // and ("Invalid page box.") without a four-number "MediaBox".
  void OpenPage();
  // Ends the block with the fixed closing lines and appends it to the content stream's earlier
  // data (inflated first when it was Flate-coded), Flate-compressed at level 9 unless the
  // document's Compression is cmNone. Throws PdfError when zlib fails.
  void ClosePage();

  // Appends one line to the content.
  void AppendContent(std::string text);
  const std::vector<std::string>& PageContent() const { return pageContent_; }

  // Enters image `imageIndex` of the document's image table into the page's XObject resources
  // and draws it in the box whose top-left corner is (x, y) in page units from the top of the
  // page, turned by `angle` degrees about the box's bottom-left corner. Returns the box the image
  // fills before turning (narrowed by the document's KeepImageAspectRatio). Throws
  // std::out_of_range for an index outside the table.
  PdfImageArea ShowImage(int32_t imageIndex, long double x, long double y, long double w,
                         long double h, long double angle);

  // Enters an indirect font object into the page's Font resources under `name`, replacing what
  // was there under that name.
  void AddFontResource(const std::string& name, const PdfObject& font);

  void GStateSave();
  // Writes "Q" only to close an open "q"; returns whether it did.
  bool GStateRestore();
  void Concat(float a, float b, float c, float d, float e, float f);
  void SetRGBStrokeColor(int32_t value);
  void SetRGBFillColor(int32_t value);
  void SetRGBColor(int32_t value);
  void SetLineWidth(float width);
  void SetTextRenderingMode(PdfTextRenderingMode mode);
  // The four text-state operators write only a changed value.
  void SetHorizontalScaling(float value);
  void SetCharacterSpacing(float value);
  void SetWordSpacing(float value);
  void SetLeading(float value);

  // Page units (Resolution per inch), cut to whole numbers by the size setters.
  float Width() const { return width_; }
  float Height() const { return height_; }
  // Sets the box's width (height) to `points`; the size becomes psUserDefined.
  void SetWidth(float points);
  void SetHeight(float points);
  PdfPageSize Size() const { return size_; }
  void SetSize(PdfPageSize size);
  PdfPageOrientation Orientation() const { return orientation_; }
  // Exchanges width and height when the page's shape does not match the orientation.
  void SetOrientation(PdfPageOrientation orientation);
  int32_t Resolution() const { return resolution_; }
  // Page units per inch; throws PdfError ("Invalid resolution.") unless positive.
  void SetResolution(int32_t resolution);

  // Page units to PDF user space (origin bottom left). ConvertX also converts lengths.
  float ConvertX(float value) const;
  float ConvertY(float value) const;

  // Keys of the XObject resources when the page was opened; image names must avoid them.
  const std::vector<std::string>& XObjectNames() const { return xObjectNames_; }
  PdfDictionaryObject& PageObj() { return pageObj_; }
  PdfStreamObject* PageObjStream() { return pageObjStream_; }
  int32_t FillColor() const { return fillColor_; }
  int32_t StrokeColor() const { return strokeColor_; }

 private:
  void ApplyPageSize();
  PdfObject* Resolve(PdfObject* object) const;
  long double DocScale() const;

  PdfDocument& parent_;
  PdfDictionaryObject& pageObj_;
  PdfStreamObject* pageObjStream_ = nullptr;      // not owned
  PdfDictionaryObject* xObjectObj_ = nullptr;     // not owned
  PdfDictionaryObject* fontObjectObj_ = nullptr;  // not owned
  PdfArrayObject* mediaBoxArray_ = nullptr;       // not owned
  std::vector<std::string> xObjectNames_;         // XObject keys when the page was opened
  std::vector<std::string> pageContent_;

  float dpi_ = 1.0f;  // points per page unit
  float wordSpace_ = 0, charSpace_ = 0, leading_ = 0, horizontalScaling_ = 100;
  int32_t isStated_ = 0;  // open "q" ... "Q" pairs
  bool fkBegin_ = false, skBegin_ = false;
  int32_t fillColor_ = kColorBlack, strokeColor_ = kColorBlack;
  float minXVal_ = 0, minYVal_ = 0, maxXVal_ = 0, maxYVal_ = 0;
  int32_t resolution_ = 72;
  float mWidth_ = 0, mHeight_ = 0;  // points
  float width_ = 0, height_ = 0;    // page units
  PdfPageSize size_ = psUserDefined;
  PdfPageOrientation orientation_ = poPortrait;
};

}  // namespace brevis
