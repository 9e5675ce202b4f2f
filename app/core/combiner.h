// Combiner: the PDF document component as the combination uses it. One component serves every
// document of every download, one after the other, on one thread at a time.
#pragma once

#include <string>

namespace brevis {

// Every operation throws (any std::exception) when the document cannot be built or written.
class Combiner {
 public:
  virtual ~Combiner() = default;
  // Starts a new document, with its first page open, that EndDoc writes to `file_name`
  // (replacing an existing file). No viewer is started afterwards.
  virtual void BeginDoc(const std::u16string& file_name) = 0;
  // Appends a page and makes it the current one.
  virtual void AddPage() = 0;
  // Places the TIFF file's image on the current page, coded with CCITT Group 4 and scaled to
  // the page's width.
  virtual void AddTiffFromFile(const std::u16string& file_name) = 0;
  // Completes the document and writes it.
  virtual void EndDoc() = 0;
};

}  // namespace brevis
