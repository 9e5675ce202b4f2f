// The PDF object model: null, boolean, number, string, name, array, dictionary, stream and the
// indirect reference, as a tree of small objects. The document owns the indirect objects and
// writes the tree out (object_writer.h); pages and images build on these classes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/stream.h"

namespace brevis {

enum PdfObjectType {
  otBoolean,
  otNumeric,
  otString,
  otName,
  otArray,
  otDictionary,
  otStream,
  otNull,
  otLink
};

struct PdfObjectNumber {
  int32_t ObjectNumber = 0;
  int32_t GenerationNumber = 0;
  friend bool operator==(const PdfObjectNumber&, const PdfObjectNumber&) = default;
};

// Whether two keys or names are equal ignoring ASCII letter case (other bytes compared exactly).
bool SameKey(std::string_view a, std::string_view b);

// Base of every object. Direct objects are owned by the container they were handed to; indirect
// ones (numbered top-level objects) by the document's object table, never by a container: a
// container given an indirect object stores a new PdfLink to it instead.
class PdfObject {
 public:
  virtual ~PdfObject() = default;
  PdfObject(const PdfObject&) = delete;
  PdfObject& operator=(const PdfObject&) = delete;

  PdfObjectType ObjectType() const { return type_; }
  // The container given at creation (not owned; may be null).
  PdfObject* Parent() const { return parent_; }
  // Object and generation number; meaningful only for indirect objects, zero otherwise.
  const PdfObjectNumber& ID() const { return id_; }
  bool IsIndirect() const { return isIndirect_; }
  // Makes this a numbered top-level object. Only the object table's owner calls this.
  void MakeIndirect(PdfObjectNumber id) {
    id_ = id;
    isIndirect_ = true;
  }
  // A deleted object is left out when the document is written.
  bool IsDeleted() const { return isDeleted_; }
  void SetDeleted(bool deleted) { isDeleted_ = deleted; }

 protected:
  PdfObject(PdfObjectType type, PdfObject* parent) : type_(type), parent_(parent) {}

 private:
  PdfObjectType type_;
  PdfObject* parent_;
  PdfObjectNumber id_;
  bool isIndirect_ = false;
  bool isDeleted_ = false;
};

class PdfNullObject final : public PdfObject {
 public:
  PdfNullObject() : PdfObject(otNull, nullptr) {}
};

class PdfBooleanObject final : public PdfObject {
 public:
  explicit PdfBooleanObject(bool value = false, PdfObject* parent = nullptr)
      : PdfObject(otBoolean, parent), value_(value) {}
  bool Value() const { return value_; }
  void SetValue(bool value) { value_ = value; }

 private:
  bool value_;
};

// Every PDF number, integers included, is held as a 32-bit float. A whole number given with
// SetInteger is also kept exactly, so that byte counts beyond float precision (a stream of more
// than 16 MiB) are still written exactly.
class PdfNumericObject final : public PdfObject {
 public:
  explicit PdfNumericObject(float value = 0, PdfObject* parent = nullptr)
      : PdfObject(otNumeric, parent), value_(value) {}
  float Value() const { return value_; }
  void SetValue(float value) {
    value_ = value;
    exact_.reset();
  }
  void SetInteger(int64_t value) {
    value_ = static_cast<float>(value);
    exact_ = value;
  }
  // The exact whole number given with SetInteger, if that was the last setter called.
  const std::optional<int64_t>& ExactInteger() const { return exact_; }

 private:
  float value_;
  std::optional<int64_t> exact_;
};

// A string of bytes. When IsHexadecimal is set, Value already holds the hexadecimal digits.
class PdfStringObject final : public PdfObject {
 public:
  explicit PdfStringObject(std::string value = {}, bool isHexadecimal = false,
                           PdfObject* parent = nullptr)
      : PdfObject(otString, parent), value_(std::move(value)), isHexadecimal_(isHexadecimal) {}
  const std::string& Value() const { return value_; }
  void SetValue(std::string value) { value_ = std::move(value); }
  bool IsHexadecimal() const { return isHexadecimal_; }
  void SetHexadecimal(bool isHexadecimal) { isHexadecimal_ = isHexadecimal; }

 private:
  std::string value_;
  bool isHexadecimal_;
};

// A name, held without its leading "/".
class PdfNameObject final : public PdfObject {
 public:
  explicit PdfNameObject(std::string value = {}, PdfObject* parent = nullptr)
      : PdfObject(otName, parent), value_(std::move(value)) {}
  const std::string& Value() const { return value_; }
  void SetValue(std::string value) { value_ = std::move(value); }

 private:
  std::string value_;
};

// An indirect reference, naming its target by number and generation.
class PdfLink final : public PdfObject {
 public:
  explicit PdfLink(PdfObjectNumber value = {}) : PdfObject(otLink, nullptr), value_(value) {}
  const PdfObjectNumber& Value() const { return value_; }
  void SetValue(PdfObjectNumber value) { value_ = value; }

 private:
  PdfObjectNumber value_;
};

class PdfArrayObject final : public PdfObject {
 public:
  explicit PdfArrayObject(PdfObject* parent = nullptr) : PdfObject(otArray, parent) {}

  // Appends a direct object and takes it over; a null pointer is ignored. Returns the object.
  // Handing over an indirect object this way is a logic error (the object table owns it).
  template <class T>
  T* AddObject(std::unique_ptr<T> value) {
    T* raw = value.get();
    Insert(items_.size(), std::move(value));
    return raw;
  }
  // Appends a new reference to an indirect object, which stays with its owner.
  PdfLink* AddObject(const PdfObject& indirect);
  void AddNameValue(std::string value);
  void AddStringValue(std::string value);
  void AddNumericValue(float value);
  void AddBooleanValue(bool value);
  // Inserts at `index` (0..ItemCount()), shifting later items; replaces nothing.
  void SetIndexedItem(std::size_t index, std::unique_ptr<PdfObject> value);
  void SetIndexedItem(std::size_t index, const PdfObject& indirect);

  std::size_t ItemCount() const { return items_.size(); }
  PdfObject* GetIndexedItem(std::size_t index) const { return items_.at(index).get(); }
  // Destroys every item.
  void Clear() { items_.clear(); }

 private:
  void Insert(std::size_t index, std::unique_ptr<PdfObject> value);

  std::vector<std::unique_ptr<PdfObject>> items_;
};

struct PdfDictionaryItem {
  std::string Key;  // without "/"
  std::unique_ptr<PdfObject> Value;
};

// Entries keep insertion order, which is the written order. Keys are compared ignoring ASCII
// letter case.
class PdfDictionaryObject final : public PdfObject {
 public:
  explicit PdfDictionaryObject(PdfObject* parent = nullptr) : PdfObject(otDictionary, parent) {}

  // Position of the first entry whose key equals `key` ignoring ASCII case; -1 when absent.
  int FindValue(std::string_view key) const;
  // Stores a direct value and takes it over (a null pointer is ignored). An existing key keeps
  // its place and its stored spelling; its old value is destroyed. Returns the value.
  template <class T>
  T* AddValue(std::string_view key, std::unique_ptr<T> value) {
    T* raw = value.get();
    Store(key, std::move(value));
    return raw;
  }
  // Stores a new reference to an indirect object, which stays with its owner.
  PdfLink* AddValue(std::string_view key, const PdfObject& indirect);
  void AddNameValue(std::string_view key, std::string value);
  void AddStringValue(std::string_view key, std::string value);
  void AddNumericValue(std::string_view key, float value);
  void AddBooleanValue(std::string_view key, bool value);
  // Removes the key if present, then appends it anew: the key always ends up last.
  template <class T>
  T* ReplaceValue(std::string_view key, std::unique_ptr<T> value) {
    DeleteValue(key);
    return AddValue(key, std::move(value));
  }
  // Removes the key and destroys its value; nothing when absent.
  void DeleteValue(std::string_view key);

  std::size_t ItemCount() const { return items_.size(); }
  const std::string& GetIndexedKey(std::size_t index) const { return items_.at(index).Key; }
  PdfObject* GetIndexedItem(std::size_t index) const { return items_.at(index).Value.get(); }
  // The value under `key`, or null.
  PdfObject* ValueByName(std::string_view key) const;

 private:
  void Store(std::string_view key, std::unique_ptr<PdfObject> value);

  std::vector<PdfDictionaryItem> items_;
};

// A dictionary and a byte buffer. The writer sets "Length" to the buffer's size when it writes
// the stream, so producers need not. Open for derivation: image objects are streams.
class PdfStreamObject : public PdfObject {
 public:
  explicit PdfStreamObject(PdfObject* parent = nullptr);

  PdfDictionaryObject& Dictionary() { return *dictionary_; }
  const PdfDictionaryObject& Dictionary() const { return *dictionary_; }
  MemoryStream& Stream() { return stream_; }
  const MemoryStream& Stream() const { return stream_; }

  // The dictionary's "Length", rounded to the nearest integer (halves to even). Both accessors
  // throw PdfError ("This stream without a length item") when the entry is missing.
  int32_t Length() const;
  void SetLength(int32_t length);

 private:
  std::unique_ptr<PdfDictionaryObject> dictionary_;
  MemoryStream stream_;
};

}  // namespace brevis
