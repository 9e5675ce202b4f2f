// The PDF object model's containers and their ownership rules.
#include "pdf/pdf_objects.h"

#include <cmath>
#include <stdexcept>

#include "pdf/pdf_error.h"

namespace brevis {
namespace {

constexpr char kNoLength[] = "This stream without a length item";

void RequireDirect(const PdfObject& value) {
  if (value.IsIndirect()) {
    throw std::logic_error("An indirect object belongs to the object table; store a link to it.");
  }
}

std::unique_ptr<PdfLink> LinkTo(const PdfObject& indirect) {
  if (!indirect.IsIndirect()) {
    throw std::logic_error("Only an indirect object can be referenced.");
  }
  return std::make_unique<PdfLink>(indirect.ID());
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (LowerAscii(a[k]) != LowerAscii(b[k])) return false;
  }
  return true;
}

// Arrays.

void PdfArrayObject::Insert(std::size_t index, std::unique_ptr<PdfObject> value) {
  if (value == nullptr) return;
  RequireDirect(*value);
  if (index > items_.size()) throw std::out_of_range("Array index out of range.");
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
}

PdfLink* PdfArrayObject::AddObject(const PdfObject& indirect) {
  return AddObject(LinkTo(indirect));
}

void PdfArrayObject::AddNameValue(std::string value) {
  AddObject(std::make_unique<PdfNameObject>(std::move(value), this));
}

void PdfArrayObject::AddStringValue(std::string value) {
  AddObject(std::make_unique<PdfStringObject>(std::move(value), false, this));
}

void PdfArrayObject::AddNumericValue(float value) {
  AddObject(std::make_unique<PdfNumericObject>(value, this));
}

void PdfArrayObject::AddBooleanValue(bool value) {
  AddObject(std::make_unique<PdfBooleanObject>(value, this));
}

void PdfArrayObject::SetIndexedItem(std::size_t index, std::unique_ptr<PdfObject> value) {
  Insert(index, std::move(value));
}

void PdfArrayObject::SetIndexedItem(std::size_t index, const PdfObject& indirect) {
  Insert(index, LinkTo(indirect));
}

// Dictionaries.

int PdfDictionaryObject::FindValue(std::string_view key) const {
  for (std::size_t k = 0; k < items_.size(); ++k) {
    if (SameKey(items_[k].Key, key)) return static_cast<int>(k);
  }
  return -1;
}

void PdfDictionaryObject::Store(std::string_view key, std::unique_ptr<PdfObject> value) {
  if (value == nullptr) return;
  RequireDirect(*value);
  const int found = FindValue(key);
  if (found >= 0) {
    items_[static_cast<std::size_t>(found)].Value = std::move(value);
  } else {
    items_.push_back({std::string(key), std::move(value)});
  }
}

PdfLink* PdfDictionaryObject::AddValue(std::string_view key, const PdfObject& indirect) {
  return AddValue(key, LinkTo(indirect));
}

void PdfDictionaryObject::AddNameValue(std::string_view key, std::string value) {
  AddValue(key, std::make_unique<PdfNameObject>(std::move(value), this));
}

void PdfDictionaryObject::AddStringValue(std::string_view key, std::string value) {
  AddValue(key, std::make_unique<PdfStringObject>(std::move(value), false, this));
}

void PdfDictionaryObject::AddNumericValue(std::string_view key, float value) {
  AddValue(key, std::make_unique<PdfNumericObject>(value, this));
}

void PdfDictionaryObject::AddBooleanValue(std::string_view key, bool value) {
  AddValue(key, std::make_unique<PdfBooleanObject>(value, this));
}

void PdfDictionaryObject::DeleteValue(std::string_view key) {
  const int found = FindValue(key);
  if (found >= 0) items_.erase(items_.begin() + found);
}

PdfObject* PdfDictionaryObject::ValueByName(std::string_view key) const {
  const int found = FindValue(key);
  return found < 0 ? nullptr : items_[static_cast<std::size_t>(found)].Value.get();
}

// Streams.

PdfStreamObject::PdfStreamObject(PdfObject* parent)
    : PdfObject(otStream, parent), dictionary_(std::make_unique<PdfDictionaryObject>(this)) {}

int32_t PdfStreamObject::Length() const {
  const PdfObject* entry = dictionary_->ValueByName("Length");
  if (entry == nullptr || entry->ObjectType() != otNumeric) throw PdfError(kNoLength);
  const auto& number = static_cast<const PdfNumericObject&>(*entry);
  if (number.ExactInteger()) return static_cast<int32_t>(*number.ExactInteger());
  return static_cast<int32_t>(std::nearbyint(number.Value()));
}

void PdfStreamObject::SetLength(int32_t length) {
  PdfObject* entry = dictionary_->ValueByName("Length");
  if (entry == nullptr || entry->ObjectType() != otNumeric) throw PdfError(kNoLength);
  static_cast<PdfNumericObject&>(*entry).SetInteger(length);
}

}  // namespace brevis
