// PdfCombiner: Group 4 pages scaled to the page's width, and pages coded ahead on the threads
// that deliver them.
#include "core/pdf_combiner.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "common/text.h"
#include "core/patent_paths.h"

namespace brevis {

namespace {

constexpr PdfImageCompressionType kPageCompression = icCCITT42;
constexpr TiffPaintType kPagePaint = tptResizeImage;
constexpr int32_t kJpegQuality = 100;

// Size and modification time of `path`; false when the file cannot be examined.
bool FileIdentity(const std::filesystem::path& path, std::uintmax_t& size,
                  std::filesystem::file_time_type& written) {
  std::error_code error;
  size = std::filesystem::file_size(path, error);
  if (error) return false;
  written = std::filesystem::last_write_time(path, error);
  return !error;
}

}  // namespace

PdfCombiner::PdfCombiner(std::size_t maxPreparedPages, std::size_t maxPreparingPages,
                         PageReader readPage)
    : maxPreparedPages_(maxPreparedPages),
      maxPreparingPages_(std::max<std::size_t>(maxPreparingPages, 1)),
      readPage_(readPage ? std::move(readPage) : [](const std::string& path) {
        return PrepareTiff(path, kPageCompression, kJpegQuality);
      }) {
  pdf1_.SetAuthor("Tavish");
  pdf1_.SetTitle("Tavish Presented");
  pdf1_.SetKeywords(kKeywords);
  pdf1_.SetVersion(pdf14);
  pdf1_.SetPageLayout(plSinglePage);
  pdf1_.SetPageMode(pmUseNone);
  // Set, though empty, so the catalogue carries an empty ViewerPreferences dictionary.
  pdf1_.SetViewerPreferences({});
  pdf1_.SetJpegQuality(kJpegQuality);
  pdf1_.SetCompression(cmFlateDecode);
  pdf1_.SetKeepImageAspectRatio(false);
  pdf1_.SetResolution(72);
  pdf1_.SetImageCompressionType(icFlate);
}

void PdfCombiner::BeginDoc(const std::u16string& file_name, const std::u16string& subject) {
  pdfPath_ = Utf16ToUtf8(file_name);
  text_ = DocumentText();
  unread_.clear();
  pdf1_.SetFileName(pdfPath_);
  pdf1_.SetSubject(Utf16ToUtf8(subject));
  pdf1_.BeginDoc();
}

void PdfCombiner::AddPage() { pdf1_.AddPage(); }

void PdfCombiner::AddTiffFromFile(const std::u16string& file_name) {
  const std::string path = Utf16ToUtf8(file_name);
  PreparedPage page;
  bool found = false;
  {
    std::lock_guard<std::mutex> guard(preparedLock_);
    const auto it = prepared_.find(path);
    if (it != prepared_.end()) {
      page = std::move(it->second);
      prepared_.erase(it);
      found = true;
    }
  }
  std::uintmax_t size = 0;
  std::filesystem::file_time_type written;
  if (found && FileIdentity(path, size, written) && size == page.Size && written == page.Written) {
    pdf1_.AddPreparedTiff(std::move(page.Tiff), kPagePaint);
  } else {
    pdf1_.AddTiffFromFile(path, kPageCompression, kPagePaint);
  }
  if (!recognition_) return;
  const PageText text = recognition_->Take(path);
  LayPageText(pdf1_, text);
  text_.Add(path, text);
}

void PdfCombiner::EndDoc() {
  pdf1_.EndDoc();
  if (!recognition_) return;
  text_.WriteBeside(pdfPath_);
  for (const UnreadFile& page : text_.Unread()) {
    unread_.push_back(
        {Utf8ToUtf16(std::filesystem::path(page.File).filename().string()), page.Cause});
  }
}

void PdfCombiner::SetTextLanguages(const std::string& languages) {
  if (languages == languages_) return;
  recognition_ = languages.empty() ? nullptr : std::make_unique<PageRecognition>(languages);
  languages_ = languages;
  if (keepTexts_) KeepPageTexts(reuseTexts_);
}

void PdfCombiner::KeepPageTexts(bool reuse) {
  keepTexts_ = true;
  reuseTexts_ = reuse;
  if (recognition_) recognition_->SaveTexts(PageTextPath, reuse);
}

void PdfCombiner::RecognisePages(const std::vector<std::u16string>& file_names) {
  if (!recognition_) return;
  for (const std::u16string& file : file_names) recognition_->Submit(Utf16ToUtf8(file));
}

void PdfCombiner::PreparePage(const std::u16string& file_name) {
  const std::string path = Utf16ToUtf8(file_name);
  // Recognition runs on its own threads while this one codes the page and fetches the next.
  if (recognition_) recognition_->Submit(path);
  // A worker that finds the coders busy waits rather than leave its page to the combination:
  // more pages coded at once would not end sooner on two cores, while a page left out is coded
  // after the last download, by the combination's one thread. The wait lasts one page's coding,
  // a few tens of milliseconds for an A4 page.
  std::unique_lock<std::mutex> lock(preparedLock_);
  preparingEnded_.wait(lock, [this] { return preparing_ < maxPreparingPages_; });
  if (prepared_.size() + preparing_ >= maxPreparedPages_) return;
  ++preparing_;
  lock.unlock();

  PreparedPage page;
  bool read = false;
  // The identity is taken before reading: a file replaced meanwhile no longer matches it, and is
  // then read again when it is combined.
  if (FileIdentity(path, page.Size, page.Written)) {
    try {
      page.Tiff = readPage_(path);
      // A page that cannot be read whole is left to AddTiffFromFile, which reports its error.
      read = !page.Tiff.Error;
    } catch (...) {
    }
  }

  lock.lock();
  --preparing_;
  if (read) prepared_.insert_or_assign(path, std::move(page));
  lock.unlock();
  preparingEnded_.notify_one();
}

void PdfCombiner::DropPreparedPages() {
  {
    std::lock_guard<std::mutex> guard(preparedLock_);
    prepared_.clear();
  }
  if (recognition_) recognition_->Clear();
}

}  // namespace brevis
