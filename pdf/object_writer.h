// Writes PDF objects as text onto a byte stream, resolving references through the renumbering
// table that the document builds before it writes its objects.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "common/stream.h"
#include "pdf/pdf_objects.h"

namespace brevis {

class ObjectWriter {
 public:
  explicit ObjectWriter(Stream& out) : out_(out) {}

  // Numbers the objects that are not deleted 1, 2, ... in table order and records the new number
  // of each (object number, generation) pair; references and "n 0 obj" lines are written with
  // the new numbers. The objects themselves keep their IDs, so writing again gives the same
  // output. Returns how many objects were numbered.
  int32_t Renumber(const std::vector<std::unique_ptr<PdfObject>>& objects);
  // The new number of an object, or 0 when the table has none (deleted, or never numbered).
  int32_t NewNumber(const PdfObjectNumber& id) const;

  // Appends the object's text. `nested` is false only for a top-level indirect object of the
  // document. Returns the counted length that arrays use for their line breaks. A stream's
  // "Length" entry is set to its data's size on the way. Throws PdfError for a number PDF cannot
  // carry.
  int WriteObject(PdfObject& object, bool nested);

  void Write(std::string_view bytes);

 private:
  int WriteToken(const PdfObject& object, const std::string& token);
  int WriteArray(const PdfArrayObject& array);
  int WriteDictionary(const PdfDictionaryObject& dictionary, bool nested);
  int WriteStream(PdfStreamObject& stream);
  void WriteObjHeader(const PdfObject& object, std::string_view end);

  Stream& out_;
  // Rows per object number (from 1), one column per generation 0-9.
  std::vector<std::array<int32_t, 10>> linkTable_;
};

}  // namespace brevis
