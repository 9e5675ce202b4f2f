// PdfCombiner: Group 4 pages scaled to the page's width, and pages coded ahead on the threads
// that deliver them.
#include "app/core/pdf_combiner.h"

#include <system_error>
#include <utility>

#include "common/text.h"

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

PdfCombiner::PdfCombiner(std::size_t maxPreparedPages) : maxPreparedPages_(maxPreparedPages) {
  pdf1_.SetAutoLaunch(false);
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
  pdf1_.SetAutoLaunch(false);
  pdf1_.SetFileName(Utf16ToUtf8(file_name));
  pdf1_.SetSubject(Utf16ToUtf8(subject));
  pdf1_.BeginDoc(false);
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
    return;
  }
  pdf1_.AddTiffFromFile(path, kPageCompression, kPagePaint);
}

void PdfCombiner::EndDoc() { pdf1_.EndDoc(); }

void PdfCombiner::PreparePage(const std::u16string& file_name) {
  const std::string path = Utf16ToUtf8(file_name);
  {
    std::lock_guard<std::mutex> guard(preparedLock_);
    if (prepared_.size() >= maxPreparedPages_) return;
  }
  PreparedPage page;
  // The identity is taken before reading: a file replaced meanwhile no longer matches it, and is
  // then read again when it is combined.
  if (!FileIdentity(path, page.Size, page.Written)) return;
  try {
    page.Tiff = PrepareTiff(path, kPageCompression, kJpegQuality);
  } catch (...) {
    return;
  }
  // A page that cannot be read whole is left to AddTiffFromFile, which reports its error.
  if (page.Tiff.Error) return;
  std::lock_guard<std::mutex> guard(preparedLock_);
  prepared_.insert_or_assign(path, std::move(page));
}

void PdfCombiner::DropPreparedPages() {
  std::lock_guard<std::mutex> guard(preparedLock_);
  prepared_.clear();
}

}  // namespace brevis
