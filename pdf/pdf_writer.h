// PdfWriter: writes a document's object table as one PDF 1.4 file (header, objects, classic
// cross-reference table, trailer), onto a stream or into a file replaced whole. The document
// (pdf_document.h) builds the objects; this is all that turns them into bytes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/stream.h"
#include "pdf/pdf_objects.h"

namespace brevis {

class PdfWriter {
 public:
  // `objects` is the object table in creation order; `root` and `info` are the IDs of its
  // catalogue and Info dictionary, which the trailer names. The table is not owned and must
  // outlive the writer.
  PdfWriter(const std::vector<std::unique_ptr<PdfObject>>& objects, const PdfObjectNumber& root,
            const PdfObjectNumber& info)
      : objects_(objects), root_(root), info_(info) {}

  // Writes the whole file: header, the objects that are not deleted renumbered 1, 2, ... in
  // table order (ObjectWriter::Renumber), cross-reference table and trailer. Offsets count from
  // the stream's position at the start. Each stream's Length is set to its data's size on the
  // way; the objects keep their IDs, so writing again gives the same bytes. Throws PdfError for
  // a number PDF cannot carry, and the stream's errors.
  void Write(Stream& stream) const;
  // Writes the file under a temporary name in the target folder (common/atomic_file.h) and
  // renames it into place, so that a failed write leaves no file (and an existing one
  // untouched). Throws PdfError ("Cannot create file "<path>": <reason>", "Cannot write file
  // ...") naming `path`, and those of Write.
  void SaveToFile(const std::string& path) const;

 private:
  const std::vector<std::unique_ptr<PdfObject>>& objects_;
  PdfObjectNumber root_, info_;
};

}  // namespace brevis
