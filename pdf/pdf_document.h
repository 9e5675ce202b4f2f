// The PDF document component: settings, the table of indirect objects, the page table and the
// image table; BeginDoc starts a document, AddPage appends pages, EndDoc completes the document
// and has PdfWriter (pdf_writer.h) write it as one PDF 1.4 file. One object serves many documents
// in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/stream.h"
#include "pdf/pdf_image.h"
#include "pdf/pdf_objects.h"
#include "pdf/pdf_page.h"
#include "pdf/text_layer.h"
#include "pdf/tiff_import.h"

namespace brevis {

class Bitmap;
class JpegImage;
class TextLayerFont;

enum PdfVersType { pdf10, pdf11, pdf12, pdf13, pdf14, pdf15, pdf16, pdf17, pdf18, pdf19, pdf110 };
enum PdfPageLayout { plSinglePage, plOneColumn, plTwoColumnLeft, plTwoColumnRight };
enum PdfPageMode { pmUseNone, pmUseOutlines, pmUseThumbs, pmFullScreen, pmUseAttachments };
enum PdfViewerPreference {
  vpHideToolbar,
  vpHideMenubar,
  vpHideWindowUI,
  vpFitWindow,
  vpCenterWindow
};
using PdfViewerPreferences = std::set<PdfViewerPreference>;
enum PdfCompressionMethod { cmNone, cmFlateDecode };

// One page of the page table.
struct PdfDictArrItem {
  PdfDictionaryObject* PageObj = nullptr;  // owned by the object table
  PdfObjectNumber PageLink;                // the page dictionary's number at creation
  std::optional<PdfImageArea> ImageArea;   // where the TIFF import drew the page's last image
};

// One image of the image table. Its position in the table is the ImageIndex that
// PdfPage::ShowImage takes.
struct PdfImageObject {
  int32_t Index = 0;                 // the number in the image's name
  std::string Name;                  // resource name, "Im" + Index
  PdfObject* ImageObject = nullptr;  // indirect image stream, owned by the object table
  int32_t Width = 0, Height = 0;     // pixels
};

class PdfDocument {
 public:
  PdfDocument();
  ~PdfDocument();
  PdfDocument(const PdfDocument&) = delete;
  PdfDocument& operator=(const PdfDocument&) = delete;

  // Starts a new document with its first page open, discarding everything of an earlier one
  // (an unfinished page is dropped unclosed). Throws PdfError when the document identifier
  // cannot be computed.
  void BeginDoc();
  // Throws std::logic_error unless a document has been begun.
  void RequireDocument() const;
  // Appends a page and opens it (closing the open page first); returns its 0-based index.
  // Requires a begun document (std::logic_error otherwise).
  int32_t AddPage();
  // Completes the catalogue, page tree and Info dictionary and writes the document: to
  // OutputStream when one is set (left at position 0), else to FileName, replaced whole. Throws
  // PdfError ("Invalid filename.") with neither, ("Invalid pages object.") for a broken page
  // tree, and the errors of PdfWriter. Requires a begun document (std::logic_error otherwise).
  void EndDoc();

  int32_t CurrentPageNumber() const { return currentPageNum_; }
  // Closes the open page and opens page n. Throws PdfError ("Invalid page number.") for n outside
  // the pages; the open page then stays open.
  void SetCurrentPageNumber(int32_t n);
  // The open page, or null.
  PdfPage* CurrentPage() { return currentPage_.get(); }

  // Removes a page: its dictionary, content stream and annotations are left out of the file, and
  // so are its images unless another page shows them. When it was the open page, the page before
  // it (or the new first page) is opened; otherwise the open page stays open. Throws PdfError
  // ("Invalid page number") for an index outside the pages.
  void DeletePage(int32_t pageIndex);

  // Takes an object over as a numbered top-level object: object number FMaxObjNum + 1,
  // generation 0, appended to the object table. Returns it.
  template <class T>
  T* AddIndirectObject(std::unique_ptr<T> object) {
    T* raw = object.get();
    AppendIndirect(std::move(object));
    return raw;
  }
  PdfDictionaryObject* NewIndirectDictionary();
  // The object of the object table with the link's number and generation, or null.
  PdfObject* FindIndirectObject(const PdfLink& link) const;
  PdfObject* FindIndirectObject(const PdfObjectNumber& id) const;
  const std::vector<std::unique_ptr<PdfObject>>& IndirectObjects() const { return objects_; }

  // The image table. Image objects plug in here: AddImage (and the TIFF import on top of it)
  // takes a name with NextImageName, builds its stream object under that name, and hands it to
  // RegisterImage; ShowImage places it by the returned position.
  const std::vector<PdfImageObject>& XImages() const { return xImages_; }
  // The counter behind image names; 0 when a document begins.
  int32_t CurrentImageIndex() const { return currentImageIndex_; }
  // "Im" + the counter, after moving the counter past every name already used (ignoring ASCII
  // case) by the image table or by the open page's XObject resources.
  std::string NextImageName();
  // Takes the image object over as an indirect object and appends (CurrentImageIndex(), name,
  // width, height) to the image table. Returns the new entry's position.
  int32_t RegisterImage(std::unique_ptr<PdfStreamObject> image, std::string name, int32_t width,
                        int32_t height);

  // Adds a bitmap or a JPEG picture as an image object (see PdfImage for the codings) under the
  // next free name and returns its position in the image table, the index ShowImage takes. With
  // isMask the image becomes a stencil mask coded as Group 4 (a one-bit bitmap is needed).
  // maskIndex >= 0 names the Index of an earlier image to use as this image's mask; when no image
  // has that Index the image gets no mask. Throws PdfError ("Incorrect mask index.") for a
  // maskIndex past CurrentImageIndex(), and the errors of PdfImage; a failure adds nothing.
  // Requires a begun document (std::logic_error otherwise).
  int32_t AddImage(const Bitmap& image, PdfImageCompressionType compression, bool isMask = false,
                   int32_t maskIndex = -1);
  int32_t AddImage(const JpegImage& image, PdfImageCompressionType compression, bool isMask = false,
                   int32_t maskIndex = -1);
  // Loads the file and adds it as above. The extension, compared exactly, picks the loader:
  // icJpeg reads a ".bmp" file as a bitmap and anything else as JPEG; icFlate reads a ".jpg" file
  // as JPEG and anything else as a bitmap; the fax codings read a bitmap. Throws the loaders'
  // PdfErrors ("Cannot open file ...", "Invalid bitmap file.", "Invalid JPEG data.", ...).
  int32_t AddImage(const std::string& fileName, PdfImageCompressionType compression,
                   bool isMask = false, int32_t maskIndex = -1);

  // Puts every image of a TIFF file into the document: the first on the current page, each
  // further one on a page added for it; the page of the last image stays current. Images of
  // 1200 rows or more are placed as slices sharing a row. tptResizePage sizes each page to its
  // image in page units; tptResizeImage scales the image to the page's width. Throws PdfError
  // "Invalid tiff file name" (nothing added) for a file that cannot be opened or is no TIFF
  // file; "Tiff image too large" and "Cannot decode tiff image" for an image that cannot be
  // read, after the images before it have been placed. The document stays usable after any
  // failure.
  void AddTiffFromFile(const std::string& fileName, PdfImageCompressionType compression,
                       TiffPaintType paintType);
  // Places a file read by PrepareTiff as AddTiffFromFile does, then throws its error, if any.
  // PrepareTiff may run on any thread (core/page_read_ahead.h reads files ahead that way).
  void AddPreparedTiff(PreparedTiff tiff, TiffPaintType paintType);

  // Writes recognised lines as a text layer (text_layer.h) over the image that the TIFF import
  // (AddTiffFromFile, AddPreparedTiff) placed last on the open page; the boxes are in the pixels
  // of an imageWidth x imageHeight picture of that image (the image's own size, or that of a
  // scaled copy). The document's one text-layer font is added with the first line
  // written, and only then: without lines, or with none that has text and a box, the document
  // stays byte for byte as it was. Requires a begun document, an open page with such an image
  // and positive sizes (std::logic_error otherwise); throws PdfError when Flate fails.
  void AddTextLayer(const std::vector<TextLine>& lines, int32_t imageWidth, int32_t imageHeight,
                    TextLayerMode mode = tlInvisible);

  // The document identifier: MD5 of FileName and the time of BeginDoc, 32 hexadecimal digits.
  const std::string& DocID() const { return docId_; }
  // "D:" and the local time as yyyymmddhhnnss.
  static std::string FormatPdfDate();

  // Properties. The Info texts, PageLayout, PageMode and ViewerPreferences take effect at EndDoc;
  // Compression when a page is closed; Resolution whenever page coordinates are converted.
  const std::string& Author() const { return author_; }
  void SetAuthor(std::string value) { author_ = std::move(value); }
  const std::string& Keywords() const { return keywords_; }
  void SetKeywords(std::string value) { keywords_ = std::move(value); }
  const std::string& Subject() const { return subject_; }
  void SetSubject(std::string value) { subject_ = std::move(value); }
  const std::string& Title() const { return title_; }
  void SetTitle(std::string value) { title_ = std::move(value); }
  // Output path (UTF-8).
  const std::string& FileName() const { return fileName_; }
  void SetFileName(std::string value) { fileName_ = std::move(value); }
  // Stored only; the header always declares 1.4.
  PdfVersType Version() const { return version_; }
  void SetVersion(PdfVersType value) { version_ = value; }
  // BeginDoc sets plOneColumn, so only a layout set after BeginDoc reaches the file.
  PdfPageLayout PageLayout() const { return pageLayout_; }
  void SetPageLayout(PdfPageLayout value) { pageLayout_ = value; }
  PdfPageMode PageMode() const { return pageMode_; }
  void SetPageMode(PdfPageMode value) { pageMode_ = value; }
  int32_t PagesCount() const { return pagesCount_; }
  // Setting them, even to the empty set, makes EndDoc write a ViewerPreferences dictionary.
  const PdfViewerPreferences& ViewerPreferences() const { return viewerPreferences_; }
  void SetViewerPreferences(PdfViewerPreferences value);
  int32_t JpegQuality() const { return jpegQuality_; }
  void SetJpegQuality(int32_t value) { jpegQuality_ = value; }
  PdfCompressionMethod Compression() const { return compression_; }
  void SetCompression(PdfCompressionMethod value) { compression_ = value; }
  bool KeepImageAspectRatio() const { return keepImageAspectRatio_; }
  void SetKeepImageAspectRatio(bool value) { keepImageAspectRatio_ = value; }
  int32_t Resolution() const { return resolution_; }
  // Also sets DocScale to value / 72.
  void SetResolution(int32_t value);
  long double DocScale() const { return docScale_; }
  // Stored only.
  PdfImageCompressionType ImageCompressionType() const { return imageCompressionType_; }
  void SetImageCompressionType(PdfImageCompressionType value) { imageCompressionType_ = value; }
  // The stream EndDoc writes to instead of FileName (not owned). Throws PdfError ("Cannot set
  // OutputStream value - document in progress.") once any document has been begun.
  void SetOutputStream(Stream* stream);

 private:
  void AppendIndirect(std::unique_ptr<PdfObject> object);
  PdfDictionaryObject& Catalog() const;
  PdfDictionaryObject& Info() const;
  PdfDictionaryObject& PagesRoot() const;
  void ReleaseCurrentPage();
  using ImageFactory = std::function<std::unique_ptr<PdfImage>(
      const std::string& name, const std::optional<PdfObjectNumber>& mask)>;
  int32_t AddImageObject(const ImageFactory& create, int32_t maskIndex, int32_t width,
                         int32_t height);
  void PlaceTiffImage(TiffPageImage& image, TiffPaintType paintType);

  std::string docId_;
  long double docScale_ = 1.0L;
  int32_t currentImageIndex_ = 0;
  bool vpChanged_ = false;
  int32_t pagesCount_ = 0;
  int32_t currentPageNum_ = -1;
  bool docStarted_ = false;
  PdfObjectNumber rootLink_, infoLink_;
  std::size_t pagesIndex_ = 0, rootIndex_ = 0, infoIndex_ = 0;
  int32_t maxObjNum_ = 0;
  int32_t resolution_ = 72;
  std::vector<PdfDictArrItem> pageArr_;
  std::vector<std::unique_ptr<PdfObject>> objects_;  // IndirectObjects, in creation order
  bool memStream_ = false;
  std::string subject_, title_, author_, keywords_;
  Stream* outputStream_ = nullptr;
  std::string fileName_;
  PdfVersType version_ = pdf14;
  std::unique_ptr<PdfPage> currentPage_;
  PdfCompressionMethod compression_ = cmFlateDecode;
  PdfPageLayout pageLayout_ = plSinglePage;
  PdfPageMode pageMode_ = pmUseNone;
  PdfViewerPreferences viewerPreferences_;
  std::vector<PdfImageObject> xImages_;
  std::unique_ptr<TextLayerFont> textLayerFont_;  // made afresh by BeginDoc
  bool keepImageAspectRatio_ = false;
  PdfImageCompressionType imageCompressionType_ = icFlate;
  int32_t jpegQuality_ = 100;
};

}  // namespace brevis
