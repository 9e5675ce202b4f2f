// The document component: object table, page tree, image table and Info dictionary.
#include "pdf/pdf_document.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <stdexcept>

#include "common/text.h"
#include "pdf/bitmap.h"
#include "pdf/bitmap_file.h"
#include "pdf/jpeg_image.h"
#include "pdf/md5_digest.h"
#include "pdf/pdf_error.h"
#include "pdf/pdf_writer.h"
#include "pdf/text_layer_font.h"

namespace brevis {
namespace {

constexpr char kCreator[] = "Folvane Lib https://folvane.example/";
constexpr char kDefaultAuthor[] = "Folvane Lib User";
constexpr char kDefaultTitle[] = "Created by Folvane Lib";
constexpr char kDefaultKeywords[] = "Folvane Lib, PDF";
constexpr char kInvalidPageNumber[] = "Invalid page number.";
constexpr char kInvalidPagesObject[] = "Invalid pages object.";

constexpr const char* kPageLayoutNames[] = {"SinglePage", "OneColumn", "TwoColumnLeft",
                                            "TwoColumnRight"};
constexpr const char* kPageModeNames[] = {"UseNone", "UseOutlines", "UseThumbs", "FullScreen",
                                          "UseAttachments"};
constexpr const char* kViewerPreferenceNames[] = {"HideToolbar", "HideMenubar", "HideWindowUI",
                                                  "FitWindow", "CenterWindow"};

struct LocalTime {
  std::tm tm;
  int milliseconds;
};

LocalTime Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  LocalTime local{};
  localtime_r(&seconds, &local.tm);
  local.milliseconds = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  return local;
}

// "ddd dd-mm-yyyy hh:nn:ss.zzz", for the document identifier.
std::string DocIdTime(const LocalTime& t) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  char text[96];
  std::snprintf(text, sizeof text, "%s %02d-%02d-%04d %02d:%02d:%02d.%03d", kDays[t.tm.tm_wday % 7],
                t.tm.tm_mday, t.tm.tm_mon + 1, t.tm.tm_year + 1900, t.tm.tm_hour, t.tm.tm_min,
                t.tm.tm_sec, t.milliseconds);
  return text;
}

// A PDF text string of UTF-8 `text`: ASCII as it is; anything else as UTF-16BE behind its byte
// order mark, so that every reader shows the characters (say, a Chinese subject).
std::string TextString(const std::string& text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return text;
  std::string bytes = "\xFE\xFF";
  for (char16_t unit : Utf8ToUtf16(text)) {
    bytes += static_cast<char>(unit >> 8);
    bytes += static_cast<char>(unit & 0xFF);
  }
  return bytes;
}

}  // namespace

PdfDocument::PdfDocument()
    : title_(kDefaultTitle), author_(kDefaultAuthor), keywords_(kDefaultKeywords) {}

PdfDocument::~PdfDocument() = default;

void PdfDocument::RequireDocument() const {
  if (objects_.empty()) throw std::logic_error("No document has been begun.");
}

PdfDictionaryObject& PdfDocument::Catalog() const {
  return static_cast<PdfDictionaryObject&>(*objects_.at(rootIndex_));
}

PdfDictionaryObject& PdfDocument::Info() const {
  return static_cast<PdfDictionaryObject&>(*objects_.at(infoIndex_));
}

PdfDictionaryObject& PdfDocument::PagesRoot() const {
  return static_cast<PdfDictionaryObject&>(*objects_.at(pagesIndex_));
}

void PdfDocument::AppendIndirect(std::unique_ptr<PdfObject> object) {
  if (object == nullptr) throw std::logic_error("No object to add.");
  object->MakeIndirect({maxObjNum_ + 1, 0});
  objects_.push_back(std::move(object));
  ++maxObjNum_;
}

PdfDictionaryObject* PdfDocument::NewIndirectDictionary() {
  return AddIndirectObject(std::make_unique<PdfDictionaryObject>());
}

PdfObject* PdfDocument::FindIndirectObject(const PdfLink& link) const {
  return FindIndirectObject(link.Value());
}

PdfObject* PdfDocument::FindIndirectObject(const PdfObjectNumber& id) const {
  for (const auto& object : objects_) {
    if (object->ID() == id) return object.get();
  }
  return nullptr;
}

void PdfDocument::ReleaseCurrentPage() {
  currentPage_.reset();
  currentPageNum_ = -1;
}

void PdfDocument::BeginDoc() {
  docStarted_ = true;
  docId_ = Md5Hex(fileName_ + DocIdTime(Now()));

  // Start afresh; an unfinished page refers to objects about to go, so it is dropped unclosed.
  ReleaseCurrentPage();
  objects_.clear();
  maxObjNum_ = 0;
  pageArr_.clear();
  xImages_.clear();
  pagesCount_ = 0;
  textLayerFont_ = std::make_unique<TextLayerFont>(*this);

  PdfDictionaryObject* catalog = NewIndirectDictionary();
  rootIndex_ = static_cast<std::size_t>(maxObjNum_ - 1);
  rootLink_ = catalog->ID();
  catalog->AddNameValue("Type", "Catalog");

  PdfDictionaryObject* info = NewIndirectDictionary();
  infoIndex_ = static_cast<std::size_t>(maxObjNum_ - 1);
  infoLink_ = info->ID();
  for (const char* key :
       {"CreationDate", "Creator", "Author", "Title", "Keywords", "Subject", "ModDate"}) {
    info->AddStringValue(key, "");
  }

  PdfDictionaryObject* pages = NewIndirectDictionary();
  pagesIndex_ = objects_.size() - 1;
  catalog->AddValue("Pages", *pages);
  pageLayout_ = plOneColumn;
  pages->AddNameValue("Type", "Pages");
  pages->AddValue("Kids", std::make_unique<PdfArrayObject>(pages));
  pages->AddNumericValue("Count", 0);

  AddPage();
  currentImageIndex_ = 0;
}

int32_t PdfDocument::AddPage() {
  RequireDocument();
  PdfDictionaryObject& pages = PagesRoot();
  ++pagesCount_;
  pages.AddNumericValue("Count", static_cast<float>(pagesCount_));

  PdfDictionaryObject* page = NewIndirectDictionary();
  page->AddNameValue("Type", "Page");
  page->AddValue("Parent", pages);
  auto* box = page->AddValue("MediaBox", std::make_unique<PdfArrayObject>(page));
  for (const float value : {0.0f, 0.0f, 595.0f, 842.0f}) box->AddNumericValue(value);
  auto* resources = page->AddValue("Resources", std::make_unique<PdfDictionaryObject>(page));
  auto* procSet = resources->AddValue("ProcSet", std::make_unique<PdfArrayObject>(resources));
  for (const char* name : {"PDF", "Text", "ImageC"}) procSet->AddNameValue(name);
  resources->AddValue("XObject", std::make_unique<PdfDictionaryObject>(resources));

  auto* contents = AddIndirectObject(std::make_unique<PdfStreamObject>());
  page->AddValue("Contents", *contents);
  PdfDictionaryObject& streamDict = contents->Dictionary();
  streamDict.AddNumericValue("Length", 0);
  streamDict.AddValue("Filter", std::make_unique<PdfArrayObject>(&streamDict));
  streamDict.AddValue("DecodeParms", std::make_unique<PdfArrayObject>(&streamDict));

  pageArr_.push_back({page, page->ID(), std::nullopt});
  SetCurrentPageNumber(pagesCount_ - 1);
  currentPage_->SetSize(psA4);
  return pagesCount_ - 1;
}

void PdfDocument::SetCurrentPageNumber(int32_t n) {
  if (n == currentPageNum_) return;
  if (n < 0 || n >= pagesCount_) throw PdfError(kInvalidPageNumber);
  if (currentPage_ != nullptr) {
    currentPage_->ClosePage();
    ReleaseCurrentPage();
  }
  auto page = std::make_unique<PdfPage>(*this, *pageArr_[static_cast<std::size_t>(n)].PageObj);
  page->OpenPage();
  currentPage_ = std::move(page);
  currentPageNum_ = n;
  currentPage_->SetRGBColor(kColorBlack);
  currentPage_->SetTextRenderingMode(trFill);
}

void PdfDocument::DeletePage(int32_t pageIndex) {
  if (pageIndex < 0 || pageIndex >= pagesCount_) throw PdfError("Invalid page number");
  const auto index = static_cast<std::size_t>(pageIndex);
  PdfDictionaryObject& page = *pageArr_[index].PageObj;
  const auto resolve = [this](PdfObject* object) {
    return object != nullptr && object->ObjectType() == otLink
               ? FindIndirectObject(*static_cast<PdfLink*>(object))
               : object;
  };
  // Every object behind a link in `holder` (a link itself, or an array or dictionary of links).
  const auto linked = [&](PdfObject* holder, auto&& visit) {
    if (holder == nullptr) return;
    if (holder->ObjectType() == otLink) {
      if (PdfObject* target = resolve(holder)) visit(*target);
    } else if (holder->ObjectType() == otArray) {
      auto& array = static_cast<PdfArrayObject&>(*holder);
      for (std::size_t k = 0; k < array.ItemCount(); ++k) {
        if (PdfObject* target = resolve(array.GetIndexedItem(k))) visit(*target);
      }
    } else if (holder->ObjectType() == otDictionary) {
      auto& dictionary = static_cast<PdfDictionaryObject&>(*holder);
      for (std::size_t k = 0; k < dictionary.ItemCount(); ++k) {
        if (PdfObject* target = resolve(dictionary.GetIndexedItem(k))) visit(*target);
      }
    }
  };
  const auto xObjectOf = [&](PdfDictionaryObject& pageDict) -> PdfObject* {
    PdfObject* resources = resolve(pageDict.ValueByName("Resources"));
    if (resources == nullptr || resources->ObjectType() != otDictionary) return nullptr;
    return resolve(static_cast<PdfDictionaryObject*>(resources)->ValueByName("XObject"));
  };

  page.SetDeleted(true);
  const auto remove = [](PdfObject& target) { target.SetDeleted(true); };
  linked(page.ValueByName("Contents"), remove);
  linked(page.ValueByName("Annots"), remove);
  // An image shown on another page as well stays; leaving it out would break that page.
  linked(xObjectOf(page), [&](PdfObject& image) {
    bool shared = false;
    for (std::size_t k = 0; k < pageArr_.size() && !shared; ++k) {
      if (k == index) continue;
      linked(xObjectOf(*pageArr_[k].PageObj), [&](PdfObject& other) {
        if (&other == &image) shared = true;
      });
    }
    if (!shared) image.SetDeleted(true);
  });

  const bool wasOpen = pageIndex == currentPageNum_;
  const int32_t open = currentPageNum_;
  if (wasOpen) ReleaseCurrentPage();
  pageArr_.erase(pageArr_.begin() + pageIndex);
  --pagesCount_;
  if (wasOpen) {
    if (pagesCount_ > 0) SetCurrentPageNumber(pageIndex > 0 ? pageIndex - 1 : 0);
  } else if (pageIndex < open) {
    currentPageNum_ = open - 1;  // the same page stays open at its new position
  }
}

std::string PdfDocument::NextImageName() {
  const auto taken = [this](const std::string& name) {
    for (const PdfImageObject& image : xImages_) {
      if (SameKey(image.Name, name)) return true;
    }
    if (currentPage_ != nullptr) {
      for (const std::string& key : currentPage_->XObjectNames()) {
        if (SameKey(key, name)) return true;
      }
    }
    return false;
  };
  std::string name = "Im" + std::to_string(currentImageIndex_);
  while (taken(name)) name = "Im" + std::to_string(++currentImageIndex_);
  return name;
}

int32_t PdfDocument::RegisterImage(std::unique_ptr<PdfStreamObject> image, std::string name,
                                   int32_t width, int32_t height) {
  RequireDocument();
  PdfStreamObject* object = AddIndirectObject(std::move(image));
  xImages_.push_back({currentImageIndex_, std::move(name), object, width, height});
  return static_cast<int32_t>(xImages_.size() - 1);
}

void PdfDocument::EndDoc() {
  RequireDocument();
  PdfDictionaryObject& catalog = Catalog();
  catalog.ReplaceValue("PageLayout",
                       std::make_unique<PdfNameObject>(kPageLayoutNames[pageLayout_], &catalog));
  catalog.ReplaceValue("PageMode",
                       std::make_unique<PdfNameObject>(kPageModeNames[pageMode_], &catalog));
  if (vpChanged_) {
    auto preferences = std::make_unique<PdfDictionaryObject>(&catalog);
    for (const PdfViewerPreference preference : viewerPreferences_) {
      preferences->AddBooleanValue(kViewerPreferenceNames[preference], true);
    }
    catalog.ReplaceValue("ViewerPreferences", std::move(preferences));
  }
  if (catalog.FindValue("AA") < 0) {
    catalog.AddValue("AA", std::make_unique<PdfDictionaryObject>(&catalog));
  }

  if (currentPage_ != nullptr) {
    currentPage_->ClosePage();
    ReleaseCurrentPage();
  }

  PdfDictionaryObject& pages = PagesRoot();
  PdfObject* kids = pages.ValueByName("Kids");
  if (kids == nullptr || kids->ObjectType() != otArray) throw PdfError(kInvalidPagesObject);
  auto& kidsArray = static_cast<PdfArrayObject&>(*kids);
  kidsArray.Clear();
  for (const PdfDictArrItem& item : pageArr_) {
    if (!item.PageObj->IsDeleted()) kidsArray.AddObject(*item.PageObj);
  }
  if (pages.FindValue("Count") < 0) throw PdfError(kInvalidPagesObject);
  pages.AddNumericValue("Count", static_cast<float>(pageArr_.size()));

  PdfDictionaryObject& info = Info();
  info.AddStringValue("CreationDate", FormatPdfDate());
  info.AddStringValue("Creator", kCreator);
  info.AddStringValue("Author", TextString(author_));
  info.AddStringValue("Title", TextString(title_));
  info.AddStringValue("Keywords", TextString(keywords_));
  info.AddStringValue("Subject", TextString(subject_));
  info.AddStringValue("ModDate", FormatPdfDate());

  const PdfWriter writer(objects_, rootLink_, infoLink_);
  if (memStream_) {
    writer.Write(*outputStream_);
    outputStream_->SetPosition(0);
  } else if (fileName_.empty()) {
    throw PdfError("Invalid filename.");
  } else {
    writer.SaveToFile(fileName_);
  }
}

std::string PdfDocument::FormatPdfDate() {
  const LocalTime t = Now();
  char text[80];
  std::snprintf(text, sizeof text, "D:%04d%02d%02d%02d%02d%02d", t.tm.tm_year + 1900,
                t.tm.tm_mon + 1, t.tm.tm_mday, t.tm.tm_hour, t.tm.tm_min, t.tm.tm_sec);
  return text;
}

void PdfDocument::SetViewerPreferences(PdfViewerPreferences value) {
  viewerPreferences_ = std::move(value);
  vpChanged_ = true;
}

void PdfDocument::SetResolution(int32_t value) {
  resolution_ = value;
  docScale_ = static_cast<long double>(value) / 72.0L;
}

void PdfDocument::SetOutputStream(Stream* stream) {
  if (docStarted_) throw PdfError("Cannot set OutputStream value - document in progress.");
  outputStream_ = stream;
  memStream_ = stream != nullptr;
}

int32_t PdfDocument::AddImageObject(const ImageFactory& create, int32_t maskIndex, int32_t width,
                                    int32_t height) {
  RequireDocument();
  std::optional<PdfObjectNumber> mask;
  if (maskIndex >= 0) {
    if (maskIndex > currentImageIndex_) throw PdfError("Incorrect mask index.");
    for (const PdfImageObject& image : xImages_) {
      if (image.Index == maskIndex) {
        mask = image.ImageObject->ID();
        break;
      }
    }
  }
  std::string name = NextImageName();
  std::unique_ptr<PdfImage> image = create(name, mask);
  return RegisterImage(std::move(image), std::move(name), width, height);
}

int32_t PdfDocument::AddImage(const Bitmap& image, PdfImageCompressionType compression, bool isMask,
                              int32_t maskIndex) {
  const int code = PdfImage::CreateCode(compression);
  return AddImageObject(
      [&](const std::string& name, const std::optional<PdfObjectNumber>& mask) {
        return std::make_unique<PdfImage>(image, code, isMask, mask, name, jpegQuality_);
      },
      maskIndex, image.Width(), image.Height());
}

int32_t PdfDocument::AddImage(const JpegImage& image, PdfImageCompressionType compression,
                              bool isMask, int32_t maskIndex) {
  const int code = PdfImage::CreateCode(compression);
  return AddImageObject(
      [&](const std::string& name, const std::optional<PdfObjectNumber>& mask) {
        return std::make_unique<PdfImage>(image, code, isMask, mask, name, jpegQuality_);
      },
      maskIndex, image.Width(), image.Height());
}

int32_t PdfDocument::AddImage(const std::string& fileName, PdfImageCompressionType compression,
                              bool isMask, int32_t maskIndex) {
  const auto has_extension = [&fileName](const char* extension) {
    const std::size_t n = std::strlen(extension);
    return fileName.size() >= n && fileName.compare(fileName.size() - n, n, extension) == 0;
  };
  if (compression == icJpeg && !has_extension(".bmp")) {
    return AddImage(JpegImage::LoadFromFile(fileName, jpegQuality_), compression, isMask,
                    maskIndex);
  }
  if (compression == icFlate && has_extension(".jpg")) {
    return AddImage(JpegImage::LoadFromFile(fileName, jpegQuality_).ToBitmap(), compression, isMask,
                    maskIndex);
  }
  return AddImage(LoadBitmapFile(fileName), compression, isMask, maskIndex);
}

void PdfDocument::PlaceTiffImage(TiffPageImage& image, TiffPaintType paintType) {
  PdfPage* page = currentPage_.get();
  if (page == nullptr) throw std::logic_error("No page is open.");
  if (paintType == tptResizePage) {
    page->SetWidth(static_cast<float>(image.Width));
    page->SetHeight(static_cast<float>(image.Height));
  }
  const auto add = [&](TiffSlice& slice) {
    std::string name = NextImageName();
    slice.Image->AddName(name);
    return RegisterImage(std::move(slice.Image), std::move(name), image.Width, slice.Rows);
  };
  std::optional<PdfImageArea>& area = pageArr_[static_cast<std::size_t>(currentPageNum_)].ImageArea;
  if (!image.Sliced) {
    const int32_t index = add(image.Slices.front());
    area = page->ShowImage(index, 0, 0, page->Width(), page->Height(), 0);
    return;
  }
  // Slices are placed top down, each one starting exactly where its first row (the last row of
  // the slice above) lies in the whole image, so that the slices join without a seam. Rounding
  // the offset to whole page units instead would let each slice cover several rows of the one
  // above and shift the rest of the page up.
  const long double width =
      paintType == tptResizePage ? static_cast<long double>(image.Width) : page->Width();
  const long double scale = width / image.Width;
  int32_t first = 0;
  for (TiffSlice& slice : image.Slices) {
    const int32_t rows = slice.Rows;
    const int32_t index = add(slice);
    const PdfImageArea drawn = page->ShowImage(index, 0, scale * first, width, scale * rows, 0);
    // The whole image reaches from the top of the first slice to the bottom of the last.
    if (first == 0) {
      area = drawn;
    } else {
      area->Height = drawn.Y + drawn.Height - area->Y;
    }
    first += rows - 1;
  }
}

void PdfDocument::AddTextLayer(const std::vector<TextLine>& lines, int32_t imageWidth,
                               int32_t imageHeight, TextLayerMode mode) {
  RequireDocument();
  if (currentPage_ == nullptr) throw std::logic_error("No page is open.");
  const std::optional<PdfImageArea>& area =
      pageArr_[static_cast<std::size_t>(currentPageNum_)].ImageArea;
  if (!area) throw std::logic_error("The open page has no imported image.");
  ShowTextLayer(*currentPage_, *textLayerFont_, lines, imageWidth, imageHeight, *area, mode);
}

void PdfDocument::AddPreparedTiff(PreparedTiff tiff, TiffPaintType paintType) {
  RequireDocument();
  for (std::size_t i = 0; i < tiff.Images.size(); ++i) {
    if (i > 0) AddPage();
    PlaceTiffImage(tiff.Images[i], paintType);
  }
  if (tiff.Error) {
    // The image that failed would have had a page of its own.
    if (!tiff.Images.empty()) AddPage();
    std::rethrow_exception(tiff.Error);
  }
}

void PdfDocument::AddTiffFromFile(const std::string& fileName, PdfImageCompressionType compression,
                                  TiffPaintType paintType) {
  RequireDocument();
  AddPreparedTiff(PrepareTiff(fileName, compression, jpegQuality_), paintType);
}

}  // namespace brevis
