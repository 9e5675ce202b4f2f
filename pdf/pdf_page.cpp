// Pages: box, coordinates, operator lines, image placement and the content stream.
#include "pdf/pdf_page.h"

#include <cmath>
#include <iterator>

#include "pdf/flate.h"
#include "pdf/pdf_document.h"
#include "pdf/pdf_error.h"
#include "pdf/pdf_format.h"

namespace brevis {
namespace {

struct PageBox {
  float width, height;
};

// Indexed by PdfPageSize; psUserDefined's row is never read.
constexpr PageBox kPageBoxes[] = {
    {0, 0},     {612, 792},  {595, 842}, {842, 1190}, {612, 1008}, {516, 728},  {459, 649},
    {576, 792}, {728, 1031}, {419, 595}, {612, 936},  {522, 756},  {728, 1031}, {499, 708},
    {323, 459}, {312, 623},  {279, 540}, {279, 639},  {297, 684},  {324, 747},
};
static_assert(std::size(kPageBoxes) == psEnv11 + 1);

constexpr long double kDegreesToRadians = 0.017453292519943295L;

float NumberAt(const PdfArrayObject& array, std::size_t index) {
  const PdfObject* item = array.GetIndexedItem(index);
  if (item->ObjectType() != otNumeric) throw PdfError("Invalid page box.");
  return static_cast<const PdfNumericObject*>(item)->Value();
}

void SetNumberAt(PdfArrayObject& array, std::size_t index, float value) {
  static_cast<PdfNumericObject*>(array.GetIndexedItem(index))->SetValue(value);
}

std::vector<std::string> FilterNames(const PdfObject* filter) {
  std::vector<std::string> names;
  if (filter == nullptr) return names;
  if (filter->ObjectType() == otName) {
    names.push_back(static_cast<const PdfNameObject*>(filter)->Value());
  } else if (filter->ObjectType() == otArray) {
    const auto& array = static_cast<const PdfArrayObject&>(*filter);
    for (std::size_t k = 0; k < array.ItemCount(); ++k) {
      const PdfObject* item = array.GetIndexedItem(k);
      if (item->ObjectType() == otName) {
        names.push_back(static_cast<const PdfNameObject*>(item)->Value());
      }
    }
  }
  return names;
}

}  // namespace

PdfPage::PdfPage(PdfDocument& parent, PdfDictionaryObject& pageObj)
    : parent_(parent), pageObj_(pageObj) {}

PdfObject* PdfPage::Resolve(PdfObject* object) const {
  if (object != nullptr && object->ObjectType() == otLink) {
    return parent_.FindIndirectObject(*static_cast<PdfLink*>(object));
  }
  return object;
}

long double PdfPage::DocScale() const {
  const long double scale = parent_.DocScale();
  return scale == 0 ? 1.0L : scale;
}

void PdfPage::OpenPage() {
  // A page may carry one content stream or an array of them; new lines go to the last.
  PdfObject* contents = Resolve(pageObj_.ValueByName("Contents"));
  if (contents != nullptr && contents->ObjectType() == otArray) {
    const auto& array = static_cast<PdfArrayObject&>(*contents);
    contents =
        array.ItemCount() == 0 ? nullptr : Resolve(array.GetIndexedItem(array.ItemCount() - 1));
  }
  if (contents == nullptr || contents->ObjectType() != otStream) {
    throw PdfError("Invalid page contents.");
  }
  pageObjStream_ = static_cast<PdfStreamObject*>(contents);

  PdfObject* box = Resolve(pageObj_.ValueByName("MediaBox"));
  if (box == nullptr || box->ObjectType() != otArray ||
      static_cast<PdfArrayObject*>(box)->ItemCount() != 4) {
    throw PdfError("Invalid page box.");
  }
  mediaBoxArray_ = static_cast<PdfArrayObject*>(box);
  minXVal_ = NumberAt(*mediaBoxArray_, 0);
  minYVal_ = NumberAt(*mediaBoxArray_, 1);
  maxXVal_ = NumberAt(*mediaBoxArray_, 2);
  maxYVal_ = NumberAt(*mediaBoxArray_, 3);
  width_ = mWidth_ = maxXVal_ - minXVal_;
  height_ = mHeight_ = maxYVal_ - minYVal_;

  PdfObject* resources = Resolve(pageObj_.ValueByName("Resources"));
  if (resources == nullptr || resources->ObjectType() != otDictionary) {
    throw PdfError("Invalid page resources.");
  }
  auto& resourceDict = static_cast<PdfDictionaryObject&>(*resources);
  xObjectNames_.clear();
  xObjectObj_ = nullptr;
  PdfObject* xObject = Resolve(resourceDict.ValueByName("XObject"));
  if (xObject != nullptr && xObject->ObjectType() == otDictionary) {
    xObjectObj_ = static_cast<PdfDictionaryObject*>(xObject);
    for (std::size_t k = 0; k < xObjectObj_->ItemCount(); ++k) {
      xObjectNames_.push_back(xObjectObj_->GetIndexedKey(k));
    }
  }
  PdfObject* font = Resolve(resourceDict.ValueByName("Font"));
  if (font != nullptr && font->ObjectType() == otDictionary) {
    fontObjectObj_ = static_cast<PdfDictionaryObject*>(font);
  } else {
    fontObjectObj_ =
        resourceDict.AddValue("Font", std::make_unique<PdfDictionaryObject>(&resourceDict));
  }

  pageContent_.clear();
  AppendContent("\r\n");
}

void PdfPage::ClosePage() {
  // The drawing surface is not converted (nothing is drawn on it); its bracket stays.
  GStateSave();
  GStateRestore();
  SetRGBColor(kColorRed);
  SetTextRenderingMode(trStroke);
  SetLineWidth(2);
  SetRGBColor(kColorBlack);

  // Earlier blocks stay: take the stream's data back to plain text and append this block.
  PdfDictionaryObject& dictionary = pageObjStream_->Dictionary();
  std::vector<uint8_t> text = pageObjStream_->Stream().Bytes();
  for (const std::string& filter : FilterNames(Resolve(dictionary.ValueByName("Filter")))) {
    if (filter != "FlateDecode") throw PdfError("Unsupported stream filter.");
    text = FlateDecompress(text);
  }
  const bool compress = parent_.Compression() != cmNone;
  if (compress) {
    auto filters = std::make_unique<PdfArrayObject>(&dictionary);
    filters->AddNameValue("FlateDecode");
    dictionary.ReplaceValue("Filter", std::move(filters));
  } else {
    dictionary.DeleteValue("Filter");
  }

  AppendContent("\r\n");
  for (const std::string& line : pageContent_) {
    text.insert(text.end(), line.begin(), line.end());
    text.push_back('\r');
    text.push_back('\n');
  }
  if (compress) text = FlateCompress(text);
  MemoryStream& stream = pageObjStream_->Stream();
  stream.SetSize(0);
  stream.Write(text.data(), text.size());
  pageObjStream_->SetLength(static_cast<int32_t>(text.size()));
  pageContent_.clear();
}

void PdfPage::AppendContent(std::string text) { pageContent_.push_back(std::move(text)); }

PdfImageArea PdfPage::ShowImage(int32_t imageIndex, long double x, long double y, long double w,
                                long double h, long double angle) {
  const PdfImageObject& image = parent_.XImages().at(static_cast<std::size_t>(imageIndex));
  if (xObjectObj_ == nullptr) {
    PdfObject* resources = Resolve(pageObj_.ValueByName("Resources"));
    auto& resourceDict = static_cast<PdfDictionaryObject&>(*resources);
    xObjectObj_ =
        resourceDict.AddValue("XObject", std::make_unique<PdfDictionaryObject>(&resourceDict));
  }
  xObjectObj_->AddValue(image.Name, *image.ImageObject);
  // An image left out with a removed page is shown again.
  image.ImageObject->SetDeleted(false);

  if (parent_.KeepImageAspectRatio() && image.Width > 0 && image.Height > 0) {
    const long double pw = image.Width;
    const long double ph = image.Height;
    const long double sx = w / pw;
    const long double sy = h / ph;
    if (sx < 1 && sy < 1) {
      if (sy <= sx) {
        w = pw * sy;
      } else {
        h = ph * sx;
      }
    } else if (sy >= sx) {
      w = pw * sy;
    } else {
      h = ph * sx;
    }
  }

  const auto fx = static_cast<float>(x);
  const auto fy = static_cast<float>(y);
  const auto fw = static_cast<float>(w);
  const auto fh = static_cast<float>(h);
  GStateSave();
  Concat(1, 0, 0, 1, ConvertX(fx), ConvertY(fy) - ConvertX(fh));
  if (std::fabs(angle) > 0.001L) {
    const long double a = angle * kDegreesToRadians;
    const auto c = static_cast<float>(std::cos(a));
    const auto s = static_cast<float>(std::sin(a));
    Concat(c, s, -s, c, 0, 0);
  }
  Concat(ConvertX(fw), 0, 0, ConvertX(fh), 0, 0);
  AppendContent("/" + image.Name + " Do");
  GStateRestore();
  return {x, y, w, h};
}

void PdfPage::AddFontResource(const std::string& name, const PdfObject& font) {
  fontObjectObj_->AddValue(name, font);
}

void PdfPage::GStateSave() {
  AppendContent("q");
  ++isStated_;
}

bool PdfPage::GStateRestore() {
  if (isStated_ <= 0) return false;
  AppendContent("Q");
  --isStated_;
  return true;
}

void PdfPage::Concat(float a, float b, float c, float d, float e, float f) {
  AppendContent(FormatContentNumber(a) + " " + FormatContentNumber(b) + " " +
                FormatContentNumber(c) + " " + FormatContentNumber(d) + " " +
                FormatContentNumber(e) + " " + FormatContentNumber(f) + " cm");
}

void PdfPage::SetRGBStrokeColor(int32_t value) {
  strokeColor_ = value;
  skBegin_ = true;
  AppendContent(FormatColor(value) + " RG");
}

void PdfPage::SetRGBFillColor(int32_t value) {
  fillColor_ = value;
  fkBegin_ = true;
  AppendContent(FormatColor(value) + " rg");
}

void PdfPage::SetRGBColor(int32_t value) {
  SetRGBStrokeColor(value);
  SetRGBFillColor(value);
}

void PdfPage::SetLineWidth(float width) {
  AppendContent(FormatContentNumber(ConvertX(width)) + " w");
}

void PdfPage::SetTextRenderingMode(PdfTextRenderingMode mode) {
  AppendContent(std::to_string(static_cast<int>(mode)) + " Tr");
}

void PdfPage::SetHorizontalScaling(float value) {
  if (value == horizontalScaling_) return;
  horizontalScaling_ = value;
  AppendContent(FormatContentNumber(value) + " Tz");
}

void PdfPage::SetCharacterSpacing(float value) {
  if (value == charSpace_) return;
  charSpace_ = value;
  AppendContent(FormatContentNumber(value) + " Tc");
}

void PdfPage::SetWordSpacing(float value) {
  if (value == wordSpace_) return;
  wordSpace_ = value;
  AppendContent(FormatContentNumber(value) + " Tw");
}

void PdfPage::SetLeading(float value) {
  if (value == leading_) return;
  leading_ = value;
  AppendContent(FormatContentNumber(value) + " TL");
}

void PdfPage::SetWidth(float points) {
  maxXVal_ = NumberAt(*mediaBoxArray_, 0) + points;
  SetNumberAt(*mediaBoxArray_, 2, maxXVal_);
  size_ = psUserDefined;
  mWidth_ = points;
  dpi_ = 72.0f / static_cast<float>(resolution_);
  width_ = std::trunc(points / 72.0f * static_cast<float>(resolution_));
}

void PdfPage::SetHeight(float points) {
  maxYVal_ = NumberAt(*mediaBoxArray_, 1) + points;
  SetNumberAt(*mediaBoxArray_, 3, maxYVal_);
  size_ = psUserDefined;
  mHeight_ = points;
  dpi_ = 72.0f / static_cast<float>(resolution_);
  height_ = std::trunc(points / 72.0f * static_cast<float>(resolution_));
}

void PdfPage::SetSize(PdfPageSize size) {
  size_ = size;
  ApplyPageSize();
}

void PdfPage::SetOrientation(PdfPageOrientation orientation) {
  const bool swap = orientation == poLandscape ? !(mWidth_ >= mHeight_) : mWidth_ > mHeight_;
  if (swap) {
    const float w = mWidth_;
    const float h = mHeight_;
    SetWidth(h);
    SetHeight(w);
  }
  orientation_ = orientation;
}

void PdfPage::SetResolution(int32_t resolution) {
  if (resolution <= 0) throw PdfError("Invalid resolution.");
  resolution_ = resolution;
  ApplyPageSize();
}

void PdfPage::ApplyPageSize() {
  // A user-defined box keeps its current shape; a named size is turned for landscape.
  if (size_ != psUserDefined) {
    const PageBox& box = kPageBoxes[size_];
    const bool portrait = orientation_ == poPortrait;
    mWidth_ = portrait ? box.width : box.height;
    mHeight_ = portrait ? box.height : box.width;
  }
  dpi_ = 72.0f / static_cast<float>(resolution_);
  maxXVal_ = NumberAt(*mediaBoxArray_, 0) + mWidth_;
  SetNumberAt(*mediaBoxArray_, 2, maxXVal_);
  maxYVal_ = NumberAt(*mediaBoxArray_, 1) + mHeight_;
  SetNumberAt(*mediaBoxArray_, 3, maxYVal_);
  width_ = std::trunc(mWidth_ / 72.0f * static_cast<float>(resolution_));
  height_ = std::trunc(mHeight_ / 72.0f * static_cast<float>(resolution_));
}

float PdfPage::ConvertX(float value) const {
  if (size_ == psUserDefined) return value + minXVal_;
  return static_cast<float>(value / DocScale() * dpi_ + minXVal_);
}

float PdfPage::ConvertY(float value) const {
  if (size_ == psUserDefined) return maxYVal_ - value;
  return static_cast<float>(maxYVal_ - value / DocScale() * dpi_);
}

}  // namespace brevis
