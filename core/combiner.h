// Combiner: the PDF document component as the combination uses it. One component serves every
// document of every download, one after the other, on one thread at a time; pages may be read
// and coded ahead, while the download still runs.
#pragma once

#include <string>
#include <vector>

namespace brevis {

// Every operation throws (any std::exception) when the document cannot be built or written.
class Combiner {
 public:
  virtual ~Combiner() = default;
  // Starts a new document, with its first page open, that EndDoc writes to `file_name`
  // (replacing an existing file), with `subject` as the document's Subject. No viewer is started
  // afterwards.
  virtual void BeginDoc(const std::u16string& file_name, const std::u16string& subject) = 0;
  // Appends a page and makes it the current one.
  virtual void AddPage() = 0;
  // Places the TIFF file's image on the current page, coded with CCITT Group 4 and scaled to
  // the page's width.
  virtual void AddTiffFromFile(const std::u16string& file_name) = 0;
  // Completes the document and writes it.
  virtual void EndDoc() = 0;

  // The page file `file_name` is in place and stays as it is until the combination that uses it:
  // the combiner may read and code it now, on the calling thread, so that AddTiffFromFile of the
  // same file only has to place it. Any thread may call it, several at once, also while nothing
  // else of this interface runs. Never throws: a failure is left for AddTiffFromFile to meet.
  virtual void PreparePage(const std::u16string& file_name) { (void)file_name; }
  // Forgets every page prepared and not used yet.
  virtual void DropPreparedPages() {}

  // Text recognition for the documents begun from now on: each page's text laid invisibly over
  // its picture, and a text file beside each PDF; on for `languages` ("chi_sim+eng"), off when
  // empty. Throws (OcrError) when a language's data is missing; the setting stays as it was.
  virtual void SetTextLanguages(const std::string& languages) { (void)languages; }
  // From now on, the text recognised in each page file is kept beside it (PageTextPath of
  // patent_paths.h) for a later run; with `reuse`, a page file whose kept text fits its bytes
  // and the languages takes that text instead of being recognised again. Off until called.
  virtual void KeepPageTexts(bool reuse) { (void)reuse; }
  // The page files of the next document, whose recognition may start now, on other threads.
  virtual void RecognisePages(const std::vector<std::u16string>& file_names) { (void)file_names; }
  // The page files of the last document written whose text could not be recognised, each with
  // why; the document and its text file were written without their text.
  struct UnreadPage {
    std::u16string FileName;
    std::string Cause;
  };
  virtual std::vector<UnreadPage> UnreadPages() const { return {}; }
};

}  // namespace brevis
