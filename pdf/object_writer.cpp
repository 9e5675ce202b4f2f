// The exact text of each PDF object kind.
#include "pdf/object_writer.h"

#include <string>

#include "pdf/pdf_format.h"

namespace brevis {
namespace {

constexpr std::size_t kGenerations = 10;
// Array items are broken onto a new line once this many counted bytes stand on a line.
constexpr int kArrayLineLength = 100;

// Leading and trailing bytes of code 32 or below go; inner blanks become "#20".
std::string NameToken(const std::string& value) {
  std::size_t first = 0;
  std::size_t last = value.size();
  while (first < last && static_cast<unsigned char>(value[first]) <= 32) ++first;
  while (last > first && static_cast<unsigned char>(value[last - 1]) <= 32) --last;
  std::string token = "/";
  for (std::size_t k = first; k < last; ++k) {
    if (value[k] == ' ') {
      token += "#20";
    } else {
      token += value[k];
    }
  }
  return token;
}

std::string NumberToken(const PdfNumericObject& number) {
  if (number.ExactInteger()) return std::to_string(*number.ExactInteger());
  return FormatPdfNumber(number.Value());
}

}  // namespace

int32_t ObjectWriter::Renumber(const std::vector<std::unique_ptr<PdfObject>>& objects) {
  linkTable_.assign(objects.size(), {});
  int32_t count = 0;
  for (const auto& object : objects) {
    if (object->IsDeleted()) continue;
    ++count;
    const PdfObjectNumber& id = object->ID();
    if (id.ObjectNumber < 1 || id.GenerationNumber < 0 ||
        static_cast<std::size_t>(id.GenerationNumber) >= kGenerations) {
      continue;
    }
    const auto row = static_cast<std::size_t>(id.ObjectNumber);
    if (row > linkTable_.size()) linkTable_.resize(row, {});
    linkTable_[row - 1][static_cast<std::size_t>(id.GenerationNumber)] = count;
  }
  return count;
}

int32_t ObjectWriter::NewNumber(const PdfObjectNumber& id) const {
  if (id.ObjectNumber < 1 || static_cast<std::size_t>(id.ObjectNumber) > linkTable_.size() ||
      id.GenerationNumber < 0 || static_cast<std::size_t>(id.GenerationNumber) >= kGenerations) {
    return 0;
  }
  return linkTable_[static_cast<std::size_t>(id.ObjectNumber) - 1]
                   [static_cast<std::size_t>(id.GenerationNumber)];
}

void ObjectWriter::Write(std::string_view bytes) {
  out_.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void ObjectWriter::WriteObjHeader(const PdfObject& object, std::string_view end) {
  const int32_t number = NewNumber(object.ID());
  Write(std::to_string(number != 0 ? number : object.ID().ObjectNumber) + " 0 obj");
  Write(end);
}

int ObjectWriter::WriteObject(PdfObject& object, bool nested) {
  switch (object.ObjectType()) {
    case otBoolean:
      return WriteToken(object,
                        static_cast<const PdfBooleanObject&>(object).Value() ? "true" : "false");
    case otNumeric:
      return WriteToken(object, NumberToken(static_cast<const PdfNumericObject&>(object)));
    case otString: {
      const auto& string = static_cast<const PdfStringObject&>(object);
      if (string.IsHexadecimal()) return WriteToken(object, "<" + string.Value() + ">");
      std::string token = "(";
      token += EscapePdfString(string.Value());
      token += ')';
      return WriteToken(object, token);
    }
    case otName:
      return WriteToken(object, NameToken(static_cast<const PdfNameObject&>(object).Value()));
    case otNull:
      return WriteToken(object, "null");
    case otLink: {
      const PdfObjectNumber& target = static_cast<const PdfLink&>(object).Value();
      const int32_t number = NewNumber(target);
      return WriteToken(object,
                        std::to_string(number != 0 ? number : target.ObjectNumber) + " 0 R");
    }
    case otArray:
      return WriteArray(static_cast<const PdfArrayObject&>(object));
    case otDictionary:
      return WriteDictionary(static_cast<const PdfDictionaryObject&>(object), nested);
    case otStream:
      return WriteStream(static_cast<PdfStreamObject&>(object));
  }
  return 0;
}

int ObjectWriter::WriteToken(const PdfObject& object, const std::string& token) {
  if (object.IsIndirect()) {
    WriteObjHeader(object, "\r\n");
    Write(token);
    Write("\r\nendobj\r\n");
  } else {
    Write(token);
  }
  return static_cast<int>(token.size());
}

int ObjectWriter::WriteArray(const PdfArrayObject& array) {
  if (array.IsIndirect()) WriteObjHeader(array, "\r\n");
  Write("[ ");
  int counted = 2;
  int line = 0;
  const std::size_t count = array.ItemCount();
  for (std::size_t k = 0; k < count; ++k) {
    if (line >= kArrayLineLength) {
      Write("\r\n");
      counted += 2;
      line = 0;
    }
    PdfObject& item = *array.GetIndexedItem(k);
    if (item.IsDeleted()) continue;
    const int length = WriteObject(item, true);
    if (k + 1 != count) Write(" ");
    line += length;
    counted += length;
  }
  Write(" ]");
  if (array.IsIndirect()) Write("\r\nendobj\r\n");
  return counted;
}

int ObjectWriter::WriteDictionary(const PdfDictionaryObject& dictionary, bool nested) {
  const bool indirect = dictionary.IsIndirect();
  if (indirect) WriteObjHeader(dictionary, "\n");
  Write(nested ? "<< " : "<< \n");
  int counted = 4;
  for (std::size_t k = 0; k < dictionary.ItemCount(); ++k) {
    PdfObject& value = *dictionary.GetIndexedItem(k);
    if (value.IsDeleted()) continue;
    const std::string& key = dictionary.GetIndexedKey(k);
    Write("/");
    Write(key);
    Write(" ");
    const int length = WriteObject(value, true);
    // Strings end in ")" or ">" and dictionaries in ">> " already.
    if (value.ObjectType() != otString && value.ObjectType() != otDictionary) Write(" ");
    if (!nested) Write("\n");
    counted += static_cast<int>(key.size()) + length + 3;
  }
  Write(">> ");
  if (!nested && indirect) Write("\n");
  if (indirect) Write("endobj\n");
  return counted;
}

int ObjectWriter::WriteStream(PdfStreamObject& stream) {
  // The Length entry is the writer's: it always matches the bytes written below. An entry that
  // is not a number keeps its place and becomes one.
  const auto& data = stream.Stream().Bytes();
  PdfDictionaryObject& dictionary = stream.Dictionary();
  PdfObject* entry = dictionary.ValueByName("Length");
  auto* length =
      entry != nullptr && entry->ObjectType() == otNumeric
          ? static_cast<PdfNumericObject*>(entry)
          : dictionary.AddValue("Length", std::make_unique<PdfNumericObject>(0.0f, &dictionary));
  length->SetInteger(static_cast<int64_t>(data.size()));

  if (stream.IsIndirect()) WriteObjHeader(stream, "\n");
  int counted = WriteDictionary(stream.Dictionary(), true);
  Write("\nstream\n");
  if (!data.empty()) {
    out_.Write(data.data(), data.size());
  }
  Write("\nendstream\n");
  if (stream.IsIndirect()) Write("endobj\n");
  counted += 16 + static_cast<int>(data.size());
  return counted;
}

}  // namespace brevis
